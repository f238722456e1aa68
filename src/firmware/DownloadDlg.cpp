#include "firmware/DownloadDlg.h"

#include <QKeyEvent>

CDownloadDlg::CDownloadDlg() = default;
CDownloadDlg::~CDownloadDlg() = default;

bool CDownloadDlg::Create(QWidget* parent)
{
    setParent(parent);
    return true;
}

void CDownloadDlg::Teardown() {}

void CDownloadDlg::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
        event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

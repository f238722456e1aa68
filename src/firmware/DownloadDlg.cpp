#include "firmware/DownloadDlg.h"

#include <QKeyEvent>

#include "app/DialogTemplate.h"

CDownloadDlg::CDownloadDlg() = default;
CDownloadDlg::~CDownloadDlg() = default;

bool CDownloadDlg::Create(QWidget* parent) {
    setParent(parent);
    return true;
}

void CDownloadDlg::Teardown() {}

void CDownloadDlg::keyPressEvent(QKeyEvent* event) {
    if (IsDialogCloseKey(event)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

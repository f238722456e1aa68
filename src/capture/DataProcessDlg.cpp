#include "capture/DataProcessDlg.h"

#include <QKeyEvent>

CDataProcessDlg::CDataProcessDlg() = default;
CDataProcessDlg::~CDataProcessDlg() = default;

void CDataProcessDlg::SetDevice(KVEL_RADAR_HANDLE device, RadarParamSet* params)
{
    m_device = device;
    m_params = params;
}

bool CDataProcessDlg::Create(QWidget* parent)
{
    setParent(parent);
    return true;
}

void CDataProcessDlg::StopRun() {}
void CDataProcessDlg::ResetSeries() {}
void CDataProcessDlg::SetScaleFactor(double scale) { m_scale = scale; }
void CDataProcessDlg::SetupCharts() {}
void CDataProcessDlg::Teardown() {}

void CDataProcessDlg::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
        event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

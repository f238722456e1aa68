#include "capture/DataProcessDlg.h"

#include <QKeyEvent>

#include "app/DialogTemplate.h"

CDataProcessDlg::CDataProcessDlg() = default;
CDataProcessDlg::~CDataProcessDlg() = default;

void CDataProcessDlg::SetDevice(KVEL_RADAR_HANDLE device, RadarParamSet* params) {
    m_device = device;
    m_params = params;
}

bool CDataProcessDlg::Create(QWidget* parent) {
    setParent(parent);
    return true;
}

void CDataProcessDlg::StopRun() {}
void CDataProcessDlg::ResetSeries() {}
void CDataProcessDlg::SetScaleFactor(double scale) { m_scale = scale; }
void CDataProcessDlg::SetupCharts() {}
void CDataProcessDlg::Teardown() {}

void CDataProcessDlg::keyPressEvent(QKeyEvent* event) {
    if (IsDialogCloseKey(event)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

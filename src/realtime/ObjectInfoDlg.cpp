#include "realtime/ObjectInfoDlg.h"

#include <algorithm>

#include <QKeyEvent>

#include "app/DialogTemplate.h"

CObjectInfoDlg::CObjectInfoDlg() = default;
CObjectInfoDlg::~CObjectInfoDlg() = default;

void CObjectInfoDlg::SetDevice(KVEL_RADAR_HANDLE device, RadarParamSet* params) {
    m_device = device;
    m_params = params;
}

bool CObjectInfoDlg::Create(QWidget* parent) {
    setParent(parent);
    return true;
}

void CObjectInfoDlg::StopAcquisition() {}

void CObjectInfoDlg::TakeNewThresholds(const RadarParamSet& params) {
    std::copy(std::begin(params.TriggerThreshold), std::end(params.TriggerThreshold),
              m_triggerThresholds);
    std::copy(std::begin(params.HoldThreshold), std::end(params.HoldThreshold), m_holdThresholds);
}

void CObjectInfoDlg::SetScaleFactor(double scale) { m_scale = scale; }
void CObjectInfoDlg::SetupCharts() {}
void CObjectInfoDlg::Teardown() {}

void CObjectInfoDlg::keyPressEvent(QKeyEvent* event) {
    if (IsDialogCloseKey(event)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

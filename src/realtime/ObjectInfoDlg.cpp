#include "realtime/ObjectInfoDlg.h"

#include <algorithm>

namespace {
constexpr int kDialogId = 3000;
}  // namespace

CObjectInfoDlg::CObjectInfoDlg() : CDialogPage(kDialogId) {}
CObjectInfoDlg::~CObjectInfoDlg() = default;

void CObjectInfoDlg::StopAcquisition() {}

void CObjectInfoDlg::TakeNewThresholds(const RadarParamSet& params) {
    std::copy(std::begin(params.TriggerThreshold), std::end(params.TriggerThreshold),
              m_triggerThresholds);
    std::copy(std::begin(params.HoldThreshold), std::end(params.HoldThreshold), m_holdThresholds);
}

void CObjectInfoDlg::SetScaleFactor(double scale) { m_scale = scale; }
void CObjectInfoDlg::SetupCharts() {}

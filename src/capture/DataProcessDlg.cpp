#include "capture/DataProcessDlg.h"

namespace {
constexpr int kDialogId = 4000;
}  // namespace

CDataProcessDlg::CDataProcessDlg() : CDialogPage(kDialogId) {}
CDataProcessDlg::~CDataProcessDlg() = default;

void CDataProcessDlg::StopRun() {}
void CDataProcessDlg::ResetSeries() {}
void CDataProcessDlg::SetScaleFactor(double scale) { m_scale = scale; }
void CDataProcessDlg::SetupCharts() {}

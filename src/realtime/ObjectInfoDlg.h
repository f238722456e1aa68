// The realtime page (template 3000): the module's live reports, the energy
// and distance charts and threshold calibration. For now the page's controls
// with the operations the main window calls; they are filled in with the page.
#pragma once

#include "params/RadarParam.h"
#include "ui/DialogPage.h"

class CObjectInfoDlg : public CDialogPage {
    Q_OBJECT
public:
    CObjectInfoDlg();
    ~CObjectInfoDlg() override;

    // Ends a running acquisition; returns when the reader has stopped.
    void StopAcquisition();
    // The thresholds just read from the module, for the energy chart.
    void TakeNewThresholds(const RadarParamSet& params);
    void SetScaleFactor(double scale);
    // Rebuilds the charts for the current scale factor.
    void SetupCharts();

    const double* TriggerThresholds() const { return m_triggerThresholds; }
    const double* HoldThresholds() const { return m_holdThresholds; }
    double ScaleFactor() const { return m_scale; }

protected:
    void StopWork() override { StopAcquisition(); }

private:
    double m_triggerThresholds[kRadarGateCount] = {};
    double m_holdThresholds[kRadarGateCount] = {};
    double m_scale = 1.0;
};

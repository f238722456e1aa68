// The realtime page (template 3000): the module's live reports, the energy
// and distance charts and threshold calibration. For now an empty page with
// the operations the main window calls; they are filled in with the page.
#pragma once

#include <QWidget>

#include "device/KVEL_DataProcess.h"
#include "params/RadarParam.h"

class CObjectInfoDlg : public QWidget {
    Q_OBJECT
public:
    CObjectInfoDlg();
    ~CObjectInfoDlg() override;

    // Given by the main window before Create; neither is owned.
    void SetDevice(KVEL_RADAR_HANDLE device, RadarParamSet* params);
    // Makes the page a child window of `parent`.
    bool Create(QWidget* parent);
    // Ends a running acquisition; returns when the reader has stopped.
    void StopAcquisition();
    // The thresholds just read from the module, for the energy chart.
    void TakeNewThresholds(const RadarParamSet& params);
    void SetScaleFactor(double scale);
    // Rebuilds the charts for the current scale factor.
    void SetupCharts();
    // The page's window goes: stops its work and saves its settings.
    void Teardown();

    const double* TriggerThresholds() const { return m_triggerThresholds; }
    const double* HoldThresholds() const { return m_holdThresholds; }
    double ScaleFactor() const { return m_scale; }

protected:
    void keyPressEvent(QKeyEvent* event) override;  // Enter and Escape do nothing

private:
    KVEL_RADAR_HANDLE m_device = nullptr;
    RadarParamSet* m_params = nullptr;
    double m_triggerThresholds[kRadarGateCount] = {};
    double m_holdThresholds[kRadarGateCount] = {};
    double m_scale = 1.0;
};

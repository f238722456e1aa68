// The capture/analysis page (template 4000): recording the report stream to
// radar data files and replaying them. For now an empty page with the
// operations the main window calls; they are filled in with the page.
#pragma once

#include <QWidget>

#include "device/KVEL_DataProcess.h"
#include "params/RadarParam.h"

class CDataProcessDlg : public QWidget {
    Q_OBJECT
public:
    CDataProcessDlg();
    ~CDataProcessDlg() override;

    // Given by the main window before Create; neither is owned.
    void SetDevice(KVEL_RADAR_HANDLE device, RadarParamSet* params);
    // Makes the page a child window of `parent`.
    bool Create(QWidget* parent);
    // Ends a running capture or replay; returns when the reader has stopped.
    void StopRun();
    // Forgets the series of the last run (a new module was connected).
    void ResetSeries();
    void SetScaleFactor(double scale);
    // Rebuilds the charts for the current scale factor.
    void SetupCharts();
    // The page's window goes: stops its work and saves its settings.
    void Teardown();

    double ScaleFactor() const { return m_scale; }

protected:
    void keyPressEvent(QKeyEvent* event) override;  // Enter and Escape do nothing

private:
    KVEL_RADAR_HANDLE m_device = nullptr;
    RadarParamSet* m_params = nullptr;
    double m_scale = 1.0;
};

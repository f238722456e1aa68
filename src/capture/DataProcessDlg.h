// The capture/analysis page (template 4000): recording the report stream to
// radar data files and replaying them. For now the page's controls with the
// operations the main window calls; they are filled in with the page.
#pragma once

#include "ui/DialogPage.h"

class CDataProcessDlg : public CDialogPage {
    Q_OBJECT
public:
    CDataProcessDlg();
    ~CDataProcessDlg() override;

    // Ends a running capture or replay; returns when the reader has stopped.
    void StopRun();
    // Forgets the series of the last run (a new module was connected).
    void ResetSeries();
    void SetScaleFactor(double scale);
    // Rebuilds the charts for the current scale factor.
    void SetupCharts();

    double ScaleFactor() const { return m_scale; }

protected:
    void StopWork() override { StopRun(); }

private:
    double m_scale = 1.0;
};

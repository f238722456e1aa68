// The realtime page (template 3000): what the module reports, live. A
// presence lamp, the target range as text, the energy of the 16 range gates
// against their trigger and hold thresholds, and the target distance over the
// last minute, shaded where a target was present.
//
// The reading itself is CRealtimeReader's; this window starts and stops it,
// feeds the charts from its worker through the charts' own locks and paced
// repaints, and shows the reader's state when a report event arrives.
#pragma once

#include <QString>
#include <QTimer>

#include <memory>

#include "charts/WaveWnd.h"
#include "connection/ParamWriteJob.h"
#include "connection/RadarSession.h"
#include "params/RadarParam.h"
#include "realtime/ObjectInfoSettings.h"
#include "realtime/RealtimeReader.h"
#include "realtime/SensingCollectorDlg.h"
#include "ui/DialogPage.h"
#include "ui/KeepAwake.h"

class CASkinButton;
class CColorStatic;

namespace object_info {
constexpr int kTemplateId = 3000;
constexpr int kIndicator = 3001;
constexpr int kRangeText = 3002;
constexpr int kStartButton = 3003;
constexpr int kCalcThresholdButton = 3004;
constexpr int kApplyThresholdButton = 3005;
constexpr int kEnergyChart = 3010;
constexpr int kDistanceChart = 3011;
// Chart contexts: which chart a listener call is about.
constexpr uint64_t kEnergyContext = 0;
constexpr uint64_t kDistanceContext = 1;
// The distance chart's notice key, drawn above the titles and legends.
constexpr uint64_t kNoDataNoticeKey = 6;
// Without a report for this long while reading, the distance chart says so.
constexpr int kNoDataTimeoutMs = 3000;
// A calibration averages this many reports.
constexpr int kCalibrationReports = CThresholdCalibration::kDefaultReports;
// The module rests this long after a threshold write before it reports again.
constexpr int kApplySettleMs = 1000;
}  // namespace object_info

class CObjectInfoDlg : public CDialogPage,
                       public IWaveWndDrawListener,
                       public IWaveWndTooltipListener,
                       public ISensingCollectorDlgListener,
                       private IRealtimeReportSink,
                       private ICalibrationObserver,
                       private IParamWriteObserver {
    Q_OBJECT
public:
    CObjectInfoDlg();
    ~CObjectInfoDlg() override;

    // Given by the main window before Create; not owned.
    void SetSession(CRadarSession* session) { m_session = session; }

    // Starts reading when the module is connected (else says it is not);
    // Stop ends it and returns once the worker has ended.
    void StartAcquisition();
    void StopAcquisition();
    bool IsRunning() const { return m_running; }
    // The Start/Pause button.
    void OnStartButton();

    // The thresholds just read from the module, for the energy chart.
    void TakeNewThresholds(const RadarParamSet& params);
    // A new connection, during its sequence: the set's thresholds are
    // taken and both charts start empty.
    void TakeConnectionThresholds();
    // The connection is made: a page on show starts reading as when it is
    // shown.
    void ResumeAfterConnect();
    // The line went away: reading has ended, the lamp and the range text
    // clear.
    void OnLineLost();
    void SetScaleFactor(double scale);
    // Lays both charts out for the current scale factor. The first time it
    // clears them; later (the main window rescales on every resize) the
    // samples stay, so the trace and its shading keep their minute.
    void SetupCharts();
    // The lamp and the target range text from the last report.
    void UpdateIndicatorAndText();

    // Threshold calibration: "Calc. Thres." starts a collection in the
    // threshold dialog, each report then advances it, OK takes its averages
    // as the page's thresholds and "Apply Thres." writes them to the module.
    void OnCalcThreshold();
    void OnApplyThreshold();
    bool IsApplyingThresholds() const { return m_applying; }
    // Returns once a threshold write under way has written and waited.
    void WaitForThresholdWrite() { m_applyJob.Wait(); }
    void OnSensingCollectorDlgOK(uint64_t userValue) override;
    CSensingCollectorDlg* CollectorDialog() const { return m_collectorDlg.get(); }

    const double* TriggerThresholds() const { return m_triggerThresholds; }
    const double* HoldThresholds() const { return m_holdThresholds; }
    double ScaleFactor() const { return m_scale; }
    const ObjectInfoSettings& Settings() const { return m_settings; }
    CRealtimeReader& Reader() { return m_reader; }
    CASkinButton* Indicator() const { return m_indicator; }
    CColorStatic* RangeText() const { return m_rangeText; }
    CWaveWnd* EnergyChart() const { return m_energyChart; }
    CWaveWnd* DistanceChart() const { return m_distanceChart; }
    bool IsNoDataNoticeShown() const { return m_noDataNoticeShown; }

    // Chart listeners (user-interface thread).
    void OnDrawBackground(const WaveDrawing& drawing) override;
    QString GetTooltipText(int slot, int samplePosition, int scrollOffset, int sampleCount,
                           double value, uint64_t context) override;

protected:
    QWidget* CreateControl(const DialogControl& control) override;
    void OnInitDialog() override;
    void StopWork() override;
    void SaveSettings() override;
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Worker thread: samples into the charts, one event to this window.
    void OnEnergySweep(const double* decibels, int count) override;
    void OnDistanceSample(double metres) override;
    void OnReportTaken() override;
    // Worker thread: one report taken by the calibration.
    void OnCalibrationStep(const CalibrationProgress& progress) override;
    // Write thread: "Apply Thres." has written and waited.
    void OnParamWriteDone(int result) override;

    void OnRealtimeReport();
    void RunCalibrationStep();
    void FinishApplyThresholds(int result);
    void ClearIndicatorAndText();
    void ShowPageThresholdsInCollector();
    void ReportApplyResult(int result);
    void OnShownWhileConnected();
    bool IsConnected() const;
    void SetButtonStates(bool running);
    void EnableButtons(bool enabled);
    void SetupEnergyChart(bool keepSamples);
    void SetupDistanceChart(bool keepSamples);
    void ListenTo(CWaveWnd& chart, uint64_t context);
    void RestartThresholdCurves();
    void ShowNoDataNotice(bool shown);
    void ShadePresence(QPainter& painter, const KRect& rect);
    void ShadeInactiveGates(QPainter& painter, const KRect& rect);
    // `value` times the scale factor, truncated.
    int Scaled(double value) const { return static_cast<int>(value * m_scale); }

    CRadarSession* m_session = nullptr;
    CRealtimeReader m_reader;
    CParamWriteJob m_applyJob;
    CKeepAwake m_keepAwake;
    QTimer m_noDataTimer;
    ObjectInfoSettings m_settings;
    double m_triggerThresholds[kRadarGateCount] = {};
    double m_holdThresholds[kRadarGateCount] = {};
    double m_scale = 1.0;
    bool m_running = false;
    bool m_chartsBuilt = false;
    bool m_noDataNoticeShown = false;
    // "Apply Thres." has started a write whose end is not handled yet.
    bool m_applying = false;
    std::unique_ptr<CSensingCollectorDlg> m_collectorDlg;

    CASkinButton* m_indicator = nullptr;
    CColorStatic* m_rangeText = nullptr;
    CWaveWnd* m_energyChart = nullptr;
    CWaveWnd* m_distanceChart = nullptr;
};

// The capture/analysis page (template 4000): records the module's reports
// for a set time (a noise scan) into a radar data file, or replays such a
// file, and charts the chosen gate's energy against its thresholds and the
// distance of the strongest gate above its threshold, over the scan's time.
//
// The run is CNoiseScan's (window-free, capture/NoiseScan.h); this window
// starts and stops it, feeds the charts from its worker under the series
// lock, and handles the run's end when the posted event arrives.
#pragma once

#include <QString>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "capture/NoiseScan.h"
#include "charts/WaveWnd.h"
#include "ui/DialogPage.h"
#include "ui/KeepAwake.h"

class CDigitalEdit;
class QComboBox;
class QLineEdit;
class QMenu;

namespace data_process {
constexpr int kTemplateId = 4000;
constexpr int kDurationField = 4003;
constexpr int kFolderField = 4004;
constexpr int kBrowseButton = 4005;
constexpr int kGateList = 4010;
constexpr int kCaptureButton = 4011;
constexpr int kLoadButton = 4012;
constexpr int kEnergyChart = 4020;
constexpr int kDistanceChart = 4021;
// Chart contexts (tooltips).
constexpr uint64_t kEnergyContext = 0;
constexpr uint64_t kDistanceContext = 1;
// The energy chart's run progress: elapsed and total seconds and the file.
constexpr uint64_t kProgressKey = 7;
constexpr int kProgressIntervalMs = 250;
// The longest a change within one pixel column of a running scan waits
// before the charts show it.
constexpr int kRepaintGapMs = 500;
// String table entries the page adds.
constexpr int kStrFileUnreadable = 10234;  // "Cannot open the file %s"
constexpr int kStrNoFileWritten = 10235;   // "... %s ... no file is being written"
constexpr int kStrProgress = 10236;        // "%.1f / %.1f s   %s"
constexpr int kStrNoFile = 10237;          // the progress's file name when none is written
constexpr int kStrExportCsv = 10238;       // the charts' menu item
constexpr int kStrExportFailed = 10239;    // "Failed to export the data to %s"
constexpr const char* kLoadFilter = "Download Files (*.dat)|*.dat|All Files (*.*)|*.*||";
constexpr const char* kCsvFilter = "CSV Files (*.csv)|*.csv|All Files (*.*)|*.*||";
}  // namespace data_process

// Section "DataProcess" of the settings.
struct DataProcessSettings {
    uint32_t energyBkColor;
    int32_t energyAutoScale;
    int32_t energyDisplayMax;  // dB
    int32_t energyLineWidth;
    uint32_t distanceBkColor;
    int32_t distanceLineWidth;
    int32_t scanSeconds;
    std::wstring saveFolder;  // empty: the data folder + "SaveData"
    DataProcessSettings();
};

class CDataProcessDlg : public CDialogPage,
                        public IWaveWndTooltipListener,
                        private ICaptureObserver {
    Q_OBJECT
public:
    CDataProcessDlg();
    ~CDataProcessDlg() override;

    // Given by the main window before Create; not owned.
    void SetSession(CRadarSession* session) { m_session = session; }

    // Starts a run in the load mode set last; StopRun ends a running
    // capture or replay and returns when the worker has stopped (also safe
    // when none runs).
    void StartRun();
    void StopRun();
    // Zeroes the series (sized for the scan duration) and shows them.
    void ResetSeries();
    void SetScaleFactor(double scale);
    // Lays both charts out for the current scale factor. The first time the
    // series are reset; later (the main window rescales on every resize)
    // the charts are refilled from the series, so a running scan keeps its
    // trace.
    void SetupCharts();

    // The buttons.
    void OnCaptureButton();
    void OnLoadButton();
    void OnBrowseButton();
    // "Export data as CSV…" of the charts' menu: both series to a file.
    void OnExportCsv();

    bool IsRunning() const { return m_running; }
    int ScanSeconds() const { return m_settings.scanSeconds; }
    int SelectedGate() const { return m_gate; }
    CaptureMode LoadMode() const { return m_mode; }
    const std::wstring& LoadPath() const { return m_loadPath; }
    const DataProcessSettings& Settings() const { return m_settings; }
    double ScaleFactor() const { return m_scale; }
    CNoiseScan& Scan() { return m_scan; }
    CWaveWnd* EnergyChart() const { return m_energyChart; }
    CWaveWnd* DistanceChart() const { return m_distanceChart; }
    CDigitalEdit* DurationField() const { return m_durationField; }
    QComboBox* GateList() const;
    QLineEdit* FolderField() const;

    QString GetTooltipText(int slot, int samplePosition, int scrollOffset, int sampleCount,
                           double value, uint64_t context) override;

protected:
    QWidget* CreateControl(const DialogControl& control) override;
    void OnInitDialog() override;
    void StopWork() override { StopRun(); }
    void SaveSettings() override;
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Worker thread (ICaptureObserver).
    void OnReportCounted(const CaptureSeries& series, int index, const double* gateDb) override;
    void OnRecordingFileFailed(const std::wstring& path) override;
    void OnRunEnded(int runId, CaptureRunEnd end) override;

    // User-interface thread: the posted events.
    void OnCaptureFinished(int runId, CaptureRunEnd end);
    void OnFileFailed(int runId, const QString& path);

    void OnDurationCommitted();
    void OnGateChanged(int index);
    bool IsConnected() const;
    // The session's parameter set (the defaults without a session).
    const RadarParamSet& Params() const;
    void SetControlStates(bool running);
    void LoadSettings();
    QString SaveFolderText() const;
    // Puts the series on the charts (under the series lock): the set-up's
    // sample range and count, then the series and threshold lines.
    void ShowSeries(const CaptureSeries& series);
    void SetupEnergyChart();
    void SetupDistanceChart();
    void SetAxes(CWaveWnd& chart);
    void UpdateProgress();
    KRect ProgressBox() const;
    bool RepaintDueAfter(int index, int count);
    void UpdateRepaintPacing();
    void ClearProgress();
    void ShowError(const QString& text);
    void AddExportItem(QMenu* menu);
    int Scaled(double value) const { return static_cast<int>(value * m_scale); }

    CNoiseScan m_scan;
    // Repaint pacing: the column width in reports is set on the
    // user-interface thread; the last column and time belong to the worker
    // (set before it starts).
    std::atomic<int> m_reportsPerColumn{1};
    int m_lastRepaintColumn = -1;
    std::chrono::steady_clock::time_point m_lastRepaintTime;
    CKeepAwake m_keepAwake;
    QTimer m_progressTimer;
    DataProcessSettings m_settings;
    CRadarSession* m_session = nullptr;
    int m_gate = 0;
    CaptureMode m_mode = CaptureMode::Record;
    std::wstring m_loadPath;  // chosen with "Load Data"; kept while the program runs
    double m_scale = 1.0;
    bool m_running = false;
    bool m_chartsBuilt = false;
    // The progress annotation belongs to a run since the last reset.
    bool m_progressShown = false;
    KRect m_progressBox;  // where the progress was put last
    // The run whose file failure has been told (once per run).
    int m_fileFailureToldFor = 0;

    CDigitalEdit* m_durationField = nullptr;
    CWaveWnd* m_energyChart = nullptr;
    CWaveWnd* m_distanceChart = nullptr;
};

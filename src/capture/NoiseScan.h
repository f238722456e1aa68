// A noise scan without its window: the capture worker "ReadData" that
// records the module's reports into a radar data file, or replays such a
// file, and turns each report into one sample of two series: the chosen
// gate's energy (dB) and the distance of the strongest gate above its
// trigger threshold (m). The capture page, radar-cli and the tests run it.
//
// The series are shared: the worker writes them, the user-interface thread
// zeroes them (a reset) and copies them. Both happen under one lock, and
// the observer's per-report call runs inside it, so whoever feeds the
// charts from there sees each report's samples whole and in order.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "capture/RadarDataFile.h"
#include "common/KVEL_Common.h"
#include "connection/RadarSession.h"
#include "device/RadarProtocol.h"
#include "params/RadarParam.h"
#include "realtime/ReportFrame.h"

namespace noise_scan {
constexpr int kMinSeconds = 10;
constexpr int kMaxSeconds = 36000;
constexpr int kDefaultSeconds = 20;
constexpr int kGateCount = radar_protocol::kGateCount;
constexpr int kThreadStackSize = 0x400000;
}  // namespace noise_scan

// Reports a scan of `seconds` records.
constexpr int ScanCapacity(int seconds) { return seconds * radar_protocol::kReportsPerSecond; }

// The distance of one report: that of the gate with the highest energy among
// the gates above their trigger thresholds, the lower gate winning a tie;
// 0.0 when none is above (or the strongest such energy is not above 0 dB).
double StrongestGateDistance(const double* gateDb, const double* triggerDb);

struct CaptureSeries {
    std::vector<double> energy;    // dB of the selected gate, one per report
    std::vector<double> distance;  // metres, one per report
    int Capacity() const { return static_cast<int>(energy.size()); }
};

// The series as text, as the page exports them and radar-cli prints them:
// index, time (s), energy (dB) and distance (m) of one report.
constexpr const char* kSeriesCsvHeader = "index,time_s,energy_dB,distance_m";
std::string SeriesLine(const CaptureSeries& series, int index, char separator = ',');

enum class CaptureMode { Record = 0, Replay = 1 };

enum class CaptureRunEnd {
    Finished,        // the scan's reports were all counted
    SourceEnded,     // end of the file, or the line to the module went away
    Stopped,         // Stop was asked for
    FileUnreadable,  // the file to replay could not be opened: nothing ran
};

struct CaptureRunRequest {
    CaptureMode mode = CaptureMode::Record;
    // Recording: the module's session. Replaying: asked for its frame size,
    // and its mode is restored afterwards when it is connected. May be null.
    CRadarSession* session = nullptr;
    std::wstring folder;     // recording: where the files go (created when missing)
    std::wstring file;       // replaying: the radar data file
    int gate = 0;            // the gate whose energy is charted
    RadarParamSet params;    // thresholds for the distance; the recording's side file
    RecordingOrigin origin;  // recording: version, serial and baud for the side file
};

class ICaptureObserver {
public:
    virtual ~ICaptureObserver() = default;
    // Worker thread, under the series lock, once per counted report: both
    // series now hold report `index`; `gateDb` are its 16 energies in dB.
    virtual void OnReportCounted(const CaptureSeries& series, int index, const double* gateDb) = 0;
    // Worker thread, at most once per run: the recording's data file could
    // not be created or written; the run goes on without it.
    virtual void OnRecordingFileFailed(const std::wstring& /*path*/) {}
    // Worker thread, the run's last call.
    virtual void OnRunEnded(int runId, CaptureRunEnd end) = 0;
};

class CNoiseScan : public IThreadFuncInterface, public IObjectReportListener {
public:
    explicit CNoiseScan(ICaptureObserver* observer);
    ~CNoiseScan() override;  // stops the worker

    // Sizes the series for a scan of `seconds` (reallocated only when the
    // size changes, which a running scan forbids: then only zeroed) and
    // zeroes them; then calls `show` with them, under the series lock. The
    // count stays.
    void ResetSeries(int seconds, const std::function<void(const CaptureSeries&)>& show = {});
    // Calls `show` with the series as they stand, under the series lock (a
    // page refilling its charts after a re-layout while a run goes).
    void ShowSeries(const std::function<void(const CaptureSeries&)>& show) const;

    // Starts a run; false when one is going or the series hold no report.
    // A recording's file name is made here (FilePath).
    bool Start(const CaptureRunRequest& request);
    // Returns once the worker has ended (a read in progress is waited out,
    // up to the device library's read time-out); at once when none runs.
    void Stop();
    bool IsRunning() const { return m_thread.IsRunning(); }

    // Reports counted in the current (or last) run.
    int Count() const { return m_count.load(); }
    int Capacity() const;
    // Counts Start calls, so that an end reported late is told from the
    // current run's.
    int RunId() const { return m_runId.load(); }
    CaptureMode Mode() const { return m_request.mode; }
    // The data file of the current or last run: written or replayed.
    const std::wstring& FilePath() const { return m_filePath; }
    bool RecordingFileFailed() const { return m_fileFailed.load(); }
    // Bytes read from the module or the file in the current (or last) run;
    // a recording's file holds exactly these when it could be written.
    uint64_t BytesRead() const { return m_bytesRead.load(); }
    CaptureSeries CopySeries() const;

    // Worker thread.
    int ThreadFunc(uint64_t param) override;
    void OnObjectReport(const uint8_t* payload) override;

private:
    CaptureRunEnd Record();
    CaptureRunEnd Replay();
    CaptureRunEnd ReadUntilDone(IByteSource* source, IChunkTap* tap);
    void ReportFileFailed();

    ICaptureObserver* m_observer;
    CBaseThread m_thread;
    std::atomic<int> m_stop{0};
    std::atomic<int> m_count{0};
    std::atomic<int> m_runId{0};
    std::atomic<bool> m_fileFailed{false};
    std::atomic<uint64_t> m_bytesRead{0};
    // Set by Start before the worker runs, read by it: not changed during a run.
    CaptureRunRequest m_request;
    std::wstring m_filePath;

    mutable std::mutex m_seriesLock;
    CaptureSeries m_series;
};

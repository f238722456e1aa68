// The realtime page's acquisition without its window: the worker "ReadData"
// that switches the module to report mode, runs the shared reading loop and
// switches back, and the state every report leaves behind for the window.
//
// The worker writes the state and the window reads it: integers are atomics,
// the arrays (gate energies, calibration candidates, presence history) sit
// behind one lock and leave it only as copies. Per report the worker hands
// the chart samples and one notice to a sink, which must not block: it
// stores samples and posts, nothing more.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "common/KVEL_Common.h"
#include "device/KVEL_DataProcess.h"
#include "device/RadarProtocol.h"
#include "realtime/ReportFrame.h"

class IRealtimeReportSink {
public:
    virtual ~IRealtimeReportSink() = default;
    // Each report: the gate energies in dB (the energy chart's curve), the
    // target distance in metres (the distance chart's newest sample), then
    // the notice that the report's state is in place. Worker thread.
    virtual void OnEnergySweep(const double* decibels, int count) = 0;
    virtual void OnDistanceSample(double metres) = 0;
    virtual void OnReportTaken() = 0;
};

class CRealtimeReader : public IThreadFuncInterface, public IObjectReportListener {
public:
    static constexpr int kGateCount = radar_protocol::kGateCount;
    // One entry per sample of the distance chart: a minute of reports.
    static constexpr int kHistoryLength = 571;
    static constexpr int kNoCalibration = -1;
    // The count stops here: the calibration has seen enough reports.
    static constexpr int kCalibrationCountLimit = 201;
    static constexpr double kCandidateCapDb = 90.0;
    static constexpr int kThreadStackSize = 0x400000;

    using GateValues = std::array<double, kGateCount>;
    using GateEnergies = std::array<uint32_t, kGateCount>;
    using History = std::array<uint8_t, kHistoryLength>;

    explicit CRealtimeReader(IRealtimeReportSink* sink);
    ~CRealtimeReader() override;  // stops the worker

    // Starts the worker on `device`; false when it could not start (one is
    // still running).
    bool Start(KVEL_RADAR_HANDLE device);
    // Returns once the worker has ended; at once when none runs. A read in
    // progress is waited out (up to the device library's read time-out).
    void Stop();
    bool IsRunning() const { return m_thread.IsRunning(); }

    // The last report; both 0 after ClearLastReport.
    int TargetState() const { return m_targetState.load(); }
    int TargetDistance() const { return m_targetDistance.load(); }
    GateEnergies GateEnergy() const;
    void ClearLastReport();

    // Calibration: candidates are computed while the count is >= 0.
    void SetCalibrationCount(int count) { m_calibrationCount.store(count); }
    int CalibrationCount() const { return m_calibrationCount.load(); }
    GateValues TriggerCandidates() const;
    GateValues HoldCandidates() const;
    void SetSensingScales(double trigger, double hold);

    // The states of the last kHistoryLength reports, oldest first.
    History PresenceHistory() const;
    void ClearPresenceHistory();
    // True once after each report (the shading's "history changed").
    bool TakeHistoryChanged() { return m_historyChanged.exchange(0) != 0; }
    bool HistoryChanged() const { return m_historyChanged.load() != 0; }

    // Worker thread.
    int ThreadFunc(uint64_t param) override;
    void OnObjectReport(const uint8_t* payload) override;

private:
    void ReadUntilStopped();
    void TakeCandidates(const ObjectReport& report);
    void CountCalibrationReport();

    IRealtimeReportSink* m_sink;
    CBaseThread m_thread;
    KVEL_RADAR_HANDLE m_device = nullptr;
    std::atomic<int> m_stop{0};

    std::atomic<int> m_targetState{0};
    std::atomic<int> m_targetDistance{0};
    std::atomic<int> m_calibrationCount{kNoCalibration};
    std::atomic<int> m_historyChanged{0};
    std::atomic<double> m_triggerSensingScale{5.0};
    std::atomic<double> m_holdSensingScale{3.5};

    mutable std::mutex m_arraysLock;  // guards the four arrays below
    GateEnergies m_gateEnergy{};
    GateValues m_triggerCandidate{};
    GateValues m_holdCandidate{};
    History m_presenceHistory{};
};

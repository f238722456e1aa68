// The realtime page's acquisition without its window: the worker "ReadData"
// that switches the module to report mode, runs the shared reading loop and
// switches back, and the state every report leaves behind for the window.
//
// The worker writes the state and the window reads it: integers are atomics,
// the arrays (gate energies, presence history) sit behind one lock and leave
// it only as copies. A threshold calibration, when one runs, takes each
// report on the worker. Per report the worker hands
// the chart samples and one notice to a sink, which must not block: it
// stores samples and posts, nothing more.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "common/KVEL_Common.h"
#include "connection/RadarSession.h"
#include "device/RadarProtocol.h"
#include "realtime/ReportFrame.h"
#include "realtime/ThresholdCalibration.h"

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
    static constexpr int kThreadStackSize = 0x400000;

    using GateEnergies = std::array<uint32_t, kGateCount>;
    using History = std::array<uint8_t, kHistoryLength>;

    explicit CRealtimeReader(IRealtimeReportSink* sink);
    ~CRealtimeReader() override;  // stops the worker

    // Starts the worker on the session's module; false when it could not
    // start (one is still running).
    bool Start(CRadarSession* session);
    // Returns once the worker has ended; at once when none runs. A read in
    // progress is waited out (up to the device library's read time-out).
    void Stop();
    bool IsRunning() const { return m_thread.IsRunning(); }

    // The last report; both 0 after ClearLastReport.
    int TargetState() const { return m_targetState.load(); }
    int TargetDistance() const { return m_targetDistance.load(); }
    GateEnergies GateEnergy() const;
    void ClearLastReport();

    // Takes every report while it runs.
    CThresholdCalibration& Calibration() { return m_calibration; }

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

    IRealtimeReportSink* m_sink;
    CBaseThread m_thread;
    CRadarSession* m_session = nullptr;
    std::atomic<int> m_stop{0};

    std::atomic<int> m_targetState{0};
    std::atomic<int> m_targetDistance{0};
    std::atomic<int> m_historyChanged{0};
    CThresholdCalibration m_calibration;

    mutable std::mutex m_arraysLock;  // guards the two arrays below
    GateEnergies m_gateEnergy{};
    History m_presenceHistory{};
};

#include "realtime/RealtimeReader.h"

#include <algorithm>
#include <cstring>

#include "device/Decibels.h"
#include "realtime/ReadingLoop.h"

namespace {

// Reads in frames of the module's size; a device that names none still
// gets a usable chunk.
constexpr int kFallbackChunkSize = 1024;

}  // namespace

CRealtimeReader::CRealtimeReader(IRealtimeReportSink* sink) : m_sink(sink) {}

CRealtimeReader::~CRealtimeReader() { Stop(); }

bool CRealtimeReader::Start(CRadarSession* session) {
    if (m_thread.IsRunning() || !session) return false;
    m_session = session;
    m_stop.store(0);
    return m_thread.StartThread("ReadData", this, 0, 0, kThreadStackSize, 0) != 0;
}

void CRealtimeReader::Stop() {
    m_stop.store(1);
    m_thread.StopThread();
}

CRealtimeReader::GateEnergies CRealtimeReader::GateEnergy() const {
    std::lock_guard lock(m_arraysLock);
    return m_gateEnergy;
}

void CRealtimeReader::ClearLastReport() {
    m_targetState.store(0);
    m_targetDistance.store(0);
    std::lock_guard lock(m_arraysLock);
    m_gateEnergy.fill(0);
}

CRealtimeReader::History CRealtimeReader::PresenceHistory() const {
    std::lock_guard lock(m_arraysLock);
    return m_presenceHistory;
}

void CRealtimeReader::ClearPresenceHistory() {
    std::lock_guard lock(m_arraysLock);
    m_presenceHistory.fill(0);
}

int CRealtimeReader::ThreadFunc(uint64_t) {
    m_session->StartReports();
    ReadUntilStopped();
    m_session->StopReports();
    return 0;
}

void CRealtimeReader::ReadUntilStopped() {
    const int frameSize = m_session->FrameSize();
    ModuleByteSource source(m_session);
    ReadingLoop loop(&source, this, &m_stop,
                     static_cast<size_t>(frameSize > 0 ? frameSize : kFallbackChunkSize));
    loop.Run();
}

void CRealtimeReader::OnObjectReport(const uint8_t* payload) {
    const ObjectReport report = DecodeObjectReport(payload);
    m_targetState.store(report.TargetState);
    m_targetDistance.store(report.TargetDistance);

    double decibels[kGateCount];
    for (int gate = 0; gate < kGateCount; ++gate)
        decibels[gate] = EnergyToDb(report.GateEnergy[gate]);
    {
        std::lock_guard lock(m_arraysLock);
        std::copy(std::begin(report.GateEnergy), std::end(report.GateEnergy), m_gateEnergy.begin());
        std::memmove(m_presenceHistory.data(), m_presenceHistory.data() + 1, kHistoryLength - 1);
        m_presenceHistory[kHistoryLength - 1] = report.TargetState;
    }
    m_historyChanged.store(1);
    m_calibration.OnReport(report);

    m_sink->OnEnergySweep(decibels, kGateCount);
    m_sink->OnDistanceSample(report.TargetDistance / 100.0);
    m_sink->OnReportTaken();
}

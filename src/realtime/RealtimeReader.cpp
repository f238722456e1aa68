#include "realtime/RealtimeReader.h"

#include <algorithm>
#include <cstring>

#include "device/CommandMode.h"
#include "device/Decibels.h"
#include "realtime/ReadingLoop.h"

namespace {

// Reads in frames of the module's size; a device that names none still
// gets a usable chunk.
constexpr int kFallbackChunkSize = 1024;

// A candidate in dB from energy scaled by the sensing scale; a scaled
// energy of 1 or less says nothing and keeps the previous candidate.
void UpdateCandidate(double* candidate, uint32_t raw, double scale) {
    const double scaled = static_cast<double>(raw) * scale;
    if (scaled > 1.0) *candidate = std::min(LinearToDb(scaled), CRealtimeReader::kCandidateCapDb);
}

}  // namespace

CRealtimeReader::CRealtimeReader(IRealtimeReportSink* sink) : m_sink(sink) {}

CRealtimeReader::~CRealtimeReader() { Stop(); }

bool CRealtimeReader::Start(KVEL_RADAR_HANDLE device) {
    if (m_thread.IsRunning()) return false;
    m_device = device;
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

CRealtimeReader::GateValues CRealtimeReader::TriggerCandidates() const {
    std::lock_guard lock(m_arraysLock);
    return m_triggerCandidate;
}

CRealtimeReader::GateValues CRealtimeReader::HoldCandidates() const {
    std::lock_guard lock(m_arraysLock);
    return m_holdCandidate;
}

void CRealtimeReader::SetSensingScales(double trigger, double hold) {
    m_triggerSensingScale.store(trigger);
    m_holdSensingScale.store(hold);
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
    InCommandMode(m_device,
                  [this] { return KVEL_Interface_RadarDevice_Protocol_SetABDMode(m_device); });
    ReadUntilStopped();
    InCommandMode(m_device, [this] {
        return KVEL_Interface_RadarDevice_Protocol_SetDataTransferMode(m_device);
    });
    return 0;
}

void CRealtimeReader::ReadUntilStopped() {
    const int frameSize = KVEL_Interface_RadarDevice_Protocol_GetWriteBufferMaxSize(m_device);
    ModuleByteSource source(m_device);
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
        if (m_calibrationCount.load() >= 0) TakeCandidates(report);
        std::memmove(m_presenceHistory.data(), m_presenceHistory.data() + 1, kHistoryLength - 1);
        m_presenceHistory[kHistoryLength - 1] = report.TargetState;
    }
    CountCalibrationReport();
    m_historyChanged.store(1);

    m_sink->OnEnergySweep(decibels, kGateCount);
    m_sink->OnDistanceSample(report.TargetDistance / 100.0);
    m_sink->OnReportTaken();
}

// Under the arrays' lock.
void CRealtimeReader::TakeCandidates(const ObjectReport& report) {
    const double triggerScale = m_triggerSensingScale.load();
    const double holdScale = m_holdSensingScale.load();
    for (int gate = 0; gate < kGateCount; ++gate) {
        UpdateCandidate(&m_triggerCandidate[gate], report.GateEnergy[gate], triggerScale);
        UpdateCandidate(&m_holdCandidate[gate], report.GateEnergy[gate], holdScale);
    }
}

// 0 to 200 count on, 201 is where it stops and -1 (no calibration) stays.
void CRealtimeReader::CountCalibrationReport() {
    int count = m_calibrationCount.load();
    while (count >= 0 && count < kCalibrationCountLimit &&
           !m_calibrationCount.compare_exchange_weak(count, count + 1)) {}
}

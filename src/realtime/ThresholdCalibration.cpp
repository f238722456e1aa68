#include "realtime/ThresholdCalibration.h"

#include <algorithm>

#include "device/Decibels.h"

namespace {

constexpr int kGateCount = radar_protocol::kGateCount;

void UpdateCandidate(double* candidate, uint32_t raw, double scale) {
    const double scaled = static_cast<double>(raw) * scale;
    if (scaled > 1.0)
        *candidate = std::min(LinearToDb(scaled), CThresholdCalibration::kCandidateCapDb);
}

}  // namespace

void CThresholdCalibration::SetObserver(ICalibrationObserver* observer) {
    std::lock_guard lock(m_lock);
    m_observer = observer;
}

void CThresholdCalibration::SetSensingScales(double trigger, double hold) {
    std::lock_guard lock(m_lock);
    m_triggerScale = trigger;
    m_holdScale = hold;
}

void CThresholdCalibration::Start(int reports) {
    std::lock_guard lock(m_lock);
    m_wanted = std::max(reports, 1);
    m_taken = 0;
    m_triggerAverages.StartCollection(kGateCount);
    m_holdAverages.StartCollection(kGateCount);
    m_running = true;
}

void CThresholdCalibration::Cancel() {
    std::lock_guard lock(m_lock);
    m_running = false;
}

bool CThresholdCalibration::IsRunning() const {
    std::lock_guard lock(m_lock);
    return m_running;
}

CalibrationProgress CThresholdCalibration::Progress() const {
    std::lock_guard lock(m_lock);
    return ProgressLocked();
}

CalibrationProgress CThresholdCalibration::ProgressLocked() const {
    CalibrationProgress progress;
    progress.taken = m_taken;
    progress.wanted = m_wanted;
    progress.percent = m_taken * 100 / m_wanted;
    progress.complete = m_taken >= m_wanted;
    for (int gate = 0; gate < kGateCount; ++gate) {
        progress.trigger[static_cast<size_t>(gate)] = m_triggerAverages.GetCurrentAvgValue(gate);
        progress.hold[static_cast<size_t>(gate)] = m_holdAverages.GetCurrentAvgValue(gate);
    }
    return progress;
}

void CThresholdCalibration::OnReport(const ObjectReport& report) {
    CalibrationProgress progress;
    ICalibrationObserver* observer = nullptr;
    {
        std::lock_guard lock(m_lock);
        if (!m_running) return;
        for (int gate = 0; gate < kGateCount; ++gate) {
            const size_t g = static_cast<size_t>(gate);
            UpdateCandidate(&m_triggerCandidate[g], report.GateEnergy[gate], m_triggerScale);
            UpdateCandidate(&m_holdCandidate[g], report.GateEnergy[gate], m_holdScale);
            m_triggerAverages.UpdateValue(gate, m_triggerCandidate[g]);
            m_holdAverages.UpdateValue(gate, m_holdCandidate[g]);
        }
        ++m_taken;
        if (m_taken >= m_wanted) m_running = false;
        progress = ProgressLocked();
        observer = m_observer;
    }
    // Outside the lock: the observer may read the progress again.
    if (observer) observer->OnCalibrationStep(progress);
}

#include "params/RadarParamModel.h"

#include <algorithm>
#include <cstring>

const RadarParamLimits& RadarParamLimitsAt(int index) {
    if (index == 0) return radar_param_limits::kGateMax;
    if (index == 1) return radar_param_limits::kAbsenceDelay;
    return radar_param_limits::kThreshold;
}

bool operator==(const RadarParamSet& a, const RadarParamSet& b) {
    // Bitwise, so that a threshold set to the same value is no change and
    // NaN read from a file is not a change on every comparison.
    return a.GateMax == b.GateMax && a.ObjectDisappearDelayTime == b.ObjectDisappearDelayTime &&
           std::memcmp(a.TriggerThreshold, b.TriggerThreshold, sizeof a.TriggerThreshold) == 0 &&
           std::memcmp(a.HoldThreshold, b.HoldThreshold, sizeof a.HoldThreshold) == 0;
}

void CRadarParamModel::Set(const RadarParamSet& values) {
    if (values == m_values) return;
    m_values = values;
    // A copy: a listener may add or remove listeners while it hears.
    const std::vector<IRadarParamListener*> listeners = m_listeners;
    for (IRadarParamListener* listener : listeners) listener->OnRadarParamsChanged();
}

void CRadarParamModel::SetThresholds(const double* trigger, const double* hold) {
    RadarParamSet values = m_values;
    std::copy(trigger, trigger + kRadarGateCount, values.TriggerThreshold);
    std::copy(hold, hold + kRadarGateCount, values.HoldThreshold);
    Set(values);
}

void CRadarParamModel::AddListener(IRadarParamListener* listener) {
    if (listener &&
        std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end())
        m_listeners.push_back(listener);
}

void CRadarParamModel::RemoveListener(IRadarParamListener* listener) {
    std::erase(m_listeners, listener);
}

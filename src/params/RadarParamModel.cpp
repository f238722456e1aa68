#include "params/RadarParamModel.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const RadarParamLimits& RadarParamLimitsAt(int index) {
    if (index == 0) return radar_param_limits::kGateMax;
    if (index == 1) return radar_param_limits::kAbsenceDelay;
    return radar_param_limits::kThreshold;
}

std::string RadarParamLimitsText(const RadarParamLimits& limits) {
    char text[96];
    if (limits.kind == RadarParamKind::ThresholdDb)
        std::snprintf(text, sizeof text, "%.2f to %.2f", limits.minimum, limits.maximum);
    else
        std::snprintf(text, sizeof text, "%.0f to %.0f", limits.minimum, limits.maximum);
    return text;
}

double RadarParamValueAt(const RadarParamSet& params, int index) {
    if (index == 0) return params.GateMax;
    if (index == 1) return params.ObjectDisappearDelayTime;
    const int gate = (index - 2) % kRadarGateCount;
    return index - 2 < kRadarGateCount ? params.TriggerThreshold[gate] : params.HoldThreshold[gate];
}

uint32_t RadarParamCellAt(const RadarParamSet& params, int index) {
    const double value = RadarParamValueAt(params, index);
    if (RadarParamLimitsAt(index).kind == RadarParamKind::ThresholdDb)
        return RadarThresholdFromDb(value);
    return static_cast<uint32_t>(static_cast<int32_t>(value));
}

bool ParseRadarParamValue(int index, const std::string& text, double* value, std::string* error) {
    const RadarParamLimits& limits = RadarParamLimitsAt(index);
    const bool integer = limits.kind != RadarParamKind::ThresholdDb;
    // Decimal only: "010" is ten, as a parameter file reads it, not octal.
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double parsed =
        integer ? static_cast<double>(std::strtoll(begin, &end, 10)) : std::strtod(begin, &end);
    const bool whole = !text.empty() && end != begin && *end == '\0' &&
                       !std::isspace(static_cast<unsigned char>(text[0]));
    if (!whole || !std::isfinite(parsed)) {
        *error = integer ? "not a whole decimal number" : "not a number of dB";
        return false;
    }
    if (errno == ERANGE || parsed < limits.minimum || parsed > limits.maximum) {
        *error = "outside its limits, " + RadarParamLimitsText(limits);
        return false;
    }
    *value = integer ? static_cast<double>(static_cast<int32_t>(
                           static_cast<uint32_t>(static_cast<int64_t>(parsed))))
                     : parsed;
    return true;
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

std::optional<RadarParamSet> CRadarParamModel::ModuleValues() const {
    std::lock_guard lock(m_moduleLock);
    return m_moduleValues;
}

void CRadarParamModel::SetModuleValues(const RadarParamSet& values) {
    std::lock_guard lock(m_moduleLock);
    m_moduleValues = values;
}

void CRadarParamModel::ForgetModuleValues() {
    std::lock_guard lock(m_moduleLock);
    m_moduleValues.reset();
}

bool CRadarParamModel::DiffersFromModule(int index) const {
    const std::optional<RadarParamSet> module = ModuleValues();
    return module && RadarParamCellAt(m_values, index) != RadarParamCellAt(*module, index);
}

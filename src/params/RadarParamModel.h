// The parameter set as the program shares it: the values, the limits and
// defaults every field obeys (one table for the parameter page, radar-cli
// and the files), what the module holds, and a notice to whoever shows the
// values when they change. Used on one thread (the user-interface thread in
// the window), but for the module's values, which a worker's write may note.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "params/RadarParam.h"

// How a parameter's value is written and what it may hold.
enum class RadarParamKind {
    UnsignedInteger,  // an unsigned 32-bit cell (the largest gate used)
    SignedInteger,    // a signed 32-bit cell (the absence delay)
    ThresholdDb,      // a threshold in dB
};

struct RadarParamLimits {
    RadarParamKind kind;
    double minimum;
    double maximum;
    double defaultValue;
};

namespace radar_param_limits {
constexpr RadarParamLimits kGateMax{RadarParamKind::UnsignedInteger, 0, kRadarGateCount - 1,
                                    kRadarDefaultGateMax};
// The delay's cell is 32 bits: the unsigned form files hold (4294967295
// for -1) is the same value.
constexpr RadarParamLimits kAbsenceDelay{RadarParamKind::SignedInteger, INT32_MIN, UINT32_MAX,
                                         kRadarDefaultAbsenceDelay};
constexpr RadarParamLimits kThreshold{RadarParamKind::ThresholdDb, 1.0, 90.0,
                                      kRadarDefaultThresholdDb};
}  // namespace radar_param_limits

// The limits of the parameter at position `index` in the module's order
// (RadarParamId, RadarParamFields): 0 the largest gate, 1 the absence delay,
// then the 32 thresholds.
const RadarParamLimits& RadarParamLimitsAt(int index);

// `text` read as the value of the parameter at `index`, as the parameter
// page's field takes it: a decimal number (a whole one for the integers),
// finite, inside the limits. False with the reason in *error, which names
// the limits when the number lies outside them. An integer comes back in
// its 32-bit cell's form (4294967295 gives -1 for the delay).
bool ParseRadarParamValue(int index, const std::string& text, double* value, std::string* error);
// The limits as text: "0 to 15", "1.00 to 90.00".
std::string RadarParamLimitsText(const RadarParamLimits& limits);

// The parameter at `index` (module order) in the set's own unit: the
// integers as they are, thresholds in dB.
double RadarParamValueAt(const RadarParamSet& params, int index);
// The parameter at `index` as the module's 32-bit cell would hold it once
// written: thresholds as linear power, so that 30 and 30.001 dB, which the
// module cannot tell apart, are the same value.
uint32_t RadarParamCellAt(const RadarParamSet& params, int index);

class IRadarParamListener {
public:
    virtual ~IRadarParamListener() = default;
    // The values changed; Values() holds the new ones.
    virtual void OnRadarParamsChanged() = 0;
};

class CRadarParamModel {
public:
    const RadarParamSet& Values() const { return m_values; }
    // Takes `values`; the listeners hear of it when anything differs.
    void Set(const RadarParamSet& values);
    // The 16 trigger and 16 hold thresholds, the rest kept.
    void SetThresholds(const double* trigger, const double* hold);

    // Listeners are not owned; one that goes removes itself first.
    void AddListener(IRadarParamListener* listener);
    void RemoveListener(IRadarParamListener* listener);

    // What the module holds as far as the program knows: the values last
    // read from it or taken by it; none before the first exchange with the
    // module on the line. Safe from any thread (a write may run on a
    // worker). Listeners do not hear of it: whoever shows the differences
    // looks again after an exchange and whenever it is shown.
    std::optional<RadarParamSet> ModuleValues() const;
    void SetModuleValues(const RadarParamSet& values);
    void ForgetModuleValues();
    // Whether writing the set would change the parameter at `index` in the
    // module; false while the module's values are unknown.
    bool DiffersFromModule(int index) const;

private:
    RadarParamSet m_values;
    std::vector<IRadarParamListener*> m_listeners;
    mutable std::mutex m_moduleLock;
    std::optional<RadarParamSet> m_moduleValues;
};

bool operator==(const RadarParamSet& a, const RadarParamSet& b);

// What the parameter page needs of the module session, which implements it
// (connection/RadarSession.h): the shared set and its exchanges with the
// module. Results as ReadRadarParams and WriteRadarParams.
class IRadarParamSession {
public:
    virtual CRadarParamModel& Params() = 0;
    // A successful read replaces the set.
    virtual int ReadParams() = 0;
    virtual int WriteParams() = 0;

protected:
    ~IRadarParamSession() = default;
};

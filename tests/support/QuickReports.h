// Emulator options for tests that count reports rather than seconds: the
// module's reports (and the steps of its scene) come every few milliseconds
// instead of ten a second, so a case that needs a hundred reports does not
// wait ten seconds for them. Tests of what the real rate means (seconds
// worked out from report counts, time-outs while reports flow) keep the
// default period.
#pragma once

#include <chrono>

#include "emulator/ModuleEmulator.h"

namespace test_support {

constexpr std::chrono::milliseconds kQuickReportPeriod{10};

inline emulator::Options QuickReports(emulator::Options options = {}) {
    options.reportPeriod = kQuickReportPeriod;
    return options;
}

}  // namespace test_support

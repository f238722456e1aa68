// The one conversion from the module's linear energy and threshold values to
// the decibels every page, chart and file shows.
#pragma once

#include <cmath>
#include <cstdint>

// 10 * log10(raw) for raw > 1, else 0.0 (0 and 1 both mean "nothing").
inline double EnergyToDb(uint32_t raw) {
    return raw > 1 ? 10.0 * std::log10(static_cast<double>(raw)) : 0.0;
}

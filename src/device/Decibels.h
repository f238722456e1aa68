// The one conversion from the module's linear energy and threshold values to
// the decibels every page, chart and file shows.
#pragma once

#include <cmath>
#include <cstdint>

// 10 * log10(linear) for linear > 1, else 0.0 (0 and 1 both mean "nothing").
inline double LinearToDb(double linear) { return linear > 1.0 ? 10.0 * std::log10(linear) : 0.0; }
inline double EnergyToDb(uint32_t raw) { return LinearToDb(static_cast<double>(raw)); }

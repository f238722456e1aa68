// How the realtime and capture pages dress their charts alike: the energy
// chart's three curves (a gate's energy, its trigger and its hold
// threshold) with their legend, and the distance chart's range.
#pragma once

#include <cstdint>

namespace page_chart {

// The axis bands (0x00RRGGBB, as the chart takes it).
constexpr uint32_t kMarginPixel = 0x2A323C;
constexpr uint32_t kWhite = 0xFFFFFFFF;
// Curve colours as colour values (red in the low byte).
constexpr uint32_t kEnergyColor = 0x00FF00;
constexpr uint32_t kTriggerColor = 0x0000FF;
constexpr uint32_t kHoldColor = 0x00FFFF;
// The legend's texts in the curves' colours, as ARGB.
constexpr uint32_t kLegendColors[] = {0xFF00FF00, 0xFFFF0000, 0xFFFFFF00};
constexpr int kEnergyCurves = 3;
constexpr int kTriggerSlot = 1;
constexpr int kHoldSlot = 2;
// 16 gates of 0.7 m.
constexpr double kDistanceMaxMetres = 11.2;

}  // namespace page_chart

// How the realtime and capture pages dress their charts alike: the energy
// chart's three curves (a gate's energy, its trigger and its hold
// threshold) with their legend, titles and axis bands, and the distance
// chart's fixed range of 16 gates. Sizes are multiplied by the page's scale
// factor and truncated.
#pragma once

#include <cstdint>

class CWaveWnd;

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
// Annotation keys of the titles and of the legend's first line.
constexpr int kTitleKey = 0;
constexpr int kValueAxisNameKey = 1;
constexpr int kSampleAxisNameKey = 2;
constexpr int kLegendKey = 3;
// 16 gates of 0.7 m.
constexpr double kDistanceMaxMetres = 11.2;

// Curve `slot` drawn in `color`.
void SetSlotCurve(CWaveWnd& chart, int slot, uint32_t color);
// The energy, trigger and hold curves in their colours.
void SetEnergyCurves(CWaveWnd& chart);
// No samples, and no frames counted.
void ForgetSamples(CWaveWnd& chart);
// The title (centred at the top), the value axis name (top left) and the
// sample axis name (bottom right, above the curves): three consecutive strings.
void SetChartTitles(CWaveWnd& chart, int firstTextId, double scale);
// The left and bottom axis bands and both axis fonts.
void SetAxisBands(CWaveWnd& chart, double scale);
// Seven labels on the sample axes, five on the value axes.
void SetLabelCounts(CWaveWnd& chart);
// The three curves' names in their colours, right-aligned below the top of
// the plot as Initialize laid it out.
void SetEnergyLegend(CWaveWnd& chart, int firstTextId, double scale);
// The value axes fixed at 0 to kDistanceMaxMetres, whatever the view.
void FixDistanceRange(CWaveWnd& chart);

}  // namespace page_chart

#include "charts/PageCharts.h"

#include "charts/WaveWnd.h"
#include "ui/Strings.h"

namespace page_chart {
namespace {

int Scaled(double value, double scale) { return static_cast<int>(value * scale); }

}  // namespace

void SetSlotCurve(CWaveWnd& chart, int slot, uint32_t color) {
    chart.SetWaveEnabled(slot, true);
    chart.SetWaveColor(slot, color);
}

void SetEnergyCurves(CWaveWnd& chart) {
    chart.SetWaveCount(kEnergyCurves);
    SetSlotCurve(chart, 0, kEnergyColor);
    SetSlotCurve(chart, kTriggerSlot, kTriggerColor);
    SetSlotCurve(chart, kHoldSlot, kHoldColor);
}

void ForgetSamples(CWaveWnd& chart) {
    chart.ClearWaves();
    chart.ResetTotalFrames();
}

void SetChartTitles(CWaveWnd& chart, int firstTextId, double scale) {
    chart.SetText(kTitleKey, LoadStringW(firstTextId), Scaled(15, scale), kWhite, 1, 0);
    chart.SetText(kValueAxisNameKey, LoadStringW(firstTextId + 1), Scaled(10, scale), kWhite, 0, 0);
    chart.SetText(kSampleAxisNameKey, LoadStringW(firstTextId + 2), Scaled(10, scale), kWhite, 2,
                  2);
    // The trace runs along the bottom at the right end as often as not.
    chart.SetTextAboveCurves(kSampleAxisNameKey, true);
}

void SetAxisBands(CWaveWnd& chart, double scale) {
    chart.SetAxisBand(kAxisLeft, true, Scaled(50, scale));
    chart.SetAxisBand(kAxisBottom, true, Scaled(24, scale));
    chart.SetSampleAxisFontSize(Scaled(8, scale));
    chart.SetValueAxisFontSize(Scaled(8, scale));
}

void SetLabelCounts(CWaveWnd& chart) {
    chart.SetAxisLabelCount(kAxisTop, 7);
    chart.SetAxisLabelCount(kAxisBottom, 7);
    chart.SetAxisLabelCount(kAxisLeft, 5);
    chart.SetAxisLabelCount(kAxisRight, 5);
}

void SetEnergyLegend(CWaveWnd& chart, int firstTextId, double scale) {
    KRect box = chart.PlotRect();
    box.top += Scaled(10, scale);
    for (int i = 0; i < kEnergyCurves; ++i) {
        chart.SetText(kLegendKey + i, LoadStringW(firstTextId + i), Scaled(10, scale),
                      kLegendColors[i], 2, 0, &box);
        box.top += Scaled(20, scale);
    }
}

void FixDistanceRange(CWaveWnd& chart) {
    chart.FixValueAxes(0, kDistanceMaxMetres);
    chart.SetAxisWrap(kAxisLeft, 0, kDistanceMaxMetres, -1);
}

}  // namespace page_chart

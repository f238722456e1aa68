#include "charts/PageCharts.h"

#include "charts/WaveWnd.h"
#include "ui/Strings.h"

namespace page_chart {
namespace {

int Scaled(double value, double scale) { return static_cast<int>(value * scale); }

}  // namespace

void SetSlotCurve(CWaveWnd& chart, int slot, uint32_t color) {
    WaveLine& line = chart.m_waves[static_cast<size_t>(slot)];
    line.bEnabled = true;
    line.crColor = color;
}

void SetEnergyCurves(CWaveWnd& chart) {
    chart.m_nWaveCount = kEnergyCurves;
    SetSlotCurve(chart, 0, kEnergyColor);
    SetSlotCurve(chart, kTriggerSlot, kTriggerColor);
    SetSlotCurve(chart, kHoldSlot, kHoldColor);
}

void ForgetSamples(CWaveWnd& chart) {
    chart.ClearWaves();
    for (WaveLine& line : chart.m_waves) line.buffer.m_nTotalFrames = 0;
}

void SetChartTitles(CWaveWnd& chart, int firstTextId, double scale) {
    chart.SetText(0, LoadStringW(firstTextId), Scaled(15, scale), kWhite, 1, 0);
    chart.SetText(1, LoadStringW(firstTextId + 1), Scaled(10, scale), kWhite, 0, 0);
    chart.SetText(2, LoadStringW(firstTextId + 2), Scaled(10, scale), kWhite, 2, 2);
}

void SetAxisBands(CWaveWnd& chart, double scale) {
    WaveAxis& left = chart.m_axes[kAxisLeft];
    left.bVisible = true;
    left.nSize = Scaled(50, scale);
    left.bRedraw = true;
    WaveAxis& bottom = chart.m_axes[kAxisBottom];
    bottom.bVisible = true;
    bottom.nSize = Scaled(24, scale);
    bottom.bRedraw = true;
    chart.SetSampleAxisFontSize(Scaled(8, scale));
    chart.SetValueAxisFontSize(Scaled(8, scale));
}

void SetLabelCounts(CWaveWnd& chart) {
    chart.m_axes[kAxisTop].coordinate.m_nLabelCount = 7;
    chart.m_axes[kAxisBottom].coordinate.m_nLabelCount = 7;
    chart.m_axes[kAxisLeft].coordinate.m_nLabelCount = 5;
    chart.m_axes[kAxisRight].coordinate.m_nLabelCount = 5;
    for (WaveAxis& axis : chart.m_axes) axis.bRedraw = true;
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
    chart.m_bRangeToAxes = false;
    chart.m_dHomeMin = 0;
    chart.m_dHomeMax = kDistanceMaxMetres;
    for (int axis : {kAxisLeft, kAxisRight}) {
        chart.m_axes[axis].coordinate.m_dMin = 0;
        chart.m_axes[axis].coordinate.m_dMax = kDistanceMaxMetres;
        chart.m_axes[axis].bRedraw = true;
    }
    CCoordinate& left = chart.m_axes[kAxisLeft].coordinate;
    left.m_dWrapLow = 0;
    left.m_dWrapHigh = kDistanceMaxMetres;
    left.m_dWrapPeriod = -1;
}

}  // namespace page_chart

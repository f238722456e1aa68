// Figures of the charts at the capture page's size: 360 000 samples a frame.
//   AppendFrame           one frame appended to a curve
//   ReviseFrame/frames    one frame appended as a revision of the one before
//                         (one sample changed), with 2 and 9 frames kept
//   BuildPointsWithBand   the polyline and min-max band of a frame over 1 000 columns
//   PaintChart            a full paint of a 1 600 x 400 chart with 3 such curves
//   PaintCaptureChart     the same with the capture page's curves: one such
//                         series and two flat threshold lines, given as frames
//                         of equal samples (samples) or as level lines (levels)
//   ChartMemory           heap held by that chart at zoom 1 and at the smallest
//                         zoom (counters, in MB)
//   RevisedChartMemory    the same after each curve received 360 000 revisions
//   CaptureChartMemory    the same for the capture page's curves (as above)
// Runs without a display (offscreen) unless QT_QPA_PLATFORM says otherwise.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QWheelEvent>

#include <malloc.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "charts/WaveWnd.h"

namespace {

constexpr int kFrame = 360000;

const std::vector<double>& Series(int seed) {
    static std::vector<double> series[3];
    std::vector<double>& s = series[seed % 3];
    if (s.empty()) {
        std::mt19937 random(static_cast<unsigned>(seed));
        std::normal_distribution<double> noise(0.0, 3.0);
        s.resize(kFrame);
        for (int i = 0; i < kFrame; ++i)
            s[static_cast<size_t>(i)] = 20.0 + 8.0 * std::sin(i / 5000.0 + seed) + noise(random);
        s[kFrame / 3] = 90.0;
    }
    return s;
}

double HeapMegabytes() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

void AppendFrame(benchmark::State& state) {
    CWaveBuffer buffer;
    buffer.SetFrameLength(kFrame);
    buffer.CreateStorage();
    const std::vector<double>& frame = Series(0);
    for (auto _ : state) buffer.Append(frame.data(), kFrame);
    state.SetItemsProcessed(state.iterations() * kFrame);
    state.SetBytesProcessed(state.iterations() * kFrame * static_cast<int64_t>(sizeof(double)));
}
BENCHMARK(AppendFrame)->Unit(benchmark::kMicrosecond);

void ReviseFrame(benchmark::State& state) {
    CWaveBuffer buffer;
    buffer.SetFrameLength(kFrame);
    buffer.SetFrameCount(static_cast<int>(state.range(0)));
    buffer.SetWholeFrames(true);
    buffer.CreateStorage();
    std::vector<double> series = Series(0);
    buffer.Append(series.data(), kFrame);
    int position = 0;
    for (auto _ : state) {
        series[static_cast<size_t>(position)] += 1.0;
        buffer.AppendRevisedFrame(series.data(), kFrame, position);
        position = (position + 1) % kFrame;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["MB_held"] = static_cast<double>(buffer.AllocatedBytes()) / (1024.0 * 1024.0);
}
BENCHMARK(ReviseFrame)->Arg(2)->Arg(9)->Unit(benchmark::kNanosecond);

void BuildPointsWithBand(benchmark::State& state) {
    CWaveBuffer buffer;
    buffer.SetFrameLength(kFrame);
    buffer.CreateStorage();
    buffer.Append(Series(0).data(), kFrame);
    const KRect plot{50, 0, 1050, 300};
    std::vector<WavePoint> points;
    std::vector<WaveColumn> band;
    for (auto _ : state) {
        points.clear();
        double low = 0, high = 0;
        buffer.BuildPoints(plot, 0, 100, 0, 1.0, points, &low, &high, &band);
        benchmark::DoNotOptimize(band.data());
    }
    state.SetItemsProcessed(state.iterations() * kFrame);
}
BENCHMARK(BuildPointsWithBand)->Unit(benchmark::kMicrosecond);

// What slots 1 and 2 of the capture chart hold besides the series in slot 0.
enum class Curves {
    kThreeSeries,       // two more series
    kThresholdSamples,  // a frame of equal samples each
    kThresholdLevels,   // a level line each
};

void FeedCurves(CWaveWnd& chart, Curves curves) {
    chart.Append(0, Series(0).data(), kFrame);
    for (int slot = 1; slot < 3; ++slot) {
        const double threshold = slot == 1 ? 45.0 : 35.0;
        if (curves == Curves::kThreeSeries)
            chart.Append(slot, Series(slot).data(), kFrame);
        else if (curves == Curves::kThresholdSamples)
            chart.Append(slot, std::vector<double>(kFrame, threshold).data(), kFrame);
        else
            chart.SetLevelLine(slot, threshold);
    }
}

// A capture chart as the page sets it up, shown off-screen.
std::unique_ptr<CWaveWnd> CaptureChart(Curves curves = Curves::kThreeSeries) {
    auto chart = std::make_unique<CWaveWnd>();
    chart->resize(1600, 400);
    chart->SetWaveCount(3);
    chart->SetLineWidth(5);
    chart->SetAxisBand(kAxisLeft, true, 50);
    chart->SetAxisBand(kAxisBottom, true, 24);
    chart->CreateWaveStorage();
    chart->SetValueRange(0, 100);
    chart->SetSampleCount(kFrame);
    chart->SetWholeFrames(true);
    chart->SetSampleRange(0, kFrame / 10, -1);
    chart->SetText(0, QStringLiteral("Energy Information"), 15, 0xFFFFFFFF, 1, 0);
    chart->Initialize();
    FeedCurves(*chart, curves);
    chart->show();
    while (!chart->isVisible()) QApplication::processEvents();
    QApplication::processEvents();
    return chart;
}

void PaintChart(benchmark::State& state) {
    std::unique_ptr<CWaveWnd> chart = CaptureChart();
    for (auto _ : state) chart->repaint();
}
BENCHMARK(PaintChart)->Unit(benchmark::kMillisecond);

void PaintCaptureChart(benchmark::State& state) {
    const bool levels = state.range(0) != 0;
    std::unique_ptr<CWaveWnd> chart =
        CaptureChart(levels ? Curves::kThresholdLevels : Curves::kThresholdSamples);
    state.SetLabel(levels ? "levels" : "samples");
    for (auto _ : state) chart->repaint();
}
BENCHMARK(PaintCaptureChart)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Heap held by the capture chart, with its curves fed by `feed`, at zoom 1
// and once zoomed out as far as it goes.
void MeasureChartMemory(benchmark::State& state, void (*feed)(CWaveWnd&),
                        Curves curves = Curves::kThreeSeries) {
    // The bench's own series are made before the baseline: they are not the chart's.
    for (int slot = 0; slot < 3; ++slot) Series(slot);
    for (auto _ : state) {
        const double before = HeapMegabytes();
        std::unique_ptr<CWaveWnd> chart = CaptureChart(curves);
        feed(*chart);
        chart->repaint();
        state.counters["MB_zoom_1"] = HeapMegabytes() - before;
        chart->SetMouseSwitches({.sampleZoom = true});
        const QPointF at(800, 200);
        for (int i = 0; i < 20; ++i) {
            QWheelEvent wheel(at, chart->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                              Qt::ControlModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(chart.get(), &wheel);
        }
        chart->repaint();
        state.counters["smallest_zoom"] = chart->Zoom();
        state.counters["MB_smallest_zoom"] = HeapMegabytes() - before;
    }
}

void ChartMemory(benchmark::State& state) {
    MeasureChartMemory(state, [](CWaveWnd&) {});
}
BENCHMARK(ChartMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

// As a capture page feeds its curves: one sample changed after every report.
void ReviseEveryCurve(CWaveWnd& chart) {
    for (int slot = 0; slot < 3; ++slot) {
        std::vector<double> series = Series(slot);
        for (int position = 0; position < kFrame; ++position) {
            series[static_cast<size_t>(position)] += 1.0;
            chart.AppendRevisedFrame(slot, series.data(), kFrame, position);
        }
    }
}

void RevisedChartMemory(benchmark::State& state) { MeasureChartMemory(state, ReviseEveryCurve); }
BENCHMARK(RevisedChartMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

void CaptureChartMemory(benchmark::State& state) {
    const bool levels = state.range(0) != 0;
    state.SetLabel(levels ? "levels" : "samples");
    MeasureChartMemory(
        state, [](CWaveWnd&) {}, levels ? Curves::kThresholdLevels : Curves::kThresholdSamples);
}
BENCHMARK(CaptureChartMemory)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

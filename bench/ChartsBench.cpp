// Figures of the charts at the capture page's size: 360 000 samples a frame.
//   AppendFrame           one frame appended to a curve
//   ReviseFrame/frames    one frame appended as a revision of the one before
//                         (one sample changed), with 2 and 9 frames kept
//   BuildPointsWithBand   the polyline and min-max band of a frame over 1 000 columns
//   PaintChart            a full paint of a 1 600 x 400 chart with 3 such curves
//   ChartMemory           heap held by that chart at zoom 1 and at the smallest
//                         zoom (counters, in MB)
//   RevisedChartMemory    the same after each curve received 360 000 revisions
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

// A capture chart as the page sets it up, shown off-screen.
std::unique_ptr<CWaveWnd> CaptureChart() {
    auto chart = std::make_unique<CWaveWnd>();
    chart->resize(1600, 400);
    chart->m_nWaveCount = 3;
    chart->m_nLineWidth = 5;
    chart->m_axes[kAxisLeft].bVisible = chart->m_axes[kAxisBottom].bVisible = true;
    chart->m_axes[kAxisLeft].nSize = 50;
    chart->m_axes[kAxisBottom].nSize = 24;
    chart->CreateWaveStorage();
    chart->SetValueRange(0, 100);
    chart->SetSampleCount(kFrame);
    chart->SetWholeFrames(true);
    chart->SetSampleRange(0, kFrame / 10, -1);
    chart->SetText(0, QStringLiteral("Energy Information"), 15, 0xFFFFFFFF, 1, 0);
    chart->Initialize();
    for (int slot = 0; slot < 3; ++slot)
        chart->m_waves[static_cast<size_t>(slot)].buffer.Append(Series(slot).data(), kFrame);
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

// Heap held by the capture chart, with its curves fed by `feed`, at zoom 1
// and once zoomed out as far as it goes.
void MeasureChartMemory(benchmark::State& state, void (*feed)(CWaveWnd&)) {
    // The bench's own series are made before the baseline: they are not the chart's.
    for (int slot = 0; slot < 3; ++slot) Series(slot);
    for (auto _ : state) {
        const double before = HeapMegabytes();
        std::unique_ptr<CWaveWnd> chart = CaptureChart();
        feed(*chart);
        chart->repaint();
        state.counters["MB_zoom_1"] = HeapMegabytes() - before;
        chart->m_bSampleZoom = true;
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
        CWaveBuffer& buffer = chart.m_waves[static_cast<size_t>(slot)].buffer;
        for (int position = 0; position < kFrame; ++position) {
            series[static_cast<size_t>(position)] += 1.0;
            buffer.AppendRevisedFrame(series.data(), kFrame, position);
        }
    }
}

void RevisedChartMemory(benchmark::State& state) { MeasureChartMemory(state, ReviseEveryCurve); }
BENCHMARK(RevisedChartMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

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

// chart-gallery: renders charts set up as the realtime and capture pages set
// them up, with made-up data, to PNG files (default docs/screenshots/):
//   realtime-energy.png, realtime-energy-zh.png  energy of 16 gates against thresholds
//   realtime-distance.png                         distance over the last minute
//   capture-energy.png, capture-energy-zoomed.png, capture-energy-spike.png
//       a 360 000-sample series with a spike: whole, zoomed in and scrolled,
//       and closer until every sample has its own point
// Usage: chart-gallery [output folder]. Runs without a display.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWindow>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "charts/WaveWnd.h"
#include "ui/Strings.h"

namespace {

constexpr uint32_t kMarginPixel = 0x2A323C;
constexpr uint32_t kWhite = 0xFFFFFFFF;

void Append(CWaveWnd& chart, int slot, const std::vector<double>& samples) {
    chart.Append(slot, samples.data(), static_cast<int>(samples.size()));
}

// How a page lays out one of its charts.
struct ChartSetUp {
    int curves;
    int titleId, valueTitleId, sampleTitleId;
    double valueMaximum;
    int sampleCount;
    bool wholeFrames;
    double sampleFrom, sampleTo;  // the sample axis labels
};

// The steps every page chart goes through, in the pages' order: colours,
// storage and ranges, titles, the left and bottom axis bands, their fonts.
void SetUpChart(CWaveWnd& chart, const ChartSetUp& setUp) {
    chart.SetMarginColor(kMarginPixel);
    chart.SetWaveCount(setUp.curves);
    const uint32_t colours[] = {0x00FF00, 0x0000FF, 0x00FFFF};
    for (int i = 0; i < setUp.curves; ++i) {
        chart.SetWaveEnabled(i, true);
        chart.SetWaveColor(i, colours[i]);
    }
    chart.SetBackgroundColor(0);
    chart.SetLineWidth(setUp.curves == 3 ? 5 : 3);
    chart.CreateWaveStorage();
    chart.SetValueRange(0, setUp.valueMaximum);
    chart.SetSampleCount(setUp.sampleCount);
    chart.SetWholeFrames(setUp.wholeFrames);
    chart.ClearWaves();
    chart.SetText(0, LoadStringW(setUp.titleId), 15, kWhite, 1, 0);
    chart.SetText(1, LoadStringW(setUp.valueTitleId), 10, kWhite, 0, 0);
    chart.SetText(2, LoadStringW(setUp.sampleTitleId), 10, kWhite, 2, 2);
    chart.SetAxisBand(kAxisLeft, true, 50);
    chart.SetAxisBand(kAxisBottom, true, 24);
    chart.SetSampleAxisFontSize(8);
    chart.SetValueAxisFontSize(8);
    chart.SetSampleRange(setUp.sampleFrom, setUp.sampleTo, -1);
}

void SetLabelCounts(CWaveWnd& chart, int sampleLabels, int valueLabels) {
    chart.SetAxisLabelCount(kAxisTop, sampleLabels);
    chart.SetAxisLabelCount(kAxisBottom, sampleLabels);
    chart.SetAxisLabelCount(kAxisLeft, valueLabels);
    chart.SetAxisLabelCount(kAxisRight, valueLabels);
}

// The legend, right-aligned below the top of the plot, 20 pixels apart.
void SetLegend(CWaveWnd& chart, int firstTextId) {
    KRect box = chart.PlotRect();
    box.top += 10;
    const uint32_t colours[] = {0xFF00FF00, 0xFFFF0000, 0xFFFFFF00};
    for (int i = 0; i < 3; ++i, box.top += 20)
        chart.SetText(3 + i, LoadStringW(firstTextId + i), 10, colours[i], 2, 0, &box);
}

void SetUpRealtimeEnergy(CWaveWnd& chart) {
    SetUpChart(chart, {3, 10310, 10311, 10312, 100, 16, true, 0, 15});
    SetLabelCounts(chart, 7, 5);
    chart.Initialize();
    SetLegend(chart, 10313);

    const std::vector<double> trigger = {50, 50, 40, 40, 40, 40, 40, 40,
                                         40, 40, 40, 40, 40, 40, 40, 40};
    const std::vector<double> hold = {40, 40, 30, 30, 30, 30, 30, 30,
                                      30, 30, 30, 30, 30, 30, 30, 30};
    const std::vector<double> energy = {62.1, 55.4, 47.9, 44.2, 31.0, 26.5, 22.8, 24.1,
                                        20.3, 18.7, 19.9, 17.2, 16.0, 15.1, 15.8, 14.2};
    Append(chart, 1, trigger);
    Append(chart, 2, hold);
    Append(chart, 0, energy);
}

void SetUpRealtimeDistance(CWaveWnd& chart) {
    SetUpChart(chart, {1, 10330, 10331, 10332, 11.2, 571, false, 60, 0});
    SetLabelCounts(chart, 7, 5);
    std::vector<CoordinateLabel> labels;
    for (int i = 0; i < 6; ++i) labels.push_back({i, L"T0-" + std::to_wstring(60 - 10 * i)});
    labels.push_back({6, L"T0"});
    chart.SetAxisCustomLabels(kAxisTop, &labels);
    chart.SetAxisCustomLabels(kAxisBottom, &labels);
    chart.FixValueAxes(0, 11.2);
    chart.Initialize();
    chart.ClearWaves();

    // A person walks in from 6 m, stands near 2 m, and leaves again.
    for (int i = 0; i < 571; ++i) {
        const double t = i / 570.0;
        double metres = t < 0.2    ? 0.0
                        : t < 0.45 ? 6.0 - (t - 0.2) * 16.0
                        : t < 0.75 ? 2.0 + 0.1 * std::sin(i / 7.0)
                                   : 2.0 + (t - 0.75) * 20.0;
        if (metres > 8.0) metres = 0.0;
        chart.Append(0, &metres, 1);  // one report at a time, as the reader does
    }
}

// A capture of 10 hours at 10 reports a second, the energy of one gate with
// a one-report spike that no single polyline sample hits.
void SetUpCaptureEnergy(CWaveWnd& chart, int spikeAt) {
    constexpr int kSamples = 360000;
    SetUpChart(chart, {3, 10210, 10211, 10212, 100, kSamples, true, 0, kSamples / 10});
    SetLabelCounts(chart, 7, 5);
    chart.Initialize();
    SetLegend(chart, 10213);
    chart.SetMouseSwitches(
        {.valueZoom = true, .valueDrag = true, .sampleZoom = true, .sampleDrag = true});
    chart.SetText(6, LoadStringW(10005), 10, 0x7FFFFFFF, 1, 2);

    std::mt19937 random(5);
    std::normal_distribution<double> noise(0.0, 2.5);
    std::vector<double> energy(kSamples);
    for (int i = 0; i < kSamples; ++i)
        energy[static_cast<size_t>(i)] = 22.0 + 6.0 * std::sin(i / 9000.0) + noise(random);
    energy[static_cast<size_t>(spikeAt)] = 78.0;
    Append(chart, 0, energy);
    chart.SetLevelLine(1, 45.0);  // the thresholds, as the capture page draws them
    chart.SetLevelLine(2, 35.0);
}

void Wheel(CWaveWnd& chart, QPoint at, int delta, Qt::KeyboardModifiers modifiers) {
    QWheelEvent event(QPointF(at), chart.mapToGlobal(QPointF(at)), QPoint(), QPoint(0, delta),
                      Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&chart, &event);
}

void Drag(CWaveWnd& chart, QPoint from, QPoint to) {
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(from), chart.mapToGlobal(QPointF(from)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&chart, &press);
    for (int step = 1; step <= 4; ++step) {
        const QPoint at = from + (to - from) * step / 4;
        QMouseEvent move(QEvent::MouseMove, QPointF(at), chart.mapToGlobal(QPointF(at)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&chart, &move);
    }
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(to), chart.mapToGlobal(QPointF(to)),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&chart, &release);
}

// Paints the shown chart once its window is on the (off-)screen.
bool Save(CWaveWnd& chart, const QDir& folder, const char* name) {
    QElapsedTimer waited;
    waited.start();
    while (!(chart.windowHandle() && chart.windowHandle()->isExposed()) && waited.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    chart.repaint();
    const QString path = folder.filePath(QString::fromLatin1(name));
    if (!chart.WindowImage().save(path, "PNG")) {
        std::fprintf(stderr, "chart-gallery: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1])
                               : QStringLiteral("docs/screenshots"));
    if (!folder.exists() && !QDir().mkpath(folder.path())) return 1;
    bool ok = true;

    for (UiLanguage language : {UiLanguage::English, UiLanguage::Chinese}) {
        SetUiLanguage(language);
        CWaveWnd energy;
        energy.resize(640, 360);
        energy.show();
        SetUpRealtimeEnergy(energy);
        ok &= Save(
            energy, folder,
            language == UiLanguage::English ? "realtime-energy.png" : "realtime-energy-zh.png");
    }
    SetUiLanguage(UiLanguage::English);

    CWaveWnd distance;
    distance.resize(640, 360);
    distance.show();
    SetUpRealtimeDistance(distance);
    ok &= Save(distance, folder, "realtime-distance.png");

    CWaveWnd capture;
    capture.resize(1000, 360);
    capture.show();
    const int spikeAt = 228001;
    SetUpCaptureEnergy(capture, spikeAt);
    ok &= Save(capture, folder, "capture-energy.png");

    // Zoom in on the spike with Ctrl+wheel, then drag it to the middle.
    const KRect plot = capture.PlotRect();
    const int spikeX =
        plot.left + static_cast<int>(std::lround(spikeAt / 359999.0 * (plot.Width() - 1)));
    for (int i = 0; i < 12; ++i) Wheel(capture, QPoint(spikeX, 200), 120, Qt::ControlModifier);
    Drag(capture, QPoint(spikeX, 200), QPoint(plot.left + plot.Width() / 2, 200));
    ok &= Save(capture, folder, "capture-energy-zoomed.png");

    // Closer still, until the polyline reads every sample around the spike.
    const QPoint middle(plot.left + plot.Width() / 2, 200);
    for (int i = 0; i < 16; ++i) Wheel(capture, middle, 120, Qt::ControlModifier);
    ok &= Save(capture, folder, "capture-energy-spike.png");
    return ok ? 0 : 1;
}

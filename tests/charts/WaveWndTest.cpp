#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "charts/PageCharts.h"
#include "charts/WaveWnd.h"
#include "tests/support/PromptRecorder.h"
#include "ui/Strings.h"

namespace {

// A chart of `width` x `height` without axes (so the plot is the whole
// widget), N samples per frame, value view -100 ... 100, shown.
std::unique_ptr<CWaveWnd> ShownChart(int width, int height, int sampleCount) {
    auto chart = std::make_unique<CWaveWnd>();
    chart->resize(width, height);
    chart->CreateWaveStorage();
    chart->SetValueRange(-100, 100);
    chart->SetSampleCount(sampleCount);
    chart->Initialize();
    chart->show();
    if (!QTest::qWaitForWindowExposed(chart.get())) return nullptr;
    return chart;
}

void Fill(CWaveWnd& chart, int slot, double value, int count) {
    const std::vector<double> samples(static_cast<size_t>(count), value);
    chart.Append(slot, samples.data(), count);
}

void Mouse(CWaveWnd& chart, QEvent::Type type, QPoint at, Qt::MouseButtons buttons = Qt::NoButton) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), chart.mapToGlobal(QPointF(at)), button, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(&chart, &event);
}

void Wheel(CWaveWnd& chart, QPoint at, int delta,
           Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWheelEvent event(QPointF(at), chart.mapToGlobal(QPointF(at)), QPoint(), QPoint(0, delta),
                      Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&chart, &event);
}

void Drag(CWaveWnd& chart, QPoint from, std::initializer_list<QPoint> through) {
    Mouse(chart, QEvent::MouseButtonPress, from, Qt::LeftButton);
    for (QPoint p : through) Mouse(chart, QEvent::MouseMove, p, Qt::LeftButton);
    Mouse(chart, QEvent::MouseButtonRelease, *(through.end() - 1));
}

QRgb RgbOf(uint32_t colorref) {
    return qRgb(colorref & 0xFF, (colorref >> 8) & 0xFF, (colorref >> 16) & 0xFF);
}

// Records when the chart is painted.
class PaintClock : public QObject {
public:
    explicit PaintClock(QWidget* chart) { chart->installEventFilter(this), clock.start(); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) times.push_back(clock.elapsed());
        return false;
    }
    QElapsedTimer clock;
    std::vector<qint64> times;
};

constexpr QRgb kOverpaint = 0xFFFF00FF;

class OverpaintingListener : public IWaveWndDrawListener {
public:
    void OnDrawForeground(const WaveDrawing& drawing) override {
        drewOnItsImage =
            drawing.painter.device() == &drawing.image &&
            drawing.bits == reinterpret_cast<const uint32_t*>(drawing.image.constBits()) &&
            drawing.width == drawing.image.width();
        drawing.painter.fillRect(QRect(0, 0, drawing.width, drawing.height),
                                 QColor::fromRgba(kOverpaint));
    }
    bool drewOnItsImage = false;
};

class NamingListener : public IWaveWndTooltipListener {
public:
    QString GetTooltipText(int slot, int position, int, int count, double value,
                           uint64_t context) override {
        return QStringLiteral("slot %1 at %2/%3 = %4 (%5)")
            .arg(slot)
            .arg(position)
            .arg(count)
            .arg(value)
            .arg(context);
    }
};

// True when nothing drawn in `area` of `image` reaches its outermost pixels.
bool EdgesClear(const QImage& image, const KRect& area, QRgb background) {
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x)
            if ((y == area.top || y == area.bottom - 1 || x == area.left || x == area.right - 1) &&
                image.pixel(x, y) != background)
                return false;
    return true;
}

}  // namespace

class WaveWndTest : public QObject {
    Q_OBJECT
private slots:
    void init() { SetUiLanguage(UiLanguage::English); }

    void startsWithItsSettingsAndCostsNothingPerIdleSlot() {
        CWaveWnd chart;
        QCOMPARE(chart.WaveCount(), 1);
        QCOMPARE(chart.Axis(kAxisTop).coordinate.m_nLabelCount, 22);
        QCOMPARE(chart.Axis(kAxisTop).coordinate.m_dWrapPeriod, 63.0);
        QVERIFY(!chart.Axis(kAxisLeft).bVisible);

        // The capture page's set-up: 3 of 256 slots fed at 360 000 samples a frame.
        chart.CreateWaveStorage();
        chart.SetSampleCount(360000);
        for (int slot = 0; slot < 3; ++slot) Fill(chart, slot, slot, 360000);
        size_t bytes = 0;
        for (int slot = 0; slot < CWaveWnd::kMaxWaves; ++slot)
            bytes += chart.Wave(slot).buffer.AllocatedBytes();
        QCOMPARE(bytes, size_t{3} * 360000 * sizeof(double));
    }

    void layoutGivesHiddenBandsNoRoom() {
        CWaveWnd chart;
        chart.resize(300, 200);
        chart.SetAxisBand(kAxisLeft, true, 40);
        chart.SetAxisBand(kAxisBottom, true, 20);
        chart.Initialize();
        QCOMPARE(chart.PlotRect().left, 40);
        QCOMPARE(chart.PlotRect().bottom, 180);
        QCOMPARE(chart.Axis(kAxisBottom).coordinate.m_rcArea.left, 40);
        QCOMPARE(chart.WindowImage().format(), QImage::Format_ARGB32);
        QCOMPARE(chart.BackgroundImage().size(), QSize(260, 180));

        chart.SetAxisBand(kAxisLeft, false, 40);
        chart.Initialize();
        QCOMPARE(chart.PlotRect().left, 0);
        QCOMPARE(chart.Axis(kAxisLeft).nSize, 0);
        chart.SetAxisBand(kAxisLeft, true, 40);
        chart.Initialize();
        QCOMPARE(chart.PlotRect().left, 40);
    }

    void drawsTheUsedEnabledSlotsInTheirColours() {
        auto chart = ShownChart(200, 100, 64);
        QVERIFY(chart);
        chart->SetWaveCount(2);
        chart->SetBackgroundColor(0x00102030);
        Fill(*chart, 0, 0.0, 128);
        Fill(*chart, 1, 50.0, 128);
        Fill(*chart, 2, -50.0, 128);  // beyond the wave count: neither computed nor drawn
        chart->repaint();
        const QImage& image = chart->WindowImage();
        QCOMPARE(image.pixel(100, 50), RgbOf(chart->Wave(0).crColor));
        QCOMPARE(image.pixel(100, 25), RgbOf(chart->Wave(1).crColor));
        QCOMPARE(image.pixel(100, 75), RgbOf(0x00102030));
        QVERIFY(chart->Wave(2).points.empty());
        QCOMPARE(qAlpha(image.pixel(5, 5)), 255);  // opaque, as copied to the screen
    }

    void bandShowsASpikeThePolylineSkips() {
        auto chart = ShownChart(100, 100, 6400);
        QVERIFY(chart);
        chart->SetLineWidth(1);
        std::vector<double> samples(6400, 0.0);
        samples[3233] = 90.0;  // between the samples columns 50 and 51 read
        chart->Append(0, samples.data(), 6400);
        chart->repaint();
        const QImage& image = chart->WindowImage();
        bool seen = false;
        for (int x = 48; x <= 53; ++x) seen = seen || image.pixel(x, 10) != image.pixel(10, 10);
        QVERIFY(seen);
        for (const WavePoint& p : chart->Wave(0).points) QCOMPARE(p.y, 50);
    }

    void degeneratePlotsPaintWithoutFaults() {
        QWidget page;
        page.resize(200, 100);
        auto* chart = new CWaveWnd(&page);
        chart->setGeometry(0, 0, 1, 40);  // a plot one pixel wide
        chart->CreateWaveStorage();
        chart->SetSampleCount(64);
        chart->Initialize();
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        chart->SetMouseSwitches({.valueZoom = true, .sampleZoom = true});
        Fill(*chart, 0, 5.0, 64);
        chart->repaint();
        QCOMPARE(chart->Wave(0).points.size(), size_t{1});
        Wheel(*chart, QPoint(0, 10), 120, Qt::ControlModifier);
        QCOMPARE(chart->Zoom(), 1.0);

        chart->resize(50, 20);
        chart->SetValueRange(3, 3);  // an empty value span: a flat line
        chart->repaint();
        for (const WavePoint& p : chart->Wave(0).points) QCOMPARE(p.y, 9);

        chart->resize(0, 0);
        QVERIFY(chart->WindowImage().isNull());
        chart->repaint();
        chart->SetSampleCount(1);  // one sample per frame: a flat line
        chart->resize(50, 20);
        chart->repaint();
        QCOMPARE(chart->Wave(0).points.size(), size_t{2});
    }

    void autoScaleFitsTheDataOnceAndSettles() {
        auto chart = ShownChart(200, 100, 64);
        QVERIFY(chart);
        chart->SetAutoScale(true);
        std::vector<double> samples(64);
        for (int i = 0; i < 64; ++i) samples[static_cast<size_t>(i)] = 10.0 + (i % 11);
        chart->Append(0, samples.data(), 64);
        chart->repaint();
        QCOMPARE(chart->ViewMin(), -5.0);
        QCOMPARE(chart->ViewMax(), 25.0);
        QCOMPARE(chart->Axis(kAxisLeft).coordinate.m_dMax, 25.0);
        const int invalidations = chart->InvalidateCount();
        chart->repaint();
        chart->repaint();
        QCOMPARE(chart->InvalidateCount(), invalidations);

        chart->ClearWaves();
        chart->repaint();
        QCOMPARE(chart->ViewMax(), 25.0);  // all zeros: no span, view kept
    }

    // A foreground listener paints over the whole window image; only a
    // band whose settings changed is drawn again over that.
    // The capture page's threshold lines: drawn and named by the tooltip as a
    // frame of equal samples is, also zoomed out and scrolled past its start,
    // both where the curves are stroked (fewer samples than columns) and
    // where they are drawn column by column with a band.
    void levelLinesLookAndAnswerLikeFramesOfEqualSamples() {
        for (int sampleCount : {64, 3000}) {
            std::unique_ptr<CWaveWnd> charts[] = {ShownChart(300, 120, sampleCount),
                                                  ShownChart(300, 120, sampleCount)};
            for (auto& chart : charts) {
                QVERIFY(chart);
                chart->SetWaveCount(3);
                chart->SetWholeFrames(true);
                chart->SetMouseSwitches({.sampleZoom = true, .sampleDrag = true});
                Fill(*chart, 0, 10.0, sampleCount);
            }
            Fill(*charts[0], 1, 40.0, sampleCount);
            Fill(*charts[0], 2, -30.5, sampleCount);
            charts[1]->SetLevelLine(1, 40.0);
            charts[1]->SetLevelLine(2, -30.5);
            const auto alike = [&](const char* view) {
                for (auto& chart : charts) {
                    chart->repaint();
                    Mouse(*chart, QEvent::MouseMove, QPoint(150, 37));
                }
                QVERIFY2(charts[0]->WindowImage() == charts[1]->WindowImage(), view);
                QCOMPARE(charts[1]->TooltipText(), charts[0]->TooltipText());
            };
            alike("whole frame");
            for (auto& chart : charts)
                for (int i = 0; i < 3; ++i)
                    Wheel(*chart, QPoint(150, 60), -120, Qt::ControlModifier);
            alike("zoomed out");
            for (auto& chart : charts) {
                for (int i = 0; i < 6; ++i) Wheel(*chart, QPoint(30, 60), 120, Qt::ControlModifier);
                Drag(*chart, QPoint(20, 60), {QPoint(200, 60)});
            }
            alike("zoomed in, scrolled past the start");
        }
    }

    void axisBandsAreRedrawnOnlyWhenChanged() {
        auto chart = ShownChart(300, 200, 64);
        QVERIFY(chart);
        OverpaintingListener listener;
        chart->SetDrawListener(&listener, 0);
        chart->SetAxisBand(kAxisLeft, true, 40);
        chart->SetValueAxisFontSize(10);
        chart->Initialize();
        chart->repaint();
        const QImage fiveLabels = chart->WindowImage().copy(0, 0, 40, 200);
        QVERIFY(fiveLabels.pixel(1, 100) != kOverpaint);
        chart->repaint();
        QCOMPARE(chart->WindowImage().pixel(1, 100), kOverpaint);
        chart->SetAxisLabelCount(kAxisLeft, 3);
        chart->repaint();
        const QImage threeLabels = chart->WindowImage().copy(0, 0, 40, 200);
        QVERIFY(threeLabels.pixel(1, 100) != kOverpaint);
        QVERIFY(threeLabels != fiveLabels);
        QVERIFY(listener.drewOnItsImage);
    }

    void annotationsReplaceByKeyAndStayInsideThePlot() {
        auto chart = ShownChart(200, 100, 64);
        QVERIFY(chart);
        chart->SetAxisBand(kAxisTop, true, 20);
        chart->Initialize();
        const KRect box{150, 0, 400, 60};  // reaches outside the plot
        chart->SetText(7, QStringLiteral("MMMM"), 20, 0xFFFF0000, 0, 0, &box);
        chart->SetText(7, QStringLiteral("MMMM"), 20, 0xFF00FF00, 0, 0, &box);
        chart->repaint();
        const QImage& background = chart->BackgroundImage();
        int green = 0, red = 0, outside = 0;
        for (int y = 0; y < background.height(); ++y) {
            for (int x = 0; x < background.width(); ++x) {
                const QRgb pixel = background.pixel(x, y);
                if (pixel == qRgb(0, 0, 0)) continue;
                green += pixel == qRgb(0, 255, 0);
                red += qRed(pixel) > 0;
                outside += x < 150 || y >= 40;
            }
        }
        QVERIFY(green > 0);
        QCOMPARE(red, 0);
        QCOMPARE(outside, 0);
    }

    void repaintRequestsFromAWorkerAreCoalescedAndPaced() {
        auto chart = ShownChart(200, 100, 64);
        QVERIFY(chart);
        PaintClock clock(chart.get());
        const int invalidationsBefore = chart->InvalidateCount();
        std::atomic<bool> done{false};
        std::atomic<int> requests{0};
        std::atomic<qint64> lastRequestAt{0};
        std::thread worker([&] {
            QElapsedTimer running;
            running.start();
            for (double v = 0; running.elapsed() < 400; v += 1.0) {
                // Taken before the request: a paint that starts after it may
                // come before the worker runs again.
                lastRequestAt = clock.clock.elapsed();
                chart->Append(0, &v, 1);
                chart->RequestRepaint();
                ++requests;
            }
            done = true;
        });
        QVERIFY(QTest::qWaitFor([&] { return done.load(); }, 10000));
        worker.join();
        // The last request is painted too.
        QVERIFY(QTest::qWaitFor(
            [&] { return !clock.times.empty() && clock.times.back() >= lastRequestAt; }, 2000));

        QVERIFY(clock.times.size() >= 3);
        for (size_t i = 1; i < clock.times.size(); ++i)
            QVERIFY2(clock.times[i] - clock.times[i - 1] >= CWaveWnd::kRepaintIntervalMs - 1,
                     qPrintable(QString::number(clock.times[i] - clock.times[i - 1])));
        QVERIFY(requests > 100);
        QVERIFY(chart->InvalidateCount() - invalidationsBefore <=
                static_cast<int>(clock.times.size()) + 1);
    }

    void wheelZoomsOnlyWhenSwitchedOnAndWithinItsLimits() {
        auto chart = ShownChart(200, 100, 64);
        QVERIFY(chart);
        const QPoint middle(100, 50);
        // Switched off, the chart ignores the mouse.
        Wheel(*chart, middle, 120, Qt::ControlModifier);
        Wheel(*chart, middle, 120);
        Drag(*chart, middle, {QPoint(150, 90)});
        QTest::mouseDClick(chart.get(), Qt::LeftButton, Qt::NoModifier, middle);
        QCOMPARE(chart->Zoom(), 1.0);
        QCOMPARE(chart->ScrollOffset(), 0);
        QCOMPARE(chart->ViewMax(), 100.0);

        // The wheel zooms values around the pointer.
        chart->SetMouseSwitches({.valueZoom = true});
        Wheel(*chart, middle, 120);
        QCOMPARE(chart->ViewMin(), -80.0);
        QCOMPARE(chart->ViewMax(), 80.0);
        QCOMPARE(chart->Axis(kAxisRight).coordinate.m_dMin, -80.0);
        Wheel(*chart, middle, -120);
        QCOMPARE(chart->ViewMax(), 100.0);

        // Ctrl+wheel zooms samples.
        chart->SetMouseSwitches({.sampleZoom = true});
        Wheel(*chart, middle, 120, Qt::ControlModifier);
        QCOMPARE(chart->Zoom(), 1.25);
        Wheel(*chart, middle, 120, Qt::ControlModifier);
        QCOMPARE(chart->Zoom(), 1.5625);
        for (int i = 0; i < 20; ++i) Wheel(*chart, middle, 120, Qt::ControlModifier);
        QVERIFY(chart->Zoom() <= 32.0 && chart->Zoom() * 1.25 > 32.0);

        chart->SetSampleCount(64);
        Wheel(*chart, middle, -120, Qt::ControlModifier);
        QCOMPARE(chart->Zoom(), 0.8);
        QCOMPARE(chart->Wave(0).buffer.GetFrameCount(), 3);
        QCOMPARE(chart->Wave(255).buffer.GetFrameCount(), 3);
        for (int i = 0; i < 20; ++i) Wheel(*chart, middle, -120, Qt::ControlModifier);
        QVERIFY(chart->Zoom() >= 0.125 && chart->Zoom() * 0.8 < 0.125);
        QVERIFY(chart->ScrollOffset() >= 0 && chart->ScrollOffset() < 64);
        Wheel(*chart, QPoint(100, 150), -120, Qt::ControlModifier);  // outside the plot: ignored
        chart->repaint();
    }

    // The capture page: one frame holds the whole capture, labelled in
    // seconds at ten samples a second.
    void zoomingACaptureShowsItsFrameInItsOwnUnits() {
        auto chart = ShownChart(200, 100, 640);
        QVERIFY(chart);
        chart->SetMouseSwitches({.sampleZoom = true});
        chart->SetSampleRange(0, 63.9, -1);
        chart->SetValueRange(0, 100);
        std::vector<double> capture(640);
        for (int i = 0; i < 640; ++i) capture[static_cast<size_t>(i)] = 10.0 + i % 50;
        chart->Append(0, capture.data(), 640);

        for (int i = 0; i < 3; ++i) Wheel(*chart, QPoint(100, 50), 120, Qt::ControlModifier);
        chart->repaint();
        for (const WavePoint& p : chart->Wave(0).points)
            QVERIFY(p.y < 95);  // no zeros from before the capture
        const CCoordinate& axis = chart->Axis(kAxisBottom).coordinate;
        QVERIFY2(axis.m_dMin > 10.0 && axis.m_dMin < 20.0,
                 qPrintable(QString::number(axis.m_dMin)));
        QVERIFY(axis.m_dMax > 40.0 && axis.m_dMax < 50.0);
        // The sample under the pointer stayed there: 321 of 640 at zoom 1.
        Mouse(*chart, QEvent::MouseMove, QPoint(100, 50));
        const QString text = chart->TooltipText();
        const int position = text.section(QStringLiteral("Sample:"), 1).section(u',', 0, 0).toInt();
        QVERIFY2(position >= 318 && position <= 324, qPrintable(text));
    }

    void dragsWaitForTenPixelsThenFollowEveryPixel() {
        auto chart = ShownChart(200, 100, 64);
        QVERIFY(chart);
        chart->SetMouseSwitches({.valueDrag = true, .sampleDrag = true});
        Mouse(*chart, QEvent::MouseButtonPress, QPoint(50, 50), Qt::LeftButton);
        Mouse(*chart, QEvent::MouseMove, QPoint(55, 55), Qt::LeftButton);
        QCOMPARE(chart->ScrollOffset(), 0);
        QCOMPARE(chart->ViewMax(), 100.0);
        Mouse(*chart, QEvent::MouseMove, QPoint(61, 61), Qt::LeftButton);
        QCOMPARE(chart->ScrollOffset(), 3);  // trunc(11 * 64 / 200)
        QCOMPARE(chart->Axis(kAxisBottom).coordinate.m_dMin, -3.0);
        QCOMPARE(chart->ViewMax(), 122.0);  // 11 rows of 2
        Mouse(*chart, QEvent::MouseMove, QPoint(65, 63), Qt::LeftButton);
        QCOMPARE(chart->ScrollOffset(), 4);
        QCOMPARE(chart->ViewMax(), 126.0);
        Mouse(*chart, QEvent::MouseButtonRelease, QPoint(65, 63));

        // Zoomed far out, a long drag to the left keeps the offset in range.
        chart->SetMouseSwitches({.valueDrag = true, .sampleZoom = true, .sampleDrag = true});
        for (int i = 0; i < 9; ++i) Wheel(*chart, QPoint(100, 50), -120, Qt::ControlModifier);
        Drag(*chart, QPoint(190, 50), {QPoint(2, 50)});
        QVERIFY(chart->ScrollOffset() >= 0 && chart->ScrollOffset() < 64);
        chart->repaint();
    }

    void doubleClickRestoresTheView() {
        auto chart = ShownChart(200, 100, 64);
        QVERIFY(chart);
        chart->SetMouseSwitches({.valueZoom = true, .sampleZoom = true, .sampleDrag = true});
        chart->FixValueAxes(-50, 100);  // the value axes return there, the view to -100..100
        Wheel(*chart, QPoint(30, 50), -120, Qt::ControlModifier);
        Wheel(*chart, QPoint(30, 20), 120);
        Drag(*chart, QPoint(50, 50), {QPoint(80, 50)});
        QVERIFY(chart->ScrollOffset() != 0);

        QTest::mouseDClick(chart.get(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 50));
        QCOMPARE(chart->Zoom(), 1.0);
        QCOMPARE(chart->ScrollOffset(), 0);
        QCOMPARE(chart->Wave(3).buffer.GetFrameCount(), 2);
        QCOMPARE(chart->ViewMin(), -100.0);
        QCOMPARE(chart->Axis(kAxisLeft).coordinate.m_dMin, -50.0);
        QCOMPARE(chart->Axis(kAxisTop).coordinate.m_dMin, 0.0);
        QCOMPARE(chart->Axis(kAxisTop).coordinate.m_dMax, 63.0);
    }

    void tooltipFollowsTheNearestCurveAndLiveData() {
        auto chart = ShownChart(200, 200, 64);
        QVERIFY(chart);
        chart->SetWaveCount(3);
        chart->SetAxisBand(kAxisBottom, true, 20);
        chart->Initialize();
        Fill(*chart, 0, 50, 128);
        Fill(*chart, 1, 0, 128);
        Fill(*chart, 2, -50, 128);
        chart->repaint();

        Mouse(*chart, QEvent::MouseMove, QPoint(100, 128));  // rows 45, 90, 135
        QVERIFY(chart->IsTooltipShown());
        QCOMPARE(chart->TooltipText(), QStringLiteral("Wave:2, Sample:32, Value:-50.0"));

        Fill(*chart, 2, -40, 128);  // the pointer rests; the data moves
        chart->repaint();
        QCOMPARE(chart->TooltipText(), QStringLiteral("Wave:2, Sample:32, Value:-40.0"));

        NamingListener listener;
        chart->SetTooltipListener(&listener, 9);
        Mouse(*chart, QEvent::MouseMove, QPoint(100, 50));
        QCOMPARE(chart->TooltipText(), QStringLiteral("slot 0 at 32/64 = 50 (9)"));

        Mouse(*chart, QEvent::MouseMove, QPoint(100, 190));  // into the axis band
        QVERIFY(!chart->IsTooltipShown());
        Mouse(*chart, QEvent::MouseMove, QPoint(100, 50));
        QVERIFY(chart->IsTooltipShown());
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(chart.get(), &leave);
        QVERIFY(!chart->IsTooltipShown());

        // Whatever takes the chart from under the pointer takes the tooltip.
        QDialog modal(chart.get());  // a file dialog or message box
        modal.setModal(true);
        const std::function<void()> actions[] = {[&] { chart->resize(220, 210); },
                                                 [&] { chart->hide(), chart->show(); },
                                                 [&] { modal.show(); }};
        for (const auto& action : actions) {
            modal.hide();
            Mouse(*chart, QEvent::MouseMove, QPoint(100, 50));
            QVERIFY(chart->IsTooltipShown());
            action();
            chart->repaint();
            QVERIFY(!chart->IsTooltipShown() && !chart->findChild<QLabel*>()->isVisible());
        }
    }

    // Dressed as the pages dress them, at the main window's sizes: no label
    // reaches the edge of its band, where it would be cut, and the trace
    // along the bottom leaves the sample axis name whole.
    void labelsAndAxisNameStayWholeAtEverySize() {
        const std::vector<CoordinateLabel> labels{{0, L"T0-60"}, {5, L"T0-10"}, {6, L"T0"}};
        for (const double scale : {0.75, 1.0, 1.6}) {
            auto chart = ShownChart(int(581 * scale), int(154 * scale), 150);
            chart->SetMarginColor(page_chart::kMarginPixel);
            chart->SetValueRange(0, 100);
            page_chart::SetAxisBands(*chart, scale);
            page_chart::SetLabelCounts(*chart);
            chart->SetAxisCustomLabels(kAxisBottom, &labels);
            page_chart::SetChartTitles(*chart, 10230, scale);  // "Range Information" ...
            chart->Initialize();
            Fill(*chart, 0, 0, 150);
            chart->repaint();
            const QImage& image = chart->WindowImage();
            for (WaveAxisIndex axis : {kAxisLeft, kAxisBottom})
                QVERIFY(EdgesClear(image, chart->Axis(axis).rcArea,
                                   0xFF000000u | page_chart::kMarginPixel));
            const KRect name = chart->AnnotationBounds(page_chart::kSampleAxisNameKey);
            for (int y = name.top; y < name.bottom; ++y)
                for (int x = name.left; x < name.right; ++x)
                    QVERIFY(image.pixel(x, y) != RgbOf(chart->Wave(0).crColor));
        }
    }

    void pictureMenuCopiesAndSavesTheChartAsDrawn() {
        auto chart = ShownChart(120, 80, 64);
        QVERIFY(chart);
        Fill(*chart, 0, 30, 128);
        chart->repaint();

        SetUiLanguage(UiLanguage::Chinese);
        std::unique_ptr<QMenu> chinese(chart->CreateContextMenu(nullptr));
        QCOMPARE(chinese->actions().at(0)->text(), QStringLiteral("复制图片"));
        SetUiLanguage(UiLanguage::English);
        std::unique_ptr<QMenu> menu(chart->CreateContextMenu(nullptr));
        QCOMPARE(menu->actions().at(1)->text(), QStringLiteral("Save picture…"));

        menu->actions().at(0)->trigger();
        QCOMPARE(QApplication::clipboard()->image().convertToFormat(QImage::Format_ARGB32),
                 chart->WindowImage());

        PromptRecorder prompt;
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("chart.png"));
        prompt.saveAnswers.push_back(path);
        prompt.saveAnswers.push_back(folder.filePath(QStringLiteral("missing/chart.png")));
        menu->actions().at(1)->trigger();
        QCOMPARE(QImage(path).convertToFormat(QImage::Format_ARGB32), chart->WindowImage());
        QVERIFY(prompt.fileRequests.at(0).filter.contains(QStringLiteral("*.png")));
        QVERIFY(prompt.messages.empty());

        menu->actions().at(1)->trigger();
        QCOMPARE(prompt.messages.size(), size_t{1});
        QCOMPARE(prompt.messages[0].text, LoadStringW(CWaveWnd::kSavePictureFailedTextId));
        QCOMPARE(prompt.messages[0].icon, PromptIcon::Error);
    }
};

QTEST_MAIN(WaveWndTest)
#include "WaveWndTest.moc"

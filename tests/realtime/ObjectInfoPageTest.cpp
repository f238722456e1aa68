#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "charts/WaveWnd.h"
#include "controls/ColorStatic.h"
#include "controls/SkinButton.h"
#include "controls/XListCtrl.h"
#include "device/CommandMode.h"
#include "device/KVEL_DataProcess.h"
#include "device/RadarProtocol.h"
#include "realtime/ObjectInfoDlg.h"
#include "realtime/ReportFrame.h"
#include "realtime/SensingCollectorDlg.h"
#include "settings/AppConfig.h"
#include "tests/device/PtyModule.h"
#include "tests/support/ConnectedModule.h"
#include "tests/support/PageUnderTest.h"
#include "tests/support/ProgramFolder.h"
#include "tests/support/PromptRecorder.h"
#include "tests/support/QtTestShards.h"
#include "ui/Strings.h"

namespace {

namespace oi = object_info;

constexpr QRgb kShading = 0xFFC3C3C3;  // the distance chart's default shading
constexpr QRgb kPlotBlack = 0xFF000000;

// Hands the reader one report as its worker would.
void Feed(CObjectInfoDlg& page, uint8_t state, uint16_t distance, uint16_t energy = 100) {
    ObjectReport report;
    report.TargetState = state;
    report.TargetDistance = distance;
    std::fill(std::begin(report.GateEnergy), std::end(report.GateEnergy), energy);
    uint8_t frame[45];
    EncodeObjectReportFrame(report, frame);
    page.Reader().OnObjectReport(frame + 6);
}

QAbstractButton* Button(CObjectInfoDlg& page, int id) {
    return qobject_cast<QAbstractButton*>(page.Control(id));
}

// The shading's pixels along the middle row of the chart's background.
int ShadedColumns(const CWaveWnd& chart) {
    const QImage& image = chart.BackgroundImage();
    int count = 0;
    for (int x = 0; x < image.width(); ++x)
        if (image.pixel(x, image.height() / 2) == kShading) ++count;
    return count;
}

// What constant raw energy 100 proposes with the default scales 5.0 and 3.5.
const double kTriggerFrom100 = 10.0 * std::log10(500.0);  // 26.99 dB
const double kHoldFrom100 = 10.0 * std::log10(350.0);     // 25.44 dB

bool Near(double a, double b) { return std::fabs(a - b) < 1e-9; }

// The newest frame of an energy chart slot.
std::vector<double> NewestFrame(const CWaveWnd& chart, int slot) {
    const std::vector<double> samples = chart.Wave(slot).buffer.CopySamples();
    if (samples.size() < size_t(kRadarGateCount)) return {};
    return std::vector<double>(samples.end() - kRadarGateCount, samples.end());
}

emulator::Options ConstantEnergy(uint16_t energy) {
    emulator::Options options = test_support::QuickReports();
    options.scene.constantEnergy = energy;
    return options;
}

}  // namespace

class ObjectInfoPageTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void disconnectedPageStartsNothingButShowsReports();
    void streamsFromTheModuleAndPauseClearsEverything();
    void silentModuleShowsTheNoticeUntilReportsReturn();
    void presenceShadingFollowsTheHistoryAtAnyWidth();
    void gatesBeyondTheLargestAreShaded();
    void tooltipTexts();
    void scaleFactorScalesTextsFontsAndBands();
    void settingsSetTheEnergyAxisAndAreSavedAtTeardown();
    void screenshotWhileRunning();

    void calcShowsThePageThresholdsThenCountsReportsUntilOk();
    void calibrationAgainstConstantEnergyIsAcceptedAndApplied();
    void cancelAndEscapeChangeNothing();
    void collectionEndsWhenTheLastStepsCountWasMissed();
    void reportsQueuedBeforeCalcAddNothing();
    void applyAgainstARefusingModuleSaysSoAndReadsAgain();
    void hidingThePageEndsTheCollection();
    void screenshotOfTheDialogMidCollection();

private:
    // Feeds `count` reports of raw energy 100 and lets their events be handled.
    void FeedAndHandle(int count);
    CSensingCollectorDlg& Dialog() { return *m_page->CollectorDialog(); }
    void MakePage(CRadarSession* session = nullptr);
    // The set of the session the page was given.
    const RadarParamSet& SessionParams() const { return m_session->Params().Values(); }
    // The page against a module of constant raw energy 100; with `hold` the
    // module keeps its reports back, so that only the test's reach the page.
    void MakeCalibratingPage(bool hold);
    // Exactly one message box was asked for, this one.
    void ExpectOnePrompt(const QString& text, const QString& caption, PromptIcon icon);
    // A module for the test; it outlives the page (cleanup).
    ConnectedModule& Module();

    RadarParamSet m_params;
    std::unique_ptr<PromptRecorder> m_prompt;
    std::unique_ptr<ConnectedModule> m_module;
    std::unique_ptr<QWidget> m_window;
    CObjectInfoDlg* m_page = nullptr;
    std::unique_ptr<CRadarSession> m_idleSession;
    CRadarSession* m_session = nullptr;
};

void ObjectInfoPageTest::init() {
    StartPageTestSettings();
    m_params = RadarParamSet();
    m_prompt = std::make_unique<PromptRecorder>();
    m_idleSession = std::make_unique<CRadarSession>();
}

void ObjectInfoPageTest::cleanup() {
    if (m_page) m_page->Teardown();
    m_window.reset();
    m_page = nullptr;
    m_module.reset();
    m_prompt.reset();
    m_session = nullptr;
    m_idleSession.reset();
}

// The page in a window of its own, shown: against a connected module it
// starts reading at once, as when its page button is pressed.
void ObjectInfoPageTest::MakePage(CRadarSession* session) {
    m_page = new CObjectInfoDlg();
    m_session = session ? session : m_idleSession.get();
    m_session->Params().Set(m_params);
    QVERIFY(ShowPageInWindow(m_page, m_session, &m_window));
    QVERIFY(m_page->Indicator() && m_page->RangeText());
    QVERIFY(m_page->EnergyChart() && m_page->DistanceChart());
}

ConnectedModule& ObjectInfoPageTest::Module() {
    m_module = std::make_unique<ConnectedModule>();
    return *m_module;
}

void ObjectInfoPageTest::MakeCalibratingPage(bool hold) {
    m_module = std::make_unique<ConnectedModule>(ConstantEnergy(100));
    QVERIFY(m_module->opened);
    if (hold) m_module->emulator->HoldReports(true);
    MakePage(&m_module->session);
}

void ObjectInfoPageTest::ExpectOnePrompt(const QString& text, const QString& caption,
                                         PromptIcon icon) {
    QCOMPARE(m_prompt->messages.size(), size_t(1));
    QCOMPARE(m_prompt->messages[0].text, text);
    QCOMPARE(m_prompt->messages[0].caption, caption);
    QCOMPARE(m_prompt->messages[0].icon, icon);
}

void ObjectInfoPageTest::FeedAndHandle(int count) {
    for (int i = 0; i < count; ++i) Feed(*m_page, 0, 0, 100);
    QCoreApplication::sendPostedEvents(m_page, 0);
}

void ObjectInfoPageTest::disconnectedPageStartsNothingButShowsReports() {
    MakePage();
    QVERIFY(m_prompt->messages.empty());  // showing it disconnected says nothing
    Button(*m_page, oi::kStartButton)->click();
    ExpectOnePrompt(LoadStringW(10103), LoadStringW(10000), PromptIcon::Error);
    QCOMPARE(Button(*m_page, oi::kStartButton)->text(), QStringLiteral("Start"));
    QVERIFY(!m_page->IsRunning());
    QVERIFY(!m_page->Reader().IsRunning());
    QVERIFY(!m_page->Control(oi::kCalcThresholdButton)->isEnabled());

    // Reports handed to the reader still reach the lamp and the text.
    CColorStatic* text = m_page->RangeText();
    QCOMPARE(text->text(), QStringLiteral("Target Range: 0.00 m\r\n\r\n"));
    QCOMPARE(m_page->Indicator()->GetCheck(), 0);

    Feed(*m_page, 1, 250);
    QVERIFY(QTest::qWaitFor([&] { return m_page->Indicator()->GetCheck() == 1; }));
    QCOMPARE(text->text(), QStringLiteral("Target Range: 2.50 m\r\n\r\n"));

    // A state the page does not know: no text, the lamp as it was.
    Feed(*m_page, 7, 300);
    QVERIFY(QTest::qWaitFor([&] { return text->text().isEmpty(); }));
    QCOMPARE(m_page->Indicator()->GetCheck(), 1);

    Feed(*m_page, 0, 0);
    QVERIFY(QTest::qWaitFor([&] { return m_page->Indicator()->GetCheck() == 0; }));
    QCOMPARE(text->text(), QStringLiteral("Target Range: 0.00 m\r\n\r\n"));
}

void ObjectInfoPageTest::streamsFromTheModuleAndPauseClearsEverything() {
    ConnectedModule& module = Module();
    QVERIFY(module.opened);
    device_test::DiagnosticsRecorder log;
    m_params.TriggerThreshold[0] = 44.0;
    MakePage(&module.session);

    QVERIFY(m_page->IsRunning());
    QCOMPARE(Button(*m_page, oi::kStartButton)->text(), QStringLiteral("Pause"));
    QVERIFY(m_page->Control(oi::kCalcThresholdButton)->isEnabled());
    QVERIFY(!m_page->Control(oi::kApplyThresholdButton)->isEnabled());
    QCOMPARE(m_page->TriggerThresholds()[0], 44.0);
    QVERIFY(QTest::qWaitFor(
        [&] { return module.emulator->OperatingMode() == radar_protocol::kModeABD; }));
    // The module's noise reaches the energy curve; the thresholds stand beside it.
    CWaveWnd& energy = *m_page->EnergyChart();
    QVERIFY(QTest::qWaitFor([&] { return energy.Wave(0).buffer.CopySamples().back() > 5.0; }));
    const std::vector<double> trigger = energy.Wave(1).buffer.CopySamples();
    QCOMPARE(trigger[trigger.size() - kRadarGateCount], 44.0);  // gate 0 of the newest frame

    // A target for a while (reports from the test beside the module's).
    for (int i = 0; i < 100; ++i) Feed(*m_page, 1, 250);
    CWaveWnd& distance = *m_page->DistanceChart();
    QVERIFY(QTest::qWaitFor([&] { return ShadedColumns(distance) > 20; }));

    Button(*m_page, oi::kStartButton)->click();
    QVERIFY(!m_page->IsRunning());
    QVERIFY(!m_page->Reader().IsRunning());
    QCOMPARE(Button(*m_page, oi::kStartButton)->text(), QStringLiteral("Start"));
    QVERIFY(!m_page->Control(oi::kCalcThresholdButton)->isEnabled());
    QCOMPARE(m_page->Indicator()->GetCheck(), 0);
    QCOMPARE(m_page->RangeText()->text(), QStringLiteral("Target Range: 0.00 m\r\n\r\n"));
    for (uint8_t entry : m_page->Reader().PresenceHistory()) QCOMPARE(entry, uint8_t(0));
    QVERIFY(QTest::qWaitFor([&] { return ShadedColumns(distance) == 0; }));
    QCOMPARE(module.emulator->OperatingMode(), radar_protocol::kModeDataTransfer);
    m_page->hide();  // another page: nothing ran, so nothing is told
    const std::string lines = log.Text();
    QVERIFY(lines.find("Start Realtime data show.\r\n") != std::string::npos);
    QVERIFY(lines.find("Stop Realtime data show.\r\n") != std::string::npos);
    QCOMPARE(lines.rfind("Stop Realtime"), lines.find("Stop Realtime"));
}

void ObjectInfoPageTest::silentModuleShowsTheNoticeUntilReportsReturn() {
    ConnectedModule& module = Module();
    QVERIFY(module.opened);
    MakePage(&module.session);
    const uint64_t before = module.emulator->ReportFramesSent();
    QVERIFY(QTest::qWaitFor([&] { return module.emulator->ReportFramesSent() > before + 2; }));
    QVERIFY(!m_page->IsNoDataNoticeShown());

    module.emulator->HoldReports(true);
    QVERIFY(QTest::qWaitFor([&] { return m_page->IsNoDataNoticeShown(); }, 10000));
    QVERIFY(m_page->IsRunning());
    // Nothing else changed, and the window still answers.
    QCOMPARE(Button(*m_page, oi::kStartButton)->text(), QStringLiteral("Pause"));

    module.emulator->HoldReports(false);
    QVERIFY(QTest::qWaitFor([&] { return !m_page->IsNoDataNoticeShown(); }, 10000));
    Button(*m_page, oi::kStartButton)->click();
    QVERIFY(!m_page->IsRunning());
}

void ObjectInfoPageTest::presenceShadingFollowsTheHistoryAtAnyWidth() {
    MakePage();
    CWaveWnd& chart = *m_page->DistanceChart();
    for (int i = 0; i < CRealtimeReader::kHistoryLength; ++i) Feed(*m_page, i % 2 == 0, 100);

    for (int plotWidth : {571, 1142}) {
        chart.resize(plotWidth + chart.Axis(kAxisLeft).nSize, chart.height());
        // A resize makes a new background that is only drawn at the next
        // paint: until then it holds whatever its memory held.
        chart.repaint();
        QCOMPARE(chart.BackgroundImage().width(), plotWidth);
        const QImage& image = chart.BackgroundImage();
        const int row = image.height() / 2;
        if (plotWidth == 571) {
            // The oldest entry (1) at the left edge, then every other column.
            for (int x = 0; x < plotWidth; ++x)
                QCOMPARE(image.pixel(x, row), x % 2 == 0 ? kShading : kPlotBlack);
        } else {
            // 286 entries of two columns each; the first keeps one, the last
            // also takes the column rounded past the end.
            QCOMPARE(ShadedColumns(chart), 572);
            QCOMPARE(image.pixel(3, row), kShading);
            QCOMPARE(image.pixel(4, row), kShading);
            QCOMPARE(image.pixel(5, row), kPlotBlack);
        }
    }
}

void ObjectInfoPageTest::gatesBeyondTheLargestAreShaded() {
    m_params.GateMax = 7;
    MakePage();
    CWaveWnd& chart = *m_page->EnergyChart();
    QVERIFY(QTest::qWaitFor([&] { return !chart.BackgroundImage().isNull(); }));
    const QImage& image = chart.BackgroundImage();
    const int row = image.height() / 2;
    QCOMPARE(image.pixel(image.width() / 4, row), kPlotBlack);
    // 0xBFC3C3C3 over black.
    const QRgb shaded = image.pixel(image.width() * 3 / 4, row);
    QVERIFY(qRed(shaded) > 0x80 && qRed(shaded) < 0xC3);
}

void ObjectInfoPageTest::tooltipTexts() {
    MakePage();
    CObjectInfoDlg& page = *m_page;
    QCOMPARE(page.GetTooltipText(0, 570, 0, 571, 2.5, 1), QStringLiteral("No. 0.1s Range: 2.5 m"));
    QCOMPARE(page.GetTooltipText(0, 0, 0, 571, 0.0, 1), QStringLiteral("No. 60.0s Range: 0.0 m"));
    QCOMPARE(page.GetTooltipText(0, 3, 0, 16, 12.34, 0),
             QStringLiteral("RG No.3 Target Energy: 12.3 dB"));
    QCOMPARE(page.GetTooltipText(1, 4, 0, 16, 30, 0),
             QStringLiteral("RG No.4 Trigger Energy: 30.0 dB"));
    QCOMPARE(page.GetTooltipText(2, 5, 0, 16, 20, 0),
             QStringLiteral("RG No.5 Hold Energy: 20.0 dB"));
    QVERIFY(page.GetTooltipText(3, 5, 0, 16, 20, 0).isEmpty());
    QVERIFY(page.GetTooltipText(1, 5, 0, 571, 20, 1).isEmpty());
    QVERIFY(page.GetTooltipText(0, 5, 0, 571, 20, 2).isEmpty());
}

void ObjectInfoPageTest::scaleFactorScalesTextsFontsAndBands() {
    MakePage();
    m_page->SetScaleFactor(1.5);
    m_page->SetupCharts();
    for (CWaveWnd* chart : {m_page->EnergyChart(), m_page->DistanceChart()}) {
        QCOMPARE(chart->AnnotationPointSize(0), 22.0);  // 15 x 1.5, truncated
        QCOMPARE(chart->AnnotationPointSize(1), 15.0);
        QCOMPARE(chart->Axis(kAxisLeft).nSize, 75);
        QCOMPARE(chart->Axis(kAxisBottom).nSize, 36);
        QCOMPARE(chart->Axis(kAxisLeft).coordinate.m_nFontPoints, 12);
        QCOMPARE(chart->Axis(kAxisBottom).coordinate.m_nFontPoints, 12);
        QCOMPARE(chart->LineWidth(), 7);
        QCOMPARE(chart->PlotRect().left, 75);
    }
    // Rescaling keeps the trace: the minute on screen stays.
    Feed(*m_page, 1, 321);
    QVERIFY(QTest::qWaitFor([&] { return m_page->Indicator()->GetCheck() == 1; }));
    m_page->SetScaleFactor(1.0);
    m_page->SetupCharts();
    QCOMPARE(m_page->DistanceChart()->Wave(0).buffer.CopySamples().back(), 3.21);
}

void ObjectInfoPageTest::settingsSetTheEnergyAxisAndAreSavedAtTeardown() {
    AppConfigSection(app_config::kObjectInfo)
        .SetAttribute(app_config::kOiEnergyValueDisplayMax, "60");
    MakePage();
    const CWaveWnd& energy = *m_page->EnergyChart();
    QCOMPARE(energy.ViewMax(), 60.0);
    QCOMPARE(energy.ViewMin(), 0.0);
    QCOMPARE(energy.Axis(kAxisLeft).coordinate.m_dMax, 60.0);
    QCOMPARE(m_page->Settings().energyDisplayMax, 60);

    m_page->Teardown();
    QFile file(QString::fromStdString(TestProgramFolder()) + "/appConfig.xml");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString saved = QString::fromUtf8(file.readAll());
    // What was read at start-up is written back, beside the defaults (every
    // key and its format: ObjectInfoSettingsTest).
    QVERIFY(saved.contains(QLatin1String("<ObjectInfo ")));
    QVERIFY(saved.contains(QLatin1String("EnergyWaveWnd_ValueDisplayMax=\"60\"")));
    QVERIFY(saved.contains(QLatin1String("HoldSensingScale=\"3.500000\"")));
}

// KVEL_SCREENSHOT=path (and KVEL_SCREENSHOT_CHINESE=1): the page against the
// emulator once the emulated person has come and gone, as a PNG.
void ObjectInfoPageTest::screenshotWhileRunning() {
    const char* target = std::getenv("KVEL_SCREENSHOT");
    if (!target) QSKIP("KVEL_SCREENSHOT names no file");
    if (std::getenv("KVEL_SCREENSHOT_CHINESE")) SetUiLanguage(UiLanguage::Chinese);
    ConnectedModule& module = Module();
    QVERIFY(module.opened);
    m_params.TriggerThreshold[0] = 45;
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        m_params.TriggerThreshold[gate] = 36.0 - gate * 0.5;
        m_params.HoldThreshold[gate] = 30.0 - gate * 0.5;
    }
    m_params.GateMax = 12;
    MakePage(&module.session);
    // Most of the minute on the distance chart, the person standing near.
    const uint64_t first = module.emulator->ReportFramesSent();
    auto present = [&] {
        int ones = 0;
        for (uint8_t entry : m_page->Reader().PresenceHistory()) ones += entry;
        return module.emulator->ReportFramesSent() > first + 450 && ones > 60 &&
               m_page->Reader().TargetState() == 1 && m_page->Reader().TargetDistance() < 400;
    };
    QVERIFY(QTest::qWaitFor(present, 120000));
    QImage picture(m_window->size(), QImage::Format_RGB32);
    m_window->render(&picture);
    QVERIFY(picture.save(QString::fromLocal8Bit(target)));
}

// --- Threshold calibration -------------------------------------------------------

// Reports from the test only (the module holds its own, from the start, so
// that none of its reports is on its way): each handled report is one step.
void ObjectInfoPageTest::calcShowsThePageThresholdsThenCountsReportsUntilOk() {
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        m_params.TriggerThreshold[gate] = 40.0 + gate;
        m_params.HoldThreshold[gate] = 20.5;
    }
    MakeCalibratingPage(true);
    QVERIFY(QTest::qWaitFor(
        [&] { return m_module->emulator->OperatingMode() == radar_protocol::kModeABD; }));
    QVERIFY(m_page->CollectorDialog());
    QVERIFY(!Dialog().isVisible());
    Button(*m_page, oi::kCalcThresholdButton)->click();
    // Before any report is handled: the page's own thresholds.
    QVERIFY(Dialog().isVisible());
    CXListCtrl* list = Dialog().List();
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        QCOMPARE(list->CellText(gate, 1), QString::asprintf("%.2f", 40.0 + gate));
        QCOMPARE(list->CellText(gate, 2), QStringLiteral("20.50"));
    }
    QCOMPARE(Dialog().Progress()->value(), 0);
    QVERIFY(!Dialog().OkButton()->isEnabled());
    QVERIFY(!m_page->Control(oi::kApplyThresholdButton)->isEnabled());
    QCOMPARE(m_page->Reader().Calibration().Progress().taken, 0);
    QVERIFY(!m_window->isEnabled());
    QVERIFY(Dialog().isEnabled());

    FeedAndHandle(1);
    QCOMPARE(Dialog().Progress()->value(), 0);  // 1 × 100 / 200
    QCOMPARE(Dialog().List()->CellText(0, 1), QStringLiteral("26.99"));
    QCOMPARE(Dialog().List()->CellText(15, 2), QStringLiteral("25.44"));
    FeedAndHandle(99);
    QCOMPARE(Dialog().Progress()->value(), 50);
    QVERIFY(!Dialog().OkButton()->isEnabled());
    FeedAndHandle(99);
    QCOMPARE(Dialog().Progress()->value(), 99);
    QVERIFY(!Dialog().OkButton()->isEnabled());
    FeedAndHandle(1);
    QCOMPARE(Dialog().Progress()->value(), 100);
    QVERIFY(Dialog().OkButton()->isEnabled());
    QCOMPARE(m_page->Reader().Calibration().Progress().taken, 200);

    // Past the end the averages stay as they are, whatever the reports say.
    FeedAndHandle(1);
    QVERIFY(!m_page->Reader().Calibration().IsRunning());
    for (int i = 0; i < 20; ++i) Feed(*m_page, 0, 0, 60000);
    QCoreApplication::sendPostedEvents(m_page, 0);
    const CalibrationProgress progress = m_page->Reader().Calibration().Progress();
    QCOMPARE(progress.taken, 200);
    QVERIFY(Near(progress.trigger[7], kTriggerFrom100));
}

// The whole road against the emulator: collect, accept, apply, and the
// module holds the new thresholds.
void ObjectInfoPageTest::calibrationAgainstConstantEnergyIsAcceptedAndApplied() {
    MakeCalibratingPage(false);
    QVERIFY(QTest::qWaitFor(
        [&] { return m_module->emulator->OperatingMode() == radar_protocol::kModeABD; }));
    Button(*m_page, oi::kCalcThresholdButton)->click();
    QVERIFY(QTest::qWaitFor([&] { return Dialog().OkButton()->isEnabled(); }, 60000));
    QCOMPARE(Dialog().Progress()->value(), 100);
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        QCOMPARE(Dialog().List()->CellText(gate, 1), QStringLiteral("26.99"));
        QCOMPARE(Dialog().List()->CellText(gate, 2), QStringLiteral("25.44"));
    }

    Dialog().OkButton()->click();
    QVERIFY(!Dialog().isVisible());
    QVERIFY(m_window->isEnabled());
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        QVERIFY(Near(m_page->TriggerThresholds()[gate], kTriggerFrom100));
        QVERIFY(Near(m_page->HoldThresholds()[gate], kHoldFrom100));
    }
    // The chart's red and yellow lines move to the proposal.
    const std::vector<double> red = NewestFrame(*m_page->EnergyChart(), 1);
    const std::vector<double> yellow = NewestFrame(*m_page->EnergyChart(), 2);
    QCOMPARE(int(red.size()), kRadarGateCount);
    QVERIFY(Near(red[0], kTriggerFrom100) && Near(red[15], kTriggerFrom100));
    QVERIFY(Near(yellow[0], kHoldFrom100) && Near(yellow[15], kHoldFrom100));
    QVERIFY(m_page->Control(oi::kApplyThresholdButton)->isEnabled());

    // The write and the module's settle time run while the window goes on,
    // its buttons at rest.
    Button(*m_page, oi::kApplyThresholdButton)->click();
    QVERIFY(m_page->IsApplyingThresholds());
    QVERIFY(!m_page->Control(oi::kStartButton)->isEnabled());
    QVERIFY(!m_page->Control(oi::kCalcThresholdButton)->isEnabled());
    QVERIFY(m_prompt->messages.empty());
    QVERIFY(QTest::qWaitFor([&] { return !m_prompt->messages.empty(); }, 10000));
    ExpectOnePrompt(QStringLiteral("Succeed setting threshold"), QStringLiteral("Success"),
                    PromptIcon::Information);
    QVERIFY(m_page->IsRunning());
    QVERIFY(m_page->Control(oi::kStartButton)->isEnabled());
    QVERIFY(!m_page->Control(oi::kApplyThresholdButton)->isEnabled());
    QVERIFY(Near(SessionParams().TriggerThreshold[3], kTriggerFrom100));
    QVERIFY(Near(SessionParams().HoldThreshold[3], kHoldFrom100));

    // Read back from the module as a fresh connection would.
    m_page->StopAcquisition();
    QCOMPARE(m_module->session.ReadParams(), kRadarOk);
    const RadarParamSet& read = SessionParams();
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        QVERIFY2(std::fabs(read.TriggerThreshold[gate] - kTriggerFrom100) < 0.01,
                 qPrintable(QString::number(read.TriggerThreshold[gate])));
        QVERIFY2(std::fabs(read.HoldThreshold[gate] - kHoldFrom100) < 0.01,
                 qPrintable(QString::number(read.HoldThreshold[gate])));
    }
}

void ObjectInfoPageTest::cancelAndEscapeChangeNothing() {
    m_params.TriggerThreshold[0] = 33.0;
    m_params.HoldThreshold[0] = 31.0;
    MakeCalibratingPage(true);
    const std::vector<double> redBefore = NewestFrame(*m_page->EnergyChart(), 1);

    // Escape in the middle of a collection.
    Button(*m_page, oi::kCalcThresholdButton)->click();
    FeedAndHandle(50);
    QVERIFY(QTest::qWaitForWindowExposed(&Dialog()));
    QTest::keyClick(&Dialog(), Qt::Key_Escape);
    QVERIFY(!Dialog().isVisible());
    QVERIFY(m_window->isEnabled());
    QCOMPARE(m_page->TriggerThresholds()[0], 33.0);

    // Cancel after a complete one.
    Button(*m_page, oi::kCalcThresholdButton)->click();
    FeedAndHandle(200);
    QVERIFY(Dialog().OkButton()->isEnabled());
    Dialog().CancelButton()->click();
    QVERIFY(!Dialog().isVisible());
    QVERIFY(m_window->isEnabled());
    QCOMPARE(m_page->TriggerThresholds()[0], 33.0);
    QCOMPARE(m_page->HoldThresholds()[0], 31.0);
    QCOMPARE(NewestFrame(*m_page->EnergyChart(), 1), redBefore);
    QVERIFY(!m_page->Control(oi::kApplyThresholdButton)->isEnabled());
}

// This thread fell behind: many reports were taken before it came round,
// and the dialog shows them in one step.
void ObjectInfoPageTest::collectionEndsWhenTheLastStepsCountWasMissed() {
    MakeCalibratingPage(true);
    Button(*m_page, oi::kCalcThresholdButton)->click();
    FeedAndHandle(150);
    QCOMPARE(Dialog().Progress()->value(), 75);
    for (int i = 0; i < 60; ++i) Feed(*m_page, 0, 0);
    QCoreApplication::sendPostedEvents(m_page, 0);
    QCOMPARE(Dialog().Progress()->value(), 100);
    QVERIFY(Dialog().OkButton()->isEnabled());
    QCOMPARE(m_page->Reader().Calibration().Progress().taken, 200);  // no more than wanted
}

// An earlier collection's candidates must not leak into the next one
// through a report event that was already queued when "Calc. Thres." came.
void ObjectInfoPageTest::reportsQueuedBeforeCalcAddNothing() {
    MakeCalibratingPage(true);
    Button(*m_page, oi::kCalcThresholdButton)->click();
    for (int i = 0; i < 201; ++i) Feed(*m_page, 0, 0, 60000);
    QCoreApplication::sendPostedEvents(m_page, 0);
    Dialog().CancelButton()->click();

    Feed(*m_page, 0, 0, 60000);  // its event waits in the queue
    Button(*m_page, oi::kCalcThresholdButton)->click();
    QCoreApplication::sendPostedEvents(m_page, 0);
    QCOMPARE(m_page->Reader().Calibration().Progress().taken, 0);
    FeedAndHandle(1);
    const CalibrationProgress progress = m_page->Reader().Calibration().Progress();
    QVERIFY(Near(progress.trigger[0], kTriggerFrom100));
    QVERIFY(Near(progress.hold[9], kHoldFrom100));
}

void ObjectInfoPageTest::applyAgainstARefusingModuleSaysSoAndReadsAgain() {
    m_module = std::make_unique<ConnectedModule>(std::set{emulator::Fault::FailingStatus});
    QVERIFY(m_module->opened);
    MakePage(&m_module->session);
    Button(*m_page, oi::kCalcThresholdButton)->click();
    // Accepting is what enables Apply; the averages here are of nothing.
    m_page->OnSensingCollectorDlgOK(0);
    Dialog().hide();
    QVERIFY(m_page->Control(oi::kApplyThresholdButton)->isEnabled());
    Button(*m_page, oi::kApplyThresholdButton)->click();
    QVERIFY(QTest::qWaitFor([&] { return !m_prompt->messages.empty(); }, 10000));
    ExpectOnePrompt(QStringLiteral("Failed to set threshold"), QStringLiteral("Error"),
                    PromptIcon::Error);
    QVERIFY(m_page->IsRunning());
    QVERIFY(m_page->Reader().IsRunning());
    // The parameter set keeps what was copied into it.
    QCOMPARE(SessionParams().TriggerThreshold[0], m_page->TriggerThresholds()[0]);
}

void ObjectInfoPageTest::hidingThePageEndsTheCollection() {
    MakeCalibratingPage(false);
    Button(*m_page, oi::kCalcThresholdButton)->click();
    QVERIFY(Dialog().isVisible());
    m_page->hide();
    QVERIFY(!Dialog().isVisible());
    QVERIFY(!m_page->Reader().Calibration().IsRunning());
    QVERIFY(m_window->isEnabled());
    QVERIFY(!m_page->IsRunning());
}

// KVEL_COLLECTOR_SCREENSHOT=path: the threshold dialog halfway through a
// collection against a module of constant energy, as a PNG.
void ObjectInfoPageTest::screenshotOfTheDialogMidCollection() {
    const char* target = std::getenv("KVEL_COLLECTOR_SCREENSHOT");
    if (!target) QSKIP("KVEL_COLLECTOR_SCREENSHOT names no file");
    if (std::getenv("KVEL_SCREENSHOT_CHINESE")) SetUiLanguage(UiLanguage::Chinese);
    MakeCalibratingPage(true);
    Button(*m_page, oi::kCalcThresholdButton)->click();
    FeedAndHandle(60);
    for (int i = 0; i < 60; ++i) Feed(*m_page, 0, 0, 180);
    QCoreApplication::sendPostedEvents(m_page, 0);
    Dialog().List()->setCurrentItem(Dialog().List()->topLevelItem(2));
    QVERIFY(QTest::qWaitForWindowExposed(&Dialog()));
    QImage picture(Dialog().size(), QImage::Format_RGB32);
    Dialog().render(&picture);
    QVERIFY(picture.save(QString::fromLocal8Bit(target)));
}

int main(int argc, char** argv) {
    int exitCode = 0;
    if (RelaunchFromProgramFolderCopy(argc, argv, &exitCode)) return exitCode;
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ObjectInfoPageTest test;
    return RunQtTestShard(&test, argc, argv);
}

#include "ObjectInfoPageTest.moc"

// The capture page against the module emulator on a pseudo-terminal:
// recording, replay, gate and duration changes, the mended faults, the
// export, settings, and (when asked) its screenshots.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "capture/DataProcessDlg.h"
#include "charts/PageCharts.h"
#include "controls/DigitalEdit.h"
#include "settings/AppConfig.h"
#include "tests/device/PtyModule.h"
#include "tests/support/ConnectedModule.h"
#include "tests/support/PageUnderTest.h"
#include "tests/support/ProgramFolder.h"
#include "tests/support/PromptRecorder.h"
#include "ui/Strings.h"

namespace {

namespace dp = data_process;
using namespace page_chart;

QString Folder() { return QString::fromStdString(TestProgramFolder()); }

qint64 FileSize(const std::wstring& path) {
    return QFileInfo(QString::fromStdWString(path)).size();
}

bool AllZero(const std::vector<double>& samples) {
    return std::all_of(samples.begin(), samples.end(), [](double v) { return v == 0.0; });
}

// The newest frame of a chart slot: what the chart shows.
std::vector<double> Shown(const CWaveWnd* chart, int slot, int count) {
    const std::vector<double> all = chart->Wave(slot).buffer.CopySamples();
    return std::vector<double>(all.end() - count, all.end());
}

}  // namespace

class DataProcessPageTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void recordReplayAndGateChanges();
    void lateEndOfAnEarlierRunStopsNothing();
    void durationFiveBecomesTenAndClearsTheCharts();
    void unreadableReplayFileEndsTheRunAndSaysSo();
    void unwritableFolderStillChartsAndSaysSoOnce();
    void everyStopKeepsEveryByteRead();
    void tooltipsExportAndNoConnection();
    void settingsAtTeardownHoldTheDefaults();
    void screenshots();

private:
    void MakePage(CRadarSession* session);
    const RadarParamSet& SessionParams() const { return m_session->Params().Values(); }
    QAbstractButton* Button(int id) { return qobject_cast<QAbstractButton*>(m_page->Control(id)); }
    // Waits (handling events) until the page's run has ended.
    bool WaitForEnd(int ms = 30000) {
        return QTest::qWaitFor([&] { return !m_page->IsRunning(); }, ms);
    }
    void SelectGate(int gate) { m_page->GateList()->setCurrentIndex(gate); }

    RadarParamSet m_params;
    CRadarSession m_idleSession;  // never connected
    CRadarSession* m_session = nullptr;
    std::unique_ptr<PromptRecorder> m_prompt;
    std::unique_ptr<ConnectedModule> m_module;
    std::unique_ptr<QWidget> m_window;
    CDataProcessDlg* m_page = nullptr;
};

void DataProcessPageTest::init() {
    StartPageTestSettings();
    m_params = RadarParamSet();
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        m_params.TriggerThreshold[gate] = 36.0 - gate * 0.5;
        m_params.HoldThreshold[gate] = 30.0 - gate * 0.5;
    }
    m_prompt = std::make_unique<PromptRecorder>();
    m_module = std::make_unique<ConnectedModule>();
    QVERIFY(m_module->opened);
}

void DataProcessPageTest::cleanup() {
    if (m_page) m_page->Teardown();
    m_window.reset();
    m_page = nullptr;
    m_module.reset();
    m_prompt.reset();
}

void DataProcessPageTest::MakePage(CRadarSession* session) {
    m_page = new CDataProcessDlg();
    m_session = session;
    m_session->Params().Set(m_params);
    QVERIFY(ShowPageInWindow(m_page, m_session, &m_window));
    QVERIFY(m_page->EnergyChart() && m_page->DistanceChart() && m_page->DurationField());
}

void DataProcessPageTest::recordReplayAndGateChanges() {
    AppConfigSection(app_config::kDataProcess).SetAttribute(app_config::kDpScanTime, "10");
    MakePage(&m_module->session);
    device_test::DiagnosticsRecorder log;
    Button(dp::kCaptureButton)->click();
    QVERIFY(m_page->IsRunning());
    QCOMPARE(Button(dp::kCaptureButton)->text(), QStringLiteral("Stop Capture"));
    QVERIFY(!m_page->Control(dp::kLoadButton)->isEnabled());
    QVERIFY(!m_page->GateList()->isEnabled());
    // Ends by itself after the 100th report.
    QVERIFY(WaitForEnd());
    QCOMPARE(m_page->Scan().Count(), 100);
    QCOMPARE(Button(dp::kCaptureButton)->text(), QStringLiteral("Capture Data"));
    QVERIFY(m_page->Control(dp::kLoadButton)->isEnabled());
    const std::wstring file = m_page->Scan().FilePath();
    QCOMPARE(FileSize(file), qint64(m_page->Scan().BytesRead()));
    QVERIFY(QFileInfo(QString::fromStdWString(file)).path() == Folder() + "/SaveData");
    QFile side(QString::fromStdWString(RadarDataSidePath(file)));
    QVERIFY(side.open(QIODevice::ReadOnly));
    QVERIFY(side.readAll().contains("ModuleSerialNumber=\"ZQ05-0000-0001\""));
    QVERIFY(log.Text().find("Start Noise scan.\r\n") != std::string::npos);
    QVERIFY(log.Text().find("Stop Noise scan.\r\n") != std::string::npos);
    const CaptureSeries recorded = m_page->Scan().CopySeries();
    QCOMPARE(Shown(m_page->EnergyChart(), 0, 100), recorded.energy);
    QCOMPARE(Shown(m_page->DistanceChart(), 0, 100), recorded.distance);
    QCOMPARE(Shown(m_page->EnergyChart(), 1, 100), std::vector<double>(100, 36.0));
    // The progress takes each scale, below the titles and left of the legend.
    for (double scale : {1.6, 1.0}) {
        m_page->SetScaleFactor(scale);
        m_page->SetupCharts();
        const CWaveWnd& energy = *m_page->EnergyChart();
        QCOMPARE(energy.AnnotationPointSize(dp::kProgressKey), double(int(9 * scale)));
        const KRect note = energy.AnnotationBounds(dp::kProgressKey);
        for (int key : {kTitleKey, kValueAxisNameKey, kLegendKey, kLegendKey + 1})
            QVERIFY(!note.IsEmpty() && (note.top >= energy.AnnotationBounds(key).bottom ||
                                        note.right <= energy.AnnotationBounds(key).left));
    }
    m_page->hide();  // another page: nothing runs, so nothing is told
    m_page->show();
    QCOMPARE(log.Text().rfind("Stop Noise"), log.Text().find("Stop Noise"));

    // A gate change after a recording clears the charts and records nothing.
    SelectGate(4);
    QVERIFY(!m_page->IsRunning());
    QVERIFY(AllZero(Shown(m_page->EnergyChart(), 0, 100)));
    QVERIFY(AllZero(Shown(m_page->DistanceChart(), 0, 100)));
    QCOMPARE(Shown(m_page->EnergyChart(), 2, 100), std::vector<double>(100, 28.0));
    SelectGate(0);

    // The first "Load Data" proposes RadarData.dat in the save folder.
    m_prompt->openAnswers.push_back(QString::fromStdWString(file));
    Button(dp::kLoadButton)->click();
    QCOMPARE(m_prompt->fileRequests.back().initialPath, Folder() + "/SaveData/RadarData.dat");
    QVERIFY(WaitForEnd());
    QCOMPARE(m_page->LoadMode(), CaptureMode::Replay);
    QCOMPARE(m_page->Scan().CopySeries().energy, recorded.energy);
    QCOMPARE(m_page->Scan().CopySeries().distance, recorded.distance);

    // A gate change after a replay replays the file from its start.
    const int runs = m_page->Scan().RunId();
    SelectGate(3);
    QCOMPARE(m_page->Scan().RunId(), runs + 1);
    QVERIFY(WaitForEnd());
    QCOMPARE(m_page->Scan().Count(), 100);
    QCOMPARE(m_page->Scan().CopySeries().distance, recorded.distance);
    QCOMPARE(Shown(m_page->EnergyChart(), 1, 100), std::vector<double>(100, 34.5));
    QVERIFY(m_prompt->messages.empty());
}

// The mended fault: an earlier run's end, still queued when a new run has
// started, used to stop the new one.
void DataProcessPageTest::lateEndOfAnEarlierRunStopsNothing() {
    AppConfigSection(app_config::kDataProcess).SetAttribute(app_config::kDpScanTime, "10");
    MakePage(&m_module->session);
    const QString empty = Folder() + "/empty.dat";
    QFile(empty).open(QIODevice::WriteOnly);
    m_prompt->openAnswers.push_back(empty);
    Button(dp::kLoadButton)->click();
    // The replay ends at once; its end waits in the queue.
    while (m_page->Scan().IsRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    m_page->StopRun();
    m_page->OnCaptureButton();  // a recording: runs for 100 reports
    QCoreApplication::sendPostedEvents(m_page, 0);
    QVERIFY(m_page->IsRunning());
    QVERIFY(m_page->Scan().IsRunning());
    QCOMPARE(Button(dp::kCaptureButton)->text(), QStringLiteral("Stop Capture"));
}

void DataProcessPageTest::durationFiveBecomesTenAndClearsTheCharts() {
    MakePage(&m_module->session);
    QCOMPARE(m_page->Scan().Capacity(), 200);  // the default 20 s
    m_page->EnergyChart()->Append(0, std::vector<double>(200, 7.0).data(), 200);
    CDigitalEdit* field = m_page->DurationField();
    field->setFocus();
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, "5");
    QTest::keyClick(field, Qt::Key_Tab);
    QCOMPARE(field->text(), QStringLiteral("10"));
    QCOMPARE(m_page->ScanSeconds(), 10);
    QCOMPARE(m_page->Scan().Capacity(), 100);
    for (CWaveWnd* chart : {m_page->EnergyChart(), m_page->DistanceChart()}) {
        QCOMPARE(chart->SampleCount(), 100);
        QCOMPARE(chart->SampleMax(), 10.0);
        QVERIFY(AllZero(Shown(chart, 0, 100)));
    }
}

void DataProcessPageTest::unreadableReplayFileEndsTheRunAndSaysSo() {
    MakePage(&m_module->session);
    const QString missing = Folder() + "/no-such-file.dat";
    m_prompt->openAnswers.push_back(missing);
    Button(dp::kLoadButton)->click();
    QVERIFY(WaitForEnd(5000));
    QVERIFY(m_page->Control(dp::kCaptureButton)->isEnabled());
    QVERIFY(m_page->GateList()->isEnabled());
    QCOMPARE(m_prompt->messages.size(), size_t(1));
    QCOMPARE(m_prompt->messages[0].text, QStringLiteral("Cannot open the file ") + missing);
    QCOMPARE(m_prompt->messages[0].caption, QStringLiteral("Error"));
    QCOMPARE(m_prompt->messages[0].icon, PromptIcon::Error);
}

void DataProcessPageTest::unwritableFolderStillChartsAndSaysSoOnce() {
    MakePage(&m_module->session);
    QFile(Folder() + "/plain-file").open(QIODevice::WriteOnly);
    m_page->FolderField()->setText(Folder() + "/plain-file/scans");  // cannot be made
    Button(dp::kCaptureButton)->click();
    QVERIFY(QTest::qWaitFor([&] { return m_page->Scan().Count() >= 15; }, 10000));
    QVERIFY(m_page->IsRunning());
    QVERIFY(!AllZero(m_page->Scan().CopySeries().energy));
    QVERIFY(!AllZero(Shown(m_page->EnergyChart(), 0, 200)));
    Button(dp::kCaptureButton)->click();
    QCoreApplication::sendPostedEvents(m_page, 0);  // anything the stopped run still posted
    QCOMPARE(m_prompt->messages.size(), size_t(1));
    QVERIFY(m_prompt->messages[0].text.contains("no file is being written"));
    QVERIFY(m_page->EnergyChart()->AnnotationText(dp::kProgressKey).contains("(no file written)"));
}

void DataProcessPageTest::everyStopKeepsEveryByteRead() {
    MakePage(&m_module->session);
    CNoiseScan& scan = m_page->Scan();
    auto recordAWhile = [&] {
        Button(dp::kCaptureButton)->click();
        return QTest::qWaitFor([&] { return scan.Count() >= 5; }, 10000);
    };
    QVERIFY(recordAWhile());
    Button(dp::kCaptureButton)->click();  // Stop Capture
    QCOMPARE(FileSize(scan.FilePath()), qint64(scan.BytesRead()));
    QVERIFY(recordAWhile());
    m_page->hide();
    QVERIFY(!m_page->IsRunning() && !scan.IsRunning());
    QCOMPARE(FileSize(scan.FilePath()), qint64(scan.BytesRead()));
    m_page->show();
    QVERIFY(recordAWhile());
    m_page->Teardown();
    QVERIFY(!scan.IsRunning());
    QCOMPARE(FileSize(scan.FilePath()), qint64(scan.BytesRead()));
    QVERIFY(scan.BytesRead() > 0);
}

void DataProcessPageTest::tooltipsExportAndNoConnection() {
    MakePage(&m_idleSession);
    QCOMPARE(m_page->GetTooltipText(0, 125, 0, 200, 31.46, 0),
             QStringLiteral("No. 12.5s Target Energy: 31.5 dB"));
    QCOMPARE(m_page->GetTooltipText(2, 10, 0, 200, 20, 0),
             QStringLiteral("No. 1.0s Hold Energy: 20.0 dB"));
    QCOMPARE(m_page->GetTooltipText(0, 3, 0, 200, 2.1, 1), QStringLiteral("No.0.3s Range: 2.1 m"));
    QVERIFY(m_page->GetTooltipText(1, 3, 0, 200, 2.1, 1).isEmpty());

    Button(dp::kCaptureButton)->click();
    QVERIFY(!m_page->IsRunning());
    QCOMPARE(m_prompt->messages.back().text, LoadStringW(10103));

    // The charts' menu exports both series.
    std::unique_ptr<QMenu> menu(m_page->DistanceChart()->CreateContextMenu(nullptr));
    QAction* item = menu->actions().back();
    QCOMPARE(item->text(), QStringLiteral("Export data as CSV…"));
    const QString csv = Folder() + "/series.csv";
    m_prompt->saveAnswers.push_back(csv);
    item->trigger();
    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 202);  // header, 200 samples, nothing after the last line end
    QCOMPARE(lines[0], QByteArray("index,time_s,energy_dB,distance_m"));
    QCOMPARE(lines[125], QByteArray("124,12.4,0.00,0.0"));
    m_prompt->saveAnswers.push_back(Folder() + "/no-folder/series.csv");
    item->trigger();
    QVERIFY(m_prompt->messages.back().text.startsWith("Failed to export the data to "));
    m_page->Teardown();
}

void DataProcessPageTest::settingsAtTeardownHoldTheDefaults() {
    MakePage(&m_module->session);
    QCOMPARE(m_page->FolderField()->text(), Folder() + "/SaveData");
    // "..." starts at the field's folder; a cancelled choice changes nothing.
    Button(dp::kBrowseButton)->click();
    QCOMPARE(m_prompt->fileRequests.back().initialPath, Folder() + "/SaveData");
    QCOMPARE(m_page->FolderField()->text(), Folder() + "/SaveData");
    m_page->Teardown();
    QFile file(Folder() + "/appConfig.xml");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString saved = QString::fromUtf8(file.readAll());
    QVERIFY(saved.contains(QLatin1String("<DataProcess ")));
    for (const QString& entry :
         {QStringLiteral("EnergyWaveWnd_BkColor=\"0x00000000\""),
          QStringLiteral("EnergyWaveWnd_ValueAutoScale=\"0\""),
          QStringLiteral("EnergyWaveWnd_ValueDisplayMax=\"100\""),
          QStringLiteral("EnergyWaveWnd_WaveLineWidth=\"5\""),
          QStringLiteral("DistanceWaveWnd_BkColor=\"0x00000000\""),
          QStringLiteral("DistanceWaveWnd_WaveLineWidth=\"5\""), QStringLiteral("ScanTime=\"20\""),
          QStringLiteral("SaveFilePath=\"%1/SaveData\"").arg(Folder())})
        QVERIFY2(saved.contains(entry), qPrintable(entry));

    // Cut between characters: 257 bytes and a 3-byte one would pass 259.
    MakePage(&m_module->session);
    m_page->FolderField()->setText(QString(257, 'x') + QString::fromUtf8("\xE4\xB8\xAD/more"));
    m_page->Teardown();
    file.close();
    QVERIFY(file.open(QIODevice::ReadOnly) &&
            file.readAll().contains("SaveFilePath=\"" + QByteArray(257, 'x') + "\""));
}

// KVEL_CAPTURE_SCREENSHOTS=folder: capture-recording.png during a recording
// and capture-replay.png after its replay (KVEL_SCREENSHOT_CHINESE=1: Chinese).
void DataProcessPageTest::screenshots() {
    const char* folder = std::getenv("KVEL_CAPTURE_SCREENSHOTS");
    if (!folder) QSKIP("KVEL_CAPTURE_SCREENSHOTS names no folder");
    if (std::getenv("KVEL_SCREENSHOT_CHINESE")) SetUiLanguage(UiLanguage::Chinese);
    AppConfigSection(app_config::kDataProcess).SetAttribute(app_config::kDpScanTime, "30");
    MakePage(&m_module->session);
    auto save = [&](const char* name) {
        QTest::qWait(200);
        QImage picture(m_window->size(), QImage::Format_RGB32);
        m_window->render(&picture);
        QVERIFY(picture.save(QDir(QString::fromLocal8Bit(folder)).filePath(name)));
    };
    Button(dp::kCaptureButton)->click();
    QVERIFY(QTest::qWaitFor([&] { return m_page->Scan().Count() >= 180; }, 60000));
    save("capture-recording.png");
    QVERIFY(WaitForEnd(60000));
    m_prompt->openAnswers.push_back(QString::fromStdWString(m_page->Scan().FilePath()));
    SelectGate(2);
    Button(dp::kLoadButton)->click();
    QVERIFY(WaitForEnd());
    save("capture-replay.png");
}

int main(int argc, char** argv) {
    int exitCode = 0;
    if (RelaunchFromProgramFolderCopy(argc, argv, &exitCode)) return exitCode;
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    DataProcessPageTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "DataProcessPageTest.moc"

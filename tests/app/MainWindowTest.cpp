// The main window against the module emulator on a pseudo-terminal: start-up
// and language, the connection panel, page switching, resizing, keys that
// must close nothing, tear-down and the program stopped by a signal.
#include <csignal>
#include <map>
#include <memory>
#include <set>
#include <string>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/App.h"
#include "app/MainDlg.h"
#include "app/SignalClose.h"
#include "app/StartOptions.h"
#include "common/KVEL_Common.h"
#include "connection/RadarConnection.h"
#include "controls/ColorStatic.h"
#include "controls/DigitalEdit.h"
#include "controls/SkinButton.h"
#include "emulator/ModuleEmulator.h"
#include "settings/AppConfig.h"
#include "tests/device/PtyModule.h"
#include "tests/support/ProgramFolder.h"
#include "tests/support/PromptRecorder.h"
#include "tests/support/QtTestShards.h"
#include "ui/Strings.h"

namespace {

QString SettingsPath() {
    return QDir(QString::fromStdString(TestProgramFolder())).filePath("appConfig.xml");
}

QByteArray ReadSettingsFile() {
    QFile file(SettingsPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A fresh program folder and settings document, optionally with a file.
void StartWithSettings(const QByteArray* content) {
    ResetTestProgramFolder();
    gAppConfig.Clear();
    if (content) {
        QFile file(SettingsPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(*content);
    }
    ReadSettingsAndChooseLanguage();
}

template <typename T>
T* ControlAs(CKVEL_ZorviRQ05_SB03ToolDlg& dlg, int id) {
    auto* control = qobject_cast<T*>(dlg.Control(id));
    if (!control) qWarning("control %d missing or of another kind", id);
    return control;
}

bool SelectPort(CKVEL_ZorviRQ05_SB03ToolDlg& dlg, int portNumber) {
    QComboBox* list = ControlAs<QComboBox>(dlg, main_dlg::kPortList);
    if (!list) return false;
    const int index = list->findData(portNumber);
    list->setCurrentIndex(index);
    return index >= 0;
}

// Every descendant's geometry and font, to compare a layout before and after.
struct Layout {
    std::map<QWidget*, QRect> rects;
    std::map<QWidget*, int> fontPixels;  // the height the font is drawn at
};

Layout TakeLayout(QWidget& window) {
    Layout layout;
    for (QWidget* child : window.findChildren<QWidget*>()) {
        if (child->isWindow()) continue;  // pop-ups live apart
        layout.rects[child] = child->geometry();
        layout.fontPixels[child] = QFontInfo(child->font()).pixelSize();
    }
    return layout;
}

void CompareLayouts(const Layout& before, const Layout& after) {
    // Widgets a page makes later (tips, chart parts) have no earlier place.
    for (const auto& [widget, rect] : before.rects) {
        QVERIFY(after.rects.count(widget));
        if (after.rects.at(widget) != rect)
            qWarning() << widget->objectName() << widget->metaObject()->className() << rect
                       << after.rects.at(widget);
        QCOMPARE(after.rects.at(widget), rect);
        QCOMPARE(after.fontPixels.at(widget), before.fontPixels.at(widget));
    }
}

bool ResizeAndWait(QWidget& window, QSize size) {
    window.resize(size);
    return QTest::qWaitFor([&] { return window.size() == size; }, 5000);
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<emulator::ModuleEmulator> m_module;

    void StartModule(std::set<emulator::Fault> faults = {}, int port = 0,
                     uint64_t hangUpAtCommand = 0) {
        emulator::Options options;
        options.realTiming = true;
        options.faults = std::move(faults);
        options.port = port;
        options.hangUpAtCommand = hangUpAtCommand;
        m_module = std::make_unique<emulator::ModuleEmulator>(options);
        std::string error;
        QVERIFY2(m_module->Start(&error), error.c_str());
    }

    void Connect(CKVEL_ZorviRQ05_SB03ToolDlg& dlg, PromptRecorder& prompts) {
        dlg.RefreshPorts();
        QVERIFY(SelectPort(dlg, m_module->PortNumber()));
        dlg.OnConnectButton();
        QVERIFY2(prompts.messages.empty(),
                 qPrintable(prompts.messages.empty() ? QString() : prompts.messages.front().text));
        QVERIFY(dlg.IsConnected());
    }

    // After the line went: the panel offers Connect, no version, no
    // message box, the realtime page's lamp and range text clear, and the
    // log says so once.
    void ExpectLostLineShown(CKVEL_ZorviRQ05_SB03ToolDlg& dlg, PromptRecorder& prompts,
                             device_test::DiagnosticsRecorder& log) {
        QAbstractButton* button = ControlAs<QAbstractButton>(dlg, main_dlg::kConnectButton);
        QVERIFY(QTest::qWaitFor([&] { return button->text() == LoadStringW(10100); }, 10000));
        QLabel* version = ControlAs<QLabel>(dlg, main_dlg::kVersionText);
        QVERIFY(!version->isVisible());
        QVERIFY(version->text().isEmpty());
        QVERIFY(!dlg.IsConnected());
        QVERIFY(!dlg.RealtimePage().IsRunning());
        QVERIFY(!dlg.CapturePage().IsRunning());
        QCOMPARE(dlg.RealtimePage().Indicator()->GetCheck(), 0);
        QVERIFY(dlg.RealtimePage().RangeText()->text().isEmpty());
        QVERIFY(prompts.messages.empty());
        const std::string text = log.Text();
        const size_t first = text.find("was lost");
        QVERIFY2(first != std::string::npos, text.c_str());
        QVERIFY(text.find("was lost", first + 1) == std::string::npos);
    }

private slots:
    void init() {
        StartWithSettings(nullptr);
        SetUiLanguage(UiLanguage::English);
    }
    void cleanup() { m_module.reset(); }

    void firstStartWritesDeclarationAndRootElement() {
        StartWithSettings(nullptr);
        const QByteArray content = ReadSettingsFile();
        QVERIFY(content.startsWith("<?xml"));
        QVERIFY(content.contains("<AppConfig"));
        QCOMPARE(CurrentUiLanguage(), SystemUiLanguage());
    }

    void languageSettingIsMappedWithoutRegardToCase() {
        QCOMPARE(LanguageNameFromSetting("eng"), std::string("en-US"));
        QCOMPARE(LanguageNameFromSetting("CHS"), std::string("zh-cn"));
        QCOMPARE(LanguageNameFromSetting("cHt"), std::string("zh-tw"));
        QCOMPARE(LanguageNameFromSetting("de-DE"), std::string("de-DE"));
        QCOMPARE(LanguageNameFromSetting(std::string(40, 'x').c_str()), std::string(31, 'x'));
        // Cut at 31 characters, not bytes, and never inside a character.
        const std::string wide = std::string(30, 'x') + "\xE4\xB8\xAD\xE6\x96\x87";
        QCOMPARE(LanguageNameFromSetting(wide.c_str()), std::string(30, 'x') + "\xE4\xB8\xAD");
        QCOMPARE(LanguageNameFromSetting(""), std::string());
        QCOMPARE(LanguageNameFromSetting(nullptr), std::string());
    }

    void lowerCaseRootAndLanguageChooseChineseWithoutRewrite() {
        const QByteArray content =
            "<?xml version=\"1.0\"?>\n<appconfig Language=\"chs\" BaudRate=\"57600\" />\n";
        StartWithSettings(&content);
        QCOMPARE(CurrentUiLanguage(), UiLanguage::Chinese);
        QCOMPARE(ReadSettingsFile(), content);

        // The window reads the lower-case element and speaks Chinese.
        PromptRecorder prompts;
        CKVEL_ZorviRQ05_SB03ToolDlg dlg;
        QCOMPARE(ControlAs<QLineEdit>(dlg, main_dlg::kBaudRateField)->text(), QString("57600"));
        QCOMPARE(ControlAs<QAbstractButton>(dlg, main_dlg::kConnectButton)->text(),
                 QString::fromUtf8("连接设备"));
    }

    void emptyLanguageKeepsTheSystemChoice() {
        for (const char* language : {"", "de-DE", "garbage"}) {
            const QByteArray content =
                QByteArray("<?xml version=\"1.0\"?>\n<AppConfig Language=\"") + language +
                "\" />\n";
            SetUiLanguage(SystemUiLanguage() == UiLanguage::English ? UiLanguage::Chinese
                                                                    : UiLanguage::English);
            StartWithSettings(&content);
            QCOMPARE(CurrentUiLanguage(), SystemUiLanguage());
        }
    }

    void setUpShowsParameterPageDisconnected() {
        PromptRecorder prompts;
        CKVEL_ZorviRQ05_SB03ToolDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QVERIFY(dlg.windowTitle().startsWith("KVEL_ZorviRQ05_SB03Tool(v"));
        QVERIFY(!dlg.windowIcon().isNull());
        QVERIFY(dlg.ParamPage().isVisible());
        QVERIFY(!dlg.RealtimePage().isVisible());
        QVERIFY(!dlg.CapturePage().isVisible());
        QVERIFY(!dlg.FirmwarePage().isVisible());
        QVERIFY(!dlg.Control(main_dlg::kPagePlaceholder)->isVisible());
        QVERIFY(!dlg.Control(main_dlg::kVersionText)->isVisible());
        QVERIFY(ControlAs<QAbstractButton>(dlg, main_dlg::kParamPageButton)->isChecked());
        QCOMPARE(ControlAs<QLineEdit>(dlg, main_dlg::kBaudRateField)->text(), QString("115200"));
        QCOMPARE(dlg.ParamPage().geometry(), dlg.Control(main_dlg::kPagePlaceholder)->geometry());
        QCOMPARE(dlg.FirmwarePage().geometry(), dlg.ParamPage().geometry());
        QVERIFY(dlg.ResizeTool().IsEnabled());
        QVERIFY(!dlg.IsConnected());
        QVERIFY(QDir(QString::fromStdString(TestProgramFolder()) + "/Log").exists());
    }

    // The shared parameter set starts from the settings before any page
    // shows it; what the section lacks keeps its default.
    void parameterSettingsAreLoadedAtStartUp() {
        const QByteArray settings =
            "<?xml version=\"1.0\"?>\n<AppConfig>\n"
            "<ParamSetting GateMax=\"9\" HoldGate2Threshold=\"44.50\"/>\n</AppConfig>\n";
        StartWithSettings(&settings);
        CKVEL_ZorviRQ05_SB03ToolDlg dlg;
        QCOMPARE(dlg.Params().GateMax, 9);
        QCOMPARE(dlg.Params().HoldThreshold[2], 44.5);
        QCOMPARE(dlg.Params().ObjectDisappearDelayTime, 10);
        QCOMPARE(dlg.ParamPage().Field(2002)->text(), QString("9"));
        QCOMPARE(dlg.ParamPage().Field(2032)->text(), QString("44.5"));
    }

    void portListShowsNumbersAndDevicePaths() {
        StartModule();
        PromptRecorder prompts;
        CKVEL_ZorviRQ05_SB03ToolDlg dlg;
        QComboBox* list = ControlAs<QComboBox>(dlg, main_dlg::kPortList);
        const QString name = QString("COM%1").arg(m_module->PortNumber());
        const int index = list->findText(name);
        QVERIFY(index >= 0);
        QCOMPARE(list->itemData(index).toInt(), m_module->PortNumber());
        QCOMPARE(list->itemData(index, Qt::ToolTipRole).toString(),
                 QString::fromStdString(m_module->DevicePath()));
        QCOMPARE(list->currentIndex(), 0);
        // The closed box names the chosen port's device too.
        QVERIFY(dlg.SelectPort(m_module->PortNumber()));
        QCOMPARE(list->toolTip(), QString::fromStdString(m_module->DevicePath()));

        QCOMPARE(PortNumberFromName("COM12"), 12);
        QCOMPARE(PortNumberFromName("COM"), 0);
        QCOMPARE(PortNumberFromName("USBx"), 0);
        QCOMPARE(PortNumberFromName("CO"), 0);
        QCOMPARE(PortNumberFromName("COM99999999999"), 0);
        QCOMPARE(SignedIntegerFromText(" 9600 "), 9600);
        QCOMPARE(SignedIntegerFromText("-5"), -5);
        QCOMPARE(SignedIntegerFromText("abc"), 0);
        QCOMPARE(SignedIntegerFromText("12abc"), 0);
        QCOMPARE(SignedIntegerFromText("99999999999"), 0);
    }

    void connectShowsVersionAndLeavesDataTransferMode() {
        StartModule();
        PromptRecorder prompts;
        CKVEL_ZorviRQ05_SB03ToolDlg dlg;
        dlg.show();
        Connect(dlg, prompts);

        QLabel* version = ControlAs<QLabel>(dlg, main_dlg::kVersionText);
        QCOMPARE(version->text(), QString::fromUtf8("Version：V1.2.0.5\r\nSN:ZQ05-0000-0001"));
        QVERIFY(version->isVisible());
        QCOMPARE(ControlAs<QAbstractButton>(dlg, main_dlg::kConnectButton)->text(),
                 LoadStringW(10101));
        QCOMPARE(m_module->OperatingMode(), 101u);
        QVERIFY(!m_module->InCommandMode());
        for (int gate = 0; gate < kRadarGateCount; ++gate) {
            QCOMPARE(dlg.RealtimePage().TriggerThresholds()[gate],
                     dlg.Params().TriggerThreshold[gate]);
            QCOMPARE(dlg.RealtimePage().HoldThresholds()[gate], dlg.Params().HoldThreshold[gate]);
        }
        QVERIFY(ReadSettingsFile().contains("BaudRate=\"115200\""));

        // Refreshing keeps the connection; the button disconnects.
        dlg.RefreshPorts();
        QVERIFY(dlg.IsConnected());
        dlg.OnConnectButton();
        QVERIFY(prompts.messages.empty());
        QVERIFY(!dlg.IsConnected());
        QCOMPARE(m_module->OperatingMode(), 100u);
        QVERIFY(!version->isVisible());
        QCOMPARE(ControlAs<QAbstractButton>(dlg, main_dlg::kConnectButton)->text(),
                 LoadStringW(10100));
    }

    void startOptionsChooseThePortAndConnect() {
        const StartCommandLine wrong = ReadStartCommandLine({"tool", "--port", "x"});
        QVERIFY(!wrong.run);
        QCOMPARE(wrong.exitCode, 64);
        QVERIFY(!ReadStartCommandLine({"tool", "--version"}).run);

        // Two modules: the second is chosen, not merely the first listed.
        emulator::ModuleEmulator other{emulator::Options{}};
        std::string error;
        QVERIFY2(other.Start(&error), error.c_str());
        StartModule();
        const QString name = QString("COM%1").arg(m_module->PortNumber());
        const StartCommandLine line = ReadStartCommandLine({"tool", "--port", name, "--connect"});
        QVERIFY(line.run);
        QCOMPARE(line.options.port, m_module->PortNumber());
        PromptRecorder prompts;
        CKVEL_ZorviRQ05_SB03ToolDlg dlg;
        dlg.show();
        ApplyStartOptions(&dlg, line.options);
        QCOMPARE(ControlAs<QComboBox>(dlg, main_dlg::kPortList)->currentData().toInt(),
                 m_module->PortNumber());
        QTRY_VERIFY(dlg.IsConnected());
        QCOMPARE(m_module->OperatingMode(), 101u);
        QVERIFY(prompts.messages.empty());
    }

    void refusedModesAreReportedAndTheStateStillFollows() {
        StartModule({emulator::Fault::FailingStatus});
        PromptRecorder prompts;
        CKVEL_ZorviRQ05_SB03ToolDlg dlg;
        QVERIFY(SelectPort(dlg, m_module->PortNumber()));
        dlg.OnConnectButton();
        QVERIFY(dlg.IsConnected());  // the port opened: connected all the same
        QCOMPARE(ControlAs<QAbstractButton>(dlg, main_dlg::kConnectButton)->text(),
                 LoadStringW(10101));
        QCOMPARE(prompts.messages.size(), size_t(1));
        QCOMPARE(prompts.messages.back().text, LoadStringW(10106));
        QCOMPARE(prompts.messages.back().caption, LoadStringW(10000));
        QCOMPARE(prompts.messages.back().icon, PromptIcon::Error);
        QVERIFY(!prompts.messages.back().topmost);

        dlg.OnConnectButton();
        QVERIFY(!dlg.IsConnected());  // disconnecting always disconnects
        QCOMPARE(prompts.messages.size(), size_t(2));
        QCOMPARE(prompts.messages.back().text, LoadStringW(10107));
        QCOMPARE(prompts.messages.back().icon, PromptIcon::Error);
        QVERIFY(!prompts.messages.back().topmost);
        QCOMPARE(ControlAs<QAbstractButton>(dlg, main_dlg::kConnectButton)->text(),
                 LoadStringW(10100));
    }

    void connectWithoutPortReportsNoDevice() {
        PromptRecorder prompts;
        CKVEL_ZorviRQ05_SB03ToolDlg dlg;
        ControlAs<QComboBox>(dlg, main_dlg::kPortList)->clear();
        ControlAs<QLineEdit>(dlg, main_dlg::kBaudRateField)->setText("9600");
        dlg.OnConnectButton();
        QCOMPARE(prompts.messages.size(), size_t(1));
        const MessageBoxRequest& message = prompts.messages.front();
        QCOMPARE(message.text, LoadStringW(10102));
        QCOMPARE(message.text, QString("No Device Detected"));
        QCOMPARE(message.caption, LoadStringW(10000));
        QCOMPARE(message.icon, PromptIcon::Error);
        QVERIFY(message.topmost);
        QVERIFY(!dlg.IsConnected());
        QVERIFY(ReadSettingsFile().contains("BaudRate=\"9600\""));
    }

    void lettersInBaudRateConnectWithZero() {
        StartModule();
        PromptRecorder prompts;
        CKVEL_ZorviRQ05_SB03ToolDlg dlg;
        QVERIFY(SelectPort(dlg, m_module->PortNumber()));
        ControlAs<QLineEdit>(dlg, main_dlg::kBaudRateField)->setText("fast");
        dlg.OnConnectButton();
        QCOMPARE(dlg.BaudRate(), 0);
        QVERIFY(!dlg.IsConnected());
        QCOMPARE(prompts.messages.size(), size_t(1));
        QCOMPARE(prompts.messages.front().text, QString("Failed to open device"));
        QVERIFY(prompts.messages.front().topmost);
        QCOMPARE(ControlAs<QAbstractButton>(dlg, main_dlg::kConnectButton)->text(),
                 LoadStringW(10100));
        QVERIFY(ReadSettingsFile().contains("BaudRate=\"0\""));
    }

    void firmwarePageDropsTheConnection() {
        StartModule();
        PromptRecorder prompts;
        CKVEL_ZorviRQ05_SB03ToolDlg dlg;
        dlg.show();
        Connect(dlg, prompts);
        ControlAs<QAbstractButton>(dlg, main_dlg::kFirmwarePageButton)->click();
        QVERIFY(!dlg.IsConnected());
        QCOMPARE(m_module->OperatingMode(), 100u);
        QCOMPARE(ControlAs<QAbstractButton>(dlg, main_dlg::kConnectButton)->text(),
                 QString("Connect"));
        QVERIFY(dlg.FirmwarePage().isVisible());
        QVERIFY(!dlg.ParamPage().isVisible());
        QVERIFY(prompts.messages.empty());

        // Another page does not reconnect; exactly one page is visible.
        ControlAs<QAbstractButton>(dlg, main_dlg::kRealtimePageButton)->click();
        QVERIFY(!dlg.IsConnected());
        QVERIFY(dlg.RealtimePage().isVisible());
        QVERIFY(!dlg.FirmwarePage().isVisible());
        QVERIFY(ControlAs<QAbstractButton>(dlg, main_dlg::kRealtimePageButton)->isChecked());
        QVERIFY(!ControlAs<QAbstractButton>(dlg, main_dlg::kFirmwarePageButton)->isChecked());
    }

    void closingWhileConnectedSendsFunctionModeAndClosesThePort() {
        StartModule();
        PromptRecorder prompts;
        {
            CKVEL_ZorviRQ05_SB03ToolDlg dlg;
            dlg.show();
            Connect(dlg, prompts);
            ControlAs<QLineEdit>(dlg, main_dlg::kBaudRateField)->setText("115201");
            dlg.close();
            QVERIFY(!dlg.isVisible());
            QCOMPARE(m_module->OperatingMode(), 100u);
            QVERIFY(dlg.Session().State() == SessionState::Disconnected);
        }
        // The port is free again: another handle opens it.
        KVEL_RADAR_HANDLE other = KVEL_Interface_RadarDevice_Serial_Create();
        QVERIFY(RadarConnection(other).Open(m_module->PortNumber(), 115200));
        KVEL_Interface_RadarDevice_Serial_Close(other);
        KVEL_Interface_RadarDevice_Serial_Destroy(other);

        const QByteArray settings = ReadSettingsFile();
        QVERIFY(settings.contains("BaudRate=\"115201\""));
        QVERIFY(settings.contains("<ParamSetting"));  // the parameter page saved its section
        // The realtime page's section with its ten keys at their defaults.
        for (const char* entry :
             {"EnergyWaveWnd_ActiveColor=\"0xff000000\"",
              "EnergyWaveWnd_InactiveColor=\"0xbfc3c3c3\"", "EnergyWaveWnd_ValueAutoScale=\"0\"",
              "EnergyWaveWnd_ValueDisplayMax=\"100\"", "EnergyWaveWnd_WaveLineWidth=\"5\"",
              "DistanceWaveWnd_ActiveColor=\"0xffc3c3c3\"",
              "DistanceWaveWnd_InactiveColor=\"0xff000000\"", "DistanceWaveWnd_WaveLineWidth=\"5\"",
              "TriggerSensingScale=\"5.000000\"", "HoldSensingScale=\"3.500000\""})
            QVERIFY2(settings.contains(entry), entry);
        QVERIFY(prompts.messages.empty());
    }

    // The realtime page reads while it is shown and stops when another page
    // is chosen; the module goes back to data transfer mode in between.
    void realtimePageReadsWhileShown() {
        StartModule();
        PromptRecorder prompts;
        CKVEL_ZorviRQ05_SB03ToolDlg dlg;
        dlg.show();
        Connect(dlg, prompts);
        ControlAs<QAbstractButton>(dlg, main_dlg::kRealtimePageButton)->click();
        CObjectInfoDlg& page = dlg.RealtimePage();
        QVERIFY(page.IsRunning());
        QVERIFY(QTest::qWaitFor([&] { return m_module->OperatingMode() == 102u; }));
        const uint64_t sent = m_module->ReportFramesSent();
        QVERIFY(QTest::qWaitFor([&] { return m_module->ReportFramesSent() > sent + 3; }));
        // The module's noise reaches the energy curve.
        QVERIFY(QTest::qWaitFor(
            [&] { return page.EnergyChart()->Wave(0).buffer.CopySamples().back() > 0; }));

        ControlAs<QAbstractButton>(dlg, main_dlg::kParamPageButton)->click();
        QVERIFY(!page.IsRunning());
        QCOMPARE(m_module->OperatingMode(), 101u);
        QVERIFY(prompts.messages.empty());

        // Connecting again starts both charts afresh (the page is not on
        // show, so nothing reads meanwhile).
        dlg.OnConnectButton();
        Connect(dlg, prompts);
        for (double sample : page.EnergyChart()->Wave(0).buffer.CopySamples())
            QCOMPARE(sample, 0.0);
        for (double sample : page.DistanceChart()->Wave(0).buffer.CopySamples())
            QCOMPARE(sample, 0.0);
    }

    // A user's whole round: connect, type a threshold, write it, reconnect
    // and find the module's value in the field again.
    void thresholdWrittenToTheModuleIsReadBackAfterReconnecting() {
        StartModule();
        PromptRecorder prompts;
        CKVEL_ZorviRQ05_SB03ToolDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        Connect(dlg, prompts);

        QLineEdit* gate3 = dlg.ParamPage().Field(2013);
        QVERIFY(gate3);
        gate3->setFocus();
        QVERIFY(QTest::qWaitFor([&] { return gate3->hasFocus(); }, 2000));
        gate3->selectAll();
        QTest::keyClicks(gate3, "42.5");
        QTest::keyClick(gate3, Qt::Key_Tab);
        QCOMPARE(dlg.Params().TriggerThreshold[3], 42.5);

        dlg.ParamPage().OnSetSensorConfig();
        QCOMPARE(prompts.messages.size(), size_t(1));
        QCOMPARE(prompts.messages.back().text, LoadStringW(10152));
        QCOMPARE(m_module->Parameter(0x0013), 17783u);  // round(10^4.25)
        prompts.messages.clear();

        dlg.OnConnectButton();  // disconnect
        QVERIFY(!dlg.IsConnected());
        // Type another value while disconnected: only the module keeps 42.5.
        gate3->setFocus();
        QVERIFY(QTest::qWaitFor([&] { return gate3->hasFocus(); }, 2000));
        gate3->selectAll();
        QTest::keyClicks(gate3, "30");
        QTest::keyClick(gate3, Qt::Key_Tab);
        QCOMPARE(dlg.Params().TriggerThreshold[3], 30.0);

        Connect(dlg, prompts);
        QCOMPARE(gate3->text(), QString("42.5"));
        QVERIFY(qAbs(dlg.Params().TriggerThreshold[3] - 42.5) < 0.01);
    }

    // The module goes while the realtime page reads; once it is back, one
    // click on Connect connects again and the page reads again.
    void lineLostWhileReadingIsShownAndConnectWorksAgain() {
        StartModule();
        PromptRecorder prompts;
        CKVEL_ZorviRQ05_SB03ToolDlg dlg;
        dlg.show();
        Connect(dlg, prompts);
        ControlAs<QAbstractButton>(dlg, main_dlg::kRealtimePageButton)->click();
        CObjectInfoDlg& page = dlg.RealtimePage();
        QVERIFY(QTest::qWaitFor([&] { return m_module->ReportFramesSent() > 3; }));
        QVERIFY(page.IsRunning());

        const int port = m_module->PortNumber();
        device_test::DiagnosticsRecorder log;
        m_module.reset();
        ExpectLostLineShown(dlg, prompts, log);

        StartModule({}, port);
        dlg.OnConnectButton();
        QVERIFY(prompts.messages.empty());
        QVERIFY(dlg.IsConnected());
        QVERIFY(page.IsRunning());
        QVERIFY(QTest::qWaitFor([&] { return m_module->OperatingMode() == 102u; }));
        const uint64_t sent = m_module->ReportFramesSent();
        QVERIFY(QTest::qWaitFor([&] { return m_module->ReportFramesSent() > sent + 2; }));
        QVERIFY(QTest::qWaitFor([&] { return !page.RangeText()->text().isEmpty(); }));
    }

    // A recording keeps every byte it read when the line goes under it.
    void lineLostWhileRecordingKeepsTheFile() {
        StartModule();
        PromptRecorder prompts;
        CKVEL_ZorviRQ05_SB03ToolDlg dlg;
        dlg.show();
        Connect(dlg, prompts);
        ControlAs<QAbstractButton>(dlg, main_dlg::kCapturePageButton)->click();
        CDataProcessDlg& page = dlg.CapturePage();
        page.OnCaptureButton();
        QVERIFY(page.IsRunning());
        QVERIFY(QTest::qWaitFor([&] { return page.Scan().Count() > 3; }));

        device_test::DiagnosticsRecorder log;
        m_module->DisappearLine();
        ExpectLostLineShown(dlg, prompts, log);
        QFile file(QString::fromStdWString(page.Scan().FilePath()));
        QVERIFY(file.exists());
        QVERIFY(page.Scan().BytesRead() > 0);
        QCOMPARE(quint64(file.size()), page.Scan().BytesRead());
    }

    // The line goes in the middle of the parameter page's read: the read
    // fails as the module's absence does, and the panel shows the loss.
    void lineLostDuringAParameterRead() {
        // How many commands a connection takes, so that the module can hang
        // up at the read itself.
        StartModule();
        uint64_t connectCommands = 0;
        {
            PromptRecorder prompts;
            CKVEL_ZorviRQ05_SB03ToolDlg dlg;
            Connect(dlg, prompts);
            connectCommands = m_module->CommandsAnswered();
            dlg.close();
        }
        // The read's command mode, then the read, at which the line goes.
        StartModule({}, 0, connectCommands + 2);
        PromptRecorder prompts;
        CKVEL_ZorviRQ05_SB03ToolDlg dlg;
        dlg.show();
        Connect(dlg, prompts);
        device_test::DiagnosticsRecorder log;
        dlg.ParamPage().OnReadSensorConfig();
        QCOMPARE(prompts.messages.size(), size_t(1));
        QCOMPARE(prompts.messages.front().text, LoadStringW(10103));  // Device Not Connected
        prompts.messages.clear();
        ExpectLostLineShown(dlg, prompts, log);
    }

    void resizingAndRestoringGivesTheLayoutBack() {
        PromptRecorder prompts;
        CKVEL_ZorviRQ05_SB03ToolDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        const QSize reference = dlg.size();
        const Layout before = TakeLayout(dlg);
        QWidget* connect = dlg.Control(main_dlg::kConnectButton);
        const QRect connectBefore = connect->geometry();

        QVERIFY(ResizeAndWait(dlg, QSize(reference.width() * 2, reference.height() * 3 / 2)));
        QCOMPARE(dlg.ScaleFactor(), double(reference.height() * 3 / 2) / reference.height());
        QCOMPARE(dlg.RealtimePage().ScaleFactor(), dlg.ScaleFactor());
        QCOMPARE(dlg.CapturePage().ScaleFactor(), dlg.ScaleFactor());
        QVERIFY(connect->geometry().x() >= connectBefore.x() * 2 - 1);
        QVERIFY(connect->geometry().width() > connectBefore.width());
        QVERIFY(QFontInfo(connect->font()).pixelSize() > before.fontPixels.at(connect));

        QVERIFY(ResizeAndWait(dlg, reference));
        QCOMPARE(dlg.ScaleFactor(), 1.0);
        CompareLayouts(before, TakeLayout(dlg));
    }

    void minimiseAndRestoreKeepControlsInPlace() {
        PromptRecorder prompts;
        CKVEL_ZorviRQ05_SB03ToolDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        const Layout before = TakeLayout(dlg);
        dlg.showMinimized();
        QTest::qWait(50);
        dlg.showNormal();
        QTest::qWait(50);
        CompareLayouts(before, TakeLayout(dlg));
    }

    void enterAndEscapeCloseNothing() {
        PromptRecorder prompts;
        CKVEL_ZorviRQ05_SB03ToolDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QWidget* targets[] = {&dlg,
                              dlg.Control(main_dlg::kBaudRateField),
                              &dlg.ParamPage(),
                              &dlg.RealtimePage(),
                              &dlg.CapturePage(),
                              &dlg.FirmwarePage()};
        for (QWidget* target : targets) {
            for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
                QTest::keyClick(target, key);
        }
        QVERIFY(dlg.isVisible());
        QVERIFY(prompts.messages.empty());

        // The close button still closes.
        dlg.close();
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }

    void interruptSignalClosesTheRunningWindow() {
        struct sigaction before {};
        sigaction(SIGINT, nullptr, &before);
        PromptRecorder prompts;
        {
            CKVEL_ZorviRQ05_SB03ToolDlg dlg;
            ControlAs<QLineEdit>(dlg, main_dlg::kBaudRateField)->setText("38400");
            CSignalClose closeOnSignal(&dlg);
            QVERIFY(closeOnSignal.IsInstalled());
            QTimer::singleShot(0, [] { raise(SIGINT); });
            // Should the signal be lost, the loop ends another way and says so.
            QTimer::singleShot(10000, &dlg, [&dlg] { dlg.QDialog::done(42); });
            dlg.exec();
            QCOMPARE(dlg.result(), int(QDialog::Rejected));
        }
        QVERIFY(ReadSettingsFile().contains("BaudRate=\"38400\""));
        struct sigaction after {};
        sigaction(SIGINT, nullptr, &after);
        QVERIFY(after.sa_handler == before.sa_handler);
    }

    // A signal while a handler's message box is open: the box is answered,
    // the handler finishes with everything still in place, then the window
    // tears down.
    void signalDuringAMessageBoxClosesAfterTheHandlerReturns() {
        PromptRecorder prompts;
        bool deviceThereAfterTheBox = false;
        {
            CKVEL_ZorviRQ05_SB03ToolDlg dlg;
            CSignalClose closeOnSignal(&dlg);
            QTimer::singleShot(0, &dlg, [&] {
                QDialog box(&dlg);
                box.setModal(true);
                QTimer::singleShot(0, [] { raise(SIGTERM); });
                box.exec();
                deviceThereAfterTheBox = !dlg.IsTornDown();
            });
            QTimer::singleShot(10000, &dlg, [&dlg] { dlg.QDialog::done(42); });
            dlg.exec();
            QCOMPARE(dlg.result(), int(QDialog::Rejected));
            QVERIFY(dlg.IsTornDown());
        }
        QVERIFY(deviceThereAfterTheBox);
    }

    void terminationSignalClosesTheProgramAndKeepsSettings() {
        StartModule();
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString program = folder.filePath("KVEL_ZorviRQ05_SB03Tool");
        QVERIFY(QFile::copy(QString(KVEL_TOOL_EXECUTABLE), program));
        wchar_t version[KVEL_MAX_PATH] = {};
        QVERIFY(GetFileVersionW(program.toStdWString().c_str(), version, KVEL_MAX_PATH));
        QCOMPARE(QString::fromWCharArray(version), QString("1.2.1.2"));
        QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner);

        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        tool.setProcessEnvironment(environment);
        tool.setProcessChannelMode(QProcess::ForwardedChannels);
        tool.start(program, {});
        QVERIFY(tool.waitForStarted(5000));
        // The log file appears during the main window's set-up.
        QDir logFolder(folder.filePath("Log"));
        QVERIFY(
            QTest::qWaitFor([&] { return !logFolder.entryList(QDir::Files).isEmpty(); }, 15000));
        QTest::qWait(200);
        tool.terminate();  // SIGTERM
        QVERIFY(tool.waitForFinished(15000));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), 0);

        QFile settings(folder.filePath("appConfig.xml"));
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QVERIFY(settings.readAll().contains("BaudRate=\"115200\""));
        const QStringList logs = logFolder.entryList(QDir::Files);
        QCOMPARE(logs.size(), 1);
        QVERIFY(logs.front().startsWith("ZORVIRQ05_SB03TOOL_"));
    }

    // Writes the connected window in both languages when a folder is given
    // (KVEL_SCREENSHOT_DIR), for the documentation.
    void screenshots() {
        const QString folder = qEnvironmentVariable("KVEL_SCREENSHOT_DIR");
        if (folder.isEmpty()) QSKIP("KVEL_SCREENSHOT_DIR not set");
        StartModule();
        for (auto [language, name] : {std::pair{UiLanguage::English, "main-en.png"},
                                      std::pair{UiLanguage::Chinese, "main-zh.png"}}) {
            SetUiLanguage(language);
            PromptRecorder prompts;
            CKVEL_ZorviRQ05_SB03ToolDlg dlg;
            dlg.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dlg));
            Connect(dlg, prompts);
            QTest::qWait(100);
            QVERIFY(dlg.grab().save(QDir(folder).filePath(name)));
            dlg.close();
        }
        // The realtime page after the module went away under it.
        SetUiLanguage(UiLanguage::English);
        PromptRecorder prompts;
        CKVEL_ZorviRQ05_SB03ToolDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        Connect(dlg, prompts);
        ControlAs<QAbstractButton>(dlg, main_dlg::kRealtimePageButton)->click();
        QVERIFY(QTest::qWaitFor([&] { return m_module->ReportFramesSent() > 30; }));
        m_module.reset();
        QVERIFY(QTest::qWaitFor([&] { return !dlg.RealtimePage().IsRunning(); }, 10000));
        QTest::qWait(300);
        QVERIFY(dlg.grab().save(QDir(folder).filePath("main-line-lost-en.png")));
    }
};

int main(int argc, char** argv) {
    int exitCode = 0;
    if (RelaunchFromProgramFolderCopy(argc, argv, &exitCode)) return exitCode;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    MainWindowTest test;
    return RunQtTestShard(&test, argc, argv);
}

#include "MainWindowTest.moc"

// The firmware page inside the program's main window, against the emulator:
// the port comes from the connection panel, the main window takes no input
// while an operation runs, and the settings written at exit hold the page's
// section.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTextEdit>

#include <memory>

#include "app/App.h"
#include "app/MainDlg.h"
#include "device/RadarProtocol.h"
#include "emulator/ModuleEmulator.h"
#include "firmware/FirmwareTexts.h"
#include "settings/AppConfig.h"
#include "tests/support/ProgramFolder.h"
#include "tests/support/PromptRecorder.h"
#include "ui/Strings.h"

namespace {

namespace rp = radar_protocol;

QString InFolder(const QString& name) {
    return QString::fromStdString(TestProgramFolder()) + "/" + name;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

template <typename T>
T* ControlAs(CKVEL_ZorviRQ05_SB03ToolDlg& dlg, int id) {
    return qobject_cast<T*>(dlg.Control(id));
}

}  // namespace

class FirmwareInMainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        ResetTestProgramFolder();
        gAppConfig.Clear();
        ReadSettingsAndChooseLanguage();
        SetUiLanguage(UiLanguage::English);
    }

    void connectedModuleIsQueriedAndFlashedFromTheFirmwarePage() {
        emulator::Options options;
        options.resetDelay = std::chrono::milliseconds(20);
        emulator::ModuleEmulator module(options);
        std::string error;
        QVERIFY2(module.Start(&error), error.c_str());
        const QByteArray image(3000, '\x5A');
        QFile file(InFolder("app0.bin"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(image) == image.size());
        file.close();

        PromptRecorder prompts;
        auto dlg = std::make_unique<CKVEL_ZorviRQ05_SB03ToolDlg>();
        dlg->show();
        dlg->RefreshPorts();
        QComboBox* ports = ControlAs<QComboBox>(*dlg, main_dlg::kPortList);
        ports->setCurrentIndex(ports->findData(module.PortNumber()));
        dlg->OnConnectButton();
        QVERIFY(dlg->IsConnected());
        ControlAs<QAbstractButton>(*dlg, main_dlg::kFirmwarePageButton)->click();
        QVERIFY(!dlg->IsConnected());

        CDownloadDlg& page = dlg->FirmwarePage();
        QVERIFY(page.PathField());
        page.SetResetWait(std::chrono::milliseconds(200));
        // Connected again from this page, the main connection keeps the
        // port from the page's own, and the page says so.
        dlg->OnConnectButton();
        QVERIFY(dlg->IsConnected());
        page.findChild<QAbstractButton*>("UpdateFWInfoButton")->click();
        QVERIFY(
            QTest::qWaitFor([&] { return !page.IsBusy() && !prompts.messages.empty(); }, 20000));
        QCOMPARE(prompts.messages.back().text, LoadStringW(firmware::kTextPortHeldByUs));
        prompts.messages.clear();
        dlg->OnConnectButton();
        QVERIFY(!dlg->IsConnected());

        page.findChild<QAbstractButton*>("UpdateFWInfoButton")->click();
        QVERIFY(!ports->isEnabled());
        QVERIFY(QTest::qWaitFor([&] { return !page.IsBusy(); }, 20000));
        QVERIFY(ports->isEnabled());
        QCOMPARE(page.RunningModeText()->text(), QString("Current Firmware: App0"));

        page.PathField()->setText(InFolder("app0.bin"));
        page.findChild<QAbstractButton*>("DownloadButton")->click();
        QVERIFY(!ControlAs<QAbstractButton>(*dlg, main_dlg::kConnectButton)->isEnabled());
        QVERIFY(QTest::qWaitFor([&] { return !page.IsBusy(); }, 20000));
        QVERIFY(ControlAs<QAbstractButton>(*dlg, main_dlg::kConnectButton)->isEnabled());
        QVERIFY2(page.Log()->toPlainText().endsWith("Download successful! \n"),
                 qPrintable(page.Log()->toPlainText()));
        const std::vector<uint8_t> held = module.BootImage(rp::kPartitionApp0);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(held.data()), int(held.size())), image);
        QVERIFY(prompts.messages.empty());

        dlg->close();
        dlg.reset();
        QVERIFY(ReadAll(InFolder("appConfig.xml")).contains("<Download"));
    }

    // Texts follow the window's scale; the longest running mode still fits.
    void firmwareTextsScaleWithTheWindow() {
        CKVEL_ZorviRQ05_SB03ToolDlg dlg;
        dlg.show();
        ControlAs<QAbstractButton>(dlg, main_dlg::kFirmwarePageButton)->click();
        CDownloadDlg& page = dlg.FirmwarePage();
        QLabel* mode = page.RunningModeText();
        mode->setText("Current Firmware: BootLoader");
        const auto pixels = [](const QWidget* w) { return QFontInfo(w->font()).pixelSize(); };
        const int modeAt1 = pixels(mode), logAt1 = pixels(page.Log());
        const QSize normal = dlg.size();
        for (double scale : {1.6, 0.75}) {
            dlg.resize(normal * scale);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);  // the skin's
            QCOMPARE(std::pair(pixels(mode) > modeAt1, pixels(page.Log()) > logAt1),
                     std::pair(scale > 1.0, scale > 1.0));
            QVERIFY(mode->width() >= mode->fontMetrics().horizontalAdvance(mode->text()));
        }
    }

    // Writes the main window on its firmware page after a query and a
    // download, in both languages, when a folder is given
    // (KVEL_SCREENSHOT_DIR).
    void screenshots() {
        const QString folder = qEnvironmentVariable("KVEL_SCREENSHOT_DIR");
        if (folder.isEmpty()) QSKIP("KVEL_SCREENSHOT_DIR not set");
        const QString image = InFolder("ZQ05_App0_V1.2.0.6.bin");
        QFile file(image);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(20000, '\x11')) == 20000);
        file.close();
        emulator::Options options;
        options.runningMode = rp::kRunningModeBootLoader;
        emulator::ModuleEmulator module(options);
        std::string error;
        QVERIFY2(module.Start(&error), error.c_str());
        for (auto [language, name] : {std::pair{UiLanguage::English, "main-firmware-en.png"},
                                      std::pair{UiLanguage::Chinese, "main-firmware-zh.png"}}) {
            SetUiLanguage(language);
            PromptRecorder prompts;
            CKVEL_ZorviRQ05_SB03ToolDlg dlg;
            dlg.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dlg));
            dlg.RefreshPorts();
            QComboBox* ports = ControlAs<QComboBox>(dlg, main_dlg::kPortList);
            ports->setCurrentIndex(ports->findData(module.PortNumber()));
            ControlAs<QAbstractButton>(dlg, main_dlg::kFirmwarePageButton)->click();
            CDownloadDlg& page = dlg.FirmwarePage();
            page.findChild<QAbstractButton*>("UpdateFWInfoButton")->click();
            QVERIFY(QTest::qWaitFor([&] { return !page.IsBusy(); }, 20000));
            page.PathField()->setText(image);
            page.findChild<QAbstractButton*>("DownloadButton")->click();
            QVERIFY(QTest::qWaitFor([&] { return !page.IsBusy(); }, 60000));
            QVERIFY(dlg.grab().save(QDir(folder).filePath(name)));
            dlg.close();
        }
    }
};

int main(int argc, char** argv) {
    int exitCode = 0;
    if (RelaunchFromProgramFolderCopy(argc, argv, &exitCode, {KVEL_SKIN_FOLDER})) return exitCode;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    FirmwareInMainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "FirmwareInMainWindowTest.moc"

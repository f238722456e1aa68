// The firmware page as the user meets it: its skin loaded from beside the
// program, its controls, its settings, and a query and a download against
// the emulator on a pseudo-terminal, with the program's own outputs.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>

#include <fstream>
#include <memory>
#include <random>

#include "device/RadarProtocol.h"
#include "emulator/ModuleEmulator.h"
#include "firmware/DownloadDlg.h"
#include "settings/AppConfig.h"
#include "tests/support/ProgramFolder.h"
#include "tests/support/PromptRecorder.h"
#include "ui/Strings.h"

namespace {

namespace rp = radar_protocol;

QString Folder() { return QString::fromStdString(TestProgramFolder()); }

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray RandomImage(int size) {
    std::mt19937 random(42);
    QByteArray image(size, 0);
    for (char& byte : image) byte = static_cast<char>(random());
    return image;
}

// What the page needs of the main window: the port list and the baud-rate
// field of its connection panel, and something else that takes input.
struct MainWindowStandIn {
    MainWindowStandIn() {
        ports = new QComboBox(&window);
        ports->setObjectName("1101");
        baud = new QLineEdit("115200", &window);
        baud->setObjectName("1102");
        connectButton = new QPushButton("Connect", &window);
        window.resize(900, 700);
    }
    void ChoosePort(int number) {
        ports->addItem(QString("COM%1").arg(number), number);
        ports->setCurrentIndex(ports->count() - 1);
    }
    QWidget window;
    QComboBox* ports = nullptr;
    QLineEdit* baud = nullptr;
    QPushButton* connectButton = nullptr;
};

QPushButton* Button(CDownloadDlg& page, const char* name) {
    return page.findChild<QPushButton*>(name);
}

// The page showed this one message, on top.
void OnlyMessage(const PromptRecorder& prompts, const QString& text, const QString& caption,
                 PromptIcon icon) {
    QCOMPARE(prompts.messages.size(), size_t{1});
    QCOMPARE(prompts.messages[0].text, text);
    QCOMPARE(prompts.messages[0].caption, caption);
    QCOMPARE(prompts.messages[0].icon, icon);
    QVERIFY(prompts.messages[0].topmost);
}

}  // namespace

class DownloadDlgTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<emulator::ModuleEmulator> m_module;
    std::unique_ptr<MainWindowStandIn> m_main;
    std::unique_ptr<CDownloadDlg> m_page;

    CDownloadDlg& MakePage() {
        m_page.reset();
        m_main = std::make_unique<MainWindowStandIn>();
        m_page = std::make_unique<CDownloadDlg>();
        m_page->Create(&m_main->window);
        m_page->setGeometry(160, 0, 740, 700);
        m_page->SetResetWait(std::chrono::milliseconds(200));
        return *m_page;
    }
    bool WaitIdle(int timeoutMs = 20000) {
        return QTest::qWaitFor([&] { return !m_page->IsBusy(); }, timeoutMs);
    }
    // A module on a virtual port, chosen in the main window's port list, and
    // a page that has queried it.
    bool QueryModule(emulator::Options options) {
        options.resetDelay = std::chrono::milliseconds(20);
        m_module = std::make_unique<emulator::ModuleEmulator>(options);
        std::string error;
        if (!m_module->Start(&error)) return false;
        MakePage();
        m_main->ChoosePort(m_module->PortNumber());
        Button(*m_page, "UpdateFWInfoButton")->click();
        return WaitIdle();
    }
    QString WriteImage(const QString& name, const QByteArray& image) {
        const QString path = Folder() + "/" + name;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size()) return {};
        return path;
    }

private slots:
    void init() {
        ResetTestProgramFolder();
        SetUiLanguage(UiLanguage::English);
        gAppConfig.Clear();
        LoadAppConfigAtStartup();
    }
    void cleanup() {
        m_page.reset();
        m_main.reset();
        m_module.reset();
    }

    void layoutComesFromTheSkinOfTheInterfaceLanguage() {
        QCOMPARE(DownloadSkinFolder(), QString("Skin/ENG"));
        CDownloadDlg& english = MakePage();
        QVERIFY(english.RunningModeText() && english.DeviceIdText() && english.PartitionList());
        QVERIFY(english.BusyIndicator() && english.FileSizeText() && english.ChecksumText());
        QVERIFY(english.ProgressText() && english.ProgressBar() && english.Log());
        QVERIFY(english.PathField());
        for (const char* name :
             {"UpdateFWInfoButton", "PathButton", "DownloadButton", "ClearEditButton"})
            QVERIFY2(Button(english, name), name);
        QCOMPARE(Button(english, "DownloadButton")->text(), QString("Download"));
        QVERIFY(english.Log()->isReadOnly());
        QVERIFY(english.BusyIndicator()->isHidden());
        // Choosing from the still empty list selects no partition; the log
        // clears and stays read-only.
        emit english.PartitionList()->activated(0);
        QCOMPARE(english.SelectedPartition(), 0u);
        english.Log()->setPlainText("something\n");
        Button(english, "ClearEditButton")->click();
        QVERIFY(english.Log()->toPlainText().isEmpty());
        QVERIFY(english.Log()->isReadOnly());

        for (const char* language : {"zh-cn", "zh-tw", "ZH-CN"}) {
            QVERIFY(SetPreferredUiLanguageName(language));
            QCOMPARE(DownloadSkinFolder(), QString("Skin/CHS"));
            CDownloadDlg& chinese = MakePage();
            QVERIFY(Button(chinese, "DownloadButton"));
            QCOMPARE(Button(chinese, "DownloadButton")->text(), QString::fromUtf8("下载"));
        }
    }

    void pathComesFromTheDownloadSectionOrIsTheProgramFolder() {
        // Start-up made "AppConfig" without a "Download" element.
        QVERIFY(AppConfigElement().FindChild(app_config::kDownload).IsEmpty());
        CDownloadDlg& page = MakePage();
        QCOMPARE(page.ImagePath(), Folder());
        QCOMPARE(page.PathField()->text(), Folder());
        QCOMPARE(page.PathField()->toolTip(), Folder());
        // Made in memory, written with the next save.
        QVERIFY(!AppConfigElement().FindChild(app_config::kDownload).IsEmpty());
        QVERIFY(SaveAppConfig());
        QVERIFY(ReadAll(Folder() + "/appConfig.xml").contains("<Download"));

        const QString longPath = "/" + QString(300, QChar(0x56FA));  // not ASCII either
        AppConfigSection(app_config::kDownload)
            .SetAttribute(app_config::kDlDownloadFilePath, longPath.toUtf8().constData());
        QCOMPARE(MakePage().ImagePath(), longPath.left(259));
        AppConfigSection(app_config::kDownload).SetAttribute(app_config::kDlDownloadFilePath, "");
        QCOMPARE(MakePage().ImagePath(), QString());

        gAppConfig.Clear();  // no "AppConfig" at all
        QCOMPARE(MakePage().ImagePath(), Folder());
        QVERIFY(AppConfigElement().IsEmpty());
    }

    void typedPathIsCutAndNotStored() {
        CDownloadDlg& page = MakePage();
        const QByteArray before = ReadAll(Folder() + "/appConfig.xml");
        const QString typed = "/tmp/" + QString(300, 'a') + ".bin";
        page.PathField()->clear();
        QTest::keyClicks(page.PathField(), typed);
        QCOMPARE(page.ImagePath(), typed.left(259));
        QCOMPARE(page.PathField()->toolTip(), typed.left(259));
        QVERIFY(
            AppConfigSection(app_config::kDownload).GetAttribute(app_config::kDlDownloadFilePath) ==
            nullptr);
        QCOMPARE(ReadAll(Folder() + "/appConfig.xml"), before);
    }

    void fileChooserStoresThePathAtOnce() {
        PromptRecorder prompts;
        CDownloadDlg& page = MakePage();
        prompts.openAnswers.push_back(std::nullopt);  // cancelled: nothing changes
        Button(page, "PathButton")->click();
        QCOMPARE(page.ImagePath(), Folder());
        QCOMPARE(prompts.fileRequests.back().filter,
                 QString("Download Files (*.bin)|*.bin|All Files (*.*)|*.*||"));
        QCOMPARE(prompts.fileRequests.back().initialPath, Folder());

        const QString chosen = Folder() + "/firmware.bin";
        prompts.openAnswers.push_back(chosen);
        Button(page, "PathButton")->click();
        QCOMPARE(page.ImagePath(), chosen);
        QCOMPARE(page.PathField()->text(), chosen);
        QVERIFY(ReadAll(Folder() + "/appConfig.xml").contains(chosen.toUtf8()));
    }

    void missingImageFileIsAnErrorBeforeAnythingStarts() {
        PromptRecorder prompts;
        CDownloadDlg& page = MakePage();
        page.PathField()->setText(Folder() + "/no-such.bin");
        Button(page, "DownloadButton")->click();
        OnlyMessage(prompts, LoadStringW(10402), LoadStringW(10001), PromptIcon::Error);
        QVERIFY(!page.IsBusy());
    }

    void noPortIsAMessageTheTransferWaitsFor() {
        PromptRecorder prompts;
        CDownloadDlg& page = MakePage();
        Button(page, "UpdateFWInfoButton")->click();
        QVERIFY(WaitIdle());
        OnlyMessage(prompts, "Port No. cannot be NULL!", "Note", PromptIcon::Information);
        QVERIFY(page.Log()->toPlainText().isEmpty());
    }

    // The user's way through: query, pick an image and a partition,
    // download with log and progress, query again.
    void queryDownloadAndQueryAgainAgainstTheEmulator() {
        PromptRecorder prompts;
        emulator::Options options;
        options.realTiming = false;
        QVERIFY(QueryModule(options));
        CDownloadDlg& page = *m_page;
        QCOMPARE(page.RunningModeText()->text(), QString("Current Firmware: App0"));
        QCOMPARE(page.DeviceIdText()->text(), QString("Device ID: 0x5a0105"));
        QCOMPARE(page.PartitionList()->count(), 2);
        QCOMPARE(page.PartitionList()->currentText(), QString("App0"));
        QCOMPARE(page.SelectedPartition(), 1u);

        page.PartitionList()->setCurrentIndex(1);
        emit page.PartitionList()->activated(1);
        QCOMPARE(page.SelectedPartition(), 2u);

        const QByteArray image = RandomImage(5000);
        page.PathField()->setText(WriteImage("app1.bin", image));
        Button(page, "DownloadButton")->click();
        QVERIFY(!m_main->connectButton->isEnabled());  // the main window waits
        QVERIFY(!Button(page, "DownloadButton")->isEnabled());
        QVERIFY(WaitIdle());
        QVERIFY(Button(page, "DownloadButton")->isEnabled());
        QVERIFY(prompts.messages.empty());

        const QString log = page.Log()->toPlainText();
        QVERIFY2(log.endsWith("Downloading… \nDownload successful! \n"), qPrintable(log));
        QCOMPARE(page.FileSizeText()->text(), QString("Size of bin file: 5000 byte"));
        QCOMPARE(page.ProgressText()->text(), QString("Download Progress: 100.00%"));
        QCOMPARE(page.ProgressBar()->maximum(), 5000);
        QCOMPARE(page.ProgressBar()->value(), 5000);
        QVERIFY(page.BusyIndicator()->isHidden());
        const std::vector<uint8_t> held = m_module->BootImage(rp::kPartitionApp1);
        QCOMPARE(
            QByteArray(reinterpret_cast<const char*>(held.data()), static_cast<int>(held.size())),
            image);

        Button(page, "UpdateFWInfoButton")->click();
        QVERIFY(WaitIdle());
        QCOMPARE(page.RunningModeText()->text(), QString("Current Firmware: BootLoader"));
        QVERIFY(page.InBootLoader());
    }

    // Writes the page after a query and a download in both languages when a
    // folder is given (KVEL_SCREENSHOT_DIR), for the documentation.
    void screenshots() {
        const QString folder = qEnvironmentVariable("KVEL_SCREENSHOT_DIR");
        if (folder.isEmpty()) QSKIP("KVEL_SCREENSHOT_DIR not set");
        for (auto [language, name] : {std::pair{UiLanguage::English, "firmware-en.png"},
                                      std::pair{UiLanguage::Chinese, "firmware-zh.png"}}) {
            SetUiLanguage(language);
            PromptRecorder prompts;
            QVERIFY(QueryModule(emulator::Options{}));
            m_page->PathField()->setText(
                WriteImage("ZQ05_App0_V1.2.0.6.bin", RandomImage(24 * 1024)));
            Button(*m_page, "DownloadButton")->click();
            QVERIFY(WaitIdle(60000));
            m_page->resize(760, 620);
            QVERIFY(m_page->grab().save(QDir(folder).filePath(name)));
        }
    }
};

int main(int argc, char** argv) {
    int exitCode = 0;
    if (RelaunchFromProgramFolderCopy(argc, argv, &exitCode, {KVEL_SKIN_FOLDER})) return exitCode;
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    DownloadDlgTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "DownloadDlgTest.moc"

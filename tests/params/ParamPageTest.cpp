#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QScreen>
#include <QTest>

#include <cstdlib>
#include <memory>
#include <string>

#include "connection/RadarConnection.h"
#include "controls/BalloonWnd.h"
#include "controls/DigitalEdit.h"
#include "device/KVEL_DataProcess.h"
#include "emulator/ModuleEmulator.h"
#include "params/ParamSettingDlg.h"
#include "params/RadarParamFile.h"
#include "settings/AppConfig.h"
#include "tests/support/ConnectedModule.h"
#include "tests/support/PageUnderTest.h"
#include "tests/support/ProgramFolder.h"
#include "tests/support/PromptRecorder.h"
#include "ui/Strings.h"

namespace {

QString Folder() { return QString::fromStdString(TestProgramFolder()); }
QString InFolder(const QString& name) { return Folder() + "/" + name; }

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

void WriteAll(const QString& path, const QByteArray& content) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

}  // namespace

class ParamPageTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void committedEntriesReachTheSet();
    void fieldsShowTheSetWithoutNotifying();
    void settingsSectionIsLoadedAndStored();
    void writeThenReadThroughTheModule();
    void readingWhileDisconnectedChangesNothing();
    void moduleThatRefusesIsReported();
    void fieldsTheModuleDoesNotHoldAreMarked();
    void savingTheDefaults();
    void negativeDelayRoundTripsAsUnsigned();
    void loadingKeepsWhatTheFileLacks();
    void savingOverKeepsOtherContent();
    void rememberedNameIsProposedInTheProgramFolder();
    void unwritableTargetIsReported();
    void screenshotWithBalloon();

private:
    void MakePage(CRadarSession* session = nullptr);
    // The set of the session the page was given.
    const RadarParamSet& SessionParams() const { return m_session->Params().Values(); }
    CDigitalEdit* Field(int id) { return m_page->Field(id); }
    void Enter(int id, const QString& keys);
    // The fields marked as differing from the module: "2002=15" (its value).
    QStringList MarkedFields();

    RadarParamSet m_params;
    std::unique_ptr<PromptRecorder> m_prompt;
    std::unique_ptr<QWidget> m_window;
    CParamSettingDlg* m_page = nullptr;
    std::unique_ptr<CRadarSession> m_idleSession;
    CRadarSession* m_session = nullptr;
    std::unique_ptr<ConnectedModule> m_module;  // outlives the page (cleanup)
};

void ParamPageTest::init() {
    StartPageTestSettings();
    m_params = RadarParamSet();
    m_prompt = std::make_unique<PromptRecorder>();
    m_idleSession = std::make_unique<CRadarSession>();
}

void ParamPageTest::cleanup() {
    m_window.reset();
    m_page = nullptr;
    m_prompt.reset();
    m_session = nullptr;
    m_idleSession.reset();
    m_module.reset();
}

void ParamPageTest::MakePage(CRadarSession* session) {
    m_page = new CParamSettingDlg();
    m_session = session ? session : m_idleSession.get();
    m_session->Params().Set(m_params);
    QVERIFY(ShowPageInWindow(m_page, m_session, &m_window));
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    for (int id : {2002, 2003, 2010, 2025, 2030, 2045})
        QVERIFY2(Field(id), qPrintable(QString::number(id)));
}

// Types into a field and leaves it with Tab, as the user does.
void ParamPageTest::Enter(int id, const QString& keys) {
    CDigitalEdit* field = Field(id);
    field->setFocus();
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, keys);
    QTest::keyClick(field, Qt::Key_Tab);
}

QStringList ParamPageTest::MarkedFields() {
    QStringList marked;
    const QColor plain = m_page->palette().color(QPalette::Base);
    const QString prefix = QString(LoadStringW(10155)).remove("%s");
    for (int id = 2002; id <= 2045; ++id) {
        CDigitalEdit* field = Field(id);
        if (!field) continue;
        // The tint and the tooltip come and go together.
        const bool tinted = field->palette().color(QPalette::Base) != plain;
        if (tinted == field->toolTip().isEmpty()) return {QString("%1 half marked").arg(id)};
        if (tinted) marked << QString("%1=%2").arg(id).arg(field->toolTip().remove(prefix));
    }
    return marked;
}

void ParamPageTest::committedEntriesReachTheSet() {
    MakePage();
    Enter(2002, "16");
    QCOMPARE(Field(2002)->text(), QString("15"));
    QCOMPARE(SessionParams().GateMax, 15);
    QVERIFY(Field(2003)->hasFocus());

    Enter(2002, "7");
    QCOMPARE(SessionParams().GateMax, 7);

    Enter(2010, "");
    QCOMPARE(Field(2010)->text(), QString("1"));
    QCOMPARE(SessionParams().TriggerThreshold[0], 1.0);

    Enter(2045, "95.5");
    QCOMPARE(Field(2045)->text(), QString("90"));
    QCOMPARE(SessionParams().HoldThreshold[15], 90.0);

    Enter(2031, "42.25");
    QCOMPARE(SessionParams().HoldThreshold[1], 42.25);
    QCOMPARE(SessionParams().TriggerThreshold[1], 30.0);

    // The absence delay takes negative numbers and any 32-bit value.
    Enter(2003, "-1");
    QCOMPARE(SessionParams().ObjectDisappearDelayTime, -1);
    Enter(2003, "4294967294");
    QCOMPARE(SessionParams().ObjectDisappearDelayTime, -2);
    Enter(2003, "2147483647");
    QCOMPARE(SessionParams().ObjectDisappearDelayTime, 2147483647);
    // Beyond every 32-bit form: the limits' report, as the other fields give.
    Enter(2003, "99999999999");
    QVERIFY(Field(2003)->Balloon() && Field(2003)->Balloon()->isVisible());
    QCOMPARE(Field(2003)->text(), QString("4294967295"));
    QCOMPARE(SessionParams().ObjectDisappearDelayTime, -1);

    // Enter and Escape on the page close nothing and change nothing.
    QTest::keyClick(m_page, Qt::Key_Escape);
    QTest::keyClick(m_page, Qt::Key_Return);
    QVERIFY(m_page->isVisible());
}

void ParamPageTest::fieldsShowTheSetWithoutNotifying() {
    MakePage();
    QCOMPARE(Field(2002)->text(), QString("15"));
    QCOMPARE(Field(2003)->text(), QString("10"));
    QCOMPARE(Field(2017)->text(), QString("30"));

    m_params.GateMax = 99;  // outside the field's limits, as a file may hold it
    m_params.ObjectDisappearDelayTime = -5;
    m_params.TriggerThreshold[3] = 12.345;
    m_params.HoldThreshold[15] = 1.999;
    m_session->Params().Set(m_params);  // the page follows the set
    QCOMPARE(Field(2002)->text(), QString("99"));
    QCOMPARE(Field(2003)->text(), QString("-5"));
    QCOMPARE(Field(2013)->text(), QString("12.35"));
    QCOMPARE(Field(2045)->text(), QString("2.00"));
    QCOMPARE(MarkedFields(), QStringList());  // no module has been heard

    // Passing through the fields without typing writes nothing back.
    Field(2002)->setFocus();
    QTest::keyClick(Field(2002), Qt::Key_Tab);
    Field(2013)->setFocus();
    Field(2045)->setFocus();
    Field(2002)->setFocus();
    QCOMPARE(SessionParams().GateMax, 99);
    QCOMPARE(SessionParams().TriggerThreshold[3], 12.345);
    QCOMPARE(SessionParams().HoldThreshold[15], 1.999);
    QVERIFY(m_prompt->messages.empty());
}

void ParamPageTest::settingsSectionIsLoadedAndStored() {
    // The main window loads the section at start-up (MainWindowTest).
    m_params.GateMax = 9;
    m_params.HoldThreshold[2] = 44.5;
    MakePage();
    QCOMPARE(Field(2002)->text(), QString("9"));
    QCOMPARE(Field(2032)->text(), QString("44.5"));

    Enter(2011, "61.5");
    m_page->Teardown();
    m_page->Teardown();  // once only
    const QByteArray saved = ReadAll(InFolder("appConfig.xml"));
    QVERIFY2(saved.contains("<ParamSetting"), saved.constData());
    QVERIFY(saved.contains("GateMax=\"9\""));
    QVERIFY(saved.contains("TriggerGate1Threshold=\"61.50\""));
    QVERIFY(saved.contains("HoldGate15Threshold=\"30.00\""));
}

void ParamPageTest::writeThenReadThroughTheModule() {
    m_module = std::make_unique<ConnectedModule>();
    ConnectedModule& module = *m_module;
    QVERIFY(module.started);
    QVERIFY(module.opened);
    MakePage(&module.session);

    Enter(2002, "7");
    Enter(2003, "25");
    Enter(2010, "40");
    Enter(2045, "20");
    m_page->OnSetSensorConfig();
    QCOMPARE(int(m_prompt->messages.size()), 1);
    QCOMPARE(m_prompt->messages[0].text, LoadStringW(10152));
    QCOMPARE(m_prompt->messages[0].caption, LoadStringW(10002));
    QCOMPARE(m_prompt->messages[0].icon, PromptIcon::Information);
    QCOMPARE(module.emulator->Parameter(0x0001), 7u);
    QCOMPARE(module.emulator->Parameter(0x0004), 25u);
    QCOMPARE(module.emulator->Parameter(0x0010), 10000u);
    QCOMPARE(module.emulator->Parameter(0x002F), 100u);
    QVERIFY(!module.emulator->InCommandMode());

    m_session->Params().Set(RadarParamSet());
    QCOMPARE(Field(2002)->text(), QString("15"));
    m_page->OnReadSensorConfig();
    QCOMPARE(int(m_prompt->messages.size()), 2);
    QCOMPARE(m_prompt->messages[1].text, LoadStringW(10150));
    QCOMPARE(m_prompt->messages[1].caption, LoadStringW(10002));
    QCOMPARE(SessionParams().GateMax, 7);
    QCOMPARE(SessionParams().ObjectDisappearDelayTime, 25);
    QCOMPARE(Field(2002)->text(), QString("7"));
    QCOMPARE(Field(2003)->text(), QString("25"));
    QCOMPARE(Field(2010)->text(), QString("40"));
    QCOMPARE(Field(2045)->text(), QString("20"));
    QVERIFY(!module.emulator->InCommandMode());
}

void ParamPageTest::readingWhileDisconnectedChangesNothing() {
    // Nothing was tried on the line, so nothing goes to the log.
    struct LineCounter {
        static int Count(void* user, intptr_t, const char*, int length) {
            ++*static_cast<int*>(user);
            return length;
        }
    };
    int logLines = 0;
    DbgOutputAddCallback(&LineCounter::Count, &logLines);
    MakePage();
    Enter(2002, "4");
    m_page->OnReadSensorConfig();
    QCOMPARE(int(m_prompt->messages.size()), 1);
    QCOMPARE(m_prompt->messages[0].text, LoadStringW(10103));
    QCOMPARE(m_prompt->messages[0].caption, LoadStringW(10000));
    QCOMPARE(m_prompt->messages[0].icon, PromptIcon::Error);
    QCOMPARE(Field(2002)->text(), QString("4"));
    QCOMPARE(SessionParams().GateMax, 4);

    m_page->OnSetSensorConfig();
    QCOMPARE(int(m_prompt->messages.size()), 2);
    QCOMPARE(m_prompt->messages[1].text, LoadStringW(10103));
    DbgOutputDelCallback(&LineCounter::Count);
    QCOMPARE(logLines, 0);
}

void ParamPageTest::moduleThatRefusesIsReported() {
    m_module = std::make_unique<ConnectedModule>(std::set{emulator::Fault::FailingStatus});
    ConnectedModule& module = *m_module;
    QVERIFY(module.started);
    MakePage(&module.session);
    m_page->OnSetSensorConfig();
    QCOMPARE(int(m_prompt->messages.size()), 1);
    QCOMPARE(m_prompt->messages[0].text, LoadStringW(10153));
    QCOMPARE(m_prompt->messages[0].text, QString("Failed to set parameters"));
    QCOMPARE(m_prompt->messages[0].caption, LoadStringW(10000));
    QCOMPARE(m_prompt->messages[0].icon, PromptIcon::Error);
}

// Unwritten changes stand out against what the module last read or took;
// a write, a read or the module taking the set clears them.
void ParamPageTest::fieldsTheModuleDoesNotHoldAreMarked() {
    m_module = std::make_unique<ConnectedModule>();
    QVERIFY(m_module->started && m_module->opened);
    MakePage(&m_module->session);
    QCOMPARE(MarkedFields(), QStringList());

    Enter(2002, "7");
    Enter(2013, "40.5");
    Enter(2030, "30.001");  // the module cannot tell it from 30 dB
    QCOMPARE(MarkedFields(), QStringList({"2002=15", "2013=30"}));
    m_page->OnSetSensorConfig();
    QCOMPARE(MarkedFields(), QStringList());

    const QString file = InFolder("Marked.xml");
    WriteAll(file,
             "<?xml version=\"1.0\"?>\n<RadarParam GateMax=\"9\" "
             "ObjectDisappearDelayTime=\"-1\" TriggerGate3Threshold=\"40.5\"/>\n");
    m_prompt->openAnswers.push_back(file);
    m_page->OnLoadConfigFile();
    QCOMPARE(MarkedFields(), QStringList({"2002=7", "2003=10"}));
    m_page->OnReadSensorConfig();
    QCOMPARE(MarkedFields(), QStringList());

    // Thresholds written from elsewhere while the page is hidden (the
    // realtime page's calibration) are the module's when it shows again.
    m_page->hide();
    m_params = SessionParams();
    m_params.HoldThreshold[15] = 35;
    m_session->Params().Set(m_params);
    QCOMPARE(m_module->session.WriteParams(m_params), kRadarOk);
    m_page->show();
    QCOMPARE(Field(2045)->text(), QString("35"));
    QCOMPARE(MarkedFields(), QStringList());
}

void ParamPageTest::savingTheDefaults() {
    MakePage();
    const QString path = InFolder("Defaults.xml");
    m_prompt->saveAnswers.push_back(path);
    m_page->OnSaveConfigFile();

    QCOMPARE(int(m_prompt->fileRequests.size()), 1);
    const FileDialogRequest& request = m_prompt->fileRequests[0];
    QCOMPARE(request.initialPath, InFolder("RadarParamConfig.xml"));
    QCOMPARE(request.filter,
             QString("Radar Parameter Config File(*.xml)|*.xml|All Files (*.*)|*.*||"));
    QCOMPARE(request.defaultExtension, QString("xml"));
    QVERIFY(request.confirmOverwrite);
    QVERIFY(m_prompt->messages.empty());  // success says nothing

    const QByteArray content = ReadAll(path);
    QVERIFY2(content.startsWith("<?xml"), content.constData());
    QVERIFY(content.contains("<RadarParam"));
    QVERIFY(content.contains("GateMax=\"15\""));
    QVERIFY(content.contains("ObjectDisappearDelayTime=\"10\""));
    int previous = content.indexOf("ObjectDisappearDelayTime");
    QVERIFY(content.indexOf("GateMax") < previous);
    for (const char* format :
         {"TriggerGate%1Threshold=\"30.00\"", "HoldGate%1Threshold=\"30.00\""}) {
        for (int gate = 0; gate < 16; ++gate) {
            const int at = content.indexOf(QString(format).arg(gate).toUtf8());
            QVERIFY2(at > previous, format);
            previous = at;
        }
    }

    // The chosen name is remembered in the settings file at once.
    QVERIFY(ReadAll(InFolder("appConfig.xml")).contains("RadarConfigFile=\"Defaults.xml\""));
}

void ParamPageTest::negativeDelayRoundTripsAsUnsigned() {
    MakePage();
    Enter(2003, "-1");
    const QString path = InFolder("Delay.xml");
    m_prompt->saveAnswers.push_back(path);
    m_page->OnSaveConfigFile();
    QVERIFY(ReadAll(path).contains("ObjectDisappearDelayTime=\"4294967295\""));

    m_params = SessionParams();
    m_params.ObjectDisappearDelayTime = 5;
    m_params.TriggerThreshold[4] = 77.777;
    m_session->Params().Set(m_params);
    m_prompt->openAnswers.push_back(path);
    m_page->OnLoadConfigFile();
    QCOMPARE(SessionParams().ObjectDisappearDelayTime, -1);
    QCOMPARE(Field(2003)->text(), QString("-1"));
    QCOMPARE(SessionParams().TriggerThreshold[4], 30.0);
    QVERIFY(m_prompt->messages.empty());  // loading says nothing
    const FileDialogRequest& open = m_prompt->fileRequests.back();
    QVERIFY(open.mustExist);
    QVERIFY(open.defaultExtension.isEmpty());
}

void ParamPageTest::loadingKeepsWhatTheFileLacks() {
    MakePage();
    m_params.GateMax = 3;
    m_params.HoldThreshold[0] = 50;
    m_session->Params().Set(m_params);

    const QString noParams = InFolder("NoParams.xml");
    WriteAll(noParams, "<?xml version=\"1.0\"?>\n<Other GateMax=\"8\"/>\n");
    m_prompt->openAnswers.push_back(noParams);
    m_page->OnLoadConfigFile();
    QCOMPARE(SessionParams().GateMax, 3);
    QCOMPARE(Field(2002)->text(), QString("3"));

    const QString gateOnly = InFolder("GateOnly.xml");
    WriteAll(gateOnly,
             "<?xml version=\"1.0\"?>\n<radarparam gatemax=\"12\" HoldGate0Threshold=\"\"/>\n");
    m_prompt->openAnswers.push_back(gateOnly);
    m_page->OnLoadConfigFile();
    QCOMPARE(SessionParams().GateMax, 12);
    QCOMPARE(SessionParams().HoldThreshold[0], 50.0);
    QCOMPARE(SessionParams().ObjectDisappearDelayTime, 10);
    QCOMPARE(Field(2002)->text(), QString("12"));

    const QString broken = InFolder("Broken.xml");
    WriteAll(broken, "not xml at all <<<");
    m_prompt->openAnswers.push_back(broken);
    m_page->OnLoadConfigFile();
    QCOMPARE(SessionParams().GateMax, 12);

    // Cancelling changes nothing, not even the remembered name.
    m_page->OnLoadConfigFile();
    QVERIFY(ReadAll(InFolder("appConfig.xml")).contains("RadarConfigFile=\"Broken.xml\""));
    QVERIFY(m_prompt->messages.empty());
}

void ParamPageTest::savingOverKeepsOtherContent() {
    MakePage();
    const QString path = InFolder("Shared.xml");
    WriteAll(path,
             "<?xml version=\"1.0\"?>\n<Notes keep=\"yes\"/>\n"
             "<RadarParam Extra=\"1\" GateMax=\"3\"><Child name=\"c\"/></RadarParam>\n");
    Enter(2002, "6");
    m_prompt->saveAnswers.push_back(path);
    m_page->OnSaveConfigFile();
    const QByteArray content = ReadAll(path);
    QVERIFY2(content.contains("<Notes keep=\"yes\""), content.constData());
    QVERIFY(content.contains("Extra=\"1\""));
    QVERIFY(content.contains("<Child name=\"c\""));
    QVERIFY(content.contains("GateMax=\"6\""));
    QVERIFY(content.contains("HoldGate15Threshold=\"30.00\""));
    QCOMPARE(content.count("<RadarParam"), 1);
}

void ParamPageTest::rememberedNameIsProposedInTheProgramFolder() {
    MakePage();
    QDir().mkpath(InFolder("elsewhere"));
    const QString other = InFolder("elsewhere/Other.xml");
    WriteAll(other, "<?xml version=\"1.0\"?>\n<RadarParam GateMax=\"2\"/>\n");
    m_prompt->openAnswers.push_back(other);
    m_page->OnLoadConfigFile();
    QCOMPARE(SessionParams().GateMax, 2);

    m_page->OnSaveConfigFile();  // cancelled
    QCOMPARE(m_prompt->fileRequests.back().initialPath, InFolder("Other.xml"));
    QCOMPARE(CParamSettingDlg::ParamFileInitialPath(), InFolder("Other.xml"));

    // A remembered but empty name starts in the folder itself.
    AppConfigElement().SetAttribute("RadarConfigFile", "");
    QCOMPARE(CParamSettingDlg::ParamFileInitialPath(), Folder());

    // The chosen path is cut to the longest the dialogs hand on.
    const QString longPath = InFolder(QString(300, 'a') + ".xml");
    m_prompt->saveAnswers.push_back(longPath);
    m_page->OnSaveConfigFile();
    const QString remembered =
        QString::fromUtf8(AppConfigElement().GetAttribute("RadarConfigFile"));
    QCOMPARE(remembered.size() + Folder().size() + 1, 259);
}

void ParamPageTest::unwritableTargetIsReported() {
    MakePage();
    const QString path = InFolder("missing-folder/Params.xml");
    m_prompt->saveAnswers.push_back(path);
    m_page->OnSaveConfigFile();
    QCOMPARE(int(m_prompt->messages.size()), 1);
    const MessageBoxRequest& message = m_prompt->messages[0];
    QVERIFY2(message.text.contains(path), qPrintable(message.text));
    QVERIFY(!message.text.contains("%s"));
    QCOMPARE(message.caption, LoadStringW(10000));
    QCOMPARE(message.icon, PromptIcon::Error);
    QVERIFY(!QFile::exists(path));
    // The settings already hold the name, as for every chosen file.
    QVERIFY(ReadAll(InFolder("appConfig.xml")).contains("RadarConfigFile=\"Params.xml\""));
}

// Renders the page with a field's report showing; written where
// KVEL_SCREENSHOT names a file (KVEL_SCREENSHOT_CHINESE: the Chinese page).
void ParamPageTest::screenshotWithBalloon() {
    if (std::getenv("KVEL_SCREENSHOT_CHINESE")) SetUiLanguage(UiLanguage::Chinese);
    MakePage();
    Enter(2012, "95");
    CBalloonWnd* balloon = Field(2012)->Balloon();
    QVERIFY(balloon && balloon->isVisible());
    const char* target = std::getenv("KVEL_SCREENSHOT");
    if (!target) return;

    QImage picture(m_window->size(), QImage::Format_RGB32);
    picture.fill(Qt::white);
    m_window->render(&picture);
    {
        QPainter painter(&picture);
        const QPoint at = m_window->mapFromGlobal(balloon->pos());
        QImage shape = balloon->grab().toImage();
        painter.setClipRegion(balloon->mask().translated(at));
        painter.drawImage(at, shape);
    }
    QVERIFY(picture.save(QString::fromLocal8Bit(target)));
}

int main(int argc, char** argv) {
    int exitCode = 0;
    if (RelaunchFromProgramFolderCopy(argc, argv, &exitCode)) return exitCode;
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ParamPageTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ParamPageTest.moc"

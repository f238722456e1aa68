#include "app/MainDlg.h"

#include <algorithm>
#include <string>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QResizeEvent>

#include "app/AppLog.h"
#include "common/KVEL_Common.h"
#include "params/RadarParamFile.h"
#include "ui/DialogPage.h"
#include "ui/DialogTemplate.h"
#include "ui/Strings.h"
#include "ui/WindowMessages.h"

namespace {

// The program's icon among the compiled-in images, when it is there.
constexpr const char* kIconResource = ":/images/128.png";

// How the template's caption and the file version make the title.
QString TitleWithVersion(const QString& caption, const QString& version) {
    return QStringLiteral("%1(v%2)").arg(caption, version);
}

// The version text of the running executable, "" when it carries none.
QString ExecutableFileVersion() {
    const std::wstring path = QCoreApplication::applicationFilePath().toStdWString();
    wchar_t version[KVEL_MAX_PATH] = {};
    if (path.empty() || !GetFileVersionW(path.c_str(), version, KVEL_MAX_PATH)) return QString();
    return QString::fromWCharArray(version);
}

}  // namespace

CKVEL_ZorviRQ05_SB03ToolDlg::CKVEL_ZorviRQ05_SB03ToolDlg(QWidget* parent) : QDialog(parent) {
    BuildFromTemplate();
    OnInitDialog();
}

CKVEL_ZorviRQ05_SB03ToolDlg::~CKVEL_ZorviRQ05_SB03ToolDlg() {
    // A window that is destroyed without having been closed still stops its
    // pages, disconnects the module and saves its settings.
    OnDestroy();
}

QWidget* CKVEL_ZorviRQ05_SB03ToolDlg::Control(int id) const {
    auto found = m_controls.find(std::to_string(id));
    return found == m_controls.end() ? nullptr : found->second;
}

QComboBox* CKVEL_ZorviRQ05_SB03ToolDlg::PortList() const {
    return qobject_cast<QComboBox*>(Control(main_dlg::kPortList));
}

QLineEdit* CKVEL_ZorviRQ05_SB03ToolDlg::BaudRateField() const {
    return qobject_cast<QLineEdit*>(Control(main_dlg::kBaudRateField));
}

QAbstractButton* CKVEL_ZorviRQ05_SB03ToolDlg::ConnectButton() const {
    return qobject_cast<QAbstractButton*>(Control(main_dlg::kConnectButton));
}

QLabel* CKVEL_ZorviRQ05_SB03ToolDlg::VersionText() const {
    return qobject_cast<QLabel*>(Control(main_dlg::kVersionText));
}

void CKVEL_ZorviRQ05_SB03ToolDlg::BuildFromTemplate() {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    QString caption;
    if (std::unique_ptr<DialogTemplate> dialog = LoadDialogTemplate(main_dlg::kTemplateId)) {
        m_controls = BuildDialog(this, *dialog);
        caption = dialog->caption;
    }
    SetTitleWithVersion(caption);
}

void CKVEL_ZorviRQ05_SB03ToolDlg::SetTitleWithVersion(const QString& caption) {
    setWindowTitle(TitleWithVersion(caption, ExecutableFileVersion()));
}

void CKVEL_ZorviRQ05_SB03ToolDlg::OnInitDialog() {
    if (QFile::exists(QString::fromLatin1(kIconResource))) {
        m_icon = QIcon(QString::fromLatin1(kIconResource));
        setWindowIcon(m_icon);
    }

    LoadConnectionSettings();
    if (QLineEdit* field = BaudRateField()) field->setText(QString::number(m_baudRate));

    LoadSharedParams();
    m_session.SetListener(this);
    m_paramPage.SetSession(&m_session);
    m_realtimePage.SetSession(&m_session);
    m_capturePage.SetSession(&m_session);
    // Until it is disconnected, the main connection keeps the port from the
    // firmware page's own.
    m_firmwarePage.SetOwnConnectionQuery([this](int portNumber) {
        return m_session.State() != SessionState::Disconnected &&
               m_session.PortNumber() == portNumber;
    });

    CreatePages();

    if (QWidget* placeholder = Control(main_dlg::kPagePlaceholder)) placeholder->hide();
    if (QLabel* version = VersionText()) version->hide();
    ConnectControls();
    if (auto* first = qobject_cast<QAbstractButton*>(Control(main_dlg::kParamPageButton)))
        first->setChecked(true);
    ShowOnlyPage(main_dlg::kParamPageButton);

    m_logFile = OpenAppLog();

    RefreshPorts();

    m_resizeTool.ClearChildren();
    m_resizeTool.SetReferenceSize(width(), height());
    m_resizeTool.RegisterChildren(this);
    m_resizeTool.SetOwner(this);
    m_resizeTool.Enable();

    m_lineCheck.setInterval(main_dlg::kLineCheckIntervalMs);
    connect(&m_lineCheck, &QTimer::timeout, this, [this] { CheckLine(); });
    m_lineCheck.start();
}

// The parameter set starts from the settings' "ParamSetting" section (the
// defaults where it has none) before any page shows it.
void CKVEL_ZorviRQ05_SB03ToolDlg::LoadSharedParams() {
    RadarParamSet params = m_session.Params().Values();
    LoadRadarParams(AppConfigSection(app_config::kParamSetting), &params);
    m_session.Params().Set(params);
}

void CKVEL_ZorviRQ05_SB03ToolDlg::CreatePages() {
    QWidget* placeholder = Control(main_dlg::kPagePlaceholder);
    const QRect area = placeholder ? placeholder->geometry() : rect();

    m_paramPage.Create(this);
    m_paramPage.setGeometry(area);
    m_realtimePage.Create(this);
    m_realtimePage.setGeometry(area);
    m_capturePage.Create(this);
    m_capturePage.setGeometry(area);
    m_firmwarePage.Create(this);
    m_firmwarePage.setGeometry(area);
}

void CKVEL_ZorviRQ05_SB03ToolDlg::ConnectControls() {
    if (auto* refresh = qobject_cast<QAbstractButton*>(Control(main_dlg::kRefreshButton)))
        connect(refresh, &QAbstractButton::clicked, this, [this] { RefreshPorts(); });
    if (QAbstractButton* button = ConnectButton())
        connect(button, &QAbstractButton::clicked, this, [this] { OnConnectButton(); });
    if (QComboBox* ports = PortList())
        connect(ports, &QComboBox::currentIndexChanged, this, [this] { ShowPortPath(); });

    m_pageButtons = new QButtonGroup(this);
    m_pageButtons->setExclusive(true);
    for (int id = main_dlg::kParamPageButton; id <= main_dlg::kFirmwarePageButton; ++id) {
        if (auto* button = qobject_cast<QAbstractButton*>(Control(id))) {
            button->setCheckable(true);
            m_pageButtons->addButton(button, id);
        }
    }
    connect(m_pageButtons, &QButtonGroup::idClicked, this, [this](int id) { OnPageButton(id); });
}

void CKVEL_ZorviRQ05_SB03ToolDlg::ShowOnlyPage(int buttonId) {
    m_paramPage.hide();
    m_realtimePage.hide();
    m_capturePage.hide();
    m_firmwarePage.hide();
    switch (buttonId) {
        case main_dlg::kParamPageButton:
            m_paramPage.show();
            break;
        case main_dlg::kRealtimePageButton:
            m_realtimePage.show();
            break;
        case main_dlg::kCapturePageButton:
            m_capturePage.show();
            break;
        case main_dlg::kFirmwarePageButton:
            m_firmwarePage.show();
            break;
        default:
            break;
    }
}

void CKVEL_ZorviRQ05_SB03ToolDlg::OnPageButton(int buttonId) {
    if (buttonId < main_dlg::kParamPageButton || buttonId > main_dlg::kFirmwarePageButton) return;
    ShowOnlyPage(buttonId);
    if (buttonId != main_dlg::kFirmwarePageButton || !IsConnected()) return;
    // The firmware window opens the port itself, so the main connection
    // has to give it up. Hiding the pages has stopped their readers; asking
    // again costs nothing and keeps the line quiet for the commands below.
    StopPageWork();
    bool ok = false;
    DisconnectDevice(&ok);
    if (QAbstractButton* button = ConnectButton())
        button->setText(LoadStringW(main_dlg::kTextConnect));
}

bool CKVEL_ZorviRQ05_SB03ToolDlg::event(QEvent* event) {
    if (event->type() == WindowMessageEvent(WM_LINE_LOST)) {
        HandleLineLost();
        return true;
    }
    return QDialog::event(event);
}

void CKVEL_ZorviRQ05_SB03ToolDlg::keyPressEvent(QKeyEvent* event) {
    if (IsDialogCloseKey(event)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CKVEL_ZorviRQ05_SB03ToolDlg::closeEvent(QCloseEvent* event) {
    done(QDialog::Rejected);
    event->accept();
}

void CKVEL_ZorviRQ05_SB03ToolDlg::done(int result) {
    QDialog::done(result);
    OnDestroy();
}

void CKVEL_ZorviRQ05_SB03ToolDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (isMinimized()) return;
    double sx = 1.0, sy = 1.0;
    if (!m_resizeTool.ResizeChildren(event->size().width(), event->size().height(), &sx, &sy))
        return;
    m_scale = std::min(sx, sy);
    m_realtimePage.SetScaleFactor(m_scale);
    m_realtimePage.SetupCharts();
    m_capturePage.SetScaleFactor(m_scale);
    m_capturePage.SetupCharts();
}

void CKVEL_ZorviRQ05_SB03ToolDlg::OnDestroy() {
    if (m_destroyed) return;
    m_destroyed = true;

    // Each page stops its worker and writes its own section of the settings.
    m_paramPage.Teardown();
    m_realtimePage.Teardown();
    m_capturePage.Teardown();
    m_firmwarePage.Teardown();

    m_lineCheck.stop();
    m_session.SetListener(nullptr);
    if (IsConnected()) {
        bool ok = false;
        DisconnectDevice(&ok);
    } else {
        m_session.Disconnect();  // what is left of a lost line
    }

    ReadBaudRateField();
    SaveConnectionSettings();

    CloseAppLog(&m_logFile);
}

// The main window's connection panel: the port list, the baud-rate field,
// the button that connects to or disconnects from the module, and what the
// window does when the module session finds the line gone.
#include <cstdint>
#include <map>
#include <string>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>

#include "app/MainDlg.h"
#include "common/KVEL_Common.h"
#include "connection/RadarSession.h"
#include "settings/AppConfig.h"
#include "ui/Prompt.h"
#include "ui/Strings.h"
#include "ui/WindowMessages.h"

namespace {

// String table entries of the panel.
constexpr int kCaptionError = shared_text::kError;
constexpr int kTextDisconnect = 10101;
constexpr int kNoDeviceDetected = 10102;
constexpr int kFailedToOpen = 10104;
constexpr int kFailedDataTransferMode = 10106;
constexpr int kFailedFunctionMode = 10107;

// The wait cursor for as long as the module is being talked to.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

int PortNumberFromName(const QString& name) {
    int number = 0;
    for (int i = 3; i < name.size() && name[i].isDigit(); ++i) {
        const int digit = name[i].digitValue();
        if (number > (INT32_MAX - digit) / 10) return 0;  // too long to be a port number
        number = number * 10 + digit;
    }
    return number;
}

int SignedIntegerFromText(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? value : 0;
}

void CKVEL_ZorviRQ05_SB03ToolDlg::RefreshPorts() {
    QComboBox* list = PortList();
    if (!list) return;
    list->clear();

    // One look at the port registry for the device paths of all ports.
    std::map<int, std::string> paths;
    for (const SerialPortInfo& port : ListSerialPorts()) paths[port.number] = port.devicePath;

    CPtrArrayCtrl names;
    EnumSerialPortNameW(&names);
    for (int i = 0; i < names.GetCount(); ++i) {
        const auto* wide = static_cast<const wchar_t*>(names.GetAt(i));
        if (!wide) continue;
        const QString name = QString::fromWCharArray(wide);
        const int number = PortNumberFromName(name);
        list->addItem(name, number);
        const int index = list->count() - 1;
        if (const auto path = paths.find(number); path != paths.end())
            list->setItemData(index, QString::fromStdString(path->second), Qt::ToolTipRole);
    }
    FreeSerialPortNameA(&names);

    list->setCurrentIndex(list->count() > 0 ? 0 : -1);
    ShowPortPath();
}

// The closed box shows only the port's name; its tooltip gives the device
// path, as the open list's items do.
void CKVEL_ZorviRQ05_SB03ToolDlg::ShowPortPath() {
    if (QComboBox* list = PortList())
        list->setToolTip(list->currentData(Qt::ToolTipRole).toString());
}

bool CKVEL_ZorviRQ05_SB03ToolDlg::SelectPort(int portNumber) {
    QComboBox* list = PortList();
    const int index = list ? list->findData(portNumber) : -1;
    if (index < 0) return false;
    list->setCurrentIndex(index);
    return true;
}

void CKVEL_ZorviRQ05_SB03ToolDlg::LoadConnectionSettings() {
    const char* text = AppConfigElement().GetAttribute(app_config::kBaudRate);
    if (text && *text) DigtalStringToValue(text, -1, &m_baudRate, kDigitalInt32);
}

void CKVEL_ZorviRQ05_SB03ToolDlg::SaveConnectionSettings() {
    XMLNode root = AppConfigElement();
    if (root) root.SetAttributeInt(app_config::kBaudRate, m_baudRate);
    SaveAppConfig();
}

void CKVEL_ZorviRQ05_SB03ToolDlg::ReadBaudRateField() {
    if (QLineEdit* field = BaudRateField()) m_baudRate = SignedIntegerFromText(field->text());
}

bool CKVEL_ZorviRQ05_SB03ToolDlg::IsConnected() { return m_session.IsConnected(); }

void CKVEL_ZorviRQ05_SB03ToolDlg::StopPageWork() {
    m_realtimePage.WaitForThresholdWrite();
    m_realtimePage.StopAcquisition();
    m_capturePage.StopRun();
}

void CKVEL_ZorviRQ05_SB03ToolDlg::OnConnectButton() {
    ReadBaudRateField();
    QAbstractButton* button = ConnectButton();
    int failure = 0;  // string ID of the message to show, 0 for none
    bool topmost = false;

    if (m_session.State() != SessionState::Disconnected && !IsConnected()) {
        // The line went while the panel still said "Disconn.": the click
        // shows what is left, a module that is gone.
        HandleLineLost();
    } else if (IsConnected()) {
        bool ok = false;
        {
            WaitCursor wait;
            StopPageWork();
            DisconnectDevice(&ok);
        }
        if (!ok) failure = kFailedFunctionMode;
        if (failure) ShowStringMessageBox(this, failure, kCaptionError, PromptIcon::Error);
        if (button) button->setText(LoadStringW(main_dlg::kTextConnect));
    } else {
        QComboBox* list = PortList();
        const int index = list ? list->currentIndex() : -1;
        const QVariant data = index >= 0 ? list->itemData(index) : QVariant();
        bool opened = false;
        if (index < 0 || !data.isValid() || data.toInt() == -1) {
            failure = kNoDeviceDetected;
            topmost = true;
        } else {
            bool ok = false;
            {
                WaitCursor wait;
                opened = ConnectDevice(data.toInt(), m_baudRate, &ok);
            }
            if (!opened) {
                failure = kFailedToOpen;
                topmost = true;
            } else if (!ok) {
                failure = kFailedDataTransferMode;
            }
        }
        if (failure) ShowStringMessageBox(this, failure, kCaptionError, PromptIcon::Error, topmost);
        if (opened && button) button->setText(LoadStringW(kTextDisconnect));
    }

    SaveConnectionSettings();
}

bool CKVEL_ZorviRQ05_SB03ToolDlg::ConnectDevice(int portNumber, int baudRate, bool* ok) {
    if (ok) *ok = false;
    const RadarConnectResult result = m_session.Connect(portNumber, baudRate, this);
    if (ok) *ok = result.dataTransferMode;
    if (result.opened) m_realtimePage.ResumeAfterConnect();
    return result.opened;
}

void CKVEL_ZorviRQ05_SB03ToolDlg::OnIdentity(const std::string& version,
                                             const std::string& serial) {
    ShowVersionText(version, serial);
}

void CKVEL_ZorviRQ05_SB03ToolDlg::OnParamsRead(int) {
    // On failure the set keeps its previous values, which the pages show.
    m_paramPage.UpdateParamFields();
    m_realtimePage.TakeConnectionThresholds();
    m_capturePage.ResetSeries();
}

void CKVEL_ZorviRQ05_SB03ToolDlg::ShowVersionText(const std::string& version,
                                                  const std::string& serial) {
    QLabel* label = VersionText();
    if (!label) return;
    label->setText(QStringLiteral("Version\uFF1A%1\r\nSN:%2")
                       .arg(QString::fromStdWString(AnsiToWide(version.c_str())),
                            QString::fromStdWString(AnsiToWide(serial.c_str()))));
    label->show();
}

bool CKVEL_ZorviRQ05_SB03ToolDlg::DisconnectDevice(bool* ok) {
    const bool functionMode = m_session.Disconnect();
    if (QLabel* label = VersionText()) label->hide();
    if (ok) *ok = functionMode;
    return true;
}

// Any thread: the window hears of the loss on its own thread.
void CKVEL_ZorviRQ05_SB03ToolDlg::OnSessionLineLost() {
    QCoreApplication::postEvent(this, new QEvent(WindowMessageEvent(WM_LINE_LOST)));
}

// The panel shows what is true: no module. Work on the pages ends (a
// recording keeps every byte it read), the lamp and the range text clear,
// and the port is closed so that Connect can open it again.
void CKVEL_ZorviRQ05_SB03ToolDlg::HandleLineLost() {
    if (m_session.State() != SessionState::Lost) return;
    StopPageWork();
    m_session.Disconnect();
    m_realtimePage.OnLineLost();
    if (QLabel* label = VersionText()) {
        label->clear();
        label->hide();
    }
    if (QAbstractButton* button = ConnectButton())
        button->setText(LoadStringW(main_dlg::kTextConnect));
}

// Nothing may be reading for the session to notice a quiet line's loss, so
// the window looks now and then.
void CKVEL_ZorviRQ05_SB03ToolDlg::CheckLine() { m_session.CheckLine(); }

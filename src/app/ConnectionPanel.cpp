// The connection panel of the main window: the port list, the baud-rate
// field and the button that connects to or disconnects from the module.
#include <cstdint>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "app/MainDlg.h"
#include "app/Prompt.h"
#include "app/Strings.h"
#include "common/KVEL_Common.h"
#include "settings/AppConfig.h"

namespace {

// String table entries of the panel.
constexpr int kCaptionError = 10000;
constexpr int kTextConnect = 10100;
constexpr int kTextDisconnect = 10101;
constexpr int kNoDeviceDetected = 10102;
constexpr int kFailedToOpen = 10104;
constexpr int kFailedDataTransferMode = 10106;
constexpr int kFailedFunctionMode = 10107;

// Open arguments of the main connection: two tries of each handshake,
// command mode at once, stale input dropped, frame size asked, 150 ms each.
constexpr int kOpenAttempts = 2;
constexpr int kOpenTimeoutMs = 150;
// Command mode for the function-mode switch: two tries, 150 ms each.
constexpr int kCmdModeAttempts = 2;
constexpr int kCmdModeTimeoutMs = 150;
// System setting 0 (operating mode) = 100 (function mode), code 18.
constexpr int kSystemSettingsCode = 18;
constexpr uint16_t kOperatingModeId = 0;
constexpr uint32_t kFunctionMode = 100;
constexpr int kSetParameterTimeoutMs = 2000;

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

    CPtrArrayCtrl names;
    EnumSerialPortNameW(&names);
    for (int i = 0; i < names.GetCount(); ++i) {
        const auto* wide = static_cast<const wchar_t*>(names.GetAt(i));
        if (!wide) continue;
        const QString name = QString::fromWCharArray(wide);
        const int number = PortNumberFromName(name);
        list->addItem(name, number);
        const int index = list->count() - 1;
        const std::string path = SerialPortDevicePath(number);
        if (!path.empty()) list->setItemData(index, QString::fromStdString(path), Qt::ToolTipRole);
    }
    FreeSerialPortNameA(&names);

    list->setCurrentIndex(list->count() > 0 ? 0 : -1);
}

void CKVEL_ZorviRQ05_SB03ToolDlg::LoadConnectionSettings() {
    const char* text = AppConfigElement().GetAttribute(app_config::kBaudRate);
    if (text && *text) DigtalStringToValue(text, -1, &m_baudRate, 5);
}

void CKVEL_ZorviRQ05_SB03ToolDlg::SaveConnectionSettings() {
    XMLNode root = AppConfigElement();
    if (root) root.SetAttributeInt(app_config::kBaudRate, m_baudRate);
    SaveAppConfig();
}

void CKVEL_ZorviRQ05_SB03ToolDlg::ReadBaudRateField() {
    if (QLineEdit* field = BaudRateField()) m_baudRate = SignedIntegerFromText(field->text());
}

bool CKVEL_ZorviRQ05_SB03ToolDlg::IsConnected() const {
    return m_device && KVEL_Interface_RadarDevice_IsConnected(m_device) != 0;
}

void CKVEL_ZorviRQ05_SB03ToolDlg::StopPageWork() {
    m_realtimePage.StopAcquisition();
    m_capturePage.StopRun();
}

void CKVEL_ZorviRQ05_SB03ToolDlg::OnConnectButton() {
    ReadBaudRateField();
    QAbstractButton* button = ConnectButton();
    int failure = 0;  // string ID of the message to show, 0 for none
    bool topmost = false;

    if (IsConnected()) {
        bool ok = false;
        {
            WaitCursor wait;
            StopPageWork();
            DisconnectDevice(&ok);
        }
        if (!ok) failure = kFailedFunctionMode;
        if (failure) ShowStringMessageBox(this, failure, kCaptionError, PromptIcon::Error);
        if (button) button->setText(LoadStringW(kTextConnect));
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
    if (!m_device) return false;
    if (!KVEL_Interface_RadarDevice_Serial_OpenByPortNum(m_device, portNumber, baudRate,
                                                         kOpenAttempts, 1, 1, 1, kOpenTimeoutMs))
        return false;

    CBaseStringA version, serial;
    KVEL_Interface_RadarDevice_GetVersion(m_device, &version);
    KVEL_Interface_RadarDevice_GetSerialNumber(m_device, &serial);
    ShowVersionText(version, serial);

    // On failure the set keeps its previous values, which the pages show.
    ReadRadarParams(m_device, &m_params);
    m_paramPage.UpdateParamFields();
    m_realtimePage.TakeNewThresholds(m_params);
    m_capturePage.ResetSeries();

    const bool dataMode = KVEL_Interface_RadarDevice_Protocol_SetDataTransferMode(m_device) != 0;
    KVEL_Interface_RadarDevice_StopCmdMode(m_device);
    if (ok) *ok = dataMode;
    return true;
}

void CKVEL_ZorviRQ05_SB03ToolDlg::ShowVersionText(const CBaseStringA& version,
                                                  const CBaseStringA& serial) {
    QLabel* label = VersionText();
    if (!label) return;
    label->setText(QStringLiteral("Version\uFF1A%1\r\nSN:%2")
                       .arg(QString::fromStdWString(AnsiToWide(version.GetString())),
                            QString::fromStdWString(AnsiToWide(serial.GetString()))));
    label->show();
}

bool CKVEL_ZorviRQ05_SB03ToolDlg::DisconnectDevice(bool* ok) {
    KVEL_Interface_RadarDevice_StartCmdMode(m_device, kCmdModeAttempts, kCmdModeTimeoutMs);
    const uint16_t id = kOperatingModeId;
    const uint32_t value = kFunctionMode;
    const bool functionMode =
        KVEL_Interface_RadarDevice_Protocol_SetParameter(m_device, kSystemSettingsCode, 1, &id,
                                                         &value, kSetParameterTimeoutMs) != 0;
    KVEL_Interface_RadarDevice_StopCmdMode(m_device);
    KVEL_Interface_RadarDevice_Serial_Close(m_device);
    if (QLabel* label = VersionText()) label->hide();
    if (ok) *ok = functionMode;
    return true;
}

// The main window: four page buttons and the connection panel on the left,
// one page area on the right in which exactly one page is visible. It owns
// the pages, the one connection to the module, the shared parameter set, the
// log file and the resize tool. Start-up runs it as the program's only modal
// loop; closing it ends the program.
#pragma once

#include <cstdio>
#include <map>
#include <string>

#include <QDialog>
#include <QIcon>
#include <QTimer>

#include "capture/DataProcessDlg.h"
#include "connection/RadarSession.h"
#include "controls/WndResizeTool.h"
#include "device/RadarProtocol.h"
#include "firmware/DownloadDlg.h"
#include "params/ParamSettingDlg.h"
#include "params/RadarParam.h"
#include "realtime/ObjectInfoDlg.h"
#include "settings/AppConfig.h"

class QAbstractButton;
class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;

// Control IDs of the main window's template.
namespace main_dlg {
constexpr int kTemplateId = 1000;
constexpr int kRefreshButton = 1100;
constexpr int kPortList = 1101;
constexpr int kBaudRateField = 1102;
constexpr int kConnectButton = 1103;
constexpr int kVersionText = 1104;
constexpr int kParamPageButton = 1187;
constexpr int kRealtimePageButton = 1188;
constexpr int kCapturePageButton = 1189;
constexpr int kFirmwarePageButton = 1190;
constexpr int kPagePlaceholder = 1200;
// How often the window looks whether a quiet line is still there.
constexpr int kLineCheckIntervalMs = 1000;
// The connect button's text while no module is connected.
constexpr int kTextConnect = 10100;
}  // namespace main_dlg

// The number that follows the first three characters of a port name
// ("COM7" -> 7); 0 when none follows.
int PortNumberFromName(const QString& name);
// A field's text as a signed 32-bit decimal number; 0 when it is not one.
int SignedIntegerFromText(const QString& text);

class CKVEL_ZorviRQ05_SB03ToolDlg : public QDialog,
                                    private IRadarConnectListener,
                                    private ISessionListener {
    Q_OBJECT
public:
    // Builds the window from its template in the current language and runs
    // its set-up: afterwards the pages exist, the parameter page is shown
    // and the module is not connected.
    explicit CKVEL_ZorviRQ05_SB03ToolDlg(QWidget* parent = nullptr);
    ~CKVEL_ZorviRQ05_SB03ToolDlg() override;

    // Connection panel.
    void RefreshPorts();
    // Selects the port with this number in the port list; false when the
    // list does not have it.
    bool SelectPort(int portNumber);
    void LoadConnectionSettings();
    void SaveConnectionSettings();
    // True when the port opened; *ok = the module took data transfer mode.
    bool ConnectDevice(int portNumber, int baudRate, bool* ok);
    // Always true; *ok = the module took function mode.
    bool DisconnectDevice(bool* ok);
    void OnConnectButton();
    bool IsConnected();
    // The session found the line gone (handled on the window's thread).
    void HandleLineLost();

    // Page buttons 1187-1190.
    void OnPageButton(int buttonId);

    // The control of the template with this ID (nullptr when none).
    QWidget* Control(int id) const;
    CParamSettingDlg& ParamPage() { return m_paramPage; }
    CObjectInfoDlg& RealtimePage() { return m_realtimePage; }
    CDataProcessDlg& CapturePage() { return m_capturePage; }
    CDownloadDlg& FirmwarePage() { return m_firmwarePage; }
    const CWndResizeTool& ResizeTool() const { return m_resizeTool; }
    double ScaleFactor() const { return m_scale; }
    int BaudRate() const { return m_baudRate; }
    CRadarSession& Session() { return m_session; }
    // The pages have stopped and saved, the module is let go.
    bool IsTornDown() const { return m_destroyed; }
    const RadarParamSet& Params() const { return m_session.Params().Values(); }

    // Enter and Escape close nothing: the dialog's own accept and reject
    // are not used. The close button (and a termination signal) close.
    void accept() override {}
    void reject() override {}
    void done(int result) override;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildFromTemplate();
    void OnInitDialog();
    void SetTitleWithVersion(const QString& caption);
    void CreatePages();
    void ConnectControls();
    void ShowOnlyPage(int buttonId);
    void StopPageWork();
    void ReadBaudRateField();
    void ShowPortPath();
    void ShowVersionText(const std::string& version, const std::string& serial);
    // The connect sequence's hand-offs: the version text, then the
    // parameter fields, the realtime thresholds and the capture series.
    void OnIdentity(const std::string& version, const std::string& serial) override;
    void OnParamsRead(int result) override;
    void OnLineLost() override { OnSessionLineLost(); }
    void OnSessionLineLost();
    void CheckLine();
    void LoadSharedParams();
    void OnDestroy();

    QComboBox* PortList() const;
    QLineEdit* BaudRateField() const;
    QAbstractButton* ConnectButton() const;
    QLabel* VersionText() const;

    // Declared in the order the window's parts are made and, in reverse,
    // destroyed: the pages go before the session they are handed, the resize
    // tool and the window itself.
    QIcon m_icon;
    CWndResizeTool m_resizeTool;
    double m_scale = 1.0;
    CRadarSession m_session;
    CParamSettingDlg m_paramPage;
    CObjectInfoDlg m_realtimePage;
    CDataProcessDlg m_capturePage;
    CDownloadDlg m_firmwarePage;
    int m_baudRate = radar_protocol::kDefaultBaudRate;
    FILE* m_logFile = nullptr;
    QTimer m_lineCheck;

    std::map<std::string, QWidget*> m_controls;
    QButtonGroup* m_pageButtons = nullptr;
    bool m_destroyed = false;
};

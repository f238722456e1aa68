// The firmware update window: queries the module's boot loader and writes a
// firmware image. Its transfer owns a device handle of its own and opens the
// port only while an operation runs; its layout comes from a skin file read at run
// time ("Download/Download_FW.xml" in "Skin/ENG" or "Skin/CHS" beside the
// program) rather than a dialog template. The work itself is the firmware
// transfer; this window shows the transfer's events in its controls, on the
// user-interface thread and in the order they came.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <QPointer>
#include <QString>

#include "firmware/FirmwareTransfer.h"
#include "ui/DialogPage.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTextEdit;

// The skin folder for the interface language: "Skin/CHS" for Chinese,
// "Skin/ENG" otherwise.
QString DownloadSkinFolder();
// The layout file inside the skin folder.
constexpr const char* kDownloadLayoutFile = "Download/Download_FW.xml";
// The image path holds at most this many characters.
constexpr int kMaxImagePathChars = 259;

class CDownloadDlg : public CDialogPage, private firmware::IFirmwareObserver {
    Q_OBJECT
public:
    CDownloadDlg();
    ~CDownloadDlg() override;

    // The controls of the layout, by their names in it.
    QLabel* RunningModeText() const { return m_runningMode; }
    QLabel* DeviceIdText() const { return m_deviceId; }
    QComboBox* PartitionList() const { return m_partitionList; }
    QWidget* BusyIndicator() const { return m_busy; }
    QLabel* FileSizeText() const { return m_fileSize; }
    QLabel* ChecksumText() const { return m_checksum; }
    QLabel* ProgressText() const { return m_progressText; }
    QProgressBar* ProgressBar() const { return m_progress; }
    QTextEdit* Log() const { return m_log; }
    QLineEdit* PathField() const { return m_pathField; }

    const QString& ImagePath() const { return m_imagePath; }
    uint32_t SelectedPartition() const;
    bool InBootLoader() const;
    bool IsBusy() const;
    // How long the module gets to restart in its boot loader (tests shorten it).
    void SetResetWait(std::chrono::milliseconds wait);
    // Tells whether the main window's own connection holds a port, so that
    // a port that does not open for this page is explained.
    void SetOwnConnectionQuery(std::function<bool(int portNumber)> holdsPort);

    // The notifications of the layout's controls.
    void OnUpdateFwInfoButton();
    void OnPathButton();
    void OnDownloadButton();
    void OnClearEditButton();
    void OnPathTextChanged(const QString& text);
    void OnPartitionSelected();

protected:
    void OnInitDialog() override;
    void StopWork() override;

private:
    bool LoadLayout();
    void FindControls(QWidget* layout);
    void ConnectControls();
    void ReadSettings();
    void ShowImagePath();
    void StartOperation(firmware::FirmwareOperation operation);
    firmware::FirmwarePort ReadPortFromMainWindow() const;
    void DisableMainWindow();
    void EnableMainWindow();

    // IFirmwareObserver, called on the transfer's thread: each hands its
    // values to the user-interface thread.
    void OnLog(const std::string& text) override;
    void OnRunningMode(std::optional<uint32_t> mode) override;
    void OnDeviceId(std::optional<uint32_t> id) override;
    void OnPartitions(const std::vector<firmware::PartitionEntry>& entries) override;
    void OnImage(uint32_t bytes, uint32_t checksum) override;
    void OnProgress(uint32_t sent, uint32_t total) override;
    void OnBusy(bool busy) override;
    void OnPortClosed() override;
    void OnMessage(const std::string& text) override;
    void OnFinished(firmware::FirmwareResult result) override;
    template <typename Action>
    void OnUiThread(Action action);
    void SetLabelLater(QLabel* CDownloadDlg::*label, const std::string& text);

    QLabel* m_runningMode = nullptr;
    QLabel* m_deviceId = nullptr;
    QComboBox* m_partitionList = nullptr;
    QWidget* m_busy = nullptr;
    QLabel* m_fileSize = nullptr;
    QLabel* m_checksum = nullptr;
    QLabel* m_progressText = nullptr;
    QProgressBar* m_progress = nullptr;
    QTextEdit* m_log = nullptr;
    QLineEdit* m_pathField = nullptr;
    std::vector<QWidget*> m_buttons;  // the controls that start something

    std::unique_ptr<firmware::CFirmwareTransfer> m_transfer;
    QString m_imagePath;
    std::function<bool(int)> m_ownConnectionHolds;
    int m_progressShift = 0;  // a progress bar counts in int: large images in coarser steps
    bool m_busyOperation = false;
    std::vector<QPointer<QWidget>> m_disabledByUs;

    // A message box the transfer waits for: answered on the user-interface
    // thread, or given up when the window goes.
    std::mutex m_promptMutex;
    std::condition_variable m_promptAnswered;
    uint64_t m_promptsAsked = 0;
    uint64_t m_promptsAnswered = 0;
    bool m_closing = false;
};

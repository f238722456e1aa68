#include "firmware/DownloadDlg.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextEdit>
#include <QUiLoader>
#include <QVBoxLayout>

#include <climits>

#include "common/KVEL_Common.h"
#include "firmware/FirmwareTexts.h"
#include "settings/AppConfig.h"
#include "ui/Prompt.h"
#include "ui/Strings.h"

namespace {

constexpr const char* kImageFilter = "Download Files (*.bin)|*.bin|All Files (*.*)|*.*||";
// The connection panel of the main window, by the names of its controls.
constexpr const char* kPortListName = "1101";
constexpr const char* kBaudRateFieldName = "1102";

QString ProgramFolder() {
    wchar_t folder[4096] = {};
    return GetOwnProgramPathW(folder) ? QString::fromWCharArray(folder) : QString();
}

// Labels show a text without the line end it carries for the log.
QString LabelText(const std::string& text) {
    QString shown = QString::fromStdString(text);
    while (shown.endsWith('\n') || shown.endsWith('\r')) shown.chop(1);
    return shown;
}

template <typename Widget>
Widget* Find(QWidget* layout, const char* name) {
    return layout->findChild<Widget*>(QString::fromLatin1(name));
}

}  // namespace

QString DownloadSkinFolder() {
    return CurrentUiLanguage() == UiLanguage::Chinese ? QStringLiteral("Skin/CHS")
                                                      : QStringLiteral("Skin/ENG");
}

CDownloadDlg::CDownloadDlg() : CDialogPage(0) {}

CDownloadDlg::~CDownloadDlg() {
    StopWork();
    m_transfer.reset();  // closes the page's own port
}

void CDownloadDlg::OnInitDialog() {
    firmware::IFirmwareObserver& observer = *this;
    m_transfer = std::make_unique<firmware::CFirmwareTransfer>(observer);
    m_transfer->SetOwnConnectionQuery(m_ownConnectionHolds);
    if (!LoadLayout()) {
        DbgOutputA(2, "Firmware page: no layout in %s/%s\r\n",
                   DownloadSkinFolder().toUtf8().constData(), kDownloadLayoutFile);
    }
    ReadSettings();
    ShowImagePath();
}

bool CDownloadDlg::LoadLayout() {
    QFile file(ProgramFolder() + "/" + DownloadSkinFolder() + "/" + kDownloadLayoutFile);
    if (!file.open(QIODevice::ReadOnly)) return false;
    QUiLoader loader;
    QWidget* layout = loader.load(&file, this);
    if (!layout) return false;
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    box->addWidget(layout);
    FindControls(layout);
    ConnectControls();
    return true;
}

void CDownloadDlg::FindControls(QWidget* layout) {
    m_runningMode = Find<QLabel>(layout, "RunningMode");
    m_deviceId = Find<QLabel>(layout, "DeviceId");
    m_partitionList = Find<QComboBox>(layout, "DownLoadAppCombo");
    m_busy = Find<QWidget>(layout, "DownloadingInfoLable");
    m_fileSize = Find<QLabel>(layout, "FileSize");
    m_checksum = Find<QLabel>(layout, "FileVerifyNum");
    m_progressText = Find<QLabel>(layout, "DownloadProgressText");
    m_progress = Find<QProgressBar>(layout, "DownloadProgress");
    m_log = Find<QTextEdit>(layout, "DownloadInfoEdit");
    m_pathField = Find<QLineEdit>(layout, "DownloadFilePath");
    if (m_busy) m_busy->hide();
    if (m_log) m_log->setReadOnly(true);
}

void CDownloadDlg::ConnectControls() {
    const auto onClick = [this](const char* name, void (CDownloadDlg::*handler)()) {
        if (auto* button = findChild<QPushButton*>(QString::fromLatin1(name))) {
            connect(button, &QPushButton::clicked, this, handler);
            m_buttons.push_back(button);
        }
    };
    onClick("UpdateFWInfoButton", &CDownloadDlg::OnUpdateFwInfoButton);
    onClick("PathButton", &CDownloadDlg::OnPathButton);
    onClick("DownloadButton", &CDownloadDlg::OnDownloadButton);
    onClick("ClearEditButton", &CDownloadDlg::OnClearEditButton);
    if (m_pathField) {
        connect(m_pathField, &QLineEdit::textChanged, this, &CDownloadDlg::OnPathTextChanged);
        m_buttons.push_back(m_pathField);
    }
    if (m_partitionList) {
        // A choice of the user's only: the list filled by a query selects
        // its first entry without this.
        connect(m_partitionList, qOverload<int>(&QComboBox::activated), this,
                &CDownloadDlg::OnPartitionSelected);
        m_buttons.push_back(m_partitionList);
    }
}

// The image path from the "Download" section; the program's folder when the
// settings have no "AppConfig" or the section no path.
void CDownloadDlg::ReadSettings() {
    m_imagePath = ProgramFolder();
    if (AppConfigElement().IsEmpty()) return;
    const XMLNode section = AppConfigSection(app_config::kDownload);
    if (const char* path = section.GetAttribute(app_config::kDlDownloadFilePath)) {
        m_imagePath = QString::fromUtf8(path).left(kMaxImagePathChars);
    }
}

void CDownloadDlg::ShowImagePath() {
    if (!m_pathField) return;
    m_pathField->setText(m_imagePath);
    m_pathField->setToolTip(m_imagePath);
}

void CDownloadDlg::StopWork() {
    {
        // A message box the transfer waits for will not be answered now.
        std::lock_guard lock(m_promptMutex);
        m_closing = true;
    }
    m_promptAnswered.notify_all();
    if (m_transfer) m_transfer->Stop();
}

uint32_t CDownloadDlg::SelectedPartition() const {
    return m_transfer ? m_transfer->SelectedPartition() : 0;
}

bool CDownloadDlg::InBootLoader() const { return m_transfer && m_transfer->InBootLoader(); }

bool CDownloadDlg::IsBusy() const { return m_busyOperation; }

void CDownloadDlg::SetResetWait(std::chrono::milliseconds wait) {
    if (m_transfer) m_transfer->SetResetWait(wait);
}

void CDownloadDlg::SetOwnConnectionQuery(std::function<bool(int portNumber)> holdsPort) {
    m_ownConnectionHolds = std::move(holdsPort);
    if (m_transfer) m_transfer->SetOwnConnectionQuery(m_ownConnectionHolds);
}

// --- notifications -----------------------------------------------------------

void CDownloadDlg::OnUpdateFwInfoButton() { StartOperation(firmware::FirmwareOperation::Query); }

void CDownloadDlg::OnDownloadButton() {
    if (!IsFileExistW(m_imagePath.toStdWString().c_str())) {
        ShowStringMessageBox(this, firmware::kTextNoImageFile, firmware::kTextNote,
                             PromptIcon::Error, true);
        return;
    }
    StartOperation(firmware::FirmwareOperation::Download);
}

void CDownloadDlg::OnPathButton() {
    FileDialogRequest request;
    request.owner = this;
    request.initialPath = m_pathField ? m_pathField->text() : m_imagePath;
    request.filter = QString::fromLatin1(kImageFilter);
    QString chosen;
    if (!Prompt().GetOpenFileName(request, &chosen)) return;
    m_imagePath = chosen.left(kMaxImagePathChars);
    // The chosen file is kept at once, not only when the window goes.
    AppConfigSection(app_config::kDownload)
        .SetAttribute(app_config::kDlDownloadFilePath, m_imagePath.toUtf8().constData());
    SaveAppConfig();
    ShowImagePath();
}

void CDownloadDlg::OnClearEditButton() {
    if (m_log) m_log->clear();  // stays read-only
}

void CDownloadDlg::OnPathTextChanged(const QString& text) {
    m_imagePath = text.left(kMaxImagePathChars);
    if (m_pathField) m_pathField->setToolTip(m_imagePath);
}

void CDownloadDlg::OnPartitionSelected() {
    if (!m_partitionList || m_partitionList->count() == 0 || !m_transfer) return;
    m_transfer->SetSelectedPartition(m_partitionList->currentData().toUInt());
}

// --- operations --------------------------------------------------------------

void CDownloadDlg::StartOperation(firmware::FirmwareOperation operation) {
    if (!m_transfer || m_busyOperation) return;
    {
        std::lock_guard lock(m_promptMutex);
        m_closing = false;
    }
    DisableMainWindow();
    m_busyOperation = true;
    if (!m_transfer->Start(operation, ReadPortFromMainWindow(), m_imagePath.toStdWString())) {
        m_busyOperation = false;
        EnableMainWindow();
    }
}

// The port list's selected entry holds the port number (-1: none); the
// baud-rate field a signed decimal number.
firmware::FirmwarePort CDownloadDlg::ReadPortFromMainWindow() const {
    firmware::FirmwarePort port;
    QWidget* main = parentWidget();
    if (!main) return port;
    auto* list = main->findChild<QComboBox*>(QString::fromLatin1(kPortListName));
    auto* baud = main->findChild<QLineEdit*>(QString::fromLatin1(kBaudRateFieldName));
    const int index = list ? list->currentIndex() : -1;
    const QVariant data = index >= 0 ? list->itemData(index) : QVariant();
    port.chosen = data.isValid() && data.toInt() != -1;
    port.portNumber = data.toInt();
    bool ok = false;
    const int rate = baud ? baud->text().toInt(&ok, 10) : 0;
    port.baudRate = ok ? rate : 0;
    return port;
}

// The main window takes no input while an operation runs. Disabling it as a
// whole would grey this page's log and progress too (a disabled Qt parent
// disables its children), so its other children are disabled, and on this
// page the controls that start something.
void CDownloadDlg::DisableMainWindow() {
    m_disabledByUs.clear();
    std::vector<QWidget*> targets = m_buttons;
    if (QWidget* main = parentWidget()) {
        for (QWidget* child : main->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (child != this) targets.push_back(child);
    }
    for (QWidget* widget : targets) {
        if (!widget->isEnabled()) continue;
        widget->setEnabled(false);
        m_disabledByUs.emplace_back(widget);
    }
}

void CDownloadDlg::EnableMainWindow() {
    for (const QPointer<QWidget>& widget : m_disabledByUs)
        if (widget) widget->setEnabled(true);
    m_disabledByUs.clear();
}

// --- the transfer's events (transfer thread) ---------------------------------

template <typename Action>
void CDownloadDlg::OnUiThread(Action action) {
    // Queued calls keep their order; they are dropped if the window is gone.
    QMetaObject::invokeMethod(this, std::move(action), Qt::QueuedConnection);
}

void CDownloadDlg::SetLabelLater(QLabel* CDownloadDlg::*label, const std::string& text) {
    OnUiThread([this, label, shown = LabelText(text)] {
        if (this->*label) (this->*label)->setText(shown);
    });
}

void CDownloadDlg::OnLog(const std::string& text) {
    QString line = QString::fromStdString(text);
    line.remove('\r');
    OnUiThread([this, line] {
        if (!m_log) return;
        // At the end, whatever the user has selected.
        QTextCursor cursor(m_log->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(line);
    });
}

void CDownloadDlg::OnRunningMode(std::optional<uint32_t> mode) {
    SetLabelLater(&CDownloadDlg::m_runningMode, firmware::RunningModeText(mode));
}

void CDownloadDlg::OnDeviceId(std::optional<uint32_t> id) {
    SetLabelLater(&CDownloadDlg::m_deviceId, firmware::DeviceIdText(id));
}

void CDownloadDlg::OnPartitions(const std::vector<firmware::PartitionEntry>& entries) {
    OnUiThread([this, entries] {
        if (!m_partitionList) return;
        m_partitionList->clear();
        for (const firmware::PartitionEntry& entry : entries)
            m_partitionList->addItem(QString::fromStdString(entry.text), entry.bit);
        if (!entries.empty()) m_partitionList->setCurrentIndex(0);
    });
}

void CDownloadDlg::OnImage(uint32_t bytes, uint32_t checksum) {
    SetLabelLater(&CDownloadDlg::m_fileSize, firmware::FileSizeText(bytes));
    SetLabelLater(&CDownloadDlg::m_checksum, firmware::ChecksumText(checksum));
}

void CDownloadDlg::OnProgress(uint32_t sent, uint32_t total) {
    SetLabelLater(&CDownloadDlg::m_progressText, firmware::ProgressText(sent, total));
    OnUiThread([this, sent, total] {
        if (!m_progress) return;
        m_progressShift = 0;
        while ((total >> m_progressShift) > static_cast<uint32_t>(INT_MAX)) ++m_progressShift;
        m_progress->setRange(0, static_cast<int>(total >> m_progressShift));
        m_progress->setValue(static_cast<int>(sent >> m_progressShift));
    });
}

void CDownloadDlg::OnBusy(bool busy) {
    OnUiThread([this, busy] {
        if (m_busy) m_busy->setVisible(busy);
    });
}

// The exchange is over: the log shows its end.
void CDownloadDlg::OnPortClosed() {
    OnUiThread([this] {
        if (m_log) m_log->verticalScrollBar()->setValue(m_log->verticalScrollBar()->maximum());
    });
}

// The transfer goes on only once the message is answered; a window that
// goes meanwhile releases it.
void CDownloadDlg::OnMessage(const std::string& text) {
    uint64_t ticket = 0;
    {
        std::lock_guard lock(m_promptMutex);
        ticket = ++m_promptsAsked;
    }
    OnUiThread([this, text = QString::fromStdString(text),
                caption = QString::fromStdString(firmware::FirmwareText(firmware::kTextNote))] {
        Prompt().ShowMessageBox({this, text, caption, PromptIcon::Information, true});
        {
            std::lock_guard lock(m_promptMutex);
            ++m_promptsAnswered;
        }
        m_promptAnswered.notify_all();
    });
    std::unique_lock lock(m_promptMutex);
    m_promptAnswered.wait(lock, [&] { return m_closing || m_promptsAnswered >= ticket; });
}

void CDownloadDlg::OnFinished(firmware::FirmwareResult) {
    OnUiThread([this] {
        m_busyOperation = false;
        EnableMainWindow();
    });
}

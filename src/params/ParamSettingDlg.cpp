#include "params/ParamSettingDlg.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QShowEvent>

#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <limits>
#include <string>

#include "app/DialogTemplate.h"
#include "app/Prompt.h"
#include "app/Strings.h"
#include "common/KVEL_Common.h"
#include "controls/DigitalEdit.h"
#include "params/RadarParamFile.h"
#include "settings/AppConfig.h"

namespace {

constexpr int kDialogId = 2000;
constexpr int kGateMaxField = 2002;
constexpr int kDelayField = 2003;
constexpr int kFirstTriggerField = 2010;
constexpr int kFirstHoldField = 2030;
constexpr int kReadButton = 2070;
constexpr int kWriteButton = 2071;
constexpr int kLoadButton = 2072;
constexpr int kSaveButton = 2073;

constexpr double kLimitTolerance = 1e-16;
constexpr double kThresholdMin = 1.0;
constexpr double kThresholdMax = 90.0;
constexpr uint32_t kGateMaxLimit = 15;

// Command mode is asked for twice, 150 ms each, before every exchange.
constexpr int kCmdModeAttempts = 2;
constexpr int kCmdModeTimeoutMs = 150;

// Longest path the file dialogs hand on.
constexpr int kMaxChosenPath = 259;

const char* const kParamFileFilter =
    "Radar Parameter Config File(*.xml)|*.xml|All Files (*.*)|*.*||";

enum StringId {
    kStrError = 10000,
    kStrSuccess = 10002,
    kStrNotConnected = 10103,
    kStrReadOk = 10150,
    kStrReadFailed = 10151,
    kStrWriteOk = 10152,
    kStrWriteFailed = 10153,
    kStrParamFileNotSaved = 10154,
};

bool IsTriggerField(int id) {
    return id >= kFirstTriggerField && id < kFirstTriggerField + kRadarGateCount;
}
bool IsHoldField(int id) { return id >= kFirstHoldField && id < kFirstHoldField + kRadarGateCount; }
bool IsParamField(int id) {
    return id == kGateMaxField || id == kDelayField || IsTriggerField(id) || IsHoldField(id);
}

// A field read as a signed 32-bit number, as the module's 32-bit cells
// hold it: the leading integer of the text; values of 2^31 and beyond up to
// 2^32 - 1 wrap as the unsigned cell they are (4294967295 reads as -1),
// larger ones stop at the 32-bit ends.
int32_t ReadSignedField(const QString& text) {
    const std::string utf8 = text.trimmed().toStdString();
    const char* p = utf8.data();
    const char* end = p + utf8.size();
    if (p < end && *p == '+') ++p;
    int64_t value = 0;
    const auto result = std::from_chars(p, end, value);
    if (result.ec == std::errc::result_out_of_range)
        return (p < end && *p == '-') ? std::numeric_limits<int32_t>::min()
                                      : std::numeric_limits<int32_t>::max();
    if (result.ec != std::errc()) return 0;
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    if (value <= std::numeric_limits<uint32_t>::max())
        return static_cast<int32_t>(static_cast<uint32_t>(value));
    return std::numeric_limits<int32_t>::max();
}

QString ProgramFolder() {
    wchar_t folder[KVEL_MAX_PATH] = {};
    if (!GetProgramPathW(static_cast<uint32_t>(getpid()), folder)) return {};
    return QString::fromWCharArray(folder);
}

// The settings' "AppConfig" element, created when the document lacks it.
XMLNode AppConfigRoot() {
    XMLNode root = AppConfigElement();
    if (root.IsEmpty()) root = gAppConfig.GetRoot().FindOrAddChild(app_config::kRootElement);
    return root;
}

// Fills the successive "%s" of a translated text; a text with fewer of
// them simply takes fewer values.
QString FillStrings(QString text, const QStringList& values) {
    int from = 0;
    for (const QString& value : values) {
        const int at = text.indexOf(QStringLiteral("%s"), from);
        if (at < 0) break;
        text.replace(at, 2, value);
        from = at + static_cast<int>(value.size());
    }
    return text;
}

}  // namespace

CParamSettingDlg::CParamSettingDlg() = default;
CParamSettingDlg::~CParamSettingDlg() = default;

void CParamSettingDlg::SetDevice(KVEL_RADAR_HANDLE device, RadarParamSet* params) {
    m_device = device;
    m_params = params;
}

bool CParamSettingDlg::Create(QWidget* parent) {
    setParent(parent);
    const std::unique_ptr<DialogTemplate> dialog = LoadDialogTemplate(kDialogId);
    if (!dialog) return false;
    const auto widgets =
        BuildDialog(this, *dialog, [](const DialogControl& control, QWidget* page) -> QWidget* {
            if (control.kind != "edit" || control.id.empty()) return nullptr;
            const int id = std::atoi(control.id.c_str());
            if (!IsParamField(id)) return nullptr;
            return new CDigitalEdit(page);
        });
    // The fields move the focus on Tab and Enter as on any dialog.
    setProperty("kvelDialog", true);

    for (const auto& [name, widget] : widgets) {
        auto* field = qobject_cast<CDigitalEdit*>(widget);
        const int id = std::atoi(name.c_str());
        if (field && IsParamField(id)) m_fields[id] = field;
    }
    ConnectFields();
    ConnectButtons(widgets);
    InitDialog();
    return true;
}

CDigitalEdit* CParamSettingDlg::Field(int id) const {
    const auto it = m_fields.find(id);
    return it == m_fields.end() ? nullptr : it->second;
}

void CParamSettingDlg::ConnectFields() {
    for (const auto& [id, field] : m_fields) {
        const int fieldId = id;
        connect(field, &CDigitalEdit::ValueCommitted, this,
                [this, fieldId] { OnFieldCommitted(fieldId); });
    }
}

void CParamSettingDlg::ConnectButtons(const std::map<std::string, QWidget*>& widgets) {
    auto button = [&](int id) -> QAbstractButton* {
        const auto it = widgets.find(std::to_string(id));
        return it == widgets.end() ? nullptr : qobject_cast<QAbstractButton*>(it->second);
    };
    if (auto* b = button(kReadButton))
        connect(b, &QAbstractButton::clicked, this, &CParamSettingDlg::OnReadSensorConfig);
    if (auto* b = button(kWriteButton))
        connect(b, &QAbstractButton::clicked, this, &CParamSettingDlg::OnSetSensorConfig);
    if (auto* b = button(kLoadButton))
        connect(b, &QAbstractButton::clicked, this, &CParamSettingDlg::OnLoadConfigFile);
    if (auto* b = button(kSaveButton))
        connect(b, &QAbstractButton::clicked, this, &CParamSettingDlg::OnSaveConfigFile);
}

void CParamSettingDlg::InitDialog() {
    if (CDigitalEdit* gate = Field(kGateMaxField)) {
        gate->SetValueType(DIGITAL_UINT32);
        gate->SetMinValue(DigitalCellFromUInt32(0), kLimitTolerance);
        gate->SetMaxValue(DigitalCellFromUInt32(kGateMaxLimit), kLimitTolerance);
    }
    if (CDigitalEdit* delay = Field(kDelayField)) delay->SetValueType(DIGITAL_INT32);
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        for (int id : {kFirstTriggerField + gate, kFirstHoldField + gate}) {
            CDigitalEdit* threshold = Field(id);
            if (!threshold) continue;
            threshold->SetValueType(DIGITAL_DOUBLE);
            threshold->SetMinValue(DigitalCellFromDouble(kThresholdMin), kLimitTolerance);
            threshold->SetMaxValue(DigitalCellFromDouble(kThresholdMax), kLimitTolerance);
        }
    }
    if (m_params) LoadRadarParams(AppConfigSection(app_config::kParamSetting), m_params);
    UpdateParamFields();
}

void CParamSettingDlg::UpdateParamFields() {
    if (!m_params) return;
    if (CDigitalEdit* gate = Field(kGateMaxField))
        gate->setText(QString::number(m_params->GateMax));
    if (CDigitalEdit* delay = Field(kDelayField))
        delay->setText(QString::number(m_params->ObjectDisappearDelayTime));
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        SetDlgItemDouble(this, kFirstTriggerField + gate, m_params->TriggerThreshold[gate]);
        SetDlgItemDouble(this, kFirstHoldField + gate, m_params->HoldThreshold[gate]);
    }
}

void CParamSettingDlg::OnFieldCommitted(int id) {
    if (!m_params) return;
    CDigitalEdit* field = Field(id);
    if (!field) return;
    if (id == kGateMaxField)
        m_params->GateMax = ReadSignedField(field->text());
    else if (id == kDelayField)
        m_params->ObjectDisappearDelayTime = ReadSignedField(field->text());
    else if (IsTriggerField(id))
        m_params->TriggerThreshold[id - kFirstTriggerField] = GetDlgItemDouble(this, id);
    else if (IsHoldField(id))
        m_params->HoldThreshold[id - kFirstHoldField] = GetDlgItemDouble(this, id);
}

void CParamSettingDlg::Teardown() {
    if (m_tornDown) return;
    m_tornDown = true;
    if (!m_params) return;
    StoreRadarParams(AppConfigSection(app_config::kParamSetting), m_params);
    SaveAppConfig();
}

void CParamSettingDlg::ReportModuleResult(int result, int successText, int failureText) {
    if (result == kRadarNotConnected)
        ShowStringMessageBox(this, kStrNotConnected, kStrError, PromptIcon::Error);
    else if (result == kRadarOk)
        ShowStringMessageBox(this, successText, kStrSuccess, PromptIcon::Information);
    else
        ShowStringMessageBox(this, failureText, kStrError, PromptIcon::Error);
}

void CParamSettingDlg::OnReadSensorConfig() {
    if (!m_params) return;
    KVEL_Interface_RadarDevice_StartCmdMode(m_device, kCmdModeAttempts, kCmdModeTimeoutMs);
    const int result = ReadRadarParams(m_device, m_params);
    KVEL_Interface_RadarDevice_StopCmdMode(m_device);
    if (result == kRadarOk) UpdateParamFields();
    ReportModuleResult(result, kStrReadOk, kStrReadFailed);
}

void CParamSettingDlg::OnSetSensorConfig() {
    if (!m_params) return;
    KVEL_Interface_RadarDevice_StartCmdMode(m_device, kCmdModeAttempts, kCmdModeTimeoutMs);
    const int result = WriteRadarParams(m_device, m_params);
    KVEL_Interface_RadarDevice_StopCmdMode(m_device);
    ReportModuleResult(result, kStrWriteOk, kStrWriteFailed);
}

QString CParamSettingDlg::ParamFileInitialPath() {
    const QString folder = ProgramFolder();
    const char* remembered = AppConfigRoot().GetAttribute(app_config::kRadarConfigFile);
    const QString name = remembered ? QString::fromStdWString(AnsiToWide(remembered))
                                    : QString::fromLatin1(app_config::kDefaultRadarConfigFile);
    if (name.isEmpty()) return folder;
    return folder + QLatin1Char('/') + name;
}

void CParamSettingDlg::RememberParamFile(const QString& path) {
    const std::wstring widePath = path.toStdWString();
    wchar_t name[KVEL_MAX_PATH] = {};
    if (!GetFileShortNameW(name, widePath.c_str())) return;
    AppConfigRoot().SetAttribute(app_config::kRadarConfigFile, WideToAnsi(name).c_str());
    SaveAppConfig();
}

void CParamSettingDlg::OnLoadConfigFile() {
    if (!m_params) return;
    FileDialogRequest request;
    request.owner = this;
    request.initialPath = ParamFileInitialPath();
    request.filter = QString::fromLatin1(kParamFileFilter);
    request.mustExist = true;
    QString chosen;
    if (!Prompt().GetOpenFileName(request, &chosen)) return;
    chosen.truncate(kMaxChosenPath);
    RememberParamFile(chosen);
    LoadRadarParamFile(chosen.toStdWString().c_str(), m_params);
    UpdateParamFields();
}

void CParamSettingDlg::OnSaveConfigFile() {
    if (!m_params) return;
    FileDialogRequest request;
    request.owner = this;
    request.initialPath = ParamFileInitialPath();
    request.filter = QString::fromLatin1(kParamFileFilter);
    request.defaultExtension = QStringLiteral("xml");
    // "Only existing files" means nothing to a save dialog: a new file is
    // exactly what it may create.
    request.mustExist = false;
    request.confirmOverwrite = true;
    QString chosen;
    if (!Prompt().GetSaveFileName(request, &chosen)) return;
    chosen.truncate(kMaxChosenPath);
    RememberParamFile(chosen);
    std::string error;
    if (SaveRadarParamFile(chosen.toStdWString().c_str(), m_params, &error)) return;
    // Parameters the user believes saved must not vanish without a word.
    MessageBoxRequest message;
    message.owner = this;
    message.text =
        FillStrings(LoadStringW(kStrParamFileNotSaved), {chosen, QString::fromStdString(error)});
    message.caption = LoadStringW(kStrError);
    message.icon = PromptIcon::Error;
    Prompt().ShowMessageBox(message);
}

void CParamSettingDlg::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    UpdateParamFields();
}

void CParamSettingDlg::keyPressEvent(QKeyEvent* event) {
    if (IsDialogCloseKey(event)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

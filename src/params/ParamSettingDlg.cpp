#include "params/ParamSettingDlg.h"

#include <QAbstractButton>
#include <QColor>
#include <QPalette>
#include <QShowEvent>

#include <charconv>
#include <cstdint>
#include <limits>
#include <string>

#include "common/KVEL_Common.h"
#include "controls/DigitalEdit.h"
#include "params/RadarParamFile.h"
#include "settings/AppConfig.h"
#include "ui/DialogTemplate.h"
#include "ui/Prompt.h"
#include "ui/Strings.h"

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

// The background of a field whose value the module does not hold yet: a
// pale tint that leaves the page's look as it is.
constexpr QColor kDiffersFromModuleColour(255, 240, 200);

// Longest path the file dialogs hand on.
constexpr int kMaxChosenPath = 259;

const char* const kParamFileFilter =
    "Radar Parameter Config File(*.xml)|*.xml|All Files (*.*)|*.*||";

enum StringId {
    kStrError = shared_text::kError,
    kStrSuccess = shared_text::kSuccess,
    kStrNotConnected = shared_text::kNotConnected,
    kStrReadOk = 10150,
    kStrReadFailed = 10151,
    kStrWriteOk = 10152,
    kStrWriteFailed = 10153,
    kStrParamFileNotSaved = 10154,
    kStrModuleValue = 10155,
};

bool IsTriggerField(int id) {
    return id >= kFirstTriggerField && id < kFirstTriggerField + kRadarGateCount;
}
bool IsHoldField(int id) { return id >= kFirstHoldField && id < kFirstHoldField + kRadarGateCount; }
bool IsParamField(int id) {
    return id == kGateMaxField || id == kDelayField || IsTriggerField(id) || IsHoldField(id);
}

// The position of a field's parameter in the module's order.
int ParamIndexOfField(int id) {
    if (id == kGateMaxField) return 0;
    if (id == kDelayField) return 1;
    if (IsTriggerField(id)) return 2 + (id - kFirstTriggerField);
    return 2 + kRadarGateCount + (id - kFirstHoldField);
}

// A value as its field shows it.
QString ParamValueText(int index, double value) {
    if (RadarParamLimitsAt(index).kind != RadarParamKind::ThresholdDb)
        return QString::number(static_cast<int32_t>(value));
    return QString::asprintf("%.*f", CountDecimals(value, 2), value);
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

// Where parameter files are offered first: the program's folder, or the
// user's data folder when the program folder is read-only.
QString ParamFileFolder() {
    wchar_t folder[KVEL_MAX_PATH] = {};
    if (!GetUserFileFolderW(UserFileKind::kData, folder)) return {};
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

CParamSettingDlg::CParamSettingDlg() : CDialogPage(kDialogId) {}

CParamSettingDlg::~CParamSettingDlg() {
    if (m_session) m_session->Params().RemoveListener(this);
}

QWidget* CParamSettingDlg::CreateControl(const DialogControl& control) {
    if (control.kind != "edit" || control.id.empty()) return nullptr;
    const int id = std::atoi(control.id.c_str());
    if (!IsParamField(id)) return nullptr;
    auto* field = new CDigitalEdit(this);
    m_fields[id] = field;
    return field;
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

void CParamSettingDlg::ConnectButtons() {
    auto button = [this](int id) { return qobject_cast<QAbstractButton*>(Control(id)); };
    if (auto* b = button(kReadButton))
        connect(b, &QAbstractButton::clicked, this, &CParamSettingDlg::OnReadSensorConfig);
    if (auto* b = button(kWriteButton))
        connect(b, &QAbstractButton::clicked, this, &CParamSettingDlg::OnSetSensorConfig);
    if (auto* b = button(kLoadButton))
        connect(b, &QAbstractButton::clicked, this, &CParamSettingDlg::OnLoadConfigFile);
    if (auto* b = button(kSaveButton))
        connect(b, &QAbstractButton::clicked, this, &CParamSettingDlg::OnSaveConfigFile);
}

void CParamSettingDlg::OnInitDialog() {
    ConnectFields();
    ConnectButtons();
    SetFieldLimits();
    if (m_session) m_session->Params().AddListener(this);
    UpdateParamFields();
}

// The fields take what the shared table of limits allows.
void CParamSettingDlg::SetFieldLimits() {
    namespace limits = radar_param_limits;
    if (CDigitalEdit* gate = Field(kGateMaxField)) {
        gate->SetValueType(DIGITAL_UINT32);
        gate->SetMinValue(DigitalCellFromUInt32(static_cast<uint32_t>(limits::kGateMax.minimum)),
                          kLimitTolerance);
        gate->SetMaxValue(DigitalCellFromUInt32(static_cast<uint32_t>(limits::kGateMax.maximum)),
                          kLimitTolerance);
    }
    if (CDigitalEdit* delay = Field(kDelayField)) {
        // Signed, or the unsigned form of the same 32-bit cell: wider than
        // either, so that a number beyond both is refused with the limits.
        delay->SetValueType(DIGITAL_INT64);
        delay->SetMinValue(
            DigitalCellFromInt64(static_cast<int64_t>(limits::kAbsenceDelay.minimum)),
            kLimitTolerance);
        delay->SetMaxValue(
            DigitalCellFromInt64(static_cast<int64_t>(limits::kAbsenceDelay.maximum)),
            kLimitTolerance);
    }
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        for (int id : {kFirstTriggerField + gate, kFirstHoldField + gate}) {
            CDigitalEdit* threshold = Field(id);
            if (!threshold) continue;
            threshold->SetValueType(DIGITAL_DOUBLE);
            threshold->SetMinValue(DigitalCellFromDouble(limits::kThreshold.minimum),
                                   kLimitTolerance);
            threshold->SetMaxValue(DigitalCellFromDouble(limits::kThreshold.maximum),
                                   kLimitTolerance);
        }
    }
}

void CParamSettingDlg::UpdateParamFields() {
    if (!m_session) return;
    const RadarParamSet& params = m_session->Params().Values();
    if (CDigitalEdit* gate = Field(kGateMaxField)) gate->setText(QString::number(params.GateMax));
    if (CDigitalEdit* delay = Field(kDelayField))
        delay->setText(QString::number(params.ObjectDisappearDelayTime));
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        SetDlgItemDouble(this, kFirstTriggerField + gate, params.TriggerThreshold[gate]);
        SetDlgItemDouble(this, kFirstHoldField + gate, params.HoldThreshold[gate]);
    }
    UpdateModuleMarks();
}

void CParamSettingDlg::UpdateModuleMarks() {
    if (!m_session) return;
    const CRadarParamModel& model = m_session->Params();
    const std::optional<RadarParamSet> module = model.ModuleValues();
    for (const auto& [id, field] : m_fields) {
        const int index = ParamIndexOfField(id);
        if (!module || !model.DiffersFromModule(index)) {
            field->setPalette(QPalette());  // the page's own again
            field->setToolTip(QString());
            continue;
        }
        QPalette tinted = palette();
        tinted.setColor(QPalette::Base, kDiffersFromModuleColour);
        field->setPalette(tinted);
        field->setToolTip(FillStrings(LoadStringW(kStrModuleValue),
                                      {ParamValueText(index, RadarParamValueAt(*module, index))}));
    }
}

void CParamSettingDlg::OnRadarParamsChanged() {
    if (m_committing)
        UpdateModuleMarks();
    else
        UpdateParamFields();
}

void CParamSettingDlg::OnFieldCommitted(int id) {
    if (!m_session) return;
    CDigitalEdit* field = Field(id);
    if (!field) return;
    RadarParamSet params = m_session->Params().Values();
    if (id == kGateMaxField)
        params.GateMax = ReadSignedField(field->text());
    else if (id == kDelayField)
        params.ObjectDisappearDelayTime = ReadSignedField(field->text());
    else if (IsTriggerField(id))
        params.TriggerThreshold[id - kFirstTriggerField] = GetDlgItemDouble(this, id);
    else if (IsHoldField(id))
        params.HoldThreshold[id - kFirstHoldField] = GetDlgItemDouble(this, id);
    m_committing = true;
    m_session->Params().Set(params);
    m_committing = false;
}

void CParamSettingDlg::SaveSettings() {
    if (!m_session) return;
    StoreRadarParams(AppConfigSection(app_config::kParamSetting), &m_session->Params().Values());
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
    if (!m_session) return;
    const int result = m_session->ReadParams();
    if (result == kRadarOk) UpdateParamFields();
    ReportModuleResult(result, kStrReadOk, kStrReadFailed);
}

void CParamSettingDlg::OnSetSensorConfig() {
    if (!m_session) return;
    const int result = m_session->WriteParams();
    if (result == kRadarOk) UpdateModuleMarks();
    ReportModuleResult(result, kStrWriteOk, kStrWriteFailed);
}

QString CParamSettingDlg::ParamFileInitialPath() {
    const QString folder = ParamFileFolder();
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
    if (!m_session) return;
    FileDialogRequest request;
    request.owner = this;
    request.initialPath = ParamFileInitialPath();
    request.filter = QString::fromLatin1(kParamFileFilter);
    request.mustExist = true;
    QString chosen;
    if (!Prompt().GetOpenFileName(request, &chosen)) return;
    chosen.truncate(kMaxChosenPath);
    RememberParamFile(chosen);
    RadarParamSet params = m_session->Params().Values();
    LoadRadarParamFile(chosen.toStdWString().c_str(), &params);
    m_session->Params().Set(params);
    UpdateParamFields();
}

void CParamSettingDlg::OnSaveConfigFile() {
    if (!m_session) return;
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
    if (SaveRadarParamFile(chosen.toStdWString().c_str(), &m_session->Params().Values(), &error))
        return;
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

#include "capture/DataProcessDlg.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMenu>
#include <QShowEvent>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "charts/PageCharts.h"
#include "common/KVEL_Common.h"
#include "common/ReplaceFile.h"
#include "controls/DigitalEdit.h"
#include "settings/AppConfig.h"
#include "ui/DialogTemplate.h"
#include "ui/Prompt.h"
#include "ui/Strings.h"
#include "ui/WindowMessages.h"

namespace {

namespace dp = data_process;
namespace ac = app_config;

enum StringId {
    kStrError = shared_text::kError,
    kStrHint = shared_text::kChartHint,
    kStrNotConnected = shared_text::kNotConnected,
    kStrCaptureData = 10200,
    kStrStopCapture = 10201,
    kStrEnergyTitle = 10210,
    kStrFirstEnergyLegend = 10213,
    kStrFirstEnergyTooltip = 10216,
    kStrDistanceTitle = 10230,
    kStrDistanceTooltip = 10233,
};

using namespace page_chart;
constexpr uint32_t kHintColor = 0x7FFFFFFF;
constexpr double kLimitTolerance = 1e-16;
constexpr int kEnergyHintKey = 6;
constexpr int kProgressPoints = 9;
constexpr int kDistanceHintKey = 3;

const QString kKeepAwakeReason = QStringLiteral("Recording or replaying radar reports");

// The worker's messages to the page: the run they are about, its end and
// the file that could not be written.
struct CaptureEvent : QEvent {
    CaptureEvent(int message, int run, CaptureRunEnd how, QString file = {})
        : QEvent(WindowMessageEvent(message)), runId(run), end(how), path(std::move(file)) {}
    int runId;
    CaptureRunEnd end;
    QString path;
};

template <typename... Args>
QString FormatString(int id, Args... args) {
    return QString::asprintf(LoadStringW(id).toUtf8().constData(), args...);
}

// Fills the successive "%s" of a translated text.
QString FillStrings(QString text, const QStringList& values) {
    qsizetype from = 0;
    for (const QString& value : values) {
        const qsizetype at = text.indexOf(QStringLiteral("%s"), from);
        if (at < 0) break;
        text.replace(at, 2, value);
        from = at + value.size();
    }
    return text;
}

QString FileName(const std::wstring& path) {
    const QString text = QString::fromStdWString(path);
    return text.mid(text.lastIndexOf(QLatin1Char('/')) + 1);
}

bool SameRect(const KRect& a, const KRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

void SetMouseSwitches(CWaveWnd& chart) {
    chart.SetMouseSwitches(
        {.valueZoom = true, .valueDrag = true, .sampleZoom = true, .sampleDrag = true});
}

void LoadKey(const XMLNode& section, const char* key, void* target, int type) {
    const char* text = section.GetAttribute(key);
    if (text && *text) DigtalStringToValue(text, -1, target, type);
}

std::wstring DefaultSaveFolder() {
    wchar_t program[KVEL_MAX_PATH] = {};
    wchar_t folder[KVEL_MAX_PATH] = {};
    GetUserFileFolderW(UserFileKind::kData, program);
    CombinePathNameW(folder, program, AnsiToWide(ac::kDefaultDpSaveFolderName).c_str());
    return folder;
}

// Both series as CSV: a header line, then one line per sample.
std::string SeriesCsv(const CaptureSeries& series) {
    std::string text = std::string(kSeriesCsvHeader) + '\n';
    text.reserve(text.size() + series.energy.size() * 24);
    for (int i = 0; i < series.Capacity(); ++i) {
        text += SeriesLine(series, i);
        text += '\n';
    }
    return text;
}

}  // namespace

DataProcessSettings::DataProcessSettings()
    : energyBkColor(ac::kDefaultDpEnergyBkColor),
      energyAutoScale(ac::kDefaultDpEnergyValueAutoScale),
      energyDisplayMax(ac::kDefaultDpEnergyValueDisplayMax),
      energyLineWidth(ac::kDefaultDpEnergyWaveLineWidth),
      distanceBkColor(ac::kDefaultDpDistanceBkColor),
      distanceLineWidth(ac::kDefaultDpDistanceWaveLineWidth),
      scanSeconds(ac::kDefaultDpScanTime) {}

CDataProcessDlg::CDataProcessDlg() : CDialogPage(dp::kTemplateId), m_scan(this) {
    m_progressTimer.setInterval(dp::kProgressIntervalMs);
    connect(&m_progressTimer, &QTimer::timeout, this, &CDataProcessDlg::UpdateProgress);
}

CDataProcessDlg::~CDataProcessDlg() {
    // The worker feeds the charts: it ends before they go.
    m_scan.Stop();
}

QWidget* CDataProcessDlg::CreateControl(const DialogControl& control) {
    const int id = std::atoi(control.id.c_str());
    switch (id) {
        case dp::kDurationField:
            return m_durationField = new CDigitalEdit(this);
        case dp::kEnergyChart:
            return m_energyChart = new CWaveWnd(this);
        case dp::kDistanceChart:
            return m_distanceChart = new CWaveWnd(this);
        default:
            return nullptr;
    }
}

QComboBox* CDataProcessDlg::GateList() const {
    return qobject_cast<QComboBox*>(Control(dp::kGateList));
}

QLineEdit* CDataProcessDlg::FolderField() const {
    return qobject_cast<QLineEdit*>(Control(dp::kFolderField));
}

void CDataProcessDlg::OnInitDialog() {
    if (m_durationField) {
        m_durationField->SetValueType(DIGITAL_UINT32);
        m_durationField->SetMinValue(DigitalCellFromUInt32(noise_scan::kMinSeconds),
                                     kLimitTolerance);
        m_durationField->SetMaxValue(DigitalCellFromUInt32(noise_scan::kMaxSeconds),
                                     kLimitTolerance);
        connect(m_durationField, &CDigitalEdit::ValueCommitted, this,
                &CDataProcessDlg::OnDurationCommitted);
    }
    LoadSettings();
    SetupCharts();
    if (QComboBox* gates = GateList()) {
        for (int gate = 0; gate < noise_scan::kGateCount; ++gate)
            gates->addItem(QString::number(gate));
        gates->setCurrentIndex(m_gate);
        connect(gates, &QComboBox::currentIndexChanged, this, &CDataProcessDlg::OnGateChanged);
    }
    auto clicked = [this](int id, void (CDataProcessDlg::*handler)()) {
        if (auto* button = qobject_cast<QAbstractButton*>(Control(id)))
            connect(button, &QAbstractButton::clicked, this, handler);
    };
    clicked(dp::kCaptureButton, &CDataProcessDlg::OnCaptureButton);
    clicked(dp::kLoadButton, &CDataProcessDlg::OnLoadButton);
    clicked(dp::kBrowseButton, &CDataProcessDlg::OnBrowseButton);
    for (CWaveWnd* chart : {m_energyChart, m_distanceChart})
        if (chart)
            connect(chart, &CWaveWnd::ContextMenuCreated, this, &CDataProcessDlg::AddExportItem);
    SetControlStates(false);
}

// --- Settings -------------------------------------------------------------------

void CDataProcessDlg::LoadSettings() {
    const XMLNode section = AppConfigSection(ac::kDataProcess);
    DataProcessSettings& s = m_settings;
    if (!section.IsEmpty()) {
        LoadKey(section, ac::kDpEnergyBkColor, &s.energyBkColor, kDigitalUInt32);
        LoadKey(section, ac::kDpEnergyValueAutoScale, &s.energyAutoScale, kDigitalInt32);
        LoadKey(section, ac::kDpEnergyValueDisplayMax, &s.energyDisplayMax, kDigitalInt32);
        LoadKey(section, ac::kDpEnergyWaveLineWidth, &s.energyLineWidth, kDigitalInt32);
        LoadKey(section, ac::kDpDistanceBkColor, &s.distanceBkColor, kDigitalUInt32);
        LoadKey(section, ac::kDpDistanceWaveLineWidth, &s.distanceLineWidth, kDigitalInt32);
        LoadKey(section, ac::kDpScanTime, &s.scanSeconds, kDigitalInt32);
        const char* folder = section.GetAttribute(ac::kDpSaveFilePath);
        if (folder && *folder) s.saveFolder = AnsiToWide(folder);
    }
    // A hand-edited duration outside the field's limits would give a scan
    // the field itself never allows.
    s.scanSeconds =
        std::clamp<int32_t>(s.scanSeconds, noise_scan::kMinSeconds, noise_scan::kMaxSeconds);
    if (s.saveFolder.empty()) s.saveFolder = DefaultSaveFolder();
    if (m_durationField) m_durationField->setText(QString::number(s.scanSeconds));
    if (QLineEdit* folder = FolderField()) folder->setText(QString::fromStdWString(s.saveFolder));
}

void CDataProcessDlg::SaveSettings() {
    const XMLNode section = AppConfigSection(ac::kDataProcess);
    if (!section.IsEmpty()) {
        const DataProcessSettings& s = m_settings;
        section.SetAttributeHex(ac::kDpEnergyBkColor, s.energyBkColor);
        section.SetAttributeInt(ac::kDpEnergyValueAutoScale, s.energyAutoScale);
        section.SetAttributeInt(ac::kDpEnergyValueDisplayMax, s.energyDisplayMax);
        section.SetAttributeInt(ac::kDpEnergyWaveLineWidth, s.energyLineWidth);
        section.SetAttributeHex(ac::kDpDistanceBkColor, s.distanceBkColor);
        section.SetAttributeInt(ac::kDpDistanceWaveLineWidth, s.distanceLineWidth);
        section.SetAttributeInt(ac::kDpScanTime, s.scanSeconds);
        const std::string folder =
            CutAnsi(WideToAnsi(SaveFolderText().toStdWString()), KVEL_MAX_PATH - 1);
        section.SetAttribute(ac::kDpSaveFilePath, folder.c_str());
    }
    SaveAppConfig();
}

QString CDataProcessDlg::SaveFolderText() const {
    const QLineEdit* folder = FolderField();
    return folder ? folder->text() : QString::fromStdWString(m_settings.saveFolder);
}

const RadarParamSet& CDataProcessDlg::Params() const {
    static const RadarParamSet kNoSession;
    return m_session ? m_session->Params().Values() : kNoSession;
}

// --- Run ------------------------------------------------------------------------

bool CDataProcessDlg::IsConnected() const { return m_session && m_session->IsConnected(); }

void CDataProcessDlg::SetControlStates(bool running) {
    if (auto* capture = qobject_cast<QAbstractButton*>(Control(dp::kCaptureButton)))
        capture->setText(LoadStringW(running ? kStrStopCapture : kStrCaptureData));
    for (int id : {dp::kDurationField, dp::kFolderField, dp::kBrowseButton, dp::kGateList})
        if (QWidget* control = Control(id)) control->setEnabled(!running);
    if (QWidget* capture = Control(dp::kCaptureButton))
        capture->setEnabled(!running || m_mode == CaptureMode::Record);
    if (QWidget* load = Control(dp::kLoadButton))
        load->setEnabled(!running || m_mode == CaptureMode::Replay);
}

void CDataProcessDlg::StartRun() {
    if (m_running) return;
    if (m_mode == CaptureMode::Record && !IsConnected()) {
        ShowStringMessageBox(this, kStrNotConnected, kStrError, PromptIcon::Error);
        return;
    }
    DbgOutputA(2, "Start Noise scan.\r\n");
    CaptureRunRequest request;
    request.mode = m_mode;
    request.session = m_session;
    request.folder = SaveFolderText().toStdWString();
    request.file = m_loadPath;
    request.gate = m_gate;
    if (m_session) request.params = m_session->Params().Values();
    if (m_session) {
        // Recordings name the module they came from in their side files.
        request.origin.version = m_session->Version();
        request.origin.serial = m_session->Serial();
        request.origin.baudRate = m_session->BaudRate();
    }
    m_running = true;
    SetControlStates(true);
    UpdateRepaintPacing();
    m_lastRepaintColumn = -1;
    if (!m_scan.Start(request)) {
        StopRun();
        return;
    }
    m_keepAwake.Start(kKeepAwakeReason);
    m_progressTimer.start();
    m_progressShown = true;
    UpdateProgress();
}

void CDataProcessDlg::StopRun() {
    m_scan.Stop();
    const bool wasRunning = m_running;
    m_running = false;
    SetControlStates(false);
    m_keepAwake.Stop();
    m_progressTimer.stop();
    // The last figure stays until the next reset; the charts show the last
    // reports, which the pacing may not have painted yet.
    if (!wasRunning) return;  // page switches and disconnects stop whatever runs
    UpdateProgress();
    for (CWaveWnd* chart : {m_energyChart, m_distanceChart})
        if (chart) chart->Invalidate();
    DbgOutputA(2, "Stop Noise scan.\r\n");
}

void CDataProcessDlg::OnCaptureButton() {
    if (m_running) {
        StopRun();
        return;
    }
    m_mode = CaptureMode::Record;
    StartRun();
}

void CDataProcessDlg::OnLoadButton() {
    const QString folder = SaveFolderText();
    if (m_loadPath.empty()) {
        wchar_t path[KVEL_MAX_PATH] = {};
        CombinePathNameW(path, folder.toStdWString().c_str(), radar_data_file::kProposedName);
        m_loadPath = path;
    }
    FileDialogRequest request;
    request.owner = this;
    request.initialPath = QString::fromStdWString(m_loadPath);
    request.filter = QString::fromLatin1(dp::kLoadFilter);
    QString chosen;
    if (!Prompt().GetOpenFileName(request, &chosen)) return;
    StopRun();
    m_loadPath = chosen.toStdWString();
    m_mode = CaptureMode::Replay;
    StartRun();
}

void CDataProcessDlg::OnBrowseButton() {
    QLineEdit* folder = FolderField();
    if (!folder) return;
    QString chosen;
    if (Prompt().BrowseForFolder(this, QString(), folder->text(), &chosen)) folder->setText(chosen);
}

void CDataProcessDlg::OnDurationCommitted() {
    if (!m_durationField) return;
    m_settings.scanSeconds = static_cast<int32_t>(m_durationField->text().trimmed().toLongLong());
    ResetSeries();
}

void CDataProcessDlg::OnGateChanged(int index) {
    if (index < 0) return;
    m_gate = index;
    ResetSeries();
    // A loaded file is replayed from its start for the new gate.
    if (m_mode == CaptureMode::Replay) {
        StopRun();
        StartRun();
    }
}

// --- The worker's calls ------------------------------------------------------------

void CDataProcessDlg::OnReportCounted(const CaptureSeries& series, int index, const double*) {
    const int count = series.Capacity();
    if (m_energyChart) m_energyChart->AppendRevisedFrame(0, series.energy.data(), count, index);
    if (m_distanceChart)
        m_distanceChart->AppendRevisedFrame(0, series.distance.data(), count, index);
    if (!RepaintDueAfter(index, count)) return;
    if (m_energyChart) m_energyChart->RequestRepaint();
    if (m_distanceChart) m_distanceChart->RequestRepaint();
}

// Worker thread. A long scan puts hundreds of reports on one pixel column:
// painting for each would redraw the same picture. A repaint is asked for
// when the newest report starts a new column, when the last one is in, and
// otherwise at least every kRepaintGapMs, so that a change within a column
// shows soon too. Every paint still shows the series as it stands.
bool CDataProcessDlg::RepaintDueAfter(int index, int count) {
    const auto now = std::chrono::steady_clock::now();
    const int column = index / std::max(1, m_reportsPerColumn.load());
    if (column == m_lastRepaintColumn && index + 1 < count &&
        now - m_lastRepaintTime < std::chrono::milliseconds(dp::kRepaintGapMs))
        return false;
    m_lastRepaintColumn = column;
    m_lastRepaintTime = now;
    return true;
}

// How many reports share a pixel column of the energy chart as it is zoomed.
void CDataProcessDlg::UpdateRepaintPacing() {
    if (!m_energyChart) return;
    const double zoom = m_energyChart->Zoom() > 0.0 ? m_energyChart->Zoom() : 1.0;
    const double visible = m_energyChart->SampleCount() / zoom;
    const int width = std::max(1, m_energyChart->PlotRect().Width());
    m_reportsPerColumn.store(std::max(1, static_cast<int>(visible / width)));
}

void CDataProcessDlg::OnRecordingFileFailed(const std::wstring& path) {
    QCoreApplication::postEvent(
        this, new CaptureEvent(WM_CAPTURE_FILE_FAILED, m_scan.RunId(), CaptureRunEnd::Finished,
                               QString::fromStdWString(path)));
}

void CDataProcessDlg::OnRunEnded(int runId, CaptureRunEnd end) {
    QCoreApplication::postEvent(this, new CaptureEvent(WM_CAPTURE_FINISHED, runId, end));
}

bool CDataProcessDlg::event(QEvent* event) {
    if (event->type() == WindowMessageEvent(WM_CAPTURE_FINISHED)) {
        const auto* capture = static_cast<CaptureEvent*>(event);
        OnCaptureFinished(capture->runId, capture->end);
        return true;
    }
    if (event->type() == WindowMessageEvent(WM_CAPTURE_FILE_FAILED)) {
        const auto* capture = static_cast<CaptureEvent*>(event);
        OnFileFailed(capture->runId, capture->path);
        return true;
    }
    return CDialogPage::event(event);
}

// The end of an earlier run (a replay restarted for another gate) or of a
// run already stopped here changes nothing.
void CDataProcessDlg::OnCaptureFinished(int runId, CaptureRunEnd end) {
    if (runId != m_scan.RunId() || !m_running) return;
    StopRun();
    if (end != CaptureRunEnd::FileUnreadable) return;
    ClearProgress();
    ShowError(FillStrings(LoadStringW(dp::kStrFileUnreadable),
                          {QString::fromStdWString(m_scan.FilePath())}));
}

void CDataProcessDlg::OnFileFailed(int runId, const QString& path) {
    if (runId == m_fileFailureToldFor) return;
    m_fileFailureToldFor = runId;
    UpdateProgress();
    ShowError(FillStrings(LoadStringW(dp::kStrNoFileWritten),
                          {path.isEmpty() ? SaveFolderText() : path}));
}

void CDataProcessDlg::ShowError(const QString& text) {
    MessageBoxRequest message;
    message.owner = this;
    message.text = text;
    message.caption = LoadStringW(kStrError);
    message.icon = PromptIcon::Error;
    Prompt().ShowMessageBox(message);
}

// --- Show and hide -------------------------------------------------------------

void CDataProcessDlg::showEvent(QShowEvent* event) {
    CDialogPage::showEvent(event);
    // The main window being restored is no page change.
    if (event->spontaneous()) return;
    ResetSeries();
}

void CDataProcessDlg::hideEvent(QHideEvent* event) {
    CDialogPage::hideEvent(event);
    if (event->spontaneous()) return;
    StopRun();
}

// --- Series and charts ------------------------------------------------------------

void CDataProcessDlg::ResetSeries() {
    if (!m_running) ClearProgress();
    m_scan.ResetSeries(m_settings.scanSeconds,
                       [this](const CaptureSeries& series) { ShowSeries(series); });
}

// Under the series lock, so that the worker's next revised frame follows
// exactly these samples.
void CDataProcessDlg::ShowSeries(const CaptureSeries& series) {
    const int count = series.Capacity();
    const double seconds = static_cast<double>(count) / radar_protocol::kReportsPerSecond;
    if (m_energyChart) {
        CWaveWnd& chart = *m_energyChart;
        chart.SetSampleRange(0, seconds, -1);
        chart.SetSampleCount(count);
        chart.ClearWaves();
        chart.Append(0, series.energy.data(), count);
        // The selected gate's thresholds: flat lines across the scan.
        const int gate = std::clamp(m_gate, 0, noise_scan::kGateCount - 1);
        chart.SetLevelLine(kTriggerSlot, Params().TriggerThreshold[gate]);
        chart.SetLevelLine(kHoldSlot, Params().HoldThreshold[gate]);
        chart.Invalidate();
    }
    if (m_distanceChart) {
        CWaveWnd& chart = *m_distanceChart;
        chart.SetSampleRange(0, seconds, -1);
        chart.SetSampleCount(count);
        chart.ClearWaves();
        chart.Append(0, series.distance.data(), count);
        chart.Invalidate();
    }
}

void CDataProcessDlg::SetScaleFactor(double scale) { m_scale = scale; }

// Under the series lock, so that no sample of a running scan falls between
// clearing the charts and refilling them.
void CDataProcessDlg::SetupCharts() {
    if (!m_energyChart || !m_distanceChart) return;
    auto setUp = [this](const CaptureSeries& series) {
        SetupEnergyChart();
        SetupDistanceChart();
        ShowSeries(series);
    };
    if (!m_chartsBuilt) {
        m_chartsBuilt = true;
        if (!m_running) ClearProgress();
        m_scan.ResetSeries(m_settings.scanSeconds, setUp);
    } else {
        m_scan.ShowSeries(setUp);
        UpdateProgress();
    }
}

void CDataProcessDlg::SetupEnergyChart() {
    CWaveWnd& chart = *m_energyChart;
    chart.SetTooltipListener(this, dp::kEnergyContext);
    chart.SetMarginColor(kMarginPixel);
    SetEnergyCurves(chart);
    chart.SetBackgroundColor(m_settings.energyBkColor);
    chart.SetLineWidth(Scaled(m_settings.energyLineWidth));
    chart.CreateWaveStorage();
    chart.SetAutoScale(m_settings.energyAutoScale != 0);
    chart.SetValueRange(0, m_settings.energyDisplayMax);
    chart.SetSampleCount(ScanCapacity(m_settings.scanSeconds));
    chart.SetWholeFrames(true);
    ForgetSamples(chart);
    SetChartTitles(chart, kStrEnergyTitle, m_scale);
    SetAxes(chart);
    chart.Initialize();
    SetEnergyLegend(chart, kStrFirstEnergyLegend, m_scale);
    SetMouseSwitches(chart);
    chart.SetText(kEnergyHintKey, LoadStringW(kStrHint), Scaled(10), kHintColor, 1, 2);
}

void CDataProcessDlg::SetupDistanceChart() {
    CWaveWnd& chart = *m_distanceChart;
    chart.SetTooltipListener(this, dp::kDistanceContext);
    chart.SetMarginColor(kMarginPixel);
    chart.SetWaveCount(1);
    SetSlotCurve(chart, 0, kEnergyColor);
    chart.SetBackgroundColor(m_settings.distanceBkColor);
    chart.SetLineWidth(Scaled(m_settings.distanceLineWidth));
    chart.CreateWaveStorage();
    chart.SetValueRange(0, kDistanceMaxMetres);
    chart.SetSampleCount(ScanCapacity(m_settings.scanSeconds));
    chart.SetWholeFrames(true);
    ForgetSamples(chart);
    SetChartTitles(chart, kStrDistanceTitle, m_scale);
    SetMouseSwitches(chart);
    chart.SetText(kDistanceHintKey, LoadStringW(kStrHint), Scaled(10), kHintColor, 1, 2);
    SetAxes(chart);
    FixDistanceRange(chart);
    chart.Initialize();
    chart.ClearWaves();
}

// Axis bands, fonts, the scan's time on the sample axes and label counts.
void CDataProcessDlg::SetAxes(CWaveWnd& chart) {
    SetAxisBands(chart, m_scale);
    chart.SetSampleRange(0, m_settings.scanSeconds, -1);
    SetLabelCounts(chart);
}

// --- Progress ------------------------------------------------------------------

// Elapsed and total seconds and the file, at the top left of the energy
// plot below the value axis name (the legend is at the right).
void CDataProcessDlg::UpdateProgress() {
    if (!m_energyChart || m_scan.RunId() == 0 || !m_progressShown) return;
    const bool noFile = m_scan.Mode() == CaptureMode::Record &&
                        (m_scan.RecordingFileFailed() || m_scan.FilePath().empty());
    const QString file = noFile ? LoadStringW(dp::kStrNoFile) : FileName(m_scan.FilePath());
    // Whole seconds: the chart repaints for its progress once a second.
    const int elapsed = m_scan.Count() / radar_protocol::kReportsPerSecond;
    const int total = m_scan.Capacity() / radar_protocol::kReportsPerSecond;
    UpdateRepaintPacing();
    QString text =
        QString::asprintf(LoadStringW(dp::kStrProgress).toUtf8().constData(), elapsed, total, "%s");
    text = FillStrings(text, {file});
    const KRect box = ProgressBox();
    // A resize gives the same text another size and place.
    if (m_energyChart->AnnotationText(dp::kProgressKey) == text &&
        m_energyChart->AnnotationPointSize(dp::kProgressKey) == Scaled(kProgressPoints) &&
        SameRect(box, m_progressBox))
        return;
    m_progressBox = box;
    m_energyChart->SetText(dp::kProgressKey, text, Scaled(kProgressPoints), kWhite, 0, 0, &box);
}

// Below the title and the value axis name, left of the legend: the texts
// the set-up has just laid out for the current scale.
KRect CDataProcessDlg::ProgressBox() const {
    const CWaveWnd& chart = *m_energyChart;
    KRect box = chart.PlotRect();
    box.left += Scaled(4);
    const int gap = Scaled(2);
    for (int key : {kTitleKey, kValueAxisNameKey}) {
        const KRect above = chart.AnnotationBounds(key);
        if (!above.IsEmpty()) box.top = std::max(box.top, above.bottom + gap);
    }
    for (int key = kLegendKey; key < kLegendKey + kEnergyCurves; ++key) {
        const KRect legend = chart.AnnotationBounds(key);
        if (!legend.IsEmpty()) box.right = std::min(box.right, legend.left - gap);
    }
    return box;
}

void CDataProcessDlg::ClearProgress() {
    m_progressShown = false;
    if (m_energyChart && !m_energyChart->AnnotationText(dp::kProgressKey).isEmpty())
        m_energyChart->SetText(dp::kProgressKey, QString(), Scaled(kProgressPoints), kWhite, 0, 0);
}

// --- Tooltips and export -------------------------------------------------------------

QString CDataProcessDlg::GetTooltipText(int slot, int samplePosition, int, int, double value,
                                        uint64_t context) {
    const double seconds = static_cast<double>(samplePosition) / radar_protocol::kReportsPerSecond;
    if (context == dp::kEnergyContext && slot >= 0 && slot < kEnergyCurves)
        return FormatString(kStrFirstEnergyTooltip + slot, seconds, value);
    if (context == dp::kDistanceContext && slot == 0)
        return FormatString(kStrDistanceTooltip, seconds, value);
    return QString();
}

void CDataProcessDlg::AddExportItem(QMenu* menu) {
    menu->addSeparator();
    menu->addAction(LoadStringW(dp::kStrExportCsv), this, &CDataProcessDlg::OnExportCsv);
}

void CDataProcessDlg::OnExportCsv() {
    FileDialogRequest request;
    request.owner = this;
    QString proposed = FileName(m_scan.FilePath());
    proposed = proposed.isEmpty()
                   ? QStringLiteral("RadarData.csv")
                   : proposed.left(proposed.lastIndexOf(QLatin1Char('.'))) + QStringLiteral(".csv");
    request.initialPath = SaveFolderText() + QLatin1Char('/') + proposed;
    request.filter = QString::fromLatin1(dp::kCsvFilter);
    request.defaultExtension = QStringLiteral("csv");
    request.confirmOverwrite = true;
    QString path;
    if (!Prompt().GetSaveFileName(request, &path)) return;
    const std::string text = SeriesCsv(m_scan.CopySeries());
    std::string error;
    const bool written = ReplaceFileContentW(
        path.toStdWString().c_str(),
        [&text](std::FILE* stream) {
            const bool all = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
            return std::fclose(stream) == 0 && all;
        },
        &error);
    if (!written)
        ShowError(
            FillStrings(LoadStringW(dp::kStrExportFailed), {path, QString::fromStdString(error)}));
}

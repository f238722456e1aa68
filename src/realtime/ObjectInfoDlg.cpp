#include "realtime/ObjectInfoDlg.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>

#include <algorithm>
#include <string>
#include <vector>

#include "charts/PageCharts.h"
#include "common/KVEL_Common.h"
#include "controls/ColorStatic.h"
#include "controls/SkinButton.h"
#include "controls/XListCtrl.h"
#include "realtime/PresenceShading.h"
#include "settings/AppConfig.h"
#include "ui/DialogTemplate.h"
#include "ui/Prompt.h"
#include "ui/Strings.h"
#include "ui/WindowMessages.h"

namespace {

namespace oi = object_info;

enum StringId {
    kStrError = shared_text::kError,
    kStrSuccess = shared_text::kSuccess,
    kStrStart = shared_text::kStart,
    kStrPause = shared_text::kPause,
    kStrNotConnected = shared_text::kNotConnected,
    kStrTargetRange = 10300,
    kStrThresholdSet = 10301,
    kStrThresholdNotSet = 10302,
    kStrEnergyTitle = 10310,
    kStrFirstEnergyLegend = 10313,
    kStrFirstEnergyTooltip = 10316,
    kStrDistanceTitle = 10330,
    kStrDistanceTooltip = 10333,
    kStrNoData = 10334,
};

using namespace page_chart;
constexpr int kHistoryLength = CRealtimeReader::kHistoryLength;
// The distance chart's 571 samples are labelled as a minute.
constexpr double kHistorySeconds = 60.0;

const QString kKeepAwakeReason = QStringLiteral("Reading the radar module's reports");

// A string table entry used as a printf format.
template <typename... Args>
QString FormatString(int id, Args... args) {
    return QString::asprintf(LoadStringW(id).toUtf8().constData(), args...);
}

// "Apply Thres." is done: the write's result rides along.
class ParamWriteDoneEvent : public QEvent {
public:
    explicit ParamWriteDoneEvent(int result)
        : QEvent(WindowMessageEvent(WM_PARAM_WRITE_DONE)), m_result(result) {}
    int Result() const { return m_result; }

private:
    int m_result;
};

}  // namespace

CObjectInfoDlg::CObjectInfoDlg() : CDialogPage(oi::kTemplateId), m_reader(this), m_applyJob(this) {
    m_noDataTimer.setSingleShot(true);
    m_noDataTimer.setInterval(oi::kNoDataTimeoutMs);
    connect(&m_noDataTimer, &QTimer::timeout, this, [this] { ShowNoDataNotice(true); });
}

CObjectInfoDlg::~CObjectInfoDlg() {
    // The workers feed the charts and post to the page: they end before it.
    m_applyJob.Wait();
    m_reader.Stop();
    m_reader.Calibration().SetObserver(nullptr);
}

QWidget* CObjectInfoDlg::CreateControl(const DialogControl& control) {
    const int id = std::atoi(control.id.c_str());
    switch (id) {
        case oi::kIndicator:
            return m_indicator = new CASkinButton(CASkinButton::kStyleAutoCheckBox, this);
        case oi::kRangeText:
            return m_rangeText = new CColorStatic(this);
        case oi::kEnergyChart:
            return m_energyChart = new CWaveWnd(this);
        case oi::kDistanceChart:
            return m_distanceChart = new CWaveWnd(this);
        default:
            return nullptr;
    }
}

void CObjectInfoDlg::OnInitDialog() {
    LoadObjectInfoSettings(AppConfigSection(app_config::kObjectInfo), &m_settings);
    m_reader.Calibration().SetSensingScales(m_settings.triggerSensingScale,
                                            m_settings.holdSensingScale);
    m_reader.Calibration().SetObserver(this);

    SetButtonStates(false);
    if (m_indicator) m_indicator->SetIndicatorSkin();
    if (m_rangeText) m_rangeText->SetTextStyle(Scaled(12));
    SetupCharts();
    if (auto* start = qobject_cast<QAbstractButton*>(Control(oi::kStartButton)))
        connect(start, &QAbstractButton::clicked, this, &CObjectInfoDlg::OnStartButton);
    if (auto* calc = qobject_cast<QAbstractButton*>(Control(oi::kCalcThresholdButton)))
        connect(calc, &QAbstractButton::clicked, this, &CObjectInfoDlg::OnCalcThreshold);
    if (auto* apply = qobject_cast<QAbstractButton*>(Control(oi::kApplyThresholdButton)))
        connect(apply, &QAbstractButton::clicked, this, &CObjectInfoDlg::OnApplyThreshold);
    m_collectorDlg = std::make_unique<CSensingCollectorDlg>(this);
    if (m_collectorDlg->Create())
        m_collectorDlg->SetListener(this);
    else
        m_collectorDlg.reset();
}

void CObjectInfoDlg::SaveSettings() {
    StoreObjectInfoSettings(AppConfigSection(app_config::kObjectInfo), m_settings);
    SaveAppConfig();
}

bool CObjectInfoDlg::IsConnected() const { return m_session && m_session->IsConnected(); }

void CObjectInfoDlg::SetButtonStates(bool running) {
    if (auto* start = qobject_cast<QAbstractButton*>(Control(oi::kStartButton)))
        start->setText(LoadStringW(running ? kStrPause : kStrStart));
    if (QWidget* calc = Control(oi::kCalcThresholdButton)) calc->setEnabled(running);
    if (QWidget* apply = Control(oi::kApplyThresholdButton)) apply->setEnabled(false);
}

// While "Apply Thres." writes and waits, the page's buttons rest.
void CObjectInfoDlg::EnableButtons(bool enabled) {
    if (QWidget* start = Control(oi::kStartButton)) start->setEnabled(enabled);
    if (!enabled) {
        for (int id : {oi::kCalcThresholdButton, oi::kApplyThresholdButton})
            if (QWidget* button = Control(id)) button->setEnabled(false);
    }
}

// --- Acquisition -------------------------------------------------------------

void CObjectInfoDlg::StartAcquisition() {
    if (m_running) return;
    if (!IsConnected()) {
        ShowStringMessageBox(this, kStrNotConnected, kStrError, PromptIcon::Error);
        return;
    }
    DbgOutputA(2, "Start Realtime data show.\r\n");
    m_running = true;
    SetButtonStates(true);
    m_reader.ClearLastReport();
    RestartThresholdCurves();
    if (m_distanceChart) m_distanceChart->ClearWaves();
    m_reader.Start(m_session);
    UpdateIndicatorAndText();
    m_keepAwake.Start(kKeepAwakeReason);
    m_noDataTimer.start();
}

void CObjectInfoDlg::StopAcquisition() {
    m_reader.Stop();
    const bool wasRunning = m_running;
    m_running = false;
    m_noDataTimer.stop();
    ShowNoDataNotice(false);
    SetButtonStates(false);
    m_reader.ClearLastReport();
    UpdateIndicatorAndText();
    m_reader.ClearPresenceHistory();
    // The shading goes with the history at once, not at some later redraw.
    if (m_distanceChart) m_distanceChart->MarkBackgroundDirty();
    m_keepAwake.Stop();
    // Page switches and disconnects stop whatever runs; the log tells only
    // of a display that was running.
    if (wasRunning) DbgOutputA(2, "Stop Realtime data show.\r\n");
}

void CObjectInfoDlg::StopWork() {
    // A threshold write in progress finishes first: the line is the
    // session's, and the page is going.
    m_applyJob.Wait();
    StopAcquisition();
}

void CObjectInfoDlg::TakeConnectionThresholds() {
    if (m_session) TakeNewThresholds(m_session->Params().Values());
    RestartThresholdCurves();
    if (m_distanceChart) m_distanceChart->ClearWaves();
}

void CObjectInfoDlg::ResumeAfterConnect() {
    if (isVisible() && !m_running && IsConnected()) OnShownWhileConnected();
}

void CObjectInfoDlg::OnLineLost() {
    if (m_collectorDlg && m_collectorDlg->isVisible()) {
        m_reader.Calibration().Cancel();
        m_collectorDlg->hide();
    }
    StopAcquisition();
    ClearIndicatorAndText();
}

void CObjectInfoDlg::ClearIndicatorAndText() {
    if (m_indicator) m_indicator->SetCheck(0);
    if (m_rangeText) m_rangeText->setText(QString());
}

void CObjectInfoDlg::OnStartButton() {
    if (m_running)
        StopAcquisition();
    else
        StartAcquisition();
}

void CObjectInfoDlg::OnEnergySweep(const double* decibels, int count) {
    if (!m_energyChart) return;
    m_energyChart->Append(0, decibels, count);
    m_energyChart->RequestRepaint();
}

void CObjectInfoDlg::OnDistanceSample(double metres) {
    if (!m_distanceChart) return;
    m_distanceChart->Append(0, &metres, 1);
    m_distanceChart->RequestRepaint();
}

void CObjectInfoDlg::OnReportTaken() {
    QCoreApplication::postEvent(this, new QEvent(WindowMessageEvent(WM_REALTIME_REPORT)));
}

void CObjectInfoDlg::OnCalibrationStep(const CalibrationProgress&) {
    QCoreApplication::postEvent(this, new QEvent(WindowMessageEvent(WM_CALIBRATION_STEP)));
}

void CObjectInfoDlg::OnParamWriteDone(int result) {
    QCoreApplication::postEvent(this, new ParamWriteDoneEvent(result));
}

bool CObjectInfoDlg::event(QEvent* event) {
    if (event->type() == WindowMessageEvent(WM_REALTIME_REPORT)) {
        OnRealtimeReport();
        return true;
    }
    if (event->type() == WindowMessageEvent(WM_CALIBRATION_STEP)) {
        RunCalibrationStep();
        return true;
    }
    if (event->type() == WindowMessageEvent(WM_PARAM_WRITE_DONE)) {
        FinishApplyThresholds(static_cast<ParamWriteDoneEvent*>(event)->Result());
        return true;
    }
    return CDialogPage::event(event);
}

void CObjectInfoDlg::OnRealtimeReport() {
    UpdateIndicatorAndText();
    // Reports queued before a stop still arrive; they change nothing more.
    if (!m_running) return;
    m_noDataTimer.start();
    ShowNoDataNotice(false);
    if (m_distanceChart) m_distanceChart->MarkBackgroundDirty();
}

void CObjectInfoDlg::UpdateIndicatorAndText() {
    const int state = m_reader.TargetState();
    QString text;
    if (state == 0) {
        text = FormatString(kStrTargetRange, 0.0);
        if (m_indicator) m_indicator->SetCheck(0);
    } else if (state == 1) {
        text = FormatString(kStrTargetRange, m_reader.TargetDistance() / 100.0);
        if (m_indicator) m_indicator->SetCheck(1);
    }
    // Any other state: no text, and the lamp stays as it is.
    if (m_rangeText && m_rangeText->text() != text) m_rangeText->setText(text);
}

void CObjectInfoDlg::ShowNoDataNotice(bool shown) {
    if (shown == m_noDataNoticeShown || !m_distanceChart) return;
    m_noDataNoticeShown = shown;
    m_distanceChart->SetText(oi::kNoDataNoticeKey, shown ? LoadStringW(kStrNoData) : QString(),
                             Scaled(12), kWhite, 1, 1);
}

// --- Show and hide -------------------------------------------------------------

void CObjectInfoDlg::showEvent(QShowEvent* event) {
    CDialogPage::showEvent(event);
    // The main window being restored is no page change.
    if (event->spontaneous()) return;
    if (IsConnected())
        OnShownWhileConnected();
    else
        StopAcquisition();
}

void CObjectInfoDlg::hideEvent(QHideEvent* event) {
    CDialogPage::hideEvent(event);
    if (event->spontaneous()) return;
    if (m_collectorDlg && m_collectorDlg->isVisible()) {
        m_reader.Calibration().Cancel();
        m_collectorDlg->hide();
    }
    StopAcquisition();
}

// Starting clears both charts and puts these thresholds on the energy chart.
void CObjectInfoDlg::OnShownWhileConnected() {
    if (m_session) TakeNewThresholds(m_session->Params().Values());
    m_reader.Calibration().Cancel();
    // A threshold write under way restarts reading when it is done.
    if (!IsApplyingThresholds()) StartAcquisition();
}

void CObjectInfoDlg::TakeNewThresholds(const RadarParamSet& params) {
    std::copy(std::begin(params.TriggerThreshold), std::end(params.TriggerThreshold),
              m_triggerThresholds);
    std::copy(std::begin(params.HoldThreshold), std::end(params.HoldThreshold), m_holdThresholds);
    // The largest gate may have changed with them.
    if (m_energyChart) m_energyChart->MarkBackgroundDirty();
}

// --- Threshold calibration -------------------------------------------------------

void CObjectInfoDlg::OnCalcThreshold() {
    if (!m_collectorDlg || !m_running) return;
    ShowPageThresholdsInCollector();
    m_collectorDlg->show();
    m_reader.Calibration().Start(oi::kCalibrationReports);
    m_collectorDlg->Progress()->setValue(0);
    m_collectorDlg->OkButton()->setEnabled(false);
    if (QWidget* apply = Control(oi::kApplyThresholdButton)) apply->setEnabled(false);
}

// Until the first report arrives the table shows where the thresholds stand.
void CObjectInfoDlg::ShowPageThresholdsInCollector() {
    CXListCtrl* list = m_collectorDlg->List();
    list->setUpdatesEnabled(false);
    for (int gate = 0; gate < kRadarGateCount; ++gate)
        m_collectorDlg->SetRow(gate, m_triggerThresholds[gate], m_holdThresholds[gate]);
    list->setUpdatesEnabled(true);
}

// The dialog shows the calibration as it stands: several reports taken
// before this thread came round show as one step.
void CObjectInfoDlg::RunCalibrationStep() {
    if (!m_collectorDlg || !m_collectorDlg->isVisible()) return;
    const CalibrationProgress progress = m_reader.Calibration().Progress();
    if (progress.taken < 1) return;
    CXListCtrl* list = m_collectorDlg->List();
    list->setUpdatesEnabled(false);
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        const size_t g = static_cast<size_t>(gate);
        m_collectorDlg->SetRow(gate, progress.trigger[g], progress.hold[g]);
    }
    list->setUpdatesEnabled(true);
    m_collectorDlg->Progress()->setValue(progress.percent);
    if (progress.complete) m_collectorDlg->OkButton()->setEnabled(true);
}

// The averages become the page's thresholds (the table's texts are only
// their rounded display) and move the chart's threshold lines.
void CObjectInfoDlg::OnSensingCollectorDlgOK(uint64_t) {
    if (!m_collectorDlg) return;
    const CalibrationProgress progress = m_reader.Calibration().Progress();
    const int rows = std::min(m_collectorDlg->List()->topLevelItemCount(), kRadarGateCount);
    for (int gate = 0; gate < rows; ++gate) {
        m_triggerThresholds[gate] = progress.trigger[static_cast<size_t>(gate)];
        m_holdThresholds[gate] = progress.hold[static_cast<size_t>(gate)];
    }
    if (m_energyChart) {
        m_energyChart->Append(kTriggerSlot, m_triggerThresholds, kRadarGateCount);
        m_energyChart->Append(kHoldSlot, m_holdThresholds, kRadarGateCount);
        m_energyChart->Invalidate();
    }
    if (QWidget* apply = Control(oi::kApplyThresholdButton)) apply->setEnabled(true);
}

// The reader stops for the write, since commands go out on the main
// connection only while nothing reads from it. The write and the module's
// settle time run off this thread with the page's buttons at rest; reading
// starts again whatever the write's result.
void CObjectInfoDlg::OnApplyThreshold() {
    if (!m_session || IsApplyingThresholds()) return;
    m_session->Params().SetThresholds(m_triggerThresholds, m_holdThresholds);
    StopAcquisition();
    EnableButtons(false);
    m_applying = true;
    if (!m_applyJob.Start(m_session, m_session->Params().Values(), oi::kApplySettleMs))
        FinishApplyThresholds(kRadarNoAnswer);
}

void CObjectInfoDlg::FinishApplyThresholds(int result) {
    m_applyJob.Wait();
    m_applying = false;
    EnableButtons(true);
    // A page hidden meanwhile, or a line lost, has nothing to restart.
    if (isVisible() && IsConnected()) StartAcquisition();
    ReportApplyResult(result);
}

void CObjectInfoDlg::ReportApplyResult(int result) {
    if (result == kRadarOk)
        ShowStringMessageBox(this, kStrThresholdSet, kStrSuccess, PromptIcon::Information);
    else if (result == kRadarNotConnected)
        ShowStringMessageBox(this, kStrNotConnected, kStrError, PromptIcon::Error);
    else
        ShowStringMessageBox(this, kStrThresholdNotSet, kStrError, PromptIcon::Error);
}

// --- Charts -------------------------------------------------------------------

void CObjectInfoDlg::SetScaleFactor(double scale) { m_scale = scale; }

void CObjectInfoDlg::SetupCharts() {
    if (!m_energyChart || !m_distanceChart) return;
    const bool keepSamples = m_chartsBuilt;
    SetupEnergyChart(keepSamples);
    SetupDistanceChart(keepSamples);
    m_chartsBuilt = true;
}

// Energy of each gate (slot 0) against its trigger (1) and hold (2) threshold.
void CObjectInfoDlg::SetupEnergyChart(bool keepSamples) {
    CWaveWnd& chart = *m_energyChart;
    ListenTo(chart, oi::kEnergyContext);
    SetEnergyCurves(chart);
    chart.SetBackgroundColor(m_settings.energyActiveColor);
    chart.SetLineWidth(Scaled(m_settings.energyLineWidth));
    chart.CreateWaveStorage();
    chart.SetAutoScale(m_settings.energyAutoScale != 0);
    chart.SetValueRange(0, m_settings.energyDisplayMax);
    chart.SetSampleCount(kRadarGateCount);
    chart.SetWholeFrames(true);
    if (!keepSamples) ForgetSamples(chart);
    SetChartTitles(chart, kStrEnergyTitle, m_scale);
    SetAxisBands(chart, m_scale);
    SetLabelCounts(chart);
    chart.SetSampleRange(0, kRadarGateCount - 1, -1);
    chart.Initialize();
    SetEnergyLegend(chart, kStrFirstEnergyLegend, m_scale);
    RestartThresholdCurves();
}

// The target distance over the last minute, newest at the right.
void CObjectInfoDlg::SetupDistanceChart(bool keepSamples) {
    CWaveWnd& chart = *m_distanceChart;
    ListenTo(chart, oi::kDistanceContext);
    chart.SetWaveCount(1);
    SetSlotCurve(chart, 0, kEnergyColor);
    chart.SetBackgroundColor(m_settings.distanceInactiveColor);
    chart.SetLineWidth(Scaled(m_settings.distanceLineWidth));
    chart.CreateWaveStorage();
    chart.SetValueRange(0, kDistanceMaxMetres);
    chart.SetSampleCount(kHistoryLength);
    // One sample per report: the trace scrolls by one.
    chart.SetWholeFrames(false);
    if (!keepSamples) ForgetSamples(chart);
    SetChartTitles(chart, kStrDistanceTitle, m_scale);
    SetAxisBands(chart, m_scale);
    chart.SetSampleRange(kHistorySeconds, 0, -1);
    SetLabelCounts(chart);
    std::vector<CoordinateLabel> labels;
    for (int i = 0; i < 6; ++i) labels.push_back({i, L"T0-" + std::to_wstring(60 - 10 * i)});
    labels.push_back({6, L"T0"});
    for (WaveAxisIndex axis : {kAxisTop, kAxisBottom}) chart.SetAxisCustomLabels(axis, &labels);
    FixDistanceRange(chart);
    chart.Initialize();
    if (!keepSamples) chart.ClearWaves();
}

// The page draws the chart's shading and names its tooltips; `context`
// tells the charts apart. The margin is the page's own dark colour.
void CObjectInfoDlg::ListenTo(CWaveWnd& chart, uint64_t context) {
    chart.SetTooltipListener(this, context);
    chart.SetDrawListener(this, context);
    chart.SetMarginColor(kMarginPixel);
}

// The energy chart starts from the page's thresholds, without a sweep.
void CObjectInfoDlg::RestartThresholdCurves() {
    if (!m_energyChart) return;
    CWaveWnd& chart = *m_energyChart;
    chart.ClearWaves();
    chart.Append(kTriggerSlot, m_triggerThresholds, kRadarGateCount);
    chart.Append(kHoldSlot, m_holdThresholds, kRadarGateCount);
    chart.Invalidate();
}

void CObjectInfoDlg::OnDrawBackground(const WaveDrawing& drawing) {
    if (drawing.context == oi::kDistanceContext)
        ShadePresence(drawing.painter, drawing.rect);
    else if (drawing.context == oi::kEnergyContext)
        ShadeInactiveGates(drawing.painter, drawing.rect);
}

// Every background rebuild shades from the history as it stands, so that a
// resize or a notice keeps the shading; a stop has cleared the history.
void CObjectInfoDlg::ShadePresence(QPainter& painter, const KRect& rect) {
    m_reader.TakeHistoryChanged();
    const CRealtimeReader::History history = m_reader.PresenceHistory();
    const QColor color = QColor::fromRgba(m_settings.distanceActiveColor);
    for (const ColumnRun& run : PresenceRuns(history.data(), kHistoryLength, rect.left, rect.right))
        painter.fillRect(QRect(run.first, rect.top, run.end - run.first, rect.Height()), color);
}

void CObjectInfoDlg::ShadeInactiveGates(QPainter& painter, const KRect& rect) {
    const int gateMax = m_session ? m_session->Params().Values().GateMax : kRadarGateCount - 1;
    const ColumnRun run = InactiveGateColumns(gateMax, kRadarGateCount, rect.left, rect.right);
    if (run.end <= run.first) return;
    painter.fillRect(QRect(run.first, rect.top, run.end - run.first, rect.Height()),
                     QColor::fromRgba(m_settings.energyInactiveColor));
}

QString CObjectInfoDlg::GetTooltipText(int slot, int samplePosition, int, int, double value,
                                       uint64_t context) {
    if (context == oi::kEnergyContext && slot >= 0 && slot < kEnergyCurves)
        return FormatString(kStrFirstEnergyTooltip + slot, samplePosition, value);
    if (context == oi::kDistanceContext && slot == 0) {
        const double secondsAgo =
            (kHistoryLength - samplePosition) * kHistorySeconds / kHistoryLength;
        return FormatString(kStrDistanceTooltip, secondsAgo, value);
    }
    return QString();
}

// Figures of the capture page at the longest noise scan (36 000 s):
//   ReplayIntoPage     from "Load Data" with a 36 000 s radar data file to the
//                      last paint of both charts (aim: at most 1 s); then both
//                      charts zoomed out to their smallest zoom, and the
//                      process's peak memory (aim: at most 150 MB)
//   RecordingCpu       the process's CPU time per second while the page records
//                      a 36 000 s scan from the module emulator, which runs in
//                      a process of its own (aim: at most 2 % of one core);
//                      KVEL_BENCH_SECONDS sets the length (default 60)
// Runs without a display (offscreen) unless QT_QPA_PLATFORM says otherwise.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWheelEvent>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "LongRadarDataFile.h"
#include "PageBench.h"
#include "capture/DataProcessDlg.h"
#include "connection/RadarSession.h"
#include "device/RadarProtocol.h"
#include "settings/AppConfig.h"
#include "ui/Prompt.h"

namespace {

using namespace page_bench;
using Clock = std::chrono::steady_clock;

// VmHWM of /proc/self/status: the most resident memory the process has had.
double PeakResidentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    }
    return 0.0;
}

template <typename Condition>
bool RunEventLoopUntil(Condition done, int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Answers the open dialog with one file; everything else is cancelled.
class OpenFileAnswer : public IPrompt {
public:
    explicit OpenFileAnswer(const QString& path) : m_path(path) { SetPrompt(this); }
    ~OpenFileAnswer() override { SetPrompt(nullptr); }
    void ShowMessageBox(const MessageBoxRequest&) override {}
    bool GetOpenFileName(const FileDialogRequest&, QString* chosen) override {
        *chosen = m_path;
        return true;
    }
    bool GetSaveFileName(const FileDialogRequest&, QString*) override { return false; }
    bool BrowseForFolder(QWidget*, const QString&, const QString&, QString*) override {
        return false;
    }

private:
    QString m_path;
};

// Counts the paints of a chart.
class PaintCounter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
    int paints = 0;
};

// The capture page on a window of its own, set for the longest scan and
// saving into a temporary folder.
class LongScanPage {
public:
    explicit LongScanPage(CRadarSession* session) {
        // Settings of a fresh start, kept in the temporary folder.
        LoadAppConfigFrom(m_folder.filePath(QStringLiteral("appConfig.xml")).toStdWString());
        XMLNode section = AppConfigSection(app_config::kDataProcess);
        section.SetAttributeInt(app_config::kDpScanTime, kLongestScanSeconds);
        section.SetAttribute(app_config::kDpSaveFilePath,
                             m_folder.path().toLocal8Bit().constData());
        page = new CDataProcessDlg();
        page->SetSession(session);
        page->Create(&m_window);
        m_window.resize(page->size());
        m_window.show();
    }
    ~LongScanPage() { page->StopRun(); }

    CDataProcessDlg* page = nullptr;

private:
    QTemporaryDir m_folder;
    QWidget m_window;
};

// Steps Ctrl+wheel backwards on the chart until its zoom no longer changes.
void ZoomOutFully(CWaveWnd* chart) {
    const QPointF inside(chart->PlotRect().left + 10, chart->PlotRect().top + 10);
    for (double last = 0.0; chart->Zoom() != last;) {
        last = chart->Zoom();
        QWheelEvent wheel(inside, chart->mapToGlobal(inside), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(chart, &wheel);
    }
}

void ReplayIntoPage(benchmark::State& state) {
    const std::wstring& file = LongRadarDataFile();
    OpenFileAnswer answer(QString::fromStdWString(file));
    CRadarSession session;
    {
        LongScanPage running(&session);
        CDataProcessDlg* page = running.page;
        PaintCounter energyPaints, distancePaints;
        page->EnergyChart()->installEventFilter(&energyPaints);
        page->DistanceChart()->installEventFilter(&distancePaints);
        RunEventLoopFor(200);  // past the first paints
        for (auto _ : state) {
            const auto start = Clock::now();
            page->OnLoadButton();
            if (!RunEventLoopUntil([page] { return !page->IsRunning(); }, 60000)) {
                state.SkipWithError("the replay did not end");
                break;
            }
            // The last paint: one of each chart after the run has ended.
            const int energyBefore = energyPaints.paints, distanceBefore = distancePaints.paints;
            RunEventLoopUntil(
                [&] {
                    return energyPaints.paints > energyBefore &&
                           distancePaints.paints > distanceBefore;
                },
                5000);
            state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
            if (page->Scan().Count() != kLongestScanReports)
                state.SkipWithError("not every report was counted");
        }
        ZoomOutFully(page->EnergyChart());
        ZoomOutFully(page->DistanceChart());
        RunEventLoopFor(300);
        state.counters["smallest_zoom"] = page->EnergyChart()->Zoom();
        state.counters["peak_rss_MB"] = PeakResidentMegabytes();
    }
}
BENCHMARK(ReplayIntoPage)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

void RecordingCpu(benchmark::State& state) {
    QProcess emulator;
    const int port = StartEmulatorProcess(emulator, KVEL_EMULATOR_EXECUTABLE, state);
    if (port < 0) return;
    CRadarSession session;
    if (session.Connect(port, radar_protocol::kDefaultBaudRate).opened) {
        LongScanPage running(&session);
        CDataProcessDlg* page = running.page;
        page->OnCaptureButton();
        RunEventLoopFor(2000);  // past the start-up
        for (auto _ : state) {
            const int countBefore = page->Scan().Count();
            const double cpuBefore = ProcessCpuSeconds();
            const auto start = Clock::now();
            RunEventLoopFor(RunSeconds() * 1000);
            const double wall = std::chrono::duration<double>(Clock::now() - start).count();
            state.SetIterationTime(wall);
            state.counters["cpu_percent_of_one_core"] =
                100.0 * (ProcessCpuSeconds() - cpuBefore) / wall;
            state.counters["reports_per_second"] = (page->Scan().Count() - countBefore) / wall;
        }
        if (!page->IsRunning()) state.SkipWithError("the page was not recording");
        page->StopRun();
        session.Disconnect();
    } else {
        state.SkipWithError("the emulator's port did not open");
    }
    emulator.terminate();
    emulator.waitForFinished(5000);
}
BENCHMARK(RecordingCpu)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) { return page_bench::RunBenchmarks(argc, argv); }

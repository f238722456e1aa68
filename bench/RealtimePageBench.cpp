// Figures of the realtime page streaming from the module emulator at its ten
// reports a second:
//   - the tool's CPU time per second of streaming (aim: at most 2 % of one
//     core), with the emulator in a process of its own so that only the
//     tool is counted;
//   - the time from a report leaving the emulator to the end of the paint
//     of the distance chart that shows it (aim: median at most 50 ms).
// KVEL_BENCH_SECONDS sets the length of each run (default 60).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "PageBench.h"
#include "connection/RadarSession.h"
#include "device/RadarProtocol.h"
#include "emulator/ModuleEmulator.h"
#include "realtime/ObjectInfoDlg.h"
#include "realtime/ReportFrame.h"
#include "ui/WindowMessages.h"

namespace {

using namespace page_bench;
using Clock = std::chrono::steady_clock;

// The realtime page on its own window, connected to the module on `port`
// and shown, so that it reads as when its page button is pressed.
class RunningPage {
public:
    explicit RunningPage(int port) {
        m_connected = m_session.Connect(port, radar_protocol::kDefaultBaudRate).opened;
        page = new CObjectInfoDlg();
        page->SetSession(&m_session);
        page->Create(&m_window);
        m_window.resize(page->size());
        m_window.show();
    }
    ~RunningPage() {
        page->StopAcquisition();
        m_session.Disconnect();
    }
    bool Running() const { return m_connected && page->IsRunning(); }
    CObjectInfoDlg* page = nullptr;

private:
    CRadarSession m_session;  // outlives the page in m_window
    bool m_connected = false;
    QWidget m_window;
};

// Counts the report events the page handles.
class ReportCounter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == WindowMessageEvent(WM_REALTIME_REPORT)) ++reports;
        return false;
    }
    int reports = 0;
};

void BM_RealtimePageCpu(benchmark::State& state) {
    QProcess emulator;
    const int port = StartEmulatorProcess(emulator, KVEL_EMULATOR_EXECUTABLE, state);
    if (port < 0) return;
    {
        RunningPage running(port);
        if (!running.Running()) {
            state.SkipWithError("the page does not read from the emulator");
            return;
        }
        ReportCounter counter;
        running.page->installEventFilter(&counter);
        RunEventLoopFor(2000);  // past the start-up
        const int seconds = RunSeconds();
        for (auto _ : state) {
            counter.reports = 0;
            const double cpuBefore = ProcessCpuSeconds();
            const auto start = Clock::now();
            RunEventLoopFor(seconds * 1000);
            const double wall = std::chrono::duration<double>(Clock::now() - start).count();
            const double cpu = ProcessCpuSeconds() - cpuBefore;
            state.SetIterationTime(wall);
            state.counters["cpu_percent_of_one_core"] = 100.0 * cpu / wall;
            state.counters["reports_per_second"] = counter.reports / wall;
        }
    }
    emulator.terminate();
    emulator.waitForFinished(5000);
}
BENCHMARK(BM_RealtimePageCpu)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// A report told apart from the others by all its fields: the emulated
// noise makes the sixteen energies differ from report to report.
using ReportKey = std::array<uint32_t, 2 + radar_protocol::kGateCount>;

ReportKey KeyOfPayload(const uint8_t* payload) {
    const ObjectReport report = DecodeObjectReport(payload);
    ReportKey key{report.TargetState, report.TargetDistance};
    std::copy(std::begin(report.GateEnergy), std::end(report.GateEnergy), key.begin() + 2);
    return key;
}

ReportKey KeyOfLastReport(CRealtimeReader& reader) {
    ReportKey key{static_cast<uint32_t>(reader.TargetState()),
                  static_cast<uint32_t>(reader.TargetDistance())};
    const auto energies = reader.GateEnergy();
    std::copy(energies.begin(), energies.end(), key.begin() + 2);
    return key;
}

// Remembers when each report left the emulator and, at the end of each
// paint of the distance chart, how long ago the newest report left.
class PaintLatencyProbe : public QObject {
public:
    void OnReportSent(const uint8_t* payload, size_t size) {
        if (size != static_cast<size_t>(kObjectReportSize)) return;
        std::lock_guard lock(m_mutex);
        if (m_sent.size() > 4096) m_sent.clear();
        m_sent[KeyOfPayload(payload)] = Clock::now();
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint || !reader) return false;
        watched->event(event);  // the paint itself, then the clock
        const auto painted = Clock::now();
        std::lock_guard lock(m_mutex);
        const auto found = m_sent.find(KeyOfLastReport(*reader));
        if (found != m_sent.end()) {
            latenciesMs.push_back(
                std::chrono::duration<double, std::milli>(painted - found->second).count());
            m_sent.erase(found);
        }
        return true;
    }
    CRealtimeReader* reader = nullptr;
    std::vector<double> latenciesMs;

private:
    std::mutex m_mutex;
    std::map<ReportKey, Clock::time_point> m_sent;
};

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(fraction * (values.size() - 1))];
}

void BM_ReportToPaintLatency(benchmark::State& state) {
    PaintLatencyProbe probe;
    emulator::Options options;
    options.onReportSent = [&probe](const uint8_t* payload, size_t size) {
        probe.OnReportSent(payload, size);
    };
    emulator::ModuleEmulator module(options);
    std::string error;
    if (!module.Start(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    RunningPage running(module.PortNumber());
    if (!running.Running()) {
        state.SkipWithError("the page does not read from the emulator");
        return;
    }
    probe.reader = &running.page->Reader();
    running.page->DistanceChart()->installEventFilter(&probe);
    const int seconds = RunSeconds();
    for (auto _ : state) {
        const auto start = Clock::now();
        RunEventLoopFor(seconds * 1000);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
    running.page->DistanceChart()->removeEventFilter(&probe);
    state.counters["median_ms"] = Percentile(probe.latenciesMs, 0.5);
    state.counters["p90_ms"] = Percentile(probe.latenciesMs, 0.9);
    state.counters["max_ms"] = Percentile(probe.latenciesMs, 1.0);
    state.counters["reports_painted"] = static_cast<double>(probe.latenciesMs.size());
}
BENCHMARK(BM_ReportToPaintLatency)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) { return page_bench::RunBenchmarks(argc, argv); }

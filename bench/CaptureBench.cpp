// Figures of a noise scan at its longest (36 000 s, 360 000 reports):
//   CoreReplay   the capture worker replaying a 36 000 s radar data file,
//                window-free: file reading, parsing, decibels, the series.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "capture/NoiseScan.h"
#include "realtime/ReportFrame.h"

namespace {

constexpr int kLongestScanSeconds = noise_scan::kMaxSeconds;
constexpr int kReports = kLongestScanSeconds * noise_scan::kReportsPerSecond;

// A radar data file of `reports` object reports over a noise floor, written
// once per process into the temporary folder.
const std::wstring& LongRadarDataFile() {
    static std::wstring path;
    if (!path.empty()) return path;
    const std::string narrow = "/tmp/capture-bench-" + std::to_string(getpid()) + ".dat";
    std::FILE* file = std::fopen(narrow.c_str(), "wb");
    std::mt19937 random(11);
    std::uniform_int_distribution<int> noise(20, 4000);
    uint8_t frame[45];
    for (int i = 0; i < kReports; ++i) {
        ObjectReport report;
        for (auto& energy : report.GateEnergy) energy = static_cast<uint16_t>(noise(random));
        EncodeObjectReportFrame(report, frame);
        std::fwrite(frame, 1, sizeof frame, file);
    }
    std::fclose(file);
    std::atexit([] { std::remove(WideToAnsi(path).c_str()); });
    path = AnsiToWide(narrow);
    return path;
}

// Waits for the end of a run.
class RunWaiter : public ICaptureObserver {
public:
    void OnReportCounted(const CaptureSeries&, int, const double*) override {}
    void OnRunEnded(int, CaptureRunEnd end) override {
        std::lock_guard lock(m_mutex);
        m_end = end;
        m_ended = true;
        m_changed.notify_all();
    }
    CaptureRunEnd Wait() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_ended; });
        m_ended = false;
        return m_end;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_ended = false;
    CaptureRunEnd m_end = CaptureRunEnd::Stopped;
};

void CoreReplay(benchmark::State& state) {
    const std::wstring& file = LongRadarDataFile();
    RunWaiter waiter;
    CNoiseScan scan(&waiter);
    scan.ResetSeries(kLongestScanSeconds);
    CaptureRunRequest request;
    request.mode = CaptureMode::Replay;
    request.file = file;
    for (auto _ : state) {
        scan.Start(request);
        if (waiter.Wait() != CaptureRunEnd::Finished) state.SkipWithError("the replay did not finish");
    }
    state.SetItemsProcessed(state.iterations() * kReports);
}
BENCHMARK(CoreReplay)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

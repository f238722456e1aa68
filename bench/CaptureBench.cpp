// Figures of a noise scan at its longest (36 000 s, 360 000 reports):
//   CoreReplay   the capture worker replaying a 36 000 s radar data file,
//                window-free: file reading, parsing, decibels, the series.
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "LongRadarDataFile.h"
#include "capture/NoiseScan.h"

namespace {

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
        if (waiter.Wait() != CaptureRunEnd::Finished)
            state.SkipWithError("the replay did not finish");
    }
    state.SetItemsProcessed(state.iterations() * kLongestScanReports);
}
BENCHMARK(CoreReplay)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

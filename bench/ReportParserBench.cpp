// Throughput of the report stream parser over a 16 MB stream of object
// reports with noise bytes between them, fed in chunks as a reader would.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <vector>

#include "realtime/ReportFrame.h"

namespace {

constexpr size_t kReportCount = 360000;
constexpr size_t kStreamBytes = 16u * 1024u * 1024u;

// 360 000 reports (16.2 MB) leave about 0.6 MB for noise, spread as runs of
// 0-3 bytes between frames; runs include first header bytes so that false
// starts are scanned too.
const std::vector<uint8_t>& Stream() {
    static const std::vector<uint8_t> stream = [] {
        std::vector<uint8_t> bytes;
        bytes.reserve(kStreamBytes + 64);
        std::mt19937 random(7);
        const uint8_t noise[] = {0x00, 0x5A, 0xF4, 0xF3, 0xFF, 0x13};
        uint8_t frame[45];
        for (size_t i = 0; i < kReportCount; ++i) {
            ObjectReport report;
            report.TargetState = static_cast<uint8_t>(i & 1);
            report.TargetDistance = static_cast<uint16_t>(i % 1120);
            for (int gate = 0; gate < kReportGateCount; ++gate) {
                report.GateEnergy[gate] = static_cast<uint16_t>(random());
            }
            EncodeObjectReportFrame(report, frame);
            bytes.insert(bytes.end(), frame, frame + sizeof frame);
            const size_t room = kStreamBytes > bytes.size() ? kStreamBytes - bytes.size() : 0;
            const size_t framesLeft = kReportCount - i - 1;
            const size_t runs = std::min<size_t>(random() % 4, room > framesLeft * 45 ? 3 : 0);
            for (size_t n = 0; n < runs; ++n) bytes.push_back(noise[random() % sizeof noise]);
        }
        return bytes;
    }();
    return stream;
}

struct CountingListener : IObjectReportListener {
    size_t reports = 0;
    uint32_t energySum = 0;
    void OnObjectReport(const uint8_t* payload) override {
        ++reports;
        energySum += payload[3];
    }
};

void BM_ParseStream(benchmark::State& state) {
    const std::vector<uint8_t>& stream = Stream();
    const size_t chunk = static_cast<size_t>(state.range(0));
    std::atomic<int> stop{0};
    size_t reports = 0;
    for (auto _ : state) {
        CountingListener listener;
        ReportFrameParser parser(&listener, &stop);
        for (size_t at = 0; at < stream.size(); at += chunk) {
            parser.Append(stream.data() + at, std::min(chunk, stream.size() - at));
        }
        benchmark::DoNotOptimize(listener.energySum);
        reports = listener.reports;
    }
    if (reports != kReportCount) state.SkipWithError("parser lost reports");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(stream.size()));
    state.counters["stream_MB"] = static_cast<double>(stream.size()) / 1e6;
}

BENCHMARK(BM_ParseStream)->Arg(64)->Arg(4096)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

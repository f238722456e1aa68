// Throughput of the report stream parser over a 16 MB stream of object
// reports with noise bytes between them, fed in chunks as a reader would.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <vector>

#include "realtime/ReportFrame.h"

namespace {

constexpr size_t kReportCount = 360000;
constexpr size_t kStreamBytes = 16u * 1024u * 1024u;

// 360 000 reports (16.2 MB) leave about 0.6 MB for noise, spread as runs of
// 0-3 bytes between frames; runs include first header bytes so that false
// starts are scanned too.
std::vector<uint8_t> MakeStream() {
    {
        std::vector<uint8_t> bytes;
        bytes.reserve(kStreamBytes + 64);
        std::mt19937 random(7);
        const uint8_t noise[] = {0x00, 0x5A, 0xF4, 0xF3, 0xFF, 0x13};
        uint8_t frame[45];
        for (size_t i = 0; i < kReportCount; ++i) {
            ObjectReport report;
            report.TargetState = static_cast<uint8_t>(i & 1);
            report.TargetDistance = static_cast<uint16_t>(i % 1120);
            for (int gate = 0; gate < radar_protocol::kGateCount; ++gate) {
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
    }
}

const std::vector<uint8_t>& Stream() {
    static const std::vector<uint8_t> stream = MakeStream();
    return stream;
}

// The same number of reports in bursts of 100 with 16 KB of line noise
// before each burst: long stretches without a frame.
const std::vector<uint8_t>& BurstStream() {
    static const std::vector<uint8_t> stream = [] {
        std::vector<uint8_t> bytes;
        std::mt19937 random(11);
        uint8_t frame[45];
        for (size_t i = 0; i < kReportCount; ++i) {
            if (i % 100 == 0) {
                // Below 0xF0: no byte of a tag, so no false starts either.
                for (int n = 0; n < 16384; ++n)
                    bytes.push_back(static_cast<uint8_t>(random() % 0xF0));
            }
            ObjectReport report;
            report.TargetDistance = static_cast<uint16_t>(i % 1120);
            EncodeObjectReportFrame(report, frame);
            bytes.insert(bytes.end(), frame, frame + sizeof frame);
        }
        return bytes;
    }();
    return stream;
}

const std::vector<uint8_t>& StreamFor(const benchmark::State& state) {
    return state.range(1) == 0 ? Stream() : BurstStream();
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
    const std::vector<uint8_t>& stream = StreamFor(state);
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
    state.SetLabel(state.range(1) == 0 ? "short noise" : "noise bursts");
}

// Arguments: chunk size, stream (0: noise between frames, 1: noise bursts).
BENCHMARK(BM_ParseStream)
    ->ArgsProduct({{64, 4096}, {0, 1}})
    ->ArgNames({"chunk", "bursts"})
    ->Unit(benchmark::kMillisecond);

// For comparison: the same scan comparing four bytes at every position, on
// the same buffer with the same compaction.
class PlainScanParser {
public:
    explicit PlainScanParser(IObjectReportListener* listener) : m_listener(listener) {}
    __attribute__((noinline)) void Append(const uint8_t* data, size_t size) {
        m_buffer.AppendBuffer(data, size);
        const uint8_t* p = m_buffer.GetBuffer();
        const size_t avail = m_buffer.GetAvailSize();
        static const uint8_t header[4] = {0xF4, 0xF3, 0xF2, 0xF1};
        static const uint8_t tailer[4] = {0xF8, 0xF7, 0xF6, 0xF5};
        size_t pos = 0;
        while (pos + 10 <= avail) {
            if (std::memcmp(p + pos, header, 4) != 0) {
                ++pos;
                continue;
            }
            const size_t length = p[pos + 4] | (p[pos + 5] << 8);
            if (pos + length + 10 > avail) break;
            if (std::memcmp(p + pos + 6 + length, tailer, 4) == 0) {
                if (length == 35) m_listener->OnObjectReport(p + pos + 6);
                pos += length + 10;
            } else {
                pos += length + 6;
            }
        }
        m_buffer.SetBuffer(p + pos, avail - pos);
    }

private:
    IObjectReportListener* m_listener;
    CBaseBuffer m_buffer;
};

void BM_PlainScan(benchmark::State& state) {
    const std::vector<uint8_t>& stream = StreamFor(state);
    const size_t chunk = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        CountingListener listener;
        PlainScanParser parser(&listener);
        for (size_t at = 0; at < stream.size(); at += chunk) {
            parser.Append(stream.data() + at, std::min(chunk, stream.size() - at));
        }
        benchmark::DoNotOptimize(listener.energySum);
        if (listener.reports != kReportCount) state.SkipWithError("plain scan lost reports");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(stream.size()));
}

BENCHMARK(BM_PlainScan)
    ->ArgsProduct({{64, 4096}, {0, 1}})
    ->ArgNames({"chunk", "bursts"})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

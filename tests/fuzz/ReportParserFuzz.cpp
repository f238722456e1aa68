// The report frame parser, fed the input in pieces, against a plain scan of
// the whole stream that steps one byte at a time: both must find the same
// reports, count the same bad tailers and keep the same bytes.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/KVEL_Common.h"
#include "device/RadarProtocol.h"
#include "realtime/ReportFrame.h"

namespace {

namespace rp = radar_protocol;
using Bytes = std::vector<uint8_t>;

struct Reference {
    std::vector<Bytes> reports;
    int badTailers = 0;
    size_t left = 0;
};

bool TagAt(const Bytes& s, size_t at, const uint8_t (&tag)[4]) {
    return std::memcmp(s.data() + at, tag, 4) == 0;
}

Reference PlainScan(const Bytes& s) {
    Reference result;
    const size_t overhead = rp::kReportFramingBytes;
    size_t pos = 0;
    while (pos + overhead <= s.size()) {
        if (!TagAt(s, pos, rp::kReportHeader)) {
            ++pos;
            continue;
        }
        const size_t length = s[pos + 4] | (s[pos + 5] << 8);
        if (length > static_cast<size_t>(rp::kObjectReportPayload)) {
            ++pos;
            continue;
        }
        if (pos + length + overhead > s.size()) break;
        const size_t tailer = pos + 6 + length;
        if (TagAt(s, tailer, rp::kReportTailer)) {
            if (length == rp::kObjectReportPayload)
                result.reports.emplace_back(s.begin() + pos + 6, s.begin() + pos + 6 + length);
            pos += length + overhead;
        } else {
            ++result.badTailers;
            ++pos;
        }
    }
    result.left = s.size() - pos;
    return result;
}

struct Collector : IObjectReportListener {
    void OnObjectReport(const uint8_t* payload) override {
        reports.emplace_back(payload, payload + rp::kObjectReportPayload);
    }
    std::vector<Bytes> reports;
};

int gBadTailers = 0;

int CountBadTailers(void*, intptr_t, const char* text, int length) {
    if (std::strstr(text, "Tailer TAG Invalid")) ++gBadTailers;
    return length;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    DbgOutputAddCallback(&CountBadTailers, nullptr);
    return 0;
}

// The first byte seeds the piece sizes; the rest is the stream.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t seed = data[0];
    const Bytes stream(data + 1, data + size);

    gBadTailers = 0;
    Collector collector;
    ReportFrameParser parser(&collector, nullptr);
    size_t at = 0;
    for (unsigned step = 0; at < stream.size(); ++step) {
        const size_t piece = 1 + ((seed * 31u + step * 17u) % 64u);
        const size_t count = piece < stream.size() - at ? piece : stream.size() - at;
        parser.Append(stream.data() + at, count);
        at += count;
    }

    const Reference expected = PlainScan(stream);
    if (collector.reports != expected.reports) std::abort();
    if (gBadTailers != expected.badTailers) std::abort();
    if (parser.BufferedBytes() != expected.left) std::abort();
    return 0;
}

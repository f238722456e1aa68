#include "realtime/ReportFrame.h"

#include <cstring>

namespace {

constexpr const uint8_t (&kHeaderTag)[4] = radar_protocol::kReportHeader;
constexpr const uint8_t (&kTailerTag)[4] = radar_protocol::kReportTailer;
constexpr size_t kTagSize = sizeof radar_protocol::kReportHeader;
constexpr size_t kLengthSize = 2;
constexpr size_t kFrameOverhead = radar_protocol::kReportFramingBytes;
// The longest payload the module sends; a header announcing more is noise.
constexpr size_t kLongestPayload = radar_protocol::kObjectReportPayload;

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void WriteU16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value & 0xFF);
    p[1] = static_cast<uint8_t>(value >> 8);
}

bool HasTag(const uint8_t* p, const uint8_t (&tag)[4]) {
    return std::memcmp(p, tag, kTagSize) == 0;
}

// The first position from `from` to `lastStart` holding the first header
// byte, or lastStart + 1 when there is none. Noise between frames is mostly
// a few bytes, which a plain loop finds sooner than a memchr call; longer
// runs go to memchr.
size_t NextHeaderCandidate(const uint8_t* p, size_t from, size_t lastStart) {
    constexpr size_t kShortRun = 16;
    const size_t end = lastStart + 1;
    const size_t shortEnd = from + kShortRun < end ? from + kShortRun : end;
    for (size_t at = from; at < shortEnd; ++at) {
        if (p[at] == kHeaderTag[0]) return at;
    }
    if (shortEnd >= end) return end;
    const void* hit = std::memchr(p + shortEnd, kHeaderTag[0], end - shortEnd);
    return hit ? static_cast<size_t>(static_cast<const uint8_t*>(hit) - p) : end;
}

}  // namespace

ObjectReport DecodeObjectReport(const uint8_t* payload) {
    ObjectReport report;
    report.TargetState = payload[0];
    report.TargetDistance = ReadU16(payload + 1);
    for (int gate = 0; gate < radar_protocol::kGateCount; ++gate) {
        report.GateEnergy[gate] = ReadU16(payload + 3 + 2 * gate);
    }
    return report;
}

void EncodeObjectReportFrame(const ObjectReport& report, uint8_t* frame45) {
    std::memcpy(frame45, kHeaderTag, kTagSize);
    WriteU16(frame45 + kTagSize, kObjectReportSize);
    uint8_t* payload = frame45 + kTagSize + kLengthSize;
    payload[0] = report.TargetState;
    WriteU16(payload + 1, report.TargetDistance);
    for (int gate = 0; gate < radar_protocol::kGateCount; ++gate) {
        WriteU16(payload + 3 + 2 * gate, report.GateEnergy[gate]);
    }
    std::memcpy(payload + kObjectReportSize, kTailerTag, kTagSize);
}

ReportFrameParser::ReportFrameParser(IObjectReportListener* listener,
                                     const std::atomic<int>* stopFlag)
    : m_listener(listener), m_stopFlag(stopFlag) {}

void ReportFrameParser::Append(const uint8_t* data, size_t size) {
    if (size > 0 && !m_buffer.AppendBuffer(data, size)) {
        // Out of memory: drop what is held rather than parse a stream with
        // a hole in it; the next frames resynchronise on their header.
        m_buffer.SetAvailSize(0);
        return;
    }
    ScanPass();
}

// One pass over the held bytes. Stray bytes are skipped by searching for the
// first header byte, which gives the same positions as stepping one byte at
// a time: no position in between can hold a header. The stop flag is tested
// before every header candidate and every frame.
void ReportFrameParser::ScanPass() {
    const uint8_t* p = m_buffer.GetBuffer();
    const size_t avail = m_buffer.GetAvailSize();
    size_t pos = 0;

    while (true) {
        if (m_stopFlag && m_stopFlag->load(std::memory_order_relaxed) != 0) break;
        if (pos + kFrameOverhead > avail) break;

        if (p[pos] != kHeaderTag[0] || !HasTag(p + pos, kHeaderTag)) {
            pos = NextHeaderCandidate(p, pos + 1, avail - kFrameOverhead);
            continue;
        }

        // A header announcing more than any report is no frame: waiting for
        // its bytes would swallow the real frames among them.
        const size_t length = ReadU16(p + pos + kTagSize);
        if (length > kLongestPayload) {
            pos = NextHeaderCandidate(p, pos + 1, avail - kFrameOverhead);
            continue;
        }
        if (pos + length + kFrameOverhead > avail) break;  // completed by later reads

        const size_t tailer = pos + kTagSize + kLengthSize + length;
        if (HasTag(p + tailer, kTailerTag)) {
            if (length == kObjectReportSize && m_listener) {
                m_listener->OnObjectReport(p + pos + kTagSize + kLengthSize);
            }
            pos += length + kFrameOverhead;
        } else {
            // A false header (noise, a frame cut short) often stands just
            // before a real frame, which lies within the bytes it announced.
            DbgOutputA(2, "Tailer TAG Invalid!\r\n");
            pos = NextHeaderCandidate(p, pos + 1, avail - kFrameOverhead);
        }
    }

    if (pos > 0) m_buffer.SetBuffer(p + pos, avail - pos);
}

#include "device/CommandChannel.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "device/RadarProtocol.h"

namespace kvel_device {
namespace rp = radar_protocol;
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWriteAllowanceMs = 500;
constexpr int kLongReplyAllowance = 256;  // bytes whose line time a reply wait adds
// A boot-loader reply frame is no longer than this.
constexpr int kBootReplyFrame = rp::kFramingBytes + rp::kBootConfirmReplyBytes;

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void AppendU16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

constexpr size_t kHeaderBytes = sizeof rp::kCommandHeader;
constexpr size_t kTailerBytes = sizeof rp::kCommandTailer;

// Length of the header prefix that ends `bytes` (0-3): a frame may begin there.
size_t PartialHeaderAtEnd(const std::vector<uint8_t>& bytes) {
    const size_t most = std::min(bytes.size(), kHeaderBytes - 1);
    for (size_t n = most; n > 0; --n) {
        if (std::memcmp(bytes.data() + bytes.size() - n, rp::kCommandHeader, n) == 0) return n;
    }
    return 0;
}

enum class Candidate { Good, Bad, Incomplete };

// Judges the frame announced by the header at `start`; *payloadLength is
// its length field once that has come.
Candidate JudgeFrame(const std::vector<uint8_t>& bytes, size_t start, size_t maxFrameSize,
                     size_t* payloadLength) {
    const size_t have = bytes.size() - start;
    if (have < static_cast<size_t>(rp::kPayloadOffset)) return Candidate::Incomplete;
    const uint8_t* frame = bytes.data() + start;
    *payloadLength = ReadU16(frame + rp::kLengthOffset);
    const size_t frameSize = *payloadLength + rp::kFramingBytes;
    if (frameSize > maxFrameSize) return Candidate::Bad;  // no frame is this long
    if (have < frameSize) return Candidate::Incomplete;
    const size_t checksumAt = rp::kPayloadOffset + *payloadLength;
    const uint16_t checksum =
        CommandChecksum(frame + rp::kLengthOffset, checksumAt - rp::kLengthOffset);
    if (ReadU16(frame + checksumAt) != checksum) return Candidate::Bad;
    if (std::memcmp(frame + checksumAt + rp::kChecksumBytes, rp::kCommandTailer, kTailerBytes) != 0)
        return Candidate::Bad;
    return Candidate::Good;
}

template <size_t N>
bool Holds(const std::vector<uint8_t>& bytes, const uint8_t (&tag)[N]) {
    return std::search(bytes.begin(), bytes.end(), std::begin(tag), std::end(tag)) != bytes.end();
}

// Whether `bytes` hold a header tag of either kind of frame: then the line
// runs at the module's speed, whatever else went wrong.
bool HoldsHeaderTag(const std::vector<uint8_t>& bytes) {
    return Holds(bytes, rp::kCommandHeader) || Holds(bytes, rp::kReportHeader);
}

}  // namespace

uint16_t CommandChecksum(const uint8_t* data, size_t size) {
    uint16_t crc = rp::kChecksumInitial;
    for (size_t i = 0; i < size; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit) {
            const bool carry = (crc & 0x8000) != 0;
            crc = static_cast<uint16_t>(crc << 1);
            if (carry) crc ^= rp::kChecksumPolynomial;
        }
    }
    return crc;
}

size_t ScanCommandFrame(const std::vector<uint8_t>& bytes, int maxFrameSize, ScannedFrame* frame,
                        bool* found) {
    *found = false;
    const size_t acceptSize = static_cast<size_t>(std::max(maxFrameSize, 0));
    for (size_t start = 0; start + kHeaderBytes <= bytes.size(); ++start) {
        if (std::memcmp(bytes.data() + start, rp::kCommandHeader, kHeaderBytes) != 0) continue;
        size_t payloadLength = 0;
        switch (JudgeFrame(bytes, start, acceptSize, &payloadLength)) {
            case Candidate::Incomplete:
                // Whatever follows may be this frame's payload: wait for it whole.
                return start;
            case Candidate::Bad:
                continue;
            case Candidate::Good:
                break;
        }
        const uint16_t word = ReadU16(bytes.data() + start + rp::kWordOffset);
        frame->code = static_cast<uint8_t>(word & rp::kCodeMask);
        frame->sequence = (word & rp::kSequenceMask) >> rp::kSequenceShift;
        frame->status = (word & rp::kStatusMask) >> rp::kStatusShift;
        frame->payloadOffset = start + rp::kPayloadOffset;
        frame->payloadLength = payloadLength;
        *found = true;
        return start + payloadLength + rp::kFramingBytes;
    }
    return bytes.size() - PartialHeaderAtEnd(bytes);
}

// The boot loader takes image packets as large as it said it would (its
// answer to the image information), which the command channel's maximum
// frame size knows nothing of.
int CommandChannel::FrameLimit(uint8_t code) const {
    const bool bootLoader = code >= rp::kCmdBootFirst && code <= rp::kCmdBootLast;
    return bootLoader ? rp::kLargestBootFrame : m_maxFrameSize.load();
}

ExchangeResult CommandChannel::SendFrame(uint8_t code, const uint8_t* payload, int length,
                                         int* sequence) {
    if (!m_line.IsAlive()) return ExchangeResult::NotConnected;
    if (length < 0 || (length > 0 && payload == nullptr)) return ExchangeResult::WriteFailed;
    if (length + rp::kFramingBytes > FrameLimit(code)) return ExchangeResult::TooLong;

    *sequence = m_nextSequence;
    m_nextSequence = (m_nextSequence + 1) % rp::kSequenceCount;
    std::vector<uint8_t> frame(std::begin(rp::kCommandHeader), std::end(rp::kCommandHeader));
    AppendU16(frame, static_cast<uint16_t>(length));
    AppendU16(frame, static_cast<uint16_t>(code | (*sequence << rp::kSequenceShift)));
    frame.insert(frame.end(), payload, payload + length);
    AppendU16(frame,
              CommandChecksum(frame.data() + rp::kLengthOffset, frame.size() - rp::kLengthOffset));
    frame.insert(frame.end(), std::begin(rp::kCommandTailer), std::end(rp::kCommandTailer));

    // Whatever the line held is not the answer to this command; the rest of
    // an earlier reply cut short would hold up the scan for this one.
    m_leftover.clear();
    m_line.DiscardInput();
    const int writeMs =
        kWriteAllowanceMs + TransferTimeMs(static_cast<int>(frame.size()), m_line.BaudRate());
    if (!m_line.Write(frame.data(), static_cast<int>(frame.size()), writeMs)) {
        return m_line.IsAlive() ? ExchangeResult::WriteFailed : ExchangeResult::NotConnected;
    }
    return ExchangeResult::Done;
}

ExchangeResult CommandChannel::Send(uint8_t code, const uint8_t* payload, int length) {
    int sequence = 0;
    return SendFrame(code, payload, length, &sequence);
}

ExchangeResult CommandChannel::Exchange(uint8_t code, const uint8_t* payload, int length,
                                        int timeoutMs, Reply* reply) {
    int sequence = 0;
    const ExchangeResult sent = SendFrame(code, payload, length, &sequence);
    if (sent != ExchangeResult::Done) return sent;
    const ExchangeResult awaited =
        AwaitReply(code, sequence, timeoutMs, length + rp::kFramingBytes, reply);
    if (awaited == ExchangeResult::Done || m_line.IsAlive()) return awaited;
    return ExchangeResult::NotConnected;
}

ExchangeResult CommandChannel::AwaitReply(uint8_t code, int sequence, int timeoutMs,
                                          int commandBytes, Reply* reply) {
    // Accept any frame the module may legally send, even before it told
    // its own maximum.
    const int acceptSize = std::max(m_maxFrameSize.load(), rp::kDefaultMaxFrameSize);
    // A slow line gets the time the longest reply needs on top. The write
    // returns once the bytes are queued, so a command longer than that (a
    // boot-loader image packet) adds its own line time and a reply's: the
    // module answers only once it has heard the whole command.
    const int lineBytes =
        std::max(std::min(acceptSize, kLongReplyAllowance), commandBytes + kBootReplyFrame);
    const int waitMs = std::max(timeoutMs, 0) + TransferTimeMs(lineBytes, m_line.BaudRate());
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    std::vector<uint8_t> received;
    // Bytes without a single header tag among them point at a line that runs
    // at another speed than the module.
    bool bytesCame = false;
    bool tagSeen = false;
    uint8_t chunk[256];
    for (;;) {
        bool found = false;
        ScannedFrame frame;
        const size_t used = ScanCommandFrame(received, acceptSize, &frame, &found);
        tagSeen = tagSeen || HoldsHeaderTag(received);
        if (found && frame.code == code && frame.sequence == sequence) {
            reply->status = frame.status;
            reply->payload.assign(
                received.begin() + static_cast<long>(frame.payloadOffset),
                received.begin() + static_cast<long>(frame.payloadOffset + frame.payloadLength));
            m_leftover.assign(received.begin() + static_cast<long>(used), received.end());
            return ExchangeResult::Done;
        }
        // Skipped: other frames, report data, stray bytes, late replies.
        received.erase(received.begin(), received.begin() + static_cast<long>(used));
        if (found) continue;

        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        const int got = m_line.Read(chunk, sizeof chunk, static_cast<int>(left));
        if (got < 0) return ExchangeResult::NotConnected;
        bytesCame = bytesCame || got > 0;
        received.insert(received.end(), chunk, chunk + got);
    }
    return bytesCame && !tagSeen ? ExchangeResult::Unreadable : ExchangeResult::Timeout;
}

}  // namespace kvel_device

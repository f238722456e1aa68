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

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void AppendU16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

// Length of the header prefix that ends `bytes` (0-3): a frame may begin there.
size_t PartialHeaderAtEnd(const std::vector<uint8_t>& bytes) {
    const size_t most = std::min<size_t>(bytes.size(), sizeof rp::kCommandHeader - 1);
    for (size_t n = most; n > 0; --n) {
        if (std::memcmp(bytes.data() + bytes.size() - n, rp::kCommandHeader, n) == 0) return n;
    }
    return 0;
}

}  // namespace

size_t ScanCommandFrame(const std::vector<uint8_t>& bytes, int maxFrameSize, ScannedFrame* frame,
                        bool* found) {
    *found = false;
    const size_t headerSize = sizeof rp::kCommandHeader;
    // The first place where a frame may still be arriving. Scanning goes on
    // past it: a header look-alike in other data must not hide a whole
    // frame that follows it.
    size_t firstIncomplete = bytes.size();
    for (size_t start = 0; start + headerSize <= bytes.size(); ++start) {
        if (std::memcmp(bytes.data() + start, rp::kCommandHeader, headerSize) != 0) continue;
        if (bytes.size() - start < 8) {  // length and word still coming
            firstIncomplete = std::min(firstIncomplete, start);
            continue;
        }
        const size_t payloadLength = ReadU16(bytes.data() + start + 4);
        const size_t frameSize = payloadLength + rp::kFramingBytes;
        if (frameSize > static_cast<size_t>(maxFrameSize)) continue;  // no frame is this long
        if (bytes.size() - start < frameSize) {
            firstIncomplete = std::min(firstIncomplete, start);
            continue;
        }
        const uint8_t* tailer = bytes.data() + start + 8 + payloadLength;
        if (std::memcmp(tailer, rp::kCommandTailer, sizeof rp::kCommandTailer) != 0) continue;
        const uint16_t word = ReadU16(bytes.data() + start + 6);
        frame->code = static_cast<uint8_t>(word & rp::kCodeMask);
        frame->sequence = (word & rp::kSequenceMask) >> rp::kSequenceShift;
        frame->status = (word & rp::kStatusMask) >> rp::kStatusShift;
        frame->payloadOffset = start + 8;
        frame->payloadLength = payloadLength;
        *found = true;
        return start + frameSize;
    }
    return std::min(firstIncomplete, bytes.size() - PartialHeaderAtEnd(bytes));
}

ExchangeResult CommandChannel::SendFrame(uint8_t code, const uint8_t* payload, int length,
                                         int* sequence) {
    if (!m_line.IsAlive()) return ExchangeResult::NotConnected;
    if (length < 0 || (length > 0 && payload == nullptr)) return ExchangeResult::WriteFailed;
    if (length + rp::kFramingBytes > m_maxFrameSize) return ExchangeResult::TooLong;

    *sequence = m_nextSequence;
    m_nextSequence = (m_nextSequence + 1) % rp::kSequenceCount;
    std::vector<uint8_t> frame(std::begin(rp::kCommandHeader), std::end(rp::kCommandHeader));
    AppendU16(frame, static_cast<uint16_t>(length));
    AppendU16(frame, static_cast<uint16_t>(code | (*sequence << rp::kSequenceShift)));
    frame.insert(frame.end(), payload, payload + length);
    frame.insert(frame.end(), std::begin(rp::kCommandTailer), std::end(rp::kCommandTailer));

    // Whatever the line held is not the answer to this command.
    m_leftover.clear();
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
    if (AwaitReply(code, sequence, timeoutMs, reply)) return ExchangeResult::Done;
    return m_line.IsAlive() ? ExchangeResult::Timeout : ExchangeResult::NotConnected;
}

bool CommandChannel::AwaitReply(uint8_t code, int sequence, int timeoutMs, Reply* reply) {
    // Accept any frame the module may legally send, even before it told
    // its own maximum.
    const int acceptSize = std::max(m_maxFrameSize.load(), rp::kDefaultMaxFrameSize);
    // A slow line gets the time the longest reply needs on top.
    const int waitMs = std::max(timeoutMs, 0) +
                       TransferTimeMs(std::min(acceptSize, kLongReplyAllowance), m_line.BaudRate());
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    std::vector<uint8_t> received;
    uint8_t chunk[256];
    for (;;) {
        bool found = false;
        ScannedFrame frame;
        const size_t used = ScanCommandFrame(received, acceptSize, &frame, &found);
        if (found && frame.code == code && frame.sequence == sequence) {
            reply->status = frame.status;
            reply->payload.assign(
                received.begin() + static_cast<long>(frame.payloadOffset),
                received.begin() + static_cast<long>(frame.payloadOffset + frame.payloadLength));
            m_leftover.assign(received.begin() + static_cast<long>(used), received.end());
            return true;
        }
        // Skipped: other frames, report data, stray bytes, late replies.
        received.erase(received.begin(), received.begin() + static_cast<long>(used));
        if (found) continue;

        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        const int got = m_line.Read(chunk, sizeof chunk, static_cast<int>(left));
        if (got < 0) return false;
        received.insert(received.end(), chunk, chunk + got);
    }
}

}  // namespace kvel_device

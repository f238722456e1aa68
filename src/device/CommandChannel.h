// The command side of the module line: frames a command, sends it and
// picks its reply out of whatever else the line carries.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "device/RadarProtocol.h"
#include "device/SerialLine.h"

namespace kvel_device {

enum class ExchangeResult {
    Done,          // sent; for an exchange: the reply with this code and sequence came
    NotConnected,  // the line is closed or has failed
    TooLong,       // the command frame would exceed the maximum frame size
    WriteFailed,   // the line did not take the frame
    Timeout,       // no matching reply in time
    Unreadable,    // no matching reply in time, and what came held no valid frame
};

struct Reply {
    int status = -1;  // the reply's status field
    std::vector<uint8_t> payload;
};

// A reply frame found in received bytes.
struct ScannedFrame {
    uint8_t code = 0;
    int sequence = 0;
    int status = 0;
    size_t payloadOffset = 0;
    size_t payloadLength = 0;
};

// The frame checksum: CRC-16/CCITT over `size` bytes (docs/protocol.md).
uint16_t CommandChecksum(const uint8_t* data, size_t size);

// Looks for the first good command frame of at most `maxFrameSize` bytes in
// `bytes`. A header holds the scan until the frame it announces is complete;
// then its checksum and tailer decide. A good frame is returned whole, so
// nothing in its payload is ever looked at as a frame; a bad one is dropped
// and the scan goes on one byte after its header. Returns the count of bytes
// consumed: up to and including the frame when one was found (*found =
// true), otherwise the bytes before the first place a frame may still be
// arriving.
size_t ScanCommandFrame(const std::vector<uint8_t>& bytes, int maxFrameSize, ScannedFrame* frame,
                        bool* found);

class CommandChannel {
public:
    explicit CommandChannel(SerialLine& line) : m_line(line) {}

    // Largest frame either side sends; the default until the module tells.
    // Read without the handle's lock by the readers' threads, hence atomic.
    int MaxFrameSize() const { return m_maxFrameSize; }
    void SetMaxFrameSize(int bytes) { m_maxFrameSize = bytes; }

    // Sends command `code` and waits up to `timeoutMs` for its reply.
    ExchangeResult Exchange(uint8_t code, const uint8_t* payload, int length, int timeoutMs,
                            Reply* reply);
    // Sends command `code` without waiting for an answer.
    ExchangeResult Send(uint8_t code, const uint8_t* payload, int length);

    // Bytes that followed a reply in the same read (report frames streamed
    // right after leaving command mode); handed to the next data read.
    std::vector<uint8_t>& Leftover() { return m_leftover; }

private:
    int FrameLimit(uint8_t code) const;
    ExchangeResult SendFrame(uint8_t code, const uint8_t* payload, int length, int* sequence);
    ExchangeResult AwaitReply(uint8_t code, int sequence, int timeoutMs, int commandBytes,
                              Reply* reply);

    SerialLine& m_line;
    std::atomic<int> m_maxFrameSize{radar_protocol::kDefaultMaxFrameSize};
    int m_nextSequence = 0;
    std::vector<uint8_t> m_leftover;
};

}  // namespace kvel_device

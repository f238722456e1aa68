// The command-frame scan fed the input in pieces, as replies come off the
// line, against the same scan over the whole input at once: the frames found
// must not depend on where the line cut the bytes, and every frame found
// must lie inside what was received.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "device/CommandChannel.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Found {
    uint8_t code;
    int sequence;
    int status;
    Bytes payload;
    bool operator==(const Found&) const = default;
};

// Appends each piece and takes every frame out, as the reply wait does.
std::vector<Found> ScanInPieces(const Bytes& stream, int maxFrameSize,
                                const std::vector<size_t>& pieces) {
    std::vector<Found> frames;
    Bytes received;
    size_t at = 0;
    for (size_t piece : pieces) {
        received.insert(received.end(), stream.begin() + static_cast<long>(at),
                        stream.begin() + static_cast<long>(at + piece));
        at += piece;
        for (;;) {
            bool found = false;
            kvel_device::ScannedFrame frame;
            const size_t used =
                kvel_device::ScanCommandFrame(received, maxFrameSize, &frame, &found);
            if (used > received.size()) std::abort();
            if (found) {
                if (frame.payloadOffset + frame.payloadLength > used) std::abort();
                const auto first = received.begin() + static_cast<long>(frame.payloadOffset);
                frames.push_back({frame.code, frame.sequence, frame.status,
                                  Bytes(first, first + static_cast<long>(frame.payloadLength))});
            }
            received.erase(received.begin(), received.begin() + static_cast<long>(used));
            if (!found) break;
        }
    }
    return frames;
}

}  // namespace

// Byte 0 picks the maximum frame size, byte 1 seeds the piece sizes; the
// rest is the line.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int maxFrameSize = radar_protocol::kMinMaxFrameSize + data[0];
    const uint8_t seed = data[1];
    const Bytes stream(data + 2, data + size);

    std::vector<size_t> pieces;
    for (size_t at = 0, step = 0; at < stream.size(); ++step) {
        const size_t piece = 1 + ((seed * 13u + step * 7u) % 23u);
        pieces.push_back(piece < stream.size() - at ? piece : stream.size() - at);
        at += pieces.back();
    }
    const std::vector<size_t> whole =
        stream.empty() ? std::vector<size_t>{} : std::vector<size_t>{stream.size()};
    if (ScanInPieces(stream, maxFrameSize, pieces) != ScanInPieces(stream, maxFrameSize, whole))
        std::abort();
    return 0;
}

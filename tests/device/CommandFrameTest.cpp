// The command-frame scan on its own: what it takes from bytes that arrive
// in pieces, whatever the payloads hold.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PtyModule.h"
#include "device/CommandChannel.h"

namespace {

using namespace device_test;
using Bytes = std::vector<uint8_t>;

struct Taken {
    bool found = false;
    int code = -1;
    int sequence = -1;
    Bytes payload;
};

// Feeds `bytes` to the scan in two pieces, split after `split` bytes, the
// way a reply wait does: consumed bytes go, the rest waits for more.
Taken ScanInTwoPieces(const Bytes& bytes, size_t split, int maxFrameSize = 64) {
    Bytes received;
    for (const auto& [from, to] : {std::pair{size_t{0}, split}, std::pair{split, bytes.size()}}) {
        received.insert(received.end(), bytes.begin() + static_cast<long>(from),
                        bytes.begin() + static_cast<long>(to));
        for (;;) {
            kvel_device::ScannedFrame frame;
            bool found = false;
            const size_t used =
                kvel_device::ScanCommandFrame(received, maxFrameSize, &frame, &found);
            if (found) {
                const auto payload = received.begin() + static_cast<long>(frame.payloadOffset);
                return {true, frame.code, frame.sequence,
                        Bytes(payload, payload + static_cast<long>(frame.payloadLength))};
            }
            received.erase(received.begin(), received.begin() + static_cast<long>(used));
            if (used == 0) break;
        }
    }
    return {};
}

Bytes FromHex(const std::string& hex) {
    Bytes bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

TEST(CommandFrameTest, ChecksumIsCrc16Ccitt) {
    const std::string check = "123456789";
    EXPECT_EQ(
        kvel_device::CommandChecksum(reinterpret_cast<const uint8_t*>(check.data()), check.size()),
        0x29B1);
}

// The bytes that once made the module's parameters unreadable: a reply
// whose payload held a whole frame of the former layout, split after 18.
TEST(CommandFrameTest, FormerLookAlikeReplySplitAfter18BytesYieldsNoFrame) {
    const Bytes line = FromHex("5aa53cc30d005aa53cc3000000ffc33ca55a3cc300c33ca55a");
    EXPECT_FALSE(ScanInTwoPieces(line, 18).found);
}

TEST(CommandFrameTest, LookAlikeFrameAtAnyOffsetOfAPayloadIsNeverTakenWhateverTheSplit) {
    const Bytes lookAlike = CommandFrame(0x0108, {0xC3, 0x3C, 0xA5, 0x5A});
    for (size_t offset = 0; offset + lookAlike.size() <= 52; ++offset) {
        Bytes payload(52, 0x5A);
        std::copy(lookAlike.begin(), lookAlike.end(), payload.begin() + static_cast<long>(offset));
        const Bytes reply = ReplyFrame(0x08, 1, 0, payload);
        for (size_t split = 1; split < reply.size(); ++split) {
            const Taken taken = ScanInTwoPieces(reply, split);
            ASSERT_TRUE(taken.found) << "offset " << offset << ", split " << split;
            ASSERT_EQ(taken.payload, payload) << "offset " << offset << ", split " << split;
        }
    }
}

TEST(CommandFrameTest, FrameFailingItsCheckIsDroppedAndTheScanResumesAfterItsHeader) {
    // A damaged frame whose payload holds a good one: the good one is found
    // by resuming one byte after the damaged frame's header.
    const Bytes inner = ReplyFrame(0x03, 2, 0, {'O', 'K'});
    Bytes outer = ReplyFrame(0x08, 1, 0, inner);
    outer[outer.size() - 3] ^= 0x01;  // the checksum
    for (size_t split = 1; split < outer.size(); ++split) {
        const Taken taken = ScanInTwoPieces(outer, split);
        ASSERT_TRUE(taken.found) << split;
        EXPECT_EQ(taken.code, 0x03);
        EXPECT_EQ(taken.payload, (Bytes{'O', 'K'}));
    }
    // A wrong tailer fails the same way; a good frame after it is taken.
    Bytes badTailer = ReplyFrame(0x05, 3, 0, {1, 2});
    badTailer.back() ^= 0xFF;
    const Bytes good = ReplyFrame(0x05, 4, 0, {3, 4});
    badTailer.insert(badTailer.end(), good.begin(), good.end());
    const Taken taken = ScanInTwoPieces(badTailer, 7);
    EXPECT_EQ(taken.sequence, 4);
}

TEST(CommandFrameTest, HeaderAnnouncingMoreThanTheLargestFrameDoesNotHoldTheScan) {
    Bytes bytes = {0x5A, 0xA5, 0x3C, 0xC3, 0x40, 0x00};  // 64 payload bytes: 76 in all
    const Bytes reply = ReplyFrame(0x01, 0, 0, {2, 0});
    bytes.insert(bytes.end(), reply.begin(), reply.end());
    EXPECT_TRUE(ScanInTwoPieces(bytes, bytes.size()).found);
    // Within the limit it does hold the scan until its frame is complete.
    EXPECT_FALSE(ScanInTwoPieces(bytes, bytes.size(), 76).found);
}

}  // namespace

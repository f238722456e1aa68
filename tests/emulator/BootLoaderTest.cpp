// The emulator's boot loader on its own: what it refuses and what it keeps.
#include "emulator/BootLoader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <numeric>

#include "tests/common/TempFolder.h"

namespace {

using emulator::BootLoader;
using Bytes = std::vector<uint8_t>;

constexpr int kPacketSize = 28;  // 8 image bytes a packet
constexpr size_t kFraming = 12;

void Put32(Bytes* out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out->push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t Sum(const Bytes& bytes) { return std::accumulate(bytes.begin(), bytes.end(), 0u); }

Bytes Information(uint32_t partition, uint32_t size, uint32_t checksum) {
    Bytes payload;
    Put32(&payload, partition);
    Put32(&payload, size);
    Put32(&payload, checksum);
    return payload;
}

Bytes Packet(uint32_t index, const Bytes& data, uint32_t checksumDelta = 0) {
    Bytes payload;
    Put32(&payload, index);
    Put32(&payload, Sum(data) + checksumDelta);
    payload.insert(payload.end(), data.begin(), data.end());
    return payload;
}

emulator::BootAnswer Send(BootLoader& loader, const Bytes& packet) {
    return loader.ImagePacket(packet, packet.size() + kFraming);
}

// A 10-byte image: one full packet of 8 and a last one of 2 + 2 padding.
const Bytes kImage = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
const Bytes kFirst(kImage.begin(), kImage.begin() + 8);
const Bytes kLast = {9, 10, 0xFF, 0xFF};
const uint32_t kChecksum = Sum(kImage) + 2 * 255;

TEST(BootLoader, KeepsACheckedImageAndWritesItToTheFolder) {
    TempFolder folder;
    BootLoader loader(0x3, kPacketSize, -1, folder.Path());
    const auto answer = loader.ImageInformation(Information(2, 10, kChecksum));
    EXPECT_EQ(answer.status, 0);
    EXPECT_EQ(answer.value, static_cast<uint32_t>(kPacketSize));
    EXPECT_EQ(Send(loader, Packet(0, kFirst)).status, 0);
    EXPECT_EQ(loader.Confirmation().status, 1);  // not whole yet
    EXPECT_EQ(Send(loader, Packet(1, kLast)).status, 0);
    EXPECT_EQ(loader.Image(2), kImage);
    const emulator::BootConfirmation held = loader.Confirmation();
    EXPECT_EQ(held.status, 0);
    EXPECT_EQ(held.size, 10u);
    EXPECT_EQ(held.checksum, kChecksum);
    std::ifstream file(folder.File("App1.bin"), std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(file), {}), kImage);
}

TEST(BootLoader, RefusesWhatDoesNotFitTheImageInformation) {
    BootLoader loader(0x3, kPacketSize, -1, "");
    EXPECT_EQ(Send(loader, Packet(0, kFirst)).value, emulator::kRefusedNoImage);
    EXPECT_EQ(loader.ImageInformation(Information(4, 10, kChecksum)).value,
              emulator::kRefusedPartition);
    EXPECT_EQ(loader.ImageInformation(Information(3, 10, kChecksum)).value,
              emulator::kRefusedPartition);  // two partitions at once
    EXPECT_EQ(loader.ImageInformation(Bytes(11)).value, emulator::kRefusedLength);

    const auto restart = [&] {
        ASSERT_EQ(loader.ImageInformation(Information(1, 10, kChecksum)).status, 0);
    };
    restart();
    EXPECT_EQ(Send(loader, Packet(1, kFirst)).value, emulator::kRefusedIndex);
    restart();
    EXPECT_EQ(Send(loader, Packet(0, kFirst, 1)).value, emulator::kRefusedPacketChecksum);
    restart();
    EXPECT_EQ(Send(loader, Packet(0, Bytes(kFirst.begin(), kFirst.begin() + 7))).value,
              emulator::kRefusedLength);  // short, but not the last
    restart();
    EXPECT_EQ(Send(loader, Packet(0, kFirst)).status, 0);
    EXPECT_EQ(Send(loader, Packet(1, {9, 10, 0xFF})).value, emulator::kRefusedLength);

    ASSERT_EQ(loader.ImageInformation(Information(1, 10, kChecksum + 1)).status, 0);
    EXPECT_EQ(Send(loader, Packet(0, kFirst)).status, 0);
    EXPECT_EQ(Send(loader, Packet(1, kLast)).value, emulator::kRefusedImageChecksum);
    EXPECT_TRUE(loader.Image(1).empty());
}

TEST(BootLoader, RefusesTheChosenPacketAndAPacketAboveItsSize) {
    BootLoader loader(0x1, kPacketSize, 1, "");
    ASSERT_EQ(loader.ImageInformation(Information(1, 10, kChecksum)).status, 0);
    EXPECT_EQ(loader.ImagePacket(Packet(0, kFirst), kPacketSize + 1).value,
              emulator::kRefusedLength);
    ASSERT_EQ(loader.ImageInformation(Information(1, 10, kChecksum)).status, 0);
    EXPECT_EQ(Send(loader, Packet(0, kFirst)).status, 0);
    EXPECT_EQ(Send(loader, Packet(1, kLast)).value, emulator::kRefusedOnPurpose);
}

}  // namespace

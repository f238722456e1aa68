#include "BootLoader.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

#include "device/RadarProtocol.h"

namespace emulator {

namespace rp = radar_protocol;

namespace {

uint32_t GetU32(const uint8_t* data) {
    return static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8) |
           (static_cast<uint32_t>(data[2]) << 16) | (static_cast<uint32_t>(data[3]) << 24);
}

uint32_t ByteSum(const uint8_t* data, size_t size) {
    return std::accumulate(data, data + size, uint32_t{0},
                           [](uint32_t sum, uint8_t byte) { return sum + byte; });
}

bool SingleBit(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

size_t PaddingCount(size_t size) {
    const size_t align = rp::kBootImageAlignment;
    return (align - size % align) % align;
}

// The image checksum: the byte sum of the image padded with 0xFF to the
// alignment, whether or not that padding travelled.
uint32_t ImageChecksum(const std::vector<uint8_t>& image) {
    return ByteSum(image.data(), image.size()) +
           rp::kBootPadByte * static_cast<uint32_t>(PaddingCount(image.size()));
}

}  // namespace

std::string BootImageFileName(uint32_t partition) {
    if (partition == rp::kPartitionApp0) return "App0.bin";
    if (partition == rp::kPartitionApp1) return "App1.bin";
    return "partition-" + std::to_string(partition) + ".bin";
}

BootLoader::BootLoader(uint32_t partitionMask, int packetSize, int64_t refusedPacket,
                       std::string imageFolder)
    : m_partitionMask(partitionMask),
      m_packetSize(packetSize),
      m_refusedPacket(refusedPacket),
      m_imageFolder(std::move(imageFolder)) {}

bool BootLoader::PartitionPresent(uint32_t partition) const {
    return SingleBit(partition) && (m_partitionMask & partition) != 0;
}

// Every packet carries a whole chunk of image bytes but the last, which
// carries the rest; only a last packet shorter than a chunk is padded, by as
// many 0xFF bytes as bring the image to a multiple of the alignment.
size_t BootLoader::ExpectedPacketBytes() const {
    const size_t chunk = static_cast<size_t>(m_packetSize - rp::kBootPacketOverhead);
    const size_t remaining = m_size - m_received.size();
    if (remaining >= chunk) return chunk;
    return remaining + PaddingCount(m_size);
}

BootAnswer BootLoader::Refuse(uint32_t why) {
    // A refused download starts again with its image information.
    m_receiving = false;
    return {rp::kBootStatusRefused, why};
}

BootAnswer BootLoader::ImageInformation(const std::vector<uint8_t>& payload) {
    if (payload.size() != rp::kBootImageInfoBytes) return Refuse(kRefusedLength);
    const uint32_t partition = GetU32(&payload[0]);
    if (!PartitionPresent(partition)) return Refuse(kRefusedPartition);
    m_partition = partition;
    m_size = GetU32(&payload[4]);
    m_checksum = GetU32(&payload[8]);
    m_nextIndex = 0;
    m_complete = false;
    m_received.clear();
    m_packets.clear();
    m_receiving = true;
    return {rp::kBootStatusOk, static_cast<uint32_t>(m_packetSize) & 0xFFFF};
}

BootAnswer BootLoader::ImagePacket(const std::vector<uint8_t>& payload, size_t frameBytes) {
    if (!m_receiving) return {rp::kBootStatusRefused, kRefusedNoImage};
    if (payload.size() < static_cast<size_t>(rp::kBootPacketHeaderBytes)) {
        return Refuse(kRefusedLength);
    }
    const uint32_t index = GetU32(&payload[0]);
    if (index != m_nextIndex) return Refuse(kRefusedIndex);
    if (m_refusedPacket >= 0 && index == static_cast<uint64_t>(m_refusedPacket)) {
        return Refuse(kRefusedOnPurpose);
    }
    const uint8_t* data = payload.data() + rp::kBootPacketHeaderBytes;
    const size_t count = payload.size() - rp::kBootPacketHeaderBytes;
    const size_t expected = ExpectedPacketBytes();
    // Only the padded last packet may run past the packet size.
    const size_t largestFrame =
        std::max(static_cast<size_t>(m_packetSize), expected + rp::kBootPacketOverhead);
    if (count != expected || frameBytes > largestFrame) return Refuse(kRefusedLength);
    if (ByteSum(data, count) != GetU32(&payload[4])) return Refuse(kRefusedPacketChecksum);
    const size_t imageBytes = std::min(count, m_size - m_received.size());
    const bool last = m_received.size() + imageBytes == m_size;
    m_packets.push_back({index, count});
    ++m_nextIndex;
    if (last && m_losesLastPacket) {
        m_receiving = false;
        return {rp::kBootStatusOk, index};
    }
    m_received.insert(m_received.end(), data, data + imageBytes);
    if (last) return FinishImage(index);
    return {rp::kBootStatusOk, index};
}

BootAnswer BootLoader::FinishImage(uint32_t lastIndex) {
    m_receiving = false;
    if (ImageChecksum(m_received) != m_checksum) {
        return {rp::kBootStatusRefused, kRefusedImageChecksum};
    }
    WriteImageFile(m_partition, m_received);
    m_images[m_partition] = m_received;
    m_complete = true;
    return {rp::kBootStatusOk, lastIndex};
}

// What the latest download left: the image bytes kept of it (all of them
// once it is complete) and their checksum as this side computes it.
BootConfirmation BootLoader::Confirmation() const {
    const uint16_t status = m_complete ? rp::kBootStatusOk : rp::kBootStatusRefused;
    return {status, static_cast<uint32_t>(m_received.size()), ImageChecksum(m_received)};
}

void BootLoader::WriteImageFile(uint32_t partition, const std::vector<uint8_t>& image) const {
    if (m_imageFolder.empty()) return;
    const std::string path = m_imageFolder + "/" + BootImageFileName(partition);
    const std::string partial = path + ".part";
    // Written beside and renamed, so that a reader never sees half an image.
    FILE* file = std::fopen(partial.c_str(), "wb");
    if (!file) return;
    const bool written = std::fwrite(image.data(), 1, image.size(), file) == image.size();
    if (std::fclose(file) == 0 && written) std::rename(partial.c_str(), path.c_str());
}

std::vector<uint8_t> BootLoader::Image(uint32_t partition) const {
    const auto found = m_images.find(partition);
    return found == m_images.end() ? std::vector<uint8_t>{} : found->second;
}

}  // namespace emulator

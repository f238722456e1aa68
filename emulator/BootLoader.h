// The module's boot loader as the emulator plays it: it takes the image
// information, then the image's packets one after another, checks each, and
// keeps a complete image per partition (written to a folder when one is
// given, so that a test can compare it with the file that was sent). Asked
// afterwards, it tells the size and checksum of what the download left.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace emulator {

// What the boot loader answers: its status (0 = accepted) and a value.
struct BootAnswer {
    uint16_t status = 0;
    uint32_t value = 0;
};

// Why a packet or an image was refused: the value of the refusing answer.
enum BootRefusal : uint32_t {
    kRefusedNoImage = 1,         // a packet without image information first
    kRefusedPartition = 2,       // image information for a partition that is not there
    kRefusedLength = 3,          // a payload of the wrong length
    kRefusedIndex = 4,           // a packet out of order
    kRefusedPacketChecksum = 5,  // a packet whose checksum does not match its bytes
    kRefusedImageChecksum = 6,   // the whole padded image does not match its checksum
    kRefusedOnPurpose = 7,       // the refused-packet fault
};

// The answer to the image confirmation: whether the latest download's image
// is held whole, and the size and checksum of what was kept of it.
struct BootConfirmation {
    uint16_t status = 0;
    uint32_t size = 0;
    uint32_t checksum = 0;
};

struct BootPacketSeen {
    uint32_t index = 0;
    size_t bytes = 0;  // image bytes and padding
};

class BootLoader {
public:
    // `packetSize` is what the answer to the image information names: the
    // largest packet frame taken, framing included.
    BootLoader(uint32_t partitionMask, int packetSize, int64_t refusedPacket,
               std::string imageFolder);

    // The last packet of every image is accepted and then lost (a flash
    // write that failed without a word).
    void LoseLastPackets() { m_losesLastPacket = true; }

    BootAnswer ImageInformation(const std::vector<uint8_t>& payload);
    BootAnswer ImagePacket(const std::vector<uint8_t>& payload, size_t frameBytes);
    BootConfirmation Confirmation() const;

    // The last complete image of `partition` (empty when none came).
    std::vector<uint8_t> Image(uint32_t partition) const;
    // The image information of the latest download.
    uint32_t AnnouncedSize() const { return m_size; }
    uint32_t AnnouncedChecksum() const { return m_checksum; }
    uint32_t AnnouncedPartition() const { return m_partition; }
    // The packets taken since that image information, in order.
    const std::vector<BootPacketSeen>& Packets() const { return m_packets; }

private:
    bool PartitionPresent(uint32_t partition) const;
    size_t ExpectedPacketBytes() const;
    BootAnswer Refuse(uint32_t why);
    BootAnswer FinishImage(uint32_t lastIndex);
    void WriteImageFile(uint32_t partition, const std::vector<uint8_t>& image) const;

    const uint32_t m_partitionMask;
    const int m_packetSize;
    const int64_t m_refusedPacket;
    const std::string m_imageFolder;
    bool m_losesLastPacket = false;

    bool m_receiving = false;
    uint32_t m_partition = 0;
    uint32_t m_size = 0;
    uint32_t m_checksum = 0;
    uint32_t m_nextIndex = 0;
    bool m_complete = false;          // the latest download's image is kept whole
    std::vector<uint8_t> m_received;  // image bytes so far, without padding
    std::vector<BootPacketSeen> m_packets;
    std::map<uint32_t, std::vector<uint8_t>> m_images;
};

// The file a partition's image is written to inside the image folder:
// "App0.bin", "App1.bin", or "partition-<bit>.bin" for any other bit.
std::string BootImageFileName(uint32_t partition);

}  // namespace emulator

// The firmware transfer against the emulator's boot loader on a
// pseudo-terminal, with real image files in a temporary folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <numeric>
#include <random>

#include "device/RadarProtocol.h"
#include "emulator/BootLoader.h"
#include "emulator/ModuleEmulator.h"
#include "firmware/FirmwareTexts.h"
#include "firmware/FirmwareTransfer.h"
#include "firmware/TextFormat.h"
#include "tests/common/TempFolder.h"
#include "tests/firmware/FirmwareEventRecorder.h"

namespace {

namespace rp = radar_protocol;
using firmware::CFirmwareTransfer;
using firmware::FirmwareOperation;
using firmware::FirmwarePort;
using firmware::FirmwareResult;
using firmware::FirmwareText;

std::vector<uint8_t> RandomImage(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> image(size);
    for (uint8_t& byte : image) byte = static_cast<uint8_t>(random());
    return image;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::wstring Wide(const std::string& path) { return std::wstring(path.begin(), path.end()); }

// ---------------------------------------------------------------------------
// The pieces that need no module.

TEST(BootReplyParser, TakesSixBytesOnlyAndLeavesTheValueOtherwise) {
    const uint8_t reply[7] = {0x02, 0x00, 0x78, 0x56, 0x34, 0x12, 0xEE};
    uint32_t value = 0xCAFE;
    EXPECT_EQ(firmware::ParseBootReply(nullptr, reply, 6, &value), 2);
    EXPECT_EQ(value, 0x12345678u);

    value = 0xCAFE;
    EXPECT_EQ(firmware::ParseBootReply(nullptr, reply, 5, &value), firmware::kBootReplyLengthError);
    EXPECT_EQ(firmware::ParseBootReply(nullptr, reply, 7, &value), firmware::kBootReplyLengthError);
    EXPECT_EQ(value, 0xCAFEu);
}

TEST(TextFormat, FillsTheTablesConversionsAndShowsWhatItCannotFill) {
    EXPECT_EQ(FormatText("Checksum: 0x%08x\r\n", {int64_t{0x2F882B}}), "Checksum: 0x002f882b\r\n");
    EXPECT_EQ(FormatText("%.2f%%", {50.0}), "50.00%");
    EXPECT_EQ(FormatText("serial no.: %d, error code: %d", {int64_t{3}, int64_t{0xFFFFFFFF}}),
              "serial no.: 3, error code: -1");
    EXPECT_EQ(FormatText("Current Firmware: %s", {std::string("App0")}), "Current Firmware: App0");
    // A translation that got a conversion wrong, or has one too many, reads
    // no value that is not there.
    EXPECT_EQ(FormatText("%s %d", {int64_t{1}}), "%s %d");
    EXPECT_EQ(FormatText("%d and %d", {int64_t{1}}), "1 and %d");
    EXPECT_EQ(FormatText("%n %", {}), "%n %");
}

// The list made from a module's mask is checked against the emulator below;
// only the top bit, which no emulated module sets, is checked here.
TEST(PartitionList, ReachesTheMasksTopBit) {
    EXPECT_EQ(firmware::PartitionsFromMask(0x80000002u).back().bit, 0x80000000u);
}

// ---------------------------------------------------------------------------
// Against the emulator.

class FirmwareTransferTest : public ::testing::Test {
protected:
    void SetUp() override { device = KVEL_Interface_RadarDevice_Serial_Create(); }
    void TearDown() override {
        transfer.reset();
        KVEL_Interface_RadarDevice_Serial_Destroy(device);
    }

    // Starts a module (bytes handed over at once unless asked) and a
    // transfer on a handle of its own.
    emulator::ModuleEmulator& StartModule(emulator::Options options) {
        options.resetDelay = std::chrono::milliseconds(20);
        modules.push_back(std::make_unique<emulator::ModuleEmulator>(options));
        std::string error;
        EXPECT_TRUE(modules.back()->Start(&error)) << error;
        if (!transfer) {
            transfer = std::make_unique<CFirmwareTransfer>(device, output);
            transfer->SetResetWait(std::chrono::milliseconds(200));
        }
        return *modules.back();
    }
    static emulator::Options Fast(uint32_t runningMode = rp::kRunningModeBootLoader) {
        emulator::Options options;
        options.realTiming = false;
        options.runningMode = runningMode;
        return options;
    }
    FirmwarePort PortOf(const emulator::ModuleEmulator& module) const {
        return {true, module.PortNumber(), baud};
    }
    FirmwareResult Query(const emulator::ModuleEmulator& module) {
        return transfer->Run(FirmwareOperation::Query, PortOf(module), L"");
    }
    FirmwareResult Download(const emulator::ModuleEmulator& module,
                            const std::vector<uint8_t>& image) {
        const std::string path = folder.File("image.bin");
        WriteFile(path, image);
        return transfer->Run(FirmwareOperation::Download, PortOf(module), Wide(path));
    }
    TempFolder folder;
    int baud = 115200;  // the modules' line speed
    KVEL_RADAR_HANDLE device = nullptr;
    FirmwareEventRecorder output;
    std::vector<std::unique_ptr<emulator::ModuleEmulator>> modules;
    std::unique_ptr<CFirmwareTransfer> transfer;
};

// Without a port, or with one that cannot be opened, nothing is sent.
TEST_F(FirmwareTransferTest, WithoutAUsablePortNothingIsSent) {
    emulator::ModuleEmulator& module = StartModule(Fast());
    EXPECT_EQ(transfer->Run(FirmwareOperation::Query, FirmwarePort{}, L""), FirmwareResult::NoPort);
    EXPECT_EQ(transfer->Run(FirmwareOperation::Download, FirmwarePort{}, L""),
              FirmwareResult::NoPort);
    const std::string noPort = FirmwareText(firmware::kTextNoPort);
    EXPECT_EQ(output.Texts("message"), (std::vector<std::string>{noPort, noPort}));
    EXPECT_EQ(output.Texts("log").size(), 0u);
    EXPECT_EQ(module.CommandsAnswered(), 0u);
    EXPECT_EQ(KVEL_Interface_RadarDevice_IsConnected(device), 0);
    EXPECT_EQ(transfer->ErrorText(), "Port No. cannot be NULL!");

    EXPECT_EQ(transfer->Run(FirmwareOperation::Query, FirmwarePort{true, 9999, 115200}, L""),
              FirmwareResult::OpenFailed);
    EXPECT_EQ(output.Texts("message"),
              (std::vector<std::string>{noPort, noPort, FirmwareText(firmware::kTextOpenFailed)}));
}

TEST_F(FirmwareTransferTest, DownloadChecksPartitionAndImageBeforeSendingAnything) {
    emulator::ModuleEmulator& module = StartModule(Fast());
    // Never queried: no partition.
    EXPECT_EQ(Download(module, RandomImage(10, 1)), FirmwareResult::NoPartition);
    EXPECT_EQ(output.LastText("message"), FirmwareText(firmware::kTextNoPartition));
    EXPECT_EQ(KVEL_Interface_RadarDevice_IsConnected(device), 0);

    transfer->SetSelectedPartition(rp::kPartitionApp0);
    EXPECT_EQ(Download(module, {}), FirmwareResult::BadImage);
    EXPECT_EQ(output.LastText("message"), FirmwareText(firmware::kTextBadImage));
    EXPECT_EQ(transfer->Run(FirmwareOperation::Download, PortOf(module), Wide(folder.File("none"))),
              FirmwareResult::BadImage);
    EXPECT_EQ(module.CommandsAnswered(), 0u);
    EXPECT_EQ(module.SoftwareResets(), 0u);
    EXPECT_EQ(KVEL_Interface_RadarDevice_IsConnected(device), 0);
    EXPECT_EQ(output.LastText("busy"), "0");
}

// Query in the boot loader stays in command mode; the downloads after it send
// no reset.
TEST_F(FirmwareTransferTest, QueryInTheBootLoaderThenDownloadsWithoutReset) {
    emulator::Options options = Fast();
    options.packetSize = 120;  // 100 image bytes a packet
    options.deviceId = 0xABC123;
    emulator::ModuleEmulator& module = StartModule(options);

    ASSERT_EQ(Query(module), FirmwareResult::Done);
    EXPECT_TRUE(transfer->InBootLoader());
    EXPECT_EQ(output.LastText("mode"), "Current Firmware: BootLoader");
    EXPECT_EQ(output.LastText("id"), "Device ID: 0xabc123\r\n");
    EXPECT_EQ(output.Texts("log"), (std::vector<std::string>{"Obtaining firmware information\r\n",
                                                             "Device ID: 0xabc123\r\n"}));
    EXPECT_EQ(output.LastText("partitions"), "App0=1;App1=2;");
    EXPECT_EQ(transfer->SelectedPartition(), rp::kPartitionApp0);
    EXPECT_TRUE(module.InCommandMode());
    EXPECT_EQ(KVEL_Interface_RadarDevice_IsConnected(device), 0);

    const std::vector<uint8_t> image = RandomImage(1001, 3);
    ASSERT_EQ(Download(module, image), FirmwareResult::Done) << transfer->ErrorText();
    EXPECT_EQ(module.SoftwareResets(), 0u);
    const emulator::BootImageInfo sent = module.LatestDownload();
    EXPECT_EQ(sent.partition, rp::kPartitionApp0);
    EXPECT_EQ(sent.size, 1001u);
    EXPECT_EQ(sent.checksum, std::accumulate(image.begin(), image.end(), 0u) + 3 * 255u);
    std::vector<size_t> packets(10, 100);
    packets.push_back(4);  // 1 image byte and 3 padding bytes
    EXPECT_EQ(sent.packetBytes, packets);
    EXPECT_EQ(module.BootImage(rp::kPartitionApp0), image);

    EXPECT_EQ(output.LastText("size"), "Size of bin file: 1001 byte\r\n");
    char checksum[32];
    std::snprintf(checksum, sizeof checksum, "Checksum: 0x%08x\r\n", sent.checksum);
    EXPECT_EQ(output.LastText("checksum"), checksum);
    const auto progress = output.Texts("progress");
    ASSERT_EQ(progress.size(), 12u);
    EXPECT_EQ(progress.front(), "Download Progress: 0.00%\r\n");
    EXPECT_EQ(progress[1], "Download Progress: 9.99%\r\n");
    EXPECT_EQ(progress.back(), "Download Progress: 100.00%\r\n");
    EXPECT_EQ(output.LastText("sent"), "1001/1001");
    EXPECT_EQ(output.Texts("busy"), (std::vector<std::string>{"1", "0"}));
    EXPECT_EQ(output.LastText("log"), "Download successful! \r\n");
    EXPECT_EQ(transfer->ErrorText(), "");

    // An image of whole chunks ends with a full packet and no padding.
    const std::vector<uint8_t> whole = RandomImage(200, 4);
    ASSERT_EQ(Download(module, whole), FirmwareResult::Done) << transfer->ErrorText();
    EXPECT_EQ(module.LatestDownload().packetBytes, (std::vector<size_t>{100, 100}));
    EXPECT_EQ(module.LatestDownload().checksum, std::accumulate(whole.begin(), whole.end(), 0u));
    EXPECT_EQ(output.Texts("progress")[progress.size() + 1], "Download Progress: 50.00%\r\n");
    EXPECT_EQ(module.BootImage(rp::kPartitionApp0), whole);
}

// The whole way a user goes: an application runs, the download resets the
// module into its boot loader on the "Download" thread, and the image lands
// in the emulator's image folder byte for byte.
TEST_F(FirmwareTransferTest, FullDownloadFromAnApplicationLandsByteForByte) {
    TempFolder images;
    emulator::Options options = Fast(rp::kRunningModeApp0);
    options.imageFolder = images.Path();
    emulator::ModuleEmulator& module = StartModule(options);
    ASSERT_EQ(Query(module), FirmwareResult::Done);
    EXPECT_FALSE(transfer->InBootLoader());
    EXPECT_FALSE(module.InCommandMode());
    EXPECT_EQ(output.LastText("mode"), "Current Firmware: App0");

    transfer->SetSelectedPartition(rp::kPartitionApp1);
    const std::vector<uint8_t> image = RandomImage(50 * 1024 + 3, 5);
    const std::string path = folder.File("firmware.bin");
    WriteFile(path, image);
    ASSERT_TRUE(transfer->Start(FirmwareOperation::Download, PortOf(module), Wide(path)));
    ASSERT_TRUE(output.WaitFor("finished", 2, 30000));
    EXPECT_EQ(transfer->ErrorText(), "");
    EXPECT_EQ(module.SoftwareResets(), 1u);
    EXPECT_EQ(module.RunningMode(), rp::kRunningModeBootLoader);
    EXPECT_EQ(ReadFile(images.File("App1.bin")), image);
    EXPECT_EQ(transfer->BytesSent(), image.size());
    // Only a query changes the flag: the next download resets again.
    EXPECT_FALSE(transfer->InBootLoader());
    ASSERT_EQ(Download(module, image), FirmwareResult::Done) << transfer->ErrorText();
    EXPECT_EQ(module.SoftwareResets(), 2u);
}

TEST_F(FirmwareTransferTest, ResetThatDoesNotReachTheBootLoaderFailsTheDownload) {
    emulator::Options options = Fast(rp::kRunningModeApp0);
    options.faults = {emulator::Fault::SilentBootLoader};
    emulator::ModuleEmulator& module = StartModule(options);
    transfer->SetSelectedPartition(rp::kPartitionApp0);
    EXPECT_EQ(Download(module, RandomImage(64, 6)), FirmwareResult::NoAnswer);
    EXPECT_EQ(output.LastText("log"), "Software-Reset Failed!\r\n");
    EXPECT_EQ(module.LatestDownload().size, 0u);
    EXPECT_EQ(KVEL_Interface_RadarDevice_IsConnected(device), 0);
}

// Every packet size a boot loader may name, with images that end just short
// of, on and just past a chunk (a padded last packet may run past the packet
// size): the module confirms each image whole.
TEST_F(FirmwareTransferTest, EveryPacketSizeEndsWithTheModuleHoldingTheImage) {
    for (const int packetSize : {21, 23, 24, 25, 120, 4095, 4096}) {
        emulator::Options options = Fast();
        options.packetSize = packetSize;
        emulator::ModuleEmulator& module = StartModule(options);
        ASSERT_EQ(Query(module), FirmwareResult::Done);
        const size_t chunk = static_cast<size_t>(packetSize - rp::kBootPacketOverhead);
        for (const size_t size :
             {chunk - 1, chunk, chunk + 1, 2 * chunk - 1, size_t{1001}, size_t{1002}}) {
            if (size == 0) continue;
            const std::vector<uint8_t> image = RandomImage(size, static_cast<uint32_t>(size));
            ASSERT_EQ(Download(module, image), FirmwareResult::Done)
                << packetSize << "/" << size << ": " << transfer->ErrorText();
            EXPECT_EQ(module.BootImage(rp::kPartitionApp0), image) << packetSize << "/" << size;
            EXPECT_EQ(output.LastText("log"), "Download successful! \r\n");
        }
    }
}

// At 1200 baud a packet of 900 image bytes is 7.7 s on the wire: the reply
// wait grows with it.
TEST_F(FirmwareTransferTest, SlowLineGivesEachPacketItsOwnLineTime) {
    emulator::Options options = Fast();
    options.realTiming = true;
    options.baudRate = baud = 1200;
    options.packetSize = 1024;
    emulator::ModuleEmulator& module = StartModule(options);
    ASSERT_EQ(Query(module), FirmwareResult::Done);
    const std::vector<uint8_t> image = RandomImage(900, 13);
    ASSERT_EQ(Download(module, image), FirmwareResult::Done) << transfer->ErrorText();
    EXPECT_EQ(module.BootImage(rp::kPartitionApp0), image);
}

TEST_F(FirmwareTransferTest, PacketSizeOf20StopsAfterTheImageInformation) {
    emulator::Options options = Fast();
    options.faults = {emulator::Fault::SmallPackets};
    emulator::ModuleEmulator& module = StartModule(options);
    ASSERT_EQ(Query(module), FirmwareResult::Done);
    EXPECT_EQ(Download(module, RandomImage(300, 8)), FirmwareResult::Refused);
    EXPECT_EQ(output.LastText("log"), "Each pack must be more than 20 byte\r\n");
    EXPECT_EQ(module.LatestDownload().size, 300u);
    EXPECT_TRUE(module.LatestDownload().packetBytes.empty());
    EXPECT_EQ(output.LastText("busy"), "0");
}

TEST_F(FirmwareTransferTest, RefusedPacketReportsItsIndexAndTheRepliesValue) {
    emulator::Options options = Fast();
    options.packetSize = 120;
    options.refusedPacket = 3;
    emulator::ModuleEmulator& module = StartModule(options);
    ASSERT_EQ(Query(module), FirmwareResult::Done);
    EXPECT_EQ(Download(module, RandomImage(1001, 9)), FirmwareResult::Refused);
    EXPECT_EQ(output.LastText("log"), "Failed to download, serial no.: 3, error code: " +
                                          std::to_string(emulator::kRefusedOnPurpose) + "\r\n");
    EXPECT_EQ(module.LatestDownload().packetBytes.size(), 3u);
    EXPECT_TRUE(module.BootImage(rp::kPartitionApp0).empty());
    EXPECT_EQ(output.LastText("sent"), "300/1001");
}

TEST_F(FirmwareTransferTest, PartitionMasksFillOrEmptyTheList) {
    emulator::Options options = Fast();
    options.partitionMask = 0x5;
    ASSERT_EQ(Query(StartModule(options)), FirmwareResult::Done);
    EXPECT_EQ(output.LastText("partitions"), "App0=1;Unknown=4;");
    EXPECT_EQ(transfer->SelectedPartition(), 1u);

    options.partitionMask = 0;
    ASSERT_EQ(Query(StartModule(options)), FirmwareResult::Done);
    EXPECT_EQ(output.LastText("partitions"), "");
    EXPECT_EQ(transfer->SelectedPartition(), 0u);
}

// A module whose replies are a byte short: the parser refuses them, the
// running mode shows "Unknown", nothing more is asked and the flag from the
// last good query stays.
TEST_F(FirmwareTransferTest, FailedModeQueryKeepsTheFlagAndAsksNothingMore) {
    ASSERT_EQ(Query(StartModule(Fast())), FirmwareResult::Done);
    ASSERT_TRUE(transfer->InBootLoader());
    const size_t partitionLists = output.Texts("partitions").size();

    emulator::Options options = Fast(rp::kRunningModeApp0);
    options.faults = {emulator::Fault::ShortBootReplies};
    emulator::ModuleEmulator& module = StartModule(options);
    EXPECT_EQ(Query(module), FirmwareResult::NoAnswer);
    EXPECT_EQ(output.LastText("log"), "Failed to obtain operation mode!\r\n");
    EXPECT_EQ(output.LastText("mode"), "Current Firmware: Unknown");
    EXPECT_TRUE(transfer->InBootLoader());
    EXPECT_EQ(output.Texts("partitions").size(), partitionLists);
    EXPECT_EQ(module.CommandsAnswered(), 2u);  // command mode and the running mode
}

// The error code is the value of the refusing reply; without a reply the
// parser took, it is 0, not the value of an earlier one.
TEST_F(FirmwareTransferTest, ErrorCodesAreTheValueOfTheFailingReply) {
    emulator::Options options = Fast();
    options.partitionMask = 0x3;
    emulator::ModuleEmulator& module = StartModule(options);
    ASSERT_EQ(Query(module), FirmwareResult::Done);
    transfer->SetSelectedPartition(0x8);  // chosen, but not one the boot loader has
    EXPECT_EQ(Download(module, RandomImage(40, 10)), FirmwareResult::Refused);
    EXPECT_EQ(output.LastText("log"), "Failed to send bin file information, error code: " +
                                          std::to_string(emulator::kRefusedPartition) + "\r\n");

    options.faults = {emulator::Fault::ShortBootReplies};
    emulator::ModuleEmulator& shortReplies = StartModule(options);
    EXPECT_EQ(Download(shortReplies, RandomImage(40, 10)), FirmwareResult::NoAnswer);
    EXPECT_EQ(output.LastText("log"), "Failed to send bin file information, error code: 0\r\n");
    EXPECT_EQ(KVEL_Interface_RadarDevice_IsConnected(device), 0);
}

// Whoever hears that an operation ended may start the next one at once,
// though the thread may not have returned yet.
TEST_F(FirmwareTransferTest, NextOperationStartsAsSoonAsTheLastHasToldItsEnd) {
    emulator::ModuleEmulator& module = StartModule(Fast());
    for (size_t run = 1; run <= 20; ++run) {
        ASSERT_TRUE(transfer->Start(FirmwareOperation::Query, PortOf(module), L"")) << run;
        ASSERT_TRUE(output.WaitFor("finished", run, 10000));
    }
    EXPECT_EQ(output.Texts("mode").size(), 20u);
}

TEST_F(FirmwareTransferTest, StopEndsADownloadBetweenPackets) {
    emulator::Options options = Fast();
    options.realTiming = true;  // slow enough to stop in the middle
    options.packetSize = 120;
    emulator::ModuleEmulator& module = StartModule(options);
    ASSERT_EQ(Query(module), FirmwareResult::Done);
    const std::string path = folder.File("big.bin");
    WriteFile(path, RandomImage(200 * 1000, 11));
    ASSERT_TRUE(transfer->Start(FirmwareOperation::Download, PortOf(module), Wide(path)));
    // Progress 0, then the first packet's.
    ASSERT_TRUE(output.WaitFor("sent", 2, 10000));
    transfer->Stop();
    EXPECT_FALSE(transfer->IsRunning());
    EXPECT_EQ(transfer->ErrorText(), "stopped");
    EXPECT_LT(transfer->BytesSent(), 200u * 1000u);
    EXPECT_EQ(KVEL_Interface_RadarDevice_IsConnected(device), 0);
    EXPECT_EQ(output.LastText("busy"), "0");
}

}  // namespace

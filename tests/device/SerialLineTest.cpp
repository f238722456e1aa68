// The library against a module played by hand on a pseudo-terminal.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>

#include <atomic>
#include <thread>

#include "PtyModule.h"
#include "device/KVEL_DataProcess.h"
#include "device/SerialLine.h"

namespace {

using namespace device_test;
using Clock = std::chrono::steady_clock;

// A text reply's payload holding the whole text: its length, then the text.
std::vector<uint8_t> Text(const std::string& s) {
    std::vector<uint8_t> page;
    PutU16(page, static_cast<unsigned>(s.size()));
    page.insert(page.end(), s.begin(), s.end());
    return page;
}

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

class SerialLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(module.Ready());
        device = KVEL_Interface_RadarDevice_Serial_Create();
    }
    void TearDown() override { KVEL_Interface_RadarDevice_Serial_Destroy(device); }

    // The firmware form: only opens the line.
    bool OpenPlain(int baud = 115200) {
        return KVEL_Interface_RadarDevice_Serial_OpenByPortNum(device, module.Port(), baud, 2, 0, 0,
                                                               0, 50) != 0;
    }

    PtyModule module;
    KVEL_RADAR_HANDLE device = nullptr;
};

TEST_F(SerialLineTest, ConnectFormEntersCommandModeAndTakesTheFrameSize) {
    std::jthread play([&] {
        Command enter = module.NextCommand();
        EXPECT_EQ(enter.code, rp::kCmdEnterCommandMode);
        std::vector<uint8_t> version;
        PutU16(version, 1);
        module.Write(ReplyTo(enter, 0, version));
        Command size = module.NextCommand();
        EXPECT_EQ(size.code, rp::kCmdGetMaxFrameSize);
        std::vector<uint8_t> bytes;
        PutU16(bytes, 128);
        module.Write(ReplyTo(size, 0, bytes));
    });
    ASSERT_TRUE(KVEL_Interface_RadarDevice_Serial_OpenByPortNum(device, module.Port(), 115200, 2, 1,
                                                                1, 1, 150));
    play.join();
    EXPECT_EQ(KVEL_Interface_RadarDevice_Protocol_GetWriteBufferMaxSize(device), 128);
    EXPECT_TRUE(KVEL_Interface_RadarDevice_IsConnected(device));
}

TEST_F(SerialLineTest, SilentModuleDoesNotFailTheOpenAndKeepsTheDefaultFrameSize) {
    const auto start = Clock::now();
    ASSERT_TRUE(KVEL_Interface_RadarDevice_Serial_OpenByPortNum(device, module.Port(), 115200, 2, 1,
                                                                1, 1, 50));
    // Two tries of each handshake, 50 ms each (and a little line time).
    EXPECT_LT(MsSince(start), 1500);
    EXPECT_EQ(KVEL_Interface_RadarDevice_Protocol_GetWriteBufferMaxSize(device),
              rp::kDefaultMaxFrameSize);
}

TEST_F(SerialLineTest, ReplyIsPickedOutOfReportsGarbageLateRepliesAndOtherCodes) {
    ASSERT_TRUE(OpenPlain());
    std::jthread play([&] {
        Command c = module.NextCommand();
        ASSERT_EQ(c.code, rp::kCmdGetVersion);
        module.Write({0x00, 0x5A, 0xA5, 0x11, 0xFF});  // stray bytes, a broken header
        module.Write(ReportFrame(rp::kObjectReportPayload));
        module.Write(ReplyFrame(c.code, (c.sequence + 15) % 16, 0, Text("late")));
        module.Write(ReplyFrame(rp::kCmdGetSerialNumber, c.sequence, 0, Text("other code")));
        // A header look-alike whose length no frame can have.
        module.Write({0x5A, 0xA5, 0x3C, 0xC3, 0xFF, 0x7F, 0x03, 0x00});
        // And one of a plausible length whose frame, completed by the real
        // reply's first bytes, fails its checksum.
        module.Write({0x5A, 0xA5, 0x3C, 0xC3, 0x04, 0x00});
        module.Write(ReplyTo(c, 0, Text("V9.8")));
    });
    CBaseStringA version;
    ASSERT_TRUE(KVEL_Interface_RadarDevice_GetVersion(device, &version));
    EXPECT_STREQ(version.GetString(), "V9.8");
}

TEST_F(SerialLineTest, ReplyArrivingInPiecesIsAssembled) {
    ASSERT_TRUE(OpenPlain());
    std::jthread play([&] {
        Command c = module.NextCommand();
        const std::vector<uint8_t> frame = ReplyTo(c, 0, Text("SN-1"));
        for (uint8_t b : frame) {
            module.Write({b});
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    CBaseStringA serial;
    ASSERT_TRUE(KVEL_Interface_RadarDevice_GetSerialNumber(device, &serial));
    EXPECT_STREQ(serial.GetString(), "SN-1");
}

TEST_F(SerialLineTest, SequenceNumbersGoRoundAndEachReplyMatchesItsCommand) {
    ASSERT_TRUE(OpenPlain());
    std::vector<int> sequences;
    std::jthread play([&] {
        for (int i = 0; i < 20; ++i) {
            Command c = module.NextCommand();
            sequences.push_back(c.sequence);
            std::vector<uint8_t> values;
            PutU32(values, static_cast<uint32_t>(1000 + i));
            module.Write(ReplyTo(c, 0, values));
        }
    });
    for (int i = 0; i < 20; ++i) {
        const uint16_t id = rp::kParamGateMax;
        uint32_t value = 0;
        ASSERT_TRUE(
            KVEL_Interface_RadarDevice_Protocol_GetParameter(device, 8, 1, &id, &value, 500));
        EXPECT_EQ(value, static_cast<uint32_t>(1000 + i));
    }
    play.join();
    ASSERT_EQ(sequences.size(), 20u);
    for (size_t i = 1; i < sequences.size(); ++i)
        EXPECT_EQ(sequences[i], (sequences[i - 1] + 1) % 16);
}

TEST_F(SerialLineTest, FailingStatusIsAFailure) {
    ASSERT_TRUE(OpenPlain());
    std::jthread play([&] {
        for (int i = 0; i < 3; ++i) module.Write(ReplyTo(module.NextCommand(), rp::kStatusRefused));
    });
    const uint16_t id = rp::kParamAbsenceDelay;
    const uint32_t value = 5;
    EXPECT_FALSE(KVEL_Interface_RadarDevice_Protocol_SetParameter(device, 7, 1, &id, &value, 500));
    EXPECT_FALSE(KVEL_Interface_RadarDevice_Protocol_SetDataTransferMode(device));
    EXPECT_EQ(KVEL_Interface_RadarDevice_Protocol_SendCommand(device, 0x70, nullptr, 0, nullptr,
                                                              nullptr, 500),
              KVEL_SEND_REFUSED);
}

TEST_F(SerialLineTest, ModeCommandsSendTheOperatingModeSetting) {
    ASSERT_TRUE(OpenPlain());
    std::vector<Command> seen;
    std::jthread play([&] {
        for (int i = 0; i < 2; ++i) {
            seen.push_back(module.NextCommand());
            module.Write(ReplyTo(seen.back()));
        }
    });
    EXPECT_TRUE(KVEL_Interface_RadarDevice_Protocol_SetDataTransferMode(device));
    EXPECT_TRUE(KVEL_Interface_RadarDevice_Protocol_SetABDMode(device));
    play.join();
    ASSERT_EQ(seen.size(), 2u);
    std::vector<uint8_t> transfer, abd;
    PutU16(transfer, 0);
    PutU32(transfer, 101);
    PutU16(abd, 0);
    PutU32(abd, 102);
    EXPECT_EQ(seen[0].code, 0x12);
    EXPECT_EQ(seen[0].payload, transfer);
    EXPECT_EQ(seen[1].payload, abd);
}

TEST_F(SerialLineTest, ReplyTimeoutFailsWithinRoughlyTheTimeout) {
    ASSERT_TRUE(OpenPlain());
    const uint16_t id = 1;
    uint32_t value = 77;
    auto start = Clock::now();
    EXPECT_FALSE(KVEL_Interface_RadarDevice_Protocol_GetParameter(device, 8, 1, &id, &value, 300));
    EXPECT_GE(MsSince(start), 280);
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_EQ(value, 77u);  // nothing filled

    start = Clock::now();
    EXPECT_EQ(KVEL_Interface_RadarDevice_Protocol_SendCommand(device, 0x70, nullptr, 0, nullptr,
                                                              nullptr, 200),
              KVEL_SEND_TIMEOUT);
    EXPECT_LT(MsSince(start), 900);
}

TEST_F(SerialLineTest, WrongReplyLengthOfAParameterReadFails) {
    ASSERT_TRUE(OpenPlain());
    std::jthread play([&] {
        Command c = module.NextCommand();
        std::vector<uint8_t> one;
        PutU32(one, 9);
        module.Write(ReplyTo(c, 0, one));  // one value for two asked
    });
    const uint16_t ids[2] = {1, 4};
    uint32_t values[2] = {0, 0};
    EXPECT_FALSE(KVEL_Interface_RadarDevice_Protocol_GetParameter(device, 8, 2, ids, values, 500));
}

uint16_t CaptureReply(void* reserved, const uint8_t* payload, int length, void* context) {
    EXPECT_EQ(reserved, nullptr);
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    out->assign(payload, payload + length);
    return length == 6 ? 0 : 0xA005;
}

TEST_F(SerialLineTest, SendCommandHandsThePayloadToTheHandlerAndReturnsItsResult) {
    ASSERT_TRUE(OpenPlain());
    std::vector<uint8_t> sentPayload;
    std::jthread play([&] {
        Command c = module.NextCommand();
        sentPayload = c.payload;
        module.Write(ReplyTo(c, 0, {0, 0, 0x78, 0x56, 0x34, 0x12}));
        c = module.NextCommand();
        module.Write(ReplyTo(c, 0, {1, 2, 3}));
        c = module.NextCommand();
        EXPECT_EQ(c.code, 0x74);
    });
    std::vector<uint8_t> got;
    const uint8_t data[3] = {9, 8, 7};
    EXPECT_EQ(KVEL_Interface_RadarDevice_Protocol_SendCommand(device, 0x72, data, 3, CaptureReply,
                                                              &got, 500),
              0);
    EXPECT_EQ(got, (std::vector<uint8_t>{0, 0, 0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(KVEL_Interface_RadarDevice_Protocol_SendCommand(device, 0x70, nullptr, 0,
                                                              CaptureReply, &got, 500),
              0xA005);
    EXPECT_TRUE(
        KVEL_Interface_RadarDevice_Protocol_SendCommand_NoCheckAck(device, 0x74, nullptr, 0));
    play.join();
    EXPECT_EQ(sentPayload, (std::vector<uint8_t>{9, 8, 7}));
}

TEST_F(SerialLineTest, FramesAboveTheMaximumAreNeverSent) {
    ASSERT_TRUE(OpenPlain());
    std::atomic<int> commandsSeen{0};
    std::jthread play([&] {
        for (;;) {
            Command c = module.NextCommand(600);
            if (c.code < 0) return;
            ++commandsSeen;
            std::vector<uint8_t> payload;
            if (c.code == 8)
                for (size_t i = 0; i < c.payload.size() / 2; ++i) PutU32(payload, 1);
            module.Write(ReplyTo(c, 0, payload));
        }
    });
    uint16_t ids[16] = {};
    uint32_t values[16] = {};
    // 64 bytes: 13 values read, 8 entries written per frame.
    EXPECT_FALSE(KVEL_Interface_RadarDevice_Protocol_GetParameter(device, 8, 14, ids, values, 500));
    EXPECT_FALSE(KVEL_Interface_RadarDevice_Protocol_SetParameter(device, 7, 9, ids, values, 500));
    EXPECT_FALSE(KVEL_Interface_RadarDevice_Protocol_SetParameter(device, 7, 0, ids, values, 500));
    EXPECT_FALSE(KVEL_Interface_RadarDevice_Protocol_GetParameter(device, 8, -1, ids, values, 500));
    std::vector<uint8_t> big(64 - 12 + 1, 0);
    EXPECT_EQ(KVEL_Interface_RadarDevice_Protocol_SendCommand(
                  device, 0x12, big.data(), static_cast<int>(big.size()), nullptr, nullptr, 500),
              KVEL_SEND_TOO_LONG);
    EXPECT_FALSE(KVEL_Interface_RadarDevice_Protocol_SendCommand_NoCheckAck(
        device, 0x12, big.data(), static_cast<int>(big.size())));
    // Boot-loader frames answer to the boot loader's packet size, up to the
    // largest boot frame, not to the command channel's maximum.
    std::vector<uint8_t> beyondBoot(rp::kLargestBootFrame - 12 + 1, 0);
    EXPECT_EQ(KVEL_Interface_RadarDevice_Protocol_SendCommand(device, 0x73, beyondBoot.data(),
                                                              static_cast<int>(beyondBoot.size()),
                                                              nullptr, nullptr, 500),
              KVEL_SEND_TOO_LONG);
    EXPECT_EQ(commandsSeen.load(), 0);

    EXPECT_TRUE(KVEL_Interface_RadarDevice_Protocol_GetParameter(device, 8, 13, ids, values, 500));
    EXPECT_TRUE(KVEL_Interface_RadarDevice_Protocol_SetParameter(device, 7, 8, ids, values, 500));
    EXPECT_EQ(
        KVEL_Interface_RadarDevice_Protocol_SendCommand(
            device, 0x12, big.data(), static_cast<int>(big.size()) - 1, nullptr, nullptr, 500),
        0);
    std::vector<uint8_t> packet(1024 - 12, 0);
    EXPECT_EQ(
        KVEL_Interface_RadarDevice_Protocol_SendCommand(
            device, 0x73, packet.data(), static_cast<int>(packet.size()), nullptr, nullptr, 500),
        0);
    play.join();
    EXPECT_EQ(commandsSeen.load(), 4);
}

TEST_F(SerialLineTest, FrameSizeIsPositiveWithoutAnOpenLine) {
    EXPECT_EQ(KVEL_Interface_RadarDevice_Protocol_GetWriteBufferMaxSize(device),
              rp::kDefaultMaxFrameSize);
    EXPECT_GT(KVEL_Interface_RadarDevice_Protocol_GetWriteBufferMaxSize(nullptr), 0);
    EXPECT_FALSE(KVEL_Interface_RadarDevice_IsConnected(device));
    EXPECT_EQ(KVEL_Interface_RadarDevice_Protocol_SendCommand(device, 0x70, nullptr, 0, nullptr,
                                                              nullptr, 100),
              KVEL_SEND_NOT_CONNECTED);
}

TEST_F(SerialLineTest, ReadDataReturnsBytesAsTheyArriveAndWaitsWhenNoneCome) {
    ASSERT_TRUE(OpenPlain());
    uint8_t buffer[64];
    auto start = Clock::now();
    EXPECT_LT(KVEL_Interface_RadarDevice_ReadData(device, buffer, sizeof buffer, 200, 0), 1);
    EXPECT_GE(MsSince(start), 180);

    std::jthread play([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        module.Write({1, 2, 3, 4, 5});
    });
    start = Clock::now();
    const int got = KVEL_Interface_RadarDevice_ReadData(device, buffer, sizeof buffer, 2000, 0);
    EXPECT_LT(MsSince(start), 1000);
    ASSERT_EQ(got, 5);
    EXPECT_EQ(buffer[4], 5);

    // A buffer smaller than what waits gets what fits; the rest comes next.
    play.join();
    module.Write({6, 7, 8, 9});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(KVEL_Interface_RadarDevice_ReadData(device, buffer, 3, 500, 0), 3);
    ASSERT_EQ(KVEL_Interface_RadarDevice_ReadData(device, buffer, 3, 500, 0), 1);
    EXPECT_EQ(buffer[0], 9);
}

TEST_F(SerialLineTest, ReportBytesRightAfterAReplyReachTheReader) {
    ASSERT_TRUE(OpenPlain());
    const std::vector<uint8_t> report = ReportFrame(rp::kBasicReportPayload);
    std::jthread play([&] {
        Command leave = module.NextCommand();
        std::vector<uint8_t> bytes = ReplyTo(leave);
        bytes.insert(bytes.end(), report.begin(), report.end());
        module.Write(bytes);  // the stream starts at once
    });
    EXPECT_TRUE(KVEL_Interface_RadarDevice_StopCmdMode(device));
    play.join();
    std::vector<uint8_t> got;
    uint8_t buffer[64];
    while (got.size() < report.size()) {
        const int n = KVEL_Interface_RadarDevice_ReadData(device, buffer, sizeof buffer, 300, 0);
        if (n < 1) break;
        got.insert(got.end(), buffer, buffer + n);
    }
    EXPECT_EQ(got, report);
}

// A lost leave would leave the module silent in command mode: leave is
// asked again, "not in command mode" to the repeat counts as out, and a
// module that never answers is reported as still in.
TEST_F(SerialLineTest, LeaveIsRepeatedUntilTheModuleSaysItIsOut) {
    ASSERT_TRUE(OpenPlain());
    std::vector<Command> seen;
    std::jthread play([&] {
        seen.push_back(module.NextCommand());  // lost on its way
        seen.push_back(module.NextCommand());
        module.Write(ReplyTo(seen.back()));
        seen.push_back(module.NextCommand());  // carried out, its reply lost
        seen.push_back(module.NextCommand());
        module.Write(ReplyTo(seen.back(), rp::kStatusNotInCommandMode));
        seen.push_back(module.NextCommand());  // never answered
        seen.push_back(module.NextCommand());
    });
    EXPECT_TRUE(KVEL_Interface_RadarDevice_StopCmdMode(device));
    EXPECT_TRUE(KVEL_Interface_RadarDevice_StopCmdMode(device));
    const auto start = Clock::now();
    EXPECT_FALSE(KVEL_Interface_RadarDevice_StopCmdMode(device));
    EXPECT_LT(MsSince(start), 1000);
    play.join();
    ASSERT_EQ(seen.size(), 6u);
    for (const Command& command : seen) EXPECT_EQ(command.code, rp::kCmdLeaveCommandMode);
}

TEST_F(SerialLineTest, HungUpLineIsNotConnectedAndReadsDoNotSpin) {
    ASSERT_TRUE(OpenPlain());
    ASSERT_TRUE(KVEL_Interface_RadarDevice_IsConnected(device));
    module.HangUp();
    uint8_t buffer[64];
    const double cpuStart = ThreadCpuSeconds();
    const auto start = Clock::now();
    int calls = 0;
    while (MsSince(start) < 1000) {
        EXPECT_LT(KVEL_Interface_RadarDevice_ReadData(device, buffer, sizeof buffer, 200, 0), 1);
        ++calls;
    }
    EXPECT_LT(ThreadCpuSeconds() - cpuStart, 0.1);
    EXPECT_LE(calls, 6);  // each call waited out its time-out
    EXPECT_FALSE(KVEL_Interface_RadarDevice_IsConnected(device));
    EXPECT_EQ(KVEL_Interface_RadarDevice_Protocol_SendCommand(device, 0x70, nullptr, 0, nullptr,
                                                              nullptr, 100),
              KVEL_SEND_NOT_CONNECTED);
    EXPECT_FALSE(KVEL_Interface_RadarDevice_StartCmdMode(device, 2, 150));
}

TEST_F(SerialLineTest, HangUpIsSeenWithoutARead) {
    ASSERT_TRUE(OpenPlain());
    module.HangUp();
    EXPECT_FALSE(KVEL_Interface_RadarDevice_IsConnected(device));
}

TEST_F(SerialLineTest, ReadDataOnAClosedHandleWaitsItsTimeOut) {
    uint8_t buffer[8];
    const auto start = Clock::now();
    EXPECT_LT(KVEL_Interface_RadarDevice_ReadData(device, buffer, sizeof buffer, 200, 0), 1);
    EXPECT_GE(MsSince(start), 180);
}

TEST_F(SerialLineTest, PortIsHeldExclusively) {
    DiagnosticsRecorder log;
    ASSERT_TRUE(OpenPlain());
    KVEL_RADAR_HANDLE second = KVEL_Interface_RadarDevice_Serial_Create();
    EXPECT_FALSE(KVEL_Interface_RadarDevice_Serial_OpenByPortNum(second, module.Port(), 115200, 2,
                                                                 0, 0, 0, 50));
    EXPECT_NE(log.Text().find("busy"), std::string::npos) << log.Text();

    // Another program is refused too: by the terminal's exclusive mode
    // (which root passes, as the tests may run as root) and by flock.
    const int other = open(module.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (other < 0) {
        EXPECT_EQ(errno, EBUSY);
    } else {
        int exclusive = 0;
        EXPECT_EQ(ioctl(other, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1);
        EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
        close(other);
    }

    // The same handle reopens; after the first lets go the second gets it.
    EXPECT_TRUE(OpenPlain(9600));
    KVEL_Interface_RadarDevice_Serial_Close(device);
    EXPECT_TRUE(KVEL_Interface_RadarDevice_Serial_OpenByPortNum(second, module.Port(), 115200, 2, 0,
                                                                0, 0, 50));
    KVEL_Interface_RadarDevice_Serial_Destroy(second);  // destroyed while open

    // Letting go ends the exclusive mode, which would otherwise outlive the
    // close while the far side keeps the terminal open.
    const int after = open(module.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(after, 0);
    int exclusive = 1;
    EXPECT_EQ(ioctl(after, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    close(after);
}

TEST_F(SerialLineTest, UnusableBaudRatesAndUnknownPortsAreRefusedWithAReason) {
    DiagnosticsRecorder log;
    EXPECT_FALSE(OpenPlain(0));
    EXPECT_FALSE(OpenPlain(12345));
    EXPECT_FALSE(OpenPlain(-9600));
    EXPECT_NE(log.Text().find("baud rate 12345"), std::string::npos) << log.Text();
    EXPECT_FALSE(KVEL_Interface_RadarDevice_IsConnected(device));
    EXPECT_FALSE(
        KVEL_Interface_RadarDevice_Serial_OpenByPortNum(device, 9999, 115200, 2, 0, 0, 0, 50));
    EXPECT_NE(log.Text().find("no such port number"), std::string::npos) << log.Text();
    EXPECT_TRUE(OpenPlain(9600));
}

// Run as a user outside the device's group (the tests usually run as root,
// whom no permission stops), the open fails and names the group to join.
TEST_F(SerialLineTest, PermissionDeniedNamesTheGroupThatOwnsTheDevice) {
    struct stat info {};
    ASSERT_EQ(stat(module.SlavePath().c_str(), &info), 0);
    const group* owner = getgrgid(info.st_gid);
    if (getuid() != 0 || !owner || (info.st_mode & S_IRWXO) != 0)
        GTEST_SKIP() << "needs root to drop to an unprivileged user";
    const std::string expected = std::string("\"") + owner->gr_name + "\"";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        kvel_device::SerialLine line;
        std::string why;
        if (line.Open(module.SlavePath(), 115200, &why)) _exit(3);
        const bool named = why.find("permission denied") != std::string::npos &&
                           why.find(expected) != std::string::npos;
        _exit(named ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(SerialLineTest, ReaderAndCommandsOnTwoThreadsDoNotMixTheirBytes) {
    ASSERT_TRUE(OpenPlain());
    std::atomic<bool> stop{false};
    std::jthread play([&] {
        while (!stop) {
            Command c = module.NextCommand(100);
            if (c.code < 0) continue;
            std::vector<uint8_t> values;
            PutU32(values, 42);
            module.Write(ReplyTo(c, 0, values));
        }
    });
    std::jthread reader([&] {
        uint8_t buffer[64];
        while (!stop) KVEL_Interface_RadarDevice_ReadData(device, buffer, sizeof buffer, 20, 0);
    });
    int ok = 0;
    for (int i = 0; i < 20; ++i) {
        const uint16_t id = 1;
        uint32_t value = 0;
        ok += KVEL_Interface_RadarDevice_Protocol_GetParameter(device, 8, 1, &id, &value, 1000);
        EXPECT_TRUE(value == 42 || value == 0);
    }
    stop = true;
    // The reader can take a reply off the line only between exchanges,
    // never out of one; each exchange holds the line until its reply.
    EXPECT_EQ(ok, 20);
}

}  // namespace

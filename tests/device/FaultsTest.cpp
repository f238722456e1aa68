// Every misbehaviour the emulator can show is met with the right result,
// within the time allowed, and without a hang or a spin.
#include <time.h>

#include "EmulatorFixture.h"

namespace {

using namespace device_test;
namespace rp = radar_protocol;
using emulator::Fault;

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Puts the module into ABD mode, streaming.
void StartAbdStream(KVEL_RADAR_HANDLE device) {
    ASSERT_TRUE(KVEL_Interface_RadarDevice_Protocol_SetABDMode(device));
    ASSERT_TRUE(KVEL_Interface_RadarDevice_StopCmdMode(device));
}

using StreamFaults = EmulatedModule;

TEST_F(StreamFaults, NoisyStreamStillDeliversReportsAndRepliesAreFoundInIt) {
    Start(Fast({Fault::StrayBytes, Fault::TagNoise, Fault::BrokenTailers, Fault::OtherLengths}));
    ASSERT_TRUE(Connect());
    StartAbdStream(device);
    EXPECT_GE(CountReports(ReadFor(800), rp::kObjectReportPayload), 2);
    // Entering command mode while the stream runs: the reply is picked out.
    EXPECT_TRUE(KVEL_Interface_RadarDevice_StartCmdMode(device, 2, 150));
    CBaseStringA version;
    EXPECT_TRUE(KVEL_Interface_RadarDevice_GetVersion(device, &version));
    EXPECT_STREQ(version.GetString(), "V1.2.0.5");
}

using ReplyFaults = EmulatedModule;

// An 8-entry write and a 13-value read of distinct values, `rounds` times,
// each within two tries of `timeoutMs`.
void ReadAndWriteBatches(KVEL_RADAR_HANDLE device, int rounds, int timeoutMs) {
    uint16_t ids[13];
    uint32_t values[13];
    for (int i = 0; i < 13; ++i) ids[i] = static_cast<uint16_t>(rp::kParamTriggerFirst + i);
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < 13; ++i)
            values[i] = 0x5AA53CC3u + static_cast<uint32_t>(round * 13 + i);
        auto start = Clock::now();
        ASSERT_TRUE(
            KVEL_Interface_RadarDevice_Protocol_SetParameter(device, 7, 8, ids, values, timeoutMs))
            << "round " << round;
        EXPECT_LT(MsSince(start), 2 * timeoutMs + 300);
        uint32_t back[13] = {};
        start = Clock::now();
        ASSERT_TRUE(
            KVEL_Interface_RadarDevice_Protocol_GetParameter(device, 8, 13, ids, back, timeoutMs))
            << "round " << round;
        EXPECT_LT(MsSince(start), 2 * timeoutMs + 300);
        for (int i = 0; i < 8; ++i) EXPECT_EQ(back[i], values[i]) << "round " << round;
    }
}

TEST_F(ReplyFaults, ParameterBatchesWhoseReplyIsLostOrDamagedAreAskedOnceMore) {
    for (Fault fault : {Fault::DropReplies, Fault::CorruptReplies, Fault::TruncatedReplies,
                        Fault::DroppedBytes, Fault::TagNoise}) {
        SCOPED_TRACE(emulator::FaultName(fault));
        Start(Fast({fault}));
        ASSERT_TRUE(Connect());
        // Long enough that a reply that does come is not missed on a machine
        // busy with other tests.
        ReadAndWriteBatches(device, 2, 400);
        KVEL_Interface_RadarDevice_Serial_Destroy(device);
        device = nullptr;
    }
}

TEST_F(ReplyFaults, LateRepliesAreNeverTakenForALaterCommand) {
    emulator::Options options = Fast({Fault::LateReplies});
    options.lateReplyDelay = std::chrono::milliseconds(750);
    Start(options);
    ASSERT_TRUE(Connect());
    // Distinct values per ID: a late answer to an earlier read of the other
    // ID shows up as a wrong value.
    const uint16_t ids[2] = {rp::kParamTriggerFirst, rp::kParamHoldFirst};
    const uint32_t values[2] = {111, 222};
    ASSERT_TRUE(KVEL_Interface_RadarDevice_Protocol_SetParameter(device, 7, 2, ids, values, 300));
    const uint64_t answeredBefore = emulator->CommandsAnswered();
    int calls = 0;
    const auto start = Clock::now();
    for (; MsSince(start) < 1800; ++calls) {
        uint32_t value = 0;
        // Each late reply comes after the first try gave up; the second try
        // is answered in time.
        ASSERT_TRUE(KVEL_Interface_RadarDevice_Protocol_GetParameter(device, 8, 1, &ids[calls % 2],
                                                                     &value, 300))
            << "call " << calls;
        EXPECT_EQ(value, values[calls % 2]) << "call " << calls;
    }
    EXPECT_GT(emulator->CommandsAnswered() - answeredBefore, static_cast<uint64_t>(calls));
}

TEST_F(ReplyFaults, FailingStatusFailsParametersAndModesQuickly) {
    Start(Fast({Fault::FailingStatus}));
    ASSERT_TRUE(Connect());
    const uint16_t id = rp::kParamGateMax;
    uint32_t value = 0;
    const auto start = Clock::now();
    EXPECT_FALSE(KVEL_Interface_RadarDevice_Protocol_GetParameter(device, 8, 1, &id, &value, 2000));
    EXPECT_FALSE(KVEL_Interface_RadarDevice_Protocol_SetParameter(device, 7, 1, &id, &value, 2000));
    EXPECT_FALSE(KVEL_Interface_RadarDevice_Protocol_SetDataTransferMode(device));
    EXPECT_FALSE(KVEL_Interface_RadarDevice_Protocol_SetABDMode(device));
    EXPECT_LT(MsSince(start), 1000);  // a refusal is an answer, not a timeout
    CBaseStringA version;
    EXPECT_TRUE(KVEL_Interface_RadarDevice_GetVersion(device, &version));
}

TEST_F(ReplyFaults, SilentModuleTimesOutEveryCallAndTheLineStaysConnected) {
    Start(Fast({Fault::StopAnswering}));
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(KVEL_Interface_RadarDevice_Protocol_SetABDMode(device));
    ASSERT_TRUE(KVEL_Interface_RadarDevice_StopCmdMode(device));  // the fourth command
    const uint16_t id = rp::kParamGateMax;
    uint32_t value = 0;
    auto start = Clock::now();
    EXPECT_FALSE(KVEL_Interface_RadarDevice_StartCmdMode(device, 2, 150));
    EXPECT_FALSE(KVEL_Interface_RadarDevice_Protocol_GetParameter(device, 8, 1, &id, &value, 150));
    EXPECT_EQ(KVEL_Interface_RadarDevice_Protocol_SendCommand(device, 0x70, nullptr, 0, nullptr,
                                                              nullptr, 200),
              KVEL_SEND_TIMEOUT);
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_TRUE(ReadFor(200).empty());
    EXPECT_TRUE(KVEL_Interface_RadarDevice_IsConnected(device));
}

using LineFaults = EmulatedModule;

TEST_F(LineFaults, VanishingLineEndsTheConnectionWithoutASpinningReader) {
    emulator::Options options = Fast({Fault::LineDisappears});
    options.lineLifetime = std::chrono::milliseconds(300);
    Start(options);
    ASSERT_TRUE(Connect());
    StartAbdStream(device);
    uint8_t chunk[64];
    int bytes = 0;
    const double cpuStart = ThreadCpuSeconds();
    const auto start = Clock::now();
    while (KVEL_Interface_RadarDevice_IsConnected(device) && MsSince(start) < 3000) {
        const int n = KVEL_Interface_RadarDevice_ReadData(device, chunk, sizeof chunk, 200, 0);
        if (n > 0) bytes += n;
    }
    EXPECT_GT(bytes, 0);
    EXPECT_FALSE(KVEL_Interface_RadarDevice_IsConnected(device));
    // Reading the stream costs little; the dead line costs next to nothing.
    EXPECT_LT(ThreadCpuSeconds() - cpuStart, 0.5);
    const auto deadStart = Clock::now();
    const double deadCpu = ThreadCpuSeconds();
    while (MsSince(deadStart) < 600)
        EXPECT_LT(KVEL_Interface_RadarDevice_ReadData(device, chunk, sizeof chunk, 200, 0), 1);
    EXPECT_LT(ThreadCpuSeconds() - deadCpu, 0.1);
    EXPECT_EQ(KVEL_Interface_RadarDevice_Protocol_SendCommand(device, 0x70, nullptr, 0, nullptr,
                                                              nullptr, 200),
              KVEL_SEND_NOT_CONNECTED);
}

TEST_F(LineFaults, HangUpWhileReadingIsNoticedAndCloseThenWorks) {
    Start(Fast());
    ASSERT_TRUE(Connect());
    StartAbdStream(device);
    std::jthread unplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        emulator->DisappearLine();
    });
    uint8_t chunk[64];
    const auto start = Clock::now();
    while (KVEL_Interface_RadarDevice_IsConnected(device) && MsSince(start) < 3000)
        KVEL_Interface_RadarDevice_ReadData(device, chunk, sizeof chunk, 500, 0);
    EXPECT_FALSE(KVEL_Interface_RadarDevice_IsConnected(device));
    EXPECT_LT(MsSince(start), 1500);
    KVEL_Interface_RadarDevice_Serial_Close(device);
    EXPECT_FALSE(KVEL_Interface_RadarDevice_StartCmdMode(device, 2, 150));
}

}  // namespace

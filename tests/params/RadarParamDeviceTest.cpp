// Parameter read and write against the module emulator on a real
// pseudo-terminal, through the radar device library.
#include "connection/RadarConnection.h"
#include "device/Decibels.h"
#include "params/RadarParam.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulator/ModuleEmulator.h"

namespace {

class LogCapture {
public:
    LogCapture() { DbgOutputAddCallback(&LogCapture::Collect, this); }
    ~LogCapture() { DbgOutputDelCallback(&LogCapture::Collect); }
    int Count(const std::string& text) const {
        std::lock_guard hold(m_mutex);
        int count = 0;
        for (const std::string& line : m_lines) count += line.find(text) != std::string::npos;
        return count;
    }

private:
    static int Collect(void* user, intptr_t, const char* text, int length) {
        auto* self = static_cast<LogCapture*>(user);
        std::lock_guard hold(self->m_mutex);
        self->m_lines.emplace_back(text, static_cast<size_t>(length));
        return length;
    }
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

constexpr const char* kReadName = "ReadSetting_RadarOperatorConfig";
constexpr const char* kWriteName = "WriteSetting_RadarOperatorConfig";

// An emulated module and a device handle connected to it as the tool
// connects: open in command mode, frame size asked.
class Connection {
public:
    explicit Connection(emulator::Options options) : m_module(WithFastTiming(options)) {
        std::string error;
        m_started = m_module.Start(&error);
        EXPECT_TRUE(m_started) << error;
        m_device = KVEL_Interface_RadarDevice_Serial_Create();
        if (m_started) {
            EXPECT_TRUE(RadarConnection(m_device).Open(m_module.PortNumber(), options.baudRate));
        }
    }
    ~Connection() {
        KVEL_Interface_RadarDevice_Serial_Close(m_device);
        KVEL_Interface_RadarDevice_Serial_Destroy(m_device);
    }
    KVEL_RADAR_HANDLE Device() const { return m_device; }
    emulator::ModuleEmulator& Module() { return m_module; }
    bool Started() const { return m_started; }

private:
    static emulator::Options WithFastTiming(emulator::Options options) {
        options.realTiming = false;
        return options;
    }
    emulator::ModuleEmulator m_module;
    KVEL_RADAR_HANDLE m_device = nullptr;
    bool m_started = false;
};

// The module counts a command just after it has sent the reply, so the
// count is read once it has stopped moving.
uint64_t SettledAnswers(const emulator::ModuleEmulator& module) {
    uint64_t last = module.CommandsAnswered();
    for (int round = 0; round < 50; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const uint64_t now = module.CommandsAnswered();
        if (now == last) return now;
        last = now;
    }
    return last;
}

emulator::Options FrameSize(int bytes) {
    emulator::Options options;
    options.maxFrameSize = bytes;
    return options;
}

RadarParamSet Distinct() {
    RadarParamSet params;
    params.GateMax = 11;
    params.ObjectDisappearDelayTime = -1;
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        params.TriggerThreshold[gate] = 20.0 + gate;
        params.HoldThreshold[gate] = 60.0 + gate * 2;
    }
    return params;
}

bool SameSet(const RadarParamSet& a, const RadarParamSet& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(RadarParamDeviceTest, ReadsTheModuleValuesInDecibels) {
    Connection connection(FrameSize(64));
    ASSERT_TRUE(connection.Started());
    LogCapture log;
    RadarParamSet params;
    params.GateMax = -7;
    ASSERT_EQ(ReadRadarParams(connection.Device(), &params), kRadarOk);
    EXPECT_EQ(log.Count(std::string(kReadName) + ", result: Success\r\n"), 1);

    EXPECT_EQ(static_cast<uint32_t>(params.GateMax), connection.Module().Parameter(0x0001));
    EXPECT_EQ(static_cast<uint32_t>(params.ObjectDisappearDelayTime),
              connection.Module().Parameter(0x0004));
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        EXPECT_DOUBLE_EQ(params.TriggerThreshold[gate],
                         EnergyToDb(connection.Module().Parameter(0x0010 + gate)));
        EXPECT_DOUBLE_EQ(params.HoldThreshold[gate],
                         EnergyToDb(connection.Module().Parameter(0x0020 + gate)));
    }
}

struct BatchCase {
    int frameSize;
    uint64_t readBatches;
    uint64_t writeBatches;
};

class RadarParamFrameSizeTest : public ::testing::TestWithParam<BatchCase> {};

TEST_P(RadarParamFrameSizeTest, WritesAndReadsBackInBatchesThatFit) {
    const BatchCase batch = GetParam();
    Connection connection(FrameSize(batch.frameSize));
    ASSERT_TRUE(connection.Started());
    ASSERT_EQ(KVEL_Interface_RadarDevice_Protocol_GetWriteBufferMaxSize(connection.Device()),
              batch.frameSize);

    const RadarParamSet written = Distinct();
    uint64_t before = SettledAnswers(connection.Module());
    ASSERT_EQ(WriteRadarParams(connection.Device(), &written), kRadarOk);
    EXPECT_EQ(SettledAnswers(connection.Module()) - before, batch.writeBatches);
    EXPECT_EQ(connection.Module().Parameter(0x0004), 0xFFFFFFFFu);
    EXPECT_EQ(connection.Module().Parameter(0x0010), 100u);
    EXPECT_EQ(connection.Module().Parameter(0x002F), 1000000000u);

    RadarParamSet read;
    before = SettledAnswers(connection.Module());
    ASSERT_EQ(ReadRadarParams(connection.Device(), &read), kRadarOk);
    EXPECT_EQ(SettledAnswers(connection.Module()) - before, batch.readBatches);
    EXPECT_EQ(read.GateMax, 11);
    EXPECT_EQ(read.ObjectDisappearDelayTime, -1);
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        // What comes back is the dB value of the rounded linear power.
        EXPECT_DOUBLE_EQ(read.TriggerThreshold[gate],
                         EnergyToDb(RadarThresholdFromDb(written.TriggerThreshold[gate])));
        EXPECT_NEAR(read.HoldThreshold[gate], written.HoldThreshold[gate], 0.001) << gate;
    }
}

INSTANTIATE_TEST_SUITE_P(FrameSizes, RadarParamFrameSizeTest,
                         ::testing::Values(BatchCase{18, 34, 34}, BatchCase{40, 5, 9},
                                           BatchCase{64, 3, 5}, BatchCase{172, 1, 2}),
                         [](const auto& info) { return std::to_string(info.param.frameSize); });

TEST(RadarParamDeviceTest, NotConnectedChangesAndLogsNothing) {
    KVEL_RADAR_HANDLE device = KVEL_Interface_RadarDevice_Serial_Create();
    LogCapture log;
    RadarParamSet params = Distinct();
    EXPECT_EQ(ReadRadarParams(device, &params), kRadarNotConnected);
    EXPECT_EQ(WriteRadarParams(device, &params), kRadarNotConnected);
    EXPECT_TRUE(SameSet(params, Distinct()));
    EXPECT_EQ(log.Count("RadarOperatorConfig"), 0);
    KVEL_Interface_RadarDevice_Serial_Destroy(device);
}

TEST(RadarParamDeviceTest, RefusedCommandsLeaveTheSetUnchanged) {
    emulator::Options options = FrameSize(64);
    options.faults = {emulator::Fault::FailingStatus};
    Connection connection(options);
    ASSERT_TRUE(connection.Started());
    LogCapture log;
    RadarParamSet params = Distinct();
    EXPECT_EQ(ReadRadarParams(connection.Device(), &params), kRadarRefused);
    EXPECT_TRUE(SameSet(params, Distinct()));
    EXPECT_EQ(log.Count(std::string(kReadName) + ", result: Failed.\r\n"), 1);

    const uint64_t before = SettledAnswers(connection.Module());
    EXPECT_EQ(WriteRadarParams(connection.Device(), &params), kRadarRefused);
    EXPECT_EQ(SettledAnswers(connection.Module()) - before, 1u);  // stops at the first batch
    EXPECT_EQ(log.Count(std::string(kWriteName) + ", result: Failed\r\n"), 1);
}

TEST(RadarParamDeviceTest, OneLostReplyDoesNotFailTheWholeRead) {
    emulator::Options options = FrameSize(172);  // all 34 values in one batch
    options.faults = {emulator::Fault::DropReplies};
    Connection connection(options);
    ASSERT_TRUE(connection.Started());
    // Every third reply is dropped: the read's, after the two of the open.
    LogCapture log;
    RadarParamSet params = Distinct();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(ReadRadarParams(connection.Device(), &params), kRadarOk);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(static_cast<uint32_t>(params.GateMax), connection.Module().Parameter(0x0001));
    EXPECT_DOUBLE_EQ(params.HoldThreshold[15], EnergyToDb(connection.Module().Parameter(0x002F)));
    EXPECT_EQ(log.Count(std::string(kReadName) + ", result: Success\r\n"), 1);
}

}  // namespace

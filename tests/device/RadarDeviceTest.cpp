// The library against the module emulator: the calls as the program makes
// them, end to end over a pseudo-terminal.
#include <time.h>

#include <algorithm>
#include <cstring>

#include "EmulatorFixture.h"
#include "PtyModule.h"

namespace {

using namespace device_test;
namespace rp = radar_protocol;

TEST_F(EmulatedModule, ConnectFormGivesIdentityAndAcceptsCommandsAtOnce) {
    emulator::Options o = Fast();
    o.maxFrameSize = 100;
    o.version = "V7.1.2.3";
    o.serialNumber = "ZZ-42";
    Start(o);
    ASSERT_TRUE(Connect());
    EXPECT_TRUE(KVEL_Interface_RadarDevice_IsConnected(device));
    EXPECT_TRUE(emulator->InCommandMode());
    EXPECT_EQ(KVEL_Interface_RadarDevice_Protocol_GetWriteBufferMaxSize(device), 100);
    CBaseStringA version, serial;
    ASSERT_TRUE(KVEL_Interface_RadarDevice_GetVersion(device, &version));
    ASSERT_TRUE(KVEL_Interface_RadarDevice_GetSerialNumber(device, &serial));
    EXPECT_STREQ(version.GetString(), "V7.1.2.3");
    EXPECT_STREQ(serial.GetString(), "ZZ-42");

    // Reopening an open handle starts over at the default frame size
    // (nothing asked) and leaves the handle usable.
    ASSERT_TRUE(OpenForFirmware());
    EXPECT_EQ(KVEL_Interface_RadarDevice_Protocol_GetWriteBufferMaxSize(device),
              rp::kDefaultMaxFrameSize);
    EXPECT_TRUE(KVEL_Interface_RadarDevice_GetVersion(device, &version));
}

TEST_F(EmulatedModule, ParametersRoundTripInFullBatches) {
    Start(Fast());
    ASSERT_TRUE(Connect());
    uint16_t ids[8];
    uint32_t values[8];
    for (int i = 0; i < 8; ++i) {
        ids[i] = static_cast<uint16_t>(rp::kParamTriggerFirst + i);
        values[i] = 1000u * static_cast<uint32_t>(i + 1) + 7;
    }
    ASSERT_TRUE(KVEL_Interface_RadarDevice_Protocol_SetParameter(device, 7, 8, ids, values, 2000));
    EXPECT_EQ(emulator->Parameter(rp::kParamTriggerFirst + 7), 8007u);

    uint16_t readIds[13];
    uint32_t read[13] = {};
    for (int i = 0; i < 13; ++i) readIds[i] = static_cast<uint16_t>(rp::kParamTriggerFirst + i);
    ASSERT_TRUE(
        KVEL_Interface_RadarDevice_Protocol_GetParameter(device, 8, 13, readIds, read, 2000));
    for (int i = 0; i < 8; ++i) EXPECT_EQ(read[i], values[i]) << i;

    // An unknown ID refuses the whole write and changes nothing.
    const uint16_t bad[2] = {rp::kParamGateMax, 0x0777};
    const uint32_t badValues[2] = {3, 3};
    const uint32_t gateMaxBefore = emulator->Parameter(rp::kParamGateMax);
    EXPECT_FALSE(
        KVEL_Interface_RadarDevice_Protocol_SetParameter(device, 7, 2, bad, badValues, 2000));
    EXPECT_EQ(emulator->Parameter(rp::kParamGateMax), gateMaxBefore);
}

TEST_F(EmulatedModule, SmallestFrameSizeLimitsTheBatches) {
    emulator::Options o = Fast();
    o.maxFrameSize = rp::kMinMaxFrameSize;
    Start(o);
    ASSERT_TRUE(Connect());
    ASSERT_EQ(KVEL_Interface_RadarDevice_Protocol_GetWriteBufferMaxSize(device),
              rp::kMinMaxFrameSize);
    const uint16_t ids[2] = {rp::kParamGateMax, rp::kParamAbsenceDelay};
    uint32_t values[2] = {};
    EXPECT_TRUE(KVEL_Interface_RadarDevice_Protocol_GetParameter(device, 8, 1, ids, values, 2000));
    EXPECT_FALSE(KVEL_Interface_RadarDevice_Protocol_GetParameter(device, 8, 2, ids, values, 2000));
    EXPECT_TRUE(KVEL_Interface_RadarDevice_Protocol_SetParameter(device, 7, 1, ids, values, 2000));
    EXPECT_FALSE(KVEL_Interface_RadarDevice_Protocol_SetParameter(device, 7, 2, ids, values, 2000));
    EXPECT_EQ(emulator->CommandsAnswered(), 4u);  // enter, frame size, one read, one write
}

TEST_F(EmulatedModule, ValuesHoldingWholeLookAlikeFramesAtAnyOffsetRoundTrip) {
    Start();  // paced: replies arrive in pieces, as from a UART
    ASSERT_TRUE(Connect());
    constexpr int kValues = 13;  // one full read batch of the default frame size
    uint16_t ids[kValues];
    for (int i = 0; i < kValues; ++i) ids[i] = static_cast<uint16_t>(rp::kParamTriggerFirst + i);
    for (size_t offset = 0; offset + rp::kFramingBytes <= 4 * kValues; ++offset) {
        // A good reply to a parameter read, with a sequence number that will
        // at times be the one the host waits for.
        const std::vector<uint8_t> lookAlike =
            CommandFrame(rp::kCmdGetDetectionParams | ((offset % 16) << 8), {});
        std::vector<uint8_t> bytes(4 * kValues, 0x00);
        std::copy(lookAlike.begin(), lookAlike.end(), bytes.begin() + static_cast<long>(offset));
        uint32_t values[kValues];
        for (int i = 0; i < kValues; ++i)
            std::memcpy(&values[i], &bytes[4 * i], 4);  // little-endian host

        ASSERT_TRUE(
            KVEL_Interface_RadarDevice_Protocol_SetParameter(device, 7, 8, ids, values, 500));
        ASSERT_TRUE(KVEL_Interface_RadarDevice_Protocol_SetParameter(device, 7, kValues - 8,
                                                                     ids + 8, values + 8, 500));
        uint32_t back[kValues] = {};
        ASSERT_TRUE(
            KVEL_Interface_RadarDevice_Protocol_GetParameter(device, 8, kValues, ids, back, 500))
            << "look-alike at offset " << offset;
        EXPECT_TRUE(std::equal(back, back + kValues, values)) << "look-alike at offset " << offset;
    }
}

TEST_F(EmulatedModule, TextsLongerThanAFrameComeWholeAndOverlongOnesAreCutWithALogLine) {
    emulator::Options o = Fast();
    o.maxFrameSize = rp::kMinMaxFrameSize;  // four text bytes a reply
    o.version = "V1.2.0.5";
    o.serialNumber = std::string(300, 'S');
    Start(o);
    ASSERT_TRUE(Connect());
    DiagnosticsRecorder log;
    CBaseStringA version, serial;
    ASSERT_TRUE(KVEL_Interface_RadarDevice_GetVersion(device, &version));
    EXPECT_STREQ(version.GetString(), "V1.2.0.5");
    ASSERT_TRUE(KVEL_Interface_RadarDevice_GetSerialNumber(device, &serial));
    EXPECT_EQ(std::string(serial.GetString()), std::string(rp::kMaxTextBytes, 'S'));
    EXPECT_NE(log.Text().find("of 300 bytes cut to 256"), std::string::npos) << log.Text();
}

TEST_F(EmulatedModule, ModeCommandsSwitchTheStreamThatReadDataDelivers) {
    Start(Fast());
    ASSERT_TRUE(Connect());
    // The connection: data transfer mode, then out of command mode.
    ASSERT_TRUE(KVEL_Interface_RadarDevice_Protocol_SetDataTransferMode(device));
    ASSERT_TRUE(KVEL_Interface_RadarDevice_StopCmdMode(device));
    EXPECT_EQ(emulator->OperatingMode(), rp::kModeDataTransfer);
    EXPECT_FALSE(emulator->InCommandMode());
    EXPECT_GE(CountReports(ReadFor(500), rp::kBasicReportPayload), 3);

    // The realtime reader's start: ABD mode while the stream runs.
    ASSERT_TRUE(KVEL_Interface_RadarDevice_StartCmdMode(device, 2, 150));
    ASSERT_TRUE(KVEL_Interface_RadarDevice_Protocol_SetABDMode(device));
    ASSERT_TRUE(KVEL_Interface_RadarDevice_StopCmdMode(device));
    EXPECT_EQ(emulator->OperatingMode(), rp::kModeABD);
    const std::vector<uint8_t> stream = ReadFor(600);
    EXPECT_GE(CountReports(stream, rp::kObjectReportPayload), 4);
    EXPECT_EQ(CountReports(stream, rp::kBasicReportPayload), 0);

    // Outside command mode the module takes no other command.
    CBaseStringA version;
    EXPECT_FALSE(KVEL_Interface_RadarDevice_GetVersion(device, &version));

    // The disconnection: function mode, then the line closed.
    ASSERT_TRUE(KVEL_Interface_RadarDevice_StartCmdMode(device, 2, 150));
    const uint16_t id = rp::kSettingOperatingMode;
    const uint32_t mode = rp::kModeFunction;
    EXPECT_TRUE(KVEL_Interface_RadarDevice_Protocol_SetParameter(device, 18, 1, &id, &mode, 2000));
    EXPECT_TRUE(KVEL_Interface_RadarDevice_StopCmdMode(device));
    KVEL_Interface_RadarDevice_Serial_Close(device);
    EXPECT_EQ(emulator->OperatingMode(), rp::kModeFunction);
    EXPECT_FALSE(KVEL_Interface_RadarDevice_IsConnected(device));
}

TEST_F(EmulatedModule, PacedLineStillAnswersWithinTheHandshakeTimes) {
    emulator::Options o;  // real timing at 115200
    Start(o);
    ASSERT_TRUE(Connect());
    EXPECT_TRUE(emulator->InCommandMode());
    CBaseStringA version;
    EXPECT_TRUE(KVEL_Interface_RadarDevice_GetVersion(device, &version));
    EXPECT_STREQ(version.GetString(), "V1.2.0.5");
}

uint16_t TakeBootValue(void*, const uint8_t* payload, int length, void* context) {
    if (length != 6) return 0xA005;
    *static_cast<uint32_t*>(context) =
        static_cast<uint32_t>(payload[2] | (payload[3] << 8) | (payload[4] << 16) |
                              (static_cast<uint32_t>(payload[5]) << 24));
    return static_cast<uint16_t>(payload[0] | (payload[1] << 8));
}

TEST_F(EmulatedModule, FirmwareFormOpensTheLineOnlyAndBootCommandsGoThrough) {
    Start(Fast());
    ASSERT_TRUE(OpenForFirmware());
    EXPECT_FALSE(emulator->InCommandMode());
    EXPECT_EQ(emulator->CommandsAnswered(), 0u);
    ASSERT_TRUE(KVEL_Interface_RadarDevice_StartCmdMode(device, 2, 50));
    uint32_t value = 0;
    EXPECT_EQ(KVEL_Interface_RadarDevice_Protocol_SendCommand(device, 0x70, nullptr, 0,
                                                              TakeBootValue, &value, 3500),
              0);
    EXPECT_EQ(value, 2u);  // App0
    // The software reset is never answered: the module restarts.
    EXPECT_EQ(KVEL_Interface_RadarDevice_Protocol_SendCommand(device, 0x74, nullptr, 0,
                                                              TakeBootValue, &value, 100),
              KVEL_SEND_TIMEOUT);
    EXPECT_EQ(emulator->SoftwareResets(), 1u);
}

TEST_F(EmulatedModule, ModuleAtAnotherBaudRateDoesNotAnswerAndTheLogSaysWhy) {
    emulator::Options o = Fast();
    o.baudRate = 9600;
    Start(o);
    // Streaming, so that the line carries bytes the host cannot read.
    ASSERT_TRUE(Connect(9600));
    ASSERT_TRUE(KVEL_Interface_RadarDevice_Protocol_SetDataTransferMode(device));
    ASSERT_TRUE(KVEL_Interface_RadarDevice_StopCmdMode(device));

    DiagnosticsRecorder log;
    ASSERT_TRUE(Connect(115200, 150));  // the line opens; the module hears garbage
    EXPECT_FALSE(emulator->InCommandMode());
    const auto start = Clock::now();
    EXPECT_FALSE(KVEL_Interface_RadarDevice_StartCmdMode(device, 2, 150));
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_NE(log.Text().find(KVEL_WRONG_BAUD_HINT), std::string::npos) << log.Text();
    CBaseStringA version;
    EXPECT_FALSE(KVEL_Interface_RadarDevice_GetVersion(device, &version));
    EXPECT_STREQ(version.GetString(), "");

    ASSERT_TRUE(Connect(9600));
    EXPECT_TRUE(emulator->InCommandMode());
}

TEST_F(EmulatedModule, WithdrawnPortCannotBeOpened) {
    Start(Fast());
    const int port = emulator->PortNumber();
    emulator.reset();
    EXPECT_FALSE(
        KVEL_Interface_RadarDevice_Serial_OpenByPortNum(device, port, 115200, 2, 1, 1, 1, 150));
}

}  // namespace

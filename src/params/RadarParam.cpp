#include "params/RadarParam.h"

#include <array>
#include <cmath>

#include "device/Decibels.h"

namespace rp = radar_protocol;

namespace {

// GateMax, the absence delay, the 16 trigger thresholds, the 16 hold ones.
constexpr std::array<uint16_t, kRadarParamCount> MakeParamIds() {
    std::array<uint16_t, kRadarParamCount> ids{};
    ids[0] = rp::kParamGateMax;
    ids[1] = rp::kParamAbsenceDelay;
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        ids[2 + gate] = static_cast<uint16_t>(rp::kParamTriggerFirst + gate);
        ids[2 + kRadarGateCount + gate] = static_cast<uint16_t>(rp::kParamHoldFirst + gate);
    }
    return ids;
}
constexpr std::array<uint16_t, kRadarParamCount> kParamIds = MakeParamIds();

constexpr int kReadParamCode = rp::kCmdGetDetectionParams;
constexpr int kWriteParamCode = rp::kCmdSetDetectionParams;
constexpr int kParamTimeoutMs = 2000;
// Bytes of a frame taken by framing and command header, and per entry: an
// ID and a value in a write, a value in a read reply.
constexpr int kFrameHeaderBytes = rp::kFramingBytes;
constexpr int kReadEntryBytes = 4;
constexpr int kWriteEntryBytes = 6;

constexpr int kTriggerFirst = 2;
constexpr int kHoldFirst = kTriggerFirst + kRadarGateCount;

constexpr const char* kReadLogName = "ReadSetting_RadarOperatorConfig";
constexpr const char* kWriteLogName = "WriteSetting_RadarOperatorConfig";

int BatchSize(int maxFrameSize, int entryBytes) {
    if (maxFrameSize <= kFrameHeaderBytes) return 0;
    return (maxFrameSize - kFrameHeaderBytes) / entryBytes;
}

// Runs `send` (first position, count) over the 34 positions in batches of
// `batch`: the full batches, then the remainder. Stops at the first failure.
template <typename Send>
bool SendInBatches(int batch, Send send) {
    if (batch <= 0) return false;
    for (int first = 0; first < kRadarParamCount; first += batch) {
        const int count = first + batch <= kRadarParamCount ? batch : kRadarParamCount - first;
        if (!send(first, count)) return false;
    }
    return true;
}

// A failed exchange: refused by the module, or not answered.
int FailureResult(KVEL_RADAR_HANDLE device) {
    return KVEL_Interface_RadarDevice_LastReplyRefused(device) ? kRadarRefused : kRadarNoAnswer;
}

}  // namespace

const uint16_t* const RadarParamId = kParamIds.data();

uint32_t RadarThresholdFromDb(double db) {
    if (!(db > 0.0)) return 0;  // also NaN
    const double linear = std::round(std::pow(10.0, db / 10.0));
    if (!(linear < 4294967296.0)) return 0xFFFFFFFFu;  // also +inf
    return static_cast<uint32_t>(linear);
}

int RadarReadBatchSize(int maxFrameSize) { return BatchSize(maxFrameSize, kReadEntryBytes); }

int RadarWriteBatchSize(int maxFrameSize) { return BatchSize(maxFrameSize, kWriteEntryBytes); }

int ReadRadarParams(KVEL_RADAR_HANDLE device, RadarParamSet* params) {
    if (!KVEL_Interface_RadarDevice_IsConnected(device)) return kRadarNotConnected;

    const int batch =
        RadarReadBatchSize(KVEL_Interface_RadarDevice_Protocol_GetWriteBufferMaxSize(device));
    uint32_t values[kRadarParamCount] = {};
    const bool ok = SendInBatches(batch, [&](int first, int count) {
        return KVEL_Interface_RadarDevice_Protocol_GetParameter(
                   device, kReadParamCode, count, RadarParamId + first, values + first,
                   kParamTimeoutMs) != 0;
    });
    if (!ok) {
        DbgOutputA(2, "%s, result: Failed.\r\n", kReadLogName);
        return FailureResult(device);
    }

    params->GateMax = static_cast<int32_t>(values[0]);
    params->ObjectDisappearDelayTime = static_cast<int32_t>(values[1]);
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        params->TriggerThreshold[gate] = EnergyToDb(values[kTriggerFirst + gate]);
        params->HoldThreshold[gate] = EnergyToDb(values[kHoldFirst + gate]);
    }
    DbgOutputA(2, "%s, result: Success\r\n", kReadLogName);
    return kRadarOk;
}

int WriteRadarParams(KVEL_RADAR_HANDLE device, const RadarParamSet* params) {
    if (!KVEL_Interface_RadarDevice_IsConnected(device)) return kRadarNotConnected;

    uint32_t values[kRadarParamCount];
    values[0] = static_cast<uint32_t>(params->GateMax);
    values[1] = static_cast<uint32_t>(params->ObjectDisappearDelayTime);
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        values[kTriggerFirst + gate] = RadarThresholdFromDb(params->TriggerThreshold[gate]);
        values[kHoldFirst + gate] = RadarThresholdFromDb(params->HoldThreshold[gate]);
    }

    const int batch =
        RadarWriteBatchSize(KVEL_Interface_RadarDevice_Protocol_GetWriteBufferMaxSize(device));
    const bool ok = SendInBatches(batch, [&](int first, int count) {
        return KVEL_Interface_RadarDevice_Protocol_SetParameter(
                   device, kWriteParamCode, count, RadarParamId + first, values + first,
                   kParamTimeoutMs) != 0;
    });
    DbgOutputA(2, "%s, result: %s\r\n", kWriteLogName, ok ? "Success" : "Failed");
    return ok ? kRadarOk : FailureResult(device);
}

// The module's detection parameters and their reading and writing on the
// module. Thresholds are held in dB; the module holds linear power.
#pragma once

#include <cstdint>

#include "device/KVEL_DataProcess.h"
#include "device/RadarProtocol.h"

constexpr int kRadarGateCount = radar_protocol::kGateCount;
constexpr int kRadarParamCount = radar_protocol::kParamCount;

// The values a set starts with (params/RadarParamModel.h has the limits).
constexpr int32_t kRadarDefaultGateMax = 15;
constexpr int32_t kRadarDefaultAbsenceDelay = 10;
constexpr double kRadarDefaultThresholdDb = 30.0;

struct RadarParamSet {
    RadarParamSet() {
        for (double& threshold : TriggerThreshold) threshold = kRadarDefaultThresholdDb;
        for (double& threshold : HoldThreshold) threshold = kRadarDefaultThresholdDb;
    }
    int32_t GateMax = kRadarDefaultGateMax;
    int32_t ObjectDisappearDelayTime = kRadarDefaultAbsenceDelay;
    double TriggerThreshold[kRadarGateCount];
    double HoldThreshold[kRadarGateCount];
};

// The module's parameter IDs in the order of every read and write.
extern const uint16_t* const RadarParamId;

// Results of the operations that talk to the module.
constexpr int kRadarOk = 0;
constexpr int kRadarNotConnected = 1;
constexpr int kRadarNoAnswer = 2;
// The module answered with a failing status.
constexpr int kRadarRefused = 3;

// module -> dB is the decibel rule of device/Decibels.h (EnergyToDb).
// dB -> module: round(10^(d / 10)) with halves away from zero for d > 0,
// 0 for d <= 0 (and for NaN); values beyond 32 bits saturate at 0xFFFFFFFF.
uint32_t RadarThresholdFromDb(double db);

// Batch sizes for a maximum frame size; 0 when not even one value fits.
int RadarReadBatchSize(int maxFrameSize);
int RadarWriteBatchSize(int maxFrameSize);

int ReadRadarParams(KVEL_RADAR_HANDLE device, RadarParamSet* params);
int WriteRadarParams(KVEL_RADAR_HANDLE device, const RadarParamSet* params);

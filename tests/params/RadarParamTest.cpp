#include "device/Decibels.h"
#include "params/RadarParam.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

TEST(RadarThresholdTest, ModuleValuesToDecibels) {
    EXPECT_DOUBLE_EQ(EnergyToDb(0), 0.0);
    EXPECT_DOUBLE_EQ(EnergyToDb(1), 0.0);
    EXPECT_DOUBLE_EQ(EnergyToDb(10), 10.0);
    EXPECT_DOUBLE_EQ(EnergyToDb(1000), 30.0);
    EXPECT_NEAR(EnergyToDb(0xFFFFFFFFu), 96.33, 0.01);
}

TEST(RadarThresholdTest, DecibelsToModuleValues) {
    EXPECT_EQ(RadarThresholdFromDb(30.0), 1000u);
    EXPECT_EQ(RadarThresholdFromDb(0.5), 1u);  // round(1.122...)
    EXPECT_EQ(RadarThresholdFromDb(0.0), 0u);
    EXPECT_EQ(RadarThresholdFromDb(-3.0), 0u);
    EXPECT_EQ(RadarThresholdFromDb(std::nan("")), 0u);
    EXPECT_EQ(RadarThresholdFromDb(90.0), 1000000000u);
    EXPECT_EQ(RadarThresholdFromDb(1.0), 1u);  // 1.2589 rounds down
    EXPECT_EQ(RadarThresholdFromDb(3.0), 2u);  // 1.995 rounds up
}

TEST(RadarThresholdTest, ValuesBeyondThirtyTwoBitsSaturate) {
    EXPECT_EQ(RadarThresholdFromDb(96.3), 4265795188u);
    EXPECT_EQ(RadarThresholdFromDb(96.4), 0xFFFFFFFFu);
    EXPECT_EQ(RadarThresholdFromDb(200.0), 0xFFFFFFFFu);
    EXPECT_EQ(RadarThresholdFromDb(std::numeric_limits<double>::infinity()), 0xFFFFFFFFu);
}

TEST(RadarThresholdTest, PageRangeSurvivesARoundTripToTheModule) {
    for (double db = 1.0; db <= 90.0; db += 0.5) {
        const double back = EnergyToDb(RadarThresholdFromDb(db));
        EXPECT_NEAR(back, db, 1.8) << db;  // 1 dB steps are coarse only at the bottom
        if (db >= 30.0) {
            EXPECT_NEAR(back, db, 0.01) << db;
        }
    }
}

// The batches a frame size gives: full batches, then the remainder.
std::vector<int> Batches(int size) {
    std::vector<int> batches;
    for (int left = 34; size > 0 && left > 0; left -= std::min(size, left)) {
        batches.push_back(std::min(size, left));
    }
    return batches;
}

TEST(RadarBatchTest, BatchSizesFollowTheFrameSize) {
    EXPECT_EQ(RadarReadBatchSize(64), 13);
    EXPECT_EQ(RadarWriteBatchSize(64), 8);
    EXPECT_EQ(Batches(RadarReadBatchSize(64)), (std::vector<int>{13, 13, 8}));
    EXPECT_EQ(Batches(RadarWriteBatchSize(64)), (std::vector<int>{8, 8, 8, 8, 2}));
    EXPECT_EQ(RadarReadBatchSize(172), 40);
    EXPECT_EQ(Batches(RadarReadBatchSize(172)), (std::vector<int>{34}));
    EXPECT_EQ(RadarReadBatchSize(16), 1);
    EXPECT_EQ(RadarWriteBatchSize(18), 1);
}

TEST(RadarBatchTest, FramesTooSmallForOneValueGiveNoBatch) {
    for (int size : {-5, 0, 11, 12, 15}) EXPECT_EQ(RadarReadBatchSize(size), 0) << size;
    for (int size : {-5, 0, 12, 17}) EXPECT_EQ(RadarWriteBatchSize(size), 0) << size;
}

TEST(RadarParamIdTest, IdsInModuleOrder) {
    EXPECT_EQ(RadarParamId[0], 0x0001);
    EXPECT_EQ(RadarParamId[1], 0x0004);
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        EXPECT_EQ(RadarParamId[2 + gate], 0x0010 + gate);
        EXPECT_EQ(RadarParamId[18 + gate], 0x0020 + gate);
    }
}

}  // namespace

#include <gtest/gtest.h>

#include "device/KVEL_DataProcess.h"

namespace {

TEST(RadarDataCollector, AveragesEachChannelAndStartsOverOnRestart) {
    CRadarDataCollector collector;
    EXPECT_DOUBLE_EQ(collector.GetCurrentAvgValue(0), 0.0);  // before any start
    collector.StartCollection(16);
    EXPECT_DOUBLE_EQ(collector.GetCurrentAvgValue(3), 0.0);
    collector.UpdateValue(3, 10.0);
    collector.UpdateValue(3, 20.0);
    collector.UpdateValue(15, -4.5);
    EXPECT_DOUBLE_EQ(collector.GetCurrentAvgValue(3), 15.0);
    EXPECT_DOUBLE_EQ(collector.GetCurrentAvgValue(15), -4.5);
    EXPECT_EQ(collector.GetSampleCount(3), 2);
    EXPECT_EQ(collector.GetSampleCount(0), 0);

    collector.StartCollection(16);
    EXPECT_EQ(collector.GetSampleCount(3), 0);
    EXPECT_DOUBLE_EQ(collector.GetCurrentAvgValue(3), 0.0);
}

TEST(RadarDataCollector, ChannelsOutsideTheRangeAreIgnored) {
    CRadarDataCollector collector;
    collector.StartCollection(2);
    collector.UpdateValue(-1, 5.0);
    collector.UpdateValue(2, 5.0);
    EXPECT_DOUBLE_EQ(collector.GetCurrentAvgValue(2), 0.0);
    EXPECT_EQ(collector.GetSampleCount(-1), 0);
    collector.StartCollection(-3);
    collector.UpdateValue(0, 1.0);
    EXPECT_DOUBLE_EQ(collector.GetCurrentAvgValue(0), 0.0);
}

}  // namespace

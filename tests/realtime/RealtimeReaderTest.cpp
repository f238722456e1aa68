#include "realtime/RealtimeReader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "connection/RadarConnection.h"
#include "device/RadarProtocol.h"
#include "emulator/ModuleEmulator.h"
#include "tests/support/QuickReports.h"

namespace {

class RecordingSink : public IRealtimeReportSink {
public:
    void OnEnergySweep(const double* decibels, int count) override {
        std::lock_guard lock(mutex);
        sweeps.emplace_back(decibels, decibels + count);
    }
    void OnDistanceSample(double metres) override {
        std::lock_guard lock(mutex);
        distances.push_back(metres);
    }
    void OnReportTaken() override {
        std::lock_guard lock(mutex);
        ++reports;
    }
    int Reports() {
        std::lock_guard lock(mutex);
        return reports;
    }
    std::mutex mutex;
    std::vector<std::vector<double>> sweeps;
    std::vector<double> distances;
    int reports = 0;
};

std::vector<uint8_t> Payload(uint8_t state, uint16_t distance, uint16_t energy) {
    ObjectReport report;
    report.TargetState = state;
    report.TargetDistance = distance;
    std::fill(std::begin(report.GateEnergy), std::end(report.GateEnergy), energy);
    std::vector<uint8_t> frame(45);
    EncodeObjectReportFrame(report, frame.data());
    return std::vector<uint8_t>(frame.begin() + 6, frame.begin() + 6 + kObjectReportSize);
}

void Feed(CRealtimeReader& reader, uint8_t state, uint16_t distance, uint16_t energy) {
    reader.OnObjectReport(Payload(state, distance, energy).data());
}

// Waits for `condition` for at most `seconds`, without a fixed sleep.
bool WaitFor(const std::function<bool()>& condition, int seconds = 10) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // poll, not wait out
    }
    return true;
}

}  // namespace

TEST(RealtimeReaderTest, ReportBecomesStateSamplesAndHistory) {
    RecordingSink sink;
    CRealtimeReader reader(&sink);
    Feed(reader, 1, 123, 2);

    EXPECT_EQ(reader.TargetState(), 1);
    EXPECT_EQ(reader.TargetDistance(), 123);
    EXPECT_EQ(reader.GateEnergy()[15], 2u);
    ASSERT_EQ(sink.distances.size(), 1u);
    EXPECT_DOUBLE_EQ(sink.distances[0], 1.23);
    ASSERT_EQ(sink.sweeps.size(), 1u);
    EXPECT_NEAR(sink.sweeps[0][0], 3.0103, 1e-4);
    EXPECT_EQ(sink.reports, 1);

    const auto history = reader.PresenceHistory();
    EXPECT_EQ(history.back(), 1);
    EXPECT_EQ(history[history.size() - 2], 0);
    EXPECT_TRUE(reader.TakeHistoryChanged());
    EXPECT_FALSE(reader.TakeHistoryChanged());

    // The history shifts towards the start, one entry per report.
    Feed(reader, 0, 0, 0);
    EXPECT_EQ(reader.PresenceHistory()[CRealtimeReader::kHistoryLength - 2], 1);
    EXPECT_EQ(reader.PresenceHistory().back(), 0);
    EXPECT_DOUBLE_EQ(sink.sweeps[1][0], 0.0);

    reader.ClearLastReport();
    reader.ClearPresenceHistory();
    EXPECT_EQ(reader.TargetState(), 0);
    EXPECT_EQ(reader.TargetDistance(), 0);
    for (uint8_t entry : reader.PresenceHistory()) EXPECT_EQ(entry, 0);
}

TEST(RealtimeReaderTest, CalibrationAveragesCappedCandidatesAndKeepsSilentGates) {
    RecordingSink sink;
    CRealtimeReader reader(&sink);
    CThresholdCalibration& calibration = reader.Calibration();
    calibration.SetSensingScales(5.0, 3.5);

    Feed(reader, 0, 0, 65535);  // no calibration: nothing is taken
    EXPECT_EQ(calibration.Progress().taken, 0);

    calibration.Start(4);
    Feed(reader, 0, 0, 1);  // 1 x 5 = 5
    EXPECT_NEAR(calibration.Progress().trigger[3], 10 * std::log10(5.0), 1e-9);
    EXPECT_NEAR(calibration.Progress().hold[3], 10 * std::log10(3.5), 1e-9);
    Feed(reader, 0, 0, 0);  // 0 x 5 says nothing: the candidate stays
    EXPECT_NEAR(calibration.Progress().trigger[3], 6.9897, 1e-4);
    Feed(reader, 0, 0, 65535);
    EXPECT_NEAR(calibration.Progress().trigger[3], (2 * 6.9897 + 55.154) / 3, 1e-3);
    EXPECT_EQ(calibration.Progress().percent, 75);
    calibration.SetSensingScales(1e5, 1e5);
    Feed(reader, 0, 0, 65535);  // capped at 90 dB
    const CalibrationProgress done = calibration.Progress();
    EXPECT_NEAR(done.trigger[3], (2 * 6.9897 + 55.154 + 90.0) / 4, 1e-3);
    EXPECT_TRUE(done.complete);
    EXPECT_EQ(done.percent, 100);
    Feed(reader, 0, 0, 10);  // complete: no more reports taken
    EXPECT_EQ(calibration.Progress().taken, 4);
    EXPECT_FALSE(calibration.IsRunning());
}

// Against the emulated module on a pseudo-terminal: report mode while the
// worker runs, data transfer mode again once it has stopped.
TEST(RealtimeReaderTest, WorkerSwitchesModesReadsReportsAndStops) {
    emulator::ModuleEmulator module(test_support::QuickReports());
    std::string error;
    ASSERT_TRUE(module.Start(&error)) << error;
    CRadarSession session;
    ASSERT_TRUE(session.Connect(module.PortNumber(), 115200).opened);

    RecordingSink sink;
    {
        CRealtimeReader reader(&sink);
        ASSERT_TRUE(reader.Start(&session));
        EXPECT_FALSE(reader.Start(&session));  // one worker at a time
        EXPECT_TRUE(WaitFor([&] { return sink.Reports() >= 3; }));
        EXPECT_EQ(module.OperatingMode(), radar_protocol::kModeABD);
        // The window's reads while the worker writes (ThreadSanitizer
        // watches this part).
        for (int i = 0; i < 200; ++i) {
            (void)reader.PresenceHistory();
            (void)reader.GateEnergy();
            (void)reader.TargetDistance();
        }
        reader.Stop();
        EXPECT_FALSE(reader.IsRunning());
        EXPECT_EQ(module.OperatingMode(), radar_protocol::kModeDataTransfer);
        EXPECT_FALSE(module.InCommandMode());
        // Starting again after a stop works.
        ASSERT_TRUE(reader.Start(&session));
        const int before = sink.Reports();
        EXPECT_TRUE(WaitFor([&] { return sink.Reports() > before; }));
    }  // the destructor stops the worker
    EXPECT_EQ(module.OperatingMode(), radar_protocol::kModeDataTransfer);
    for (const auto& sweep : sink.sweeps) EXPECT_EQ(sweep.size(), 16u);
}

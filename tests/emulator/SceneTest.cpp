#include "emulator/Scene.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/common/TempFolder.h"
#include "tests/common/TextFile.h"

namespace {

using emulator::DetectionSettings;
using emulator::Scene;
using emulator::SceneReport;

constexpr uint32_t kNeverReached = 1000000000;  // 90 dB
constexpr int kTicksPerSecond = 10;
constexpr int kTwoCycles = 130 * kTicksPerSecond;

std::vector<SceneReport> RunScene(uint32_t seed, const DetectionSettings& settings, int ticks) {
    Scene scene(seed);
    std::vector<SceneReport> reports;
    for (int i = 0; i < ticks; ++i) reports.push_back(scene.Step(settings));
    return reports;
}

DetectionSettings WithThresholds(uint32_t trigger, uint32_t hold) {
    DetectionSettings settings = DetectionSettings::Defaults();
    settings.trigger.fill(trigger);
    settings.hold.fill(hold);
    return settings;
}

bool SameReport(const SceneReport& a, const SceneReport& b) {
    return a.state == b.state && a.distanceCm == b.distanceCm && a.gateEnergy == b.gateEnergy;
}

// The first tick at or after `from` whose state is `state`; -1 when none.
int FirstWithState(const std::vector<SceneReport>& reports, int from, uint8_t state) {
    for (int i = from; i < static_cast<int>(reports.size()); ++i) {
        if (reports[i].state == state) return i;
    }
    return -1;
}

TEST(SceneTest, SameSeedGivesSameStreamAndAnotherSeedDoesNot) {
    const DetectionSettings settings = DetectionSettings::Defaults();
    const auto first = RunScene(7, settings, 600);
    const auto again = RunScene(7, settings, 600);
    const auto other = RunScene(8, settings, 600);
    int same = 0;
    int sameAsOther = 0;
    for (size_t i = 0; i < first.size(); ++i) {
        same += SameReport(first[i], again[i]);
        sameAsOther += SameReport(first[i], other[i]);
    }
    EXPECT_EQ(same, 600);
    EXPECT_LT(sameAsOther, 10);
}

TEST(SceneTest, NoiseFloorStaysLowAndFallsWithDistance) {
    Scene scene(3);
    const DetectionSettings settings = DetectionSettings::Defaults();
    double nearSum = 0, farSum = 0;
    int quiet = 0;
    for (int i = 0; i < kTwoCycles; ++i) {
        const SceneReport report = scene.Step(settings);
        if (scene.TargetMetres() >= 0) continue;
        ++quiet;
        for (uint16_t energy : report.gateEnergy) {
            EXPECT_GT(energy, 10);    // about 10 dB and more
            EXPECT_LT(energy, 1000);  // below the 30 dB defaults
        }
        nearSum += report.gateEnergy[0];
        farSum += report.gateEnergy[15];
    }
    ASSERT_GT(quiet, 50);
    EXPECT_GT(nearSum, 4 * farSum);
}

TEST(SceneTest, TargetWalksInStandsAndLeavesOnACycle) {
    Scene scene(5);
    const DetectionSettings settings = DetectionSettings::Defaults();
    int moving = 0, standing = 0, gone = 0, arrivals = 0;
    bool wasGone = true;
    for (int i = 0; i < kTwoCycles; ++i) {
        scene.Step(settings);
        const bool inRange = scene.TargetMetres() >= 0 && scene.TargetMetres() < 11.2;
        if (!inRange) {
            ++gone;
        } else {
            (scene.TargetMoving() ? moving : standing)++;
            if (wasGone) ++arrivals;
        }
        wasGone = !inRange;
    }
    EXPECT_GE(arrivals, 2);  // 130 s hold two cycles of 40-60 s
    EXPECT_GT(moving, 20 * kTicksPerSecond);
    EXPECT_GT(standing, 20 * kTicksPerSecond);
    EXPECT_GT(gone, 8 * kTicksPerSecond);
}

TEST(SceneTest, UnreachableThresholdsNeverReportPresence) {
    for (const auto& report :
         RunScene(11, WithThresholds(kNeverReached, kNeverReached), kTwoCycles)) {
        ASSERT_EQ(report.state, 0);
        ASSERT_EQ(report.distanceCm, 0);
    }
}

TEST(SceneTest, LowThresholdsReportPresenceAtOnce) {
    const auto reports = RunScene(11, WithThresholds(1, 1), 100);
    for (const auto& report : reports) {
        ASSERT_EQ(report.state, 1);
        ASSERT_GT(report.distanceCm, 0);
    }
}

TEST(SceneTest, DefaultsFollowTheTargetInAndOut) {
    Scene scene(2);
    const DetectionSettings settings = DetectionSettings::Defaults();
    int presentWhileNear = 0, nearTicks = 0, distanceOff = 0;
    bool absentOnceGone = false;
    double goneFor = 0;
    for (int i = 0; i < kTwoCycles; ++i) {
        const SceneReport report = scene.Step(settings);
        const double metres = scene.TargetMetres();
        goneFor = metres < 0 ? goneFor + 0.1 : 0;
        if (metres >= 0 && metres < 10.0) {
            ++nearTicks;
            presentWhileNear += report.state;
            // The reported gate is the person's gate, give or take one.
            const double reported = report.distanceCm / 100.0;
            if (report.state == 1 && (reported < metres - 0.8 || reported > metres + 0.8))
                ++distanceOff;
        }
        if (goneFor > settings.absenceDelaySeconds + 1.5 && report.state == 0)
            absentOnceGone = true;
    }
    EXPECT_EQ(presentWhileNear, nearTicks);
    EXPECT_EQ(distanceOff, 0);
    EXPECT_TRUE(absentOnceGone);
}

TEST(SceneTest, AbsenceIsReportedOnlyAfterTheDelay) {
    DetectionSettings shortDelay = DetectionSettings::Defaults();
    shortDelay.absenceDelaySeconds = 2;
    DetectionSettings longerDelay = shortDelay;
    longerDelay.absenceDelaySeconds = 4;
    const auto a = RunScene(9, shortDelay, kTwoCycles);
    const auto b = RunScene(9, longerDelay, kTwoCycles);
    const int present = FirstWithState(a, 0, 1);
    ASSERT_GE(present, 0);
    EXPECT_EQ(FirstWithState(b, 0, 1), present);
    const int endA = FirstWithState(a, present, 0);
    const int endB = FirstWithState(b, present, 0);
    ASSERT_GT(endA, present);
    // The energies are the same; only the wait after the last echo differs.
    EXPECT_EQ(endB - endA, 2 * kTicksPerSecond);

    DetectionSettings noDelay = shortDelay;
    noDelay.absenceDelaySeconds = 0;
    const auto c = RunScene(9, noDelay, kTwoCycles);
    // Without a delay absence follows the first report without an echo.
    EXPECT_EQ(FirstWithState(c, present, 0), endA - 2 * kTicksPerSecond + 1);
}

TEST(SceneTest, HoldThresholdKeepsAStandingTargetPresent) {
    // Trigger only on a walking person; hold at 30 dB or at the trigger level.
    DetectionSettings holdLow = WithThresholds(3981, 1000);
    holdLow.absenceDelaySeconds = 3;
    DetectionSettings holdHigh = WithThresholds(3981, 3981);
    holdHigh.absenceDelaySeconds = 3;
    Scene low(4), high(4);
    int standingTicks = 0, heldLow = 0, heldHigh = 0;
    double standingFor = 0;
    for (int i = 0; i < kTwoCycles; ++i) {
        const SceneReport a = low.Step(holdLow);
        const SceneReport b = high.Step(holdHigh);
        standingFor = (low.TargetMetres() >= 0 && !low.TargetMoving()) ? standingFor + 0.1 : 0;
        if (standingFor > holdLow.absenceDelaySeconds + 1.0) {
            ++standingTicks;
            heldLow += a.state;
            heldHigh += b.state;
        }
    }
    ASSERT_GT(standingTicks, 10);
    EXPECT_EQ(heldLow, standingTicks);
    EXPECT_EQ(heldHigh, 0);
}

TEST(SceneTest, LargestGateLimitsDetection) {
    DetectionSettings nearOnly = DetectionSettings::Defaults();
    nearOnly.gateMax = 0;
    for (const auto& report : RunScene(6, nearOnly, kTwoCycles)) ASSERT_EQ(report.state, 0);

    DetectionSettings toGate7 = DetectionSettings::Defaults();
    toGate7.gateMax = 7;
    int present = 0;
    for (const auto& report : RunScene(6, toGate7, kTwoCycles)) {
        present += report.state;
        ASSERT_LT(report.distanceCm, 8 * 70);
    }
    EXPECT_GT(present, 0);

    // Above 15 the module uses 15.
    DetectionSettings beyond = DetectionSettings::Defaults();
    beyond.gateMax = 1000;
    const auto a = RunScene(6, beyond, 600);
    const auto b = RunScene(6, DetectionSettings::Defaults(), 600);
    for (size_t i = 0; i < a.size(); ++i) ASSERT_TRUE(SameReport(a[i], b[i]));
}

}  // namespace

namespace {

TEST(SceneTest, ConstantSceneReportsTheSameEnergyInEveryGateAndNobody) {
    emulator::SceneChoice choice;
    choice.constantEnergy = 100;
    Scene scene(5, choice);
    const DetectionSettings settings = DetectionSettings::Defaults();
    for (int tick = 0; tick < 1300; ++tick) {
        const SceneReport report = scene.Step(settings);
        for (uint16_t energy : report.gateEnergy) ASSERT_EQ(energy, 100);
        ASSERT_EQ(report.state, 0);
        ASSERT_EQ(report.distanceCm, 0);
    }
}

TEST(SceneTest, ConstantSceneOverAThresholdIsDetected) {
    emulator::SceneChoice choice;
    choice.constantEnergy = 2000;
    Scene scene(5, choice);
    const SceneReport report = scene.Step(WithThresholds(1000, 1000));
    EXPECT_EQ(report.state, 1);
}

TEST(SceneTest, SceneNamesAreParsedStrictly) {
    emulator::SceneChoice choice;
    std::string error;
    ASSERT_TRUE(emulator::ParseSceneChoice("constant:100", &choice, &error));
    EXPECT_EQ(choice.constantEnergy, std::optional<uint16_t>(100));
    ASSERT_TRUE(emulator::ParseSceneChoice("constant:0", &choice, &error));
    EXPECT_EQ(choice.constantEnergy, std::optional<uint16_t>(0));
    ASSERT_TRUE(emulator::ParseSceneChoice("walk", &choice, &error));
    EXPECT_FALSE(choice.constantEnergy.has_value());
    for (const char* bad :
         {"constant:", "constant:65536", "constant:-1", "constant:1x", "constant", "still", ""}) {
        error.clear();
        EXPECT_FALSE(emulator::ParseSceneChoice(bad, &choice, &error)) << bad;
        EXPECT_NE(error.find("--scene"), std::string::npos) << bad;
    }
}

// A report frame around `payload`; `tailer` replaces the right one.
std::string ReportFrame(const std::string& payload, const char* tailer = "\xF8\xF7\xF6\xF5") {
    std::string frame = "\xF4\xF3\xF2\xF1";
    frame += static_cast<char>(payload.size());
    frame += static_cast<char>(payload.size() >> 8);
    return frame + payload + std::string(tailer, 4);
}

std::string Bytes(std::span<const uint8_t> bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// A recording's reports are its whole frames of either report's length,
// each with the frames of other lengths that came after it; a cut frame, a
// broken one and noise are passed over.
TEST(RecordingTest, ReportsAreTheWholeReportFramesAndOnlyALoopStartsAgain) {
    const std::string basic = "\x01\x2C\x01";
    const std::string object(35, '\x21');
    const std::string other20(20, '\x22'), other0;
    TempFolder folder;
    const std::string path = folder.File("recording.dat");
    WriteText(path, ReportFrame(object).substr(25) + "\x01\x02" + ReportFrame(basic) +
                        ReportFrame(other20) + "\x00" + ReportFrame(other0) +
                        ReportFrame(std::string(35, '\x23'), "\xF5\xF6\xF7\xF8") +
                        ReportFrame(object) + ReportFrame(basic).substr(0, 9));
    for (const bool loop : {false, true}) {
        emulator::Recording recording;
        std::string error;
        ASSERT_TRUE(recording.Load(path, loop, &error)) << error;
        ASSERT_EQ(recording.ReportCount(), 2u);
        const auto& followers = recording.Current()->followingFrames;
        EXPECT_EQ(Bytes(recording.Current()->payload), basic);
        ASSERT_EQ(followers.size(), 2u);
        EXPECT_EQ(Bytes(followers[0]) + Bytes(followers[1]),
                  ReportFrame(other20) + ReportFrame(other0));
        recording.Advance();
        EXPECT_EQ(Bytes(recording.Current()->payload), object);
        EXPECT_TRUE(recording.Current()->followingFrames.empty());
        recording.Advance();
        recording.Advance();  // around again, or still at its end
        EXPECT_EQ(recording.Current() ? Bytes(recording.Current()->payload) : "end",
                  loop ? object : "end");
    }
}

}  // namespace

// The noise scan run without its page: the distance rule, replaying radar
// data files written here, and recording from the emulated module.
#include "capture/NoiseScan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "capture/RadarDataFile.h"
#include "params/RadarParamFile.h"
#include "tests/common/TempFolder.h"
#include "tests/common/TextFile.h"
#include "tests/support/ConnectedModule.h"
#include "xml/XMLParser.h"

namespace {

namespace rp = radar_protocol;
using Bytes = std::string;
using Gates = std::array<uint16_t, noise_scan::kGateCount>;
constexpr auto kRunTimeout = std::chrono::seconds(30);

Bytes Frame(const Gates& energy) {
    ObjectReport report;
    std::copy(energy.begin(), energy.end(), report.GateEnergy);
    char frame[45];
    EncodeObjectReportFrame(report, reinterpret_cast<uint8_t*>(frame));
    return Bytes(frame, sizeof frame);
}

// Report i carries raw energy 100 + i in every gate and 1000 + i in gate 4,
// so that each series value names its report.
Bytes NumberedFrames(int first, int count) {
    Bytes stream;
    for (int i = first; i < first + count; ++i) {
        Gates energy;
        energy.fill(static_cast<uint16_t>(100 + i));
        energy[4] = static_cast<uint16_t>(1000 + i);
        stream += Frame(energy);
    }
    return stream;
}

double NumberedEnergy(int report) { return EnergyToDb(static_cast<uint32_t>(1000 + report)); }

// What the worker handed over, kept for the test thread.
class RunLog : public ICaptureObserver {
public:
    void OnReportCounted(const CaptureSeries& series, int index, const double* gateDb) override {
        std::lock_guard lock(m_mutex);
        counted.push_back(index);
        lastGateDb.assign(gateDb, gateDb + noise_scan::kGateCount);
        if (index == snapshotAt) snapshot = series;
    }
    void OnRecordingFileFailed(const std::wstring& path) override {
        std::lock_guard lock(m_mutex);
        failedFiles.push_back(path);
    }
    void OnRunEnded(int runId, CaptureRunEnd end) override {
        std::lock_guard lock(m_mutex);
        ends.emplace_back(runId, end);
        m_changed.notify_all();
    }

    // The end of run `runId`, once it has come; nullopt after the time-out.
    std::optional<CaptureRunEnd> WaitForEnd(int runId) {
        std::unique_lock lock(m_mutex);
        const auto ended = [&] {
            for (const auto& [id, end] : ends)
                if (id == runId) return true;
            return false;
        };
        if (!m_changed.wait_for(lock, kRunTimeout, ended)) return std::nullopt;
        for (const auto& [id, end] : ends)
            if (id == runId) return end;
        return std::nullopt;
    }
    template <typename Read>
    auto Locked(Read read) {
        std::lock_guard lock(m_mutex);
        return read();
    }

    std::vector<int> counted;
    std::vector<double> lastGateDb;
    std::vector<std::wstring> failedFiles;
    std::vector<std::pair<int, CaptureRunEnd>> ends;
    int snapshotAt = -1;
    CaptureSeries snapshot;

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
};

// Polls `condition` until it holds, for at most the run time-out.
bool WaitFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + kRunTimeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::wstring Wide(const std::string& path) { return AnsiToWide(path); }

class NoiseScanReplayTest : public ::testing::Test {
protected:
    // Replays `file` charting `gate`; how the run ended, nullopt when it did not start.
    std::optional<CaptureRunEnd> Replay(const std::string& file, int gate = 4) {
        CaptureRunRequest request;
        request.mode = CaptureMode::Replay;
        request.file = Wide(file);
        request.gate = gate;
        request.params = params;
        if (!scan.Start(request)) return std::nullopt;
        const std::optional<CaptureRunEnd> end = log.WaitForEnd(scan.RunId());
        scan.Stop();
        return end;
    }
    std::string Write(const std::string& name, const Bytes& content) {
        const std::string path = folder.File(name);
        WriteText(path, content);
        return path;
    }

    TempFolder folder;
    RadarParamSet params;
    RunLog log;
    CNoiseScan scan{&log};
};

}  // namespace

TEST(NoiseScanDistanceTest, StrongestGateAboveItsTriggerWinsAndTheLowerGateWinsATie) {
    double trigger[noise_scan::kGateCount];
    std::fill(std::begin(trigger), std::end(trigger), 30.0);
    trigger[3] = 25.0;
    trigger[5] = 25.0;
    trigger[7] = 45.0;
    double energy[noise_scan::kGateCount] = {};
    energy[3] = 30.0;
    energy[7] = 40.0;  // stronger, but under its own trigger
    EXPECT_DOUBLE_EQ(StrongestGateDistance(energy, trigger), 0.7 * 3);
    energy[5] = 30.0;
    EXPECT_DOUBLE_EQ(StrongestGateDistance(energy, trigger), 0.7 * 3);
    energy[5] = 30.5;
    EXPECT_DOUBLE_EQ(StrongestGateDistance(energy, trigger), 0.7 * 5);

    double quiet[noise_scan::kGateCount] = {};
    quiet[6] = 30.0;  // equal to its trigger is not above it
    EXPECT_DOUBLE_EQ(StrongestGateDistance(quiet, trigger), 0.0);
}

// The same rule on reports read from a file: raw 1000 is 30 dB, raw 10000
// 40 dB, raw 316 under 25 dB.
TEST_F(NoiseScanReplayTest, ReportsBecomeTheSelectedGatesEnergyAndTheStrongestGatesDistance) {
    params.TriggerThreshold[3] = 25.0;
    params.TriggerThreshold[5] = 25.0;
    params.TriggerThreshold[7] = 45.0;
    Gates gate3And7{};
    gate3And7[3] = 1000;
    gate3And7[7] = 10000;
    Gates tie = gate3And7;
    tie[5] = 1000;
    Gates nothingAbove{};
    nothingAbove.fill(316);
    nothingAbove[15] = 1000;  // 30 dB, equal to its trigger
    const std::string file = Write("rule.dat", Frame(gate3And7) + Frame(tie) + Frame(nothingAbove));

    scan.ResetSeries(noise_scan::kMinSeconds);
    ASSERT_EQ(Replay(file, 15), CaptureRunEnd::SourceEnded);
    const CaptureSeries series = scan.CopySeries();
    EXPECT_EQ(scan.Count(), 3);
    EXPECT_NEAR(series.distance[0], 2.1, 1e-12);
    EXPECT_NEAR(series.distance[1], 2.1, 1e-12);
    EXPECT_DOUBLE_EQ(series.distance[2], 0.0);
    EXPECT_DOUBLE_EQ(series.energy[0], 0.0);  // gate 15 silent (raw 0)
    EXPECT_DOUBLE_EQ(series.energy[2], 30.0);
    EXPECT_EQ(log.counted, (std::vector<int>{0, 1, 2}));
    ASSERT_EQ(log.lastGateDb.size(), 16u);
    EXPECT_NEAR(log.lastGateDb[0], 10 * std::log10(316.0), 1e-12);

    // Out-of-range gates are held to the gates there are.
    ASSERT_EQ(Replay(file, 99), CaptureRunEnd::SourceEnded);
    EXPECT_DOUBLE_EQ(scan.CopySeries().energy[2], 30.0);
}

TEST_F(NoiseScanReplayTest, FilesEndTheRunAtTheirEndOrAtTheScansLastReport) {
    scan.ResetSeries(noise_scan::kMinSeconds);  // 100 reports
    const int capacity = ScanCapacity(noise_scan::kMinSeconds);

    // More reports than the scan: only the first 100 are counted.
    const std::string longFile = Write("long.dat", NumberedFrames(0, 150));
    ASSERT_EQ(Replay(longFile), CaptureRunEnd::Finished);
    EXPECT_EQ(scan.Count(), capacity);
    const CaptureSeries full = scan.CopySeries();
    ASSERT_EQ(full.Capacity(), capacity);
    for (int i = 0; i < capacity; ++i) ASSERT_DOUBLE_EQ(full.energy[i], NumberedEnergy(i)) << i;
    EXPECT_EQ(log.counted.size(), static_cast<size_t>(capacity));
    // Replaying again, or for another gate, reads the same reports.
    ASSERT_EQ(Replay(longFile, 0), CaptureRunEnd::Finished);
    EXPECT_DOUBLE_EQ(scan.CopySeries().energy[99], EnergyToDb(100 + 99));
    ASSERT_EQ(Replay(longFile), CaptureRunEnd::Finished);
    EXPECT_EQ(scan.CopySeries().energy, full.energy);

    // A short file that begins inside a frame: the broken start is skipped,
    // the run ends at the end of the file and later values stay.
    const Bytes cut = NumberedFrames(500, 1).substr(17);
    const std::string shortFile = Write("short.dat", cut + NumberedFrames(200, 30));
    ASSERT_EQ(Replay(shortFile), CaptureRunEnd::SourceEnded);
    EXPECT_EQ(scan.Count(), 30);
    const CaptureSeries partly = scan.CopySeries();
    EXPECT_DOUBLE_EQ(partly.energy[0], NumberedEnergy(200));
    EXPECT_DOUBLE_EQ(partly.energy[29], NumberedEnergy(229));
    for (int i = 30; i < capacity; ++i) ASSERT_DOUBLE_EQ(partly.energy[i], full.energy[i]) << i;

    // Empty: ends at once, nothing changes.
    ASSERT_EQ(Replay(Write("empty.dat", "")), CaptureRunEnd::SourceEnded);
    EXPECT_EQ(scan.Count(), 0);
    EXPECT_EQ(scan.CopySeries().energy, partly.energy);

    // Not a radar data file at all: no report, no complaint.
    ASSERT_EQ(Replay(Write("other.dat", Bytes(5000, 'x'))), CaptureRunEnd::SourceEnded);
    EXPECT_EQ(scan.Count(), 0);

    // Missing, or a folder: the run says so and touches nothing.
    const size_t countedBefore = log.counted.size();
    ASSERT_EQ(Replay(folder.File("missing.dat")), CaptureRunEnd::FileUnreadable);
    EXPECT_EQ(log.counted.size(), countedBefore);
    EXPECT_EQ(scan.FilePath(), Wide(folder.File("missing.dat")));
    EXPECT_TRUE(log.failedFiles.empty());  // that is for recordings only
    EXPECT_EQ(Replay(folder.Path()), CaptureRunEnd::FileUnreadable);

    // A reset zeroes the values; a scan without reports does not start.
    scan.ResetSeries(noise_scan::kMinSeconds);
    EXPECT_EQ(scan.CopySeries().energy, std::vector<double>(capacity, 0.0));
    CNoiseScan unsized(&log);
    CaptureRunRequest request;
    request.mode = CaptureMode::Replay;
    request.file = Wide(longFile);
    EXPECT_FALSE(unsized.Start(request));
}

TEST(RadarDataWriterTest, KeepsEveryChunkAndSaysWhenItCannot) {
    TempFolder folder;
    RadarDataWriter writer;
    ASSERT_TRUE(writer.Open(Wide(folder.File("a.dat"))));
    const Bytes first = NumberedFrames(0, 2).substr(0, 61);
    const Bytes second = NumberedFrames(0, 2).substr(61);
    writer.OnChunk(reinterpret_cast<const uint8_t*>(first.data()), first.size());
    // Handed to the system already: a reader sees it before the close.
    EXPECT_EQ(ReadText(folder.File("a.dat")), first);
    writer.OnChunk(reinterpret_cast<const uint8_t*>(second.data()), second.size());
    EXPECT_TRUE(writer.Close());
    EXPECT_EQ(ReadText(folder.File("a.dat")), NumberedFrames(0, 2));
    EXPECT_EQ(writer.BytesWritten(), 90u);

    RadarDataWriter nowhere;
    EXPECT_FALSE(nowhere.Open(Wide(folder.File("no/such/folder.dat"))));
    EXPECT_TRUE(nowhere.Failed());
    EXPECT_FALSE(nowhere.Close());

    const std::wstring data = MakeRadarDataPath(Wide(folder.Path()));
    const std::string name = std::filesystem::path(WideToAnsi(data)).filename().string();
    EXPECT_TRUE(name.starts_with("RadarData_") && name.ends_with(".dat")) << name;
    EXPECT_NE(MakeRadarDataPath(Wide(folder.Path())), data);  // each recording a file of its own
    EXPECT_EQ(RadarDataSidePath(data), data.substr(0, data.size() - 4) + L".xml");
    EXPECT_TRUE(MakeRadarDataPath(std::wstring(KVEL_MAX_PATH, L'd')).empty());
}

namespace {

// The module on a pseudo-terminal, and every report frame it sent, in order.
class NoiseScanRecordingTest : public ::testing::Test {
protected:
    void SetUp() override {
        emulator::Options options = test_support::QuickReports();
        options.realTiming = false;
        options.onReportSent = [this](const uint8_t* payload, size_t size) {
            if (size != static_cast<size_t>(kObjectReportSize)) return;
            char frame[45];
            EncodeObjectReportFrame(DecodeObjectReport(payload), reinterpret_cast<uint8_t*>(frame));
            std::lock_guard lock(m_sentMutex);
            m_sent.append(frame, sizeof frame);
        };
        module = std::make_unique<ConnectedModule>(options);
        ASSERT_TRUE(module->started && module->opened);
        params.TriggerThreshold[2] = 21.5;
        params.HoldThreshold[9] = 12.25;
        origin.version = "V9.8.7.6";
        origin.serial = "SN-CAPTURE";
        origin.baudRate = 115200;
    }
    void TearDown() override { scan.Stop(); }

    int StartRecording(const std::string& saveFolder) {
        CaptureRunRequest request;
        request.mode = CaptureMode::Record;
        request.session = &module->session;
        request.folder = Wide(saveFolder);
        request.gate = 4;
        request.params = params;
        request.origin = origin;
        EXPECT_TRUE(scan.Start(request));
        return scan.RunId();
    }
    // Where the next recording's reports will start in what the module sent.
    void MarkNextRecording() {
        std::lock_guard lock(m_sentMutex);
        m_mark = m_sent.size();
    }
    // The data file holds exactly what came down the line since the mark:
    // nothing lost, doubled or changed, and at least `reports` whole frames.
    void ExpectFileIsWhatTheLineSent(int reports) {
        const Bytes file = ReadText(WideToAnsi(scan.FilePath()));
        std::lock_guard lock(m_sentMutex);
        ASSERT_GE(file.size(), static_cast<size_t>(45 * reports));
        ASSERT_LE(m_mark + file.size(), m_sent.size());
        EXPECT_TRUE(m_sent.compare(m_mark, file.size(), file) == 0);
    }

    std::unique_ptr<ConnectedModule> module;
    TempFolder folder;
    RadarParamSet params;
    RecordingOrigin origin;
    RunLog log;
    CNoiseScan scan{&log};

private:
    std::mutex m_sentMutex;
    Bytes m_sent;
    size_t m_mark = 0;
};

}  // namespace

TEST_F(NoiseScanRecordingTest, ScanEndsAfterItsLastReportAndItsFilesReplayTheSameSeries) {
    scan.ResetSeries(noise_scan::kMinSeconds);
    const std::string saveFolder = folder.File("not/yet/there");
    const int run = StartRecording(saveFolder);
    EXPECT_TRUE(WaitFor([&] { return module->emulator->OperatingMode() == rp::kModeABD; }));
    EXPECT_EQ(log.WaitForEnd(run), CaptureRunEnd::Finished);
    scan.Stop();
    EXPECT_EQ(scan.Count(), 100);
    EXPECT_EQ(log.counted.size(), 100u);
    EXPECT_EQ(log.ends.size(), 1u);
    EXPECT_TRUE(log.failedFiles.empty());
    EXPECT_EQ(module->emulator->OperatingMode(), rp::kModeDataTransfer);
    EXPECT_FALSE(module->emulator->InCommandMode());
    EXPECT_EQ(std::filesystem::path(WideToAnsi(scan.FilePath())).parent_path(), saveFolder);
    ExpectFileIsWhatTheLineSent(100);

    // The side file is a parameter file that also says where the data came from.
    const std::wstring side = RadarDataSidePath(scan.FilePath());
    RadarParamSet loaded;
    loaded.TriggerThreshold[2] = 0;
    ASSERT_TRUE(LoadRadarParamFile(side.c_str(), &loaded));
    EXPECT_DOUBLE_EQ(loaded.TriggerThreshold[2], 21.5);
    EXPECT_DOUBLE_EQ(loaded.HoldThreshold[9], 12.25);
    const Bytes sideText = ReadText(WideToAnsi(side));
    XMLParser parser;
    ASSERT_TRUE(parser.LoadFromMemory(sideText.data(), sideText.size()));
    const XMLNode root = parser.GetRoot().FindChild(kRadarParamElement);
    EXPECT_STREQ(root.GetAttribute("ModuleVersion"), "V9.8.7.6");
    EXPECT_STREQ(root.GetAttribute("ModuleSerialNumber"), "SN-CAPTURE");
    EXPECT_STREQ(root.GetAttribute("BaudRate"), "115200");
    EXPECT_STREQ(root.GetAttribute("ScanDuration"), "10");
    ASSERT_NE(root.GetAttribute("StartTime"), nullptr);
    EXPECT_EQ(std::strlen(root.GetAttribute("StartTime")), 19u);  // "YYYY-MM-DD hh:mm:ss"

    // Replayed, the file gives the recording's series again.
    const CaptureSeries recorded = scan.CopySeries();
    const std::wstring recording = scan.FilePath();
    scan.ResetSeries(noise_scan::kMinSeconds);
    CaptureRunRequest replay;
    replay.mode = CaptureMode::Replay;
    replay.file = recording;
    replay.gate = 4;
    replay.params = params;
    ASSERT_TRUE(scan.Start(replay));
    EXPECT_EQ(log.WaitForEnd(scan.RunId()), CaptureRunEnd::Finished);
    scan.Stop();
    EXPECT_EQ(scan.CopySeries().energy, recorded.energy);
    EXPECT_EQ(scan.CopySeries().distance, recorded.distance);

    // A second recording without a reset overwrites as it goes: beyond its
    // index the first run's values are still there. Stopped early, its file
    // still holds every byte read.
    log.Locked([&] { log.snapshotAt = 5; });
    MarkNextRecording();
    const int second = StartRecording(saveFolder);
    EXPECT_NE(scan.FilePath(), recording);
    ASSERT_TRUE(WaitFor([&] { return scan.Count() > 5; }));
    for (int i = 0; i < 3; ++i) (void)scan.CopySeries();  // the page's reads meanwhile
    scan.Stop();
    EXPECT_EQ(log.WaitForEnd(second), CaptureRunEnd::Stopped);
    EXPECT_EQ(module->emulator->OperatingMode(), rp::kModeDataTransfer);
    const CaptureSeries snapshot = log.Locked([&] { return log.snapshot; });
    ASSERT_EQ(snapshot.Capacity(), 100);
    for (int i = 6; i < 100; ++i) ASSERT_DOUBLE_EQ(snapshot.energy[i], recorded.energy[i]) << i;
    ExpectFileIsWhatTheLineSent(scan.Count());
}

TEST_F(NoiseScanRecordingTest, LineThatGoesAwayEndsTheRunWithItsBytesKept) {
    scan.ResetSeries(noise_scan::kMinSeconds);
    const int run = StartRecording(folder.Path());
    ASSERT_TRUE(WaitFor([&] { return scan.Count() >= 4; }));
    // A reset meanwhile zeroes, but cannot resize what the worker writes.
    scan.ResetSeries(noise_scan::kMaxSeconds);
    EXPECT_EQ(scan.Capacity(), 100);
    module->emulator->DisappearLine();
    EXPECT_EQ(log.WaitForEnd(run), CaptureRunEnd::SourceEnded);
    scan.Stop();
    EXPECT_LT(scan.Count(), 100);
    EXPECT_TRUE(log.failedFiles.empty());
    ExpectFileIsWhatTheLineSent(scan.Count());
}

TEST_F(NoiseScanRecordingTest, FolderThatCannotHoldTheFileStillCountsReports) {
    WriteText(folder.File("plain-file"), "not a folder");
    scan.ResetSeries(noise_scan::kMinSeconds);
    const int run = StartRecording(folder.File("plain-file/SaveData"));
    ASSERT_TRUE(WaitFor([&] { return scan.Count() >= 3; }));
    scan.Stop();
    EXPECT_EQ(log.WaitForEnd(run), CaptureRunEnd::Stopped);
    EXPECT_TRUE(scan.RecordingFileFailed());
    ASSERT_EQ(log.failedFiles.size(), 1u);
    EXPECT_EQ(log.failedFiles[0], scan.FilePath());
    EXPECT_EQ(module->emulator->OperatingMode(), rp::kModeDataTransfer);
}

namespace {

// The object reports of a radar data file as the host's parser finds them,
// each as its payload (whose frame is fixed around it).
std::vector<Bytes> ObjectReportsIn(const std::wstring& path) {
    struct Collect : IObjectReportListener {
        void OnObjectReport(const uint8_t* payload) override {
            payloads.emplace_back(reinterpret_cast<const char*>(payload), kObjectReportSize);
        }
        std::vector<Bytes> payloads;
    } collect;
    const std::atomic<int> stop{0};
    ReportFrameParser parser(&collect, &stop);
    const Bytes file = ReadText(WideToAnsi(path));
    parser.Append(reinterpret_cast<const uint8_t*>(file.data()), file.size());
    return collect.payloads;
}

}  // namespace

// A recording played by the emulator as its module, recorded again: the
// same reports in the same order, from its first (the reports streamed in
// data transfer mode since connecting do not move it on), and from its
// first again after its last.
TEST_F(NoiseScanRecordingTest, RecordingReplayedAsTheModuleIsRecordedAgainUnchanged) {
    scan.ResetSeries(noise_scan::kMinSeconds);
    ASSERT_EQ(log.WaitForEnd(StartRecording(folder.Path())), CaptureRunEnd::Finished);
    scan.Stop();
    // Cut inside a report, short of a scan's 100, so that the replay ends.
    const std::string recording = folder.File("cut.dat");
    WriteText(recording, ReadText(WideToAnsi(scan.FilePath())).substr(0, 60 * 45 + 20));
    const std::vector<Bytes> original = ObjectReportsIn(Wide(recording));
    ASSERT_GE(original.size(), 50u);

    emulator::Options options = test_support::QuickReports();
    options.realTiming = false;
    options.scene.replayFile = recording;
    options.scene.loop = true;
    module = std::make_unique<ConnectedModule>(options);
    ASSERT_TRUE(module->started && module->opened);
    ASSERT_EQ(log.WaitForEnd(StartRecording(folder.Path())), CaptureRunEnd::Finished);
    scan.Stop();
    const std::vector<Bytes> replayed = ObjectReportsIn(scan.FilePath());
    ASSERT_GE(replayed.size(), 100u);
    for (size_t i = 0; i < replayed.size(); ++i)
        ASSERT_EQ(replayed[i], original[i % original.size()]) << i;
}

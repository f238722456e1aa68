// radar-cli's commands run in-process against the emulated module.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "Commands.h"
#include "capture/NoiseScan.h"
#include "capture/RadarDataFile.h"
#include "device/KVEL_DataProcess.h"
#include "device/RadarProtocol.h"
#include "emulator/ModuleEmulator.h"
#include "params/RadarParam.h"
#include "params/RadarParamFile.h"
#include "realtime/ReportFrame.h"
#include "tests/support/QuickReports.h"

namespace {

namespace fs = std::filesystem;
namespace rp = radar_protocol;

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

std::string Drain(std::FILE* stream) {
    std::fflush(stream);
    std::rewind(stream);
    std::string text;
    char block[4096];
    for (size_t n; (n = std::fread(block, 1, sizeof block, stream)) > 0;) text.append(block, n);
    std::fclose(stream);
    return text;
}

Result RunCli(std::vector<std::string> args, const std::atomic<int>* stop = nullptr) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    Result result;
    result.code = radarcli::Run(args, out, err, stop);
    result.out = Drain(out);
    result.err = Drain(err);
    return result;
}

// The one JSON object in `text`.
const QJsonObject ParsedObject(const std::string& text) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << text;
    EXPECT_TRUE(document.isObject()) << text;
    return document.object();
}

int CountLines(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class RadarCliTest : public ::testing::Test {
protected:
    void SetUp() override { Start(std::set<emulator::Fault>{}); }

    void Start(std::set<emulator::Fault> faults) {
        emulator::Options options = test_support::QuickReports();
        options.realTiming = false;
        options.faults = std::move(faults);
        Start(options);
    }
    void Start(emulator::Options options) {
        m_module.reset();
        options.version = "V9.8.7.6";
        options.serialNumber = "TEST-SN-42";
        m_module = std::make_unique<emulator::ModuleEmulator>(options);
        std::string error;
        ASSERT_TRUE(m_module->Start(&error)) << error;
        m_folder = fs::temp_directory_path() / ("radar-cli-test-" + std::to_string(::getpid()));
        fs::create_directories(m_folder);
    }
    void TearDown() override {
        m_module.reset();
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }

    Result Cli(std::vector<std::string> args, const std::atomic<int>* stop = nullptr) {
        args.insert(args.begin(), {"--port", std::to_string(m_module->PortNumber())});
        return RunCli(args, stop);
    }
    static std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::unique_ptr<emulator::ModuleEmulator> m_module;
    fs::path m_folder;
};

TEST_F(RadarCliTest, ListsTheEmulatedPortAndReadsTheModuleIdentity) {
    const Result ports = RunCli({"ports"});
    EXPECT_EQ(ports.code, radarcli::kExitOk);
    const std::string line = std::to_string(m_module->PortNumber()) + "\tCOM" +
                             std::to_string(m_module->PortNumber()) + "\t" + m_module->DevicePath();
    EXPECT_NE(ports.out.find(line + "\n"), std::string::npos) << ports.out;

    const Result info = Cli({"info"});
    EXPECT_EQ(info.code, radarcli::kExitOk) << info.err;
    EXPECT_EQ(info.out, "Version: V9.8.7.6\nSerial number: TEST-SN-42\n");
}

TEST_F(RadarCliTest, SetsParametersByFileNamesInAnyCaseAndGetsThemBack) {
    const Result set =
        Cli({"params", "set", "gatemax=6", "HOLDGATE3THRESHOLD=40", "ObjectDisappearDelayTime=-1"});
    ASSERT_EQ(set.code, radarcli::kExitOk) << set.err;
    EXPECT_EQ(m_module->Parameter(0x0001), 6u);
    EXPECT_EQ(m_module->Parameter(0x0023), 10000u);
    EXPECT_EQ(m_module->Parameter(0x0004), 0xFFFFFFFFu);

    const Result get = Cli({"params", "get"});
    ASSERT_EQ(get.code, radarcli::kExitOk) << get.err;
    EXPECT_EQ(CountLines(get.out), kRadarParamCount);
    EXPECT_EQ(get.out.rfind("GateMax=6\nObjectDisappearDelayTime=-1\nTriggerGate0Threshold=", 0),
              0u)
        << get.out;
    EXPECT_NE(get.out.find("\nHoldGate3Threshold=40.00\n"), std::string::npos) << get.out;
}

TEST_F(RadarCliTest, BadAssignmentsAreRefusedBeforeTheModuleIsTouched) {
    const uint64_t before = m_module->CommandsAnswered();
    for (const char* bad : {"Nonsense=1", "GateMax=abc", "GateMax", "TriggerGate0Threshold=nan",
                            "GateMax=99999999999", "TriggerGate16Threshold=3", "GateMax=0x3"}) {
        const Result result = Cli({"params", "set", "GateMax=3", bad});
        EXPECT_EQ(result.code, radarcli::kExitUsage) << bad;
        EXPECT_FALSE(result.err.empty()) << bad;
    }
    // Outside the parameter page's limits: refused with the limits named,
    // never changed on the way (1e100 once became 96.33, -1 a gate of 2^32-1).
    for (const char* outside :
         {"TriggerGate1Threshold=1e100", "TriggerGate1Threshold=200", "HoldGate1Threshold=-50",
          "GateMax=16", "GateMax=-1", "GateMax=4294967295"}) {
        const Result result = Cli({"params", "set", outside});
        EXPECT_EQ(result.code, radarcli::kExitUsage) << outside;
        EXPECT_NE(result.err.find("limits"), std::string::npos) << result.err;
    }
    EXPECT_EQ(m_module->CommandsAnswered(), before);
    // Numbers are decimal, as a parameter file reads them.
    ASSERT_EQ(Cli({"params", "set", "GateMax=010"}).code, radarcli::kExitOk);
    EXPECT_EQ(m_module->Parameter(0x0001), 10u);
    ASSERT_EQ(Cli({"params", "set", "GateMax=08"}).code, radarcli::kExitOk);
    EXPECT_EQ(m_module->Parameter(0x0001), 8u);
    EXPECT_EQ(Cli({"params", "set"}).code, radarcli::kExitUsage);
    EXPECT_EQ(RunCli({"frobnicate"}).code, radarcli::kExitUsage);
    EXPECT_EQ(RunCli({"info", "--count", "3"}).code, radarcli::kExitUsage);
}

TEST_F(RadarCliTest, SavesAndLoadsParameterFiles) {
    const fs::path file = m_folder / "module.xml";
    ASSERT_EQ(Cli({"params", "set", "GateMax=8"}).code, radarcli::kExitOk);
    const Result save = Cli({"params", "save", file.string()});
    ASSERT_EQ(save.code, radarcli::kExitOk) << save.err;
    EXPECT_NE(Read(file).find("<RadarParam GateMax=\"8\""), std::string::npos);

    std::ofstream(m_folder / "partial.xml") << "<RadarParam TriggerGate2Threshold=\"50\"/>";
    const Result load = Cli({"params", "load", (m_folder / "partial.xml").string()});
    ASSERT_EQ(load.code, radarcli::kExitOk) << load.err;
    EXPECT_EQ(m_module->Parameter(0x0012), 100000u);
    EXPECT_EQ(m_module->Parameter(0x0001), 8u);  // not in the file: kept

    EXPECT_EQ(Cli({"params", "load", (m_folder / "missing.xml").string()}).code,
              radarcli::kExitFileError);
    // Not well-formed: refused with the parser's word, nothing written.
    std::ofstream(m_folder / "unquoted.xml") << "<RadarParam GateMax=5 HoldGate0Threshold=40/>";
    const uint64_t before = m_module->CommandsAnswered();
    const Result unquoted = Cli({"params", "load", (m_folder / "unquoted.xml").string()});
    EXPECT_EQ(unquoted.code, radarcli::kExitFileError);
    EXPECT_NE(unquoted.err.find("not well-formed"), std::string::npos) << unquoted.err;
    EXPECT_EQ(m_module->CommandsAnswered(), before);
    // What loading passes over is named; values beyond the page's limits
    // load as the file holds them, with a warning.
    std::ofstream(m_folder / "odd.xml") << "<RadarParam GateMax=\"abc\" HoldGate3Threshold=\"nan\" "
                                           "TriggerGate4Threshold=\"95\" GateMax2=\"1\"/>";
    const Result odd = Cli({"params", "load", (m_folder / "odd.xml").string()});
    ASSERT_EQ(odd.code, radarcli::kExitOk) << odd.err;
    EXPECT_NE(odd.err.find("GateMax=\"abc\" is no number"), std::string::npos) << odd.err;
    EXPECT_NE(odd.err.find("HoldGate3Threshold=\"nan\" is no number"), std::string::npos);
    EXPECT_NE(odd.err.find("warning: " + (m_folder / "odd.xml").string() +
                           ": TriggerGate4Threshold=95: outside its limits, 1.00 to 90.00"),
              std::string::npos)
        << odd.err;
    EXPECT_EQ(m_module->Parameter(0x0014), 3162277660u);  // round(10^9.5)
    EXPECT_EQ(m_module->Parameter(0x0001), 8u);
    const Result unwritable = Cli({"params", "save", (m_folder / "no" / "x.xml").string()});
    EXPECT_EQ(unwritable.code, radarcli::kExitFileError);
    EXPECT_NE(unwritable.err.find("No such file or directory"), std::string::npos)
        << unwritable.err;
}

// These three values once put a whole frame into the parameter reply; read
// in pieces, it hid the real reply and no read or connect worked again.
TEST_F(RadarCliTest, ValuesThatLookLikeAFrameAreWrittenAndReadBack) {
    Start(emulator::Options{});  // paced: replies arrive in pieces
    // Beyond the page's limits, so through a file, which loads them as they stand.
    std::ofstream(m_folder / "frame.xml")
        << "<RadarParam GateMax=\"3275531610\" ObjectDisappearDelayTime=\"0\" "
           "TriggerGate0Threshold=\"91.82065945501978\"/>";
    const Result set = Cli({"params", "load", (m_folder / "frame.xml").string()});
    ASSERT_EQ(set.code, radarcli::kExitOk) << set.err;
    EXPECT_EQ(m_module->Parameter(0x0001), 3275531610u);
    const Result get = Cli({"params", "get"});
    ASSERT_EQ(get.code, radarcli::kExitOk) << get.err;
    EXPECT_EQ(get.out.rfind("GateMax=-1019435686\nObjectDisappearDelayTime=0\n", 0), 0u) << get.out;
    EXPECT_EQ(Cli({"info"}).code, radarcli::kExitOk);
}

TEST_F(RadarCliTest, LineGoingAwayInTheMiddleOfACommandIsNotConnected) {
    // Connecting takes commands 1 to 9 (the parameter read is 5 to 7);
    // writing takes 10 to 16.
    const std::vector<std::pair<std::vector<std::string>, uint64_t>> cases = {
        {{"info"}, 3}, {{"params", "get"}, 6}, {{"params", "set", "GateMax=3"}, 12}};
    for (const auto& [command, hangUpAt] : cases) {
        emulator::Options options;
        options.realTiming = false;
        options.hangUpAtCommand = hangUpAt;
        Start(options);
        const Result result = Cli(command);
        EXPECT_EQ(result.code, radarcli::kExitNotConnected) << command.back() << ": " << result.err;
        EXPECT_NE(result.err.find("not connected"), std::string::npos) << result.err;
    }
}

TEST_F(RadarCliTest, PortThatCannotBeOpenedIsNamedOnce) {
    KVEL_RADAR_HANDLE holder = KVEL_Interface_RadarDevice_Serial_Create();
    ASSERT_TRUE(KVEL_Interface_RadarDevice_Serial_OpenByPortNum(holder, m_module->PortNumber(),
                                                                115200, 2, 0, 0, 0, 50));
    const Result result = Cli({"info"});
    KVEL_Interface_RadarDevice_Serial_Destroy(holder);
    EXPECT_EQ(result.code, radarcli::kExitNotConnected);
    std::string lower = result.err;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::string named = "cannot open serial port " + std::to_string(m_module->PortNumber());
    EXPECT_EQ(lower.find(named), lower.rfind(named)) << result.err;
    EXPECT_NE(lower.find(named + ": "), std::string::npos) << result.err;
    EXPECT_NE(lower.find("busy"), std::string::npos) << result.err;
}

TEST_F(RadarCliTest, MissingPortIsNotConnected) {
    const Result result = RunCli({"--port", "999", "info"});
    EXPECT_EQ(result.code, radarcli::kExitNotConnected);
    EXPECT_NE(result.err.find("999"), std::string::npos);
}

// Reports in a radar data file, parsed as a reader would.
struct Counter : IObjectReportListener {
    int reports = 0;
    void OnObjectReport(const uint8_t*) override { ++reports; }
};

int ReportsIn(const std::string& bytes) {
    Counter counter;
    ReportFrameParser parser(&counter, nullptr);
    parser.Append(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return counter.reports;
}

TEST_F(RadarCliTest, StreamsReportsKeepsTheRawBytesAndLetsTheModuleGo) {
    const fs::path raw = m_folder / "RadarData_test.dat";
    const Result stream = Cli({"stream", "--count", "3", "--raw", raw.string()});
    ASSERT_EQ(stream.code, radarcli::kExitOk) << stream.err;
    ASSERT_EQ(CountLines(stream.out), 3) << stream.out;
    std::istringstream first(stream.out.substr(0, stream.out.find('\n')));
    std::vector<std::string> fields;
    for (std::string field; first >> field;) fields.push_back(field);
    ASSERT_EQ(fields.size(), 18u) << stream.out;
    EXPECT_NE(fields[1].find('.'), std::string::npos);
    EXPECT_EQ(m_module->OperatingMode(), rp::kModeFunction);  // let go as the window does
    EXPECT_GE(ReportsIn(Read(raw)), 3);
}

// Stopped while it runs, after every report printed so far had its bytes in
// the raw file already (read, written, then parsed): a kill loses nothing read.
TEST_F(RadarCliTest, StopFlagEndsAStreamCleanly) {
    const fs::path raw = m_folder / "through.dat";
    std::FILE* out = std::tmpfile();
    std::atomic<int> stop{0};
    int printed = 0;
    int inFile = 0;
    const auto start = std::chrono::steady_clock::now();
    std::thread interrupter([&] {
        char text[4096];
        while (printed < 2 && std::chrono::steady_clock::now() - start < std::chrono::seconds(4)) {
            printed = CountLines(
                std::string(text, std::max<ssize_t>(0, pread(fileno(out), text, sizeof text, 0))));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));  // poll, not wait out
        }
        inFile = ReportsIn(Read(raw));
        stop = 1;
    });
    EXPECT_EQ(radarcli::Run({"--port", std::to_string(m_module->PortNumber()), "stream", "--raw",
                             raw.string()},
                            out, stderr, &stop),
              radarcli::kExitOk);
    interrupter.join();
    std::fclose(out);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(m_module->OperatingMode(), rp::kModeFunction);  // let go as the window does
    EXPECT_GE(printed, 2);
    EXPECT_GE(inFile, printed);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The energies in dB of every report in a radar data file.
struct GateLog : IObjectReportListener {
    std::vector<std::vector<double>> reports;
    void OnObjectReport(const uint8_t* payload) override {
        const ObjectReport report = DecodeObjectReport(payload);
        std::vector<double>& gates = reports.emplace_back();
        for (uint16_t energy : report.GateEnergy) gates.push_back(EnergyToDb(energy));
    }
};

// The one recording in `folder`, once it holds `bytes`; empty after ten seconds.
fs::path WaitForRecording(const fs::path& folder, uintmax_t bytes) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(folder, ignored)) {
            if (entry.path().extension() == ".dat" && entry.file_size(ignored) >= bytes)
                return entry.path();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // poll, not wait out
    }
    return {};
}

TEST_F(RadarCliTest, CapturesAScanThatReplayPrintsWithThePagesNumbers) {
    const fs::path folder = m_folder / "scans" / "today";
    const Result capture = Cli({"capture", "--seconds", "10", "--folder", folder.string()});
    ASSERT_EQ(capture.code, radarcli::kExitOk) << capture.err;
    const std::vector<std::string> said = Lines(capture.out);
    ASSERT_EQ(said.size(), 2u) << capture.out;
    EXPECT_EQ(said[1], "100 reports");
    const fs::path data = said[0];
    EXPECT_EQ(data.parent_path(), folder);
    EXPECT_TRUE(data.filename().string().starts_with("RadarData_"));
    const fs::path side = WideToAnsi(RadarDataSidePath(AnsiToWide(data.string())));
    EXPECT_NE(Read(side).find("ModuleSerialNumber=\"TEST-SN-42\""), std::string::npos);
    EXPECT_EQ(m_module->OperatingMode(), rp::kModeFunction);  // let go as the window does

    // Every line: index, seconds, gate 4's dB and the strongest gate's
    // distance under the recording's own thresholds.
    const Result replay = Cli({"replay", data.string(), "--gate", "4", "--params", side.string()});
    ASSERT_EQ(replay.code, radarcli::kExitOk) << replay.err;
    const std::string bytes = Read(data);
    GateLog gates;
    ReportFrameParser parser(&gates, nullptr);
    parser.Append(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    RadarParamSet params;
    ASSERT_TRUE(LoadRadarParamFile(side.wstring().c_str(), &params));
    const std::vector<std::string> lines = Lines(replay.out);
    ASSERT_EQ(lines.size(), gates.reports.size());
    ASSERT_GE(lines.size(), 100u);
    for (size_t i = 0; i < lines.size(); ++i) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%zu %.1f %.2f %.1f", i, i / 10.0,
                      gates.reports[i][4],
                      StrongestGateDistance(gates.reports[i].data(), params.TriggerThreshold));
        ASSERT_EQ(lines[i], expected) << i;
    }

    // As CSV, and no more than the scan asked for.
    const Result csv = Cli({"replay", data.string(), "--gate", "4", "--params", side.string(),
                            "--csv", "--scan-seconds", "10"});
    ASSERT_EQ(csv.code, radarcli::kExitOk) << csv.err;
    const std::vector<std::string> rows = Lines(csv.out);
    ASSERT_EQ(rows.size(), 101u);
    EXPECT_EQ(rows[0], "index,time_s,energy_dB,distance_m");
    std::string first = lines[0];
    std::replace(first.begin(), first.end(), ' ', ',');
    EXPECT_EQ(rows[1], first);
}

// Ctrl+C ends a capture with its bytes kept; on a constant room every gate
// is known, and so are the statistics.
TEST_F(RadarCliTest, InterruptedCaptureKeepsItsReportsForTheStatistics) {
    emulator::Options options = test_support::QuickReports();
    options.realTiming = false;
    options.scene.constantEnergy = 1000;  // 30 dB in every gate
    Start(options);
    std::atomic<int> stop{0};
    fs::path data;
    std::thread interrupter([&] {
        data = WaitForRecording(m_folder, 5 * 45);
        stop = 1;
    });
    const Result capture =
        Cli({"capture", "--seconds", "36000", "--folder", m_folder.string()}, &stop);
    interrupter.join();
    ASSERT_EQ(capture.code, radarcli::kExitOk) << capture.err;
    ASSERT_FALSE(data.empty());
    const std::vector<std::string> said = Lines(capture.out);
    ASSERT_EQ(said.size(), 2u) << capture.out;
    EXPECT_EQ(said[0], data.string());
    const int counted = std::stoi(said[1]);
    EXPECT_GE(counted, 5);
    EXPECT_EQ(m_module->OperatingMode(), rp::kModeFunction);
    const uintmax_t size = fs::file_size(data);
    EXPECT_GE(size, static_cast<uintmax_t>(counted) * 45);

    const fs::path params = m_folder / "thresholds.xml";
    std::ofstream(params) << "<RadarParam TriggerGate2Threshold=\"29.5\" HoldGate2Threshold=\"29\""
                             " HoldGate5Threshold=\"10\"/>";
    const Result stats = Cli({"replay", data.string(), "--stats", "--params", params.string()});
    ASSERT_EQ(stats.code, radarcli::kExitOk) << stats.err;
    const std::vector<std::string> table = Lines(stats.out);
    ASSERT_EQ(table.size(), 17u) << stats.out;
    EXPECT_EQ(table[0], "gate max_db mean_db above_trigger above_hold");
    EXPECT_EQ(table[1], "0 30.00 30.00 0.000 0.000");  // 30 dB is not above 30 dB
    EXPECT_EQ(table[3], "2 30.00 30.00 1.000 1.000");
    EXPECT_EQ(table[6], "5 30.00 30.00 0.000 1.000");
    const Result csv = Cli({"replay", data.string(), "--stats", "--csv"});
    ASSERT_EQ(csv.code, radarcli::kExitOk) << csv.err;
    EXPECT_EQ(Lines(csv.out)[0], "gate,max_db,mean_db,above_trigger,above_hold");
    EXPECT_EQ(Lines(csv.out)[16], "15,30.00,30.00,0.000,0.000");
}

TEST_F(RadarCliTest, CaptureWhoseLineGoesAwayKeepsWhatItReadAndSaysSo) {
    std::thread unplug([&] {
        if (!WaitForRecording(m_folder, 3 * 45).empty()) m_module->DisappearLine();
    });
    const Result capture = Cli({"capture", "--folder", m_folder.string()});
    unplug.join();
    EXPECT_EQ(capture.code, radarcli::kExitNotConnected);
    EXPECT_NE(capture.err.find("not connected"), std::string::npos) << capture.err;
    const std::vector<std::string> said = Lines(capture.out);
    ASSERT_EQ(said.size(), 2u) << capture.out;
    EXPECT_GE(fs::file_size(said[0]), static_cast<uintmax_t>(std::stoi(said[1])) * 45);
}

TEST_F(RadarCliTest, BadCaptureAndReplayOptionsAreRefusedBeforeAnythingRuns) {
    const uint64_t before = m_module->CommandsAnswered();
    const std::vector<std::vector<std::string>> wrong = {{"capture", "--seconds", "9"},
                                                         {"capture", "--seconds", "36001"},
                                                         {"capture", "--seconds", "10.5"},
                                                         {"capture", "extra"},
                                                         {"capture", "--gate", "3"},
                                                         {"stream", "--folder", "x"},
                                                         {"replay"},
                                                         {"replay", "a.dat", "b.dat"},
                                                         {"replay", "a.dat", "--gate", "16"},
                                                         {"replay", "a.dat", "--gate", "-1"},
                                                         {"replay", "a.dat", "--scan-seconds", "9"},
                                                         {"replay", "a.dat", "--seconds", "10"},
                                                         {"info", "--csv"},
                                                         {"replay", "a.dat", "--params"}};
    for (const auto& args : wrong) {
        const Result result = Cli(args);
        EXPECT_EQ(result.code, radarcli::kExitUsage) << args.back();
        EXPECT_NE(result.err.find("Usage:"), std::string::npos) << args.back();
    }
    EXPECT_EQ(m_module->CommandsAnswered(), before);
    EXPECT_TRUE(fs::is_empty(m_folder));

    const Result missing = RunCli({"replay", (m_folder / "missing.dat").string()});
    EXPECT_EQ(missing.code, radarcli::kExitFileError);
    EXPECT_NE(missing.err.find("missing.dat"), std::string::npos) << missing.err;
    std::ofstream(m_folder / "empty.dat").flush();
    EXPECT_EQ(RunCli({"replay", (m_folder / "empty.dat").string(), "--params",
                      (m_folder / "none.xml").string()})
                  .code,
              radarcli::kExitFileError);
    const std::string empty = (m_folder / "empty.dat").string();
    for (const Result& none : {RunCli({"replay", empty}), RunCli({"replay", empty, "--stats"})}) {
        EXPECT_EQ(none.code, radarcli::kExitOk);
        EXPECT_TRUE(none.out.empty()) << none.out;  // no table of zeros either
        EXPECT_NE(none.err.find("0 reports"), std::string::npos) << none.err;
    }
    EXPECT_EQ(RunCli({"replay", m_folder.string()}).code, radarcli::kExitFileError);

    // A recording with nowhere to go is given up at once.
    const Result nowhere =
        Cli({"capture", "--seconds", "36000", "--folder", (m_folder / "empty.dat" / "x").string()});
    EXPECT_EQ(nowhere.code, radarcli::kExitFileError);
    EXPECT_NE(nowhere.err.find("cannot write"), std::string::npos) << nowhere.err;
    EXPECT_TRUE(nowhere.out.empty()) << nowhere.out;  // no path it never made, no count
    EXPECT_EQ(m_module->CommandsAnswered(), before);
    EXPECT_EQ(m_module->OperatingMode(), rp::kModeFunction);
}

// The realtime page's calibration, from the command line: the proposal is
// printed by the parameter names, and --apply leaves it in the module.
TEST_F(RadarCliTest, CalibrateProposesAndAppliesThresholdsOfTheEmptyScene) {
    emulator::Options options = test_support::QuickReports();
    options.realTiming = false;
    options.scene.constantEnergy = 100;
    Start(options);
    const Result result = Cli({"calibrate", "--reports", "20", "--apply"});
    ASSERT_EQ(result.code, radarcli::kExitOk) << result.err;
    EXPECT_EQ(CountLines(result.out), 2 * kRadarGateCount) << result.out;
    EXPECT_NE(result.out.find("TriggerGate0Threshold=26.99\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("HoldGate15Threshold=25.44\n"), std::string::npos) << result.out;

    const Result get = Cli({"params", "get"});
    ASSERT_EQ(get.code, radarcli::kExitOk) << get.err;
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        const std::string g = std::to_string(gate);
        EXPECT_NE(get.out.find("TriggerGate" + g + "Threshold=26.99\n"), std::string::npos);
        EXPECT_NE(get.out.find("HoldGate" + g + "Threshold=25.44\n"), std::string::npos);
    }
    EXPECT_EQ(Cli({"params", "get", "--apply"}).code, radarcli::kExitUsage);
    EXPECT_EQ(Cli({"calibrate", "--reports", "0"}).code, radarcli::kExitUsage);
}

// A module that answers "no" is told apart from one that does not answer.
TEST_F(RadarCliTest, RefusingModuleIsReportedAsRefused) {
    Start({emulator::Fault::FailingStatus});
    const Result get = Cli({"params", "get"});
    EXPECT_EQ(get.code, radarcli::kExitRefused);
    EXPECT_NE(get.err.find("refused the parameter read"), std::string::npos) << get.err;
    EXPECT_TRUE(get.out.empty());
    const Result stream = Cli({"stream", "--count", "1"});
    EXPECT_EQ(stream.code, radarcli::kExitRefused);
    EXPECT_NE(stream.err.find("refused to switch to report mode"), std::string::npos) << stream.err;
}

}  // namespace

namespace {

class RadarCliFirmwareTest : public RadarCliTest {
protected:
    // The firmware texts follow the locale's language; these tests read the
    // English ones.
    void SetUp() override {
        setenv("LC_ALL", "C", 1);
        RadarCliTest::SetUp();
    }
    void StartBootLoader(uint32_t runningMode, uint32_t partitions = 3, int64_t refused = -1) {
        emulator::Options options;
        options.realTiming = false;
        options.runningMode = runningMode;
        options.partitionMask = partitions;
        options.refusedPacket = refused;
        options.resetDelay = std::chrono::milliseconds(20);
        Start(options);
    }
    std::string WriteImage(size_t size) {
        std::string image(size, '\0');
        for (size_t i = 0; i < size; ++i) image[i] = static_cast<char>(i * 7 + 3);
        const fs::path path = m_folder / "image.bin";
        std::ofstream(path, std::ios::binary) << image;
        m_image = image;
        return path.string();
    }
    std::string Held(uint32_t partition) const {
        const std::vector<uint8_t> held = m_module->BootImage(partition);
        return std::string(held.begin(), held.end());
    }
    std::string m_image;
};

TEST_F(RadarCliFirmwareTest, QueryPrintsTheWindowsTexts) {
    const Result query = Cli({"firmware", "query"});
    EXPECT_EQ(query.code, radarcli::kExitOk) << query.err;
    EXPECT_EQ(query.out,
              "Obtaining firmware information\nCurrent Firmware: App0\n"
              "Device ID: 0x5a0105\nPartitions: App0 App1\n");
}

TEST_F(RadarCliFirmwareTest, FlashResetsIntoTheBootLoaderAndWritesTheImage) {
    StartBootLoader(rp::kRunningModeApp0);
    const std::string file = WriteImage(3001);
    const Result flash =
        Cli({"firmware", "flash", file, "--partition", "App1", "--reset-wait", "100"});
    EXPECT_EQ(flash.code, radarcli::kExitOk) << flash.err << flash.out;
    EXPECT_EQ(m_module->SoftwareResets(), 1u);
    EXPECT_EQ(Held(rp::kPartitionApp1), m_image);
    EXPECT_NE(flash.out.find("Size of bin file: 3001 byte\n"), std::string::npos) << flash.out;
    EXPECT_TRUE(flash.out.ends_with("Downloading… \nDownload successful! \n")) << flash.out;
}

// Two modules flashed at once, each asked again afterwards what it holds.
TEST_F(RadarCliFirmwareTest, FlashesSeveralModulesAndVerifiesWhatEachHolds) {
    StartBootLoader(rp::kRunningModeApp0);
    emulator::Options options;
    options.realTiming = false;
    options.runningMode = rp::kRunningModeBootLoader;
    emulator::ModuleEmulator other(options);
    std::string error;
    ASSERT_TRUE(other.Start(&error)) << error;
    const std::string file = WriteImage(3001);
    const std::string ports =
        std::to_string(m_module->PortNumber()) + "," + std::to_string(other.PortNumber());
    const Result flash = RunCli({"--port", ports, "firmware", "flash", file, "--partition", "App1",
                                 "--reset-wait", "100", "--verify"});
    EXPECT_EQ(flash.code, radarcli::kExitOk) << flash.err << flash.out;
    EXPECT_EQ(Held(rp::kPartitionApp1), m_image);
    const std::vector<uint8_t> held = other.BootImage(rp::kPartitionApp1);
    EXPECT_EQ(std::string(held.begin(), held.end()), m_image);
    for (int port : {m_module->PortNumber(), other.PortNumber()})
        EXPECT_NE(flash.out.find("COM" + std::to_string(port) +
                                 ": Verified: the module holds 3001 bytes"),
                  std::string::npos)
            << flash.out;

    const QJsonObject query = ParsedObject(
        RunCli({"--port", std::to_string(other.PortNumber()), "firmware", "query", "--json"}).out);
    EXPECT_EQ(query["runningMode"].toInt(), int(rp::kRunningModeBootLoader));
    EXPECT_EQ(query["deviceId"].toInteger(), 0x5A0105);
    EXPECT_EQ(query["partitions"].toArray(), (QJsonArray{"App0", "App1"}));
}

TEST_F(RadarCliFirmwareTest, FlashFailuresHaveTheirExitCodes) {
    StartBootLoader(rp::kRunningModeBootLoader, 0x1, 2);
    const std::string file = WriteImage(5000);
    EXPECT_EQ(Cli({"firmware", "flash", file}).code, radarcli::kExitUsage);
    EXPECT_EQ(Cli({"firmware", "flash", file, "--partition", "App2"}).code, radarcli::kExitUsage);
    EXPECT_EQ(Cli({"firmware", "query", "--partition", "App0"}).code, radarcli::kExitUsage);
    EXPECT_EQ(
        Cli({"firmware", "flash", (m_folder / "none.bin").string(), "--partition", "App0"}).code,
        radarcli::kExitFileError);

    const Result absent = Cli({"firmware", "flash", file, "--partition", "App1"});
    EXPECT_EQ(absent.code, radarcli::kExitRefused);
    EXPECT_EQ(absent.err, "radar-cli: the module has no partition App1\n");

    const Result refused = Cli({"firmware", "flash", file, "--partition", "App0"});
    EXPECT_EQ(refused.code, radarcli::kExitRefused);
    EXPECT_NE(refused.out.find("Failed to download, serial no.: 2, error code: 7\n"),
              std::string::npos)
        << refused.out;
    EXPECT_EQ(refused.err,
              "radar-cli: the module refused: Failed to download, serial no.: 2, error code: 7\n");
    EXPECT_EQ(m_module->SoftwareResets(), 0u);  // it ran its boot loader already

    // A port another program holds is busy (a line that goes away in the
    // middle of a download is one of the fault table's cells).
    KVEL_RADAR_HANDLE holder = KVEL_Interface_RadarDevice_Serial_Create();
    ASSERT_TRUE(KVEL_Interface_RadarDevice_Serial_OpenByPortNum(holder, m_module->PortNumber(),
                                                                115200, 2, 0, 0, 0, 50));
    const Result busy = Cli({"firmware", "query"});
    KVEL_Interface_RadarDevice_Serial_Destroy(holder);
    EXPECT_EQ(busy.code, radarcli::kExitNotConnected);
    EXPECT_NE(busy.err.find("busy"), std::string::npos) << busy.err;
}

}  // namespace

TEST_F(RadarCliTest, HelpDescribesOneCommandEitherWayAndEveryProgramHasAVersion) {
    const Result asked = RunCli({"help", "stream"});
    EXPECT_EQ(asked.code, radarcli::kExitOk);
    EXPECT_NE(asked.out.find("--count N"), std::string::npos) << asked.out;
    EXPECT_EQ(asked.out.find("--folder"), std::string::npos) << asked.out;
    EXPECT_EQ(RunCli({"stream", "--help"}).out, asked.out);
    EXPECT_EQ(RunCli({"help", "nonsense"}).code, radarcli::kExitUsage);
    EXPECT_EQ(RunCli({"--version"}).out.rfind("radar-cli ", 0), 0u);
    // A misplaced option names the command it belongs to, and that command's help.
    const Result misplaced = RunCli({"info", "--reports=5"});
    EXPECT_EQ(misplaced.code, radarcli::kExitUsage);
    EXPECT_NE(misplaced.err.find("--reports belongs to calibrate"), std::string::npos);
}

TEST_F(RadarCliTest, DoctorNamesThePortItsAccessAndTheModulesLineSpeed) {
    emulator::Options options;
    options.realTiming = false;
    options.baudRate = 57600;
    Start(options);
    const Result doctor = Cli({"doctor"});
    EXPECT_EQ(doctor.code, radarcli::kExitOk) << doctor.out << doctor.err;
    EXPECT_NE(doctor.out.find("COM" + std::to_string(m_module->PortNumber()) + " " +
                              m_module->DevicePath()),
              std::string::npos)
        << doctor.out;
    EXPECT_NE(doctor.out.find("you may open it"), std::string::npos) << doctor.out;
    EXPECT_NE(doctor.out.find(" at 57600 baud"), std::string::npos) << doctor.out;
    EXPECT_FALSE(m_module->InCommandMode());

    m_module.reset();  // the port is gone
    EXPECT_EQ(RunCli({"doctor", "--port", "250"}).code, radarcli::kExitNotConnected);
}

// Several modules at once, machine-readable output and parameter differences.
namespace {

class RadarCliModulesTest : public RadarCliTest {
protected:
    // Another module beside the fixture's.
    emulator::ModuleEmulator& AddModule(emulator::Options options = test_support::QuickReports()) {
        options.realTiming = false;
        auto& module = m_others.emplace_back(std::make_unique<emulator::ModuleEmulator>(options));
        std::string error;
        EXPECT_TRUE(module->Start(&error)) << error;
        return *module;
    }
    static std::string Name(const emulator::ModuleEmulator& module) {
        return "COM" + std::to_string(module.PortNumber());
    }
    std::vector<std::unique_ptr<emulator::ModuleEmulator>> m_others;
};

TEST_F(RadarCliModulesTest, RunsOnEveryModuleAtOnceAndNamesTheOnesThatFailed) {
    emulator::ModuleEmulator& second = AddModule();
    emulator::Options slow;  // at another line speed: it does not answer
    slow.baudRate = 57600;
    emulator::ModuleEmulator& silent = AddModule(slow);
    const std::string both =
        std::to_string(m_module->PortNumber()) + "," + std::to_string(second.PortNumber());

    // Every module's lines whole, each behind its port; "all" leaves out
    // the module that does not answer, and says so.
    ASSERT_EQ(Cli({"params", "set", "HoldGate1Threshold=42.5"}).code, radarcli::kExitOk);
    const Result get = RunCli({"--port", "all", "params", "get"});
    EXPECT_EQ(get.code, radarcli::kExitOk) << get.err;
    EXPECT_NE(get.err.find(Name(silent) + " left out"), std::string::npos) << get.err;
    std::map<std::string, int> linesOf;
    for (const std::string& line : Lines(get.out)) ++linesOf[line.substr(0, line.find(' '))];
    EXPECT_EQ(linesOf[Name(*m_module) + ":"], kRadarParamCount + 1) << get.out;
    EXPECT_EQ(linesOf[Name(second) + ":"], kRadarParamCount + 1) << get.out;
    EXPECT_EQ(linesOf.size(), 3u) << get.out;  // and the summary
    EXPECT_NE(get.out.find(Name(*m_module) + ": HoldGate1Threshold=42.50\n"), std::string::npos);
    EXPECT_NE(get.out.find(Name(second) + ": HoldGate1Threshold=30.00\n"), std::string::npos);

    // The JSON summary holds each module's own document.
    const QJsonObject info = ParsedObject(RunCli({"--port", "all", "info", "--json"}).out);
    const QJsonArray modules = info["modules"].toArray();
    ASSERT_EQ(modules.size(), 2);
    EXPECT_EQ(modules[0]["result"]["serialNumber"].toString(), "TEST-SN-42");
    EXPECT_EQ(info["failed"].toArray().size(), 0);

    // One that refuses fails alone, named in its line and the summary.
    emulator::Options refusal;
    refusal.faults = {emulator::Fault::FailingStatus};
    const emulator::ModuleEmulator& refusing = AddModule(refusal);
    std::ofstream(m_folder / "line.xml")
        << "<RadarParam GateMax=\"9\" HoldGate1Threshold=\"42.5\"/>";
    const Result load = RunCli({"--port", both + "," + std::to_string(refusing.PortNumber()),
                                "params", "load", (m_folder / "line.xml").string(), "--verify"});
    EXPECT_EQ(load.code, radarcli::kExitRefused) << load.out << load.err;
    for (emulator::ModuleEmulator* module : {m_module.get(), &second}) {
        EXPECT_EQ(module->Parameter(0x0001), 9u);
        EXPECT_NE(load.out.find(Name(*module) + ": done\n"), std::string::npos) << load.out;
    }
    const std::string failed = Name(refusing);
    EXPECT_NE(load.out.find(failed + ": failed (exit 4): the module refused"), std::string::npos)
        << load.out;
    EXPECT_TRUE(load.out.ends_with("3 modules: 2 done, 1 failed (" + failed + ")\n")) << load.out;
    EXPECT_NE(load.err.find("radar-cli: " + failed + ": "), std::string::npos) << load.err;

    // Recordings side by side, each its own file; a command for one port is refused.
    const Result capture = RunCli(
        {"--port", both, "capture", "--seconds", "10", "--folder", m_folder.string(), "--json"});
    const QJsonObject summary = ParsedObject(capture.out);
    EXPECT_EQ(summary["failed"].toArray().size(), 0);
    const QJsonArray captured = summary["modules"].toArray();
    EXPECT_NE(captured[0]["output"][0].toString(), captured[1]["output"][0].toString());
    EXPECT_EQ(captured[1]["output"][1].toString(), "100 reports");
    EXPECT_EQ(RunCli({"--port", both, "stream"}).code, radarcli::kExitUsage);
    EXPECT_EQ(RunCli({"--port", "3,3", "info"}).code, radarcli::kExitUsage);
}

TEST_F(RadarCliModulesTest, EveryJsonDocumentParses) {
    ASSERT_EQ(Cli({"params", "set", "GateMax=6"}).code, radarcli::kExitOk);
    EXPECT_EQ(ParsedObject(Cli({"info", "--json"}).out)["version"].toString(), "V9.8.7.6");
    EXPECT_EQ(ParsedObject(Cli({"params", "get", "--json"}).out)["parameters"]["GateMax"].toInt(),
              6);
    const QJsonObject set = ParsedObject(Cli({"params", "set", "GateMax=7", "--json"}).out);
    EXPECT_EQ(set["succeeded"].toArray(), QJsonArray{m_module->PortNumber()});
    const QJsonObject calibration =
        ParsedObject(Cli({"calibrate", "--reports", "5", "--json"}).out);
    EXPECT_EQ(calibration["reports"].toInt(), 5);
    EXPECT_FALSE(calibration["applied"].toBool());
    EXPECT_TRUE(calibration["thresholds"]["HoldGate15Threshold"].isDouble());
    const QJsonObject doctor = ParsedObject(Cli({"doctor", "--json"}).out);
    EXPECT_EQ(doctor["ports"][0]["baudRate"].toInt(), rp::kDefaultBaudRate);
    EXPECT_TRUE(doctor["answered"].toBool());

    const Result capture = Cli({"capture", "--seconds", "10", "--folder", m_folder.string()});
    const std::string data = Lines(capture.out).at(0);
    const QJsonObject stats = ParsedObject(Cli({"replay", data, "--stats", "--json"}).out);
    EXPECT_EQ(stats["reports"].toInt(), 100);
    EXPECT_EQ(stats["gates"].toArray().size(), noise_scan::kGateCount);
    EXPECT_EQ(Cli({"replay", data, "--json"}).code, radarcli::kExitUsage);
}

TEST_F(RadarCliModulesTest, ParamsDiffNamesWhatDiffersFromAFileOrTheDefaults) {
    ASSERT_EQ(Cli({"params", "set", "GateMax=6", "TriggerGate3Threshold=42.5"}).code,
              radarcli::kExitOk);
    const Result defaults = Cli({"params", "diff", "--defaults"});
    EXPECT_EQ(defaults.code, radarcli::kExitDiffers);
    EXPECT_EQ(
        defaults.out,
        "GateMax: module 6, default 15\nTriggerGate3Threshold: module 42.50, default 30.00\n");

    // A file compares what it holds; 42.5 dB is what the module holds for 42.5.
    const fs::path file = m_folder / "golden.xml";
    std::ofstream(file) << "<RadarParam GateMax=\"8\" TriggerGate3Threshold=\"42.5\"/>";
    const Result diff = Cli({"params", "diff", file.string()});
    EXPECT_EQ(diff.code, radarcli::kExitDiffers);
    EXPECT_EQ(diff.out, "GateMax: module 6, file 8\n");
    const QJsonObject json = ParsedObject(Cli({"params", "diff", file.string(), "--json"}).out);
    EXPECT_EQ(json["differences"][0]["other"].toInt(), 8);

    ASSERT_EQ(Cli({"params", "load", file.string(), "--verify"}).code, radarcli::kExitOk);
    const Result same = Cli({"params", "diff", file.string()});
    EXPECT_EQ(same.code, radarcli::kExitOk);
    EXPECT_TRUE(same.out.empty()) << same.out;
    EXPECT_EQ(Cli({"params", "diff", file.string(), "--defaults"}).code, radarcli::kExitUsage);
    EXPECT_EQ(Cli({"params", "diff"}).code, radarcli::kExitUsage);
    EXPECT_EQ(Cli({"params", "diff", (m_folder / "none.xml").string()}).code,
              radarcli::kExitFileError);
}

}  // namespace

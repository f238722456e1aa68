// radar-cli's commands run in-process against the emulated module.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "Commands.h"
#include "device/KVEL_DataProcess.h"
#include "device/RadarProtocol.h"
#include "emulator/ModuleEmulator.h"
#include "params/RadarParam.h"
#include "realtime/ReportFrame.h"

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

int CountLines(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class RadarCliTest : public ::testing::Test {
protected:
    void SetUp() override { Start(std::set<emulator::Fault>{}); }

    void Start(std::set<emulator::Fault> faults) {
        emulator::Options options;
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
                            "GateMax=99999999999", "TriggerGate16Threshold=3"}) {
        const Result result = Cli({"params", "set", "GateMax=3", bad});
        EXPECT_EQ(result.code, radarcli::kExitUsage) << bad;
        EXPECT_FALSE(result.err.empty()) << bad;
    }
    EXPECT_EQ(m_module->CommandsAnswered(), before);
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
    const Result unwritable = Cli({"params", "save", (m_folder / "no" / "x.xml").string()});
    EXPECT_EQ(unwritable.code, radarcli::kExitFileError);
    EXPECT_NE(unwritable.err.find("No such file or directory"), std::string::npos)
        << unwritable.err;
}

// These three values once put a whole frame into the parameter reply; read
// in pieces, it hid the real reply and no read or connect worked again.
TEST_F(RadarCliTest, ValuesThatLookLikeAFrameAreWrittenAndReadBack) {
    Start(emulator::Options{});  // paced: replies arrive in pieces
    const Result set = Cli({"params", "set", "GateMax=3275531610", "ObjectDisappearDelayTime=0",
                            "TriggerGate0Threshold=91.82065945501978"});
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

    const std::string bytes = Read(raw);
    Counter counter;
    ReportFrameParser parser(&counter, nullptr);
    parser.Append(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    EXPECT_GE(counter.reports, 3);
}

TEST_F(RadarCliTest, StopFlagEndsAStreamCleanly) {
    std::atomic<int> stop{0};
    std::thread interrupter([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        stop = 1;
    });
    const auto start = std::chrono::steady_clock::now();
    const Result stream = Cli({"stream"}, &stop);
    interrupter.join();
    EXPECT_EQ(stream.code, radarcli::kExitOk) << stream.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(m_module->OperatingMode(), rp::kModeFunction);  // let go as the window does
}

TEST_F(RadarCliTest, RefusingModuleIsReportedAsNoAnswer) {
    Start({emulator::Fault::FailingStatus});
    const Result get = Cli({"params", "get"});
    EXPECT_EQ(get.code, radarcli::kExitNoAnswer);
    EXPECT_TRUE(get.out.empty());
    EXPECT_EQ(Cli({"stream", "--count", "1"}).code, radarcli::kExitNoAnswer);
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
    EXPECT_EQ(absent.code, radarcli::kExitNoAnswer);
    EXPECT_EQ(absent.err, "radar-cli: the module has no partition App1\n");

    const Result refused = Cli({"firmware", "flash", file, "--partition", "App0"});
    EXPECT_EQ(refused.code, radarcli::kExitNoAnswer);
    EXPECT_NE(refused.out.find("Failed to download, serial no.: 2, error code: 7\n"),
              std::string::npos)
        << refused.out;
    EXPECT_EQ(m_module->SoftwareResets(), 0u);  // it ran its boot loader already
}

}  // namespace

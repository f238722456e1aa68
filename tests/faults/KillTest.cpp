// kill -9 of the tool at the worst moments loses nothing: a save stopped
// with its new content beside the file, a capture whose stream is held, a
// download half way. Afterwards the files are the old or the new ones, the
// capture holds every byte the module sent, and the module answers and
// takes an image again.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "ChildProcess.h"
#include "device/RadarProtocol.h"
#include "emulator/ModuleEmulator.h"
#include "settings/AppConfig.h"

namespace {

namespace fs = std::filesystem;
namespace rp = radar_protocol;
using fault_test::Child;
using fault_test::RunChild;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

const milliseconds kBound{20000};
constexpr const char* kStopVariable = "KVEL_STOP_BEFORE_REPLACING=";

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Waits, looking again every few milliseconds, until `done` holds or the
// bound passes.
template <typename Condition>
bool Eventually(Condition done, milliseconds bound = kBound) {
    const auto deadline = Clock::now() + bound;
    while (!done()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(milliseconds(2));
    }
    return true;
}

// The report frames of a recording, which must be nothing but whole, valid
// frames; -1 when anything else is found.
int ObjectFramesIn(const std::string& bytes) {
    int objects = 0;
    size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < 10 || std::memcmp(&bytes[at], rp::kReportHeader, 4) != 0) return -1;
        const size_t length =
            static_cast<uint8_t>(bytes[at + 4]) | (static_cast<uint8_t>(bytes[at + 5]) << 8);
        if (at + length + 10 > bytes.size() ||
            std::memcmp(&bytes[at + 6 + length], rp::kReportTailer, 4) != 0)
            return -1;
        objects += length == static_cast<size_t>(rp::kObjectReportPayload);
        at += length + 10;
    }
    return objects;
}

class Kill : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() / ("kill-test-" + std::to_string(getpid()));
        fs::create_directories(m_folder);
    }
    void TearDown() override {
        m_module.reset();
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }
    void StartModule(emulator::Options options) {
        m_module = std::make_unique<emulator::ModuleEmulator>(options);
        std::string error;
        ASSERT_TRUE(m_module->Start(&error)) << error;
    }
    std::vector<std::string> Cli(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), {"--port", std::to_string(m_module->PortNumber())});
        return arguments;
    }
    int Run(const std::vector<std::string>& arguments) const {
        const fault_test::ChildResult result = RunChild(RADAR_CLI, Cli(arguments), kBound);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return result.exitCode;
    }

    fs::path m_folder;
    std::unique_ptr<emulator::ModuleEmulator> m_module;
};

TEST_F(Kill, SavesKilledBeforeTheyReplaceLeaveTheOldFileWhole) {
    // The parameter file, saved by the tool.
    StartModule({});
    const fs::path params = m_folder / "params.xml";
    Run({"params", "set", "GateMax=3"});
    Run({"params", "save", params.string()});
    const std::string old = Read(params);
    Run({"params", "set", "GateMax=9"});
    {
        Child save(RADAR_CLI, Cli({"params", "save", params.string()}),
                   {kStopVariable + params.filename().string()});
        ASSERT_TRUE(save.WaitForStop(kBound));
        save.Kill();
    }
    EXPECT_EQ(Read(params), old);
    Run({"info"});  // the port was let go with the process
    Run({"params", "save", params.string()});
    EXPECT_NE(Read(params).find("GateMax=\"9\""), std::string::npos) << Read(params);

    // The settings file, saved as the window saves it.
    const fs::path settings = m_folder / app_config::kFileName;
    const XMLNode config = gAppConfig.GetRoot().FindOrAddChild(app_config::kRootElement);
    config.SetAttributeInt(app_config::kBaudRate, 9600);
    ASSERT_TRUE(SaveAppConfigTo(settings.wstring()));
    const std::string before = Read(settings);
    config.SetAttributeInt(app_config::kBaudRate, 115200);
    {
        Child save([&] {
            setenv("KVEL_STOP_BEFORE_REPLACING", app_config::kFileName, 1);
            return SaveAppConfigTo(settings.wstring()) ? 0 : 1;
        });
        ASSERT_TRUE(save.WaitForStop(kBound));
        save.Kill();
    }
    EXPECT_EQ(Read(settings), before);
    LoadAppConfigFrom(settings.wstring());
    const char* baud = AppConfigElement().GetAttribute(app_config::kBaudRate);
    EXPECT_STREQ(baud ? baud : "none", "9600");
}

TEST_F(Kill, CaptureKilledHoldsEveryReportTheModuleSent) {
    std::atomic<int> sent{0};
    emulator::Options options;
    options.realTiming = false;
    options.reportPeriod = milliseconds(10);
    options.onReportSent = [&](const uint8_t*, size_t size) {
        if (size == static_cast<size_t>(rp::kObjectReportPayload)) ++sent;
    };
    StartModule(options);
    Child capture(RADAR_CLI, Cli({"capture", "--seconds", "3600", "--folder", m_folder.string()}));
    const fs::path data = capture.FirstLine(kBound);
    ASSERT_FALSE(data.empty());
    ASSERT_TRUE(Eventually([&] { return sent.load() >= 30; }));
    m_module->HoldReports(true);
    // Every report sent is in the file before the kill, not in a buffer.
    ASSERT_TRUE(Eventually([&] { return ObjectFramesIn(Read(data)) == sent.load(); }))
        << ObjectFramesIn(Read(data)) << " of " << sent.load();
    capture.Kill();
    const std::string bytes = Read(data);
    EXPECT_EQ(ObjectFramesIn(bytes), sent.load());
    EXPECT_GE(bytes.size(), static_cast<size_t>(sent.load()) * (rp::kObjectReportPayload + 10));
    m_module->HoldReports(false);
    Run({"info"});
}

TEST_F(Kill, DownloadKilledHalfWayLetsTheModuleBeQueriedAndFlashedAgain) {
    emulator::Options options;
    options.packetSize = 64;  // many small packets: the transfer takes a while
    options.resetDelay = milliseconds(50);
    StartModule(options);
    const fs::path image = m_folder / "image.bin";
    std::string content(8800, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 13 + 1);
    std::ofstream(image, std::ios::binary) << content;
    const std::vector<std::string> flash{"firmware", "flash",        image.string(), "--partition",
                                         "App0",     "--reset-wait", "200"};
    {
        Child download(RADAR_CLI, Cli(flash));
        ASSERT_TRUE(
            Eventually([&] { return m_module->LatestDownload().packetBytes.size() >= 20; }));
        download.Kill();
    }
    EXPECT_TRUE(m_module->BootImage(rp::kPartitionApp0).empty());
    Run({"firmware", "query"});
    Run(flash);
    const std::vector<uint8_t> kept = m_module->BootImage(rp::kPartitionApp0);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), content);
}

}  // namespace

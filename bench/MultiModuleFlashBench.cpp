// radar-cli flashing several modules at once against flashing one: the
// whole "firmware flash --verify" (a query, the reset into the boot loader,
// the download, each module asked again what it holds) through emulators at
// their real line timing (ten bit times a byte, both ways, at 115 200 baud;
// a reset takes the module its 500 ms). Each module has its own line,
// session and thread, so eight should take little longer than one: the
// counter "ratio" is eight's time over one's.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Commands.h"
#include "device/RadarProtocol.h"
#include "emulator/ModuleEmulator.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kImageBytes = 32 * 1024;
constexpr int kModules = 8;

std::string WriteImage(const fs::path& folder) {
    const fs::path path = folder / "image.bin";
    std::mt19937 random(5);
    std::string image(kImageBytes, '\0');
    for (char& byte : image) byte = static_cast<char>(random());
    std::ofstream(path, std::ios::binary) << image;
    return path.string();
}

// Seconds radar-cli takes to flash the image into the modules on `ports`;
// negative when it failed.
double FlashSeconds(const std::string& ports, const std::string& image) {
    std::FILE* sink = std::fopen("/dev/null", "w");
    const auto start = std::chrono::steady_clock::now();
    const int code = radarcli::Run({"--port", ports, "firmware", "flash", image, "--partition",
                                    "App1", "--reset-wait", "600", "--verify"},
                                   sink, sink, nullptr);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::fclose(sink);
    return code == radarcli::kExitOk ? elapsed.count() : -1;
}

void BM_FlashEightModulesAgainstOne(benchmark::State& state) {
    // A registry of its own: the modules of this run and no others.
    const fs::path folder =
        fs::temp_directory_path() / ("kvel-multi-flash-" + std::to_string(getpid()));
    fs::create_directories(folder);
    setenv("KVEL_SERIAL_PORT_REGISTRY", (folder / "ports").c_str(), 1);
    std::vector<std::unique_ptr<emulator::ModuleEmulator>> modules;
    std::string all;
    for (int i = 0; i < kModules; ++i) {
        emulator::Options options;  // real timing, App0 running, packet size 1024
        auto& module = modules.emplace_back(std::make_unique<emulator::ModuleEmulator>(options));
        std::string error;
        if (!module->Start(&error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        all += (all.empty() ? "" : ",") + std::to_string(module->PortNumber());
    }
    const std::string image = WriteImage(folder);
    const std::string one = std::to_string(modules.front()->PortNumber());
    double oneSeconds = 0;
    double eightSeconds = 0;
    for (auto _ : state) {
        const double single = FlashSeconds(one, image);
        const double eight = FlashSeconds(all, image);
        if (single < 0 || eight < 0) {
            state.SkipWithError("a flash failed");
            break;
        }
        oneSeconds += single;
        eightSeconds += eight;
        state.SetIterationTime(single + eight);
    }
    // A figure is only worth having when every module holds the image.
    for (const auto& module : modules)
        if (module->BootImage(radar_protocol::kPartitionApp1).size() != kImageBytes)
            state.SkipWithError("a module does not hold the image");
    const double runs = static_cast<double>(state.iterations());
    state.counters["one_module_s"] = oneSeconds / runs;
    state.counters["eight_modules_s"] = eightSeconds / runs;
    state.counters["ratio"] = oneSeconds > 0 ? eightSeconds / oneSeconds : 0;
    modules.clear();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}
BENCHMARK(BM_FlashEightModulesAgainstOne)->Unit(benchmark::kSecond)->Iterations(2)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();

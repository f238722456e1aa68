// Download throughput of the firmware transfer through the emulator's boot
// loader with real line timing (ten bit times a byte, both ways) at
// 115 200 baud and its default packet size, as a share of the line rate
// (11 520 bytes/s at 8N1). The module runs its boot loader already, so the
// figure is the packets' alone: image bytes sent per second of the download.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "device/RadarProtocol.h"
#include "emulator/ModuleEmulator.h"
#include "firmware/FirmwareTransfer.h"

namespace {

constexpr int kBaudRate = 115200;
constexpr double kLineBytesPerSecond = kBaudRate / 10.0;
constexpr size_t kImageBytes = 32 * 1024;

// Shows nothing: the figure is the transfer's and the line's.
struct SilentObserver : firmware::IFirmwareObserver {
    void OnLog(const std::string&) override {}
    void OnRunningMode(std::optional<uint32_t>) override {}
    void OnDeviceId(std::optional<uint32_t>) override {}
    void OnPartitions(const std::vector<firmware::PartitionEntry>&) override {}
    void OnImage(uint32_t, uint32_t) override {}
    void OnProgress(uint32_t, uint32_t) override {}
    void OnBusy(bool) override {}
    void OnPortClosed() override {}
    void OnMessage(const std::string&) override {}
    void OnFinished(firmware::FirmwareResult) override {}
};

std::string WriteImage() {
    const auto path = std::filesystem::temp_directory_path() / "kvel-firmware-bench.bin";
    std::mt19937 random(3);
    std::string image(kImageBytes, '\0');
    for (char& byte : image) byte = static_cast<char>(random());
    std::ofstream(path, std::ios::binary) << image;
    return path.string();
}

void BM_DownloadAt115200(benchmark::State& state) {
    emulator::Options options;  // real timing, packet size 1024
    options.baudRate = kBaudRate;
    options.runningMode = radar_protocol::kRunningModeBootLoader;
    emulator::ModuleEmulator module(options);
    std::string error;
    if (!module.Start(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    const std::string image = WriteImage();
    const std::wstring path(image.begin(), image.end());
    SilentObserver observer;
    KVEL_RADAR_HANDLE device = KVEL_Interface_RadarDevice_Serial_Create();
    firmware::CFirmwareTransfer transfer(device, observer);
    const firmware::FirmwarePort port{true, module.PortNumber(), kBaudRate};
    transfer.Run(firmware::FirmwareOperation::Query, port, L"");  // finds the boot loader
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (transfer.Run(firmware::FirmwareOperation::Download, port, path) !=
            firmware::FirmwareResult::Done) {
            state.SkipWithError(transfer.ErrorText().c_str());
            break;
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const double bytesPerSecond = seconds > 0 ? state.iterations() * kImageBytes / seconds : 0;
    state.counters["image_bytes_per_s"] = bytesPerSecond;
    state.counters["share_of_line_pct"] = 100.0 * bytesPerSecond / kLineBytesPerSecond;
    KVEL_Interface_RadarDevice_Serial_Destroy(device);
    std::filesystem::remove(image);
}
BENCHMARK(BM_DownloadAt115200)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

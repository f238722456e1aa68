// An in-process module emulator and a device handle on its port.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "device/KVEL_DataProcess.h"
#include "device/RadarProtocol.h"
#include "emulator/ModuleEmulator.h"

namespace device_test {

using Clock = std::chrono::steady_clock;

inline long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class EmulatedModule : public ::testing::Test {
protected:
    void TearDown() override {
        KVEL_Interface_RadarDevice_Serial_Destroy(device);
        emulator.reset();
    }

    // Starts the emulator with `options` (paced off unless asked) and
    // makes the handle; false stops the test.
    void Start(emulator::Options options = {}) {
        emulator = std::make_unique<emulator::ModuleEmulator>(options);
        std::string error;
        ASSERT_TRUE(emulator->Start(&error)) << error;
        device = KVEL_Interface_RadarDevice_Serial_Create();
    }
    static emulator::Options Fast(std::set<emulator::Fault> faults = {}) {
        emulator::Options o;
        o.realTiming = false;
        o.faults = std::move(faults);
        return o;
    }
    // The handshake replies get `replyTimeoutMs` each; the default leaves
    // room for a machine busy with other tests.
    bool Connect(int baud = 115200, int replyTimeoutMs = 500) {
        return KVEL_Interface_RadarDevice_Serial_OpenByPortNum(device, emulator->PortNumber(), baud,
                                                               2, 1, 1, 1, replyTimeoutMs) != 0;
    }
    bool OpenForFirmware(int baud = 115200) {
        return KVEL_Interface_RadarDevice_Serial_OpenByPortNum(device, emulator->PortNumber(), baud,
                                                               2, 0, 0, 0, 50) != 0;
    }
    // Reads for `ms` and returns every byte that came.
    std::vector<uint8_t> ReadFor(int ms) {
        std::vector<uint8_t> all;
        uint8_t chunk[256];
        const auto start = Clock::now();
        while (MsSince(start) < ms) {
            const int n = KVEL_Interface_RadarDevice_ReadData(device, chunk, sizeof chunk, 100, 0);
            if (n > 0) all.insert(all.end(), chunk, chunk + n);
        }
        return all;
    }

    std::unique_ptr<emulator::ModuleEmulator> emulator;
    KVEL_RADAR_HANDLE device = nullptr;
};

// Counts well-formed report frames of `payload` bytes in a byte stream.
inline int CountReports(const std::vector<uint8_t>& bytes, size_t payload) {
    namespace rp = radar_protocol;
    int count = 0;
    const size_t frame = payload + rp::kReportFramingBytes;
    for (size_t i = 0; i + frame <= bytes.size(); ++i) {
        if (std::equal(std::begin(rp::kReportHeader), std::end(rp::kReportHeader), &bytes[i]) &&
            (bytes[i + 4] | (bytes[i + 5] << 8)) == static_cast<int>(payload) &&
            std::equal(std::begin(rp::kReportTailer), std::end(rp::kReportTailer),
                       &bytes[i + 6 + payload])) {
            ++count;
            i += frame - 1;
        }
    }
    return count;
}

}  // namespace device_test

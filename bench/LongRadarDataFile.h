// A radar data file of the longest noise scan (36 000 s, 360 000 object
// reports over a noise floor), written once per process into the temporary
// folder and removed at exit.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "capture/NoiseScan.h"
#include "common/KVEL_Common.h"
#include "realtime/ReportFrame.h"

constexpr int kLongestScanSeconds = noise_scan::kMaxSeconds;
constexpr int kLongestScanReports = ScanCapacity(kLongestScanSeconds);

inline const std::wstring& LongRadarDataFile() {
    static std::wstring path;
    if (!path.empty()) return path;
    static const std::string narrow = "/tmp/capture-bench-" + std::to_string(getpid()) + ".dat";
    std::FILE* file = std::fopen(narrow.c_str(), "wb");
    if (!file) return path;
    std::mt19937 random(11);
    std::uniform_int_distribution<int> noise(20, 4000);
    uint8_t frame[45];
    for (int i = 0; i < kLongestScanReports; ++i) {
        ObjectReport report;
        for (auto& energy : report.GateEnergy) energy = static_cast<uint16_t>(noise(random));
        EncodeObjectReportFrame(report, frame);
        std::fwrite(frame, 1, sizeof frame, file);
    }
    std::fclose(file);
    std::atexit([] { std::remove(narrow.c_str()); });
    path = AnsiToWide(narrow);
    return path;
}

// radar-cli's firmware commands: the firmware transfer the window runs, its
// log on standard output and a progress bar on a terminal.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "device/RadarProtocol.h"

namespace radarcli {

struct FirmwareRequest {
    int port = 0;
    int baud = radar_protocol::kDefaultBaudRate;
    std::string imageFile;  // flash only
    std::string partition;  // flash only: "App0", "App1" or a partition bit
    // flash only: how long the module gets to restart in its boot loader
    std::chrono::milliseconds resetWait{2000};
    // Why the port did not open, in the library's words ("... is busy").
    std::function<std::string()> openFailure;
    bool json = false;    // query only: one JSON document instead of the log
    bool verify = false;  // flash only: ask the module again what it holds
};

// Both return the exit codes of the other commands (Commands.h) and say on
// standard error why they failed.
// "firmware query": running mode, device ID and partitions.
int FirmwareQuery(const FirmwareRequest& request, std::FILE* out, std::FILE* err,
                  const std::atomic<int>* stop);
// "firmware flash FILE --partition P": a query, then the download.
int FirmwareFlash(const FirmwareRequest& request, std::FILE* out, std::FILE* err,
                  const std::atomic<int>* stop);
// The partition bit of "App0", "App1" or a number with one bit set.
std::optional<uint32_t> ParsePartition(const std::string& text);

}  // namespace radarcli

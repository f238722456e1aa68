// How this program asks for command mode around an exchange on an open
// connection: two tries, 150 ms each. Entering is not checked: a module that
// refuses command mode also fails the exchange that follows.
#pragma once

#include "device/KVEL_DataProcess.h"

namespace command_mode {
constexpr int kAttempts = 2;
constexpr int kTimeoutMs = 150;
}  // namespace command_mode

// Runs `exchange` between entering and leaving command mode and returns
// what it returned. Without a connection there is nothing to switch: the
// exchange alone runs and says so, and the log gets no handshake failures.
template <typename Exchange>
auto InCommandMode(KVEL_RADAR_HANDLE device, Exchange exchange) {
    if (!KVEL_Interface_RadarDevice_IsConnected(device)) return exchange();
    KVEL_Interface_RadarDevice_StartCmdMode(device, command_mode::kAttempts,
                                            command_mode::kTimeoutMs);
    const auto result = exchange();
    KVEL_Interface_RadarDevice_StopCmdMode(device);
    return result;
}

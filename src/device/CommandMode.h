// How this program asks for command mode around an exchange on an open
// connection: two tries, 150 ms each. Entering is not checked: a module that
// refuses command mode also fails the exchange that follows.
#pragma once

#include <type_traits>

#include "device/KVEL_DataProcess.h"

namespace command_mode {
constexpr int kAttempts = 2;
constexpr int kTimeoutMs = 150;
}  // namespace command_mode

// Runs `exchange` between entering and leaving command mode and returns
// what it returned. Without a connection there is nothing to switch: the
// exchange alone runs and says so, and the log gets no handshake failures.
// A yes-or-no exchange (a mode switch) is done only once the module is out
// of command mode again, as it streams nothing before; a parameter exchange
// keeps its own result, as the module carried it out, and the log names the
// leave that failed.
template <typename Exchange>
auto InCommandMode(KVEL_RADAR_HANDLE device, Exchange exchange) {
    if (!KVEL_Interface_RadarDevice_IsConnected(device)) return exchange();
    KVEL_Interface_RadarDevice_StartCmdMode(device, command_mode::kAttempts,
                                            command_mode::kTimeoutMs);
    const auto result = exchange();
    const bool left = KVEL_Interface_RadarDevice_StopCmdMode(device) != 0;
    if constexpr (std::is_same_v<std::remove_const_t<decltype(result)>, bool>) {
        return result && left;
    } else {
        return result;
    }
}

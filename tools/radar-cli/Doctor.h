// radar-cli doctor: names what stands between the user and a module on
// this machine: the ports and their device paths, who has a port open,
// whether the user may open it, services that grab serial ports, and the
// line speed at which a module answers or streams.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "device/RadarProtocol.h"

namespace radarcli {

// The line speeds the probe tries, the module's default first.
inline const std::vector<int> kProbeBaudRates = {
    radar_protocol::kDefaultBaudRate, 256000, 230400, 460800, 921600, 57600, 38400, 19200, 9600};

// Looks at port `port` (every port when none is named) and prints what it
// finds. Exit 0 when a module answered or streamed, 1 when there is no such
// port or none could be opened, 2 when ports opened but nothing answered.
// With `json`, one JSON document instead of the lines.
int RunDoctor(std::optional<int> port, std::FILE* out, bool json = false);

// The processes (other than this one) that have `devicePath` open, as
// "pid (name)"; only the processes this user may look into are seen.
std::vector<std::string> ProcessesHolding(const std::string& devicePath);

}  // namespace radarcli

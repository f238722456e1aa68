// The scan for serial devices present, apart from the registry so that it
// can be run on a prepared folder tree.
#pragma once

#include <string>
#include <vector>

namespace kvel_common_detail {

struct SerialDevice {
    std::string devicePath;  // /dev/ttyUSB0
    std::string identity;    // the resolved sysfs device and the device number
};

// The serial devices listed in `sysClassTty` (normally /sys/class/tty) whose
// node exists in `devFolder` (normally /dev), sorted by device path.
std::vector<SerialDevice> PresentSerialDevices(const std::string& sysClassTty,
                                               const std::string& devFolder);

}  // namespace kvel_common_detail

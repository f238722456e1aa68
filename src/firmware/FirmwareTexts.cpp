#include "firmware/FirmwareTexts.h"

#include "device/RadarProtocol.h"
#include "firmware/TextFormat.h"
#include "strings/StringTable.h"

namespace firmware {

namespace rp = radar_protocol;

namespace {

const char* RunningModeName(uint32_t mode) {
    switch (mode) {
        case rp::kRunningModeBootLoader:
            return "BootLoader";
        case rp::kRunningModeApp0:
            return "App0";
        case rp::kRunningModeApp1:
            return "App1";
        default:
            return "Unknown";
    }
}

}  // namespace

std::string FirmwareText(int id) { return LoadStringW(id).toStdString(); }

std::string RunningModeText(std::optional<uint32_t> mode) {
    const char* name = mode ? RunningModeName(*mode) : "Unknown";
    return FormatText(FirmwareText(kTextRunningMode), {std::string(name)});
}

std::string DeviceIdText(std::optional<uint32_t> id) {
    if (!id) return FirmwareText(kTextDeviceIdUnknown);
    return FormatText(FirmwareText(kTextDeviceId), {static_cast<int64_t>(*id)});
}

std::string FileSizeText(uint32_t bytes) {
    return FormatText(FirmwareText(kTextFileSize), {static_cast<int64_t>(bytes)});
}

std::string ChecksumText(uint32_t checksum) {
    return FormatText(FirmwareText(kTextChecksum), {static_cast<int64_t>(checksum)});
}

std::string ProgressText(uint32_t sent, uint32_t total) {
    const double percent = total == 0 ? 0.0 : sent * 100.0 / total;
    return FormatText(FirmwareText(kTextProgress), {percent});
}

}  // namespace firmware

// The firmware transfer's texts, from the string table in the interface
// language, UTF-8: what the transfer writes to its log, and what the
// firmware page's labels and radar-cli show of the transfer's events.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "strings/StringTable.h"

namespace firmware {

// String-table identifiers of the firmware texts.
enum FirmwareTextId : int {
    kTextNote = shared_text::kNote,
    kTextNoImageFile = 10402,
    kTextNoPort = 10403,
    kTextOpenFailed = 10404,
    kTextQueryStart = 10405,
    kTextCommandModeFailed = 10406,
    kTextModeFailed = 10407,
    kTextDeviceIdFailed = 10408,
    kTextPartitionsFailed = 10409,
    kTextBadImage = 10410,
    kTextNoPartition = 10411,
    kTextResetFailed = 10412,
    kTextImageInfoFailed = 10413,
    kTextPacketFailed = 10414,
    kTextDownloading = 10415,
    kTextDownloaded = 10416,
    kTextFileSize = 10417,
    kTextChecksum = 10418,
    kTextProgress = 10419,
    kTextPacketTooSmall = 10420,
    kTextDeviceId = 10421,
    kTextRunningMode = 10422,
    kTextDeviceIdUnknown = 10423,
    kTextNotConfirmed = 10424,
    kTextImageMismatch = 10425,
    kTextPortHeldByUs = 10426,
};

// The text of `id` in the interface language, the English one when that
// table lacks it.
std::string FirmwareText(int id);

// "Current Firmware: App0"; "Unknown" for a mode the module did not tell or
// that has no name.
std::string RunningModeText(std::optional<uint32_t> mode);
// "Device ID: 0x5a0105" with its line end, or the unknown device's text.
std::string DeviceIdText(std::optional<uint32_t> id);
std::string FileSizeText(uint32_t bytes);
std::string ChecksumText(uint32_t checksum);
// The share sent in percent, two decimals.
std::string ProgressText(uint32_t sent, uint32_t total);

}  // namespace firmware

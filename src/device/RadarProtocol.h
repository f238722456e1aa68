// Constants of the module line protocol (docs/protocol.md), shared by the
// device library and the module emulator. Only constants live here: each
// side encodes and decodes frames with its own code.
#pragma once

#include <cstdint>

namespace radar_protocol {

// Command frames: header, payload length, command word, payload, checksum,
// tailer.
constexpr uint8_t kCommandHeader[4] = {0x5A, 0xA5, 0x3C, 0xC3};
constexpr uint8_t kCommandTailer[2] = {0xA5, 0x5A};
constexpr int kLengthOffset = 4;
constexpr int kWordOffset = 6;
constexpr int kPayloadOffset = 8;
constexpr int kChecksumBytes = 2;
// header 4 + length 2 + command word 2 + checksum 2 + tailer 2
constexpr int kFramingBytes =
    kPayloadOffset + kChecksumBytes + static_cast<int>(sizeof kCommandTailer);
// The checksum is CRC-16/CCITT (polynomial 0x1021, initial value 0xFFFF, no
// reflection, no final XOR) over the length, the command word and the payload.
constexpr uint16_t kChecksumPolynomial = 0x1021;
constexpr uint16_t kChecksumInitial = 0xFFFF;
constexpr int kDefaultMaxFrameSize = 64;
// A parameter write entry: u16 ID, u32 value.
constexpr int kParamWriteEntryBytes = 6;
// The smallest maximum frame size a module may name: a frame must carry one
// parameter write, or nothing could be configured.
constexpr int kMinMaxFrameSize = kFramingBytes + kParamWriteEntryBytes;
constexpr int kMaxMaxFrameSize = 4096;  // the largest maximum frame size a module may name
constexpr int kSequenceCount = 16;

// Command word fields.
constexpr uint16_t kCodeMask = 0x00FF;
constexpr int kSequenceShift = 8;
constexpr uint16_t kSequenceMask = 0x0F00;
constexpr int kStatusShift = 12;
constexpr uint16_t kStatusMask = 0xF000;

// Reply status.
constexpr int kStatusOk = 0;
constexpr int kStatusRefused = 1;
constexpr int kStatusUnknownCommand = 2;
constexpr int kStatusBadLength = 3;
constexpr int kStatusNotInCommandMode = 4;

// Command codes.
constexpr uint8_t kCmdEnterCommandMode = 0x01;
constexpr uint8_t kCmdLeaveCommandMode = 0x02;
constexpr uint8_t kCmdGetVersion = 0x03;
constexpr uint8_t kCmdGetSerialNumber = 0x04;
constexpr uint8_t kCmdGetMaxFrameSize = 0x05;
constexpr uint8_t kCmdSetDetectionParams = 0x07;
constexpr uint8_t kCmdGetDetectionParams = 0x08;
constexpr uint8_t kCmdSetSystemSettings = 0x12;
// Boot-loader commands: each reply carries a u16 status and a u32 value.
constexpr uint8_t kCmdBootFirst = 0x70;
constexpr uint8_t kCmdBootRunningMode = 0x70;
constexpr uint8_t kCmdBootPartitions = 0x71;
constexpr uint8_t kCmdBootImageInfo = 0x72;
constexpr uint8_t kCmdBootImagePacket = 0x73;
constexpr uint8_t kCmdBootSoftwareReset = 0x74;  // sent without waiting for a reply
constexpr uint8_t kCmdBootDeviceId = 0x75;
constexpr uint8_t kCmdBootConfirmImage = 0x76;  // what the last download left in its partition
constexpr uint8_t kCmdBootLast = 0x76;
constexpr int kBootReplyBytes = 6;  // u16 status (0 = accepted), u32 value
constexpr uint16_t kBootStatusOk = 0;
constexpr uint16_t kBootStatusRefused = 1;
// Running modes (answer to 0x70).
constexpr uint32_t kRunningModeBootLoader = 1;
constexpr uint32_t kRunningModeApp0 = 2;
constexpr uint32_t kRunningModeApp1 = 4;
// Program partitions: one bit each in the partition mask (answer to 0x71)
// and in the image information.
constexpr uint32_t kPartitionApp0 = 1;
constexpr uint32_t kPartitionApp1 = 2;
// Image information (0x72): u32 partition bit, u32 image size, u32 image
// checksum; the reply's value holds the packet size in its low 16 bits.
constexpr int kBootImageInfoBytes = 12;
// Image data packet (0x73): u32 index, u32 packet checksum, then the data.
constexpr int kBootPacketHeaderBytes = 8;
// The packet size counts the whole frame: framing and packet header come off
// it, what is left is the image bytes one packet carries.
constexpr int kBootPacketOverhead = kFramingBytes + kBootPacketHeaderBytes;
constexpr uint8_t kBootPadByte = 0xFF;
constexpr int kBootImageAlignment = 4;  // the image checksum covers the image padded to this
// Only a last packet shorter than a chunk is padded, so it may run past the
// packet size by up to this many bytes when the chunk is not a multiple of
// the alignment.
constexpr int kBootLastPacketExtra = kBootImageAlignment - 1;
// The packet sizes a boot loader may name (image information reply).
constexpr int kSmallestBootPacketSize = kBootPacketOverhead + 1;
constexpr int kLargestBootPacketSize = 4096;
// Boot-loader frames are bounded by the packet size the boot loader names,
// not by the maximum frame size of the command channel; none is longer than
// this.
constexpr int kLargestBootFrame = kLargestBootPacketSize + kBootLastPacketExtra;
// Image confirmation (0x76): no payload; the reply is u16 status (0 = the
// last download's image is held whole), u32 image size without padding and
// u32 image checksum, both as the boot loader counted what it kept.
constexpr int kBootConfirmReplyBytes = 10;
constexpr uint16_t kProtocolVersion = 2;  // 2: frames carry a checksum; texts come in pages

// Text queries (version, serial number): the question may carry a u16 byte
// offset; the reply is the u16 length of the whole text, then as much of the
// text from that offset on as fits the frame.
constexpr int kTextOffsetBytes = 2;
constexpr int kTextLengthBytes = 2;
constexpr int kMaxTextBytes = 256;  // the host cuts longer texts here, and logs it

// System settings.
constexpr uint16_t kSettingOperatingMode = 0x0000;
constexpr uint32_t kModeFunction = 100;
constexpr uint32_t kModeDataTransfer = 101;
constexpr uint32_t kModeABD = 102;

// Range gates: the module measures 16 of them.
constexpr int kGateCount = 16;

// Detection parameter IDs.
constexpr uint16_t kParamGateMax = 0x0001;
constexpr uint16_t kParamAbsenceDelay = 0x0004;
constexpr uint16_t kParamTriggerFirst = 0x0010;  // gates 0-15: 0x0010-0x001F
constexpr uint16_t kParamHoldFirst = 0x0020;     // gates 0-15: 0x0020-0x002F
constexpr int kParamCount = 2 + 2 * kGateCount;

// Report frames streamed outside command mode.
constexpr uint8_t kReportHeader[4] = {0xF4, 0xF3, 0xF2, 0xF1};
constexpr uint8_t kReportTailer[4] = {0xF8, 0xF7, 0xF6, 0xF5};
constexpr int kReportFramingBytes = 10;
constexpr int kBasicReportPayload = 3;    // data transfer mode
constexpr int kObjectReportPayload = 35;  // ABD mode
constexpr int kReportsPerSecond = 10;

// The module's range gates are this long; gate g begins at g times it.
constexpr double kGateLengthMetres = 0.7;
// The line speed a module listens at unless told otherwise.
constexpr int kDefaultBaudRate = 115200;

}  // namespace radar_protocol

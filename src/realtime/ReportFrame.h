// The module's report stream: frames F4 F3 F2 F1 | u16 length | payload |
// F8 F7 F6 F5, and the 35-byte object report they carry.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "common/KVEL_Common.h"
#include "device/Decibels.h"
#include "device/RadarProtocol.h"

constexpr int kObjectReportSize = radar_protocol::kObjectReportPayload;

struct ObjectReport {
    uint8_t TargetState = 0;      // 0 no target, 1 present, others as sent
    uint16_t TargetDistance = 0;  // centimetres
    uint16_t GateEnergy[radar_protocol::kGateCount] = {};
};

// Decodes the 35 payload bytes (little-endian fields).
ObjectReport DecodeObjectReport(const uint8_t* payload);
// Encodes a report into a complete 45-byte frame (tests, emulator-free tools).
void EncodeObjectReportFrame(const ObjectReport& report, uint8_t* frame45);

class IObjectReportListener {
public:
    virtual ~IObjectReportListener() = default;
    // `payload` points at the 35 payload bytes, valid during the call only.
    virtual void OnObjectReport(const uint8_t* payload) = 0;
};

// Cuts frames out of the byte stream. Owned and used by one thread.
class ReportFrameParser {
public:
    ReportFrameParser(IObjectReportListener* listener, const std::atomic<int>* stopFlag);

    // Appends the bytes and runs one scan pass.
    void Append(const uint8_t* data, size_t size);
    size_t BufferedBytes() const { return m_buffer.GetAvailSize(); }

private:
    void ScanPass();

    IObjectReportListener* m_listener;
    const std::atomic<int>* m_stopFlag;
    CBaseBuffer m_buffer;
};

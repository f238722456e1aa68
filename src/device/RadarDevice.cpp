// The handle functions of the radar device library: one serial line, one
// command channel, and one lock that keeps exchanges and reads apart.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "device/CommandChannel.h"
#include "device/KVEL_DataProcess.h"
#include "device/RadarProtocol.h"
#include "device/SerialLine.h"

namespace rp = radar_protocol;
using kvel_device::CommandChannel;
using kvel_device::ExchangeResult;
using kvel_device::Reply;
using kvel_device::SerialLine;

struct KvelRadarDevice {
    // Held around every exchange and every read, so that commands never
    // interleave on the line and a reader never swallows a reply.
    std::mutex io;
    SerialLine line;
    CommandChannel channel{line};
    // The last exchange's reply came with a failing status.
    std::atomic<bool> lastRefused{false};
};

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLeaveCommandModeTimeoutMs = 150;
constexpr int kLeaveCommandModeAttempts = 2;
constexpr int kTextQueryTimeoutMs = 500;
constexpr int kTextQueryAttempts = 2;
constexpr int kModeSettingTimeoutMs = 1000;

const std::string& UnreadableText() {
    static const std::string text =
        std::string("bytes came but no valid frame: ") + KVEL_WRONG_BAUD_HINT;
    return text;
}

const char* ResultText(ExchangeResult result) {
    switch (result) {
        case ExchangeResult::Done:
            return "replied";
        case ExchangeResult::NotConnected:
            return "the line is not connected";
        case ExchangeResult::TooLong:
            return "the frame exceeds the maximum frame size";
        case ExchangeResult::WriteFailed:
            return "the line did not take the frame";
        case ExchangeResult::Timeout:
            return "no reply in time";
        case ExchangeResult::Unreadable:
            return UnreadableText().c_str();
    }
    return "unknown";
}

// One exchange under the handle's lock; true for a reply with status ok.
// Failures are logged once, here.
bool ExchangeOk(KvelRadarDevice* device, uint8_t code, const uint8_t* payload, int length,
                int timeoutMs, Reply* reply, ExchangeResult* result = nullptr) {
    const ExchangeResult r = device->channel.Exchange(code, payload, length, timeoutMs, reply);
    if (result) *result = r;
    device->lastRefused.store(r == ExchangeResult::Done && reply->status != rp::kStatusOk);
    if (r != ExchangeResult::Done) {
        DbgOutputA(2, "Radar command 0x%02X failed: %s\r\n", code, ResultText(r));
        return false;
    }
    if (reply->status != rp::kStatusOk) {
        DbgOutputA(2, "Radar command 0x%02X answered with status %d\r\n", code, reply->status);
        return false;
    }
    return true;
}

bool EnterCommandMode(KvelRadarDevice* device, int attempts, int timeoutMs) {
    for (int i = 0; i < std::max(attempts, 1); ++i) {
        Reply reply;
        ExchangeResult result{};
        if (ExchangeOk(device, rp::kCmdEnterCommandMode, nullptr, 0, timeoutMs, &reply, &result))
            return true;
        if (result == ExchangeResult::NotConnected) break;
    }
    return false;
}

// A lost leave reply would leave the module silent in command mode, so leave
// is asked again: "not in command mode" answers a repeat whose first try the
// module did carry out, and means it is out as much as "ok" does.
bool LeaveCommandMode(KvelRadarDevice* device) {
    for (int i = 0; i < kLeaveCommandModeAttempts; ++i) {
        Reply reply;
        const ExchangeResult result = device->channel.Exchange(rp::kCmdLeaveCommandMode, nullptr, 0,
                                                               kLeaveCommandModeTimeoutMs, &reply);
        if (result == ExchangeResult::Done) {
            const bool out =
                reply.status == rp::kStatusOk || reply.status == rp::kStatusNotInCommandMode;
            device->lastRefused.store(!out);
            if (out) return true;
            DbgOutputA(2, "Radar command 0x%02X answered with status %d\r\n",
                       rp::kCmdLeaveCommandMode, reply.status);
            return false;
        }
        device->lastRefused.store(false);
        DbgOutputA(2, "Radar command 0x%02X failed: %s\r\n", rp::kCmdLeaveCommandMode,
                   ResultText(result));
        if (result != ExchangeResult::Timeout && result != ExchangeResult::Unreadable) break;
    }
    DbgOutputA(2, "The module did not leave command mode\r\n");
    return false;
}

void QueryMaxFrameSize(KvelRadarDevice* device, int attempts, int timeoutMs) {
    for (int i = 0; i < std::max(attempts, 1); ++i) {
        Reply reply;
        ExchangeResult result{};
        if (ExchangeOk(device, rp::kCmdGetMaxFrameSize, nullptr, 0, timeoutMs, &reply, &result)) {
            if (reply.payload.size() != 2) {
                DbgOutputA(2, "Radar maximum frame size reply of %zu bytes ignored\r\n",
                           reply.payload.size());
                return;
            }
            const int size = reply.payload[0] | (reply.payload[1] << 8);
            if (size < rp::kMinMaxFrameSize) {
                DbgOutputA(2, "Radar maximum frame size %d ignored\r\n", size);
                return;
            }
            device->channel.SetMaxFrameSize(size);
            return;
        }
        if (result == ExchangeResult::NotConnected) return;
    }
}

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void AppendU16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

// One page of a text: the length of the whole text and its bytes from
// `offset` on, as many as the reply frame held.
bool QueryTextPage(KvelRadarDevice* device, uint8_t code, size_t offset, size_t* total,
                   std::string* page) {
    std::vector<uint8_t> question;
    AppendU16(question, static_cast<uint16_t>(offset));
    for (int i = 0; i < kTextQueryAttempts; ++i) {
        Reply reply;
        ExchangeResult result{};
        if (ExchangeOk(device, code, question.data(), static_cast<int>(question.size()),
                       kTextQueryTimeoutMs, &reply, &result)) {
            if (reply.payload.size() < static_cast<size_t>(rp::kTextLengthBytes)) {
                DbgOutputA(2, "Radar text reply of %zu bytes ignored\r\n", reply.payload.size());
                return false;
            }
            *total = ReadU16(reply.payload.data());
            page->assign(reply.payload.begin() + rp::kTextLengthBytes, reply.payload.end());
            return true;
        }
        if (result == ExchangeResult::NotConnected) break;
    }
    return false;
}

// Asks for a text page by page until it is whole (or at the protocol's limit).
bool QueryWholeText(KvelRadarDevice* device, uint8_t code, std::string* text) {
    size_t total = 0;
    do {
        std::string page;
        if (!QueryTextPage(device, code, text->size(), &total, &page)) return false;
        const size_t wanted = std::min<size_t>(total, rp::kMaxTextBytes);
        if (page.empty() && text->size() < wanted) {
            DbgOutputA(2, "Radar text 0x%02X stopped at %zu of %zu bytes\r\n", code, text->size(),
                       total);
            return false;
        }
        text->append(page, 0, wanted - std::min(wanted, text->size()));
    } while (text->size() < std::min<size_t>(total, rp::kMaxTextBytes));
    if (total > static_cast<size_t>(rp::kMaxTextBytes))
        DbgOutputA(2, "Radar text 0x%02X of %zu bytes cut to %d\r\n", code, total,
                   rp::kMaxTextBytes);
    return true;
}

bool QueryText(KvelRadarDevice* device, uint8_t code, CBaseStringA* text) {
    if (text) text->SetString("");
    if (!device) return false;
    std::lock_guard lock(device->io);
    std::string whole;
    if (!QueryWholeText(device, code, &whole)) return false;
    // The text has no terminator; a zero byte in it ends it.
    whole.resize(std::min(whole.size(), whole.find('\0')));
    if (text) text->SetString(whole.c_str(), whole.size());
    return true;
}

// Reads and writes of detection parameters change nothing when repeated, so
// a reply that did not come in time is asked for once more.
bool ParamExchangeOk(KvelRadarDevice* device, uint8_t code, const std::vector<uint8_t>& payload,
                     int timeoutMs, Reply* reply) {
    const bool repeatable =
        code == rp::kCmdGetDetectionParams || code == rp::kCmdSetDetectionParams;
    for (int attempt = 0; attempt < (repeatable ? 2 : 1); ++attempt) {
        ExchangeResult result{};
        if (ExchangeOk(device, code, payload.data(), static_cast<int>(payload.size()), timeoutMs,
                       reply, &result))
            return true;
        if (result != ExchangeResult::Timeout && result != ExchangeResult::Unreadable) break;
    }
    return false;
}

bool ValidCode(int code) { return code >= 0 && code <= 0xFF; }

void AppendU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t ReadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Largest entry count whose frame of `bytesEach` per entry stays in bounds.
int FitsInFrame(const KvelRadarDevice* device, int bytesEach) {
    return (device->channel.MaxFrameSize() - rp::kFramingBytes) / bytesEach;
}

bool SetOperatingMode(KvelRadarDevice* device, uint32_t mode) {
    const uint16_t id = rp::kSettingOperatingMode;
    return KVEL_Interface_RadarDevice_Protocol_SetParameter(device, rp::kCmdSetSystemSettings, 1,
                                                            &id, &mode, kModeSettingTimeoutMs) != 0;
}

void SleepUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() > 0) HQ_Sleep(static_cast<uint32_t>(left.count()));
}

}  // namespace

KVEL_RADAR_HANDLE KVEL_Interface_RadarDevice_Serial_Create() { return new KvelRadarDevice; }

void KVEL_Interface_RadarDevice_Serial_Destroy(KVEL_RADAR_HANDLE device) {
    if (!device) return;
    KVEL_Interface_RadarDevice_Serial_Close(device);
    delete device;
}

int KVEL_Interface_RadarDevice_Serial_OpenByPortNum(KVEL_RADAR_HANDLE device, int portNumber,
                                                    int baudRate, int attempts,
                                                    int enterCommandMode, int flushInput,
                                                    int queryFrameSize, int replyTimeoutMs) {
    if (!device) return 0;
    std::lock_guard lock(device->io);
    device->line.Close();
    device->channel.Leftover().clear();
    // Another module may sit on the port now: back to what every module takes.
    device->channel.SetMaxFrameSize(rp::kDefaultMaxFrameSize);

    const std::string path = SerialPortDevicePath(portNumber);
    if (path.empty()) {
        DbgOutputA(2, "Cannot open serial port %d: no such port number\r\n", portNumber);
        return 0;
    }
    std::string why;
    if (!device->line.Open(path, baudRate, &why)) {
        DbgOutputA(2, "Cannot open serial port %d: %s\r\n", portNumber, why.c_str());
        return 0;
    }
    DbgOutputA(2, "Serial port %d (%s) open at %d baud\r\n", portNumber, path.c_str(), baudRate);
    if (flushInput) device->line.DiscardInput();
    if (enterCommandMode && !EnterCommandMode(device, attempts, replyTimeoutMs))
        DbgOutputA(2, "The module on port %d did not enter command mode\r\n", portNumber);
    if (queryFrameSize) QueryMaxFrameSize(device, attempts, replyTimeoutMs);
    return 1;
}

void KVEL_Interface_RadarDevice_Serial_Close(KVEL_RADAR_HANDLE device) {
    if (!device) return;
    std::lock_guard lock(device->io);
    device->line.Close();
    device->channel.Leftover().clear();
}

int KVEL_Interface_RadarDevice_LastReplyRefused(KVEL_RADAR_HANDLE device) {
    return device && device->lastRefused.load() ? 1 : 0;
}

int KVEL_Interface_RadarDevice_IsConnected(KVEL_RADAR_HANDLE device) {
    if (!device) return 0;
    // A reader may hold the lock for its whole time-out; it notices a
    // failed line itself, so only look for a hang-up when the line is free.
    std::unique_lock lock(device->io, std::try_to_lock);
    if (lock.owns_lock()) device->line.CheckHangUp();
    return device->line.IsAlive() ? 1 : 0;
}

int KVEL_Interface_RadarDevice_StartCmdMode(KVEL_RADAR_HANDLE device, int attempts,
                                            int replyTimeoutMs) {
    if (!device) return 0;
    std::lock_guard lock(device->io);
    return EnterCommandMode(device, attempts, replyTimeoutMs) ? 1 : 0;
}

int KVEL_Interface_RadarDevice_StopCmdMode(KVEL_RADAR_HANDLE device) {
    if (!device) return 0;
    std::lock_guard lock(device->io);
    return LeaveCommandMode(device) ? 1 : 0;
}

int KVEL_Interface_RadarDevice_GetVersion(KVEL_RADAR_HANDLE device, CBaseStringA* version) {
    return QueryText(device, rp::kCmdGetVersion, version) ? 1 : 0;
}

int KVEL_Interface_RadarDevice_GetSerialNumber(KVEL_RADAR_HANDLE device, CBaseStringA* serial) {
    return QueryText(device, rp::kCmdGetSerialNumber, serial) ? 1 : 0;
}

int KVEL_Interface_RadarDevice_Protocol_GetWriteBufferMaxSize(KVEL_RADAR_HANDLE device) {
    return device ? device->channel.MaxFrameSize() : rp::kDefaultMaxFrameSize;
}

int KVEL_Interface_RadarDevice_Protocol_GetParameter(KVEL_RADAR_HANDLE device, int code, int count,
                                                     const uint16_t* ids, uint32_t* values,
                                                     int timeoutMs) {
    if (!device || !ids || !values || !ValidCode(code) || count <= 0) return 0;
    std::lock_guard lock(device->io);
    // The reply (4 bytes a value) is the larger frame of the two.
    if (count > FitsInFrame(device, 4)) {
        DbgOutputA(2, "Radar parameter read of %d values exceeds the frame size %d\r\n", count,
                   device->channel.MaxFrameSize());
        return 0;
    }
    std::vector<uint8_t> payload;
    for (int i = 0; i < count; ++i) AppendU16(payload, ids[i]);
    Reply reply;
    if (!ParamExchangeOk(device, static_cast<uint8_t>(code), payload, timeoutMs, &reply)) return 0;
    if (reply.payload.size() != static_cast<size_t>(count) * 4) {
        DbgOutputA(2, "Radar parameter reply of %zu bytes for %d values\r\n", reply.payload.size(),
                   count);
        return 0;
    }
    for (int i = 0; i < count; ++i) values[i] = ReadU32(reply.payload.data() + 4 * i);
    return 1;
}

int KVEL_Interface_RadarDevice_Protocol_SetParameter(KVEL_RADAR_HANDLE device, int code, int count,
                                                     const uint16_t* ids, const uint32_t* values,
                                                     int timeoutMs) {
    if (!device || !ids || !values || !ValidCode(code) || count <= 0) return 0;
    std::lock_guard lock(device->io);
    if (count > FitsInFrame(device, 6)) {
        DbgOutputA(2, "Radar parameter write of %d entries exceeds the frame size %d\r\n", count,
                   device->channel.MaxFrameSize());
        return 0;
    }
    std::vector<uint8_t> payload;
    for (int i = 0; i < count; ++i) {
        AppendU16(payload, ids[i]);
        AppendU32(payload, values[i]);
    }
    Reply reply;
    return ParamExchangeOk(device, static_cast<uint8_t>(code), payload, timeoutMs, &reply) ? 1 : 0;
}

int KVEL_Interface_RadarDevice_Protocol_SetDataTransferMode(KVEL_RADAR_HANDLE device) {
    return SetOperatingMode(device, rp::kModeDataTransfer) ? 1 : 0;
}

int KVEL_Interface_RadarDevice_Protocol_SetABDMode(KVEL_RADAR_HANDLE device) {
    return SetOperatingMode(device, rp::kModeABD) ? 1 : 0;
}

int KVEL_Interface_RadarDevice_ReadData(KVEL_RADAR_HANDLE device, uint8_t* buffer, int size,
                                        int timeoutMs, int /*flags*/) {
    const int waitMs = std::max(timeoutMs, 0);
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    if (device && buffer && size > 0) {
        std::lock_guard lock(device->io);
        std::vector<uint8_t>& leftover = device->channel.Leftover();
        if (!leftover.empty()) {
            const size_t n = std::min(leftover.size(), static_cast<size_t>(size));
            std::copy_n(leftover.begin(), n, buffer);
            leftover.erase(leftover.begin(), leftover.begin() + static_cast<long>(n));
            return static_cast<int>(n);
        }
        if (device->line.IsAlive()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            const int got = device->line.Read(buffer, size, std::max<int>(0, left.count()));
            if (got >= 0) return got;
        }
    }
    // No line to read: wait out the time-out (without the lock), so that a
    // caller's read loop does not spin.
    SleepUntil(deadline);
    return -1;
}

uint16_t KVEL_Interface_RadarDevice_Protocol_SendCommand(KVEL_RADAR_HANDLE device, int code,
                                                         const uint8_t* data, int length,
                                                         KVEL_REPLY_HANDLER handler, void* context,
                                                         int timeoutMs) {
    if (!device) return KVEL_SEND_NOT_CONNECTED;
    if (!ValidCode(code)) return KVEL_SEND_WRITE_FAILED;
    Reply reply;
    ExchangeResult result{};
    {
        std::lock_guard lock(device->io);
        result =
            device->channel.Exchange(static_cast<uint8_t>(code), data, length, timeoutMs, &reply);
    }
    switch (result) {
        case ExchangeResult::Done:
            break;
        case ExchangeResult::NotConnected:
            return KVEL_SEND_NOT_CONNECTED;
        case ExchangeResult::TooLong:
            return KVEL_SEND_TOO_LONG;
        case ExchangeResult::WriteFailed:
            return KVEL_SEND_WRITE_FAILED;
        case ExchangeResult::Timeout:
            DbgOutputA(2, "Radar command 0x%02X: no reply within %d ms\r\n", code, timeoutMs);
            return KVEL_SEND_TIMEOUT;
        case ExchangeResult::Unreadable:
            DbgOutputA(2, "Radar command 0x%02X: %s\r\n", code, UnreadableText().c_str());
            return KVEL_SEND_TIMEOUT;
    }
    if (reply.status != rp::kStatusOk) {
        DbgOutputA(2, "Radar command 0x%02X answered with status %d\r\n", code, reply.status);
        return KVEL_SEND_REFUSED;
    }
    if (!handler) return 0;
    // The handler runs outside the lock: it may well call the library.
    static const uint8_t kNoPayload = 0;
    const uint8_t* payload = reply.payload.empty() ? &kNoPayload : reply.payload.data();
    return handler(nullptr, payload, static_cast<int>(reply.payload.size()), context);
}

int KVEL_Interface_RadarDevice_Protocol_SendCommand_NoCheckAck(KVEL_RADAR_HANDLE device, int code,
                                                               const uint8_t* data, int length) {
    if (!device || !ValidCode(code)) return 0;
    std::lock_guard lock(device->io);
    return device->channel.Send(static_cast<uint8_t>(code), data, length) == ExchangeResult::Done
               ? 1
               : 0;
}

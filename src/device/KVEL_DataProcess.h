// KVEL_DataProcess: the radar device library. One handle is one serial
// connection to a module; every exchange follows docs/protocol.md.
// Results: nonzero 32-bit value = ok, unless a function says otherwise.
#pragma once

#include <cstdint>

#include "common/KVEL_Common.h"

using KVEL_RADAR_HANDLE = struct KvelRadarDevice*;

KVEL_RADAR_HANDLE KVEL_Interface_RadarDevice_Serial_Create();
void KVEL_Interface_RadarDevice_Serial_Destroy(KVEL_RADAR_HANDLE device);

// Opens port `portNumber` (the common library's numbering, docs/ports.md)
// at `baudRate`, exclusively. A handle that is open is closed and opened
// anew. The five values that follow are:
//   attempts          tries of each handshake below (at least 1)
//   enterCommandMode  nonzero: enter command mode right after opening, so
//                     commands are accepted at once
//   flushInput        nonzero: discard whatever the line held before
//   queryFrameSize    nonzero: ask the module its maximum frame size
//   replyTimeoutMs    time allowed for each handshake reply
// Returns nonzero when the port is open. A module that does not answer the
// handshakes does not fail the open (the caller's next command will).
int KVEL_Interface_RadarDevice_Serial_OpenByPortNum(KVEL_RADAR_HANDLE device, int portNumber,
                                                    int baudRate, int attempts,
                                                    int enterCommandMode, int flushInput,
                                                    int queryFrameSize, int replyTimeoutMs);
void KVEL_Interface_RadarDevice_Serial_Close(KVEL_RADAR_HANDLE device);
// Nonzero while the port is open and its device is still there.
int KVEL_Interface_RadarDevice_IsConnected(KVEL_RADAR_HANDLE device);
// Nonzero when the last command's reply came but carried a failing status:
// the module refused it, rather than not answering.
int KVEL_Interface_RadarDevice_LastReplyRefused(KVEL_RADAR_HANDLE device);

// Enters command mode: up to `attempts` tries, `replyTimeoutMs` each.
int KVEL_Interface_RadarDevice_StartCmdMode(KVEL_RADAR_HANDLE device, int attempts,
                                            int replyTimeoutMs);
// Leaves command mode: a reply that does not come is asked for once more.
// Nonzero once the module said it is out (status 0, or "not in command mode"
// to a repeat); 0 when it never answered, so it may still be silent in
// command mode.
int KVEL_Interface_RadarDevice_StopCmdMode(KVEL_RADAR_HANDLE device);

// The module's texts, whole (asked page by page when longer than a frame);
// a text longer than the protocol's limit is cut there, and the log says so.
int KVEL_Interface_RadarDevice_GetVersion(KVEL_RADAR_HANDLE device, CBaseStringA* version);
int KVEL_Interface_RadarDevice_GetSerialNumber(KVEL_RADAR_HANDLE device, CBaseStringA* serial);

// Largest frame, in bytes, the module takes and sends; positive also on a
// closed handle (the protocol's default then).
int KVEL_Interface_RadarDevice_Protocol_GetWriteBufferMaxSize(KVEL_RADAR_HANDLE device);

// Reads `count` parameters (`code` 8). ok = every value filled. Reads and
// writes of detection parameters (codes 8 and 7) are sent a second time
// when the first reply does not come in time: repeating them changes nothing.
int KVEL_Interface_RadarDevice_Protocol_GetParameter(KVEL_RADAR_HANDLE device, int code, int count,
                                                     const uint16_t* ids, uint32_t* values,
                                                     int timeoutMs);
// Writes `count` (ID, value) entries with `code` (7: detection parameters;
// 18: system settings, ID 0 = operating mode). ok = accepted.
int KVEL_Interface_RadarDevice_Protocol_SetParameter(KVEL_RADAR_HANDLE device, int code, int count,
                                                     const uint16_t* ids, const uint32_t* values,
                                                     int timeoutMs);
int KVEL_Interface_RadarDevice_Protocol_SetDataTransferMode(KVEL_RADAR_HANDLE device);
int KVEL_Interface_RadarDevice_Protocol_SetABDMode(KVEL_RADAR_HANDLE device);

// Waits up to `timeoutMs` for bytes from the line and stores at most `size`
// of them. Returns the count stored; < 1 when none came. A failed line
// waits out the time-out too, so callers' read loops never spin.
int KVEL_Interface_RadarDevice_ReadData(KVEL_RADAR_HANDLE device, uint8_t* buffer, int size,
                                        int timeoutMs, int flags);

// Reply handler of Protocol_SendCommand: called with the reply's payload;
// its result becomes the call's result (0 = success).
using KVEL_REPLY_HANDLER = uint16_t (*)(void* reserved, const uint8_t* payload, int length,
                                        void* context);
// Sends command `code` with `length` payload bytes, waits up to `timeoutMs`
// for its reply and hands that to `handler`. Returns 0 on success, the
// handler's result, or one of the KVEL_SEND_* failures below.
uint16_t KVEL_Interface_RadarDevice_Protocol_SendCommand(KVEL_RADAR_HANDLE device, int code,
                                                         const uint8_t* data, int length,
                                                         KVEL_REPLY_HANDLER handler, void* context,
                                                         int timeoutMs);
// Sends command `code` and returns without waiting for a reply.
int KVEL_Interface_RadarDevice_Protocol_SendCommand_NoCheckAck(KVEL_RADAR_HANDLE device, int code,
                                                               const uint8_t* data, int length);

constexpr uint16_t KVEL_SEND_NOT_CONNECTED = 0xA001;
constexpr uint16_t KVEL_SEND_TIMEOUT = 0xA002;
constexpr uint16_t KVEL_SEND_WRITE_FAILED = 0xA003;
constexpr uint16_t KVEL_SEND_TOO_LONG = 0xA004;
constexpr uint16_t KVEL_SEND_REFUSED = 0xA006;  // the reply carried a failing status

// Ends the diagnostic line of an exchange that heard bytes but not one valid
// frame, which is what a line at another speed than the module's sounds like.
constexpr const char* KVEL_WRONG_BAUD_HINT = "the baud rate may be wrong";

// Running averages of several channels (threshold calibration).
class CRadarDataCollector {
public:
    // Starts anew with `channelCount` channels, all without samples.
    void StartCollection(int channelCount);
    void UpdateValue(int channel, double value);
    // The average of the channel's samples; 0.0 without samples.
    double GetCurrentAvgValue(int channel) const;
    int GetSampleCount(int channel) const;

private:
    struct Channel {
        double sum = 0.0;
        int count = 0;
    };
    std::vector<Channel> m_channels;
};

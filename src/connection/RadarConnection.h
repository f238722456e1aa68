// Connecting to the module and letting it go again, as one sequence that the
// main window and radar-cli share: the window adds its texts, message boxes
// and hand-offs to the pages; radar-cli its output and exit codes.
#pragma once

#include <string>

#include "device/KVEL_DataProcess.h"
#include "params/RadarParam.h"

namespace radar_connection {

// Opening the main connection: two tries of each handshake, command mode at
// once, stale input dropped, the frame size asked, 150 ms per reply.
constexpr int kOpenAttempts = 2;
constexpr int kOpenEnterCommandMode = 1;
constexpr int kOpenFlushInput = 1;
constexpr int kOpenQueryFrameSize = 1;
constexpr int kOpenReplyTimeoutMs = 150;
// The function-mode switch when letting the module go.
constexpr int kFunctionModeTimeoutMs = 2000;

}  // namespace radar_connection

// What connecting did, step by step.
struct RadarConnectResult {
    bool opened = false;  // false: nothing else was tried
    bool versionRead = false;
    bool serialRead = false;
    std::string version;
    std::string serial;
    int paramsResult = kRadarNotConnected;  // of ReadRadarParams
    bool dataTransferMode = false;          // the module took data transfer mode
};

// Hand-offs during the connect sequence, in this order, on the caller's
// thread. Both are called whenever the port opened.
class IRadarConnectListener {
public:
    virtual ~IRadarConnectListener() = default;
    // After the version and the serial number were asked for ("" when the
    // module did not answer).
    virtual void OnIdentity(const std::string& version, const std::string& serial) = 0;
    // After the parameters were read (on failure the set kept its values),
    // before the module is switched to data transfer mode.
    virtual void OnParamsRead(int result) = 0;
};

// The module's connection on one device handle, which it does not own.
class RadarConnection {
public:
    explicit RadarConnection(KVEL_RADAR_HANDLE device) : m_device(device) {}

    bool IsConnected() const;
    // Opens the port with the connection's arguments; true when it is open.
    bool Open(int portNumber, int baudRate);
    // Open; version and serial number; the parameters into *params; data
    // transfer mode; command mode left.
    RadarConnectResult Connect(int portNumber, int baudRate, RadarParamSet* params,
                               IRadarConnectListener* listener = nullptr);
    // Function mode (in command mode), then the port closes. True when the
    // module took function mode.
    bool Disconnect();

    // The parameter read and write of an open connection, each in command
    // mode of its own. Results as ReadRadarParams and WriteRadarParams.
    int ReadParams(RadarParamSet* params);
    int WriteParams(const RadarParamSet& params);
    // The module's report stream on (ABD mode) and back to data transfer
    // mode, each in command mode of its own. True when the module took it.
    bool StartReports();
    bool StopReports();
    // Whether the last mode switch that failed was refused by the module
    // rather than not answered.
    bool ModeSwitchRefused() const { return m_modeSwitchRefused; }

private:
    // A mode switch in command mode of its own, noting a refusal.
    bool SwitchMode(int (*command)(KVEL_RADAR_HANDLE));

    KVEL_RADAR_HANDLE m_device;
    bool m_modeSwitchRefused = false;
};

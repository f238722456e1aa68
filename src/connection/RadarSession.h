// The module session: the one owner of the main connection to the module.
// It holds the device handle, the port and baud rate, whether the line is
// connected, disconnected or lost, the module's identity and mode, and the
// shared parameter set. The main window, its pages, the workers they start
// and radar-cli all talk to the module through it.
//
// Threads: connecting, disconnecting and the parameter exchanges run on the
// owner's thread (the user-interface thread in the window); a reading worker
// switches the report stream on and off and reads through it while the
// owner's thread leaves the line alone. The state, the mode and the lost
// notice are safe from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "connection/RadarConnection.h"
#include "device/KVEL_DataProcess.h"
#include "params/RadarParamModel.h"

enum class SessionState {
    Disconnected,  // no port open (also at start)
    Connected,     // the port is open and was still there at the last exchange
    Lost,          // the line went away while connected; the next Disconnect or
                   // Connect closes what is left of the port
};

// What the module was last told to do with its report stream.
enum class ModuleMode {
    Unknown,       // nothing said yet, or the line is gone
    DataTransfer,  // after connecting and after a report stream
    Reports,       // object reports streaming (the readers)
    Function,      // let go by Disconnect
};

class ISessionListener {
public:
    virtual ~ISessionListener() = default;
    // The line went away while connected. Called once per loss, on the
    // thread that found it (a reading worker or the owner's thread): the
    // window posts itself an event and does the rest there.
    virtual void OnLineLost() = 0;
};

class CRadarSession : public IRadarParamSession {
public:
    CRadarSession();           // creates the device handle
    virtual ~CRadarSession();  // closes the port (no exchange) and frees the handle
    CRadarSession(const CRadarSession&) = delete;
    CRadarSession& operator=(const CRadarSession&) = delete;

    void SetListener(ISessionListener* listener) { m_listener = listener; }

    // The connect sequence (RadarConnection::Connect) into the session's
    // parameter set; on success the state is Connected, the identity and
    // the port are kept. `listener` hears the steps as there.
    RadarConnectResult Connect(int portNumber, int baudRate,
                               IRadarConnectListener* listener = nullptr);
    // Function mode and the port closed. A lost line is only closed. True
    // when the module took function mode.
    bool Disconnect();

    SessionState State() const { return m_state.load(); }
    // Connected and the device still there; finding it gone marks the loss.
    bool IsConnected();
    ModuleMode Mode() const { return m_mode.load(); }
    int PortNumber() const { return m_portNumber; }
    int BaudRate() const { return m_baudRate; }
    const std::string& Version() const { return m_version; }
    const std::string& Serial() const { return m_serial; }

    CRadarParamModel& Params() override { return m_params; }
    const CRadarParamModel& Params() const { return m_params; }

    // The parameter exchanges (kRadarOk, kRadarNotConnected, kRadarNoAnswer,
    // kRadarRefused).
    // A read changes the set only when it succeeds. What a successful read
    // or write leaves in the module is noted as the set's module values.
    int ReadParams() override;
    int WriteParams() override;
    // The given set written (the session's set is left alone).
    int WriteParams(const RadarParamSet& values);

    // The report stream on (ABD mode) and back to data transfer mode; from
    // a reading worker. True when the module took it.
    bool StartReports();
    bool StopReports();
    // Whether the last mode switch that failed was refused rather than not
    // answered.
    bool ModeSwitchRefused();
    // Waits up to `timeoutMs` for bytes from the module (a reading worker).
    // The count stored; 0 when none came; -1 when the line is gone (the
    // loss is marked).
    int ReadData(uint8_t* buffer, int size, int timeoutMs);
    // The largest frame the module takes and sends.
    int FrameSize() const;

    // Looks at the line after an exchange: a connected line whose device has
    // gone becomes Lost (once), and the listener hears of it.
    void CheckLine();

private:
    void MarkLost();
    void TakeReadParams(const RadarParamSet& values);
    int ResultAfterExchange(int result);

    KVEL_RADAR_HANDLE m_device = nullptr;
    RadarConnection m_connection;
    // One command-mode exchange at a time: a threshold write on its own
    // thread and a click on the window never interleave on the line.
    std::mutex m_exchangeLock;
    std::atomic<SessionState> m_state{SessionState::Disconnected};
    std::atomic<ModuleMode> m_mode{ModuleMode::Unknown};
    ISessionListener* m_listener = nullptr;
    int m_portNumber = 0;
    int m_baudRate = 0;
    std::string m_version;
    std::string m_serial;
    CRadarParamModel m_params;
};

#include "connection/RadarSession.h"

#include "common/KVEL_Common.h"

CRadarSession::CRadarSession()
    : m_device(KVEL_Interface_RadarDevice_Serial_Create()), m_connection(m_device) {}

CRadarSession::~CRadarSession() { KVEL_Interface_RadarDevice_Serial_Destroy(m_device); }

RadarConnectResult CRadarSession::Connect(int portNumber, int baudRate,
                                          IRadarConnectListener* listener) {
    std::lock_guard exchange(m_exchangeLock);
    m_version.clear();
    m_serial.clear();
    m_mode.store(ModuleMode::Unknown);
    m_state.store(SessionState::Disconnected);
    // Another module may be on the line now.
    m_params.ForgetModuleValues();
    RadarParamSet values = m_params.Values();
    // The pages hear of the new values between the identity and the switch
    // to data transfer mode, as the listener's steps promise.
    struct Relay : IRadarConnectListener {
        CRadarSession* session;
        IRadarConnectListener* next;
        RadarParamSet* values;
        void OnIdentity(const std::string& version, const std::string& serial) override {
            session->m_version = version;
            session->m_serial = serial;
            if (next) next->OnIdentity(version, serial);
        }
        void OnParamsRead(int result) override {
            if (result == kRadarOk) session->TakeReadParams(*values);
            if (next) next->OnParamsRead(result);
        }
    } relay;
    relay.session = this;
    relay.next = listener;
    relay.values = &values;
    const RadarConnectResult result = m_connection.Connect(portNumber, baudRate, &values, &relay);
    if (!result.opened) return result;
    m_portNumber = portNumber;
    m_baudRate = baudRate;
    m_mode.store(result.dataTransferMode ? ModuleMode::DataTransfer : ModuleMode::Unknown);
    m_state.store(SessionState::Connected);
    CheckLine();
    return result;
}

bool CRadarSession::Disconnect() {
    std::lock_guard exchange(m_exchangeLock);
    const SessionState state = m_state.exchange(SessionState::Disconnected);
    m_version.clear();
    m_serial.clear();
    if (state != SessionState::Connected) {
        // A lost line has nobody to tell: only what is left of the port goes.
        KVEL_Interface_RadarDevice_Serial_Close(m_device);
        m_mode.store(ModuleMode::Unknown);
        return state == SessionState::Disconnected;
    }
    const bool functionMode = m_connection.Disconnect();
    m_mode.store(functionMode ? ModuleMode::Function : ModuleMode::Unknown);
    return functionMode;
}

bool CRadarSession::IsConnected() {
    CheckLine();
    return m_state.load() == SessionState::Connected;
}

void CRadarSession::CheckLine() {
    if (m_state.load() != SessionState::Connected) return;
    if (KVEL_Interface_RadarDevice_IsConnected(m_device) != 0) return;
    MarkLost();
}

void CRadarSession::MarkLost() {
    SessionState expected = SessionState::Connected;
    if (!m_state.compare_exchange_strong(expected, SessionState::Lost)) return;
    m_mode.store(ModuleMode::Unknown);
    DbgOutputA(2, "The line to the module on port %d was lost.\r\n", m_portNumber);
    if (m_listener) m_listener->OnLineLost();
}

int CRadarSession::ReadParams() {
    std::lock_guard exchange(m_exchangeLock);
    RadarParamSet values = m_params.Values();
    const int result = ResultAfterExchange(m_connection.ReadParams(&values));
    if (result == kRadarOk) TakeReadParams(values);
    return result;
}

int CRadarSession::WriteParams() { return WriteParams(m_params.Values()); }

int CRadarSession::WriteParams(const RadarParamSet& values) {
    std::lock_guard exchange(m_exchangeLock);
    const int result = ResultAfterExchange(m_connection.WriteParams(values));
    if (result == kRadarOk) m_params.SetModuleValues(values);
    return result;
}

// Known as the module's before the set changes, so that whoever hears of
// the change finds nothing differing.
void CRadarSession::TakeReadParams(const RadarParamSet& values) {
    m_params.SetModuleValues(values);
    m_params.Set(values);
}

// An exchange that failed because the line went under it failed for want of
// a module, not for want of an answer.
int CRadarSession::ResultAfterExchange(int result) {
    CheckLine();
    if (result != kRadarOk && m_state.load() != SessionState::Connected) return kRadarNotConnected;
    return result;
}

bool CRadarSession::StartReports() {
    std::lock_guard exchange(m_exchangeLock);
    const bool ok = m_connection.StartReports();
    CheckLine();
    if (ok) m_mode.store(ModuleMode::Reports);
    return ok;
}

bool CRadarSession::StopReports() {
    std::lock_guard exchange(m_exchangeLock);
    const bool ok = m_connection.StopReports();
    CheckLine();
    if (ok) m_mode.store(ModuleMode::DataTransfer);
    return ok;
}

bool CRadarSession::ModeSwitchRefused() {
    std::lock_guard exchange(m_exchangeLock);
    return m_connection.ModeSwitchRefused();
}

int CRadarSession::ReadData(uint8_t* buffer, int size, int timeoutMs) {
    const int received = KVEL_Interface_RadarDevice_ReadData(m_device, buffer, size, timeoutMs, 0);
    if (received > 0) return received;
    if (KVEL_Interface_RadarDevice_IsConnected(m_device) != 0) return 0;
    MarkLost();
    return -1;
}

int CRadarSession::FrameSize() const {
    return KVEL_Interface_RadarDevice_Protocol_GetWriteBufferMaxSize(m_device);
}

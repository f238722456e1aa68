#include "connection/RadarConnection.h"

#include <cstdint>

#include "device/CommandMode.h"
#include "device/RadarProtocol.h"

namespace rc = radar_connection;
namespace rp = radar_protocol;

bool RadarConnection::IsConnected() const {
    return m_device && KVEL_Interface_RadarDevice_IsConnected(m_device) != 0;
}

bool RadarConnection::Open(int portNumber, int baudRate) {
    if (!m_device) return false;
    return KVEL_Interface_RadarDevice_Serial_OpenByPortNum(
               m_device, portNumber, baudRate, rc::kOpenAttempts, rc::kOpenEnterCommandMode,
               rc::kOpenFlushInput, rc::kOpenQueryFrameSize, rc::kOpenReplyTimeoutMs) != 0;
}

RadarConnectResult RadarConnection::Connect(int portNumber, int baudRate, RadarParamSet* params,
                                            IRadarConnectListener* listener) {
    RadarConnectResult result;
    result.opened = Open(portNumber, baudRate);
    if (!result.opened) return result;

    // The open left the module in command mode for these exchanges.
    CBaseStringA version, serial;
    result.versionRead = KVEL_Interface_RadarDevice_GetVersion(m_device, &version) != 0;
    result.serialRead = KVEL_Interface_RadarDevice_GetSerialNumber(m_device, &serial) != 0;
    result.version = version.GetString();
    result.serial = serial.GetString();
    if (listener) listener->OnIdentity(result.version, result.serial);

    result.paramsResult = params ? ReadRadarParams(m_device, params) : kRadarOk;
    if (listener) listener->OnParamsRead(result.paramsResult);

    result.dataTransferMode =
        KVEL_Interface_RadarDevice_Protocol_SetDataTransferMode(m_device) != 0;
    KVEL_Interface_RadarDevice_StopCmdMode(m_device);
    return result;
}

bool RadarConnection::Disconnect() {
    const bool functionMode = InCommandMode(m_device, [this] {
        const uint16_t id = rp::kSettingOperatingMode;
        const uint32_t value = rp::kModeFunction;
        return KVEL_Interface_RadarDevice_Protocol_SetParameter(m_device, rp::kCmdSetSystemSettings,
                                                                1, &id, &value,
                                                                rc::kFunctionModeTimeoutMs) != 0;
    });
    KVEL_Interface_RadarDevice_Serial_Close(m_device);
    return functionMode;
}

int RadarConnection::ReadParams(RadarParamSet* params) {
    return InCommandMode(m_device, [&] { return ReadRadarParams(m_device, params); });
}

int RadarConnection::WriteParams(const RadarParamSet& params) {
    return InCommandMode(m_device, [&] { return WriteRadarParams(m_device, &params); });
}

bool RadarConnection::StartReports() {
    return SwitchMode(KVEL_Interface_RadarDevice_Protocol_SetABDMode);
}

bool RadarConnection::StopReports() {
    return SwitchMode(KVEL_Interface_RadarDevice_Protocol_SetDataTransferMode);
}

bool RadarConnection::SwitchMode(int (*command)(KVEL_RADAR_HANDLE)) {
    m_modeSwitchRefused = false;
    return InCommandMode(m_device, [this, command] {
        const bool took = command(m_device) != 0;
        // Asked here: leaving command mode sends a reply of its own.
        m_modeSwitchRefused = !took && KVEL_Interface_RadarDevice_LastReplyRefused(m_device);
        return took;
    });
}

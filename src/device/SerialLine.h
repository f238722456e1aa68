// One serial line on a POSIX terminal device: raw 8N1 without flow
// control, non-blocking, exclusively held, with poll-based time-outs.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace kvel_device {

// The termios speed constant of `baudRate`, or false when the platform has
// none (0 included: B0 would hang the line up).
bool BaudRateToSpeed(int baudRate, unsigned* speed);

class SerialLine {
public:
    SerialLine() = default;
    ~SerialLine() { Close(); }
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    // Opens `devicePath` at `baudRate`. On failure *why says what went
    // wrong in words a user can act on.
    bool Open(const std::string& devicePath, int baudRate, std::string* why);
    void Close();

    bool IsOpen() const { return m_fd.load() >= 0; }
    // False once the device has hung up or failed (adapter unplugged,
    // the far end of a pseudo-terminal closed).
    bool IsAlive() const { return IsOpen() && !m_failed.load(); }
    // Looks, without reading, whether the device has hung up meanwhile.
    void CheckHangUp();

    // Waits up to `timeoutMs` for bytes and stores at most `size`.
    // Returns the count, 0 when none came in time, -1 when the line failed.
    int Read(uint8_t* buffer, int size, int timeoutMs);
    // Writes all `size` bytes within `timeoutMs`; false when the line fails
    // or stays blocked.
    bool Write(const uint8_t* data, int size, int timeoutMs);
    // Discards whatever the line holds now.
    void DiscardInput();

    int BaudRate() const { return m_baudRate; }
    const std::string& DevicePath() const { return m_path; }

private:
    void MarkFailed();

    std::atomic<int> m_fd{-1};
    std::atomic<bool> m_failed{false};
    int m_baudRate = 0;
    std::string m_path;
};

// Milliseconds `bytes` take on a line of `baudRate` (10 bits a byte),
// rounded up; 0 for an unknown rate.
int TransferTimeMs(int bytes, int baudRate);

}  // namespace kvel_device

// One pseudo-terminal pair standing in for the module's serial line. The
// emulator works the master side; the host opens the slave device path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace emulator {

class PtyLine {
public:
    enum class ReadResult { Data, Timeout, Closed };

    PtyLine() = default;
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // Creates the pair with the slave in raw mode at `baudRate`. False with a
    // message when the system refuses or the rate is not a standard one.
    bool Open(int baudRate, std::string* error);
    // Closes both sides: a host holding the slave sees a hang-up.
    void Close();
    bool IsOpen() const { return m_master >= 0; }
    const std::string& SlavePath() const { return m_slavePath; }

    // Waits up to `timeoutMs` for bytes from the host. Never spins: when the
    // line reports a hang-up without data it still waits out the time-out.
    ReadResult Read(uint8_t* buffer, size_t capacity, int timeoutMs, size_t* received);
    // Writes all bytes unless the host stops draining the line for longer
    // than `timeoutMs`; returns the count written.
    size_t Write(const uint8_t* data, size_t size, int timeoutMs);
    // The rate the host last set on its side of the line; 0 when unknown.
    int HostBaudRate() const;

    // Standard rates only; 0 for anything else.
    static int SpeedCodeToRate(unsigned code);
    static bool IsSupportedRate(int baudRate);

private:
    int m_master = -1;
    int m_slave = -1;  // held open so that hosts may close and reopen freely
    std::string m_slavePath;
};

}  // namespace emulator

// The module's side of a pseudo-terminal, played by hand in tests: the
// test reads the commands the library sends and writes whatever replies
// (right, late, broken) the case needs. Frames are built here on their own,
// not with the library's code.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/KVEL_Common.h"
#include "device/RadarProtocol.h"

namespace device_test {

namespace rp = radar_protocol;

struct Command {
    int code = -1;
    int sequence = -1;
    std::vector<uint8_t> payload;
};

inline void PutU16(std::vector<uint8_t>& out, unsigned value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

inline void PutU32(std::vector<uint8_t>& out, uint32_t value) {
    PutU16(out, value & 0xFFFF);
    PutU16(out, value >> 16);
}

// CRC-16/CCITT from its table-free definition, byte at a time.
inline uint16_t Crc16(const uint8_t* data, size_t size) {
    unsigned crc = 0xFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= static_cast<unsigned>(data[i]) << 8;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
        crc &= 0xFFFF;
    }
    return static_cast<uint16_t>(crc);
}

// A whole frame around `word` and `payload`: header, length, word, payload,
// checksum over length to payload, tailer.
inline std::vector<uint8_t> CommandFrame(unsigned word, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> f(std::begin(rp::kCommandHeader), std::end(rp::kCommandHeader));
    PutU16(f, static_cast<unsigned>(payload.size()));
    PutU16(f, word);
    f.insert(f.end(), payload.begin(), payload.end());
    PutU16(f, Crc16(f.data() + 4, f.size() - 4));
    f.insert(f.end(), std::begin(rp::kCommandTailer), std::end(rp::kCommandTailer));
    return f;
}

inline std::vector<uint8_t> ReplyFrame(int code, int sequence, int status,
                                       const std::vector<uint8_t>& payload = {}) {
    return CommandFrame(static_cast<unsigned>(code | (sequence << 8) | (status << 12)), payload);
}

inline std::vector<uint8_t> ReplyTo(const Command& c, int status = 0,
                                    const std::vector<uint8_t>& payload = {}) {
    return ReplyFrame(c.code, c.sequence, status, payload);
}

inline std::vector<uint8_t> ReportFrame(size_t payloadBytes) {
    std::vector<uint8_t> f(std::begin(rp::kReportHeader), std::end(rp::kReportHeader));
    PutU16(f, static_cast<unsigned>(payloadBytes));
    for (size_t i = 0; i < payloadBytes; ++i) f.push_back(static_cast<uint8_t>(i * 7));
    f.insert(f.end(), std::begin(rp::kReportTailer), std::end(rp::kReportTailer));
    return f;
}

class PtyModule {
public:
    PtyModule() {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) return;
        m_slavePath = ptsname(m_master);
        m_port = PublishVirtualSerialPort(0, m_slavePath);
    }
    ~PtyModule() {
        if (m_port > 0) WithdrawVirtualSerialPort(m_port);
        HangUp();
    }
    PtyModule(const PtyModule&) = delete;
    PtyModule& operator=(const PtyModule&) = delete;

    bool Ready() const { return m_master >= 0 && m_port > 0; }
    int Port() const { return m_port; }
    const std::string& SlavePath() const { return m_slavePath; }

    // Closes the master: the library's side sees the line hang up.
    void HangUp() {
        if (m_master >= 0) close(m_master);
        m_master = -1;
    }

    void Write(const std::vector<uint8_t>& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
            if (n <= 0) return;
            done += static_cast<size_t>(n);
        }
    }

    // The next command frame the library sent, within `timeoutMs`; code -1
    // when none came.
    Command NextCommand(int timeoutMs = 2000) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            Command c;
            if (TakeFrame(&c)) return c;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0 || m_master < 0) return {};
            pollfd p{m_master, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            uint8_t chunk[256];
            const ssize_t n = read(m_master, chunk, sizeof chunk);
            if (n > 0)
                m_in.insert(m_in.end(), chunk, chunk + n);
            else
                usleep(1000);  // the slave is not open yet or was closed
        }
    }

private:
    bool TakeFrame(Command* c) {
        for (;;) {
            if (m_in.size() < 8) return false;
            if (std::memcmp(m_in.data(), rp::kCommandHeader, 4) != 0) {
                m_in.erase(m_in.begin());
                continue;
            }
            const size_t length = m_in[4] | (m_in[5] << 8);
            if (m_in.size() < length + 12) return false;
            const unsigned word = m_in[6] | (m_in[7] << 8);
            const unsigned checksum = m_in[8 + length] | (m_in[9 + length] << 8);
            if (checksum != Crc16(m_in.data() + 4, length + 4)) {
                m_in.erase(m_in.begin());
                continue;
            }
            c->code = static_cast<int>(word & 0xFF);
            c->sequence = static_cast<int>((word >> 8) & 0xF);
            c->payload.assign(m_in.begin() + 8, m_in.begin() + 8 + static_cast<long>(length));
            m_in.erase(m_in.begin(), m_in.begin() + static_cast<long>(length + 12));
            return true;
        }
    }

    int m_master = -1;
    int m_port = -1;
    std::string m_slavePath;
    std::vector<uint8_t> m_in;
};

// Collects the diagnostic lines written while it lives.
class DiagnosticsRecorder {
public:
    DiagnosticsRecorder() { DbgOutputAddCallback(&DiagnosticsRecorder::Take, this); }
    ~DiagnosticsRecorder() { DbgOutputDelCallback(&DiagnosticsRecorder::Take); }
    std::string Text() {
        std::lock_guard lock(m_mutex);
        return m_text;
    }

private:
    static int Take(void* user, intptr_t, const char* text, int length) {
        auto* self = static_cast<DiagnosticsRecorder*>(user);
        std::lock_guard lock(self->m_mutex);
        self->m_text.append(text, static_cast<size_t>(length));
        return 0;
    }
    std::mutex m_mutex;
    std::string m_text;
};

}  // namespace device_test

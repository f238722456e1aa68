#include "PtyLine.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace emulator {
namespace {

struct RateCode {
    int rate;
    speed_t code;
};

constexpr RateCode kRates[] = {
    {1200, B1200},       {2400, B2400},       {4800, B4800},       {9600, B9600},
    {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
    {230400, B230400},   {460800, B460800},   {500000, B500000},   {576000, B576000},
    {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {3000000, B3000000}, {4000000, B4000000},
};

speed_t RateToCode(int rate) {
    for (const RateCode& entry : kRates) {
        if (entry.rate == rate) return entry.code;
    }
    return B0;
}

std::string SystemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

void SleepMs(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

PtyLine::~PtyLine() { Close(); }

int PtyLine::SpeedCodeToRate(unsigned code) {
    for (const RateCode& entry : kRates) {
        if (entry.code == code) return entry.rate;
    }
    return 0;
}

bool PtyLine::IsSupportedRate(int baudRate) { return RateToCode(baudRate) != B0; }

bool PtyLine::Open(int baudRate, std::string* error) {
    Close();
    const speed_t speed = RateToCode(baudRate);
    if (speed == B0) {
        *error = "unsupported baud rate " + std::to_string(baudRate);
        return false;
    }
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_master < 0) {
        *error = SystemError("cannot open a pseudo-terminal");
        return false;
    }
    char name[128] = {};
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0 ||
        ptsname_r(m_master, name, sizeof name) != 0) {
        *error = SystemError("cannot prepare the pseudo-terminal");
        Close();
        return false;
    }
    m_slavePath = name;
    m_slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_slave < 0) {
        *error = SystemError("cannot open the pseudo-terminal's slave side");
        Close();
        return false;
    }
    // Raw mode from the start: a host that has not configured the line yet
    // must not see the module's bytes echoed or translated.
    termios tio{};
    if (tcgetattr(m_slave, &tio) != 0) {
        *error = SystemError("cannot read the line settings");
        Close();
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    if (tcsetattr(m_slave, TCSANOW, &tio) != 0) {
        *error = SystemError("cannot set the line settings");
        Close();
        return false;
    }
    return true;
}

void PtyLine::Close() {
    if (m_slave >= 0) close(m_slave);
    if (m_master >= 0) close(m_master);
    m_slave = -1;
    m_master = -1;
}

PtyLine::ReadResult PtyLine::Read(uint8_t* buffer, size_t capacity, int timeoutMs,
                                  size_t* received) {
    *received = 0;
    if (m_master < 0) {
        SleepMs(timeoutMs);
        return ReadResult::Closed;
    }
    pollfd pfd{m_master, POLLIN, 0};
    const int ready = poll(&pfd, 1, timeoutMs);
    if (ready <= 0) return ReadResult::Timeout;
    if (!(pfd.revents & POLLIN)) {
        // Hang-up or error with nothing to read: wait instead of spinning.
        SleepMs(timeoutMs);
        return ReadResult::Timeout;
    }
    const ssize_t n = read(m_master, buffer, capacity);
    if (n > 0) {
        *received = static_cast<size_t>(n);
        return ReadResult::Data;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return ReadResult::Timeout;
    // EIO: no slave is open. Ours normally is, but never spin on it.
    SleepMs(timeoutMs);
    return ReadResult::Timeout;
}

size_t PtyLine::Write(const uint8_t* data, size_t size, int timeoutMs) {
    size_t written = 0;
    bool flushed = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (written < size && m_master >= 0) {
        const ssize_t n = write(m_master, data + written, size - written);
        if (n > 0) {
            written += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd pfd{m_master, POLLOUT, 0};
        if (left.count() > 0 && poll(&pfd, 1, static_cast<int>(left.count())) > 0 &&
            (pfd.revents & POLLOUT)) {
            continue;
        }
        // Nobody drains the line (no host has the port open, or it stopped
        // reading). A real line loses such bytes; drop what waits unread
        // once, so the module keeps going instead of stalling.
        if (flushed || m_slave < 0) break;
        tcflush(m_slave, TCIFLUSH);
        flushed = true;
    }
    return written;
}

int PtyLine::HostBaudRate() const {
    if (m_master < 0) return 0;
    termios tio{};
    // The master reports the settings the host made on the slave side.
    if (tcgetattr(m_master, &tio) != 0) return 0;
    return SpeedCodeToRate(cfgetospeed(&tio));
}

}  // namespace emulator

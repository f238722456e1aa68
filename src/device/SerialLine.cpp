#include "device/SerialLine.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace kvel_device {
namespace {

struct RateEntry {
    int rate;
    speed_t speed;
};

constexpr RateEntry kRates[] = {
    {50, B50},           {75, B75},     {110, B110},   {134, B134},     {150, B150},
    {200, B200},         {300, B300},   {600, B600},   {1200, B1200},   {1800, B1800},
    {2400, B2400},       {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
#ifdef B57600
    {57600, B57600},
#endif
#ifdef B115200
    {115200, B115200},
#endif
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

std::string GroupOf(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return {};
    if (const group* g = getgrgid(info.st_gid)) return g->gr_name;
    return std::to_string(info.st_gid);
}

std::string OpenFailureText(const std::string& path, int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "no such device " + path;
        case EACCES:
        case EPERM: {
            std::string text = "permission denied on " + path;
            const std::string group = GroupOf(path);
            if (!group.empty())
                text +=
                    "; the user must belong to the group \"" + group + "\" that owns the device";
            return text;
        }
        case EBUSY:
            return path + " is busy: another program has it open";
        default:
            return "cannot open " + path + ": " + std::strerror(error);
    }
}

// The exclusive mode belongs to the terminal, not to this descriptor: it
// outlives a close while another holds the device open (the emulator keeps
// its pseudo-terminal's slave side open), so it is given up explicitly.
void ReleaseExclusive(int fd) { ioctl(fd, TIOCNXCL); }

bool ConfigureRaw(int fd, speed_t speed) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) return false;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) return false;
    // tcsetattr succeeds when any part of the request was taken: check the speed.
    termios applied{};
    if (tcgetattr(fd, &applied) != 0) return false;
    return cfgetospeed(&applied) == speed && cfgetispeed(&applied) == speed;
}

}  // namespace

bool BaudRateToSpeed(int baudRate, unsigned* speed) {
    for (const RateEntry& entry : kRates) {
        if (entry.rate == baudRate) {
            *speed = entry.speed;
            return true;
        }
    }
    return false;
}

int TransferTimeMs(int bytes, int baudRate) {
    if (baudRate <= 0 || bytes <= 0) return 0;
    const long long bits = static_cast<long long>(bytes) * 10 * 1000;
    return static_cast<int>((bits + baudRate - 1) / baudRate);
}

bool SerialLine::Open(const std::string& devicePath, int baudRate, std::string* why) {
    Close();
    unsigned speed = 0;
    if (!BaudRateToSpeed(baudRate, &speed)) {
        *why = "baud rate " + std::to_string(baudRate) + " is not supported";
        return false;
    }
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *why = OpenFailureText(devicePath, errno);
        return false;
    }
    // Two locks: flock is advisory but honoured by every cooperating program
    // and also holds against root; TIOCEXCL (below) keeps out terminal
    // programs that ignore flock, though not root.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        *why = error == EWOULDBLOCK ? OpenFailureText(devicePath, EBUSY)
                                    : OpenFailureText(devicePath, error);
        return false;
    }
    if (!isatty(fd)) {
        ::close(fd);
        *why = devicePath + " is not a serial device";
        return false;
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        const int error = errno;
        ::close(fd);
        *why = "cannot hold " + devicePath + " exclusively: " + std::strerror(error);
        return false;
    }
    if (!ConfigureRaw(fd, static_cast<speed_t>(speed))) {
        const int error = errno;
        ReleaseExclusive(fd);
        ::close(fd);
        *why = "cannot set " + devicePath + " to " + std::to_string(baudRate) +
               " baud 8N1: " + std::strerror(error);
        return false;
    }
    m_path = devicePath;
    m_baudRate = baudRate;
    m_failed = false;
    m_fd = fd;
    return true;
}

void SerialLine::Close() {
    const int fd = m_fd.exchange(-1);
    if (fd >= 0) {
        ReleaseExclusive(fd);
        ::close(fd);  // closing releases the flock
    }
    m_failed = false;
}

void SerialLine::MarkFailed() { m_failed = true; }

void SerialLine::CheckHangUp() {
    const int fd = m_fd.load();
    if (fd < 0 || m_failed) return;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) MarkFailed();
}

int SerialLine::Read(uint8_t* buffer, int size, int timeoutMs) {
    const int fd = m_fd.load();
    if (fd < 0 || m_failed) return -1;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        // Raw mode with VMIN = VTIME = 0 makes read() return 0 on an empty
        // line, so the wait is poll's and a hang-up shows in its events.
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, RemainingMs(deadline));
        if (ready < 0) {
            if (errno == EINTR) continue;
            MarkFailed();
            return -1;
        }
        if (ready == 0) return 0;
        const bool hungUp = (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        if ((p.revents & POLLIN) == 0) {
            MarkFailed();
            return -1;
        }
        const ssize_t got = ::read(fd, buffer, static_cast<size_t>(size));
        if (got > 0) return static_cast<int>(got);
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (got < 0 || hungUp) {
            MarkFailed();
            return -1;
        }
        // Readable but nothing came: do not turn that into a spin.
        if (RemainingMs(deadline) <= 0) return 0;
        usleep(1000);
    }
}

bool SerialLine::Write(const uint8_t* data, int size, int timeoutMs) {
    const int fd = m_fd.load();
    if (fd < 0 || m_failed) return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    int done = 0;
    while (done < size) {
        const ssize_t put = ::write(fd, data + done, static_cast<size_t>(size - done));
        if (put > 0) {
            done += static_cast<int>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            MarkFailed();
            return false;
        }
        const int waitMs = RemainingMs(deadline);
        if (waitMs <= 0) return false;
        pollfd p{fd, POLLOUT, 0};
        const int ready = poll(&p, 1, waitMs);
        if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            MarkFailed();
            return false;
        }
    }
    return true;
}

void SerialLine::DiscardInput() {
    const int fd = m_fd.load();
    if (fd < 0 || m_failed) return;
    tcflush(fd, TCIFLUSH);
    uint8_t scrap[256];
    while (::read(fd, scrap, sizeof scrap) > 0) {}
}

}  // namespace kvel_device

// The serial port list and its stable "COM<n>" numbering (docs/ports.md).
//
// A per-user registry folder holds one entry file per assigned number. Every
// change to it happens under an exclusive flock on its lock file, so several
// processes listing and publishing at once never hand out a number twice.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/KVEL_Common.h"
#include "common/SerialPortScan.h"

namespace {

constexpr int kMaxPortNumber = 256;
constexpr const char* kEntryPrefix = "port-";

// --- Small file helpers ------------------------------------------------------

std::string ReadSmallFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return {};
    char buffer[4096];
    std::string text;
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > 65536) break;
    }
    close(fd);
    return text;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

bool PathExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

bool WriteFileAtomically(const std::string& folder, const std::string& name,
                         const std::string& text) {
    const std::string temp = folder + "/.tmp-" + std::to_string(getpid()) + "-" +
                             std::to_string(static_cast<long>(syscall(SYS_gettid)));
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    if (!written || rename(temp.c_str(), (folder + "/" + name).c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return true;
}

// --- Processes ---------------------------------------------------------------

// The start time of a process (clock ticks after boot), which tells a live
// owner from a later process that happens to reuse its ID.
std::string ProcessStartTime(long pid) {
    const std::string stat = ReadSmallFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return {};
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    // Fields after the command name start at field 3; the start time is 22.
    for (int index = 3; index <= 22 && (fields >> field); ++index)
        if (index == 22) return field;
    return {};
}

bool ProcessAlive(long pid, const std::string& startTime) {
    if (pid <= 0) return false;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
    return startTime.empty() || ProcessStartTime(pid) == startTime;
}

// --- Devices present ---------------------------------------------------------

using RealDevice = kvel_common_detail::SerialDevice;

bool HasPrefixNumber(const std::string& name, const char* prefix) {
    const size_t n = std::strlen(prefix);
    if (name.size() <= n || name.compare(0, n, prefix) != 0) return false;
    return std::all_of(name.begin() + static_cast<long>(n), name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// Standard UART nodes exist for every possible port; only those with a
// detected port type (or a real device behind them) are there.
bool UartPresent(const std::string& sysTty) {
    const std::string type = Trimmed(ReadSmallFile(sysTty + "/type"));
    if (!type.empty()) return type != "0";
    const std::string device = RealPath(sysTty + "/device");
    return !device.empty() && device.find("serial8250") == std::string::npos;
}

}  // namespace

std::vector<kvel_common_detail::SerialDevice> kvel_common_detail::PresentSerialDevices(
    const std::string& sysClassTty, const std::string& devFolder) {
    std::vector<RealDevice> devices;
    DIR* folder = opendir(sysClassTty.c_str());
    if (!folder) return devices;
    while (dirent* item = readdir(folder)) {
        const std::string name = item->d_name;
        const bool uart = HasPrefixNumber(name, "ttyS");
        const bool wanted = uart || HasPrefixNumber(name, "ttyUSB") ||
                            HasPrefixNumber(name, "ttyACM") || HasPrefixNumber(name, "ttyAMA");
        if (!wanted) continue;
        const std::string sysTty = sysClassTty + "/" + name;
        if (uart && !UartPresent(sysTty)) continue;
        const std::string devicePath = devFolder + "/" + name;
        if (!PathExists(devicePath)) continue;
        std::string identity = RealPath(sysTty + "/device");
        if (identity.empty()) identity = RealPath(sysTty);
        identity += "|" + Trimmed(ReadSmallFile(sysTty + "/dev"));
        devices.push_back({devicePath, identity});
    }
    closedir(folder);
    std::sort(devices.begin(), devices.end(),
              [](const RealDevice& a, const RealDevice& b) { return a.devicePath < b.devicePath; });
    return devices;
}

namespace {

std::vector<RealDevice> PresentDevices(const std::string& sysClassTty,
                                       const std::string& devFolder) {
    return kvel_common_detail::PresentSerialDevices(sysClassTty, devFolder);
}

// --- Registry ----------------------------------------------------------------

struct Entry {
    bool isVirtual = false;
    std::string devicePath;
    std::string identity;  // real ports
    long pid = 0;          // virtual ports
    std::string startTime;
};

std::string Serialise(const Entry& e) {
    std::string text = std::string("kind=") + (e.isVirtual ? "virtual" : "real") + "\n";
    text += "path=" + e.devicePath + "\n";
    if (e.isVirtual) {
        text += "pid=" + std::to_string(e.pid) + "\n";
        text += "start=" + e.startTime + "\n";
    } else {
        text += "identity=" + e.identity + "\n";
    }
    return text;
}

std::optional<Entry> Parse(const std::string& text) {
    Entry e;
    bool haveKind = false;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "kind") {
            haveKind = value == "virtual" || value == "real";
            e.isVirtual = value == "virtual";
        } else if (key == "path") {
            e.devicePath = value;
        } else if (key == "identity") {
            e.identity = value;
        } else if (key == "pid") {
            e.pid = std::strtol(value.c_str(), nullptr, 10);
        } else if (key == "start") {
            e.startTime = value;
        }
    }
    if (!haveKind || e.devicePath.empty()) return std::nullopt;
    if (e.isVirtual ? e.pid <= 0 : e.identity.empty()) return std::nullopt;
    return e;
}

std::string EntryName(int number) { return kEntryPrefix + std::to_string(number); }

int NumberOfEntryName(const std::string& name) {
    const size_t n = std::strlen(kEntryPrefix);
    if (name.size() <= n || name.compare(0, n, kEntryPrefix) != 0) return 0;
    int number = 0;
    for (size_t i = n; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || number > kMaxPortNumber) return 0;
        number = number * 10 + (name[i] - '0');
    }
    return number <= kMaxPortNumber ? number : 0;
}

std::string RegistryFolder() {
    if (const char* over = std::getenv("KVEL_SERIAL_PORT_REGISTRY"); over && *over) return over;
    return "/tmp/kvel-serial-ports-" + std::to_string(getuid());
}

// Makes sure the folder is ours alone: created 0700, not a link, our user.
bool PrepareFolder(const std::string& folder) {
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid())
        return false;
    if ((info.st_mode & 077) != 0 && chmod(folder.c_str(), 0700) != 0) return false;
    return true;
}

// Holds the registry's lock for its lifetime.
class RegistryLock {
public:
    explicit RegistryLock(const std::string& folder) {
        if (!PrepareFolder(folder)) return;
        m_fd = open((folder + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd < 0) return;
        while (flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                close(m_fd);
                m_fd = -1;
                return;
            }
        }
    }
    ~RegistryLock() {
        if (m_fd >= 0) close(m_fd);  // closing releases the lock
    }
    RegistryLock(const RegistryLock&) = delete;
    RegistryLock& operator=(const RegistryLock&) = delete;
    bool Held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

std::map<int, Entry> ReadEntries(const std::string& folder) {
    std::map<int, Entry> entries;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return entries;
    while (dirent* item = readdir(dir)) {
        const std::string name = item->d_name;
        const int number = NumberOfEntryName(name);
        if (number <= 0) continue;
        const std::string path = folder + "/" + name;
        if (auto entry = Parse(ReadSmallFile(path))) {
            entries[number] = *entry;
        } else {
            unlink(path.c_str());  // unreadable leftovers only block a number
        }
    }
    closedir(dir);
    return entries;
}

int LowestFreeNumber(const std::map<int, Entry>& entries) {
    for (int number = 1; number <= kMaxPortNumber; ++number)
        if (!entries.count(number)) return number;
    return -1;
}

// Brings the registry up to date with what is present, under the lock:
// drops entries of devices gone and of publishers that died, and gives each
// newly seen device the lowest free number.
std::map<int, Entry> Reconcile(const std::string& folder) {
    std::map<int, Entry> entries = ReadEntries(folder);
    const std::vector<RealDevice> devices = PresentDevices("/sys/class/tty", "/dev");
    std::set<std::string> present;
    for (const RealDevice& d : devices) present.insert(d.identity);
    std::set<std::string> numbered;
    for (auto it = entries.begin(); it != entries.end();) {
        const Entry& e = it->second;
        const bool keep = e.isVirtual ? ProcessAlive(e.pid, e.startTime)
                                      : present.count(e.identity) && !numbered.count(e.identity);
        if (keep) {
            if (!e.isVirtual) numbered.insert(e.identity);
            ++it;
        } else {
            unlink((folder + "/" + EntryName(it->first)).c_str());
            it = entries.erase(it);
        }
    }
    for (const RealDevice& d : devices) {
        if (numbered.count(d.identity)) continue;
        const int number = LowestFreeNumber(entries);
        if (number < 0) break;
        Entry e;
        e.devicePath = d.devicePath;
        e.identity = d.identity;
        if (!WriteFileAtomically(folder, EntryName(number), Serialise(e))) break;
        entries[number] = e;
        numbered.insert(d.identity);
    }
    return entries;
}

// Without a usable registry the devices are still listed, numbered in name
// order; the numbers then only hold for this listing.
std::vector<SerialPortInfo> ListWithoutRegistry() {
    std::vector<SerialPortInfo> ports;
    int number = 1;
    for (const RealDevice& d : PresentDevices("/sys/class/tty", "/dev"))
        ports.push_back({number++, d.devicePath});
    return ports;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts() {
    const std::string folder = RegistryFolder();
    RegistryLock lock(folder);
    if (!lock.Held()) return ListWithoutRegistry();
    std::vector<SerialPortInfo> ports;
    for (const auto& [number, entry] : Reconcile(folder)) {
        // A live publisher whose terminal is gone has nothing to offer now.
        if (entry.isVirtual && !PathExists(entry.devicePath)) continue;
        ports.push_back({number, entry.devicePath});
    }
    return ports;
}

std::string SerialPortDevicePath(int number) {
    for (const SerialPortInfo& port : ListSerialPorts())
        if (port.number == number) return port.devicePath;
    return {};
}

bool EnumSerialPortNameW(CPtrArrayCtrl* list) {
    if (!list) return false;
    for (const SerialPortInfo& port : ListSerialPorts()) {
        const std::wstring name = L"COM" + std::to_wstring(port.number);
        auto* copy = new wchar_t[name.size() + 1];
        std::wcscpy(copy, name.c_str());
        list->Add(copy, -1);
    }
    return true;
}

void FreeSerialPortNameA(CPtrArrayCtrl* list) {
    if (!list) return;
    for (int i = 0; i < list->GetCount(); ++i) delete[] static_cast<wchar_t*>(list->GetAt(i));
    list->RemoveAll();
}

int PublishVirtualSerialPort(int number, const std::string& devicePath) {
    if (number < 0 || number > kMaxPortNumber || devicePath.empty()) return -1;
    if (devicePath.find('\n') != std::string::npos) return -1;
    const std::string folder = RegistryFolder();
    RegistryLock lock(folder);
    if (!lock.Held()) return -1;
    const std::map<int, Entry> entries = Reconcile(folder);
    if (number == 0) number = LowestFreeNumber(entries);
    if (number <= 0 || entries.count(number)) return -1;
    Entry e;
    e.isVirtual = true;
    e.devicePath = devicePath;
    e.pid = getpid();
    e.startTime = ProcessStartTime(e.pid);
    return WriteFileAtomically(folder, EntryName(number), Serialise(e)) ? number : -1;
}

void WithdrawVirtualSerialPort(int number) {
    if (number <= 0 || number > kMaxPortNumber) return;
    const std::string folder = RegistryFolder();
    RegistryLock lock(folder);
    if (!lock.Held()) return;
    const std::string path = folder + "/" + EntryName(number);
    const auto entry = Parse(ReadSmallFile(path));
    // Only the publisher withdraws its own port.
    if (entry && entry->isVirtual && entry->pid == static_cast<long>(getpid()))
        unlink(path.c_str());
}

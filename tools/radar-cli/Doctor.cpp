#include "Doctor.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <fstream>

#include "Commands.h"
#include "JsonOutput.h"
#include "common/KVEL_Common.h"
#include "device/KVEL_DataProcess.h"
#include "device/SerialLine.h"
#include "realtime/ReportFrame.h"

namespace radarcli {
namespace {

// How long the probe listens for reports, and waits for a command's reply,
// at each line speed: a module streams ten reports a second.
constexpr int kListenMs = 350;
constexpr int kReplyTimeoutMs = 300;

// Services known to open serial ports that are not theirs.
struct PortGrabber {
    const char* process;
    const char* advice;
};
constexpr PortGrabber kPortGrabbers[] = {
    {"ModemManager",
     "it probes new serial ports as modems and may hold the port for a while: "
     "sudo systemctl stop ModemManager (or disable it)"},
    {"brltty",
     "it claims some USB serial adapters as braille displays: "
     "sudo apt-get remove brltty"},
};

// What the doctor found at one port, for the JSON document.
struct PortFindings {
    int number = 0;
    std::string devicePath;
    std::vector<std::string> openIn;
    bool mayOpen = false;
    std::string group;
    unsigned mode = 0;
    std::string openError;  // empty when it opened, or was not tried
    bool opened = false;
    int baudRate = 0;  // at which a module answered or streamed; 0: none
    bool streams = false;
};

// The doctor's lines; none when `out` is null (the JSON document instead).
__attribute__((format(printf, 2, 3))) void Say(std::FILE* out, const char* format, ...) {
    if (!out) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(out, format, args);
    va_end(args);
}

std::vector<std::string> ProcessIds() {
    std::vector<std::string> ids;
    DIR* proc = opendir("/proc");
    if (!proc) return ids;
    while (const dirent* entry = readdir(proc)) {
        const std::string name = entry->d_name;
        if (!name.empty() && std::all_of(name.begin(), name.end(), ::isdigit)) ids.push_back(name);
    }
    closedir(proc);
    return ids;
}

std::string ProcessName(const std::string& pid) {
    std::ifstream comm("/proc/" + pid + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::string GroupName(gid_t gid) {
    const group* entry = getgrgid(gid);
    return entry ? entry->gr_name : std::to_string(gid);
}

bool InSessionGroups(gid_t gid) {
    if (getegid() == gid) return true;
    const int count = getgroups(0, nullptr);
    std::vector<gid_t> groups(size_t(std::max(count, 0)));
    if (count > 0 && getgroups(count, groups.data()) == count)
        return std::find(groups.begin(), groups.end(), gid) != groups.end();
    return false;
}

// Whether the user is listed in the group (what the next login will give).
bool ListedInGroup(gid_t gid) {
    const passwd* user = getpwuid(geteuid());
    if (!user) return false;
    if (user->pw_gid == gid) return true;
    const group* entry = getgrgid(gid);
    if (!entry) return false;
    for (char** member = entry->gr_mem; member && *member; ++member)
        if (std::string(*member) == user->pw_name) return true;
    return false;
}

void ReportHolders(const std::string& path, std::FILE* out, PortFindings* findings) {
    const std::vector<std::string> holders = ProcessesHolding(path);
    findings->openIn = holders;
    if (holders.empty()) {
        Say(out, "  open in: no other process (that this user may look into)\n");
        return;
    }
    std::string list;
    for (const std::string& holder : holders) list += (list.empty() ? "" : ", ") + holder;
    Say(out, "  open in: %s\n", list.c_str());
}

// True when the user may open the device for reading and writing.
bool ReportAccess(const std::string& path, std::FILE* out, PortFindings* findings) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        Say(out, "  access: the device is gone\n");
        return false;
    }
    const std::string group = GroupName(info.st_gid);
    findings->group = group;
    findings->mode = unsigned(info.st_mode & 0777);
    if (access(path.c_str(), R_OK | W_OK) == 0) {
        findings->mayOpen = true;
        Say(out, "  access: you may open it (group %s, mode %03o)\n", group.c_str(),
            unsigned(info.st_mode & 0777));
        return true;
    }
    Say(out, "  access: you may not open it (owner %u, group %s, mode %03o)\n",
        unsigned(info.st_uid), group.c_str(), unsigned(info.st_mode & 0777));
    const bool groupMayWrite = (info.st_mode & S_IRGRP) && (info.st_mode & S_IWGRP);
    if (!groupMayWrite)
        Say(out, "          its group may not open it either: ask who set it up\n");
    else if (ListedInGroup(info.st_gid) && !InSessionGroups(info.st_gid))
        Say(out, "          you were added to %s after you logged in: log in again\n",
            group.c_str());
    else if (!ListedInGroup(info.st_gid))
        Say(out, "          join its group: sudo usermod -aG %s $USER, then log in again\n",
            group.c_str());
    return false;
}

// Counts the object reports among the bytes it is given.
class ReportCounter : public IObjectReportListener {
public:
    void OnObjectReport(const uint8_t*) override { ++reports; }
    int reports = 0;
};

bool StreamsReports(KVEL_RADAR_HANDLE device) {
    ReportCounter counter;
    ReportFrameParser parser(&counter, nullptr);
    uint8_t chunk[512];
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kListenMs);
    while (counter.reports == 0 && std::chrono::steady_clock::now() < end) {
        const int n = KVEL_Interface_RadarDevice_ReadData(device, chunk, sizeof chunk, 50, 0);
        if (n > 0) parser.Append(chunk, size_t(n));
    }
    return counter.reports > 0;
}

// The speed at which the module streams reports or answers a command;
// 0 when it does neither at any of them.
int ProbeBaudRate(int port, std::FILE* out, PortFindings* findings) {
    KVEL_RADAR_HANDLE device = KVEL_Interface_RadarDevice_Serial_Create();
    int found = 0;
    std::string tried, untried;
    for (const int baud : kProbeBaudRates) {
        // Rates the system cannot set (256000 has no termios constant) or
        // the port refuses are named, not probed.
        unsigned speed = 0;
        if (!kvel_device::BaudRateToSpeed(baud, &speed) ||
            !KVEL_Interface_RadarDevice_Serial_OpenByPortNum(device, port, baud, 1, 0, 1, 0,
                                                             kReplyTimeoutMs)) {
            untried += (untried.empty() ? "" : ", ") + std::to_string(baud);
            continue;
        }
        tried += (tried.empty() ? "" : ", ") + std::to_string(baud);
        if (StreamsReports(device)) {
            findings->streams = true;
            Say(out, "  line speed: the module streams reports at %d baud\n", baud);
            found = baud;
        } else if (KVEL_Interface_RadarDevice_StartCmdMode(device, 1, kReplyTimeoutMs)) {
            // Left as it was found: out of command mode again.
            KVEL_Interface_RadarDevice_StopCmdMode(device);
            Say(out, "  line speed: the module answers at %d baud\n", baud);
            found = baud;
        }
        KVEL_Interface_RadarDevice_Serial_Close(device);
        if (found) break;
    }
    KVEL_Interface_RadarDevice_Serial_Destroy(device);
    findings->baudRate = found;
    if (!found && !untried.empty())
        Say(out, "  line speed: the port could not be set to %s baud\n", untried.c_str());
    if (!found && !tried.empty())
        Say(out, "  line speed: no module answered or streamed at %s baud\n", tried.c_str());
    return found;
}

// True when the port could be opened (whether or not a module answered).
bool ProbeOpening(const SerialPortInfo& port, bool* answered, std::FILE* out,
                  PortFindings* findings) {
    kvel_device::SerialLine line;
    std::string why;
    if (!line.Open(port.devicePath, kProbeBaudRates.front(), &why)) {
        Say(out, "  open: %s\n", why.c_str());
        findings->openError = why;
        return false;
    }
    line.Close();
    findings->opened = true;
    *answered = ProbeBaudRate(port.number, out, findings) != 0;
    return true;
}

// The port-grabbing services running, as {name, pid}.
QJsonArray ReportGrabbers(std::FILE* out) {
    QJsonArray running;
    bool any = false;
    for (const std::string& pid : ProcessIds()) {
        const std::string name = ProcessName(pid);
        for (const PortGrabber& grabber : kPortGrabbers) {
            if (name != grabber.process) continue;
            Say(out, "%s is running (pid %s): %s\n", grabber.process, pid.c_str(), grabber.advice);
            running.append(QJsonObject{{"name", grabber.process},
                                       {"pid", std::atoi(pid.c_str())},
                                       {"advice", grabber.advice}});
            any = true;
        }
    }
    if (!any) Say(out, "Neither ModemManager nor brltty is running.\n");
    return running;
}

QJsonObject JsonFindings(const PortFindings& findings) {
    QJsonArray openIn;
    for (const std::string& holder : findings.openIn) openIn.append(JsonText(holder));
    char mode[8];
    std::snprintf(mode, sizeof mode, "%03o", findings.mode);
    return QJsonObject{
        {"port", findings.number},
        {"name", JsonText("COM" + std::to_string(findings.number))},
        {"devicePath", JsonText(findings.devicePath)},
        {"openIn", openIn},
        {"mayOpen", findings.mayOpen},
        {"group", JsonText(findings.group)},
        {"mode", QString(mode)},
        {"opened", findings.opened},
        {"openError", findings.openError.empty() ? QJsonValue() : JsonText(findings.openError)},
        {"baudRate", findings.baudRate ? QJsonValue(findings.baudRate) : QJsonValue()},
        {"streams", findings.streams},
    };
}

}  // namespace

std::vector<std::string> ProcessesHolding(const std::string& devicePath) {
    const std::string target = RealPath(devicePath);
    const std::string self = std::to_string(getpid());
    std::vector<std::string> holders;
    for (const std::string& pid : ProcessIds()) {
        if (pid == self) continue;
        const std::string fds = "/proc/" + pid + "/fd";
        DIR* folder = opendir(fds.c_str());
        if (!folder) continue;
        while (const dirent* entry = readdir(folder)) {
            char link[PATH_MAX];
            const std::string path = fds + "/" + entry->d_name;
            const ssize_t n = readlink(path.c_str(), link, sizeof link - 1);
            if (n <= 0 || std::string(link, size_t(n)) != target) continue;
            holders.push_back(pid + " (" + ProcessName(pid) + ")");
            break;
        }
        closedir(folder);
    }
    return holders;
}

int RunDoctor(std::optional<int> port, std::FILE* out, bool json) {
    std::FILE* const text = json ? nullptr : out;
    std::vector<SerialPortInfo> ports = ListSerialPorts();
    if (port)
        std::erase_if(ports, [&](const SerialPortInfo& info) { return info.number != *port; });
    const QJsonArray services = ReportGrabbers(text);
    if (ports.empty()) {
        if (port)
            Say(text, "There is no port %d. radar-cli ports lists those there are.\n", *port);
        else
            Say(text, "No serial ports: is the adapter plugged in? (dmesg names it)\n");
    }
    bool opened = false;
    bool answered = false;
    QJsonArray found;
    for (const SerialPortInfo& info : ports) {
        PortFindings findings;
        findings.number = info.number;
        findings.devicePath = info.devicePath;
        Say(text, "COM%d %s\n", info.number, info.devicePath.c_str());
        ReportHolders(info.devicePath, text, &findings);
        if (ReportAccess(info.devicePath, text, &findings) &&
            ProbeOpening(info, &answered, text, &findings))
            opened = true;
        found.append(JsonFindings(findings));
        if (answered) break;
    }
    if (json)
        PrintJson(out,
                  QJsonObject{{"services", services}, {"ports", found}, {"answered", answered}});
    if (answered) return kExitOk;
    return opened ? kExitNoAnswer : kExitNotConnected;
}

}  // namespace radarcli

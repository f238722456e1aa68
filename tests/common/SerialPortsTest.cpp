#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "common/KVEL_Common.h"

namespace {

// Every test works on a registry of its own, so parallel test programs and
// the developer's real registry stay untouched.
class SerialPorts : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("KVEL_SERIAL_PORT_REGISTRY", registry.File("registry").c_str(), 1);
        std::ofstream(registry.File("pts-a"));
        std::ofstream(registry.File("pts-b"));
    }
    void TearDown() override { unsetenv("KVEL_SERIAL_PORT_REGISTRY"); }

    static const SerialPortInfo* Find(const std::vector<SerialPortInfo>& ports, int number) {
        for (const auto& p : ports)
            if (p.number == number) return &p;
        return nullptr;
    }
    // Runs `publish` in a child that reports the number it got through a
    // pipe and then ends without withdrawing, or waits to be killed.
    static pid_t Child(int number, const std::string& path, bool stayAlive, int* got) {
        int fds[2];
        if (pipe(fds) != 0) return -1;
        const pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            const int n = PublishVirtualSerialPort(number, path);
            if (write(fds[1], &n, sizeof n) != sizeof n) _exit(2);
            close(fds[1]);
            if (stayAlive) pause();
            _exit(0);
        }
        close(fds[1]);
        if (read(fds[0], got, sizeof *got) != sizeof *got) *got = -2;
        close(fds[0]);
        return pid;
    }

    TempFolder registry;
};

TEST_F(SerialPorts, PublishListLookUpWithdraw) {
    const std::string path = registry.File("pts-a");
    const int number = PublishVirtualSerialPort(0, path);
    ASSERT_GT(number, 0);
    const auto ports = ListSerialPorts();
    ASSERT_NE(Find(ports, number), nullptr);
    EXPECT_EQ(Find(ports, number)->devicePath, path);
    EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end(),
                               [](const auto& a, const auto& b) { return a.number < b.number; }));
    EXPECT_EQ(SerialPortDevicePath(number), path);

    CPtrArrayCtrl names;
    ASSERT_TRUE(EnumSerialPortNameW(&names));
    std::set<std::wstring> listed;
    for (int i = 0; i < names.GetCount(); ++i) listed.insert(static_cast<wchar_t*>(names.GetAt(i)));
    EXPECT_EQ(static_cast<int>(listed.size()), names.GetCount());
    EXPECT_TRUE(listed.count(L"COM" + std::to_wstring(number)));
    FreeSerialPortNameA(&names);
    EXPECT_EQ(names.GetCount(), 0);

    WithdrawVirtualSerialPort(number);
    EXPECT_EQ(Find(ListSerialPorts(), number), nullptr);
    EXPECT_EQ(SerialPortDevicePath(number), "");
}

TEST_F(SerialPorts, TakenNumberIsRefusedAndFreedAgainOnWithdrawal) {
    const int first = PublishVirtualSerialPort(0, registry.File("pts-a"));
    ASSERT_GT(first, 0);
    EXPECT_EQ(PublishVirtualSerialPort(first, registry.File("pts-b")), -1);
    EXPECT_EQ(PublishVirtualSerialPort(-3, registry.File("pts-b")), -1);
    EXPECT_EQ(PublishVirtualSerialPort(100000, registry.File("pts-b")), -1);
    EXPECT_EQ(PublishVirtualSerialPort(0, ""), -1);
    EXPECT_EQ(PublishVirtualSerialPort(200, registry.File("pts-b")), 200);
    EXPECT_EQ(SerialPortDevicePath(200), registry.File("pts-b"));
    WithdrawVirtualSerialPort(first);
    EXPECT_EQ(PublishVirtualSerialPort(first, registry.File("pts-b")), first);
}

TEST_F(SerialPorts, EntryOfADeadPublisherIsIgnoredAndItsNumberReused) {
    int got = 0;
    const pid_t child = Child(0, registry.File("pts-a"), false, &got);
    ASSERT_GT(child, 0);
    waitpid(child, nullptr, 0);
    ASSERT_GT(got, 0);
    EXPECT_EQ(Find(ListSerialPorts(), got), nullptr);
    EXPECT_EQ(PublishVirtualSerialPort(got, registry.File("pts-b")), got);
}

TEST_F(SerialPorts, ConcurrentPublishersGetDifferentNumbers) {
    constexpr int kChildren = 6;
    std::vector<pid_t> children;
    std::vector<int> numbers(kChildren);
    // All children publish at about the same moment; each stays alive so
    // its number stays taken.
    for (int i = 0; i < kChildren; ++i)
        children.push_back(Child(0, registry.File(i % 2 ? "pts-a" : "pts-b"), true, &numbers[i]));
    const auto ports = ListSerialPorts();
    for (pid_t c : children) {
        kill(c, SIGKILL);
        waitpid(c, nullptr, 0);
    }
    std::set<int> distinct(numbers.begin(), numbers.end());
    EXPECT_EQ(distinct.size(), static_cast<size_t>(kChildren));
    for (int n : numbers) {
        EXPECT_GT(n, 0);
        EXPECT_NE(Find(ports, n), nullptr) << n;
    }
    // Killed without withdrawing: all gone from the list now.
    const auto after = ListSerialPorts();
    for (int n : numbers) EXPECT_EQ(Find(after, n), nullptr) << n;
}

TEST_F(SerialPorts, OnlyThePublisherWithdrawsAndGarbageEntriesAreDropped) {
    int got = 0;
    const pid_t child = Child(0, registry.File("pts-a"), true, &got);
    ASSERT_GT(got, 0);
    WithdrawVirtualSerialPort(got);  // not ours
    EXPECT_NE(Find(ListSerialPorts(), got), nullptr);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);

    std::ofstream(registry.File("registry/port-7")) << "nonsense\n";
    const int n = PublishVirtualSerialPort(7, registry.File("pts-b"));
    EXPECT_EQ(n, 7);
}

TEST_F(SerialPorts, RegistryInAFolderNotOursIsNotUsed) {
    setenv("KVEL_SERIAL_PORT_REGISTRY", "/proc/kvel-no-such-folder", 1);
    EXPECT_EQ(PublishVirtualSerialPort(0, registry.File("pts-a")), -1);
    // Real devices are still listed, numbered from 1.
    const auto ports = ListSerialPorts();
    for (size_t i = 0; i < ports.size(); ++i) EXPECT_EQ(ports[i].number, static_cast<int>(i + 1));
}

}  // namespace

#include <sys/stat.h>

#include "common/SerialPortScan.h"

namespace {

// A made-up /sys/class/tty and /dev: two phantom UARTs, one detected UART,
// a USB adapter, an ACM device, a USB adapter whose node is missing, and
// terminals that are no serial ports.
TEST(SerialPortScan, ListsOnlyDevicesReallyThere) {
    TempFolder root;
    const std::string sys = root.File("sys"), dev = root.File("dev");
    mkdir(sys.c_str(), 0700);
    mkdir(dev.c_str(), 0700);
    mkdir(root.File("devices").c_str(), 0700);
    const auto tty = [&](const std::string& name, const char* type, bool node) {
        mkdir((sys + "/" + name).c_str(), 0700);
        if (type) std::ofstream(sys + "/" + name + "/type") << type << "\n";
        std::ofstream(sys + "/" + name + "/dev") << "4:" << name.size() << "\n";
        const std::string device = root.File("devices/" + name);
        mkdir(device.c_str(), 0700);
        symlink(device.c_str(), (sys + "/" + name + "/device").c_str());
        if (node) std::ofstream(dev + "/" + name);
    };
    tty("ttyS0", "4", true);
    tty("ttyS1", "0", true);
    tty("ttyS2", "0", true);
    tty("ttyUSB0", nullptr, true);
    tty("ttyACM3", nullptr, true);
    tty("ttyUSB1", nullptr, false);
    tty("tty5", nullptr, true);
    tty("ttySX", "4", true);

    const auto found = kvel_common_detail::PresentSerialDevices(sys, dev);
    std::vector<std::string> paths;
    for (const auto& d : found) paths.push_back(d.devicePath);
    EXPECT_EQ(paths,
              (std::vector<std::string>{dev + "/ttyACM3", dev + "/ttyS0", dev + "/ttyUSB0"}));
    ASSERT_EQ(found.size(), 3u);
    EXPECT_NE(found[0].identity, found[2].identity);
    EXPECT_EQ(found[2].identity.rfind(root.File("devices/ttyUSB0"), 0), 0u);
}

}  // namespace

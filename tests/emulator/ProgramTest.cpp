#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "common/KVEL_Common.h"
#include "tests/common/TempFolder.h"
#include "tests/common/TextFile.h"

namespace {

// The program under test, started as a shell starts a background job
// (SIGINT ignored), its output on a pipe.
class Program {
public:
    explicit Program(std::vector<std::string> args) {
        int out[2], err[2];
        if (pipe(out) != 0 || pipe(err) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            close(out[0]);
            close(err[0]);
            std::signal(SIGINT, SIG_IGN);
            std::vector<char*> argv{const_cast<char*>(KVEL_RADAR_EMULATOR)};
            for (std::string& arg : args) argv.push_back(arg.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        m_out = out[0];
        m_err = err[0];
    }
    ~Program() {
        if (m_pid > 0 && !m_reaped) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0) close(m_out);
        if (m_err >= 0) close(m_err);
    }

    std::string FirstLine(int timeoutMs) {
        std::string line;
        char c = 0;
        while (line.find('\n') == std::string::npos) {
            pollfd pfd{m_out, POLLIN, 0};
            if (poll(&pfd, 1, timeoutMs) <= 0 || read(m_out, &c, 1) != 1) break;
            line += c;
        }
        return line;
    }
    std::string ErrorText() {
        std::string text;
        char buffer[512];
        ssize_t n;
        while ((n = read(m_err, buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<size_t>(n));
        return text;
    }
    void Signal(int signal) { kill(m_pid, signal); }
    // The exit code, or -1 when it did not exit normally within `timeoutMs`.
    int Wait(int timeoutMs) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_reaped = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            usleep(10000);
        }
        return -1;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    bool m_reaped = false;
};

// On a port registry of its own (the program inherits the setting): in the
// common one, a module of a test running meanwhile may take the number as
// soon as it is withdrawn.
class ProgramOnItsOwnRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("KVEL_SERIAL_PORT_REGISTRY", m_registry.File("registry").c_str(), 1);
    }
    void TearDown() override { unsetenv("KVEL_SERIAL_PORT_REGISTRY"); }

private:
    TempFolder m_registry;
};

TEST_F(ProgramOnItsOwnRegistry, PrintsItsPortAndStopsCleanlyOnEitherSignal) {
    for (int signal : {SIGINT, SIGTERM}) {
        Program program({"--seed", "3", "--fault", "stray-bytes,tag-noise", "--late-delay=100",
                         "--flash-delay", "200", "--line-lifetime", "60000", "--hang-up-at", "0",
                         "--scene", "constant:100", "--report-period", "50"});
        const std::string line = program.FirstLine(5000);
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, std::regex("COM([0-9]+) (/dev/\\S+)\n"))) << line;
        const int port = std::stoi(match[1]);
        EXPECT_EQ(SerialPortDevicePath(port), match[2].str());
        program.Signal(signal);
        EXPECT_EQ(program.Wait(3000), 0) << signal;
        EXPECT_EQ(SerialPortDevicePath(port), "");
    }
}

TEST(ProgramTest, BadArgumentsGiveUsageAndExitCode2) {
    const std::vector<std::vector<std::string>> cases = {
        {"--port"},
        {"--baud", "12345"},
        {"--max-frame", "17"},
        {"--fault", "nonsense"},
        {"--colour", "red"},
        {"--late-delay", "-1"},
        {"--flash-delay", "soon"},
        {"--report-period", "0"},
        {"--scene", "constant:70000"},
        {"--speed", "0"},
    };
    for (const auto& args : cases) {
        Program program(args);
        EXPECT_EQ(program.Wait(3000), 2) << args[0];
        EXPECT_NE(program.ErrorText().find("Usage: radar-emulator"), std::string::npos) << args[0];
    }
}

TEST(ProgramTest, VersionNamesTheProgramAndTheModulesTextHasItsOwnOption) {
    Program version({"--version"});
    EXPECT_EQ(version.FirstLine(3000).rfind("radar-emulator ", 0), 0u);
    EXPECT_EQ(version.Wait(3000), 0);
    // The module's version text was once given as "--version TEXT".
    Program old({"--version", "V1.0"});
    EXPECT_EQ(old.Wait(3000), 2);
    EXPECT_NE(old.ErrorText().find("--module-version"), std::string::npos);
}

// A recording that cannot be replayed is refused before a port is published.
TEST_F(ProgramOnItsOwnRegistry, RecordingThatCannotBeReplayedIsRefusedAtStart) {
    TempFolder folder;
    WriteText(folder.File("noise.dat"), std::string(300, '\x11'));
    for (const auto& [scene, reason] : std::vector<std::pair<std::string, std::string>>{
             {"replay:" + folder.File("missing.dat"), "No such file"},
             {"replay:" + folder.File("noise.dat"), "holds no reports"},
             {"replay:" + folder.Path(), "directory"}}) {
        Program program({"--scene", scene, "--loop"});
        EXPECT_EQ(program.Wait(3000), 1) << scene;
        EXPECT_NE(program.ErrorText().find(reason), std::string::npos) << scene;
    }
}

}  // namespace

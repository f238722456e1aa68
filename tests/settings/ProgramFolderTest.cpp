// The program-folder fixture itself, driven from inside a relaunched copy:
// a forked child relaunches the test program once more with a probe
// argument, and the result is checked from the outside.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "FixtureProbe.h"
#include "ProgramFolder.h"
#include "common/KVEL_Common.h"

namespace {

namespace fs = std::filesystem;

// Starts a child that behaves as a test program started from the build
// tree: it is no copy yet, so the fixture copies and relaunches it.
pid_t StartRelaunch(const std::string& probeArgument) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child != 0) return child;
    unsetenv("KVEL_TEST_PROGRAM_FOLDER_COPY");
    std::string program = "/proc/self/exe";
    std::string argument = probeArgument;
    char* argv[] = {program.data(), argument.data(), nullptr};
    int exitCode = -1;
    if (!RelaunchFromProgramFolderCopy(2, argv, &exitCode, {FixtureProbeDataFile()})) _exit(200);
    _exit(exitCode);
}

int ExitStatusOf(pid_t child) {
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

int RelaunchAndWait(const std::string& probeArgument) {
    return ExitStatusOf(StartRelaunch(probeArgument));
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool WaitForFile(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (fs::exists(path)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class ProgramFolderFixture : public ::testing::Test {
protected:
    void SetUp() override { ResetTestProgramFolder(); }
    void TearDown() override { ResetTestProgramFolder(); }
    std::string ReportPath() const { return TestProgramFolder() + "/report.txt"; }
};

TEST_F(ProgramFolderFixture, TheCopysExitCodeIsPassedOn) {
    EXPECT_EQ(RelaunchAndWait("--probe-exit=0"), 0);
    EXPECT_EQ(RelaunchAndWait("--probe-exit=3"), 3);
}

TEST_F(ProgramFolderFixture, ACrashingCopyIsReportedAsFailure) {
    EXPECT_EQ(RelaunchAndWait("--probe-abort"), 128 + SIGABRT);
}

TEST_F(ProgramFolderFixture, TheCopyRunsInAFreshFolderThatIsRemovedAfterwards) {
    ASSERT_EQ(RelaunchAndWait("--probe-report=" + ReportPath()), 0);
    const std::vector<std::string> report = ReadLines(ReportPath());
    ASSERT_EQ(report.size(), 3u);
    const std::string program = fs::read_symlink("/proc/self/exe").filename().string();
    EXPECT_NE(report[0], TestProgramFolder());
    EXPECT_EQ(report[1], fs::path(FixtureProbeDataFile()).filename().string());
    EXPECT_EQ(report[2], program);
    EXPECT_FALSE(fs::exists(report[0]));
}

TEST_F(ProgramFolderFixture, AnInterruptionReachesTheCopyAndTheFolderIsStillRemoved) {
    const pid_t child = StartRelaunch("--probe-report-and-wait=" + ReportPath());
    ASSERT_TRUE(WaitForFile(ReportPath()));
    const std::vector<std::string> report = ReadLines(ReportPath());
    ASSERT_FALSE(report.empty());
    kill(child, SIGTERM);
    EXPECT_EQ(ExitStatusOf(child), 128 + SIGTERM);
    EXPECT_FALSE(fs::exists(report[0]));
}

TEST_F(ProgramFolderFixture, ResetKeepsOnlyTheProgramAndWhatCameWithIt) {
    const std::string folder = TestProgramFolder();
    wchar_t programPath[KVEL_MAX_PATH] = {};
    ASSERT_TRUE(GetProgramPathW(static_cast<uint32_t>(getpid()), programPath));
    EXPECT_EQ(WideToAnsi(programPath), folder);

    std::ofstream(folder + "/appConfig.xml") << "<AppConfig/>";
    fs::create_directories(folder + "/Log/deeper");
    std::ofstream(folder + "/Log/deeper/x.log") << "line";
    chmod((folder + "/Log/deeper").c_str(), 0500);
    ResetTestProgramFolder();

    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    const std::vector<std::string> expected = {
        fs::path(FixtureProbeDataFile()).filename().string(),
        fs::read_symlink("/proc/self/exe").filename().string()};
    EXPECT_EQ(names, expected);
}

}  // namespace

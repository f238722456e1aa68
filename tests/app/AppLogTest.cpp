#include "app/AppLog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../support/ProgramFolder.h"
#include "common/KVEL_Common.h"

namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    if (start < text.size()) lines.push_back(text.substr(start));  // an unfinished line
    return lines;
}

class AppLog : public ::testing::Test {
protected:
    void SetUp() override { ResetTestProgramFolder(); }
    void TearDown() override {
        CloseAppLog(&stream);
        ResetTestProgramFolder();
    }

    fs::path LogFolder() const { return fs::path(TestProgramFolder()) / "Log"; }
    std::vector<fs::path> LogFiles() const {
        std::vector<fs::path> files;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(LogFolder(), error))
            files.push_back(entry.path());
        return files;
    }
    fs::path OnlyLogFile() const {
        const std::vector<fs::path> files = LogFiles();
        EXPECT_EQ(files.size(), 1u);
        return files.empty() ? fs::path() : files.front();
    }

    FILE* stream = nullptr;
};

TEST_F(AppLog, WritesDecoratedLinesToADatedFileInTheLogFolder) {
    stream = OpenAppLog();
    ASSERT_NE(stream, nullptr);
    const fs::path file = OnlyLogFile();
    const std::string name = file.filename().string();
    EXPECT_EQ(name.rfind("ZORVIRQ05_SB03TOOL_", 0), 0u) << name;
    EXPECT_EQ(file.extension(), ".log");

    DbgOutputA(2, "Start Realtime data show.\r\n");
    DbgOutputA(2, "%s, result: %s\r\n", "WriteSetting_RadarOperatorConfig", "Success");
    CloseAppLog(&stream);
    EXPECT_EQ(stream, nullptr);

    const std::vector<std::string> lines = SplitLines(ReadText(file));
    ASSERT_EQ(lines.size(), 2u) << ReadText(file);
    // A local time stamp in front, no tag and no process or thread IDs.
    const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (.*))");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[0], match, stamped)) << lines[0];
    EXPECT_EQ(match[1], "Start Realtime data show.");
    ASSERT_TRUE(std::regex_match(lines[1], match, stamped)) << lines[1];
    EXPECT_EQ(match[1], "WriteSetting_RadarOperatorConfig, result: Success");
}

TEST_F(AppLog, NothingReachesTheFileAfterItIsClosed) {
    stream = OpenAppLog();
    ASSERT_NE(stream, nullptr);
    DbgOutputA(2, "before\r\n");
    CloseAppLog(&stream);
    DbgOutputA(2, "after\r\n");
    CloseAppLog(&stream);  // a second close is harmless
    const std::string text = ReadText(OnlyLogFile());
    EXPECT_NE(text.find("before"), std::string::npos);
    EXPECT_EQ(text.find("after"), std::string::npos);
}

TEST_F(AppLog, OtherProgramsMayReadButNoCooperatingWriterGetsIn) {
    stream = OpenAppLog();
    ASSERT_NE(stream, nullptr);
    DbgOutputA(2, "visible\r\n");
    std::fflush(stream);
    const fs::path file = OnlyLogFile();
    EXPECT_NE(ReadText(file).find("visible"), std::string::npos);

    const int other = open(file.c_str(), O_WRONLY);
    ASSERT_GE(other, 0);
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
    close(other);
}

TEST_F(AppLog, LinesFromManyThreadsStayWhole) {
    stream = OpenAppLog();
    ASSERT_NE(stream, nullptr);
    constexpr int kThreads = 8;
    constexpr int kLines = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            const std::string filler(100 + 37 * t, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i)
                DbgOutputA(2, "thread %d line %d %s end\r\n", t, i, filler.c_str());
        });
    }
    for (std::thread& thread : threads) thread.join();
    CloseAppLog(&stream);

    const std::vector<std::string> lines = SplitLines(ReadText(OnlyLogFile()));
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    const std::regex whole(R"(.* thread (\d) line (\d+) ([a-h]+) end)");
    std::vector<int> perThread(kThreads, 0);
    for (const std::string& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, whole)) << line.substr(0, 200);
        const int t = std::stoi(match[1]);
        EXPECT_EQ(match[3].str(), std::string(100 + 37 * t, static_cast<char>('a' + t)));
        ++perThread[t];
    }
    for (int count : perThread) EXPECT_EQ(count, kLines);
}

TEST(LogWriteCallback, WritesLongTextsWholeAndNothingWithoutAStream) {
    EXPECT_EQ(LogWriteCallback(nullptr, 0, "text", 4), 0);
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(LogWriteCallback(file, 0, "text", 0), 0);
    EXPECT_EQ(LogWriteCallback(file, 0, nullptr, 4), 0);

    // Texts far beyond the stream's buffer, from several threads at once.
    static constexpr int kThreads = 4;
    static constexpr int kTexts = 50;
    static constexpr int kLength = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([file, t] {
            std::string text(kLength - 1, static_cast<char>('A' + t));
            text += '\n';
            for (int i = 0; i < kTexts; ++i) {
                EXPECT_EQ(LogWriteCallback(file, 0, text.data(), kLength), kLength);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();

    std::rewind(file);
    std::string line;
    int lines = 0;
    for (char c; std::fread(&c, 1, 1, file) == 1;) {
        if (c != '\n') {
            line += c;
            continue;
        }
        ASSERT_EQ(line.size(), static_cast<size_t>(kLength - 1));
        ASSERT_EQ(line.find_first_not_of(line[0]), std::string::npos) << "texts were interleaved";
        line.clear();
        ++lines;
    }
    EXPECT_EQ(lines, kThreads * kTexts);
    std::fclose(file);
}

TEST_F(AppLog, ALogFolderThatCannotBeMadeGivesNoLogAndNoFailure) {
    // A file where the folder belongs blocks it for every user, root included.
    std::ofstream(LogFolder()) << "not a folder";
    stream = OpenAppLog();
    EXPECT_EQ(stream, nullptr);
    DbgOutputA(2, "Stop Realtime data show.\r\n");
    CloseAppLog(&stream);
    EXPECT_TRUE(fs::is_regular_file(LogFolder()));
    EXPECT_EQ(ReadText(LogFolder()), "not a folder");
}

}  // namespace

int main(int argc, char** argv) {
    int exitCode = 0;
    if (RelaunchFromProgramFolderCopy(argc, argv, &exitCode)) return exitCode;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

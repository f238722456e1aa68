#include "common/ReplaceFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "RestrictedRun.h"
#include "TempFolder.h"
#include "TextFile.h"
#include "common/KVEL_Common.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A writer that puts `text` into the stream and reports `succeed`.
FileContentWriter Writes(const std::string& text, bool succeed = true) {
    return [text, succeed](std::FILE* stream) {
        const bool written = std::fputs(text.c_str(), stream) >= 0;
        return std::fclose(stream) == 0 && written && succeed;
    };
}

bool Replace(const std::string& path, const FileContentWriter& write,
             std::string* error = nullptr) {
    return ReplaceFileContentW(AnsiToWide(path).c_str(), write, error);
}

ino_t InodeOf(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

TEST(ReplaceFile, ReplacesTheFileAndLeavesNothingBeside) {
    TempFolder folder;
    const std::string path = folder.File("settings.xml");
    WriteText(path, "old");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    restricted_run::GiveToChild(path);
    const ino_t before = InodeOf(path);

    ASSERT_TRUE(Replace(path, Writes("new")));
    EXPECT_EQ(ReadText(path), "new");
    EXPECT_NE(InodeOf(path), before) << "written in place, not replaced";
    EXPECT_EQ(NamesIn(folder.Path()), std::vector<std::string>{"settings.xml"});
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    if (geteuid() == 0) {
        EXPECT_EQ(info.st_uid, restricted_run::kUser) << "owner lost";
    }

    ASSERT_TRUE(Replace(folder.File("new.xml"), Writes("first")));
    EXPECT_EQ(ReadText(folder.File("new.xml")), "first");
}

TEST(ReplaceFile, AFailedWriteKeepsTheOldFileWhole) {
    TempFolder folder;
    const std::string path = folder.File("params.xml");
    WriteText(path, "old");
    std::string error;
    EXPECT_FALSE(Replace(path, Writes("half", false), &error));
    EXPECT_EQ(ReadText(path), "old");
    EXPECT_EQ(NamesIn(folder.Path()), std::vector<std::string>{"params.xml"});
    EXPECT_NE(error.find(path), std::string::npos) << error;

    const std::string big(64 * 1024, 'x');
    bool replaced = true;
    ASSERT_TRUE(restricted_run::WithFileSizeLimit(
        4096, [&] { replaced = Replace(path, Writes(big), &error); }));
    EXPECT_FALSE(replaced);
    EXPECT_EQ(ReadText(path), "old");
    EXPECT_EQ(NamesIn(folder.Path()), std::vector<std::string>{"params.xml"});
    EXPECT_NE(error.find("File too large"), std::string::npos) << error;
}

TEST(ReplaceFile, AFileTheUserMayNotWriteIsLeftUntouched) {
    TempFolder folder;
    const std::string path = folder.File("settings.xml");
    WriteText(path, "mine");
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    restricted_run::GiveToChild(folder.Path());
    restricted_run::GiveToChild(path);

    const int result = restricted_run::AsUser([&] {
        std::string error;
        if (Replace(path, Writes("theirs"), &error)) return 1;
        return error.find("Permission denied") != std::string::npos ? 0 : 2;
    });
    if (result == restricted_run::kCannotDropRoot) GTEST_SKIP() << "cannot give up root";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadText(path), "mine");
    EXPECT_EQ(NamesIn(folder.Path()), std::vector<std::string>{"settings.xml"});
}

TEST(ReplaceFile, InAFolderThatTakesNoNewFileTheFileIsWrittenInPlace) {
    TempFolder folder;
    const std::string path = folder.File("settings.xml");
    WriteText(path, "old");
    restricted_run::GiveToChild(path);
    const ino_t before = InodeOf(path);
    ASSERT_EQ(chmod(folder.Path().c_str(), 0555), 0);

    const int result = restricted_run::AsUser([&] {
        if (!Replace(path, Writes("new"))) return 1;
        // Nothing can be made there, though.
        return Replace(folder.File("missing.xml"), Writes("new")) ? 2 : 0;
    });
    chmod(folder.Path().c_str(), 0755);
    if (result == restricted_run::kCannotDropRoot) GTEST_SKIP() << "cannot give up root";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadText(path), "new");
    EXPECT_EQ(InodeOf(path), before);
    EXPECT_EQ(NamesIn(folder.Path()), std::vector<std::string>{"settings.xml"});
}

TEST(ReplaceFile, OnlyLeftoversOfEndedProcessesAreRemoved) {
    TempFolder folder;
    const std::string path = folder.File("appConfig.xml");
    WriteText(path, "current");
    const std::string ended = std::to_string(restricted_run::EndedProcess());
    const std::string running = std::to_string(getpid());
    for (const std::string& name :
         {"appConfig.xml.~" + ended + ".0", "appConfig.xml.~" + ended + ".17",
          "appConfig.xml.~" + running + ".3", "appConfig.xml.~" + ended + ".x",
          "appConfig.xml.~-" + ended + ".1", "other.xml.~" + ended + ".0"}) {
        WriteText(folder.File(name), "leftover");
    }
    fs::create_directory(folder.File("appConfig.xml.~" + ended + ".2"));

    RemoveStaleReplacementsW(AnsiToWide(path).c_str());
    const std::vector<std::string> expected = {
        "appConfig.xml",
        "appConfig.xml.~" + running + ".3",
        "appConfig.xml.~" + ended + ".2",
        "appConfig.xml.~" + ended + ".x",
        "appConfig.xml.~-" + ended + ".1",
        "other.xml.~" + ended + ".0",
    };
    std::vector<std::string> sorted = expected;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(NamesIn(folder.Path()), sorted);
    EXPECT_EQ(ReadText(path), "current");
}

}  // namespace

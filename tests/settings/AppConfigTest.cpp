#include "settings/AppConfig.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "FixtureProbe.h"
#include "ProgramFolder.h"
#include "common/KVEL_Common.h"
#include "tests/common/RestrictedRun.h"
#include "tests/common/TempFolder.h"
#include "tests/common/TextFile.h"

namespace {

std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
                names.emplace_back(entry->d_name);
            }
        }
        closedir(dir);
    }
    return names;
}

// Files a save left beside the settings file (its temporary copies).
std::vector<std::string> LeftoversBeside(const std::string& folder, const std::string& fileName) {
    std::vector<std::string> found;
    for (const std::string& name : NamesIn(folder)) {
        if (name != fileName && name.rfind(fileName, 0) == 0) found.push_back(name);
    }
    return found;
}

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        ResetTestProgramFolder();
        gAppConfig.Clear();
        folder = TestProgramFolder();
        path = folder + "/" + app_config::kFileName;
    }
    void TearDown() override { gAppConfig.Clear(); }

    void LoadFrom(const std::string& text) {
        WriteText(path, text);
        LoadAppConfigAtStartup();
    }
    void FillWithManySections(int count) {
        XMLNode config = gAppConfig.GetRoot().FindOrAddChild(app_config::kRootElement);
        for (int i = 0; i < count; ++i) {
            config.AddChild("Section").SetAttribute("Value",
                                                    "a long enough value to make the file big");
        }
    }

    std::string folder;
    std::string path;
};

TEST_F(SettingsFile, FirstStartWritesTheDeclarationAndTheRootElement) {
    LoadAppConfigAtStartup();
    EXPECT_EQ(ReadText(path), "<?xml version=\"1.0\"?>\n<AppConfig />\n");
    EXPECT_TRUE(AppConfigElement());
    EXPECT_TRUE(LeftoversBeside(folder, app_config::kFileName).empty());
}

TEST_F(SettingsFile, ALowerCaseRootElementIsAcceptedAndNotRewritten) {
    const std::string original =
        "<?xml version=\"1.0\"?>\n<!-- mine -->\n<appconfig Language=\"chs\"/>\n";
    LoadFrom(original);
    ASSERT_TRUE(AppConfigElement());
    EXPECT_STREQ(AppConfigElement().GetName(), "appconfig");
    EXPECT_STREQ(AppConfigElement().GetAttribute(app_config::kLanguage), "chs");
    EXPECT_EQ(ReadText(path), original);
}

TEST_F(SettingsFile, AMalformedOrEmptyFileIsReplacedByOneWithTheRootElement) {
    for (const std::string bad : {"", "this is not XML", "<Other/>"}) {
        gAppConfig.Clear();
        LoadFrom(bad);
        XMLParser reread;
        const std::string saved = ReadText(path);
        reread.LoadFromMemory(saved.data(), saved.size());
        EXPECT_TRUE(reread.GetRoot().FindChild(app_config::kRootElement))
            << "from \"" << bad << "\": " << saved;
    }
    // Other top-level content is written back with it.
    EXPECT_NE(ReadText(path).find("<Other />"), std::string::npos);
}

TEST_F(SettingsFile, ValuesAreWrittenBackUnderTheFilesSpellingAndUnknownOnesSurvive) {
    LoadFrom(
        "<AppConfig baudrate=\"9600\" Unknown=\"x\"><ParamSetting gatemax=\"3\" "
        "Extra=\"y\"/></AppConfig>");
    XMLNode config = AppConfigElement();
    ASSERT_STREQ(config.GetAttribute(app_config::kBaudRate), "9600");
    int32_t baud = 0;
    ASSERT_TRUE(DigtalStringToValue(config.GetAttribute(app_config::kBaudRate), -1, &baud, 5));
    EXPECT_EQ(baud, 9600);

    config.SetAttributeInt(app_config::kBaudRate, 57600);
    AppConfigSection(app_config::kParamSetting).SetAttributeInt("GateMax", 8);
    AppConfigSection(app_config::kObjectInfo)
        .SetAttributeHex(app_config::kOiEnergyActiveColor, app_config::kDefaultOiEnergyActiveColor);
    ASSERT_TRUE(SaveAppConfig());
    ASSERT_TRUE(SaveAppConfig());  // a second save changes nothing further

    EXPECT_EQ(ReadText(path),
              "<?xml version=\"1.0\"?>\n"
              "<AppConfig baudrate=\"57600\" Unknown=\"x\">\n"
              "\t<ParamSetting gatemax=\"8\" Extra=\"y\" />\n"
              "\t<ObjectInfo EnergyWaveWnd_ActiveColor=\"0xff000000\" />\n"
              "</AppConfig>\n");
}

TEST_F(SettingsFile, WithoutTheRootElementASectionValueIsDropped) {
    EXPECT_FALSE(AppConfigElement());
    XMLNode section = AppConfigSection(app_config::kDownload);
    EXPECT_FALSE(section);
    section.SetAttribute(app_config::kDlDownloadFilePath, "/somewhere");
    ASSERT_TRUE(SaveAppConfig());
    EXPECT_EQ(ReadText(path), "<?xml version=\"1.0\"?>\n");
}

TEST_F(SettingsFile, SavingIntoAMissingFolderFailsAndCreatesNothing) {
    LoadAppConfigAtStartup();
    const std::string missing = folder + "/missing";
    EXPECT_FALSE(SaveAppConfigTo(AnsiToWide(missing + "/appConfig.xml")));
    struct stat info {};
    EXPECT_NE(stat(missing.c_str(), &info), 0);
    EXPECT_FALSE(SaveAppConfigTo(L""));
}

TEST_F(SettingsFile, ATargetThatCannotBeReplacedIsLeftAsItWas) {
    LoadAppConfigAtStartup();
    // A folder in the file's place cannot be replaced by a file, not even by root.
    const std::string blocked = folder + "/blocked.xml";
    ASSERT_EQ(mkdir(blocked.c_str(), 0755), 0);
    WriteText(blocked + "/inside", "kept");
    EXPECT_FALSE(SaveAppConfigTo(AnsiToWide(blocked)));
    EXPECT_EQ(ReadText(blocked + "/inside"), "kept");
    EXPECT_TRUE(LeftoversBeside(folder, "blocked.xml").empty());
}

TEST_F(SettingsFile, AWriteErrorKeepsThePreviousFile) {
    const std::string previous = "<?xml version=\"1.0\"?>\n<AppConfig BaudRate=\"9600\" />\n";
    LoadFrom(previous);
    FillWithManySections(2000);
    bool result = true;
    ASSERT_TRUE(restricted_run::WithFileSizeLimit(4096, [&] { result = SaveAppConfig(); }));

    EXPECT_FALSE(result);
    EXPECT_EQ(ReadText(path), previous);
    EXPECT_TRUE(LeftoversBeside(folder, app_config::kFileName).empty());
    EXPECT_TRUE(SaveAppConfig());  // the values stay in memory for the next save
    EXPECT_GT(ReadText(path).size(), 4096u);
}

TEST_F(SettingsFile, AnInterruptedSaveNeverLeavesAPartialFile) {
    const std::string previous = "<?xml version=\"1.0\"?>\n<AppConfig BaudRate=\"9600\" />\n";
    FillWithManySections(100000);
    const std::string expectedPath = folder + "/expected.xml";
    ASSERT_TRUE(SaveAppConfigTo(AnsiToWide(expectedPath)));
    const std::string next = ReadText(expectedPath);

    int caughtWhileWriting = 0;
    for (int round = 0; round < 12; ++round) {
        WriteText(path, previous);
        std::fflush(nullptr);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) _exit(SaveAppConfig() ? 0 : 1);
        // Stop the save dead as soon as its temporary file shows up, or,
        // in later rounds, a little after it started.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        bool sawTemporary = false;
        while (std::chrono::steady_clock::now() < deadline) {
            if (!LeftoversBeside(folder, app_config::kFileName).empty()) {
                sawTemporary = true;
                break;
            }
            if (waitpid(child, nullptr, WNOHANG) == child) break;
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        if (round >= 6) std::this_thread::sleep_for(std::chrono::milliseconds(round));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);

        const std::string now = ReadText(path);
        EXPECT_TRUE(now == previous || now == next)
            << "round " << round << ": " << now.size() << " bytes";
        if (sawTemporary && now == previous) ++caughtWhileWriting;
        for (const std::string& name : LeftoversBeside(folder, app_config::kFileName))
            unlink((folder + "/" + name).c_str());
    }
    EXPECT_GT(caughtWhileWriting, 0) << "no save was ever interrupted while writing";
}

TEST_F(SettingsFile, ASaveKeepsPermissionsOwnerAndSymbolicLinks) {
    const std::string real = folder + "/real.xml";
    WriteText(real, "<AppConfig/>");
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    restricted_run::GiveToChild(real);  // a user's file saved by root stays the user's
    ASSERT_EQ(symlink("real.xml", path.c_str()), 0);
    LoadAppConfigAtStartup();
    AppConfigElement().SetAttributeInt(app_config::kBaudRate, 115200);
    ASSERT_TRUE(SaveAppConfig());

    struct stat info {};
    ASSERT_EQ(lstat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ASSERT_EQ(stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    if (geteuid() == 0) {
        EXPECT_EQ(info.st_uid, restricted_run::kUser);
    }
    EXPECT_NE(ReadText(real).find("BaudRate=\"115200\""), std::string::npos);
}

// The read-only cases run as a user without root in a folder of their own:
// root ignores permission bits.
TEST_F(SettingsFile, AFileTheProgramMayNotWriteOrCouldNotReadIsLeftUntouched) {
    TempFolder own;
    restricted_run::GiveToChild(own.Path());
    const std::string settings =
        "<?xml version=\"1.0\"?>\n<AppConfig BaudRate=\"9600\" Mine=\"yes\" />\n";
    struct Case {
        const char* name;
        mode_t mode;
    };
    for (const Case& c : {Case{"read-only.xml", 0444}, Case{"unreadable.xml", 0200}}) {
        const std::string file = own.File(c.name);
        WriteText(file, settings);
        restricted_run::GiveToChild(file);
        ASSERT_EQ(chmod(file.c_str(), c.mode), 0);
        const int result = restricted_run::AsUser([&] {
            gAppConfig.Clear();
            LoadAppConfigFrom(AnsiToWide(file));
            // The program runs on with what it could read, or with defaults.
            if (!AppConfigElement()) return 1;
            AppConfigElement().SetAttributeInt(app_config::kBaudRate, 57600);
            return SaveAppConfigTo(AnsiToWide(file)) ? 2 : 0;
        });
        if (result == restricted_run::kCannotDropRoot) GTEST_SKIP() << "cannot give up root";
        EXPECT_EQ(result, 0) << c.name;
        EXPECT_EQ(ReadText(file), settings) << c.name;
    }
    EXPECT_EQ(NamesIn(own.Path()).size(), 2u) << "something was left beside";
}

// Too large to be settings: not read, and never replaced by this run's values.
TEST_F(SettingsFile, AFileTooLargeForSettingsIsLeftUntouched) {
    const std::string huge =
        "<AppConfig>" + std::string(XMLParser::kMaxDocumentSize, ' ') + "</AppConfig>";
    LoadFrom(huge);
    EXPECT_FALSE(SaveAppConfig());
    EXPECT_EQ(ReadText(path), huge);
}

TEST_F(SettingsFile, InAReadOnlyFolderAWritableFileIsStillSaved) {
    TempFolder own;
    const std::string file = own.File(app_config::kFileName);
    WriteText(file, "<?xml version=\"1.0\"?>\n<AppConfig BaudRate=\"9600\" />\n");
    restricted_run::GiveToChild(file);
    ASSERT_EQ(chmod(own.Path().c_str(), 0555), 0);
    const int result = restricted_run::AsUser([&] {
        gAppConfig.Clear();
        LoadAppConfigFrom(AnsiToWide(file));
        AppConfigElement().SetAttributeInt(app_config::kBaudRate, 57600);
        return SaveAppConfigTo(AnsiToWide(file)) ? 0 : 1;
    });
    chmod(own.Path().c_str(), 0755);
    if (result == restricted_run::kCannotDropRoot) GTEST_SKIP() << "cannot give up root";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadText(file), "<?xml version=\"1.0\"?>\n<AppConfig BaudRate=\"57600\" />\n");
}

// Only files named as a save names them, of processes that have ended.
TEST_F(SettingsFile, LeftoversOfKilledSavesAreRemovedAtStart) {
    const std::string ended = std::to_string(restricted_run::EndedProcess());
    const std::string running = std::to_string(getpid());
    const std::vector<std::string> kept = {
        "appConfig.xml.~" + running + ".3", "appConfig.xml.~" + ended + ".x",
        "appConfig.xml.~-" + ended + ".1", "appConfig.xml.~" + ended + ".2"};
    for (const std::string& name : {kept[0], kept[1], kept[2], "appConfig.xml.~" + ended + ".0",
                                    "other.xml.~" + ended + ".0"})
        WriteText(folder + "/" + name, "<AppConfig BaudRate=\"96");
    ASSERT_EQ(mkdir((folder + "/" + kept[3]).c_str(), 0755), 0);

    LoadFrom("<AppConfig BaudRate=\"9600\"/>");
    std::vector<std::string> left = LeftoversBeside(folder, app_config::kFileName);
    std::vector<std::string> expected = kept;
    std::sort(left.begin(), left.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(left, expected);
    EXPECT_EQ(ReadText(folder + "/other.xml.~" + ended + ".0"), "<AppConfig BaudRate=\"96");
    EXPECT_STREQ(AppConfigElement().GetAttribute(app_config::kBaudRate), "9600");
}

}  // namespace

int main(int argc, char** argv) {
    int exitCode = 0;
    if (RelaunchFromProgramFolderCopy(argc, argv, &exitCode, {FixtureProbeDataFile()}))
        return exitCode;
    if (RunFixtureProbe(argc, argv, &exitCode)) return exitCode;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "params/RadarParamFile.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/common/RestrictedRun.h"

namespace {

namespace fs = std::filesystem;

class RadarParamFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() /
                   ("radar-param-file-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(m_folder, fs::perms::owner_all, ignored);
        fs::remove_all(m_folder, ignored);
    }

    fs::path File(const char* name) const { return m_folder / name; }
    static std::wstring Wide(const fs::path& path) { return AnsiToWide(path.string()); }

    static void Write(const fs::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    bool Save(const fs::path& path, const RadarParamSet& params) {
        std::string error;
        const bool ok = SaveRadarParamFile(Wide(path).c_str(), &params, &error);
        EXPECT_TRUE(ok) << error;
        return ok;
    }

    static RadarParamSet Distinct() {
        RadarParamSet params;
        params.GateMax = 7;
        params.ObjectDisappearDelayTime = 123;
        for (int gate = 0; gate < kRadarGateCount; ++gate) {
            params.TriggerThreshold[gate] = 10.25 + gate;
            params.HoldThreshold[gate] = 40.5 + gate;
        }
        return params;
    }

    fs::path m_folder;
};

TEST_F(RadarParamFileTest, DefaultsAreSavedInFileOrder) {
    const fs::path path = File("RadarParamConfig.xml");
    ASSERT_TRUE(Save(path, RadarParamSet()));
    const std::string text = Read(path);
    EXPECT_EQ(text.rfind("<?xml", 0), 0u) << text;

    std::string expected = "<RadarParam GateMax=\"15\" ObjectDisappearDelayTime=\"10\"";
    for (int gate = 0; gate < 16; ++gate) {
        expected += " TriggerGate" + std::to_string(gate) + "Threshold=\"30.00\"";
    }
    for (int gate = 0; gate < 16; ++gate) {
        expected += " HoldGate" + std::to_string(gate) + "Threshold=\"30.00\"";
    }
    EXPECT_NE(text.find(expected), std::string::npos) << text;
}

TEST_F(RadarParamFileTest, SavedValuesLoadBackRoundedToTwoDecimals) {
    const fs::path path = File("values.xml");
    RadarParamSet saved = Distinct();
    saved.TriggerThreshold[3] = 12.345678;
    ASSERT_TRUE(Save(path, saved));

    RadarParamSet loaded;
    ASSERT_TRUE(LoadRadarParamFile(Wide(path).c_str(), &loaded));
    EXPECT_EQ(loaded.GateMax, 7);
    EXPECT_EQ(loaded.ObjectDisappearDelayTime, 123);
    EXPECT_DOUBLE_EQ(loaded.TriggerThreshold[3], 12.35);
    EXPECT_DOUBLE_EQ(loaded.TriggerThreshold[15], 25.25);
    EXPECT_DOUBLE_EQ(loaded.HoldThreshold[0], 40.5);
    EXPECT_DOUBLE_EQ(loaded.HoldThreshold[15], 55.5);
}

TEST_F(RadarParamFileTest, NegativeDelayIsStoredUnsignedAndReadsBack) {
    const fs::path path = File("negative.xml");
    RadarParamSet saved;
    saved.ObjectDisappearDelayTime = -1;
    ASSERT_TRUE(Save(path, saved));
    EXPECT_NE(Read(path).find("ObjectDisappearDelayTime=\"4294967295\""), std::string::npos);

    RadarParamSet loaded;
    ASSERT_TRUE(LoadRadarParamFile(Wide(path).c_str(), &loaded));
    EXPECT_EQ(loaded.ObjectDisappearDelayTime, -1);
}

TEST_F(RadarParamFileTest, FilesWithoutParametersLeaveTheSet) {
    const RadarParamSet before = Distinct();
    const fs::path other = File("other.xml");
    Write(other, "<?xml version=\"1.0\"?><AppConfig GateMax=\"3\"/>");
    const fs::path broken = File("broken.bin");
    Write(broken, std::string("\x00\x01\x02 not xml", 12));

    for (const fs::path& path : {other, broken, File("missing.xml")}) {
        RadarParamSet params = before;
        EXPECT_FALSE(LoadRadarParamFile(Wide(path).c_str(), &params)) << path;
        EXPECT_EQ(std::memcmp(&params, &before, sizeof params), 0) << path;
    }
}

TEST_F(RadarParamFileTest, OnlyThePresentNonEmptyAttributesChange) {
    const fs::path path = File("partial.xml");
    Write(path,
          "<radarparam gatemax=\"4\" ObjectDisappearDelayTime=\"\" HOLDGATE2THRESHOLD=\"5.5\""
          " TriggerGate1Threshold=\"abc\"/>");
    const RadarParamSet before = Distinct();
    RadarParamSet params = before;
    ASSERT_TRUE(LoadRadarParamFile(Wide(path).c_str(), &params));

    RadarParamSet expected = before;
    expected.GateMax = 4;
    expected.HoldThreshold[2] = 5.5;
    EXPECT_EQ(std::memcmp(&params, &expected, sizeof params), 0);
}

TEST_F(RadarParamFileTest, ValuesOutsideThePageLimitsAreTakenAsTheyStand) {
    const fs::path path = File("wide.xml");
    Write(
        path,
        "<RadarParam GateMax=\"99\" TriggerGate0Threshold=\"250.00\" HoldGate0Threshold=\"-4\"/>");
    RadarParamSet params;
    ASSERT_TRUE(LoadRadarParamFile(Wide(path).c_str(), &params));
    EXPECT_EQ(params.GateMax, 99);
    EXPECT_DOUBLE_EQ(params.TriggerThreshold[0], 250.0);
    EXPECT_DOUBLE_EQ(params.HoldThreshold[0], -4.0);
}

TEST_F(RadarParamFileTest, SavingOverKeepsOtherContent) {
    const fs::path path = File("shared.xml");
    Write(path,
          "<?xml version=\"1.0\"?>\n"
          "<Notes author=\"lab\"><Note text=\"keep me\"/></Notes>\n"
          "<RadarParam Comment=\"bench 3\" GateMax=\"2\"/>\n");
    ASSERT_TRUE(Save(path, Distinct()));
    const std::string text = Read(path);
    EXPECT_NE(text.find("<Note text=\"keep me\""), std::string::npos) << text;
    // Existing attributes keep their places; the missing ones follow.
    EXPECT_NE(
        text.find("<RadarParam Comment=\"bench 3\" GateMax=\"7\" ObjectDisappearDelayTime=\"123\""),
        std::string::npos)
        << text;
    EXPECT_EQ(text.find("GateMax=\"2\""), std::string::npos);

    RadarParamSet loaded;
    ASSERT_TRUE(LoadRadarParamFile(Wide(path).c_str(), &loaded));
    EXPECT_DOUBLE_EQ(loaded.HoldThreshold[9], 49.5);
}

TEST_F(RadarParamFileTest, SavingAddsTheElementAsLastTopLevelNode) {
    const fs::path path = File("add.xml");
    Write(path, "<?xml version=\"1.0\"?>\n<Other a=\"1\"/>\n");
    ASSERT_TRUE(Save(path, RadarParamSet()));
    const std::string text = Read(path);
    const size_t other = text.find("<Other a=\"1\"");
    const size_t params = text.find("<RadarParam ");
    ASSERT_NE(other, std::string::npos) << text;
    ASSERT_NE(params, std::string::npos) << text;
    EXPECT_LT(other, params);
}

TEST_F(RadarParamFileTest, UnwritablePathReportsTheReason) {
    std::string error;
    const fs::path path = m_folder / "no-such-folder" / "params.xml";
    RadarParamSet params;
    EXPECT_FALSE(SaveRadarParamFile(Wide(path).c_str(), &params, &error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_NE(error.find("params.xml"), std::string::npos) << error;

    if (::geteuid() != 0) {  // root writes anywhere
        fs::permissions(m_folder, fs::perms::owner_read | fs::perms::owner_exec);
        error.clear();
        EXPECT_FALSE(SaveRadarParamFile(Wide(File("locked.xml")).c_str(), &params, &error));
        EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
    }
}

TEST_F(RadarParamFileTest, ThresholdsOfAnySizeAreWrittenWhole) {
    const fs::path path = File("huge.xml");
    Write(path,
          "<RadarParam TriggerGate0Threshold=\"1e100\" "
          "HoldGate15Threshold=\"-1.7976931348623157e308\""
          " TriggerGate7Threshold=\"123456789012345.67\"/>");
    RadarParamSet loaded;
    ASSERT_TRUE(LoadRadarParamFile(Wide(path).c_str(), &loaded));
    ASSERT_TRUE(Save(path, loaded));

    RadarParamSet reloaded;
    ASSERT_TRUE(LoadRadarParamFile(Wide(path).c_str(), &reloaded));
    EXPECT_EQ(reloaded.TriggerThreshold[0], 1e100) << Read(path);
    EXPECT_EQ(reloaded.HoldThreshold[15], -1.7976931348623157e308);
    EXPECT_EQ(reloaded.TriggerThreshold[7], 123456789012345.67);
}

// A save that fails part-way, or a file the user may not write, leaves the
// old file whole: it is replaced in one step only when the new one is done.
TEST_F(RadarParamFileTest, AFailedOrRefusedSaveKeepsTheOldFile) {
    const fs::path path = File("bench.xml");
    const std::string old = "<?xml version=\"1.0\"?>\n<RadarParam GateMax=\"2\" />\n";
    Write(path, old);
    std::string error;
    bool saved = true;
    const RadarParamSet params = Distinct();
    ASSERT_TRUE(restricted_run::WithFileSizeLimit(
        256, [&] { saved = SaveRadarParamFile(Wide(path).c_str(), &params, &error); }));
    EXPECT_FALSE(saved);
    EXPECT_NE(error.find("File too large"), std::string::npos) << error;
    EXPECT_EQ(Read(path), old);

    restricted_run::GiveToChild(m_folder.string());
    restricted_run::GiveToChild(path.string());
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const int result = restricted_run::AsUser([&] {
        std::string reason;
        if (SaveRadarParamFile(Wide(path).c_str(), &params, &reason)) return 1;
        return reason.find("Permission denied") != std::string::npos ? 0 : 2;
    });
    if (result == restricted_run::kCannotDropRoot) GTEST_SKIP() << "cannot give up root";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Read(path), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_folder), fs::directory_iterator()), 1);
}

TEST_F(RadarParamFileTest, EmptyElementHandleChangesNothing) {
    RadarParamSet params = Distinct();
    const RadarParamSet before = params;
    LoadRadarParams(XMLNode(), &params);
    StoreRadarParams(XMLNode(), &params);
    EXPECT_EQ(std::memcmp(&params, &before, sizeof params), 0);
}

}  // namespace

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "realtime/ObjectInfoSettings.h"
#include "realtime/PresenceShading.h"
#include "realtime/RealtimeReader.h"

namespace {

XMLNode Section(XMLParser& document, const std::string& xml) {
    document.LoadFromMemory(xml.data(), xml.size());
    return document.GetRoot().FindChild("AppConfig").FindChild("ObjectInfo");
}

}  // namespace

TEST(ObjectInfoSettingsTest, PresentKeysReplaceDefaultsAndEmptyOnesDoNot) {
    XMLParser document;
    const XMLNode section = Section(document,
                                    "<AppConfig><ObjectInfo EnergyWaveWnd_ValueDisplayMax=\"60\" "
                                    "energywavewnd_activecolor=\"0x00112233\" "
                                    "HoldSensingScale=\"2.25\" TriggerSensingScale=\"\" "
                                    "DistanceWaveWnd_ActiveColor=\"4294967295\"/></AppConfig>");
    ObjectInfoSettings settings;
    LoadObjectInfoSettings(section, &settings);
    EXPECT_EQ(settings.energyDisplayMax, 60);
    EXPECT_EQ(settings.energyActiveColor, 0x00112233u);  // names match without regard to case
    EXPECT_EQ(settings.distanceActiveColor, 0xFFFFFFFFu);
    EXPECT_DOUBLE_EQ(settings.holdSensingScale, 2.25);
    EXPECT_DOUBLE_EQ(settings.triggerSensingScale, 5.0);  // empty value: default
    EXPECT_EQ(settings.energyInactiveColor, 0xBFC3C3C3u);
    EXPECT_EQ(settings.energyLineWidth, 5);
}

TEST(ObjectInfoSettingsTest, AllTenKeysAreWrittenInTheirFormats) {
    XMLParser document;
    const XMLNode section =
        Section(document, "<AppConfig><ObjectInfo Other=\"kept\"/></AppConfig>");
    StoreObjectInfoSettings(section, ObjectInfoSettings());
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"EnergyWaveWnd_ActiveColor", "0xff000000"},
        {"EnergyWaveWnd_InactiveColor", "0xbfc3c3c3"},
        {"EnergyWaveWnd_ValueAutoScale", "0"},
        {"EnergyWaveWnd_ValueDisplayMax", "100"},
        {"EnergyWaveWnd_WaveLineWidth", "5"},
        {"DistanceWaveWnd_ActiveColor", "0xffc3c3c3"},
        {"DistanceWaveWnd_InactiveColor", "0xff000000"},
        {"DistanceWaveWnd_WaveLineWidth", "5"},
        {"TriggerSensingScale", "5.000000"},
        {"HoldSensingScale", "3.500000"}};
    for (const auto& [key, value] : expected) {
        ASSERT_TRUE(section.GetAttribute(key.c_str())) << key;
        EXPECT_EQ(section.GetAttribute(key.c_str()), value) << key;
    }
    EXPECT_STREQ(section.GetAttribute("Other"), "kept");

    ObjectInfoSettings reread;
    reread.energyDisplayMax = 1;
    LoadObjectInfoSettings(section, &reread);
    EXPECT_EQ(reread.energyDisplayMax, 100);
}

TEST(PresenceShadingTest, AlternatingHistoryShadesEveryOtherEntryAtItsOwnAndTwiceTheWidth) {
    std::vector<uint8_t> history(CRealtimeReader::kHistoryLength);
    for (size_t i = 0; i < history.size(); i += 2) history[i] = 1;
    const auto runs = PresenceRuns(history.data(), 571, 0, 571);
    ASSERT_EQ(runs.size(), 286u);
    for (size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i].first, static_cast<int>(2 * i));
        EXPECT_EQ(runs[i].end, static_cast<int>(2 * i + 1));
    }

    // Twice the width: about two columns an entry.
    const auto wide = PresenceRuns(history.data(), 571, 10, 10 + 1142);
    ASSERT_EQ(wide.size(), 286u);
    EXPECT_EQ(wide[0], (ColumnRun{10, 11}));  // entry 0 has only its right half
    for (size_t i = 1; i + 1 < wide.size(); ++i) EXPECT_EQ(wide[i].end - wide[i].first, 2);
    EXPECT_EQ(wide.back().end, 10 + 1142);  // the last entry runs to the edge
}

TEST(PresenceShadingTest, RunsCloseBeforeZerosAndEmptyInputsGiveNone) {
    std::vector<uint8_t> history(571, 0);
    EXPECT_TRUE(PresenceRuns(history.data(), 571, 0, 300).empty());
    std::fill(history.begin() + 100, history.begin() + 200, 1);
    const auto runs = PresenceRuns(history.data(), 571, 0, 571);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0], (ColumnRun{100, 200}));
    EXPECT_TRUE(PresenceRuns(history.data(), 571, 5, 5).empty());
    EXPECT_TRUE(PresenceRuns(nullptr, 571, 0, 100).empty());
}

TEST(PresenceShadingTest, GatesBeyondTheLargestInUseAreInactive) {
    EXPECT_EQ(InactiveGateColumns(7, 16, 50, 370), (ColumnRun{50 + 160, 370}));
    EXPECT_EQ(InactiveGateColumns(15, 16, 50, 370), (ColumnRun{370, 370}));
    EXPECT_EQ(InactiveGateColumns(99, 16, 50, 370), (ColumnRun{370, 370}));
    EXPECT_EQ(InactiveGateColumns(-5, 16, 50, 370), (ColumnRun{50, 370}));
}

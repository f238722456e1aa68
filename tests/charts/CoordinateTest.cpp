#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "charts/Coordinate.h"

namespace {

std::vector<std::wstring> Texts(const CCoordinate& axis) {
    std::vector<std::wstring> texts;
    for (int i = 0; i < axis.m_nLabelCount; ++i) texts.push_back(axis.LabelText(i));
    return texts;
}

CCoordinate Axis(double minimum, double maximum, int count) {
    CCoordinate axis;
    axis.m_dMin = minimum;
    axis.m_dMax = maximum;
    axis.m_nLabelCount = count;
    return axis;
}

}  // namespace

TEST(Coordinate, NumbersRoundHalfAwayFromZeroAndCustomLabelsReplaceOnlyTheirIndex) {
    const CCoordinate gates = Axis(0, 63, 22);
    const std::vector<std::wstring> texts = Texts(gates);
    EXPECT_EQ(texts.front(), L"0");
    EXPECT_EQ(texts[1], L"3");
    EXPECT_EQ(texts.back(), L"63");

    EXPECT_EQ(Texts(Axis(-32767, 32767, 5)),
              (std::vector<std::wstring>{L"-32767", L"-16384", L"0", L"16384", L"32767"}));
    EXPECT_EQ(Texts(Axis(0, 1, 5)),
              (std::vector<std::wstring>{L"0.0", L"0.3", L"0.5", L"0.8", L"1.0"}));

    CCoordinate fixed = Axis(0, 1, 3);
    fixed.m_nDecimals = 2;
    fixed.m_strPrefix = L"~";
    fixed.m_strSuffix = L" %%s%d";  // shown as text, never a format
    EXPECT_EQ(fixed.LabelText(1), L"~0.50 %s%d");

    EXPECT_EQ(Texts(Axis(7, 9, 1)), (std::vector<std::wstring>{L"7"}));

    // Custom labels replace only their index.
    CCoordinate axis = Axis(0, 60, 7);
    const std::vector<CoordinateLabel> custom = {{0, L"T0-60"}};
    axis.SetCustomLabels(&custom);
    EXPECT_EQ(Texts(axis),
              (std::vector<std::wstring>{L"T0-60", L"10", L"20", L"30", L"40", L"50", L"60"}));
    axis.SetCustomLabels(nullptr);
    EXPECT_EQ(axis.LabelText(0), L"0");
}

TEST(Coordinate, WrapsSamplePositionsIntoThePeriod) {
    CCoordinate axis = Axis(54, 117, 22);
    axis.m_dWrapLow = 0;
    axis.m_dWrapHigh = 63;
    axis.m_dWrapPeriod = 64;
    EXPECT_EQ(axis.LabelText(0), L"54");
    EXPECT_EQ(axis.LabelText(6), L"8");    // 72
    EXPECT_EQ(axis.LabelText(21), L"53");  // 117

    axis.m_dMin = -10;  // below the range wraps up
    EXPECT_EQ(axis.LabelText(0), L"54");
}

TEST(Coordinate, LayoutKeepsEndsInsideAndCentresTheRest) {
    CCoordinate axis = Axis(0, 4, 5);
    axis.m_rcArea = {10, 100, 110, 120};  // pitch 25
    axis.m_nAlignment = 2;
    axis.m_nEdgeOffset = 3;
    const std::vector<AxisLabel> labels = axis.LayoutHorizontal();
    ASSERT_EQ(labels.size(), 5u);
    EXPECT_EQ(labels[0].box.left, 10);
    EXPECT_EQ(labels[0].box.right, 35);
    EXPECT_EQ(labels[0].horizontal, kJustifyNear);
    EXPECT_EQ(labels[1].box.left, 23);   // 10 + round(12.5)
    EXPECT_EQ(labels[1].box.right, 48);  // 10 + round(37.5)
    EXPECT_EQ(labels[1].horizontal, kJustifyCenter);
    EXPECT_EQ(labels[4].box.left, 85);
    EXPECT_EQ(labels[4].box.right, 110);
    EXPECT_EQ(labels[4].horizontal, kJustifyFar);
    for (const AxisLabel& label : labels) {
        EXPECT_EQ(label.vertical, kJustifyFar);
        EXPECT_EQ(label.box.top, 100);
        EXPECT_EQ(label.box.bottom, 117);
    }

    // A vertical axis runs from the maximum at the top.
    CCoordinate vertical = Axis(-100, 100, 5);
    vertical.m_nOrientation = 1;
    vertical.m_rcArea = {0, 0, 40, 200};
    vertical.m_nAlignment = 2;
    vertical.m_nEdgeOffset = 4;
    const std::vector<AxisLabel> rows = vertical.Layout();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].text, L"100");
    EXPECT_EQ(rows[4].text, L"-100");
    EXPECT_EQ(rows[0].box.top, 0);
    EXPECT_EQ(rows[0].vertical, kJustifyNear);
    EXPECT_EQ(rows[2].box.top, 75);
    EXPECT_EQ(rows[2].vertical, kJustifyCenter);
    EXPECT_EQ(rows[4].box.bottom, 200);
    EXPECT_EQ(rows[4].vertical, kJustifyFar);
    EXPECT_EQ(rows[2].box.right, 36);
    EXPECT_EQ(rows[2].horizontal, kJustifyFar);

    vertical.m_nLabelCount = 0;
    EXPECT_TRUE(vertical.Layout().empty());
}

// The labels of one chart axis: evenly spaced numbers (or caller-supplied
// texts) along one edge of a chart, with an optional wrap-around for axes
// that count sample positions modulo a period. Text only: the chart draws
// no ticks or lines for an axis.
//
// Plain C++: this class works out every label's text, box and justification;
// the chart window paints them (one single line each, elided at its end).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/KVEL_CommonDraw.h"

// Placement of a text in its box, across either direction.
enum CoordinateJustify { kJustifyNear = 0, kJustifyCenter = 1, kJustifyFar = 2 };

// A caller-supplied text shown instead of the number of label `index`.
struct CoordinateLabel {
    int index = 0;
    std::wstring text;
};

// One label as it is to be drawn.
struct AxisLabel {
    std::wstring text;
    KRect box;
    int horizontal = kJustifyNear;  // CoordinateJustify
    int vertical = kJustifyNear;
};

class CCoordinate {
public:
    static constexpr const wchar_t* kFontFace = L"黑体";

    CCoordinate() = default;
    virtual ~CCoordinate() = default;

    // Sets the font size (points), the text colour (0x00BBGGRR) and the
    // decimals; the edge offset goes back to 0, prefix and suffix to empty.
    void SetStyle(int points, uint32_t textColor, int decimals);
    // Replaces every custom label by copies of `entries` (nullptr: none).
    void SetCustomLabels(const std::vector<CoordinateLabel>* entries);

    // Text of label `index` (0 = left, or top on a vertical axis).
    std::wstring LabelText(int index) const;
    // Digits after the point the numeric labels get.
    int LabelDecimals() const;
    // Every label with its box in m_rcArea and its justification.
    std::vector<AxisLabel> LayoutHorizontal() const;
    std::vector<AxisLabel> LayoutVertical() const;
    std::vector<AxisLabel> Layout() const {
        return m_nOrientation == 1 ? LayoutVertical() : LayoutHorizontal();
    }

    // The settings, written directly by the chart window and the pages.
    int m_nOrientation = 0;  // 0: labels along a horizontal axis, 1: vertical
    // Across the axis: horizontal axis 0 top, 1 centre, 2 bottom; vertical
    // axis 0 left, 1 centre, 2 right.
    int m_nAlignment = 0;
    int m_nLabelCount = 5;     // first and last at the two ends; 0 draws nothing
    double m_dMin = -32768.0;  // first label (left, or bottom)
    double m_dMax = 32768.0;   // last label (right, or top)
    double m_dWrapLow = 0.0;
    double m_dWrapHigh = 0.0;
    double m_dWrapPeriod = -1.0;  // wrapping is on when > 0
    KRect m_rcArea;               // client coordinates, set by the window's layout
    std::wstring m_strFontFace = kFontFace;
    int m_nFontPoints = 8;
    uint32_t m_crText = 0x000000;  // the usual window text colour, black
    int m_nEdgeOffset = 0;         // pixels from the aligned edge (not when centred)
    int m_nDecimals = -1;          // negative: chosen from the label step
    std::wstring m_strPrefix;
    std::wstring m_strSuffix;
    std::vector<CoordinateLabel> m_customLabels;

private:
    std::vector<AxisLabel> Place(bool vertical) const;
    double Step() const;
    double LabelValue(int index) const;
    double Wrap(double value) const;
};

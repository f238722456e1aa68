#include "charts/Coordinate.h"

#include <cmath>
#include <cstdio>

#include "common/KVEL_Common.h"

namespace {

constexpr double kWrapSlack = 1e-16;

// Prefix and suffix are shown as they are. A "%%" in them stands for one
// "%", as it would in a printf format; any other "%" is an ordinary
// character, never a conversion of the formatting.
std::wstring LiteralText(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == L'%' && i + 1 < text.size() && text[i + 1] == L'%') ++i;
    }
    return out;
}

std::wstring FormatNumber(double value, int decimals) {
    const int needed = std::snprintf(nullptr, 0, "%.*f", decimals, value);
    if (needed <= 0) return {};
    std::string digits(static_cast<size_t>(needed) + 1, '\0');
    std::snprintf(digits.data(), digits.size(), "%.*f", decimals, value);
    digits.resize(static_cast<size_t>(needed));
    return std::wstring(digits.begin(), digits.end());  // ASCII only
}

// The box of label i of `count` along an axis starting at `start` with
// `pitch` pixels between labels: the first and last stay inside the axis,
// the others are centred on their positions.
void SpanAlong(int i, int count, int start, int length, int* from, int* to, int* justify) {
    if (count == 1) {
        *from = start, *to = start + length, *justify = kJustifyCenter;
        return;
    }
    const double pitch = static_cast<double>(length) / (count - 1);
    const auto at = [&](double position) {
        return start + static_cast<int>(std::lround(position * pitch));
    };
    if (i == 0) {
        *from = start, *to = at(1.0), *justify = kJustifyNear;
    } else if (i == count - 1) {
        *from = at(i - 1.0), *to = at(i), *justify = kJustifyFar;
    } else {
        *from = at(i - 0.5), *to = at(i + 0.5), *justify = kJustifyCenter;
    }
}

// Across the axis: the aligned edge moves inwards by the edge offset.
int AlignAcross(int alignment, int edgeOffset, int* near, int* far) {
    if (alignment == 0) {
        *near += edgeOffset;
        return kJustifyNear;
    }
    if (alignment == 2) {
        *far -= edgeOffset;
        return kJustifyFar;
    }
    return kJustifyCenter;
}

}  // namespace

void CCoordinate::SetStyle(int points, uint32_t textColor, int decimals) {
    m_strFontFace = kFontFace;
    m_nFontPoints = points;
    m_crText = textColor;
    m_nDecimals = decimals;
    m_nEdgeOffset = 0;
    m_strPrefix.clear();
    m_strSuffix.clear();
}

void CCoordinate::SetCustomLabels(const std::vector<CoordinateLabel>* entries) {
    m_customLabels.clear();
    if (entries) m_customLabels = *entries;
}

double CCoordinate::Step() const {
    // One label has no step; it shows the minimum.
    return m_nLabelCount > 1 ? (m_dMax - m_dMin) / (m_nLabelCount - 1) : 0.0;
}

int CCoordinate::LabelDecimals() const {
    if (m_nDecimals >= 0) return m_nDecimals;
    if (m_nLabelCount == 1) return 0;
    int decimals = 0;
    for (double v = Step(); std::fabs(v) < 1.0 && decimals < 10; v *= 10.0) ++decimals;
    return decimals;
}

double CCoordinate::LabelValue(int index) const {
    const int position = m_nOrientation == 1 ? m_nLabelCount - 1 - index : index;
    return m_dMin + position * Step();
}

double CCoordinate::Wrap(double value) const {
    const double period = m_dWrapPeriod;
    const auto below = [&](double v) { return v < m_dWrapLow - kWrapSlack; };
    const auto above = [&](double v) { return v > m_dWrapHigh + kWrapSlack; };
    if (!(period > 0.0) || !(below(value) || above(value))) return value;
    value -= std::trunc(value / period) * period;
    if (below(value)) {
        value += period;
    } else if (above(value)) {
        value -= period;
    }
    return value;
}

std::wstring CCoordinate::LabelText(int index) const {
    for (const CoordinateLabel& label : m_customLabels)
        if (label.index == index) return label.text;
    const int decimals = LabelDecimals();
    const double scale = std::pow(10.0, decimals);
    const double rounded = Wrap(std::round(LabelValue(index) * scale) / scale);
    return LiteralText(m_strPrefix) + FormatNumber(rounded, decimals) + LiteralText(m_strSuffix);
}

std::vector<AxisLabel> CCoordinate::LayoutHorizontal() const { return Place(false); }

std::vector<AxisLabel> CCoordinate::LayoutVertical() const { return Place(true); }

std::vector<AxisLabel> CCoordinate::Place(bool vertical) const {
    std::vector<AxisLabel> labels;
    for (int i = 0; i < m_nLabelCount; ++i) {
        AxisLabel label;
        label.text = LabelText(i);
        label.box = m_rcArea;
        KRect& box = label.box;
        if (vertical) {
            SpanAlong(i, m_nLabelCount, box.top, box.Height(), &box.top, &box.bottom,
                      &label.vertical);
            label.horizontal = AlignAcross(m_nAlignment, m_nEdgeOffset, &box.left, &box.right);
        } else {
            SpanAlong(i, m_nLabelCount, box.left, box.Width(), &box.left, &box.right,
                      &label.horizontal);
            label.vertical = AlignAcross(m_nAlignment, m_nEdgeOffset, &box.top, &box.bottom);
        }
        labels.push_back(std::move(label));
    }
    return labels;
}

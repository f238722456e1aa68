#include "controls/ColorStatic.h"

#include <QPainter>
#include <QScreen>

#include <string>

#include "common/KVEL_CommonDraw.h"

namespace {

QColor ColorFromColorRef(uint32_t value) {
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

// The text's pieces between its line feeds, as the common library splits
// them (a carriage return before a line feed belongs to the line end; empty
// pieces are kept).
QStringList SplitLines(const QString& text) {
    QStringList lines;
    if (text.isEmpty()) return lines;
    const std::wstring wide = text.toStdWString();
    CPtrArrayCtrl pieces;
    wchar_t* block = DevideStringByCharListW(wide.c_str(), static_cast<int>(wide.size()), L"\n", 1,
                                             0, &pieces, -1);
    for (int i = 0; i < pieces.GetCount(); ++i)
        lines << QString::fromWCharArray(static_cast<const wchar_t*>(pieces.GetAt(i)));
    Internal_DelArrayW(block);
    return lines;
}

// Points to a pixel height the way fonts are asked for by height: rounded
// like a multiply-divide.
int PointsToPixels(int points, int dotsPerInch) {
    return static_cast<int>((static_cast<long long>(points) * dotsPerInch + 36) / 72);
}

const int kLineFlags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap;

}  // namespace

CColorStatic::CColorStatic(QWidget* parent) : QLabel(parent) {
    // Until a style is set, the system's button colours.
    m_textColor = palette().color(QPalette::ButtonText);
    m_backgroundColor = palette().color(QPalette::Button);
}

void CColorStatic::SetTextStyle(int points) {
    QFont face;
    face.setFamilies({QStringLiteral("SimHei"), QStringLiteral("WenQuanYi Micro Hei"),
                      QStringLiteral("Noto Sans CJK SC")});
    face.setStyleHint(QFont::SansSerif);
    const int dpi = screen() ? static_cast<int>(screen()->logicalDotsPerInchY()) : 96;
    face.setPixelSize(std::max(1, PointsToPixels(points, dpi)));
    setFont(face);
    m_textColor = ColorFromColorRef(kTextColor);
    m_backgroundColor = ColorFromColorRef(kBackgroundColor);
    update();
}

std::vector<CColorStatic::Line> CColorStatic::LayOut() const {
    std::vector<Line> lines;
    const QFontMetrics metrics(font());
    const QRect item = rect();
    int sum = 0;
    for (const QString& piece : SplitLines(text())) {
        const QRect measured = metrics.boundingRect(item, kLineFlags, piece);
        lines.push_back({piece, QRect(item.left(), 0, item.width(), measured.height())});
        sum += measured.height();
    }
    if (lines.empty()) return lines;
    // Equal gaps above, between and below the lines.
    const double gap = static_cast<double>(item.height() - sum) / (lines.size() + 1);
    double top = item.top() + gap;
    for (Line& line : lines) {
        line.box.moveTop(static_cast<int>(top));
        top += line.box.height() + gap;
    }
    return lines;
}

QImage CColorStatic::RenderImage() const {
    QImage image(size(), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return image;
    image.fill(m_backgroundColor);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font());
    painter.setPen(m_textColor);
    for (const Line& line : LayOut())
        if (!line.text.isEmpty()) painter.drawText(line.box, kLineFlags, line.text);
    return image;
}

void CColorStatic::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, RenderImage());
}

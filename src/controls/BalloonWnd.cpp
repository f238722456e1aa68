#include "controls/BalloonWnd.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPolygon>
#include <QRegion>

#include <algorithm>

namespace {

// Rectangles here follow the drawing code's habit: left and top inside,
// right and bottom just outside.
QRect Box(int left, int top, int right, int bottom) {
    return QRect(left, top, right - left, bottom - top);
}
int Right(const QRect& box) { return box.x() + box.width(); }
int Bottom(const QRect& box) { return box.y() + box.height(); }

// The outline of a box for a 1-pixel pen: the last row and column of the
// box carry the pen, as filled shapes do on the screen.
QRect Outline(const QRect& box) { return box.adjusted(0, 0, -1, -1); }

const QColor kKeyColor(255, 0, 0);
const QColor kTitleColor(0, 51, 153);

constexpr int kRectsPerRegionBlock = 2000;
constexpr int kRectGrowth = 100;

}  // namespace

CBalloonWnd::CBalloonWnd(QWidget* owner)
    : QWidget(owner, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus),
      m_owner(owner),
      m_glyphFontSmall(BalloonFont(10)),
      m_glyphFontLarge(BalloonFont(14)),
      m_titleFont(BalloonFont(14)),
      m_textFont(BalloonFont(9)) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground, false);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    setAutoFillBackground(false);
    setWindowOpacity(1.0);

    m_countdownTimer.setInterval(kCountdownIntervalMs);
    m_fadeTimer.setInterval(kFadeIntervalMs);
    connect(&m_countdownTimer, &QTimer::timeout, this, &CBalloonWnd::OnCountdownTick);
    connect(&m_fadeTimer, &QTimer::timeout, this, &CBalloonWnd::OnFadeTick);

    if (m_owner) m_owner->installEventFilter(this);
}

CBalloonWnd::~CBalloonWnd() {
    if (m_owner) m_owner->removeEventFilter(this);
    StopTimers();
    m_entries.clear();
}

QFont CBalloonWnd::BalloonFont(int points) {
    // The face the balloon is designed for, then the CJK sans faces that
    // stand in for it where it is not installed.
    QFont font;
    font.setFamilies({QStringLiteral("黑体"), QStringLiteral("SimHei"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
    font.setPointSize(points);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

void CBalloonWnd::ShowBalloon(const QPoint& anchor, const QString& title, const QString& text,
                              int icon) {
    StopTimers();

    auto same = std::find_if(m_entries.begin(), m_entries.end(), [&](const auto& entry) {
        return entry->title == title && entry->text == text;
    });
    if (same != m_entries.end()) {
        // A repeated report keeps its place and starts its time again.
        (*same)->icon = icon;
        (*same)->remaining = m_showTime;
    } else {
        auto entry = std::make_unique<Entry>();
        entry->title = title;
        entry->text = text;
        entry->icon = icon;
        entry->remaining = m_showTime;
        m_entries.insert(m_entries.begin(), std::move(entry));
    }

    move(anchor);
    LayoutAndRender();

    // Showing must not move the keyboard focus away from where the user
    // is typing.
    QPointer<QWidget> focus = QApplication::focusWidget();
    show();
    if (focus && QApplication::focusWidget() != focus) focus->setFocus(Qt::OtherFocusReason);

    m_hovering = false;
    m_closeHot = false;
    m_opacity = 255;
    ApplyOpacity();
    m_countdownTimer.start();

    // A balloon of a window that is not on the screen has nothing to
    // point at.
    if (m_owner && m_owner != this && !m_owner->isVisible()) HideAndForget();
}

void CBalloonWnd::HideAndForget() {
    StopTimers();
    hide();
    m_entries.clear();
}

int CBalloonWnd::LiveEntryCount() const {
    return static_cast<int>(std::count_if(m_entries.begin(), m_entries.end(),
                                          [](const auto& entry) { return entry->remaining != 0; }));
}

const CBalloonWnd::Entry* CBalloonWnd::EntryAt(int index) const {
    if (index < 0 || index >= EntryCount()) return nullptr;
    return m_entries[static_cast<size_t>(index)].get();
}

QString CBalloonWnd::EntryTitle(int index) const {
    const Entry* entry = EntryAt(index);
    return entry ? entry->title : QString();
}

QString CBalloonWnd::EntryText(int index) const {
    const Entry* entry = EntryAt(index);
    return entry ? entry->text : QString();
}

int CBalloonWnd::EntryIcon(int index) const {
    const Entry* entry = EntryAt(index);
    return entry ? entry->icon : BALLOON_ICON_NONE;
}

unsigned CBalloonWnd::EntryRemaining(int index) const {
    const Entry* entry = EntryAt(index);
    return entry ? entry->remaining : 0;
}

QRect CBalloonWnd::EntryTitleBox(int index) const {
    const Entry* entry = EntryAt(index);
    return entry ? entry->titleBox : QRect();
}

QRect CBalloonWnd::EntryTextBox(int index) const {
    const Entry* entry = EntryAt(index);
    return entry ? entry->textBox : QRect();
}

bool CBalloonWnd::IsKeyColor(QRgb pixel) {
    return qRed(pixel) == 255 && qGreen(pixel) <= 16 && qBlue(pixel) <= 16;
}

QRegion CBalloonWnd::RegionFromImage(const QImage& image) {
    const QImage scan = image.convertToFormat(QImage::Format_RGB32);
    QRegion region;
    std::vector<QRect> rects;
    rects.reserve(kRectGrowth);
    auto flush = [&]() {
        if (rects.empty()) return;
        QRegion block;
        block.setRects(rects.data(), static_cast<int>(rects.size()));
        region |= block;
        rects.clear();
    };
    for (int y = 0; y < scan.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(scan.constScanLine(y));
        int x = 0;
        while (x < scan.width()) {
            while (x < scan.width() && IsKeyColor(row[x])) ++x;
            const int start = x;
            while (x < scan.width() && !IsKeyColor(row[x])) ++x;
            if (x > start) {
                if (rects.size() == rects.capacity()) rects.reserve(rects.size() + kRectGrowth);
                rects.emplace_back(start, y, x - start, 1);
                if (static_cast<int>(rects.size()) == kRectsPerRegionBlock) flush();
            }
        }
    }
    flush();
    return region;
}

void CBalloonWnd::LayoutAndRender() {
    int y = 32;
    int right = 0;
    const QFontMetrics titleMetrics(m_titleFont);
    const QFontMetrics textMetrics(m_textFont);
    for (auto& entry : m_entries) {
        if (entry->remaining == 0) continue;
        entry->titleSize = titleMetrics.boundingRect(QRect(), 0, entry->title).size();
        entry->textSize = textMetrics.boundingRect(QRect(), 0, entry->text).size();
        entry->iconBox = Box(14, y, 44, y + 30);
        entry->titleBox =
            Box(54, y, 56 + entry->titleSize.width(), y + entry->titleSize.height() + 2);
        const int titleBottom = Bottom(entry->titleBox);
        entry->textBox = Box(54, titleBottom + 2, 56 + entry->textSize.width(),
                             titleBottom + 4 + entry->textSize.height());
        right = std::max({right, Right(entry->titleBox), Right(entry->textBox)});
        y = std::max({Bottom(entry->iconBox), titleBottom, Bottom(entry->textBox)}) + 8;
    }
    const int width = (right + 40 + 3) / 4 * 4;
    const int height = y + 6;
    m_closeBox = Box(width - 30, 32, width - 10, 52);

    m_image = QImage(width, height, QImage::Format_RGB888);
    {
        QPainter painter(&m_image);
        DrawShape(painter, width, height);
        const QRegion shape = RegionFromImage(m_image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setBackground(Qt::white);
        for (const auto& entry : m_entries) {
            if (entry->remaining == 0) continue;
            DrawIcon(painter, *entry);
            painter.setBackgroundMode(Qt::OpaqueMode);
            painter.setFont(m_titleFont);
            painter.setPen(kTitleColor);
            painter.drawText(entry->titleBox, 0, entry->title);
            painter.setFont(m_textFont);
            painter.setPen(Qt::black);
            painter.drawText(entry->textBox, 0, entry->text);
            painter.setBackgroundMode(Qt::TransparentMode);
        }
        setMask(shape);
    }
    resize(width, height);
    update();
}

void CBalloonWnd::DrawShape(QPainter& painter, int width, int height) {
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(0, 0, width, height, kKeyColor);
    painter.setPen(QPen(Qt::black, 1, Qt::SolidLine));
    painter.setBrush(Qt::white);
    const QPoint tail[3] = {QPoint(20, 0), QPoint(20, 20), QPoint(40, 20)};
    painter.drawPolygon(tail, 3);
    painter.drawRoundedRect(Outline(Box(0, 20, width, height)), 7, 7, Qt::AbsoluteSize);
    // Open the body's top edge under the tail (the end point is left out,
    // as a drawn line ends before its last point).
    painter.setPen(QPen(Qt::white, 1, Qt::SolidLine));
    painter.drawLine(20, 20, 39, 20);
}

void CBalloonWnd::DrawIcon(QPainter& painter, const Entry& entry) {
    const QRect& box = entry.iconBox;
    const int l = box.x(), t = box.y(), r = Right(box), b = Bottom(box);
    switch (entry.icon) {
        case BALLOON_ICON_INFO:
        case BALLOON_ICON_INFO_LARGE:
            painter.setPen(QPen(QColor(0, 78, 140), 1));
            painter.setBrush(QColor(0, 120, 215));
            painter.drawEllipse(Outline(box));
            painter.setFont(m_glyphFontLarge);
            painter.setPen(Qt::white);
            painter.drawText(box, Qt::AlignCenter | Qt::TextSingleLine, QStringLiteral("i"));
            break;
        case BALLOON_ICON_WARNING:
        case BALLOON_ICON_WARNING_LARGE: {
            painter.setPen(QPen(QColor(255, 185, 0), 1));
            painter.setBrush(QColor(252, 225, 0));
            const QPoint triangle[3] = {QPoint((l + r) / 2, t), QPoint(l, b), QPoint(r, b)};
            painter.drawPolygon(triangle, 3);
            painter.setFont(m_glyphFontSmall);
            painter.setPen(Qt::black);
            painter.drawText(Box(l, t, r, b - 1),
                             Qt::AlignHCenter | Qt::AlignBottom | Qt::TextSingleLine,
                             QStringLiteral("!"));
            break;
        }
        case BALLOON_ICON_ERROR:
        case BALLOON_ICON_ERROR_LARGE:
            painter.setPen(QPen(QColor(165, 38, 19), 1));
            painter.setBrush(QColor(240, 58, 23));
            painter.drawEllipse(Outline(box));
            painter.setPen(QPen(Qt::white, 2));
            painter.drawLine(l + 8, t + 8, r - 8, b - 8);
            painter.drawLine(l + 8, b - 8, r - 8, t + 8);
            break;
        default:
            break;
    }
}

void CBalloonWnd::DrawCloseMark(QPainter& painter) {
    const QPalette& colors = palette();
    QColor border, fill, cross;
    if (m_closeHot) {
        border = colors.color(QPalette::Active, QPalette::Dark);
        fill = colors.color(QPalette::Active, QPalette::Highlight);
        cross = Qt::white;
    } else {
        border = colors.color(QPalette::Inactive, QPalette::Mid);
        fill = colors.color(QPalette::Active, QPalette::Button);
        cross = Qt::black;
    }
    const QRect& box = m_closeBox;
    const int l = box.x(), t = box.y(), r = Right(box), b = Bottom(box);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(border, 1));
    painter.setBrush(fill);
    painter.drawEllipse(Outline(box));
    painter.setPen(QPen(cross, 3));
    painter.drawLine(l + 6, t + 6, r - 6, b - 6);
    painter.drawLine(l + 6, b - 6, r - 6, t + 6);
}

void CBalloonWnd::paintEvent(QPaintEvent*) {
    if (m_image.isNull()) return;
    QImage frame = m_image;
    {
        QPainter marks(&frame);
        DrawCloseMark(marks);
    }
    QPainter painter(this);
    painter.drawImage(0, 0, frame);
}

void CBalloonWnd::OnCountdownTick() {
    bool alive = false;
    bool expired = false;
    for (auto& entry : m_entries) {
        if (entry->remaining > static_cast<unsigned>(kCountdownIntervalMs)) {
            entry->remaining -= kCountdownIntervalMs;
            alive = true;
        } else if (entry->remaining != 0) {
            entry->remaining = 0;
            expired = true;
        }
    }
    if (!alive) {
        m_countdownTimer.stop();
        m_opacity = 255;
        m_fadeTimer.start();
    } else if (expired) {
        LayoutAndRender();
    }
}

void CBalloonWnd::OnFadeTick() {
    m_opacity -= kFadeStep;
    if (m_opacity > 0) {
        ApplyOpacity();
        return;
    }
    HideAndForget();
}

void CBalloonWnd::ApplyOpacity() { setWindowOpacity(m_opacity / 255.0); }

void CBalloonWnd::StopTimers() {
    m_countdownTimer.stop();
    m_fadeTimer.stop();
}

void CBalloonWnd::BeginHover() {
    if (m_hovering || m_opacity <= 0) return;
    StopTimers();
    m_opacity = 255;
    ApplyOpacity();
    m_hovering = true;
}

void CBalloonWnd::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    BeginHover();
}

void CBalloonWnd::mouseMoveEvent(QMouseEvent* event) {
    BeginHover();
    const bool inClose = m_closeBox.contains(event->position().toPoint());
    if (inClose != m_closeHot) {
        m_closeHot = inClose;
        update();
    }
}

void CBalloonWnd::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    if (!m_hovering) return;
    m_hovering = false;
    for (auto& entry : m_entries) entry->remaining = std::max(entry->remaining, kLeaveGraceMs);
    m_countdownTimer.start();
}

void CBalloonWnd::mousePressEvent(QMouseEvent* event) {
    // Brought to the front, but the keyboard focus stays where it is.
    raise();
    event->accept();
}

void CBalloonWnd::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && m_closeBox.contains(event->position().toPoint()))
        HideAndForget();
}

bool CBalloonWnd::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_owner && event->type() == QEvent::Hide) HideAndForget();
    return QWidget::eventFilter(watched, event);
}

// The balloon tip: a borderless, semi-transparent popup shaped like a speech
// balloon whose tail points up at an anchor. It shows a stack of short
// messages (icon, title, text), counts each down and fades away when none is
// left. It never takes the keyboard focus.
#pragma once

#include <QFont>
#include <QImage>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

// Icon codes, the values of the tooltip icon constants.
enum BalloonIcon {
    BALLOON_ICON_NONE = 0,
    BALLOON_ICON_INFO = 1,
    BALLOON_ICON_WARNING = 2,
    BALLOON_ICON_ERROR = 3,
    BALLOON_ICON_INFO_LARGE = 4,
    BALLOON_ICON_WARNING_LARGE = 5,
    BALLOON_ICON_ERROR_LARGE = 6,
};

class CBalloonWnd : public QWidget {
    Q_OBJECT
public:
    static constexpr unsigned kShowTimeMs = 5000;
    static constexpr int kCountdownIntervalMs = 500;
    static constexpr int kFadeIntervalMs = 100;
    static constexpr int kFadeStep = 17;
    static constexpr unsigned kLeaveGraceMs = 2000;

    // `owner` is the top-level window the balloon belongs to: the balloon
    // stays above it and hides (forgetting its entries) when it hides.
    explicit CBalloonWnd(QWidget* owner);
    ~CBalloonWnd() override;

    // Adds or refreshes an entry and shows the balloon with its top-left
    // corner at `anchor` (screen coordinates); the tail's tip lies 20 pixels
    // to the right of it.
    void ShowBalloon(const QPoint& anchor, const QString& title, const QString& text, int icon);

    // Stops both timers, hides the window and discards every entry.
    void HideAndForget();

    // Views for the owner and for tests.
    int EntryCount() const { return static_cast<int>(m_entries.size()); }
    int LiveEntryCount() const;
    QString EntryTitle(int index) const;
    QString EntryText(int index) const;
    int EntryIcon(int index) const;
    unsigned EntryRemaining(int index) const;
    QRect EntryTitleBox(int index) const;
    QRect EntryTextBox(int index) const;
    int Opacity() const { return m_opacity; }
    QRect CloseBox() const { return m_closeBox; }
    bool IsHovering() const { return m_hovering; }
    bool IsCloseHot() const { return m_closeHot; }
    bool IsCountingDown() const { return m_countdownTimer.isActive(); }
    bool IsFading() const { return m_fadeTimer.isActive(); }
    const QImage& Image() const { return m_image; }
    QWidget* Owner() const { return m_owner; }

    // The key colour rule of the window shape: pure red with green and blue
    // at most 16 is outside the balloon.
    static bool IsKeyColor(QRgb pixel);
    // The shape of a rendered image: one rectangle per maximal run of
    // non-key pixels of each row, handed over in blocks of 2000.
    static QRegion RegionFromImage(const QImage& image);

public slots:
    void OnCountdownTick();
    void OnFadeTick();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Entry {
        QString title;
        QString text;
        int icon = BALLOON_ICON_NONE;
        QSize titleSize, textSize;
        QRect iconBox, titleBox, textBox;  // left/top inclusive, right/bottom exclusive
        unsigned remaining = 0;            // ms; 0: expired, kept but not drawn
    };

    static QFont BalloonFont(int points);
    void LayoutAndRender();
    void DrawShape(QPainter& painter, int width, int height);
    void DrawIcon(QPainter& painter, const Entry& entry);
    void DrawCloseMark(QPainter& painter);
    void BeginHover();
    void ApplyOpacity();
    void StopTimers();
    const Entry* EntryAt(int index) const;

    QPointer<QWidget> m_owner;
    QFont m_glyphFontSmall, m_glyphFontLarge, m_titleFont, m_textFont;
    QImage m_image;
    unsigned m_showTime = kShowTimeMs;
    int m_opacity = 255;
    std::vector<std::unique_ptr<Entry>> m_entries;  // front: drawn on top
    QRect m_closeBox;
    bool m_hovering = false;
    bool m_closeHot = false;
    QTimer m_countdownTimer;
    QTimer m_fadeTimer;
};

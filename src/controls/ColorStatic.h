// A static text painted in its own font and colours on a solid background.
// The text may hold several lines separated by line feeds; the lines are
// spread evenly over the control's height (the realtime page's target range
// text is one such, with blank lines below the range).
#pragma once

#include <QImage>
#include <QLabel>

#include <cstdint>
#include <vector>

class CColorStatic : public QLabel {
    Q_OBJECT
public:
    static constexpr uint32_t kTextColor = 0xFFFFFF;          // white, red in the low byte
    static constexpr uint32_t kBackgroundColor = 0xFF3C322A;  // only the low 24 bits count

    explicit CColorStatic(QWidget* parent = nullptr);

    // The font (the dialog face) at `points`, white text on the dark
    // background, lines left-aligned.
    void SetTextStyle(int points);

    // Where each piece of the text goes: its box inside the control, in
    // order, empty pieces included (they take their height but draw nothing).
    struct Line {
        QString text;
        QRect box;
    };
    std::vector<Line> LayOut() const;
    // The picture as the screen gets it (tests, screenshots).
    QImage RenderImage() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_textColor;
    QColor m_backgroundColor;
};

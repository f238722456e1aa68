// The report list that paints every cell itself: row colours that alternate,
// selection colours only while the list has the keyboard focus, each
// column's alignment, text centred vertically and cut with an ellipsis, and
// a tooltip per cell. Its header (CXHeaderCtrl) paints its titles in blue
// through an off-screen image, with etched separators and a raised frame.
// The list shows values; it takes no input beyond selecting a row.
#pragma once

#include <QColor>
#include <QHeaderView>
#include <QString>
#include <QTreeWidget>

class CXHeaderCtrl : public QHeaderView {
    Q_OBJECT
public:
    static constexpr int kItemSpacing = 6;  // pixels kept free on each side of a title
    static constexpr QRgb kTitleColor = 0xFF0000FF;

    explicit CXHeaderCtrl(QWidget* parent = nullptr);

    // The titles' total width (the frame spans it plus one pixel).
    int ItemsWidth() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void ReadSystemColors();
    void PaintItems(QPainter& painter, const QRect& box);
    void PaintItem(QPainter& painter, int logical, int height);
    void PaintSeparator(QPainter& painter, int rightEdge, int height);
    void PaintFrame(QPainter& painter, int height);

    QColor m_highlight, m_shadow, m_face, m_text;
};

class CXListCtrl : public QTreeWidget {
    Q_OBJECT
public:
    // A cell's two colours.
    struct CellColors {
        QColor background;
        QColor text;
    };
    static constexpr int kTooltipLength = 79;  // characters at most

    explicit CXListCtrl(QWidget* parent = nullptr);

    CXHeaderCtrl* Header() const { return m_header; }

    // Inserts a column whose heading and cells are centred.
    void AddCentredColumn(int column, const QString& heading, int width);
    // Sets the cell's text and repaints it; 0 (and nothing done) when the
    // row or the column does not exist.
    int SetCellText(int row, int column, const QString& text);
    QString CellText(int row, int column) const;
    // Repaints the cell when it exists.
    void RedrawCell(int row, int column);
    // Rows are at least this high (the dialog derives it from the list's height).
    void SetMinimumRowHeight(int pixels);
    int MinimumRowHeight() const { return m_minimumRowHeight; }
    void SetGridLines(bool shown) { m_gridLines = shown; }
    bool GridLines() const { return m_gridLines; }

    // The colours a cell of `row` is painted in.
    CellColors ColorsFor(int row, bool selected) const;
    // The cell's text as its tooltip says it; empty: no tooltip.
    QString TooltipText(int row, int column) const;
    Qt::Alignment ColumnAlignment(int column) const;

    // Fixed row colours.
    static constexpr QRgb kEvenBackground = 0xFFFFF7F7;
    static constexpr QRgb kEvenText = 0xFF11BEE1;
    static constexpr QRgb kOddBackground = 0xFFEFEFE7;
    static constexpr QRgb kOddText = 0xFFBA10C5;

protected:
    bool viewportEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    bool InRange(int row, int column) const;
    bool HitsNoRow(const QPoint& position) const;
    void ReadSystemColors();

    CXHeaderCtrl* m_header;
    QColor m_highlight, m_highlightText;
    int m_minimumRowHeight = 0;
    bool m_gridLines = false;
};

#include "controls/XListCtrl.h"

#include <QEvent>
#include <QFocusEvent>
#include <QHelpEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <algorithm>

namespace {

// Paints a cell of a CXListCtrl in full; the style draws nothing of it.
class CellDelegate : public QStyledItemDelegate {
public:
    explicit CellDelegate(CXListCtrl* list) : QStyledItemDelegate(list), m_list(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        // Rows are painted in the viewport, which begins below the header,
        // so no row can lie partly under it and need skipping.
        const bool selected = option.state.testFlag(QStyle::State_Selected);
        const CXListCtrl::CellColors colors = m_list->ColorsFor(index.row(), selected);
        if (m_list->GridLines()) PaintGrid(painter, option.rect);
        QRect box = option.rect.adjusted(1, 1, -1, -1);
        painter->fillRect(box, colors.background);
        if (box.width() > 4) box.adjust(2, 0, -2, 0);
        const QString text = index.data(Qt::DisplayRole).toString();
        if (text.isEmpty()) return;
        painter->save();
        painter->setFont(option.font);
        painter->setPen(colors.text);
        const QString shown = option.fontMetrics.elidedText(text, Qt::ElideRight, box.width());
        const Qt::Alignment horizontal = m_list->ColumnAlignment(index.column());
        painter->drawText(box, static_cast<int>(horizontal | Qt::AlignVCenter | Qt::TextSingleLine),
                          shown);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(std::max(size.height(), m_list->MinimumRowHeight()));
        return size;
    }

private:
    void PaintGrid(QPainter* painter, const QRect& cell) const {
        painter->save();
        painter->setPen(m_list->palette().color(QPalette::Midlight));
        painter->drawLine(cell.topRight(), cell.bottomRight());
        painter->drawLine(cell.bottomLeft(), cell.bottomRight());
        painter->restore();
    }

    CXListCtrl* m_list;
};

Qt::Alignment HorizontalPart(const QVariant& alignment) {
    const Qt::Alignment value(alignment.toInt());
    if (value & Qt::AlignHCenter) return Qt::AlignHCenter;
    if (value & Qt::AlignRight) return Qt::AlignRight;
    return Qt::AlignLeft;
}

}  // namespace

// --- Header ----------------------------------------------------------------------

CXHeaderCtrl::CXHeaderCtrl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    ReadSystemColors();
}

void CXHeaderCtrl::ReadSystemColors() {
    const QPalette& colors = palette();
    m_highlight = colors.color(QPalette::Light);
    m_shadow = colors.color(QPalette::Dark);
    m_face = colors.color(QPalette::Button);
    m_text = colors.color(QPalette::ButtonText);
}

void CXHeaderCtrl::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) ReadSystemColors();
    QHeaderView::changeEvent(event);
}

int CXHeaderCtrl::ItemsWidth() const {
    int total = 0;
    for (int i = 0; i < count(); ++i)
        if (!isSectionHidden(i)) total += sectionSize(i);
    return total;
}

// Painted into an image of the damaged box and copied in one piece, so the
// header never shows half a repaint. Nothing is erased beforehand.
void CXHeaderCtrl::paintEvent(QPaintEvent* event) {
    const QRect box = event->rect();
    if (box.isEmpty()) return;
    QImage image(box.size(), QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&image);
        painter.translate(-box.topLeft());
        PaintItems(painter, box);
    }
    QPainter(viewport()).drawImage(box.topLeft(), image);
}

void CXHeaderCtrl::PaintItems(QPainter& painter, const QRect& box) {
    painter.fillRect(box, m_face);
    painter.setFont(font());
    const int height = viewport()->height();
    for (int visual = 0; visual < count(); ++visual) {
        const int logical = logicalIndex(visual);
        if (isSectionHidden(logical)) continue;
        PaintItem(painter, logical, height);
        if (visual < count() - 1)
            PaintSeparator(painter, sectionViewportPosition(logical) + sectionSize(logical) - 1,
                           height);
    }
    if (ItemsWidth() > 0) PaintFrame(painter, height);
}

void CXHeaderCtrl::PaintItem(QPainter& painter, int logical, int height) {
    const QString text =
        model() ? model()->headerData(logical, orientation()).toString() : QString();
    if (text.isEmpty()) return;
    QRect item(sectionViewportPosition(logical), 0, sectionSize(logical), height);
    item.adjust(kItemSpacing, 0, -kItemSpacing, 0);
    const Qt::Alignment horizontal =
        HorizontalPart(model()->headerData(logical, orientation(), Qt::TextAlignmentRole));
    painter.setPen(QColor::fromRgba(kTitleColor));
    const QString shown = painter.fontMetrics().elidedText(text, Qt::ElideRight, item.width());
    painter.drawText(item, static_cast<int>(horizontal | Qt::AlignVCenter | Qt::TextSingleLine),
                     shown);
}

// An etched line: shadow on the item's right edge, highlight beside it.
void CXHeaderCtrl::PaintSeparator(QPainter& painter, int rightEdge, int height) {
    const int top = 2;
    const int bottom = height - 1 - 2;
    painter.setPen(m_shadow);
    painter.drawLine(rightEdge, top, rightEdge, bottom);
    painter.setPen(m_highlight);
    painter.drawLine(rightEdge + 1, top, rightEdge + 1, bottom);
}

// Raised: light top and left, dark bottom and right, around the titles.
void CXHeaderCtrl::PaintFrame(QPainter& painter, int height) {
    const int left = sectionViewportPosition(logicalIndex(0));
    const int right = left + ItemsWidth();  // one pixel beyond the last title
    const int bottom = height - 1;
    painter.setPen(m_highlight);
    painter.drawLine(left, 0, right, 0);
    painter.drawLine(left, 0, left, bottom);
    painter.setPen(m_shadow);
    painter.drawLine(left, bottom, right, bottom);
    painter.drawLine(right, 0, right, bottom);
}

// --- List ------------------------------------------------------------------------

CXListCtrl::CXListCtrl(QWidget* parent) : QTreeWidget(parent), m_header(new CXHeaderCtrl(this)) {
    setHeader(m_header);
    setItemDelegate(new CellDelegate(this));
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    ReadSystemColors();
}

void CXListCtrl::ReadSystemColors() {
    m_highlight = palette().color(QPalette::Active, QPalette::Highlight);
    m_highlightText = palette().color(QPalette::Active, QPalette::HighlightedText);
}

void CXListCtrl::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) ReadSystemColors();
    QTreeWidget::changeEvent(event);
}

void CXListCtrl::AddCentredColumn(int column, const QString& heading, int width) {
    if (column < 0) return;
    if (columnCount() <= column) setColumnCount(column + 1);
    QTreeWidgetItem* titles = headerItem();
    titles->setText(column, heading);
    titles->setTextAlignment(column, Qt::AlignCenter);
    setColumnWidth(column, width);
}

bool CXListCtrl::InRange(int row, int column) const {
    return row >= 0 && row < topLevelItemCount() && column >= 0 && column < columnCount();
}

int CXListCtrl::SetCellText(int row, int column, const QString& text) {
    if (!InRange(row, column)) return 0;
    topLevelItem(row)->setText(column, text);
    RedrawCell(row, column);
    return 1;
}

QString CXListCtrl::CellText(int row, int column) const {
    return InRange(row, column) ? topLevelItem(row)->text(column) : QString();
}

void CXListCtrl::RedrawCell(int row, int column) {
    if (!InRange(row, column)) return;
    viewport()->update(visualRect(model()->index(row, column)));
}

void CXListCtrl::SetMinimumRowHeight(int pixels) {
    m_minimumRowHeight = pixels;
    // Uniform rows keep the first row's height: make them measure again.
    doItemsLayout();
}

Qt::Alignment CXListCtrl::ColumnAlignment(int column) const {
    return HorizontalPart(headerItem()->data(column, Qt::TextAlignmentRole));
}

// The selection shows only while the list has the focus; otherwise a
// selected row keeps its row colours.
CXListCtrl::CellColors CXListCtrl::ColorsFor(int row, bool selected) const {
    if (selected && hasFocus()) return {m_highlight, m_highlightText};
    if (row % 2 == 0) return {QColor::fromRgba(kEvenBackground), QColor::fromRgba(kEvenText)};
    return {QColor::fromRgba(kOddBackground), QColor::fromRgba(kOddText)};
}

QString CXListCtrl::TooltipText(int row, int column) const {
    return CellText(row, column).left(kTooltipLength);
}

bool CXListCtrl::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QTreeWidget::viewportEvent(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex cell = indexAt(help->pos());
    const QString text = cell.isValid() ? TooltipText(cell.row(), cell.column()) : QString();
    if (text.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
    } else {
        QToolTip::showText(help->globalPos(), text, viewport(), visualRect(cell));
    }
    return true;
}

bool CXListCtrl::HitsNoRow(const QPoint& position) const { return !indexAt(position).isValid(); }

// A press or double-click below the last row leaves the selection alone.
void CXListCtrl::mousePressEvent(QMouseEvent* event) {
    if (HitsNoRow(event->position().toPoint())) {
        event->accept();
        return;
    }
    QTreeWidget::mousePressEvent(event);
}

void CXListCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    if (HitsNoRow(event->position().toPoint())) {
        event->accept();
        return;
    }
    QTreeWidget::mouseDoubleClickEvent(event);
}

// The selection's colours come and go with the focus.
void CXListCtrl::focusInEvent(QFocusEvent* event) {
    QTreeWidget::focusInEvent(event);
    viewport()->update();
}

void CXListCtrl::focusOutEvent(QFocusEvent* event) {
    QTreeWidget::focusOutEvent(event);
    viewport()->update();
}

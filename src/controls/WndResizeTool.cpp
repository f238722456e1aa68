#include "controls/WndResizeTool.h"

#include <QAbstractScrollArea>
#include <QLayout>

#include <algorithm>
#include <cmath>

namespace {

// Truncation toward zero, as the layout rule asks for.
int Truncated(double value) { return static_cast<int>(std::trunc(value)); }

bool PlacedByLayout(const QWidget* child) {
    const QWidget* parent = child->parentWidget();
    return parent && parent->layout() && parent->layout()->indexOf(child) >= 0;
}

}  // namespace

CWndResizeTool::CWndResizeTool() = default;

CWndResizeTool::~CWndResizeTool() { ClearChildren(); }

void CWndResizeTool::ClearChildren() { entries_.clear(); }

void CWndResizeTool::RegisterChildren(QWidget* window) {
    if (window) RecordDescendants(window);
}

void CWndResizeTool::RecordDescendants(QWidget* window) {
    for (QObject* object : window->children()) {
        auto* child = qobject_cast<QWidget*>(object);
        if (!child || child->isWindow() || PlacedByLayout(child)) continue;
        entries_.push_back(ResizeEntry{child, child->geometry(), child->font()});
        // A scroll area lays out its viewport and bars itself.
        if (!qobject_cast<QAbstractScrollArea*>(child)) RecordDescendants(child);
    }
}

void CWndResizeTool::SetReferenceSize(int width, int height) {
    referenceWidth_ = width;
    referenceHeight_ = height;
}

void CWndResizeTool::SetOwner(QWidget* owner) { owner_ = owner; }

void CWndResizeTool::Enable() { enabled_ = true; }

bool CWndResizeTool::IsEnabled() const { return enabled_; }

bool CWndResizeTool::ResizeChildren(int cx, int cy, double* sx, double* sy) {
    if (sx) *sx = 1.0;
    if (sy) *sy = 1.0;
    // Without a reference size (recorded before the window had one) there is
    // no factor to move by; dividing by it would place everything at
    // infinity.
    if (!enabled_ || referenceWidth_ <= 0 || referenceHeight_ <= 0 || cx < 0 || cy < 0)
        return false;

    const double factorX = static_cast<double>(cx) / referenceWidth_;
    const double factorY = static_cast<double>(cy) / referenceHeight_;
    const double fontFactor = std::min(factorX, factorY);

    const bool holdPainting = owner_ && owner_->updatesEnabled();
    if (holdPainting) owner_->setUpdatesEnabled(false);
    for (const ResizeEntry& entry : entries_) {
        if (!entry.window) continue;  // destroyed since it was recorded
        MoveEntry(entry, factorX, factorY);
        ScaleFont(entry, fontFactor);
    }
    if (holdPainting) {
        owner_->setUpdatesEnabled(true);
        owner_->update();
    }

    if (sx) *sx = factorX;
    if (sy) *sy = factorY;
    return true;
}

void CWndResizeTool::MoveEntry(const ResizeEntry& entry, double sx, double sy) {
    const QRect& r = entry.rect;
    // Right and bottom edges as exclusive coordinates, so that a rectangle
    // keeps its exact size at the factor 1.
    const int left = Truncated(r.x() * sx);
    const int top = Truncated(r.y() * sy);
    const int right = Truncated((r.x() + r.width()) * sx);
    const int bottom = Truncated((r.y() + r.height()) * sy);
    const QRect moved(left, top, right - left, bottom - top);
    if (entry.window->geometry() != moved) entry.window->setGeometry(moved);
}

void CWndResizeTool::ScaleFont(const ResizeEntry& entry, double factor) {
    QFont font = entry.font;
    if (font.pixelSize() > 0)
        font.setPixelSize(std::max(1, Truncated(font.pixelSize() * factor)));
    else if (font.pointSizeF() > 0)
        font.setPointSizeF(std::max(1.0, font.pointSizeF() * factor));
    else
        return;  // a font without a size keeps whatever it has
    if (entry.window->font() != font) entry.window->setFont(font);
}

int CWndResizeTool::RecordedCount() const { return static_cast<int>(entries_.size()); }

QRect CWndResizeTool::RecordedRect(int index) const {
    if (index < 0 || index >= RecordedCount()) return QRect();
    return entries_[static_cast<size_t>(index)].rect;
}

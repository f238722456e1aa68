// Keeps a window's whole widget tree proportional to the window: records
// every descendant's rectangle and font once, and on each new size moves
// every recorded widget and scales its font from the recorded values.
#pragma once

#include <QFont>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <vector>

class CWndResizeTool {
public:
    CWndResizeTool();
    virtual ~CWndResizeTool();  // ClearChildren

    // Forgets every recorded widget; the fonts it gave them stay.
    void ClearChildren();
    // Records every descendant of `window` (depth first, in child order):
    // its rectangle in its parent's coordinates and its font. Top-level
    // widgets (popups, balloons), widgets a layout places and the inner
    // parts of scroll areas are left to whoever places them.
    void RegisterChildren(QWidget* window);
    // The owner's client size the recorded rectangles belong to.
    void SetReferenceSize(int width, int height);
    // The window whose painting is held while the children move.
    void SetOwner(QWidget* owner);
    void Enable();
    bool IsEnabled() const;
    // Moves and re-fonts every recorded widget for the owner size (cx, cy).
    // The factors are cx / reference width and cy / reference height (both
    // 1.0 when nothing was moved). True when widgets were moved; false
    // while not enabled or without a usable reference size.
    bool ResizeChildren(int cx, int cy, double* sx, double* sy);

    int RecordedCount() const;
    QRect RecordedRect(int index) const;  // for tests

private:
    struct ResizeEntry {
        QPointer<QWidget> window;
        QRect rect;  // in the parent's coordinates at recording time
        QFont font;  // the widget's font at recording time
    };

    void RecordDescendants(QWidget* window);
    static void MoveEntry(const ResizeEntry& entry, double sx, double sy);
    static void ScaleFont(const ResizeEntry& entry, double factor);

    bool enabled_ = false;
    QPointer<QWidget> owner_;
    std::vector<ResizeEntry> entries_;
    int referenceWidth_ = 0;
    int referenceHeight_ = 0;
};

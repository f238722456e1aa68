#include "charts/WaveWnd.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QHideEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QPainter>
#include <QPalette>
#include <QPolygon>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "charts/CurveRaster.h"
#include "ui/Prompt.h"
#include "ui/Strings.h"

namespace {

constexpr double kMinimumZoom = 0.125;
constexpr double kZoomStep = 1.25;
constexpr int kFirstDragStep = 10;  // pixels before a press starts to drag: a click never scrolls
constexpr int kNextDragStep = 1;
constexpr int kBandAlpha = 96;  // the min-max band lies faintly under its curve
// Texts keep this many pixels clear of the edges they are placed against:
// a glyph's ink, and the smoothing around it, can reach past the advance its
// alignment is measured by, and would be cut there.
constexpr int kTextEdgeGap = 2;

QColor ColorOf(uint32_t colorref) {
    return QColor(colorref & 0xFF, (colorref >> 8) & 0xFF, (colorref >> 16) & 0xFF);
}

// Pixels are opaque: the window image goes to the screen as a plain copy,
// which must not let anything behind it show through.
uint32_t PixelOf(uint32_t colorref) { return 0xFF000000u | ColorOf(colorref).rgb(); }

int PositiveModulo(int64_t value, int64_t period) {
    return static_cast<int>(((value % period) + period) % period);
}

// The chart face, then the CJK sans faces standing in for it where it is
// not installed.
QFont ChartFont(const std::wstring& face, double points) {
    QFont font;
    font.setFamilies({QString::fromStdWString(face), QStringLiteral("SimHei"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
    font.setPointSizeF(points > 0 ? points : 1.0);
    return font;
}

Qt::Alignment HorizontalFlag(int justify) {
    return justify == kJustifyFar      ? Qt::AlignRight
           : justify == kJustifyCenter ? Qt::AlignHCenter
                                       : Qt::AlignLeft;
}

Qt::Alignment VerticalFlag(int justify) {
    return justify == kJustifyFar      ? Qt::AlignBottom
           : justify == kJustifyCenter ? Qt::AlignVCenter
                                       : Qt::AlignTop;
}

QRect QRectOf(const KRect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

KRect KRectOf(const QRect& r) { return KRect{r.left(), r.top(), r.right() + 1, r.bottom() + 1}; }

// How far `ink` must move to lie inside `area`, kTextEdgeGap clear of its
// edges, along one direction; the near edge wins when it cannot fit.
int ShiftInside(int inkFrom, int inkTo, int areaFrom, int areaTo) {
    int shift = 0;
    if (inkTo > areaTo - kTextEdgeGap) shift = areaTo - kTextEdgeGap - inkTo;
    if (inkFrom + shift < areaFrom + kTextEdgeGap) shift = areaFrom + kTextEdgeGap - inkFrom;
    return shift;
}

// The box a label is drawn in: its own box, moved so that every pixel the
// text as justified there may cover stays inside the band.
QRect LabelBoxInside(const QFontMetrics& metrics, const QRect& box, const QRect& band, int flags,
                     const QString& text) {
    const QRect laidOut = metrics.boundingRect(box, flags, text);
    const QRect ink =
        metrics.boundingRect(text).translated(laidOut.left(), laidOut.top() + metrics.ascent());
    // Exclusive right and bottom edges.
    const int dx = ShiftInside(ink.left(), ink.right() + 1, band.left(), band.right() + 1);
    const int dy = ShiftInside(ink.top(), ink.bottom() + 1, band.top(), band.bottom() + 1);
    return box.translated(dx, dy);
}

uint32_t* PixelsOf(QImage& image) { return reinterpret_cast<uint32_t*>(image.bits()); }

}  // namespace

CWaveWnd::CWaveWnd(QWidget* parent) : QWidget(parent) {
    // Every pixel is painted from the window image: nothing to erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    m_dwMarginPixel = palette().color(QPalette::Button).rgb() & 0x00FFFFFF;
    for (int i = 0; i < kMaxWaves; ++i) {
        WaveLine& line = m_waves[static_cast<size_t>(i)];
        line.crColor = gCommonColorTable[i % 5][(i / 5) % 10];
        line.strTooltipFormat = QString::asprintf("Wave:%d, Sample:%%d, Value:%%.1f", i);
    }
    InitializeAxes();
    m_paceTimer.setSingleShot(true);
    m_paceTimer.setTimerType(Qt::PreciseTimer);  // a coarse timer may fire early
    connect(&m_paceTimer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

CWaveWnd::~CWaveWnd() = default;

void CWaveWnd::InitializeAxes() {
    const auto set = [this](WaveAxisIndex index, int size, int orientation, int alignment,
                            int count, double minimum, double maximum) {
        WaveAxis& axis = m_axes[index];
        axis.nSize = size;
        axis.coordinate.m_nOrientation = orientation;
        axis.coordinate.m_nAlignment = alignment;
        axis.coordinate.m_nLabelCount = count;
        axis.coordinate.m_dMin = minimum;
        axis.coordinate.m_dMax = maximum;
    };
    set(kAxisLeft, 40, 1, 2, 5, -32767.0, 32767.0);
    set(kAxisRight, 40, 1, 0, 5, -32767.0, 32767.0);
    set(kAxisTop, 20, 0, 2, 22, 0.0, 63.0);
    set(kAxisBottom, 20, 0, 0, 22, 0.0, 63.0);
    for (WaveAxisIndex index : {kAxisTop, kAxisBottom}) {
        CCoordinate& c = m_axes[index].coordinate;
        c.m_dWrapLow = 0.0;
        c.m_dWrapHigh = 63.0;
        c.m_dWrapPeriod = 63.0;
    }
}

// --- Configuration -----------------------------------------------------------

void CWaveWnd::Initialize() {
    Rebuild(width(), height());
    if (!m_tooltip) {
        // A tooltip of our own rather than QToolTip: its text follows live
        // data under a resting pointer, and it must not hide by itself. The
        // pointer passes through it: the chart under it keeps the moves.
        m_tooltip = new QLabel(this, Qt::ToolTip | Qt::WindowTransparentForInput);
        m_tooltip->setAttribute(Qt::WA_ShowWithoutActivating);
        m_tooltip->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_tooltip->setForegroundRole(QPalette::ToolTipText);
        m_tooltip->setBackgroundRole(QPalette::ToolTipBase);
        m_tooltip->setAutoFillBackground(true);
        m_tooltip->setFrameStyle(QFrame::Box | QFrame::Plain);
        m_tooltip->setMargin(2);
    }
    Invalidate();
}

void CWaveWnd::CreateWaveStorage() {
    for (WaveLine& line : m_waves) line.buffer.CreateStorage();
}

void CWaveWnd::SetSampleCount(int n) {
    m_nSampleCount = n <= 0 ? 1 : n;
    m_dZoom = 1.0;
    m_nScrollOffset = 0;
    for (WaveLine& line : m_waves) {
        line.buffer.SetFrameLength(m_nSampleCount);
        line.buffer.SetFrameCount(2);
    }
    if (m_bAutoSampleRange) {
        m_dSampleMin = 0.0;
        m_dSampleMax = n <= 0 ? 0.0 : n - 1.0;
        for (WaveAxisIndex index : {kAxisTop, kAxisBottom}) {
            CCoordinate& c = m_axes[index].coordinate;
            c.m_dMin = 0.0;
            c.m_dMax = m_dSampleMax;
            c.m_dWrapLow = 0.0;
            c.m_dWrapHigh = m_dSampleMax;
            c.m_dWrapPeriod = m_nSampleCount;
        }
        MarkAxes(kAxisTop, kAxisBottom);
    }
    Invalidate();
}

void CWaveWnd::SetSampleRange(double minimum, double maximum, double period) {
    m_dSampleMin = minimum;
    m_dSampleMax = maximum;
    m_bAutoSampleRange = false;
    m_dZoom = 1.0;
    m_nScrollOffset = 0;
    SetFrameCountOfAll(2);
    for (WaveAxisIndex index : {kAxisTop, kAxisBottom}) {
        CCoordinate& c = m_axes[index].coordinate;
        c.m_dMin = minimum;
        c.m_dMax = maximum;
        c.m_dWrapLow = minimum;
        c.m_dWrapHigh = maximum;
        c.m_dWrapPeriod = period;
    }
    MarkAxes(kAxisTop, kAxisBottom);
    Invalidate();
}

void CWaveWnd::SetValueRange(double minimum, double maximum) {
    m_dRangeMin = m_dViewMin = minimum;
    m_dRangeMax = m_dViewMax = maximum;
    if (!m_bRangeToAxes) return;  // the curves follow at the next paint
    m_dHomeMin = minimum;
    m_dHomeMax = maximum;
    SetValueAxes(minimum, maximum);
    Invalidate();
}

void CWaveWnd::SetWholeFrames(bool wholeFramesOnly) {
    for (WaveLine& line : m_waves) line.buffer.SetWholeFrames(wholeFramesOnly);
}

void CWaveWnd::SetSampleAxisFontSize(int points) {
    m_axes[kAxisTop].coordinate.SetStyle(points, 0xFFFFFF, 0);
    m_axes[kAxisBottom].coordinate.SetStyle(points, 0xFFFFFF, 0);
    MarkAxes(kAxisTop, kAxisBottom);
    Invalidate();
}

void CWaveWnd::SetValueAxisFontSize(int points) {
    m_axes[kAxisLeft].coordinate.SetStyle(points, 0xFFFFFF, 0);
    m_axes[kAxisRight].coordinate.SetStyle(points, 0xFFFFFF, 0);
    MarkAxes(kAxisLeft, kAxisRight);
    Invalidate();
}

void CWaveWnd::ClearWaves() {
    for (WaveLine& line : m_waves) line.buffer.Clear();
    Invalidate();
}

// --- Curve slots ---------------------------------------------------------------

WaveLine* CWaveWnd::Slot(int slot) {
    return slot >= 0 && slot < kMaxWaves ? &m_waves[static_cast<size_t>(slot)] : nullptr;
}

void CWaveWnd::SetWaveCount(int count) {
    m_nWaveCount = std::clamp(count, 0, kMaxWaves);
    Invalidate();
}

void CWaveWnd::SetWaveColor(int slot, uint32_t colorref) {
    if (WaveLine* line = Slot(slot)) line->crColor = colorref;
    Invalidate();
}

void CWaveWnd::SetWaveEnabled(int slot, bool enabled) {
    if (WaveLine* line = Slot(slot)) line->bEnabled = enabled;
    Invalidate();
}

void CWaveWnd::Append(int slot, const double* samples, int n) {
    if (WaveLine* line = Slot(slot)) line->buffer.Append(samples, n);
}

void CWaveWnd::AppendRevisedFrame(int slot, const double* frame, int n, int changedPosition) {
    if (WaveLine* line = Slot(slot)) line->buffer.AppendRevisedFrame(frame, n, changedPosition);
}

void CWaveWnd::SetLevelLine(int slot, double value) {
    if (WaveLine* line = Slot(slot)) line->buffer.SetLevelFrame(value);
}

void CWaveWnd::ResetTotalFrames() {
    for (WaveLine& line : m_waves) line.buffer.m_nTotalFrames = 0;
}

// --- Drawing settings ----------------------------------------------------------

void CWaveWnd::SetLineWidth(int pixels) {
    m_nLineWidth = pixels;
    Invalidate();
}

void CWaveWnd::SetBackgroundColor(uint32_t colorref) {
    m_crBackground = colorref;
    MarkBackgroundDirty();
}

void CWaveWnd::SetMarginColor(uint32_t rgb) { m_dwMarginPixel = rgb; }

void CWaveWnd::SetAutoScale(bool on) {
    m_bAutoScale = on;
    Invalidate();
}

void CWaveWnd::FixValueAxes(double minimum, double maximum) {
    m_bRangeToAxes = false;
    m_dHomeMin = minimum;
    m_dHomeMax = maximum;
    SetValueAxes(minimum, maximum);
    Invalidate();
}

// --- Axis bands ------------------------------------------------------------------

WaveAxis* CWaveWnd::AxisAt(WaveAxisIndex axis) {
    return axis >= kAxisLeft && axis <= kAxisBottom ? &m_axes[axis] : nullptr;
}

void CWaveWnd::SetAxisBand(WaveAxisIndex axis, bool visible, int size) {
    WaveAxis* band = AxisAt(axis);
    if (!band) return;
    band->bVisible = visible;
    band->nSize = size;
    band->bRedraw = true;
    Invalidate();
}

void CWaveWnd::SetAxisLabelCount(WaveAxisIndex axis, int count) {
    WaveAxis* band = AxisAt(axis);
    if (!band) return;
    band->coordinate.m_nLabelCount = count;
    band->bRedraw = true;
    Invalidate();
}

void CWaveWnd::SetAxisCustomLabels(WaveAxisIndex axis, const std::vector<CoordinateLabel>* labels) {
    WaveAxis* band = AxisAt(axis);
    if (!band) return;
    band->coordinate.SetCustomLabels(labels);
    band->bRedraw = true;
    Invalidate();
}

void CWaveWnd::SetAxisWrap(WaveAxisIndex axis, double low, double high, double period) {
    WaveAxis* band = AxisAt(axis);
    if (!band) return;
    band->coordinate.m_dWrapLow = low;
    band->coordinate.m_dWrapHigh = high;
    band->coordinate.m_dWrapPeriod = period;
    band->bRedraw = true;
    Invalidate();
}

// --- Listeners and mouse -----------------------------------------------------------

void CWaveWnd::SetDrawListener(IWaveWndDrawListener* listener, uint64_t context) {
    m_pDrawListener = listener;
    m_drawContext = context;
    MarkBackgroundDirty();
}

void CWaveWnd::SetTooltipListener(IWaveWndTooltipListener* listener, uint64_t context) {
    m_pTooltipListener = listener;
    m_tooltipContext = context;
}

void CWaveWnd::SetMouseSwitches(const WaveMouseSwitches& switches) { m_mouse = switches; }

void CWaveWnd::SetText(uint64_t key, const QString& text, double points, uint32_t argb,
                       int horizontalAlignment, int verticalAlignment, const KRect* rect) {
    {
        CAutoBaseLock lock(m_annotationLock);
        Annotation& entry = m_annotations[key];
        entry.text = text;
        entry.rect = rect ? *rect : KRect{};
        entry.font = ChartFont(CCoordinate::kFontFace, points);
        entry.horizontal = horizontalAlignment;
        entry.vertical = verticalAlignment;
        entry.argb = argb;
    }
    m_bBackgroundDirty = true;
    Invalidate();
}

void CWaveWnd::SetTextAboveCurves(uint64_t key, bool above) {
    {
        CAutoBaseLock lock(m_annotationLock);
        m_annotations[key].aboveCurves = above;
    }
    MarkBackgroundDirty();
}

// --- Repaint requests --------------------------------------------------------

void CWaveWnd::Invalidate() {
    ++m_invalidateCount;
    if (m_paceTimer.isActive()) return;  // a paced update is on its way
    const qint64 since =
        m_sinceLastPaint.isValid() ? m_sinceLastPaint.elapsed() : kRepaintIntervalMs;
    if (since >= kRepaintIntervalMs) {
        update();
    } else {
        m_paceTimer.start(static_cast<int>(kRepaintIntervalMs - since));
    }
}

void CWaveWnd::RequestRepaint() {
    if (m_repaintRequested.exchange(true)) return;
    QMetaObject::invokeMethod(this, &CWaveWnd::Invalidate, Qt::QueuedConnection);
}

// --- Images and layout -------------------------------------------------------

void CWaveWnd::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The tooltip belongs to a point of the old layout; the pointer shows
    // it again when it moves over the new one.
    HideTooltip();
    if (width() != m_nClientWidth || height() != m_nClientHeight) Rebuild(width(), height());
}

void CWaveWnd::Rebuild(int width, int height) {
    m_nClientWidth = width;
    m_nClientHeight = height;
    m_windowImage = QImage();
    m_backgroundImage = QImage();
    if (width <= 0 || height <= 0) return;  // nothing is drawn until a real size arrives

    m_windowImage = QImage(width, height, QImage::Format_ARGB32);
    DrawColorOnBuffer(PixelsOf(m_windowImage), static_cast<int>(m_windowImage.bytesPerLine()),
                      height, KRect{0, 0, width, height}, 0xFF000000u | m_dwMarginPixel);
    Layout();
    m_bBackgroundDirty = true;
    for (WaveAxis& axis : m_axes) axis.bRedraw = true;
    Invalidate();
}

void CWaveWnd::Layout() {
    for (WaveAxis& axis : m_axes)
        if (!axis.bVisible) axis.nSize = 0;
    const int w = m_nClientWidth, h = m_nClientHeight;
    const int l = m_axes[kAxisLeft].nSize, r = m_axes[kAxisRight].nSize;
    const int t = m_axes[kAxisTop].nSize, b = m_axes[kAxisBottom].nSize;
    m_axes[kAxisLeft].rcArea = {0, t, l, h - b};
    m_axes[kAxisRight].rcArea = {w - r, t, w, h - b};
    m_axes[kAxisTop].rcArea = {l, 0, w - r, t};
    m_axes[kAxisBottom].rcArea = {l, h - b, w - r, h};
    for (WaveAxis& axis : m_axes) axis.coordinate.m_rcArea = axis.rcArea;
    m_rcPlot = {l, t, w - r, h - b};
    m_backgroundImage = m_rcPlot.IsEmpty()
                            ? QImage()
                            : QImage(m_rcPlot.Width(), m_rcPlot.Height(), QImage::Format_ARGB32);
}

// --- Painting ----------------------------------------------------------------

void CWaveWnd::paintEvent(QPaintEvent*) {
    // Cleared before the buffers are read: a request that arrives from now
    // on asks for another paint.
    m_repaintRequested.store(false);
    m_sinceLastPaint.start();
    if (m_windowImage.isNull()) return;
    RenderWindowImage();
    QPainter(this).drawImage(0, 0, m_windowImage);
    if (HasTooltipCurve() && m_tooltipShown && m_tooltip && m_tooltip->isVisible()) UpdateTooltip();
}

void CWaveWnd::RenderWindowImage() {
    // Unshares the image (a copy handed out earlier) before anything draws:
    // the painter and the pixel routines must work on the same memory.
    m_windowImage.bits();
    if (m_bBackgroundDirty) {
        RedrawBackground();
        m_bBackgroundDirty = false;
    }
    double gmin = 0.0, gmax = 0.0;
    BuildCurves(&gmin, &gmax);
    AutoScale(gmin, gmax);
    if (!m_backgroundImage.isNull()) {
        DrawBufferOnBuffer(m_windowImage.bits(), static_cast<int>(m_windowImage.bytesPerLine()),
                           m_windowImage.height(), m_rcPlot, m_backgroundImage.constBits(),
                           static_cast<int>(m_backgroundImage.bytesPerLine()),
                           m_backgroundImage.height(),
                           KRect{0, 0, m_backgroundImage.width(), m_backgroundImage.height()}, 4);
    }
    QPainter painter(&m_windowImage);
    DrawCurves(painter);
    DrawAnnotationsAboveCurves(painter);
    DrawMarkedAxes(painter);
}

void CWaveWnd::RedrawBackground() {
    if (m_backgroundImage.isNull()) return;
    const int w = m_backgroundImage.width(), h = m_backgroundImage.height();
    const int pitch = static_cast<int>(m_backgroundImage.bytesPerLine());
    uint32_t* bits = PixelsOf(m_backgroundImage);
    DrawColorOnBuffer(bits, pitch, h, KRect{0, 0, w, h}, PixelOf(m_crBackground));
    QPainter painter(&m_backgroundImage);
    if (m_pDrawListener)
        m_pDrawListener->OnDrawBackground(DrawingOn(painter, m_backgroundImage, KRect{0, 0, w, h}));
    DrawAnnotations(painter);
}

// On the background image: every annotation that lies under the curves.
void CWaveWnd::DrawAnnotations(QPainter& painter) {
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    CAutoBaseLock lock(m_annotationLock);
    painter.save();
    for (const auto& [key, entry] : m_annotations) {
        if (entry.text.isEmpty() || entry.aboveCurves) continue;
        const QRect layout = AnnotationBox(entry);
        if (layout.isEmpty()) continue;
        painter.setClipRect(layout);  // a text never leaves its box
        painter.setPen(QColor::fromRgba(entry.argb));
        painter.setFont(entry.font);
        painter.drawText(layout, AnnotationFlags(entry), entry.text);
    }
    painter.restore();
}

// On the window image, after the curves: each annotation that lies above
// them gets back the background under its text first.
void CWaveWnd::DrawAnnotationsAboveCurves(QPainter& painter) {
    if (m_backgroundImage.isNull()) return;
    CAutoBaseLock lock(m_annotationLock);
    painter.save();
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    const QPoint plot(m_rcPlot.left, m_rcPlot.top);
    for (const auto& [key, entry] : m_annotations) {
        if (entry.text.isEmpty() || !entry.aboveCurves) continue;
        const QRect layout = AnnotationBox(entry);
        if (layout.isEmpty()) continue;
        const QRect plate = AnnotationTextRect(entry).adjusted(-kTextEdgeGap, -kTextEdgeGap,
                                                               kTextEdgeGap, kTextEdgeGap) &
                            m_backgroundImage.rect();
        painter.setClipRect(QRectOf(m_rcPlot));
        painter.drawImage(plate.translated(plot), m_backgroundImage, plate);
        painter.setClipRect(layout.translated(plot));
        painter.setPen(QColor::fromRgba(entry.argb));
        painter.setFont(entry.font);
        painter.drawText(layout.translated(plot), AnnotationFlags(entry), entry.text);
    }
    painter.restore();
}

QRect CWaveWnd::AnnotationBox(const Annotation& entry) const {
    KRect box = m_rcPlot;
    if (!entry.rect.IsEmpty() && !BoundRect(&box, entry.rect, m_rcPlot)) return QRect();
    // Clear of the box's edges by a little more than the ink of the font
    // can reach past its advance.
    const int inset = kTextEdgeGap + MetricsOf(entry.font).height() / 8;
    return QRect(box.left - m_rcPlot.left, box.top - m_rcPlot.top, box.Width(), box.Height())
        .adjusted(inset, inset, -inset, -inset);
}

int CWaveWnd::AnnotationFlags(const Annotation& entry) {
    return HorizontalFlag(entry.horizontal) | VerticalFlag(entry.vertical) | Qt::TextWordWrap;
}

// Where the text of `entry` lies in its box, relative to the plot.
QRect CWaveWnd::AnnotationTextRect(const Annotation& entry) const {
    const QRect layout = AnnotationBox(entry);
    if (layout.isEmpty() || entry.text.isEmpty()) return QRect();
    return MetricsOf(entry.font).boundingRect(layout, AnnotationFlags(entry), entry.text) & layout;
}

QFontMetrics CWaveWnd::MetricsOf(const QFont& font) const {
    // The images' resolution, which the painters on them measure with.
    return m_windowImage.isNull() ? QFontMetrics(font) : QFontMetrics(font, &m_windowImage);
}

int CWaveWnd::UsedWaveCount() const { return std::clamp(m_nWaveCount, 0, kMaxWaves); }

void CWaveWnd::BuildCurves(double* gmin, double* gmax) {
    // The extremes always include 0: auto-scale keeps the zero line in view.
    for (int i = 0; i < UsedWaveCount(); ++i) {
        WaveLine& line = m_waves[static_cast<size_t>(i)];
        if (!line.bEnabled) continue;
        line.points.clear();
        double minimum = 0.0, maximum = 0.0;
        line.buffer.BuildPoints(m_rcPlot, m_dViewMin, m_dViewMax, m_nScrollOffset, m_dZoom,
                                line.points, &minimum, &maximum, &line.band);
        *gmin = std::min(*gmin, minimum);
        *gmax = std::max(*gmax, maximum);
    }
}

void CWaveWnd::AutoScale(double gmin, double gmax) {
    if (!m_bAutoScale) return;
    const double span = std::fabs(gmax - gmin);
    if (!(span > 1e-16)) return;
    // The view is 1.5 x the data span around its centre. Compared with a
    // tolerance: the view computed last time may differ from 1.5 x span in
    // the last bits, and must not ask for another paint on every paint.
    const double wanted = 1.5 * span;
    const double viewSpan = std::fabs(m_dViewMax - m_dViewMin);
    if (std::fabs(viewSpan - wanted) <= 1e-9 * std::max(wanted, viewSpan)) return;
    const double centre = (gmax + gmin) / 2.0;
    m_dViewMin = centre - 0.75 * span;
    m_dViewMax = centre + 0.75 * span;
    SetValueAxes(m_dViewMin, m_dViewMax);
    Invalidate();
}

void CWaveWnd::DrawCurves(QPainter& painter) {
    const int pitch = static_cast<int>(m_windowImage.bytesPerLine());
    uint32_t* bits = PixelsOf(m_windowImage);
    painter.setClipRect(QRectOf(m_rcPlot));
    for (int i = 0; i < UsedWaveCount(); ++i) {
        const WaveLine& line = m_waves[static_cast<size_t>(i)];
        if (!line.bEnabled) continue;
        if (m_pDrawListener &&
            m_pDrawListener->OnDrawWave({DrawingOn(painter, m_windowImage, m_rcPlot), i,
                                         line.points, m_nLineWidth, line.crColor, 0}))
            continue;
        const uint32_t rgb = ColorOf(line.crColor).rgb() & 0x00FFFFFF;
        // Every sample a column covers, so spikes between the samples the
        // polyline reads still show.
        DrawColumnBand(bits, pitch, m_nClientHeight, m_rcPlot, line.band, rgb, kBandAlpha);
        // A curve of about one point per column (a long capture) goes
        // column by column: stroking such a zigzag with anti-aliasing takes
        // the painter tens of milliseconds and looks no different.
        if (IsDenseCurve(line.points)) {
            DrawDenseCurve(bits, pitch, m_nClientHeight, m_rcPlot, line.points, m_nLineWidth, rgb);
        } else {
            StrokeCurve(painter, line.points, ColorOf(line.crColor));
        }
    }
    painter.setClipping(false);
    if (m_pDrawListener)
        m_pDrawListener->OnDrawForeground(DrawingOn(painter, m_windowImage, m_rcPlot));
}

WaveDrawing CWaveWnd::DrawingOn(QPainter& painter, QImage& image, const KRect& rect) const {
    return {painter,       image,          PixelsOf(image),
            image.width(), image.height(), static_cast<int>(image.bytesPerLine()),
            rect,          m_drawContext};
}

void CWaveWnd::StrokeCurve(QPainter& painter, const std::vector<WavePoint>& points,
                           const QColor& color) const {
    if (points.size() < 2) return;
    QPolygon polyline(static_cast<int>(points.size()));
    for (size_t k = 0; k < points.size(); ++k)
        polyline.setPoint(static_cast<int>(k), points[k].x, points[k].y);
    QPen pen(color, m_nLineWidth);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(pen);
    painter.drawPolyline(polyline);
}

void CWaveWnd::DrawMarkedAxes(QPainter& painter) {
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    for (WaveAxis& axis : m_axes) {
        if (!axis.bRedraw) continue;
        axis.bRedraw = false;
        const QRect area = QRectOf(axis.rcArea);
        if (area.isEmpty()) continue;
        painter.setClipRect(area);
        painter.fillRect(area, QColor::fromRgb(0xFF000000u | m_dwMarginPixel));
        const CCoordinate& c = axis.coordinate;
        painter.setFont(ChartFont(c.m_strFontFace, c.m_nFontPoints));
        painter.setPen(ColorOf(c.m_crText));
        const QFontMetrics metrics = painter.fontMetrics();
        for (const AxisLabel& label : c.Layout()) {
            const QRect box = QRectOf(label.box);
            const QString text = metrics.elidedText(QString::fromStdWString(label.text),
                                                    Qt::ElideRight, box.width());
            const int flags = HorizontalFlag(label.horizontal) | VerticalFlag(label.vertical) |
                              Qt::TextSingleLine;
            painter.drawText(LabelBoxInside(metrics, box, area, flags, text), flags, text);
        }
    }
    painter.setClipping(false);
}

// --- Small helpers -----------------------------------------------------------

void CWaveWnd::SetValueAxes(double minimum, double maximum) {
    for (WaveAxisIndex index : {kAxisLeft, kAxisRight}) {
        m_axes[index].coordinate.m_dMin = minimum;
        m_axes[index].coordinate.m_dMax = maximum;
    }
    MarkAxes(kAxisLeft, kAxisRight);
}

void CWaveWnd::MarkAxes(WaveAxisIndex first, WaveAxisIndex second) {
    m_axes[first].bRedraw = true;
    m_axes[second].bRedraw = true;
}

void CWaveWnd::SetFrameCountOfAll(int frameCount) {
    for (WaveLine& line : m_waves) line.buffer.SetFrameCount(frameCount);
}

double CWaveWnd::SampleAxisUnit() const {
    // The sample axes label the frame's first sample m_dSampleMin and its
    // last m_dSampleMax: one sample per unit with the automatic range 0 ...
    // N - 1, a tenth of a second where a page labels a capture in seconds.
    // Scrolling and zooming move the labels by whole samples in these units.
    return m_nSampleCount > 1 ? (m_dSampleMax - m_dSampleMin) / (m_nSampleCount - 1) : 1.0;
}

bool CWaveWnd::AnyInteraction() const {
    return m_mouse.valueZoom || m_mouse.valueDrag || m_mouse.sampleZoom || m_mouse.sampleDrag;
}

bool CWaveWnd::HasEnabledCurve() const {
    return std::any_of(m_waves.begin(), m_waves.begin() + UsedWaveCount(),
                       [](const WaveLine& line) { return line.bEnabled; });
}

bool CWaveWnd::HasTooltipCurve() const {
    return std::any_of(m_waves.begin(), m_waves.begin() + UsedWaveCount(),
                       [](const WaveLine& line) { return line.bTooltip; });
}

bool CWaveWnd::PlotContains(const QPoint& p) const {
    return p.x() >= m_rcPlot.left && p.x() < m_rcPlot.right && p.y() >= m_rcPlot.top &&
           p.y() < m_rcPlot.bottom;
}

// --- Mouse -------------------------------------------------------------------

// The tooltip goes whenever the chart stops being where the pointer was:
// it moves, hides with its page, or a modal window takes the pointer
// without the chart hearing that it left.
void CWaveWnd::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    HideTooltip();
}

void CWaveWnd::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    HideTooltip();
}

bool CWaveWnd::event(QEvent* event) {
    if (event->type() == QEvent::WindowBlocked) HideTooltip();
    return QWidget::event(event);
}

void CWaveWnd::mousePressEvent(QMouseEvent* event) {
    QWidget::mousePressEvent(event);
    if (event->button() != Qt::LeftButton || !AnyInteraction()) return;
    // Qt keeps sending this widget the moves until the button is released.
    m_dragStart = event->position().toPoint();
    m_bButtonDown = true;
    m_bFirstStepX = m_bFirstStepY = true;
}

void CWaveWnd::mouseReleaseEvent(QMouseEvent* event) {
    QWidget::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton || !AnyInteraction()) return;
    m_bButtonDown = false;
    m_bFirstStepX = m_bFirstStepY = false;
}

void CWaveWnd::mouseDoubleClickEvent(QMouseEvent* event) {
    QWidget::mouseDoubleClickEvent(event);
    if (event->button() != Qt::LeftButton || !AnyInteraction()) return;
    ResetView();
    HideTooltip();  // its value was read from the view before the reset
}

void CWaveWnd::mouseMoveEvent(QMouseEvent* event) {
    QWidget::mouseMoveEvent(event);
    const QPoint point = event->position().toPoint();
    if (m_bButtonDown && HasEnabledCurve()) {
        DragTo(point);
        return;
    }
    if (!HasTooltipCurve()) return;
    if (!PlotContains(point)) {
        HideTooltip();
        return;
    }
    if (point == m_lastPoint) return;
    m_lastPoint = point;
    UpdateTooltip();
}

void CWaveWnd::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    HideTooltip();
}

void CWaveWnd::wheelEvent(QWheelEvent* event) {
    const QPoint point = event->position().toPoint();
    const int delta = event->angleDelta().y();
    if (!(m_mouse.valueZoom || m_mouse.sampleZoom) || delta == 0 || !PlotContains(point) ||
        !HasEnabledCurve()) {
        QWidget::wheelEvent(event);  // left to the parent
        return;
    }
    if (m_mouse.sampleZoom && (event->modifiers() & Qt::ControlModifier)) {
        ZoomSamples(point.x(), delta > 0);
    } else if (m_mouse.valueZoom) {
        ZoomValues(point.y(), delta > 0);
    }
    event->accept();
}

void CWaveWnd::DragTo(const QPoint& point) {
    const int dy = point.y() - m_dragStart.y();
    if (m_mouse.valueDrag && std::abs(dy) > (m_bFirstStepY ? kFirstDragStep : kNextDragStep) &&
        m_rcPlot.Height() > 0) {
        m_bFirstStepY = false;
        m_dragStart.setY(point.y());
        const double shift = (m_dViewMax - m_dViewMin) / m_rcPlot.Height() * dy;
        m_dViewMin += shift;
        m_dViewMax += shift;
        SetValueAxes(m_dViewMin, m_dViewMax);
        Invalidate();
    }
    const int dx = point.x() - m_dragStart.x();
    if (m_mouse.sampleDrag && std::abs(dx) > (m_bFirstStepX ? kFirstDragStep : kNextDragStep) &&
        width() > 0) {
        const double visible = std::trunc(m_nSampleCount / m_dZoom);
        const int64_t samples = static_cast<int64_t>(std::trunc(dx * visible / width()));
        if (samples == 0 || std::llabs(samples) >= visible) return;
        m_bFirstStepX = false;
        m_dragStart.setX(point.x());
        for (WaveAxisIndex index : {kAxisTop, kAxisBottom}) {
            m_axes[index].coordinate.m_dMin -= samples * SampleAxisUnit();
            m_axes[index].coordinate.m_dMax -= samples * SampleAxisUnit();
        }
        // At zooms below 1 one step can exceed a frame: the offset is kept
        // inside 0..N-1 whatever the sign and size of the step.
        m_nScrollOffset = PositiveModulo(int64_t{m_nScrollOffset} + samples, m_nSampleCount);
        MarkAxes(kAxisTop, kAxisBottom);
        Invalidate();
    }
}

void CWaveWnd::ZoomSamples(int x, bool forward) {
    const int plotWidth = m_rcPlot.Width();
    if (plotWidth < 2) return;  // samples per pixel needs two columns
    const int64_t n = m_nSampleCount;
    const double samplesPerPixel = (n - 1.0) / (plotWidth - 1) / m_dZoom;
    const int dx = x - m_rcPlot.left;
    const int64_t anchor =
        PositiveModulo(std::llround((n - m_nScrollOffset) + dx * samplesPerPixel) + n, n);
    const double factor = forward ? kZoomStep : 1.0 / kZoomStep;
    const double zoom = factor * m_dZoom;
    if (zoom < kMinimumZoom || zoom > n * 0.5) return;

    m_dZoom = zoom;
    // Zoomed out, the view reaches back more than one frame.
    SetFrameCountOfAll(static_cast<int>(std::ceil(1.0 / zoom)) + 1);
    const int64_t shift =
        static_cast<int64_t>(std::trunc(samplesPerPixel / factor * dx + (n - anchor)));
    m_nScrollOffset = PositiveModulo(shift, n);
    for (WaveAxisIndex index : {kAxisTop, kAxisBottom}) {
        CCoordinate& c = m_axes[index].coordinate;
        c.m_dMin = m_dSampleMin + static_cast<double>(n - shift) * SampleAxisUnit();
        c.m_dMax = (m_dSampleMax - m_dSampleMin) / zoom + c.m_dMin;
    }
    MarkAxes(kAxisTop, kAxisBottom);
    Invalidate();
}

void CWaveWnd::ZoomValues(int y, bool forward) {
    if (m_rcPlot.Height() <= 0) return;
    const double centre =
        (m_dViewMin - m_dViewMax) / m_rcPlot.Height() * (y - m_rcPlot.top) + m_dViewMax;
    const double factor = forward ? 1.0 / kZoomStep : kZoomStep;
    m_dViewMax = centre + (m_dViewMax - centre) * factor;
    m_dViewMin = centre - (centre - m_dViewMin) * factor;
    SetValueAxes(m_dViewMin, m_dViewMax);
    Invalidate();
}

void CWaveWnd::ResetView() {
    m_dZoom = 1.0;
    m_nScrollOffset = 0;
    SetFrameCountOfAll(2);
    m_dViewMin = m_dRangeMin;
    m_dViewMax = m_dRangeMax;
    SetValueAxes(m_dHomeMin, m_dHomeMax);
    for (WaveAxisIndex index : {kAxisTop, kAxisBottom}) {
        m_axes[index].coordinate.m_dMin = m_dSampleMin;
        m_axes[index].coordinate.m_dMax = m_dSampleMax;
    }
    MarkAxes(kAxisTop, kAxisBottom);
    Invalidate();
}

// --- Tooltip -----------------------------------------------------------------

void CWaveWnd::MarkBackgroundDirty() {
    m_bBackgroundDirty = true;
    Invalidate();
}

QString CWaveWnd::AnnotationText(uint64_t key) const {
    CAutoBaseLock lock(m_annotationLock);
    const auto found = m_annotations.find(key);
    return found == m_annotations.end() ? QString() : found->second.text;
}

double CWaveWnd::AnnotationPointSize(uint64_t key) const {
    CAutoBaseLock lock(m_annotationLock);
    const auto found = m_annotations.find(key);
    return found == m_annotations.end() ? 0.0 : found->second.font.pointSizeF();
}

KRect CWaveWnd::AnnotationBounds(uint64_t key) const {
    CAutoBaseLock lock(m_annotationLock);
    const auto found = m_annotations.find(key);
    if (found == m_annotations.end()) return KRect{};
    const QRect text = AnnotationTextRect(found->second);
    return text.isEmpty() ? KRect{} : KRectOf(text.translated(m_rcPlot.left, m_rcPlot.top));
}

QString CWaveWnd::TooltipText() const { return m_tooltip ? m_tooltip->text() : QString(); }

void CWaveWnd::UpdateTooltip() {
    const int px = m_lastPoint.x() - m_rcPlot.left;
    const int py = m_lastPoint.y() - m_rcPlot.top;
    int bestDistance = m_nClientHeight, bestSlot = -1, bestIndex = 0;
    double bestValue = 0.0;
    for (int i = 0; i < UsedWaveCount(); ++i) {
        const WaveLine& line = m_waves[static_cast<size_t>(i)];
        if (!line.bEnabled || !line.bTooltip) continue;
        int index = 0, y = 0;
        double value = 0.0;
        if (!line.buffer.HitTest(m_rcPlot, m_dViewMin, m_dViewMax, m_nScrollOffset, m_dZoom, px,
                                 &index, &value, &y))
            continue;
        if (std::abs(py - y) < bestDistance) {  // ties keep the earlier slot
            bestDistance = std::abs(py - y);
            bestSlot = i, bestIndex = index, bestValue = value;
        }
    }
    if (bestSlot < 0 || !m_tooltip) return;

    const int n = m_nSampleCount;
    const int position = ((n - m_nScrollOffset) % n + bestIndex) % n;
    const QString text =
        m_pTooltipListener
            ? m_pTooltipListener->GetTooltipText(bestSlot, position, m_nScrollOffset, n, bestValue,
                                                 m_tooltipContext)
            : QString::asprintf(
                  m_waves[static_cast<size_t>(bestSlot)].strTooltipFormat.toUtf8().constData(),
                  position, bestValue);
    m_tooltip->setText(text);
    m_tooltip->adjustSize();
    m_tooltip->move(mapToGlobal(m_lastPoint + QPoint(12, 20)));
    if (!m_tooltipShown) {
        m_tooltip->show();
        m_tooltipShown = true;
    }
}

void CWaveWnd::HideTooltip() {
    if (m_tooltip) m_tooltip->hide();
    m_tooltipShown = false;
    // Coming back to the very point the tooltip was hidden at shows it again.
    m_lastPoint = QPoint(-1, -1);
}

// --- Picture menu ------------------------------------------------------------

QMenu* CWaveWnd::CreateContextMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    menu->addAction(LoadStringW(kCopyPictureTextId), this, &CWaveWnd::CopyPicture);
    menu->addAction(LoadStringW(kSavePictureTextId), this, &CWaveWnd::SavePicture);
    emit ContextMenuCreated(menu);
    return menu;
}

void CWaveWnd::contextMenuEvent(QContextMenuEvent* event) {
    // The menu and the dialogs its items open take the pointer; the chart
    // may not hear that it left.
    HideTooltip();
    QMenu* menu = CreateContextMenu(this);
    menu->exec(event->globalPos());
    delete menu;
}

void CWaveWnd::CopyPicture() {
    if (!m_windowImage.isNull()) QApplication::clipboard()->setImage(m_windowImage.copy());
}

void CWaveWnd::SavePicture() {
    FileDialogRequest request;
    request.owner = this;
    request.filter = QStringLiteral("PNG(*.png)|*.png||");
    request.defaultExtension = QStringLiteral("png");
    request.confirmOverwrite = true;
    QString path;
    if (!Prompt().GetSaveFileName(request, &path)) return;
    const QImage picture = m_windowImage.copy();
    if (picture.isNull() || !picture.save(path, "PNG"))
        ShowStringMessageBox(this, kSavePictureFailedTextId, shared_text::kError,
                             PromptIcon::Error);
}

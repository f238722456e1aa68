// The chart window of the realtime and capture pages: up to 256 curves of
// recent samples against a sample axis, optional value and sample axes
// around the plot, text annotations on the plot background, and listeners
// through which a page draws its own additions or names the tooltip text.
//
// Drawing goes to two off-screen QImages of 0xAARRGGBB words
// (Format_ARGB32): the window image (whole widget) and the background image
// (plot only, redrawn only when it changes). Every paint draws the curves
// into the window image and copies it to the screen in one go.
//
// Acquisition threads append samples (Append, AppendRevisedFrame) and call
// RequestRepaint; everything else runs on the user-interface thread.
#pragma once

#include <QElapsedTimer>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPoint>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <vector>

#include "charts/Coordinate.h"
#include "charts/WaveBuffer.h"
#include "common/KVEL_Common.h"
#include "common/KVEL_CommonDraw.h"

class QLabel;
class QMenu;
class QPainter;

// What a draw listener draws on. `painter` is open on `image`; `bits` is
// that image's first pixel, rows `pitch` bytes apart.
struct WaveDrawing {
    QPainter& painter;
    QImage& image;
    uint32_t* bits = nullptr;
    int width = 0;
    int height = 0;
    int pitch = 0;
    // OnDrawBackground: (0, 0, width, height) of the background image;
    // otherwise the plot, in window image coordinates.
    KRect rect;
    uint64_t context = 0;  // the chart's draw context
};

// One curve for OnDrawWave, on the window image.
struct WaveCurveDrawing : WaveDrawing {
    int slot = 0;
    const std::vector<WavePoint>& points;  // the polyline of this paint
    int lineWidth = 0;
    uint32_t color = 0;  // 0x00BBGGRR
    int style = 0;       // always 0
};

// A page's additions to the chart's drawing.
class IWaveWndDrawListener {
public:
    virtual ~IWaveWndDrawListener() = default;
    // After the background fill, before the annotations.
    virtual void OnDrawBackground(const WaveDrawing& /*drawing*/) {}
    // Non-zero: the page has drawn the curve and the chart skips it.
    virtual int OnDrawWave(const WaveCurveDrawing& /*curve*/) { return 0; }
    // After all curves, on the window image.
    virtual void OnDrawForeground(const WaveDrawing& /*drawing*/) {}
};

// A page's text for the tooltip of curve `slot` at `samplePosition`.
class IWaveWndTooltipListener {
public:
    virtual ~IWaveWndTooltipListener() = default;
    virtual QString GetTooltipText(int slot, int samplePosition, int scrollOffset, int sampleCount,
                                   double value, uint64_t context) = 0;
};

// One curve slot (read through CWaveWnd::Wave).
struct WaveLine {
    bool bEnabled = true;           // computed and drawn
    uint32_t crColor = 0;           // 0x00BBGGRR
    CWaveBuffer buffer;             // the samples, under their own lock
    std::vector<WavePoint> points;  // the polyline of the last paint
    std::vector<WaveColumn> band;   // its min-max band (many samples per column)
    bool bTooltip = true;           // takes part in tooltips
    QString strTooltipFormat;       // printf format of the sample position and value
};

// One axis band around the plot (read through CWaveWnd::Axis).
struct WaveAxis {
    bool bVisible = false;   // a hidden band gets size 0 at the next layout
    int nSize = 0;           // width (left, right) or height (top, bottom)
    CCoordinate coordinate;  // the labels
    KRect rcArea;            // set by the layout
    bool bRedraw = false;    // repaint the band at the next paint
};

enum WaveAxisIndex { kAxisLeft = 0, kAxisRight = 1, kAxisTop = 2, kAxisBottom = 3 };

// What the mouse may do to the view (all off: the realtime page).
struct WaveMouseSwitches {
    bool valueZoom = false;   // wheel zooms the value view
    bool valueDrag = false;   // vertical drag moves it
    bool sampleZoom = false;  // Ctrl+wheel zooms the sample view
    bool sampleDrag = false;  // horizontal drag scrolls it
};

class CWaveWnd : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMaxWaves = 256;
    // The screen needs no more than 25 pictures a second, however fast
    // reports arrive (a replay delivers a hundred thousand a second).
    static constexpr int kRepaintIntervalMs = 40;
    // String table entries of the picture menu and its failure report.
    static constexpr int kCopyPictureTextId = 10006;
    static constexpr int kSavePictureTextId = 10007;
    static constexpr int kSavePictureFailedTextId = 10008;

    explicit CWaveWnd(QWidget* parent = nullptr);
    ~CWaveWnd() override;

    // Reads the widget size, rebuilds images and layout, creates the tooltip.
    // Pages call it after configuring the chart and again after rescaling.
    void Initialize();
    void CreateWaveStorage();
    // N samples per frame (1 when n <= 0); zoom 1, no scroll, two frames.
    void SetSampleCount(int n);
    void SetSampleRange(double minimum, double maximum, double period);
    void SetValueRange(double minimum, double maximum);
    void SetWholeFrames(bool wholeFramesOnly);
    void SetSampleAxisFontSize(int points);
    void SetValueAxisFontSize(int points);
    void ClearWaves();
    // Adds or replaces the annotation `key` (drawn in ascending key order).
    // Alignments: 0 near, 1 centre, 2 far. `rect` (client coordinates) is
    // limited to the plot; nullptr or an empty one means the whole plot.
    void SetText(uint64_t key, const QString& text, double points, uint32_t argb,
                 int horizontalAlignment, int verticalAlignment, const KRect* rect = nullptr);
    // Draws annotation `key` over the curves, on the background it covers,
    // rather than under them: a curve passing there cannot make it
    // unreadable. Kept across later SetText calls for the key.
    void SetTextAboveCurves(uint64_t key, bool above);

    // Asks for a repaint, paced to one per kRepaintIntervalMs. UI thread.
    void Invalidate();
    // The same from any thread: the first request since the last paint
    // posts one queued Invalidate; the others wait for that paint. Never
    // touches the widget from the calling thread. The chart must outlive
    // the threads that call it: pages stop their readers first.
    void RequestRepaint();

    // Redraws the background at the next paint and asks for one: what a
    // page draws there (its draw listener's OnDrawBackground) has changed.
    // UI thread.
    void MarkBackgroundDirty();

    // The picture menu of the chart ("Copy picture", "Save picture…"),
    // after ContextMenuCreated has let a page add its own items.
    QMenu* CreateContextMenu(QWidget* parent);

    // Views for the pages and for tests.
    int SampleCount() const { return m_nSampleCount; }
    int ScrollOffset() const { return m_nScrollOffset; }
    double Zoom() const { return m_dZoom; }
    const KRect& PlotRect() const { return m_rcPlot; }
    const QImage& WindowImage() const { return m_windowImage; }
    const QImage& BackgroundImage() const { return m_backgroundImage; }
    bool IsTooltipShown() const { return m_tooltipShown; }
    QString TooltipText() const;
    int InvalidateCount() const { return m_invalidateCount; }
    // Annotation `key`: its text and its size in points (empty and 0 when
    // there is none).
    QString AnnotationText(uint64_t key) const;
    double AnnotationPointSize(uint64_t key) const;
    // Where annotation `key`'s text lies as laid out, in client
    // coordinates (empty when there is none or it has no text).
    KRect AnnotationBounds(uint64_t key) const;

    // --- Curve slots (setters ignore slots outside 0..kMaxWaves - 1) -------
    // Slots in use, from slot 0 (held to 0..kMaxWaves).
    void SetWaveCount(int count);
    int WaveCount() const { return m_nWaveCount; }
    void SetWaveColor(int slot, uint32_t colorref);
    // A disabled curve is neither computed nor drawn.
    void SetWaveEnabled(int slot, bool enabled);
    // Slot `slot` (0..kMaxWaves - 1) as it stands: settings, samples and
    // (user-interface thread) the polyline of the last paint.
    const WaveLine& Wave(int slot) const { return m_waves.at(static_cast<size_t>(slot)); }

    // Samples for the slot, from any thread, under its buffer's lock
    // (CWaveBuffer::Append and AppendRevisedFrame). They show at the next
    // paint: the caller asks for one (RequestRepaint, or Invalidate).
    void Append(int slot, const double* samples, int n);
    void AppendRevisedFrame(int slot, const double* frame, int n, int changedPosition);
    // A horizontal line at `value` in the slot's colour: the slot reads as
    // though one frame of `value` had been appended to cleared samples, so
    // it looks, scales and answers tooltips as such a frame would, without
    // holding it (CWaveBuffer::SetLevelFrame). Any thread.
    void SetLevelLine(int slot, double value);
    // Zeroes every frame count the slots keep of what was appended.
    void ResetTotalFrames();

    // --- Drawing settings -------------------------------------------------------
    // Curve pen width in pixels.
    void SetLineWidth(int pixels);
    int LineWidth() const { return m_nLineWidth; }
    // Plot background, 0x00BBGGRR.
    void SetBackgroundColor(uint32_t colorref);
    uint32_t BackgroundColor() const { return m_crBackground; }
    // Axis bands and the rest around the plot, 0x00RRGGBB; takes effect at
    // the next Initialize.
    void SetMarginColor(uint32_t rgb);
    uint32_t MarginColor() const { return m_dwMarginPixel; }
    // Fits the value view to the data on every paint.
    void SetAutoScale(bool on);
    bool IsAutoScale() const { return m_bAutoScale; }

    // --- Value and sample ranges -------------------------------------------------
    // The value axes show minimum..maximum and come back there on reset,
    // whatever the view: SetValueRange then moves only the view.
    void FixValueAxes(double minimum, double maximum);
    // The value range mapped to the plot's bottom and top.
    double ViewMin() const { return m_dViewMin; }
    double ViewMax() const { return m_dViewMax; }
    // The range the sample axes show at zoom 1.
    double SampleMin() const { return m_dSampleMin; }
    double SampleMax() const { return m_dSampleMax; }

    // --- Axis bands ----------------------------------------------------------------
    // Each marks the band for redrawing; sizes take effect at the next
    // Initialize (a hidden band gets size 0 there).
    void SetAxisBand(WaveAxisIndex axis, bool visible, int size);
    void SetAxisLabelCount(WaveAxisIndex axis, int count);
    void SetAxisCustomLabels(WaveAxisIndex axis, const std::vector<CoordinateLabel>* labels);
    void SetAxisWrap(WaveAxisIndex axis, double low, double high, double period);
    const WaveAxis& Axis(WaveAxisIndex axis) const { return m_axes.at(axis); }

    // --- Listeners and mouse -------------------------------------------------------
    // nullptr: none. `context` is passed back with every call.
    void SetDrawListener(IWaveWndDrawListener* listener, uint64_t context);
    void SetTooltipListener(IWaveWndTooltipListener* listener, uint64_t context);
    void SetMouseSwitches(const WaveMouseSwitches& switches);
    const WaveMouseSwitches& MouseSwitches() const { return m_mouse; }

signals:
    // A context menu was built; connected pages may add items to it.
    void ContextMenuCreated(QMenu* menu);

public slots:
    void CopyPicture();
    void SavePicture();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    struct Annotation {
        QString text;
        KRect rect;
        QFont font;
        int horizontal = 0;
        int vertical = 0;
        uint32_t argb = 0xFF000000;
        bool aboveCurves = false;
    };

    void InitializeAxes();
    void Rebuild(int width, int height);
    void Layout();
    void RenderWindowImage();
    void RedrawBackground();
    void DrawAnnotations(QPainter& painter);
    void DrawAnnotationsAboveCurves(QPainter& painter);
    // The box annotation `entry` is laid out in, relative to the plot
    // (empty when it has none there), and how its text is aligned in it.
    QRect AnnotationBox(const Annotation& entry) const;
    static int AnnotationFlags(const Annotation& entry);
    QFontMetrics MetricsOf(const QFont& font) const;
    QRect AnnotationTextRect(const Annotation& entry) const;
    void BuildCurves(double* gmin, double* gmax);
    void AutoScale(double gmin, double gmax);
    void DrawCurves(QPainter& painter);
    // What a draw listener gets for `image`, which `painter` is open on.
    WaveDrawing DrawingOn(QPainter& painter, QImage& image, const KRect& rect) const;
    void StrokeCurve(QPainter& painter, const std::vector<WavePoint>& points,
                     const QColor& color) const;
    void DrawMarkedAxes(QPainter& painter);

    void SetValueAxes(double minimum, double maximum);
    WaveLine* Slot(int slot);
    WaveAxis* AxisAt(WaveAxisIndex axis);
    void MarkAxes(WaveAxisIndex first, WaveAxisIndex second);
    void SetFrameCountOfAll(int frameCount);
    double SampleAxisUnit() const;
    int UsedWaveCount() const;
    bool AnyInteraction() const;
    bool HasEnabledCurve() const;
    bool HasTooltipCurve() const;
    bool PlotContains(const QPoint& point) const;

    void DragTo(const QPoint& point);
    void ZoomSamples(int x, bool forward);
    void ZoomValues(int y, bool forward);
    void ResetView();
    void UpdateTooltip();
    void HideTooltip();

    int m_nWaveCount = 1;
    std::array<WaveLine, kMaxWaves> m_waves;
    int m_nLineWidth = 3;
    uint32_t m_crBackground = 0;   // 0x00BBGGRR
    uint32_t m_dwMarginPixel = 0;  // 0x00RRGGBB (the button face colour)
    bool m_bAutoScale = false;
    bool m_bAutoSampleRange = true;  // SetSampleCount also labels the sample axes
    bool m_bRangeToAxes = true;      // SetValueRange also sets home range and value axes
    double m_dHomeMin = -32767.0, m_dHomeMax = 32767.0;
    double m_dRangeMin = -32767.0, m_dRangeMax = 32767.0;
    double m_dViewMin = -32767.0, m_dViewMax = 32767.0;
    double m_dSampleMin = 0.0, m_dSampleMax = 63.0;
    std::array<WaveAxis, 4> m_axes;  // WaveAxisIndex order
    IWaveWndDrawListener* m_pDrawListener = nullptr;
    uint64_t m_drawContext = 0;
    IWaveWndTooltipListener* m_pTooltipListener = nullptr;
    uint64_t m_tooltipContext = 0;
    WaveMouseSwitches m_mouse;

    int m_nClientWidth = 0, m_nClientHeight = 0;
    QImage m_windowImage;
    QImage m_backgroundImage;
    KRect m_rcPlot;
    bool m_bBackgroundDirty = false;
    int m_nSampleCount = 64;
    int m_nScrollOffset = 0;  // 0 <= offset < N
    double m_dZoom = 1.0;
    std::map<uint64_t, Annotation> m_annotations;  // key order is drawing order
    mutable CBaseLock m_annotationLock;

    // Repaint requests: coalesced across threads, paced on the UI thread.
    std::atomic<bool> m_repaintRequested{false};
    QTimer m_paceTimer;
    QElapsedTimer m_sinceLastPaint;
    int m_invalidateCount = 0;

    // Mouse state.
    QPoint m_dragStart;
    bool m_bButtonDown = false;
    bool m_bFirstStepX = true, m_bFirstStepY = true;
    bool m_tooltipShown = false;
    QPoint m_lastPoint{-1, -1};
    QLabel* m_tooltip = nullptr;
};

#include "charts/WaveBuffer.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <new>
#include <stdexcept>

// How the view parameters map storage to plot pixels. Every index it hands
// out lies inside the storage, whatever zoom, offset and frame count the
// caller passes; degenerate plots and value spans map without dividing by 0.
struct CWaveBuffer::Mapping {
    int left = 0, top = 0, width = 0, height = 0;
    double yMax = 0.0, span = 0.0;
    bool flat = false;         // no usable value span: every sample on the middle row
    int64_t base = 0;          // storage index of the first visible sample
    int64_t last = 0;          // visible samples - 1
    double scale = 0.0;        // samples per pixel column
    size_t capacity = 0;

    static bool Make(const KRect& plot, double yMin, double yMax, int offset, double zoom,
                     int frameLength, size_t capacity, Mapping* map)
    {
        if (plot.Width() <= 0 || plot.Height() <= 0 || capacity == 0 || frameLength <= 0)
            return false;
        map->left = plot.left;
        map->top = plot.top;
        map->width = plot.Width();
        map->height = plot.Height();
        map->yMax = yMax;
        map->span = yMax - yMin;
        map->flat = !std::isfinite(map->span) || map->span == 0.0;
        map->capacity = capacity;

        double visible = std::isfinite(zoom) && zoom > 0.0 ? std::trunc(frameLength / zoom) : frameLength;
        visible = std::clamp(visible, 1.0, static_cast<double>(capacity));
        map->last = static_cast<int64_t>(visible) - 1;
        map->base = frameLength - std::clamp(offset, 0, frameLength);
        // The offset names a position in the frame, counted back from the
        // start of the newest frame. When the whole view fits a frame (or
        // more) later in storage, it shows those same positions from the
        // newest samples: zoomed into a buffer that holds a single frame
        // (a capture), the view shows that frame rather than the zeros
        // before it.
        const int64_t spare = static_cast<int64_t>(capacity) - 1 - (map->base + map->last);
        if (spare >= frameLength) map->base += spare / frameLength * frameLength;
        // A one-column plot shows the first visible sample (the general rule
        // would divide by width - 1 = 0).
        map->scale = map->width > 1 ? static_cast<double>(map->last) / (map->width - 1) : 0.0;
        return true;
    }

    // Row of a value relative to the plot's top: yMax on row 0, yMin on the
    // last row. Values outside the view (and NaN) are held to the edges.
    int RowOf(double value) const
    {
        if (flat) return (height - 1) / 2;
        double row = height * (yMax - value) / span;
        if (!(row > 0.0)) row = 0.0;
        if (row > height - 1) row = height - 1;
        return static_cast<int>(std::lround(row));
    }

    // Storage index of visible sample si (0 <= si <= last).
    size_t IndexOf(int64_t si) const
    {
        return static_cast<size_t>(std::min<int64_t>(base + si, static_cast<int64_t>(capacity) - 1));
    }
};

void CWaveBuffer::CreateStorage()
{
    CAutoBaseLock lock(m_lock);
    if (!m_hasStorage || m_capacity != Capacity())
        ResizeStorage(Capacity(), false);
}

void CWaveBuffer::SetFrameLength(int frameLength)
{
    CAutoBaseLock lock(m_lock);
    m_frameLength = std::max(frameLength, 0);
    if ((m_hasStorage ? m_capacity : 0) != Capacity()) ResizeStorage(Capacity(), false);
}

void CWaveBuffer::SetFrameCount(int frameCount)
{
    CAutoBaseLock lock(m_lock);
    frameCount = std::max(frameCount, 0);
    if (frameCount == m_frameCount) return;
    m_frameCount = frameCount;
    if ((m_hasStorage ? m_capacity : 0) != Capacity()) ResizeStorage(Capacity(), true);
}

void CWaveBuffer::SetWholeFrames(bool wholeFramesOnly)
{
    CAutoBaseLock lock(m_lock);
    m_wholeFramesOnly = wholeFramesOnly;
}

void CWaveBuffer::Append(const double* samples, int n)
{
    if (!samples || n <= 0) return;
    CAutoBaseLock lock(m_lock);
    if (m_frameLength <= 0 || !m_hasStorage) return;

    const int64_t counted = m_remainder + n;
    m_nTotalFrames.fetch_add(counted / m_frameLength, std::memory_order_relaxed);
    m_remainder = counted % m_frameLength;

    // Pending samples go first, then the new ones up to the last whole
    // frame (or all of them); only what is left over is copied to pending,
    // so a frame appended whole never passes through it.
    const size_t waiting = m_pending.size();
    const size_t total = waiting + static_cast<size_t>(n);
    const size_t ready = m_wholeFramesOnly ? total - total % static_cast<size_t>(m_frameLength) : total;
    if (ready == 0) {
        m_pending.insert(m_pending.end(), samples, samples + n);
        return;
    }
    // ready >= waiting: what waits is less than a frame, ready whole frames.
    StoreNewest(m_pending.data(), waiting);
    const size_t taken = ready - waiting;
    StoreNewest(samples, taken);
    m_pending.assign(samples + taken, samples + n);
}

void CWaveBuffer::Clear()
{
    CAutoBaseLock lock(m_lock);
    m_remainder = 0;
    // Zero samples need no memory: the ring goes back to its unallocated,
    // all-zero state until the next append.
    std::vector<double>().swap(m_ring);
    m_head = 0;
    m_pending.clear();
}

void CWaveBuffer::BuildPoints(const KRect& plot, double yMin, double yMax, int offset, double zoom,
                              std::vector<WavePoint>& points, double* minimum, double* maximum,
                              std::vector<WaveColumn>* band) const
{
    double low = 0.0, high = 0.0;
    if (band) band->clear();
    CAutoBaseLock lock(m_lock);
    Mapping map;
    if (m_hasStorage && Mapping::Make(plot, yMin, yMax, offset, zoom, m_frameLength, m_capacity, &map)) {
        low = DBL_MAX;
        high = -DBL_MAX;
        const auto add = [&](int xi, int64_t si) {
            const double v = SampleAt(map.IndexOf(si));
            low = std::min(low, v);
            high = std::max(high, v);
            points.push_back({map.left + xi, map.top + map.RowOf(v)});
        };
        if (map.last == 0) {
            // One visible sample: a flat line across the plot.
            add(0, 0);
            if (map.width > 1) points.push_back({map.left + map.width - 1, points.back().y});
        } else {
            // One point per sample when the plot is wider than the visible
            // samples, else one per pixel column with samples skipped.
            const double step = std::max(1.0, (map.width - 1) / static_cast<double>(map.last));
            for (int64_t k = 0;; ++k) {
                const double p = k * step;
                if (!(p < map.width)) break;
                const int xi = std::clamp(static_cast<int>(std::lround(p)), 0, map.width - 1);
                add(xi, std::clamp<int64_t>(std::llround(p * map.scale), 0, map.last));
            }
        }
        if (band && map.last + 1 > map.width) BuildBand(map, *band);
    }
    if (minimum) *minimum = low;
    if (maximum) *maximum = high;
}

bool CWaveBuffer::HitTest(const KRect& plot, double yMin, double yMax, int offset, double zoom, int x,
                          int* sampleIndex, double* value, int* y) const
{
    CAutoBaseLock lock(m_lock);
    Mapping map;
    if (!m_hasStorage || !Mapping::Make(plot, yMin, yMax, offset, zoom, m_frameLength, m_capacity, &map))
        return false;
    if (x < 0 || x >= map.width) return false;
    const int64_t si = std::clamp<int64_t>(std::llround(map.scale * x), 0, map.last);
    const size_t index = map.IndexOf(si);
    const double v = SampleAt(index);
    const int64_t shown = std::clamp(offset, 0, m_frameLength);
    if (sampleIndex) *sampleIndex = static_cast<int>((static_cast<int64_t>(index) + shown) % m_frameLength);
    if (value) *value = v;
    if (y) *y = map.RowOf(v);
    return true;
}

int CWaveBuffer::GetFrameLength() const
{
    CAutoBaseLock lock(m_lock);
    return m_frameLength;
}

int CWaveBuffer::GetFrameCount() const
{
    CAutoBaseLock lock(m_lock);
    return m_frameCount;
}

bool CWaveBuffer::HasStorage() const
{
    CAutoBaseLock lock(m_lock);
    return m_hasStorage;
}

std::vector<double> CWaveBuffer::CopySamples() const
{
    CAutoBaseLock lock(m_lock);
    std::vector<double> samples(m_hasStorage ? m_capacity : 0);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = SampleAt(i);
    return samples;
}

size_t CWaveBuffer::PendingSampleCount() const
{
    CAutoBaseLock lock(m_lock);
    return m_pending.size();
}

size_t CWaveBuffer::AllocatedBytes() const
{
    CAutoBaseLock lock(m_lock);
    return (m_ring.capacity() + m_pending.capacity()) * sizeof(double);
}

size_t CWaveBuffer::Capacity() const
{
    return static_cast<size_t>(m_frameLength) * static_cast<size_t>(m_frameCount);
}

void CWaveBuffer::ResizeStorage(size_t capacity, bool keepOldest)
{
    // Keeping the oldest samples puts zeros after them, which the held
    // newest part cannot express: the kept part is laid out in full.
    std::vector<double> kept;
    if (keepOldest && !m_ring.empty()) {
        try {
            kept.assign(capacity, 0.0);
            for (size_t i = 0, count = std::min(capacity, m_capacity); i < count; ++i) kept[i] = SampleAt(i);
        } catch (const std::bad_alloc&) {
            kept.clear();  // no room for the larger storage: it starts out as zeros
        } catch (const std::length_error&) {
            kept.clear();
        }
    }
    m_ring.swap(kept);
    m_head = 0;
    m_capacity = capacity;
    m_hasStorage = true;
    m_pending.clear();
}

bool CWaveBuffer::Reserve(size_t count)
{
    try {
        m_ring.reserve(count);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

void CWaveBuffer::StoreNewest(const double* samples, size_t count)
{
    if (count == 0 || m_capacity == 0) return;
    const size_t held = m_ring.size();
    if (held < m_capacity) {
        // Still filling: the held samples are the newest, in order.
        if (held + count <= m_capacity) {
            // Grows geometrically, never beyond the storage size.
            if (m_ring.capacity() < held + count &&
                !Reserve(std::min(m_capacity, std::max(held + count, 2 * m_ring.capacity()))))
                return;  // no memory: the samples are dropped
            m_ring.insert(m_ring.end(), samples, samples + count);
            return;
        }
        // The storage fills up: the last m_capacity of held and new samples.
        std::vector<double> full;
        try {
            full.reserve(m_capacity);
        } catch (const std::bad_alloc&) {
            return;
        }
        const size_t fromHeld = count >= m_capacity ? 0 : m_capacity - count;
        full.insert(full.end(), m_ring.end() - static_cast<ptrdiff_t>(fromHeld), m_ring.end());
        full.insert(full.end(), samples + (count - (m_capacity - fromHeld)), samples + count);
        m_ring.swap(full);
        m_head = 0;
        return;
    }
    if (count >= m_capacity) {
        std::copy(samples + (count - m_capacity), samples + count, m_ring.begin());
        m_head = 0;
        return;
    }
    // A full ring: the newest samples overwrite the oldest, which start at the head.
    const size_t first = std::min(count, m_capacity - m_head);
    std::copy(samples, samples + first, m_ring.begin() + static_cast<ptrdiff_t>(m_head));
    std::copy(samples + first, samples + count, m_ring.begin());
    m_head = (m_head + count) % m_capacity;
}

size_t CWaveBuffer::ZeroCount() const
{
    return m_capacity - m_ring.size();
}

double CWaveBuffer::SampleAt(size_t logicalIndex) const
{
    const size_t zeros = ZeroCount();
    if (logicalIndex < zeros) return 0.0;
    size_t physical = m_head + (logicalIndex - zeros);
    if (physical >= m_ring.size()) physical -= m_ring.size();
    return m_ring[physical];
}

void CWaveBuffer::MinMaxOf(size_t first, size_t last, double* low, double* high) const
{
    double lo = DBL_MAX, hi = -DBL_MAX;
    const size_t zeros = ZeroCount();
    if (first < zeros) {
        lo = hi = 0.0;
        first = zeros;
    }
    const auto scan = [&](size_t from, size_t to) {  // physical, inclusive
        for (size_t i = from; i <= to; ++i) {
            lo = std::min(lo, m_ring[i]);
            hi = std::max(hi, m_ring[i]);
        }
    };
    if (first <= last) {
        const size_t size = m_ring.size();
        const size_t from = (m_head + first - zeros) % size;
        const size_t to = (m_head + last - zeros) % size;
        if (from <= to) {
            scan(from, to);
        } else {
            scan(from, size - 1);
            scan(0, to);
        }
    }
    *low = lo;
    *high = hi;
}

void CWaveBuffer::BuildBand(const Mapping& map, std::vector<WaveColumn>& band) const
{
    // Column x covers the samples whose position si / scale rounds to x.
    band.reserve(static_cast<size_t>(map.width));
    for (int x = 0; x < map.width; ++x) {
        const int64_t lo = std::clamp<int64_t>(static_cast<int64_t>(std::ceil((x - 0.5) * map.scale)), 0, map.last);
        const int64_t hi = std::clamp<int64_t>(static_cast<int64_t>(std::ceil((x + 0.5) * map.scale)) - 1, lo, map.last);
        double low = 0.0, high = 0.0;
        MinMaxOf(map.IndexOf(lo), map.IndexOf(hi), &low, &high);
        band.push_back({map.left + x, map.top + map.RowOf(high), map.top + map.RowOf(low)});
    }
}

#include "charts/WaveBuffer.h"

#include <algorithm>
#include <array>
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
    bool flat = false;   // no usable value span: every sample on the middle row
    int64_t base = 0;    // storage index of the first visible sample
    int64_t last = 0;    // visible samples - 1
    double scale = 0.0;  // samples per pixel column
    size_t capacity = 0;

    static bool Make(const KRect& plot, double yMin, double yMax, int offset, double zoom,
                     int frameLength, size_t capacity, Mapping* map) {
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

        double visible =
            std::isfinite(zoom) && zoom > 0.0 ? std::trunc(frameLength / zoom) : frameLength;
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
    int RowOf(double value) const {
        if (flat) return (height - 1) / 2;
        double row = height * (yMax - value) / span;
        if (!(row > 0.0)) row = 0.0;
        if (row > height - 1) row = height - 1;
        return static_cast<int>(std::lround(row));
    }

    // Storage index of visible sample si (0 <= si <= last).
    size_t IndexOf(int64_t si) const {
        return static_cast<size_t>(
            std::min<int64_t>(base + si, static_cast<int64_t>(capacity) - 1));
    }
};

void CWaveBuffer::CreateStorage() {
    CAutoBaseLock lock(m_lock);
    if (!m_hasStorage || m_capacity != Capacity()) ResizeStorage(Capacity(), false);
}

void CWaveBuffer::SetFrameLength(int frameLength) {
    CAutoBaseLock lock(m_lock);
    m_frameLength = std::max(frameLength, 0);
    if ((m_hasStorage ? m_capacity : 0) != Capacity()) ResizeStorage(Capacity(), false);
}

void CWaveBuffer::SetFrameCount(int frameCount) {
    CAutoBaseLock lock(m_lock);
    frameCount = std::max(frameCount, 0);
    if (frameCount == m_frameCount) return;
    m_frameCount = frameCount;
    if ((m_hasStorage ? m_capacity : 0) != Capacity()) ResizeStorage(Capacity(), true);
}

void CWaveBuffer::SetWholeFrames(bool wholeFramesOnly) {
    CAutoBaseLock lock(m_lock);
    m_wholeFramesOnly = wholeFramesOnly;
}

void CWaveBuffer::Append(const double* samples, int n) {
    if (!samples || n <= 0) return;
    CAutoBaseLock lock(m_lock);
    AppendLocked(samples, n);
}

void CWaveBuffer::AppendRevisedFrame(const double* frame, int n, int changedPosition) {
    if (!frame || n <= 0) return;
    CAutoBaseLock lock(m_lock);
    if (!CanRevise(n, changedPosition)) {
        AppendLocked(frame, n);
        return;
    }
    if (!m_revising && OlderFramesAreZeros()) EnterRevisions();
    const size_t position = static_cast<size_t>(changedPosition);
    CountAppended(n);
    if (m_revising) {
        LogRevision(changedPosition, m_newest[position]);
        m_newest[position] = frame[position];
        m_frames.erase(m_frames.begin());
        m_frames.push_back(m_revisionCount);
        return;
    }
    const double previous = SampleAt(m_capacity - static_cast<size_t>(m_frameLength) + position);
    if (!StoreNewest(frame, static_cast<size_t>(n))) {
        ForgetRevisions();
        return;
    }
    LogRevision(changedPosition, previous);
    // Frees the older frames as soon as the log can stand for them.
    if (OlderFramesAreZeros()) EnterRevisions();
}

void CWaveBuffer::AppendLocked(const double* samples, int n) {
    if (m_frameLength <= 0 || !m_hasStorage) return;
    CountAppended(n);
    LeaveRevisions();
    LayOutLevel();

    // Pending samples go first, then the new ones up to the last whole
    // frame (or all of them); only what is left over is copied to pending,
    // so a frame appended whole never passes through it.
    const size_t waiting = m_pending.size();
    const size_t total = waiting + static_cast<size_t>(n);
    const size_t ready =
        m_wholeFramesOnly ? total - total % static_cast<size_t>(m_frameLength) : total;
    if (ready == 0) {
        m_pending.insert(m_pending.end(), samples, samples + n);
        return;
    }
    // ready >= waiting: what waits is less than a frame, ready whole frames.
    const bool storedWaiting = StoreNewest(m_pending.data(), waiting);
    const size_t taken = ready - waiting;
    const bool storedNew = StoreNewest(samples, taken);
    m_pending.assign(samples + taken, samples + n);
    // A frame appended whole and alone is what later revisions start from.
    m_newestIsLastFrame = storedWaiting && storedNew && waiting == 0 && n == m_frameLength &&
                          FitsRevisionForm(m_capacity);
}

void CWaveBuffer::CountAppended(int n) {
    const int64_t counted = m_remainder + n;
    m_nTotalFrames.fetch_add(counted / m_frameLength, std::memory_order_relaxed);
    m_remainder = counted % m_frameLength;
}

void CWaveBuffer::Clear() {
    CAutoBaseLock lock(m_lock);
    ClearLocked();
}

void CWaveBuffer::ClearLocked() {
    m_remainder = 0;
    ForgetRevisions();
    m_hasLevel = false;
    // Zero samples need no memory: the ring goes back to its unallocated,
    // all-zero state until the next append.
    std::vector<double>().swap(m_ring);
    m_head = 0;
    m_trailingZeros = 0;
    m_pending.clear();
}

void CWaveBuffer::SetLevelFrame(double value) {
    CAutoBaseLock lock(m_lock);
    ClearLocked();
    // Where Append would drop the frame, or keep none of it.
    if (m_frameLength <= 0 || !m_hasStorage) return;
    CountAppended(m_frameLength);
    const size_t length = static_cast<size_t>(m_frameLength);
    if (m_capacity < length) return;
    m_hasLevel = true;
    m_level = value;
    m_levelFirst = m_capacity - length;
    m_levelCount = length;
}

// Before samples are appended after a level frame: its samples, laid out
// as an append would have left them.
void CWaveBuffer::LayOutLevel() {
    if (!m_hasLevel) return;
    m_hasLevel = false;
    m_head = 0;
    m_trailingZeros = 0;
    try {
        m_ring.assign(m_levelCount, m_level);
    } catch (const std::bad_alloc&) {
        m_ring.clear();  // no room: the level reads as zeros
        return;
    }
    m_trailingZeros = m_capacity - m_levelFirst - m_levelCount;
}

void CWaveBuffer::BuildPoints(const KRect& plot, double yMin, double yMax, int offset, double zoom,
                              std::vector<WavePoint>& points, double* minimum, double* maximum,
                              std::vector<WaveColumn>* band) const {
    double low = 0.0, high = 0.0;
    if (band) band->clear();
    CAutoBaseLock lock(m_lock);
    Mapping map;
    if (m_hasStorage &&
        Mapping::Make(plot, yMin, yMax, offset, zoom, m_frameLength, m_capacity, &map)) {
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

bool CWaveBuffer::HitTest(const KRect& plot, double yMin, double yMax, int offset, double zoom,
                          int x, int* sampleIndex, double* value, int* y) const {
    CAutoBaseLock lock(m_lock);
    Mapping map;
    if (!m_hasStorage ||
        !Mapping::Make(plot, yMin, yMax, offset, zoom, m_frameLength, m_capacity, &map))
        return false;
    if (x < 0 || x >= map.width) return false;
    const int64_t si = std::clamp<int64_t>(std::llround(map.scale * x), 0, map.last);
    const size_t index = map.IndexOf(si);
    const double v = SampleAt(index);
    const int64_t shown = std::clamp(offset, 0, m_frameLength);
    if (sampleIndex)
        *sampleIndex = static_cast<int>((static_cast<int64_t>(index) + shown) % m_frameLength);
    if (value) *value = v;
    if (y) *y = map.RowOf(v);
    return true;
}

int CWaveBuffer::GetFrameLength() const {
    CAutoBaseLock lock(m_lock);
    return m_frameLength;
}

int CWaveBuffer::GetFrameCount() const {
    CAutoBaseLock lock(m_lock);
    return m_frameCount;
}

bool CWaveBuffer::HasStorage() const {
    CAutoBaseLock lock(m_lock);
    return m_hasStorage;
}

std::vector<double> CWaveBuffer::CopySamples() const {
    CAutoBaseLock lock(m_lock);
    std::vector<double> samples(m_hasStorage ? m_capacity : 0);
    CopyLogical(0, samples.size(), samples.data());
    return samples;
}

size_t CWaveBuffer::PendingSampleCount() const {
    CAutoBaseLock lock(m_lock);
    return m_pending.size();
}

size_t CWaveBuffer::AllocatedBytes() const {
    CAutoBaseLock lock(m_lock);
    return (m_ring.capacity() + m_pending.capacity() + m_newest.capacity()) * sizeof(double) +
           m_revisions.capacity() * sizeof(Revision) + m_frames.capacity() * sizeof(int64_t);
}

size_t CWaveBuffer::Capacity() const {
    return static_cast<size_t>(m_frameLength) * static_cast<size_t>(m_frameCount);
}

void CWaveBuffer::ResizeStorage(size_t capacity, bool keepOldest) {
    if (keepOldest && m_newestIsLastFrame && !m_revising && OlderFramesAreZeros()) EnterRevisions();
    if (keepOldest && m_revising && FitsRevisionForm(capacity)) {
        // Whole frames kept, zero frames after them: the revisions go on.
        m_frames.resize(capacity / static_cast<size_t>(m_frameLength), kZeroFrame);
        m_capacity = capacity;
        m_pending.clear();
        return;
    }
    if (keepOldest)
        LeaveRevisions();
    else
        ForgetRevisions();
    // The level frame stays where it is, as appended samples would, as far
    // as the new size reaches.
    if (m_hasLevel && keepOldest && m_levelFirst < capacity)
        m_levelCount = std::min(m_levelCount, capacity - m_levelFirst);
    else
        m_hasLevel = false;
    // Only what was appended is laid out: the zeros before it stay leading
    // zeros, the zeros after it trailing zeros.
    std::vector<double> kept;
    size_t leading = 0;
    if (keepOldest && m_hasStorage) {
        const size_t count = std::min(capacity, m_capacity);
        leading = std::min(LeadingZeroCount(), count);
        const size_t end = std::min(count, HeldEnd());
        if (end > leading) {
            try {
                kept.resize(end - leading);
                CopyLogical(leading, kept.size(), kept.data());
            } catch (const std::bad_alloc&) {
                kept.clear();  // no room for the kept samples: the storage starts out as zeros
            }
        }
    }
    m_ring.swap(kept);
    m_head = 0;
    m_capacity = capacity;
    m_trailingZeros = m_ring.empty() ? 0 : capacity - leading - m_ring.size();
    m_hasStorage = true;
    m_pending.clear();
}

bool CWaveBuffer::Reserve(size_t count) {
    try {
        m_ring.reserve(count);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

// False when there was no memory for the samples: they are dropped.
bool CWaveBuffer::StoreNewest(const double* samples, size_t count) {
    if (count == 0 || m_capacity == 0) return true;
    if (m_trailingZeros > 0) FoldTrailingZeros(count);
    const size_t held = m_ring.size();
    if (held < m_capacity) {
        // Still filling: the held samples are the newest, in order.
        if (held + count <= m_capacity) {
            // Grows geometrically, never beyond the storage size.
            if (m_ring.capacity() < held + count &&
                !Reserve(std::min(m_capacity, std::max(held + count, 2 * m_ring.capacity()))))
                return false;
            m_ring.insert(m_ring.end(), samples, samples + count);
            return true;
        }
        // The storage fills up: the last m_capacity of held and new samples.
        std::vector<double> full;
        try {
            full.reserve(m_capacity);
        } catch (const std::bad_alloc&) {
            return false;
        }
        const size_t fromHeld = count >= m_capacity ? 0 : m_capacity - count;
        full.insert(full.end(), m_ring.end() - static_cast<ptrdiff_t>(fromHeld), m_ring.end());
        full.insert(full.end(), samples + (count - (m_capacity - fromHeld)), samples + count);
        m_ring.swap(full);
        m_head = 0;
        return true;
    }
    if (count >= m_capacity) {
        std::copy(samples + (count - m_capacity), samples + count, m_ring.begin());
        m_head = 0;
        return true;
    }
    // A full ring: the newest samples overwrite the oldest, which start at the head.
    const size_t first = std::min(count, m_capacity - m_head);
    std::copy(samples, samples + first, m_ring.begin() + static_cast<ptrdiff_t>(m_head));
    std::copy(samples + first, samples + count, m_ring.begin());
    m_head = (m_head + count) % m_capacity;
    return true;
}

// Lays out the trailing zeros that `incoming` samples push between the held
// ones and themselves; zeros pushed to the front stay leading zeros.
void CWaveBuffer::FoldTrailingZeros(size_t incoming) {
    const size_t staying = incoming >= m_capacity ? 0 : m_capacity - incoming;
    const size_t zeros = m_trailingZeros;
    m_trailingZeros = 0;
    std::vector<double> laid;
    if (staying > zeros) {
        const size_t fromHeld = std::min(staying - zeros, m_ring.size());
        try {
            laid.reserve(std::min(m_capacity, fromHeld + zeros + incoming));
            for (size_t i = m_ring.size() - fromHeld; i < m_ring.size(); ++i)
                laid.push_back(m_ring[(m_head + i) % m_ring.size()]);
            laid.resize(fromHeld + zeros, 0.0);
        } catch (const std::bad_alloc&) {
            laid.clear();  // no room: what stays reads as zeros
        }
    }
    m_ring.swap(laid);
    m_head = 0;
}

// Leading zeros and HeldEnd describe the literal storage only.
size_t CWaveBuffer::LeadingZeroCount() const {
    return m_capacity - m_ring.size() - m_trailingZeros;
}

size_t CWaveBuffer::HeldEnd() const { return m_capacity - m_trailingZeros; }

double CWaveBuffer::SampleAt(size_t logicalIndex) const {
    if (m_revising) {
        const size_t length = static_cast<size_t>(m_frameLength);
        const int64_t stamp = m_frames[logicalIndex / length];
        return stamp == kZeroFrame ? 0.0 : RevisedValue(AgeOf(stamp), logicalIndex % length);
    }
    if (m_hasLevel)
        return logicalIndex >= m_levelFirst && logicalIndex - m_levelFirst < m_levelCount ? m_level
                                                                                          : 0.0;
    const size_t zeros = LeadingZeroCount();
    if (logicalIndex < zeros || logicalIndex >= HeldEnd()) return 0.0;
    size_t physical = m_head + (logicalIndex - zeros);
    if (physical >= m_ring.size()) physical -= m_ring.size();
    return m_ring[physical];
}

void CWaveBuffer::CopyLogical(size_t first, size_t count, double* out) const {
    if (!m_revising) {
        for (size_t i = 0; i < count; ++i) out[i] = SampleAt(first + i);
        return;
    }
    // Frame by frame: the newest frame's samples, then the revisions undone
    // from the newest back, so the oldest revision of a position has its say.
    const size_t length = static_cast<size_t>(m_frameLength);
    for (size_t done = 0; done < count;) {
        const size_t index = first + done;
        const size_t from = index % length;
        const size_t chunk = std::min(count - done, length - from);
        const int64_t stamp = m_frames[index / length];
        double* to = out + done;
        if (stamp == kZeroFrame) {
            std::fill(to, to + chunk, 0.0);
        } else {
            std::copy(m_newest.begin() + static_cast<ptrdiff_t>(from),
                      m_newest.begin() + static_cast<ptrdiff_t>(from + chunk), to);
            for (size_t age = AgeOf(stamp), k = 0; k < age; ++k) {
                const Revision& revision = RevisionAt(k);
                const size_t position = static_cast<size_t>(revision.position);
                if (position >= from && position < from + chunk)
                    to[position - from] = revision.previous;
            }
        }
        done += chunk;
    }
}

void CWaveBuffer::MinMaxOf(size_t first, size_t last, double* low, double* high) const {
    double lo = DBL_MAX, hi = -DBL_MAX;
    if (m_revising) {
        MinMaxOfRevised(first, last, &lo, &hi);
    } else if (m_hasLevel) {
        MinMaxOfLevel(first, last, &lo, &hi);
    } else {
        const size_t zeros = LeadingZeroCount();
        const size_t end = HeldEnd();
        if (first < zeros || last >= end) lo = hi = 0.0;
        first = std::max(first, zeros);
        if (end > first) last = std::min(last, end - 1);
        if (end > first && first <= last) MinMaxOfRing(first, last, &lo, &hi);
    }
    *low = lo;
    *high = hi;
}

// Widens low and high by the samples first..last (logical, inclusive) of
// the revision form, frame by frame.
void CWaveBuffer::MinMaxOfRevised(size_t first, size_t last, double* low, double* high) const {
    const size_t length = static_cast<size_t>(m_frameLength);
    for (size_t from = first; from <= last;) {
        const size_t frameStart = from / length * length;
        const size_t to = std::min(last, frameStart + length - 1);
        const int64_t stamp = m_frames[from / length];
        if (stamp == kZeroFrame) {
            *low = std::min(*low, 0.0);
            *high = std::max(*high, 0.0);
        } else {
            MinMaxInRevisedFrame(AgeOf(stamp), from - frameStart, to - frameStart, low, high);
        }
        from = to + 1;
    }
}

// Widens low and high by the samples first..last (logical, inclusive) of a
// level frame and the zeros around it.
void CWaveBuffer::MinMaxOfLevel(size_t first, size_t last, double* low, double* high) const {
    const size_t end = m_levelFirst + m_levelCount;
    const auto take = [&](double value) {
        *low = std::min(*low, value);
        *high = std::max(*high, value);
    };
    if (first < m_levelFirst || last >= end) take(0.0);
    if (first < end && last >= m_levelFirst) take(m_level);
}

// Widens low and high by the held samples first..last (logical, inclusive).
void CWaveBuffer::MinMaxOfRing(size_t first, size_t last, double* low, double* high) const {
    const auto scan = [&](size_t from, size_t to) {  // physical, inclusive
        for (size_t i = from; i <= to; ++i) {
            *low = std::min(*low, m_ring[i]);
            *high = std::max(*high, m_ring[i]);
        }
    };
    const size_t zeros = LeadingZeroCount();
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

// Widens low and high by positions from..to of the frame `age` steps older
// than the newest: the newest frame's samples except where a revision since
// then wrote, and the values those revisions overwrote.
void CWaveBuffer::MinMaxInRevisedFrame(size_t age, size_t from, size_t to, double* low,
                                       double* high) const {
    std::array<size_t, kMaxRevisedFrames> patched{};
    size_t count = 0;
    for (size_t k = 0; k < age; ++k) {
        const size_t position = static_cast<size_t>(RevisionAt(k).position);
        if (position >= from && position <= to) patched[count++] = position;
    }
    std::sort(patched.begin(), patched.begin() + static_cast<ptrdiff_t>(count));
    count = static_cast<size_t>(
        std::unique(patched.begin(), patched.begin() + static_cast<ptrdiff_t>(count)) -
        patched.begin());
    const auto take = [&](double value) {
        *low = std::min(*low, value);
        *high = std::max(*high, value);
    };
    const auto scan = [&](size_t begin, size_t end) {  // half open
        for (size_t i = begin; i < end; ++i) take(m_newest[i]);
    };
    size_t next = from;
    for (size_t i = 0; i < count; ++i) {
        scan(next, patched[i]);
        take(RevisedValue(age, patched[i]));
        next = patched[i] + 1;
    }
    scan(next, to + 1);
}

bool CWaveBuffer::CanRevise(int n, int changedPosition) const {
    return m_newestIsLastFrame && n == m_frameLength && m_pending.empty() && changedPosition >= 0 &&
           changedPosition < m_frameLength;
}

bool CWaveBuffer::FitsRevisionForm(size_t capacity) const {
    const size_t length = static_cast<size_t>(m_frameLength);
    return length > 0 && capacity >= length &&
           capacity / length - 1 <= static_cast<size_t>(kMaxRevisedFrames);
}

size_t CWaveBuffer::StoredFrames() const {
    return m_frameLength > 0 ? m_capacity / static_cast<size_t>(m_frameLength) : 0;
}

size_t CWaveBuffer::AgeOf(int64_t stamp) const {
    return static_cast<size_t>(m_revisionCount - stamp);
}

// The revision `age` revisions before the newest (0: the newest).
const CWaveBuffer::Revision& CWaveBuffer::RevisionAt(size_t age) const {
    const size_t room = m_revisions.size();
    return m_revisions[(m_revisionHead + room - age) % room];
}

void CWaveBuffer::LogRevision(int position, double previous) {
    // The oldest entry falls out: no frame kept in storage is that old. The
    // revision form starts with at most kMaxRevisedFrames + 1 frames, the one
    // k places from the oldest at most kMaxRevisedFrames - k revisions old; a
    // revision ages every frame by one and moves it one place to the front,
    // and frame count changes move none, so each frame leaves the storage
    // before the log forgets what it needs.
    constexpr size_t room = kMaxRevisedFrames;
    if (m_revisions.size() != room) m_revisions.assign(room, Revision{});
    m_revisionHead = (m_revisionHead + 1) % room;
    m_revisions[m_revisionHead] = {position, previous};
    ++m_revisionCount;
}

double CWaveBuffer::RevisedValue(size_t age, size_t position) const {
    double value = m_newest[position];
    for (size_t k = 0; k < age; ++k) {
        const Revision& revision = RevisionAt(k);
        if (static_cast<size_t>(revision.position) == position) value = revision.previous;
    }
    return value;
}

// Whether the frames of the literal storage older than the log reaches are
// all zeros, so the newest frame and the log can stand for the whole storage.
bool CWaveBuffer::OlderFramesAreZeros() const {
    const size_t older = StoredFrames() - 1;
    const size_t uncovered = older - std::min<size_t>(older, static_cast<size_t>(m_revisionCount));
    return LeadingZeroCount() >= uncovered * static_cast<size_t>(m_frameLength);
}

void CWaveBuffer::EnterRevisions() {
    const size_t length = static_cast<size_t>(m_frameLength);
    const size_t frames = StoredFrames();
    std::vector<double> newest;
    try {
        newest.resize(length);
    } catch (const std::bad_alloc&) {
        return;  // stays literal; the next revision tries again
    }
    CopyLogical(m_capacity - length, length, newest.data());
    // The frame `age` steps older than the newest was the newest `age`
    // revisions ago.
    m_frames.assign(frames, kZeroFrame);
    const size_t covered = std::min<size_t>(frames - 1, static_cast<size_t>(m_revisionCount));
    for (size_t age = 0; age <= covered; ++age)
        m_frames[frames - 1 - age] = m_revisionCount - static_cast<int64_t>(age);
    m_newest.swap(newest);
    std::vector<double>().swap(m_ring);
    m_head = 0;
    m_trailingZeros = 0;
    m_revising = true;
}

// Back to the literal storage, which anything but a revision needs; zero
// frames before and after the others stay unlaid.
void CWaveBuffer::LeaveRevisions() {
    if (m_revising) {
        const auto isHeld = [](int64_t stamp) { return stamp != kZeroFrame; };
        const auto firstHeld = std::find_if(m_frames.begin(), m_frames.end(), isHeld);
        const auto lastHeld = std::find_if(m_frames.rbegin(), m_frames.rend(), isHeld);
        const size_t length = static_cast<size_t>(m_frameLength);
        const size_t begin = static_cast<size_t>(firstHeld - m_frames.begin()) * length;
        const size_t end = static_cast<size_t>(m_frames.rend() - lastHeld) * length;
        std::vector<double> held;
        try {
            if (end > begin) {
                held.resize(end - begin);
                CopyLogical(begin, held.size(), held.data());
            }
        } catch (const std::bad_alloc&) {
            held.clear();  // no room to lay the frames out: they read as zeros
        }
        m_ring.swap(held);
        m_head = 0;
        m_trailingZeros = m_ring.empty() ? 0 : m_capacity - end;
    }
    ForgetRevisions();
}

// Drops the revision state, and with it storage held in revision form.
void CWaveBuffer::ForgetRevisions() {
    m_newestIsLastFrame = false;
    m_revising = false;
    std::vector<double>().swap(m_newest);
    std::vector<Revision>().swap(m_revisions);
    std::vector<int64_t>().swap(m_frames);
    m_revisionHead = 0;
    m_revisionCount = 0;
}

void CWaveBuffer::BuildBand(const Mapping& map, std::vector<WaveColumn>& band) const {
    // Column x covers the samples whose position si / scale rounds to x.
    band.reserve(static_cast<size_t>(map.width));
    for (int x = 0; x < map.width; ++x) {
        const int64_t lo = std::clamp<int64_t>(
            static_cast<int64_t>(std::ceil((x - 0.5) * map.scale)), 0, map.last);
        const int64_t hi = std::clamp<int64_t>(
            static_cast<int64_t>(std::ceil((x + 0.5) * map.scale)) - 1, lo, map.last);
        double low = 0.0, high = 0.0;
        MinMaxOf(map.IndexOf(lo), map.IndexOf(hi), &low, &high);
        band.push_back({map.left + x, map.top + map.RowOf(high), map.top + map.RowOf(low)});
    }
}

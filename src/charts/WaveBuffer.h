// The samples of one chart curve: a sliding window of the newest samples,
// organised in frames, fed from acquisition threads and read by the chart
// when it paints or looks up the value under the pointer. Besides storage it
// maps the visible samples to plot pixels (BuildPoints) and a plot column
// back to a sample (HitTest).
//
// Plain C++: no windowing. Rectangles are the common library's KRect (right
// and bottom exclusive, client coordinates); only the struct is used here.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/KVEL_Common.h"
#include "common/KVEL_CommonDraw.h"

// One polyline point in client coordinates.
struct WavePoint {
    int x = 0;
    int y = 0;
    bool operator==(const WavePoint&) const = default;
};

// One plot column of the min-max band: every visible sample that falls on
// column x lies between rows top (largest value) and bottom (smallest value),
// both inclusive, client coordinates.
struct WaveColumn {
    int x = 0;
    int top = 0;
    int bottom = 0;
    bool operator==(const WaveColumn&) const = default;
};

class CWaveBuffer {
public:
    static constexpr int kDefaultFrameLength = 1024;
    static constexpr int kDefaultFrameCount = 2;

    CWaveBuffer() = default;
    virtual ~CWaveBuffer() = default;
    CWaveBuffer(const CWaveBuffer&) = delete;
    CWaveBuffer& operator=(const CWaveBuffer&) = delete;

    // Gives the buffer storage of frame length x frame count zero samples
    // when it has none of that size (and then empties pending).
    void CreateStorage();
    // Both resize the storage (zero samples; SetFrameCount keeps the oldest
    // samples that still fit) and empty pending when the size changes.
    void SetFrameLength(int frameLength);
    void SetFrameCount(int frameCount);
    // With whole frames only, samples reach storage only in whole frames and
    // a trailing partial frame waits in pending.
    void SetWholeFrames(bool wholeFramesOnly);

    // Appends n samples; the oldest fall out. Any thread. Dropped (and not
    // counted) while the buffer has no storage.
    void Append(const double* samples, int n);
    // Appends a whole frame, as Append(frame, n) does, for callers that append
    // one series again and again: the caller vouches that `frame` equals the
    // samples of its previous append except at `changedPosition`. Runs in
    // constant time while nothing but new frame counts has changed the buffer
    // since that append; otherwise it appends the frame in full. So do the
    // first frame count - 1 revisions after such a change when the older
    // frames held anything but zeros: only then can the newest frame and the
    // log stand for them.
    void AppendRevisedFrame(const double* frame, int n, int changedPosition);
    // Zeroes the samples and empties pending; total frames stays.
    void Clear();
    // A flat line: reads exactly as Clear() followed by Append of one frame
    // of `value` (and counts that frame), but holds no samples. Frame count
    // changes keep it as they keep appended samples; the next append lays it
    // out as samples first.
    void SetLevelFrame(double value);

    // Appends to `points` the polyline of the visible samples in `plot`
    // (yMax at the top row, yMin at the bottom row) and reports the smallest
    // and largest sample read for it (both 0 without storage). With `band`,
    // also fills it with the min-max column band when more samples are
    // visible than the plot has columns (otherwise it is left empty).
    void BuildPoints(const KRect& plot, double yMin, double yMax, int offset, double zoom,
                     std::vector<WavePoint>& points, double* minimum, double* maximum,
                     std::vector<WaveColumn>* band = nullptr) const;
    // The sample under column x (relative to the plot's left edge): its
    // position in the frame, its value and its row relative to the plot's
    // top. False outside the plot or without storage.
    bool HitTest(const KRect& plot, double yMin, double yMax, int offset, double zoom, int x,
                 int* sampleIndex, double* value, int* y) const;

    // Complete frames ever appended (from the appended sample counts).
    // Callers read and reset it without the lock.
    std::atomic<int64_t> m_nTotalFrames{0};

    // Views for the window and for tests.
    int GetFrameLength() const;
    int GetFrameCount() const;
    bool HasStorage() const;
    // The samples, oldest first (zeros where nothing was appended).
    std::vector<double> CopySamples() const;
    size_t PendingSampleCount() const;
    // Bytes of sample memory actually held (storage, pending and the
    // revision log).
    size_t AllocatedBytes() const;

private:
    struct Mapping;
    // What one revision overwrote in the newest frame.
    struct Revision {
        int position = 0;
        double previous = 0.0;
    };
    // How far back the revision log reaches, and so how many frames older
    // than the newest the revision form holds: each revision back costs a
    // scan of the log per read, so longer histories stay literal.
    static constexpr int kMaxRevisedFrames = 64;
    static constexpr int64_t kZeroFrame = -1;

    size_t Capacity() const;
    void ResizeStorage(size_t capacity, bool keepOldest);
    void AppendLocked(const double* samples, int n);
    void ClearLocked();
    void LayOutLevel();
    void MinMaxOfLevel(size_t first, size_t last, double* low, double* high) const;
    void CountAppended(int n);
    bool Reserve(size_t count);
    bool StoreNewest(const double* samples, size_t count);
    void FoldTrailingZeros(size_t incoming);
    size_t LeadingZeroCount() const;
    size_t HeldEnd() const;
    double SampleAt(size_t logicalIndex) const;
    void CopyLogical(size_t first, size_t count, double* out) const;
    void MinMaxOf(size_t first, size_t last, double* low, double* high) const;
    void MinMaxOfRing(size_t first, size_t last, double* low, double* high) const;
    void MinMaxOfRevised(size_t first, size_t last, double* low, double* high) const;
    void MinMaxInRevisedFrame(size_t age, size_t from, size_t to, double* low, double* high) const;

    bool CanRevise(int n, int changedPosition) const;
    bool FitsRevisionForm(size_t capacity) const;
    size_t StoredFrames() const;
    size_t AgeOf(int64_t stamp) const;
    const Revision& RevisionAt(size_t age) const;
    void LogRevision(int position, double previous);
    double RevisedValue(size_t age, size_t position) const;
    bool OlderFramesAreZeros() const;
    void EnterRevisions();
    void LeaveRevisions();
    void ForgetRevisions();
    void BuildBand(const Mapping& map, std::vector<WaveColumn>& band) const;

    mutable CBaseLock m_lock;
    int m_frameLength = kDefaultFrameLength;
    int m_frameCount = kDefaultFrameCount;
    bool m_wholeFramesOnly = false;
    // Whether the buffer has storage at all. Storage reads as zeros where
    // nothing has been appended yet, and those zeros hold no memory: a chart
    // keeps 256 curve slots, most of them never fed, and a capture fills
    // one frame of the two its curves keep.
    bool m_hasStorage = false;
    size_t m_capacity = 0;  // samples of storage (frame length x frame count)
    // The newest samples appended, at most m_capacity; the storage is
    // leading zeros, then them, then m_trailingZeros zeros. Once full it is a
    // ring whose oldest sample lies at m_head, so appending never moves the
    // others. Trailing zeros come from growing the frame count, which keeps
    // the oldest samples: zoomed out, a curve holds what was appended, not
    // the zeros after it.
    std::vector<double> m_ring;
    size_t m_head = 0;
    size_t m_trailingZeros = 0;

    // Revisions (AppendRevisedFrame). While m_newestIsLastFrame, the last
    // frame appended is known, and m_revisions holds what each revision since
    // then overwrote (the last kMaxRevisedFrames of m_revisionCount, newest at
    // m_revisionHead). The frame appended `age` revisions ago is the last one
    // with those revisions undone. At first the literal storage ends with the
    // last frame appended; once every frame in storage is such a frame or
    // zeros, m_revising holds the storage as m_newest (the last frame
    // appended), the log and m_frames (m_ring empty): per frame of storage,
    // oldest first, the m_revisionCount at which it was appended, or
    // kZeroFrame. Frame counts then change in place.
    bool m_newestIsLastFrame = false;
    bool m_revising = false;
    std::vector<double> m_newest;
    std::vector<Revision> m_revisions;
    std::vector<int64_t> m_frames;
    size_t m_revisionHead = 0;
    int64_t m_revisionCount = 0;
    std::vector<double> m_pending;
    int64_t m_remainder = 0;

    // The level frame (SetLevelFrame). While m_hasLevel the storage reads as
    // zeros but for m_levelCount samples of m_level from logical index
    // m_levelFirst on, and holds nothing: m_ring is empty and no revision
    // form is in use.
    bool m_hasLevel = false;
    double m_level = 0.0;
    size_t m_levelFirst = 0;
    size_t m_levelCount = 0;
};

#include "realtime/ReadingLoop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// A stream held in memory, handed out in chunks of the given sizes (the
// last size repeats); reads after the end say the source has ended.
class MemorySource : public IByteSource {
public:
    MemorySource(Bytes stream, std::vector<size_t> pieces)
        : m_stream(std::move(stream)), m_pieces(std::move(pieces)) {}
    int Read(uint8_t* buffer, size_t size) override {
        ++reads;
        if (m_at >= m_stream.size()) return -1;
        const size_t piece = m_pieces[std::min(m_next++, m_pieces.size() - 1)];
        const size_t count = std::min({piece, size, m_stream.size() - m_at});
        std::copy_n(m_stream.begin() + static_cast<long>(m_at), count, buffer);
        m_at += count;
        return static_cast<int>(count);
    }
    int reads = 0;

private:
    Bytes m_stream;
    std::vector<size_t> m_pieces;
    size_t m_at = 0;
    size_t m_next = 0;
};

// Records what reached it and, optionally, when the parser saw each report
// relative to the tap's bytes.
class Recorder : public IObjectReportListener, public IChunkTap {
public:
    void OnObjectReport(const uint8_t* payload) override {
        distances.push_back(DecodeObjectReport(payload).TargetDistance);
        tappedAtReport.push_back(tapped.size());
        if (stopAfter && distances.size() == stopAfter) stop->store(1);
    }
    bool OnChunk(const uint8_t* data, size_t size) override {
        if (failAfterBytes && tapped.size() + size > failAfterBytes) return false;
        tapped.insert(tapped.end(), data, data + size);
        return true;
    }
    std::vector<uint16_t> distances;
    std::vector<size_t> tappedAtReport;
    Bytes tapped;
    size_t stopAfter = 0;
    size_t failAfterBytes = 0;
    std::atomic<int>* stop = nullptr;
};

Bytes Stream(int reports) {
    Bytes stream = {0x00, 0xF4, 0x13};  // noise before the first frame
    for (int i = 0; i < reports; ++i) {
        ObjectReport report;
        report.TargetDistance = static_cast<uint16_t>(100 + i);
        Bytes frame(45);
        EncodeObjectReportFrame(report, frame.data());
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

TEST(ReadingLoopTest, TapGetsEveryByteBeforeTheParserAndTheSourceEndEndsTheLoop) {
    const Bytes stream = Stream(5);
    MemorySource source(stream, {7, 30, 1, 64});
    Recorder recorder;
    std::atomic<int> stop{0};
    ReadingLoop loop(&source, &recorder, &stop, 32, &recorder);

    EXPECT_EQ(loop.Run(), ReadingEnd::SourceEnded);
    EXPECT_EQ(recorder.tapped, stream);
    EXPECT_EQ(recorder.distances, (std::vector<uint16_t>{100, 101, 102, 103, 104}));
    // Each report's frame was in the tap's hands before the parser saw it.
    for (size_t i = 0; i < recorder.tappedAtReport.size(); ++i)
        EXPECT_GE(recorder.tappedAtReport[i], 3 + 45 * (i + 1));
    EXPECT_EQ(loop.Parser().BufferedBytes(), 0u);
}

TEST(ReadingLoopTest, StopFlagRaisedByTheListenerEndsTheLoopWithoutAnotherRead) {
    MemorySource source(Stream(10), {45 * 3});
    Recorder recorder;
    std::atomic<int> stop{0};
    recorder.stop = &stop;
    recorder.stopAfter = 2;
    ReadingLoop loop(&source, &recorder, &stop, 4096);

    EXPECT_EQ(loop.Run(), ReadingEnd::Stopped);
    // The parser stops between frames, the loop before the next read.
    EXPECT_EQ(recorder.distances.size(), 2u);
    EXPECT_EQ(source.reads, 1);
}

TEST(ReadingLoopTest, CallerConditionAndFailingTapEndTheLoop) {
    Recorder recorder;
    {
        MemorySource source(Stream(3), {10});
        ReadingLoop loop(&source, &recorder, nullptr, 64);
        int passes = 0;
        EXPECT_EQ(loop.Run([&] { return ++passes <= 2; }), ReadingEnd::Stopped);
        EXPECT_EQ(source.reads, 2);
    }
    {
        MemorySource source(Stream(3), {45});
        Recorder failing;
        failing.failAfterBytes = 60;  // the second chunk does not fit
        ReadingLoop loop(&source, &failing, nullptr, 64, &failing);
        EXPECT_EQ(loop.Run(), ReadingEnd::TapFailed);
        // A chunk the tap could not keep is not parsed either.
        EXPECT_EQ(failing.tapped.size(), 45u);
        EXPECT_TRUE(failing.distances.empty());
    }
}

// Zero-byte reads (a read time-out on the line) are waited through.
TEST(ReadingLoopTest, EmptyReadsAreRetried) {
    class Sometimes : public IByteSource {
    public:
        int Read(uint8_t* buffer, size_t size) override {
            if (++calls % 2 == 1) return 0;
            return inner.Read(buffer, size);
        }
        MemorySource inner{Stream(2), {45}};
        int calls = 0;
    } source;
    Recorder recorder;
    ReadingLoop loop(&source, &recorder, nullptr, 64);
    EXPECT_EQ(loop.Run(), ReadingEnd::SourceEnded);
    EXPECT_EQ(recorder.distances.size(), 2u);
}

}  // namespace

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "charts/WaveBuffer.h"

namespace {

std::vector<double> Ramp(int count, double first = 1.0) {
    std::vector<double> samples(static_cast<size_t>(count));
    std::iota(samples.begin(), samples.end(), first);
    return samples;
}

// A buffer of `frameLength` x 2 with storage, as a chart sets it up.
void Prepare(CWaveBuffer& buffer, int frameLength) {
    buffer.SetFrameLength(frameLength);
    buffer.SetFrameCount(2);
    buffer.CreateStorage();
}

constexpr KRect Plot(int left, int top, int width, int height) {
    return {left, top, left + width, top + height};
}

// Every view a chart can ask for, of two buffers that must read alike.
void ExpectSameReadings(const CWaveBuffer& literal, const CWaveBuffer& revised,
                        const std::string& step) {
    SCOPED_TRACE(step);
    ASSERT_EQ(literal.CopySamples(), revised.CopySamples());
    EXPECT_EQ(literal.PendingSampleCount(), revised.PendingSampleCount());
    EXPECT_EQ(literal.m_nTotalFrames, revised.m_nTotalFrames);
    const int length = literal.GetFrameLength();
    const KRect plot = Plot(3, 2, 13, 30);  // narrower than most views, so they get a band
    for (double zoom : {1.0, 0.5, 0.3, 0.125, 4.0}) {
        for (int offset : {0, 1, length / 2, length}) {
            std::vector<WavePoint> points[2];
            std::vector<WaveColumn> bands[2];
            double low[2] = {}, high[2] = {};
            literal.BuildPoints(plot, -40, 40, offset, zoom, points[0], &low[0], &high[0],
                                &bands[0]);
            revised.BuildPoints(plot, -40, 40, offset, zoom, points[1], &low[1], &high[1],
                                &bands[1]);
            ASSERT_EQ(points[0], points[1]) << "zoom " << zoom << " offset " << offset;
            ASSERT_EQ(bands[0], bands[1]) << "zoom " << zoom << " offset " << offset;
            EXPECT_EQ(low[0], low[1]);
            EXPECT_EQ(high[0], high[1]);
            for (int x = 0; x < 13; x += 4) {
                int index[2] = {}, y[2] = {};
                double value[2] = {};
                EXPECT_EQ(
                    literal.HitTest(plot, -40, 40, offset, zoom, x, &index[0], &value[0], &y[0]),
                    revised.HitTest(plot, -40, 40, offset, zoom, x, &index[1], &value[1], &y[1]));
                EXPECT_EQ(index[0], index[1]);
                EXPECT_EQ(value[0], value[1]);
            }
        }
    }
}

}  // namespace

TEST(WaveBuffer, WholeFramesWaitForTheRestOfTheFrameAndCountFrames) {
    CWaveBuffer buffer;
    Prepare(buffer, 16);
    buffer.SetWholeFrames(true);

    const std::vector<double> first = Ramp(20);
    buffer.Append(first.data(), 20);
    EXPECT_EQ(buffer.PendingSampleCount(), 4u);
    std::vector<double> samples = buffer.CopySamples();
    EXPECT_EQ(samples[15], 0.0);  // the older frame is still zero
    EXPECT_EQ(samples[16], 1.0);
    EXPECT_EQ(samples[31], 16.0);

    const std::vector<double> second = Ramp(12, 21);
    buffer.Append(second.data(), 12);
    EXPECT_EQ(buffer.PendingSampleCount(), 0u);
    EXPECT_EQ(buffer.m_nTotalFrames, 2);
    samples = buffer.CopySamples();
    EXPECT_EQ(samples, Ramp(32));  // 17..20 waited and arrived in order with 21..32

    // A capture: one whole frame goes straight to storage, nothing is held
    // in pending for it, and the older frame of zeros takes no memory.
    CWaveBuffer capture;
    Prepare(capture, 4096);
    capture.SetWholeFrames(true);
    const std::vector<double> frame = Ramp(4096);
    capture.Append(frame.data(), 4096);
    EXPECT_EQ(capture.AllocatedBytes(), 4096 * sizeof(double));
    EXPECT_EQ(capture.CopySamples()[4095], 0.0);
    EXPECT_EQ(capture.CopySamples()[4096], 1.0);
}

TEST(WaveBuffer, KeepsTheNewestSamplesAcrossWrapsAndOverflow) {
    CWaveBuffer buffer;
    Prepare(buffer, 4);  // capacity 8
    const std::vector<double> many = Ramp(21);
    buffer.Append(many.data(), 21);
    EXPECT_EQ(buffer.CopySamples(), Ramp(8, 14));

    // Small appends rotate the ring; the order stays oldest first.
    for (double v = 22; v <= 26; ++v) buffer.Append(&v, 1);
    EXPECT_EQ(buffer.CopySamples(), Ramp(8, 19));
    EXPECT_EQ(buffer.m_nTotalFrames, 6);  // 26 samples
}

TEST(WaveBuffer, ClearZeroesSamplesButKeepsTotalFramesAndReleasesMemory) {
    CWaveBuffer buffer;
    Prepare(buffer, 4);
    const std::vector<double> samples = Ramp(8);
    buffer.Append(samples.data(), 8);
    EXPECT_GT(buffer.AllocatedBytes(), 0u);
    buffer.Clear();
    EXPECT_EQ(buffer.CopySamples(), std::vector<double>(8, 0.0));
    EXPECT_EQ(buffer.m_nTotalFrames, 2);
    EXPECT_EQ(buffer.AllocatedBytes(), 0u);
}

TEST(WaveBuffer, StorageCostsNothingUntilFedAndAppendsWithoutStorageAreDropped) {
    CWaveBuffer fresh;
    const double v = 5.0;
    fresh.Append(&v, 1);  // no storage yet: dropped, not counted
    EXPECT_FALSE(fresh.HasStorage());
    EXPECT_EQ(fresh.m_nTotalFrames, 0);

    CWaveBuffer idle;
    Prepare(idle, 360000);
    EXPECT_TRUE(idle.HasStorage());
    EXPECT_EQ(idle.AllocatedBytes(), 0u);
    std::vector<WavePoint> points;
    double low = 1, high = 1;
    idle.BuildPoints(Plot(0, 0, 100, 50), -10, 10, 0, 1.0, points, &low, &high);
    ASSERT_EQ(points.size(), 100u);
    EXPECT_EQ(points[50].y, 25);  // reads as zeros
    EXPECT_EQ(low, 0.0);
    EXPECT_EQ(idle.AllocatedBytes(), 0u);

    // Memory grows with what is appended, up to the storage size.
    idle.Append(&v, 1);
    EXPECT_EQ(idle.AllocatedBytes(), sizeof(double));
    EXPECT_EQ(idle.CopySamples().back(), 5.0);
    const std::vector<double> more(800000, 1.0);
    idle.Append(more.data(), 800000);
    EXPECT_EQ(idle.AllocatedBytes(), 720000u * sizeof(double));
}

TEST(WaveBuffer, GrowingTheFrameCountKeepsTheOldestAtTheFront) {
    CWaveBuffer buffer;
    Prepare(buffer, 4);
    const std::vector<double> samples = Ramp(10);  // ring wrapped: holds 3..10
    buffer.Append(samples.data(), 10);
    buffer.SetFrameCount(3);
    std::vector<double> expected = Ramp(8, 3);
    expected.resize(12, 0.0);
    EXPECT_EQ(buffer.CopySamples(), expected);
    EXPECT_EQ(buffer.AllocatedBytes(), 8 * sizeof(double));  // the zeros after them take none

    // Appends push the zeros between the kept samples and themselves...
    const std::vector<double> two = Ramp(2, 101);
    buffer.Append(two.data(), 2);
    expected = Ramp(6, 5);
    expected.resize(10, 0.0);
    expected.insert(expected.end(), two.begin(), two.end());
    EXPECT_EQ(buffer.CopySamples(), expected);
    buffer.SetFrameCount(1);
    EXPECT_EQ(buffer.CopySamples(), Ramp(4, 5));

    // ...or to the front, once the kept samples have fallen out.
    buffer.SetFrameCount(3);
    const std::vector<double> ten = Ramp(10, 201);
    buffer.Append(ten.data(), 10);
    expected.assign(2, 0.0);
    expected.insert(expected.end(), ten.begin(), ten.end());
    EXPECT_EQ(buffer.CopySamples(), expected);
    EXPECT_EQ(buffer.AllocatedBytes(), 10 * sizeof(double));
}

TEST(WaveBuffer, PointsSpaceOutFewSamplesAndSkipSamplesOnNarrowPlots) {
    CWaveBuffer wide;
    Prepare(wide, 16);
    const std::vector<double> sixteen = Ramp(16);
    wide.Append(sixteen.data(), 16);
    std::vector<WavePoint> points;
    double low = 0, high = 0;
    wide.BuildPoints(Plot(10, 5, 100, 40), 0, 20, 0, 1.0, points, &low, &high);
    ASSERT_EQ(points.size(), 16u);
    EXPECT_EQ(points.front().x, 10);
    EXPECT_EQ(points[1].x, 17);  // 6.6 pixels apart
    EXPECT_EQ(points.back().x, 109);
    // Offset 0, zoom 1: the newest frame, value 16 at 40 * (20 - 16) / 20.
    EXPECT_EQ(points.back().y, 5 + 8);

    CWaveBuffer narrow;
    Prepare(narrow, 64);
    std::vector<double> samples(64, 0.0);
    samples[3] = -50.0;  // skipped: columns read samples 0, 7, 14, ...
    samples[7] = 8.0;
    samples[63] = 9.0;
    narrow.Append(samples.data(), 64);
    points.clear();
    narrow.BuildPoints(Plot(0, 0, 10, 10), -10, 10, 0, 1.0, points, &low, &high);
    EXPECT_EQ(points.size(), 10u);
    EXPECT_EQ(low, 0.0);
    EXPECT_EQ(high, 9.0);
}

TEST(WaveBuffer, BandCoversEverySampleOfAColumn) {
    CWaveBuffer buffer;
    Prepare(buffer, 64);
    std::vector<double> samples(64, 0.0);
    samples[3] = -10.0;  // a spike the polyline skips
    buffer.Append(samples.data(), 64);
    std::vector<WavePoint> points;
    std::vector<WaveColumn> band;
    double low = 0, high = 0;
    buffer.BuildPoints(Plot(0, 0, 10, 21), -10, 10, 0, 1.0, points, &low, &high, &band);
    ASSERT_EQ(band.size(), 10u);
    EXPECT_EQ(band[0].bottom, 20);  // column 0 covers samples 0..3
    EXPECT_EQ(band[0].top, 11);     // 21 * 10 / 20 = 10.5, rounded away from zero
    EXPECT_EQ(band[1].bottom, 11);
    for (const WavePoint& p : points) EXPECT_EQ(p.y, 11);

    // Fewer samples than columns: no band.
    CWaveBuffer few;
    Prepare(few, 4);
    few.BuildPoints(Plot(0, 0, 10, 21), -10, 10, 0, 1.0, points, &low, &high, &band);
    EXPECT_TRUE(band.empty());
}

TEST(WaveBuffer, DegeneratePlotsAndSpansDrawFlatOrNothing) {
    CWaveBuffer buffer;
    Prepare(buffer, 16);
    const std::vector<double> samples = Ramp(16);
    buffer.Append(samples.data(), 16);
    std::vector<WavePoint> points;
    double low = 0, high = 0;

    buffer.BuildPoints(Plot(3, 0, 1, 10), 0, 20, 0, 1.0, points, &low, &high);  // one column
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0].x, 3);

    points.clear();
    buffer.BuildPoints(Plot(0, 0, 0, 10), 0, 20, 0, 1.0, points, &low, &high);  // no columns
    buffer.BuildPoints(Plot(0, 0, 10, 0), 0, 20, 0, 1.0, points, &low, &high);  // no rows
    EXPECT_TRUE(points.empty());
    int index = 0, y = 0;
    double value = 0;
    EXPECT_FALSE(buffer.HitTest(Plot(0, 0, 0, 10), 0, 20, 0, 1.0, 0, &index, &value, &y));

    buffer.BuildPoints(Plot(0, 0, 50, 11), 5, 5, 0, 1.0, points, &low, &high);  // empty span
    ASSERT_FALSE(points.empty());
    for (const WavePoint& p : points) EXPECT_EQ(p.y, 5);

    CWaveBuffer single;
    Prepare(single, 1);
    const double v = 0.0;
    single.Append(&v, 1);
    points.clear();
    single.BuildPoints(Plot(0, 0, 50, 11), -1, 1, 0, 1.0, points, &low, &high);
    ASSERT_EQ(points.size(), 2u);  // a flat line across the plot
    EXPECT_EQ(points[1].x, 49);
    EXPECT_EQ(points[0].y, points[1].y);
}

TEST(WaveBuffer, HitTestNamesTheSampleUnderAColumn) {
    CWaveBuffer buffer;
    Prepare(buffer, 16);
    const std::vector<double> samples = Ramp(32);  // older frame 1..16, newer 17..32
    buffer.Append(samples.data(), 32);
    int index = 0, y = 0;
    double value = 0;
    const KRect plot = Plot(0, 0, 16, 32);
    ASSERT_TRUE(buffer.HitTest(plot, 0, 32, 0, 1.0, 15, &index, &value, &y));
    EXPECT_EQ(index, 15);
    EXPECT_EQ(value, 32.0);
    EXPECT_EQ(y, 0);
    // Scrolled by 4 towards older samples: column 0 shows storage index 12.
    ASSERT_TRUE(buffer.HitTest(plot, 0, 32, 4, 1.0, 0, &index, &value, &y));
    EXPECT_EQ(value, 13.0);
    EXPECT_EQ(index, 0);
    EXPECT_FALSE(buffer.HitTest(plot, 0, 32, 0, 1.0, 16, &index, &value, &y));
    EXPECT_FALSE(buffer.HitTest(plot, 0, 32, 0, 1.0, -1, &index, &value, &y));
}

// Views that do not fit the storage (zoomed out without more frames, bad
// offsets, silly zooms) stay inside it; ASan reports any read past it.
TEST(WaveBuffer, NoViewReadsOutsideTheStorage) {
    CWaveBuffer buffer;
    Prepare(buffer, 64);
    const std::vector<double> samples = Ramp(128);
    buffer.Append(samples.data(), 128);
    const double zooms[] = {1e-9, 0.125, 0.5, 1.0, 32.0, 1e9, 0.0, -1.0, NAN, INFINITY};
    const int offsets[] = {-100, -1, 0, 63, 64, 1000};
    for (double zoom : zooms) {
        for (int offset : offsets) {
            std::vector<WavePoint> points;
            std::vector<WaveColumn> band;
            double low = 0, high = 0;
            buffer.BuildPoints(Plot(0, 0, 200, 50), 0, 128, offset, zoom, points, &low, &high,
                               &band);
            EXPECT_GE(low, 1.0);
            EXPECT_LE(high, 128.0);
            for (int x = 0; x < 200; x += 7) {
                int index = -1, y = -1;
                double value = 0;
                ASSERT_TRUE(buffer.HitTest(Plot(0, 0, 200, 50), 0, 128, offset, zoom, x, &index,
                                           &value, &y));
                EXPECT_TRUE(index >= 0 && index < 64 && y >= 0 && y < 50);
            }
        }
    }
}

TEST(WaveBuffer, ConcurrentAppendsAndReadsStayConsistent) {
    CWaveBuffer buffer;
    Prepare(buffer, 256);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        std::vector<double> chunk(100, 7.0);
        for (int i = 0; i < 20000; ++i) buffer.Append(chunk.data(), 100);
        done = true;
    });
    int reads = 0;
    do {
        std::vector<WavePoint> points;
        std::vector<WaveColumn> band;
        double low = 0, high = 0;
        buffer.BuildPoints(Plot(0, 0, 100, 10), 0, 10, 0, 1.0, points, &low, &high, &band);
        EXPECT_TRUE(low == 0.0 || low == 7.0);
        ++reads;
    } while (!done);
    writer.join();
    EXPECT_EQ(buffer.m_nTotalFrames, 2000000 / 256);
    EXPECT_GT(reads, 0);
}

// A capture appends its whole series after every report with one sample
// changed. A revision must read exactly as that literal append, whatever
// comes before or after it.
// Revisions, and level frames (which stand for a cleared buffer and one
// frame of equal samples), read as the literal appends they stand for.
TEST(WaveBuffer, RevisedAndLevelFramesReadExactlyAsTheirLiteralAppends) {
    std::mt19937 random(20261209);
    const auto below = [&](int bound) {
        return static_cast<int>(random() % static_cast<unsigned>(bound));
    };
    for (int round = 0; round < 10; ++round) {
        const int length = 7 + below(44);
        CWaveBuffer literal, revised;
        CWaveBuffer* both[] = {&literal, &revised};
        for (CWaveBuffer* buffer : both) {
            Prepare(*buffer, length);
            buffer->SetWholeFrames(true);
        }
        std::vector<double> series(static_cast<size_t>(length), 0.0);
        int run = 0, position = 0;
        // A revision promises that the caller's previous append was the series.
        bool seriesWasLast = false;
        for (int step = 0; step < 250; ++step) {
            const int dice = below(100);
            std::string name;
            if (dice < 78) {
                // Mostly a run through the series, sometimes a jump or the same sample again.
                position = dice < 60 ? run++ % length : dice < 72 ? below(length) : position;
                series[static_cast<size_t>(position)] = below(61) - 30;
                literal.Append(series.data(), length);
                if (seriesWasLast)
                    revised.AppendRevisedFrame(series.data(), length, position);
                else
                    revised.Append(series.data(), length);
                seriesWasLast = true;
                name = "revise " + std::to_string(position);
            } else if (dice < 84) {
                // Now and then past the longest history revisions stand for.
                const int frames = below(15) == 0 ? 60 + below(7) : below(11);
                for (CWaveBuffer* buffer : both) buffer->SetFrameCount(frames);
                name = "frames " + std::to_string(frames);
            } else if (dice < 89) {
                const std::vector<double> chunk = Ramp(1 + below(2 * length), below(20) - 10);
                for (CWaveBuffer* buffer : both)
                    buffer->Append(chunk.data(), static_cast<int>(chunk.size()));
                seriesWasLast = false;
                name = "append " + std::to_string(chunk.size());
            } else if (dice < 91) {
                for (CWaveBuffer* buffer : both) buffer->Append(series.data(), length);
                seriesWasLast = true;
                name = "append series";
            } else if (dice < 93) {
                series.assign(static_cast<size_t>(length), below(61) - 30);
                literal.Clear();
                literal.Append(series.data(), length);
                revised.SetLevelFrame(series[0]);
                seriesWasLast = true;
                name = "level " + std::to_string(series[0]);
            } else if (dice < 94) {
                for (CWaveBuffer* buffer : both) buffer->Clear();
                name = "clear";
            } else if (dice < 97) {
                const bool whole = below(2) == 0;
                for (CWaveBuffer* buffer : both) buffer->SetWholeFrames(whole);
                name = whole ? "whole frames" : "any samples";
            } else {
                // Calls that break the promise's preconditions append in full.
                const int n = below(2) == 0 ? length - 1 : length;
                literal.Append(series.data(), n);
                revised.AppendRevisedFrame(series.data(), n, n == length ? length : 0);
                seriesWasLast = n == length;
                name = "bad revision";
            }
            ExpectSameReadings(
                literal, revised,
                "round " + std::to_string(round) + " step " + std::to_string(step) + ": " + name);
            if (HasFatalFailure()) return;
        }
    }
}

// Frame counts move a level frame as they move appended samples: a
// storage too short for it loses it for good, and an append lays out what
// is left.
TEST(WaveBuffer, LevelFrameGoesWhereAnAppendedFrameGoes) {
    CWaveBuffer literal, level;
    for (CWaveBuffer* buffer : {&literal, &level}) Prepare(*buffer, 8);
    const std::vector<double> frame(8, 4.5);
    literal.Append(frame.data(), 8);
    level.SetLevelFrame(4.5);
    EXPECT_EQ(level.AllocatedBytes(), 0u);
    for (int frames : {5, 2, 1, 3}) {
        for (CWaveBuffer* buffer : {&literal, &level}) buffer->SetFrameCount(frames);
        ExpectSameReadings(literal, level, "frames " + std::to_string(frames));
    }
    level.SetLevelFrame(4.5);
    literal.Clear();
    literal.Append(frame.data(), 8);
    const std::vector<double> more = Ramp(3);
    for (CWaveBuffer* buffer : {&literal, &level}) buffer->Append(more.data(), 3);
    ExpectSameReadings(literal, level, "appended after it");
}

TEST(WaveBuffer, RevisionsAndZoomingOutHoldAboutTheAppendedFrames) {
    constexpr int kLength = 4096;
    constexpr size_t kFrameBytes = kLength * sizeof(double);
    constexpr size_t kLogBytes = 2048;  // what revisions undo, and a stamp per frame
    std::vector<double> series = Ramp(kLength);
    const auto revise = [&](CWaveBuffer& buffer, int count) {
        for (int i = 0; i < count; ++i) {
            const int position = i % kLength;
            series[static_cast<size_t>(position)] += 0.5;
            buffer.AppendRevisedFrame(series.data(), kLength, position);
        }
    };

    // Revised at the smallest zoom's nine frames: one frame and a short log.
    CWaveBuffer revised;
    Prepare(revised, kLength);
    revised.SetWholeFrames(true);
    revised.SetFrameCount(9);
    revised.Append(series.data(), kLength);
    revise(revised, 20000);
    EXPECT_EQ(revised.m_nTotalFrames, 20001);
    EXPECT_LE(revised.AllocatedBytes(), kFrameBytes + kLogBytes);
    const std::vector<double> samples = revised.CopySamples();
    EXPECT_EQ(std::vector<double>(samples.end() - kLength, samples.end()), series);
    // The oldest frame is eight revisions back: positions 19992..19999 (mod
    // the length) still had their previous values.
    const size_t oldest = (19992 % kLength);
    EXPECT_EQ(samples[oldest], series[oldest] - 0.5);
    EXPECT_EQ(samples[oldest - 1], series[oldest - 1]);

    // Zoomed in, the two oldest frames are kept; zoomed out again, the
    // zeros after them take no memory.
    revised.SetFrameCount(2);
    revised.SetFrameCount(9);
    EXPECT_LE(revised.AllocatedBytes(), kFrameBytes + kLogBytes);
    std::vector<double> expected(samples.begin(), samples.begin() + 2 * kLength);
    expected.resize(9 * kLength, 0.0);
    EXPECT_EQ(revised.CopySamples(), expected);

    // A capture's first frame, zoomed out, then revised on.
    CWaveBuffer capture;
    Prepare(capture, kLength);
    capture.SetWholeFrames(true);
    capture.Append(series.data(), kLength);
    capture.SetFrameCount(9);
    EXPECT_LE(capture.AllocatedBytes(), kFrameBytes + kLogBytes);
    expected.assign(9 * kLength, 0.0);
    std::copy(series.begin(), series.end(), expected.begin() + kLength);
    EXPECT_EQ(capture.CopySamples(), expected);
    revise(capture, 20);
    EXPECT_LE(capture.AllocatedBytes(), kFrameBytes + kLogBytes);
    const std::vector<double> revisedCapture = capture.CopySamples();
    EXPECT_EQ(std::vector<double>(revisedCapture.end() - kLength, revisedCapture.end()), series);
}

// The capture page revises from its reader thread while the chart paints and
// zooms (which changes the frame count) on the UI thread.
TEST(WaveBuffer, RevisionsWhileTheChartPaintsAndZooms) {
    CWaveBuffer buffer;
    Prepare(buffer, 256);
    buffer.SetWholeFrames(true);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        std::vector<double> series(256, 7.0);
        for (int i = 0; i < 4000; ++i) buffer.AppendRevisedFrame(series.data(), 256, i % 256);
        done = true;
    });
    int reads = 0;
    do {
        buffer.SetFrameCount(2 + reads % 8);
        std::vector<WavePoint> points;
        std::vector<WaveColumn> band;
        double low = 0, high = 0;
        buffer.BuildPoints(Plot(0, 0, 100, 10), 0, 10, 0, 0.125, points, &low, &high, &band);
        EXPECT_TRUE(low == 0.0 || low == 7.0);
        EXPECT_TRUE(high == 0.0 || high == 7.0);
        ++reads;
    } while (!done);
    writer.join();
    EXPECT_EQ(buffer.m_nTotalFrames, 4000);
}

#include "realtime/ReportFrame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

ObjectReport MakeReport(uint8_t state, uint16_t distance, uint16_t energySeed) {
    ObjectReport report;
    report.TargetState = state;
    report.TargetDistance = distance;
    for (int gate = 0; gate < radar_protocol::kGateCount; ++gate) {
        report.GateEnergy[gate] = static_cast<uint16_t>(energySeed * 31 + gate * 257);
    }
    return report;
}

Bytes Frame(const ObjectReport& report) {
    Bytes frame(45);
    EncodeObjectReportFrame(report, frame.data());
    return frame;
}

// A frame with any payload length and a chosen tailer.
Bytes RawFrame(uint16_t length, bool goodTailer = true, uint8_t fill = 0x11) {
    Bytes frame = {0xF4,
                   0xF3,
                   0xF2,
                   0xF1,
                   static_cast<uint8_t>(length & 0xFF),
                   static_cast<uint8_t>(length >> 8)};
    frame.insert(frame.end(), length, fill);
    const Bytes tailer = goodTailer ? Bytes{0xF8, 0xF7, 0xF6, 0xF5} : Bytes{0xF8, 0xF7, 0xF6, 0x00};
    frame.insert(frame.end(), tailer.begin(), tailer.end());
    return frame;
}

void Add(Bytes* stream, const Bytes& part) {
    stream->insert(stream->end(), part.begin(), part.end());
}

bool SameReport(const ObjectReport& a, const ObjectReport& b) {
    return a.TargetState == b.TargetState && a.TargetDistance == b.TargetDistance &&
           std::memcmp(a.GateEnergy, b.GateEnergy, sizeof a.GateEnergy) == 0;
}

struct Recorder : IObjectReportListener {
    std::vector<ObjectReport> reports;
    std::atomic<int>* stopAfterFirst = nullptr;
    void OnObjectReport(const uint8_t* payload) override {
        reports.push_back(DecodeObjectReport(payload));
        if (stopAfterFirst) stopAfterFirst->store(1);
    }
};

// Counts the diagnostic lines that contain a text.
class DiagnosticCapture {
public:
    DiagnosticCapture() { DbgOutputAddCallback(&DiagnosticCapture::Collect, this); }
    ~DiagnosticCapture() { DbgOutputDelCallback(&DiagnosticCapture::Collect); }
    int Count(const std::string& text) const {
        std::lock_guard<std::mutex> hold(m_mutex);
        int count = 0;
        for (const std::string& line : m_lines) count += line.find(text) != std::string::npos;
        return count;
    }

private:
    static int Collect(void* user, intptr_t, const char* text, int length) {
        auto* self = static_cast<DiagnosticCapture*>(user);
        std::lock_guard<std::mutex> hold(self->m_mutex);
        self->m_lines.emplace_back(text, static_cast<size_t>(length));
        return length;
    }
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

class ReportFrameParserTest : public ::testing::Test {
protected:
    std::atomic<int> stop{0};
    Recorder recorder;
    ReportFrameParser parser{&recorder, &stop};

    void Feed(const Bytes& bytes) { parser.Append(bytes.data(), bytes.size()); }
};

TEST(ObjectReportTest, DecodesLittleEndianFieldsAndRoundTripsThroughAFrame) {
    uint8_t payload[kObjectReportSize] = {};
    payload[0] = 7;
    payload[1] = 0xFA;  // 250 cm
    payload[2] = 0x00;
    payload[3] = 0x34;
    payload[4] = 0x12;
    payload[33] = 0xFF;
    payload[34] = 0xFF;
    const ObjectReport report = DecodeObjectReport(payload);
    EXPECT_EQ(report.TargetState, 7);
    EXPECT_EQ(report.TargetDistance, 250);
    EXPECT_EQ(report.GateEnergy[0], 0x1234);
    EXPECT_EQ(report.GateEnergy[15], 0xFFFF);

    const Bytes frame = Frame(report);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 6), (Bytes{0xF4, 0xF3, 0xF2, 0xF1, 35, 0}));
    EXPECT_EQ(Bytes(frame.end() - 4, frame.end()), (Bytes{0xF8, 0xF7, 0xF6, 0xF5}));
    EXPECT_EQ(std::memcmp(frame.data() + 6, payload, kObjectReportSize), 0);
}

TEST(ObjectReportTest, EnergyToDecibels) {
    EXPECT_DOUBLE_EQ(EnergyToDb(0), 0.0);
    EXPECT_DOUBLE_EQ(EnergyToDb(1), 0.0);
    EXPECT_NEAR(EnergyToDb(2), 3.0103, 1e-4);
    EXPECT_NEAR(EnergyToDb(65535), 48.1647, 1e-4);
    EXPECT_DOUBLE_EQ(EnergyToDb(1000), 30.0);
}

TEST_F(ReportFrameParserTest, DeliversTwoFramesOfOneReadInOrder) {
    Bytes stream = Frame(MakeReport(1, 100, 1));
    Add(&stream, Frame(MakeReport(0, 200, 2)));
    Feed(stream);
    ASSERT_EQ(recorder.reports.size(), 2u);
    EXPECT_EQ(recorder.reports[0].TargetDistance, 100);
    EXPECT_EQ(recorder.reports[1].TargetDistance, 200);
    EXPECT_EQ(parser.BufferedBytes(), 0u);
}

TEST(ReportFrameParserSplitTest, FrameSplitAtEveryPointIsDeliveredOnceAfterTheSecondRead) {
    const ObjectReport expected = MakeReport(1, 250, 9);
    const Bytes frame = Frame(expected);
    for (size_t split = 1; split < frame.size(); ++split) {
        Recorder recorder;
        ReportFrameParser parser(&recorder, nullptr);
        parser.Append(frame.data(), split);
        EXPECT_TRUE(recorder.reports.empty()) << "split " << split;
        EXPECT_EQ(parser.BufferedBytes(), split) << "split " << split;
        parser.Append(frame.data() + split, frame.size() - split);
        ASSERT_EQ(recorder.reports.size(), 1u) << "split " << split;
        EXPECT_TRUE(SameReport(recorder.reports[0], expected));
        EXPECT_EQ(parser.BufferedBytes(), 0u);
    }
}

TEST_F(ReportFrameParserTest, FewerThanTenBytesWaitEvenWhenTheyAreNoise) {
    Feed({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09});
    EXPECT_EQ(parser.BufferedBytes(), 9u);
    EXPECT_TRUE(recorder.reports.empty());
}

TEST_F(ReportFrameParserTest, SkipsStrayBytesIncludingPartialHeaders) {
    Bytes stream = {0x00, 0xF4, 0xF3};  // stray, then a header that breaks off
    Add(&stream, {0xF4, 0xF3, 0xF2, 0x00, 0xF4});
    Add(&stream, Frame(MakeReport(1, 42, 3)));
    Feed(stream);
    ASSERT_EQ(recorder.reports.size(), 1u);
    EXPECT_EQ(recorder.reports[0].TargetDistance, 42);
    EXPECT_EQ(parser.BufferedBytes(), 0u);
}

TEST_F(ReportFrameParserTest, NoiseKeepsOnlyTheTailThatCouldStillStartAFrame) {
    Bytes noise(100, 0x55);
    noise[95] = 0xF4;  // could begin a header once more bytes come
    Feed(noise);
    EXPECT_EQ(parser.BufferedBytes(), 9u);
    Bytes rest = {0xF3, 0xF2, 0xF1, 0, 0};
    Add(&rest, Frame(MakeReport(0, 7, 1)));
    Feed(rest);
    ASSERT_EQ(recorder.reports.size(), 1u);
}

TEST_F(ReportFrameParserTest, FramesOfOtherLengthsAreConsumedSilently) {
    DiagnosticCapture log;
    Bytes stream = RawFrame(0);
    Add(&stream, RawFrame(20));
    Add(&stream, Frame(MakeReport(1, 5, 5)));
    Feed(stream);
    ASSERT_EQ(recorder.reports.size(), 1u);
    EXPECT_EQ(recorder.reports[0].TargetDistance, 5);
    EXPECT_EQ(log.Count("Tailer TAG Invalid!"), 0);
    EXPECT_EQ(parser.BufferedBytes(), 0u);
}

TEST_F(ReportFrameParserTest, WrongTailerResumesOneByteAfterItsHeader) {
    DiagnosticCapture log;
    // A false header announcing an object report stands right before a real
    // one, which lies within the bytes it announced; then a frame whose
    // tailer is broken, followed by a real frame where its tailer belonged.
    Bytes stream = {0xF4, 0xF3, 0xF2, 0xF1, 35, 0};
    Add(&stream, Frame(MakeReport(1, 123, 4)));
    Bytes broken = RawFrame(35, false);
    broken.resize(41);
    Add(&stream, broken);
    Add(&stream, Frame(MakeReport(1, 321, 4)));
    Feed(stream);
    EXPECT_EQ(log.Count("Tailer TAG Invalid!\r\n"), 2);
    ASSERT_EQ(recorder.reports.size(), 2u);
    EXPECT_EQ(recorder.reports[0].TargetDistance, 123);
    EXPECT_EQ(recorder.reports[1].TargetDistance, 321);
    EXPECT_EQ(parser.BufferedBytes(), 0u);
}

TEST_F(ReportFrameParserTest, WrongTailerFrameIsNotDelivered) {
    DiagnosticCapture log;
    Feed(RawFrame(35, false));
    EXPECT_TRUE(recorder.reports.empty());
    EXPECT_EQ(log.Count("Tailer TAG Invalid!"), 1);
}

TEST_F(ReportFrameParserTest, StopFlagEndsThePassBeforeTheNextFrameAndKeepsTheRest) {
    recorder.stopAfterFirst = &stop;
    Bytes stream;
    for (int i = 0; i < 3; ++i) Add(&stream, Frame(MakeReport(1, static_cast<uint16_t>(i), 1)));
    Feed(stream);
    ASSERT_EQ(recorder.reports.size(), 1u);
    EXPECT_EQ(parser.BufferedBytes(), 90u);
    Feed({});  // stays stopped
    EXPECT_EQ(recorder.reports.size(), 1u);
}

TEST_F(ReportFrameParserTest, StopFlagSetBeforehandScansNothing) {
    stop = 1;
    Feed(Frame(MakeReport(1, 1, 1)));
    EXPECT_TRUE(recorder.reports.empty());
    EXPECT_EQ(parser.BufferedBytes(), 45u);
}

TEST_F(ReportFrameParserTest, HeaderAnnouncingMoreThanAnyReportIsSkippedAtOnce) {
    DiagnosticCapture log;
    Bytes stream = {0xF4, 0xF3, 0xF2, 0xF1, 0xFF, 0xFF};  // claims 65535 bytes
    for (int i = 0; i < 50; ++i) Add(&stream, Frame(MakeReport(1, static_cast<uint16_t>(i), 2)));
    Feed(stream);
    // Nothing is held back waiting for the bytes it announced.
    ASSERT_EQ(recorder.reports.size(), 50u);
    EXPECT_EQ(recorder.reports.back().TargetDistance, 49);
    EXPECT_EQ(parser.BufferedBytes(), 0u);
    EXPECT_EQ(log.Count("Tailer TAG Invalid!"), 0);
}

// The scan done the plain way, one position at a time, for comparison.
std::vector<ObjectReport> ScanOneByteAtATime(const Bytes& s, size_t* left) {
    static const uint8_t header[4] = {0xF4, 0xF3, 0xF2, 0xF1};
    static const uint8_t tailer[4] = {0xF8, 0xF7, 0xF6, 0xF5};
    std::vector<ObjectReport> reports;
    size_t pos = 0;
    while (pos + 10 <= s.size()) {
        if (std::memcmp(&s[pos], header, 4) != 0) {
            ++pos;
            continue;
        }
        const size_t length = s[pos + 4] | (s[pos + 5] << 8);
        if (length > 35) {
            ++pos;
            continue;
        }
        if (pos + length + 10 > s.size()) break;
        if (std::memcmp(&s[pos + 6 + length], tailer, 4) == 0) {
            if (length == 35) reports.push_back(DecodeObjectReport(&s[pos + 6]));
            pos += length + 10;
        } else {
            ++pos;
        }
    }
    *left = s.size() - pos;
    return reports;
}

TEST(ReportFrameParserChunkingTest, RandomChunkingGivesTheSameReportsAsOneShot) {
    std::mt19937 random(12345);
    Bytes stream;
    for (int i = 0; i < 400; ++i) {
        const int noise = static_cast<int>(random() % 6);
        for (int n = 0; n < noise; ++n) {
            // Noise favours tag bytes so that false starts are common.
            const uint8_t pool[] = {0xF4, 0xF3, 0xF2, 0xF1, 0xF8, 0x00, 0x23};
            stream.push_back(pool[random() % sizeof pool]);
        }
        switch (random() % 10) {
            case 0:
                Add(&stream, RawFrame(static_cast<uint16_t>(random() % 50)));
                break;
            case 1:
                Add(&stream, RawFrame(35, false));
                break;
            default:
                Add(&stream,
                    Frame(MakeReport(1, static_cast<uint16_t>(i), static_cast<uint16_t>(i))));
        }
    }

    Recorder whole;
    ReportFrameParser oneShot(&whole, nullptr);
    oneShot.Append(stream.data(), stream.size());
    ASSERT_GT(whole.reports.size(), 300u);
    size_t plainLeft = 0;
    const std::vector<ObjectReport> plain = ScanOneByteAtATime(stream, &plainLeft);
    ASSERT_EQ(whole.reports.size(), plain.size());
    for (size_t i = 0; i < plain.size(); ++i) ASSERT_TRUE(SameReport(whole.reports[i], plain[i]));
    EXPECT_EQ(oneShot.BufferedBytes(), plainLeft);

    for (int round = 0; round < 20; ++round) {
        Recorder pieces;
        ReportFrameParser chunked(&pieces, nullptr);
        size_t at = 0;
        while (at < stream.size()) {
            const size_t n = std::min<size_t>(1 + random() % 97, stream.size() - at);
            chunked.Append(stream.data() + at, n);
            at += n;
        }
        ASSERT_EQ(pieces.reports.size(), whole.reports.size()) << "round " << round;
        for (size_t i = 0; i < whole.reports.size(); ++i) {
            ASSERT_TRUE(SameReport(pieces.reports[i], whole.reports[i])) << "report " << i;
        }
        EXPECT_EQ(chunked.BufferedBytes(), oneShot.BufferedBytes());
    }
}

}  // namespace

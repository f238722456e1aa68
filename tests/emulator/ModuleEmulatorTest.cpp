#include "emulator/ModuleEmulator.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "common/KVEL_Common.h"
#include "tests/support/QuickReports.h"

namespace {

using emulator::Fault;
using emulator::ModuleEmulator;
using emulator::Options;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr uint8_t kCmdHeader[4] = {0x5A, 0xA5, 0x3C, 0xC3};
constexpr uint8_t kCmdTailer[2] = {0xA5, 0x5A};
constexpr size_t kFraming = 12;  // header, length, word, checksum, tailer
constexpr uint8_t kReportHeader[4] = {0xF4, 0xF3, 0xF2, 0xF1};
constexpr uint8_t kReportTailer[4] = {0xF8, 0xF7, 0xF6, 0xF5};

constexpr uint8_t kEnter = 0x01, kLeave = 0x02, kVersion = 0x03, kSerial = 0x04, kFrameSize = 0x05;
constexpr uint8_t kSetParams = 0x07, kGetParams = 0x08, kSetSystem = 0x12;
constexpr uint32_t kFunction = 100, kDataTransfer = 101, kABD = 102;

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) { return U16(p) | (static_cast<uint32_t>(U16(p + 2)) << 16); }
void Put16(Bytes* out, uint16_t v) {
    out->push_back(static_cast<uint8_t>(v));
    out->push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes* out, uint32_t v) {
    Put16(out, static_cast<uint16_t>(v));
    Put16(out, static_cast<uint16_t>(v >> 16));
}

// CRC-16/CCITT (0x1021, start 0xFFFF), bit by bit.
uint16_t Crc16(const uint8_t* data, size_t size) {
    unsigned crc = 0xFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= unsigned{data[i]} << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = ((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1) & 0xFFFF;
    }
    return static_cast<uint16_t>(crc);
}

struct Reply {
    int status = -1;  // -1: no reply came
    Bytes payload;
    explicit operator bool() const { return status >= 0; }
};

struct ReportFrame {
    uint16_t length = 0;
    bool tailerOk = false;
    Bytes payload;
};

struct ReportStream {
    std::vector<ReportFrame> frames;
    Bytes stray;  // skipped one by one outside any frame
};

// Cuts report frames out of a byte stream the way a host parser does: a
// frame with a wrong tailer is skipped up to where its tailer should be.
ReportStream ParseReports(const Bytes& in) {
    ReportStream stream;
    size_t pos = 0;
    while (pos + 10 <= in.size()) {
        if (std::memcmp(&in[pos], kReportHeader, 4) != 0) {
            stream.stray.push_back(in[pos++]);
            continue;
        }
        const uint16_t length = U16(&in[pos + 4]);
        if (pos + length + 10 > in.size()) break;
        ReportFrame frame;
        frame.length = length;
        frame.tailerOk = std::memcmp(&in[pos + 6 + length], kReportTailer, 4) == 0;
        frame.payload.assign(in.begin() + static_cast<long>(pos + 6),
                             in.begin() + static_cast<long>(pos + 6 + length));
        stream.frames.push_back(frame);
        pos += frame.tailerOk ? length + 10u : length + 6u;
    }
    return stream;
}

// The host's side of the line, written for these tests only.
class TestHost {
public:
    static constexpr int kReplyTime = 2000;  // ms

    ~TestHost() { Close(); }

    bool Open(const std::string& path, speed_t speed = B115200) {
        Close();
        m_fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd < 0) return false;
        SetSpeed(speed);
        tcflush(m_fd, TCIFLUSH);
        return true;
    }
    void Close() {
        if (m_fd >= 0) close(m_fd);
        m_fd = -1;
        m_input.clear();
    }
    void SetSpeed(speed_t speed) {
        termios tio{};
        tcgetattr(m_fd, &tio);
        cfmakeraw(&tio);
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
        tcsetattr(m_fd, TCSANOW, &tio);
    }

    // A new command: what is still waiting from earlier replies (the rest
    // of a damaged one) is not its answer.
    void Send(uint8_t code, const Bytes& payload = {}) {
        m_input.clear();
        m_sequence = static_cast<uint8_t>((m_sequence + 1) % 16);
        SendRaw(Frame(code, m_sequence, payload));
    }
    void SendRaw(const Bytes& bytes) {
        ASSERT_EQ(write(m_fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    static Bytes Frame(uint8_t code, uint8_t sequence, const Bytes& payload) {
        Bytes frame(kCmdHeader, kCmdHeader + 4);
        Put16(&frame, static_cast<uint16_t>(payload.size()));
        Put16(&frame, static_cast<uint16_t>(code | (sequence << 8)));
        frame.insert(frame.end(), payload.begin(), payload.end());
        Put16(&frame, Crc16(&frame[4], frame.size() - 4));
        frame.insert(frame.end(), kCmdTailer, kCmdTailer + 2);
        return frame;
    }
    uint8_t Sequence() const { return m_sequence; }
    // Every byte read since the last call, whether or not it was taken.
    Bytes TakeHeard() { return std::exchange(m_heard, {}); }

    // Waits for the reply to the last command sent (code and sequence match).
    // A reply that should come gets time to spare on a machine busy with
    // other tests; cases expecting none give their own, shorter time.
    Reply Await(uint8_t code, int timeoutMs = kReplyTime) {
        return AwaitFor(code, m_sequence, timeoutMs);
    }
    Reply AwaitFor(uint8_t code, uint8_t sequence, int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (true) {
            if (auto reply = TakeReply(code, sequence)) return *reply;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) return Reply{};
        }
    }
    Reply Ask(uint8_t code, const Bytes& payload = {}, int timeoutMs = kReplyTime) {
        Send(code, payload);
        return Await(code, timeoutMs);
    }

    // What arrives until `enough` holds for it, at most `ms`.
    template <typename Enough>
    Bytes CollectUntil(Enough enough, int ms) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        while (!enough(m_input)) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) break;
            ReadSome(static_cast<int>(left.count()));
        }
        return std::exchange(m_input, {});
    }

    // Everything that arrives within `ms`.
    Bytes Collect(int ms) {
        return CollectUntil([](const Bytes&) { return false; }, ms);
    }

    // True when the line reports a hang-up within `ms`.
    bool SeesHangUp(int ms) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < deadline) {
            pollfd pfd{m_fd, POLLIN, 0};
            if (poll(&pfd, 1, 50) > 0) {
                if (pfd.revents & (POLLHUP | POLLERR)) return true;
                uint8_t buffer[256];
                const ssize_t n = read(m_fd, buffer, sizeof buffer);
                if (n < 0 && errno == EIO) return true;
            }
        }
        return false;
    }

private:
    bool ReadSome(int timeoutMs) {
        pollfd pfd{m_fd, POLLIN, 0};
        if (poll(&pfd, 1, std::min(timeoutMs, 50)) <= 0) return true;
        uint8_t buffer[512];
        const ssize_t n = read(m_fd, buffer, sizeof buffer);
        if (n > 0) m_input.insert(m_input.end(), buffer, buffer + n);
        if (n > 0) m_heard.insert(m_heard.end(), buffer, buffer + n);
        return n > 0 || (n < 0 && errno == EAGAIN);
    }

    std::optional<Reply> TakeReply(uint8_t code, uint8_t sequence) {
        size_t pos = 0;
        std::optional<Reply> found;
        while (pos + kFraming <= m_input.size()) {
            if (std::memcmp(&m_input[pos], kCmdHeader, 4) != 0) {
                ++pos;
                continue;
            }
            const uint16_t length = U16(&m_input[pos + 4]);
            if (pos + kFraming + length > m_input.size()) break;
            if (U16(&m_input[pos + 8 + length]) != Crc16(&m_input[pos + 4], 4u + length) ||
                std::memcmp(&m_input[pos + 10 + length], kCmdTailer, 2) != 0) {
                ++pos;
                continue;
            }
            const uint16_t word = U16(&m_input[pos + 6]);
            const size_t next = pos + kFraming + length;
            if ((word & 0xFF) == code && ((word >> 8) & 0xF) == sequence) {
                found =
                    Reply{word >> 12, Bytes(m_input.begin() + static_cast<long>(pos + 8),
                                            m_input.begin() + static_cast<long>(pos + 8 + length))};
                pos = next;
                break;
            }
            pos = next;  // someone else's reply: skipped
        }
        m_input.erase(m_input.begin(), m_input.begin() + static_cast<long>(pos));
        return found;
    }

    int m_fd = -1;
    uint8_t m_sequence = 15;
    Bytes m_input;
    Bytes m_heard;
};

size_t CountOf(const Bytes& haystack, const uint8_t (&needle)[4]) {
    size_t count = 0;
    for (auto at = haystack.begin();
         (at = std::search(at, haystack.end(), needle, needle + 4)) != haystack.end(); ++at)
        ++count;
    return count;
}

Options Fast(std::set<Fault> faults = {}) {
    Options options;
    options.realTiming = false;
    options.faults = std::move(faults);
    return options;
}

class EmulatorTest : public ::testing::Test {
protected:
    void Serve(Options options) {
        m_module = std::make_unique<ModuleEmulator>(std::move(options));
        std::string error;
        ASSERT_TRUE(m_module->Start(&error)) << error;
        ASSERT_TRUE(m_host.Open(m_module->DevicePath()));
    }
    void EnterCommandMode() {
        auto reply = m_host.Ask(kEnter);
        ASSERT_TRUE(reply);
        ASSERT_EQ(reply.status, 0);
    }
    Bytes Ids(std::initializer_list<uint16_t> ids) {
        Bytes payload;
        for (uint16_t id : ids) Put16(&payload, id);
        return payload;
    }
    Bytes Entries(std::initializer_list<std::pair<uint16_t, uint32_t>> entries) {
        Bytes payload;
        for (const auto& [id, value] : entries) {
            Put16(&payload, id);
            Put32(&payload, value);
        }
        return payload;
    }
    void SetMode(uint32_t mode) {
        auto reply = m_host.Ask(kSetSystem, Entries({{0x0000, mode}}));
        ASSERT_TRUE(reply);
        ASSERT_EQ(reply.status, 0);
    }
    // Trigger and hold thresholds of every gate, eight entries a frame.
    void SetAllThresholds(uint32_t value) {
        for (uint16_t first : {0x0010, 0x0018, 0x0020, 0x0028}) {
            Bytes batch;
            for (uint16_t id = first; id < first + 8; ++id) {
                Put16(&batch, id);
                Put32(&batch, value);
            }
            ASSERT_EQ(m_host.Ask(kSetParams, batch).status, 0);
        }
    }
    // Streams in `mode` until `enough` holds for the reports so far, at most `ms`.
    template <typename Enough>
    ReportStream StreamUntil(uint32_t mode, Enough enough, int ms = 5000) {
        EnterCommandMode();
        SetMode(mode);
        EXPECT_EQ(m_host.Ask(kLeave).status, 0);
        return ParseReports(m_host.CollectUntil(
            [&enough](const Bytes& bytes) { return enough(ParseReports(bytes)); }, ms));
    }
    ReportStream StreamFor(uint32_t mode, int ms) {
        return StreamUntil(
            mode, [](const ReportStream&) { return false; }, ms);
    }

    std::unique_ptr<ModuleEmulator> m_module;
    TestHost m_host;
};

// A port is published while served, refused to a second module, and
// withdrawn when stopped.
TEST_F(EmulatorTest, PublishesItsPortRefusesItToOthersAndWithdrawsIt) {
    Serve(Fast());
    const int port = m_module->PortNumber();
    ASSERT_GT(port, 0);
    EXPECT_EQ(SerialPortDevicePath(port), m_module->DevicePath());
    Options same = Fast();
    same.port = port;
    ModuleEmulator second(same);
    std::string error;
    EXPECT_FALSE(second.Start(&error));
    EXPECT_NE(error.find("COM" + std::to_string(port)), std::string::npos) << error;
    EXPECT_EQ(SerialPortDevicePath(port), m_module->DevicePath());
    m_module->Stop();
    EXPECT_EQ(SerialPortDevicePath(port), "");
}

TEST_F(EmulatorTest, CommandModeAndIdentity) {
    Options options = Fast();
    options.version = "V9.8.7";
    options.serialNumber = "SN-42";
    Serve(options);

    // Outside command mode only "enter" is taken.
    EXPECT_EQ(m_host.Ask(kVersion).status, 4);
    EXPECT_EQ(m_host.Ask(kGetParams, Ids({0x0001})).status, 4);
    EXPECT_EQ(m_host.Ask(0x99).status, 4);
    EXPECT_FALSE(m_module->InCommandMode());

    auto enter = m_host.Ask(kEnter);
    ASSERT_TRUE(enter);
    EXPECT_EQ(enter.status, 0);
    ASSERT_EQ(enter.payload.size(), 2u);
    EXPECT_EQ(U16(enter.payload.data()), 2);
    EXPECT_TRUE(m_module->InCommandMode());

    // A text reply: the whole text's length, then the text.
    auto version = m_host.Ask(kVersion);
    EXPECT_EQ(version.payload, (Bytes{6, 0, 'V', '9', '.', '8', '.', '7'}));
    auto serial = m_host.Ask(kSerial);
    EXPECT_EQ(serial.payload, (Bytes{5, 0, 'S', 'N', '-', '4', '2'}));
    auto size = m_host.Ask(kFrameSize);
    ASSERT_EQ(size.payload.size(), 2u);
    EXPECT_EQ(U16(size.payload.data()), 64);
    EXPECT_EQ(m_host.Ask(0x99).status, 2);
    EXPECT_EQ(m_host.Ask(kVersion, Bytes{1}).status, 3);

    EXPECT_EQ(m_host.Ask(kLeave).status, 0);
    EXPECT_FALSE(m_module->InCommandMode());
    EXPECT_EQ(m_module->CommandsAnswered(), 10u);
}

TEST_F(EmulatorTest, SmallestFrameSizeCarriesOneWriteAndTextsInPagesFromAnOffset) {
    Options tooSmall = Fast();
    tooSmall.maxFrameSize = 17;  // no room for one parameter write
    std::string error;
    EXPECT_FALSE(ModuleEmulator(tooSmall).Start(&error));
    EXPECT_NE(error.find("between 18 and 4096"), std::string::npos) << error;

    Options options = Fast();
    options.maxFrameSize = 18;  // four text bytes a page
    options.version = "V1.2.3.4.5";
    Serve(options);
    EnterCommandMode();
    EXPECT_EQ(m_host.Ask(kSetParams, Entries({{0x0001, 7}})).status, 0);
    Bytes offset;
    Put16(&offset, 2);
    EXPECT_EQ(m_host.Ask(kVersion).payload, (Bytes{10, 0, 'V', '1', '.', '2'}));
    EXPECT_EQ(m_host.Ask(kVersion, offset).payload, (Bytes{10, 0, '.', '2', '.', '3'}));
    offset = {9, 0};
    EXPECT_EQ(m_host.Ask(kVersion, offset).payload, (Bytes{10, 0, '5'}));
    offset = {10, 0};
    EXPECT_EQ(m_host.Ask(kVersion, offset).payload, (Bytes{10, 0}));
    offset = {11, 0};
    EXPECT_EQ(m_host.Ask(kVersion, offset).status, 1);
    EXPECT_EQ(U16(m_host.Ask(kFrameSize).payload.data()), 18);
}

TEST_F(EmulatorTest, ParametersReadAndWrittenInBatchesThatFitAFrame) {
    Serve(Fast());
    EnterCommandMode();

    auto defaults = m_host.Ask(kGetParams, Ids({0x0001, 0x0004, 0x0010, 0x001F, 0x0020, 0x002F}));
    ASSERT_TRUE(defaults);
    ASSERT_EQ(defaults.payload.size(), 24u);
    const uint32_t expected[] = {15, 10, 1000, 1000, 1000, 1000};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(U32(&defaults.payload[4 * i]), expected[i]) << i;

    // Batches beyond the frame size are refused with a bad length.
    Bytes thirteen, fourteen;
    for (uint16_t id = 0x0010; id < 0x001D; ++id) Put16(&thirteen, id);
    fourteen = thirteen;
    Put16(&fourteen, 0x001D);
    EXPECT_EQ(m_host.Ask(kGetParams, thirteen).payload.size(), 52u);
    // The question fits, the answer (68 bytes) would not.
    EXPECT_EQ(m_host.Ask(kGetParams, fourteen).status, 3);

    Bytes nine;
    for (uint16_t id = 0x0020; id < 0x0029; ++id) {
        Put16(&nine, id);
        Put32(&nine, 1);
    }
    auto reply = m_host.Ask(kSetParams, nine);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply.status, 3);
    EXPECT_TRUE(reply.payload.empty());
    EXPECT_EQ(m_module->Parameter(0x0020), 1000u);
    EXPECT_EQ(m_host.Ask(kSetParams, Bytes{1, 0, 5}).status, 3);  // not whole entries
    // The module still answers the next command normally.
    EXPECT_EQ(m_host.Ask(kFrameSize).status, 0);

    // Eight entries fit 64 bytes; every value is kept as given.
    auto set = m_host.Ask(kSetParams, Entries({{0x0001, 99},
                                               {0x0004, 3},
                                               {0x0010, 1},
                                               {0x0011, 2},
                                               {0x0012, 1000000000},
                                               {0x0020, 5},
                                               {0x002F, 6},
                                               {0x001F, 7}}));
    ASSERT_TRUE(set);
    EXPECT_EQ(set.status, 0);
    EXPECT_TRUE(set.payload.empty());
    EXPECT_EQ(m_module->Parameter(0x0001), 99u);
    EXPECT_EQ(m_module->Parameter(0x0012), 1000000000u);
    EXPECT_EQ(m_module->Parameter(0x002F), 6u);

    auto read = m_host.Ask(kGetParams, Ids({0x002F, 0x0001, 0x0011}));
    ASSERT_EQ(read.payload.size(), 12u);
    EXPECT_EQ(U32(&read.payload[0]), 6u);  // in the order asked
    EXPECT_EQ(U32(&read.payload[4]), 99u);
    EXPECT_EQ(U32(&read.payload[8]), 2u);

    // An unknown ID refuses the whole command and changes nothing.
    EXPECT_EQ(m_host.Ask(kSetParams, Entries({{0x0004, 77}, {0x0030, 1}})).status, 1);
    EXPECT_EQ(m_module->Parameter(0x0004), 3u);
    EXPECT_EQ(m_host.Ask(kGetParams, Ids({0x0001, 0x0002})).status, 1);
    EXPECT_EQ(m_module->Parameter(0x0030), 0u);
}

TEST_F(EmulatorTest, OperatingModeAndReportStreams) {
    Serve(Fast());
    EXPECT_EQ(m_module->OperatingMode(), kFunction);
    EnterCommandMode();
    EXPECT_EQ(m_host.Ask(kSetSystem, Entries({{0x0000, 103}})).status, 1);
    EXPECT_EQ(m_host.Ask(kSetSystem, Entries({{0x0001, 101}})).status, 1);
    EXPECT_EQ(m_module->OperatingMode(), kFunction);
    // Function mode streams nothing.
    EXPECT_EQ(m_host.Ask(kLeave).status, 0);
    EXPECT_TRUE(m_host.Collect(300).empty());

    ReportStream abd = StreamFor(kABD, 650);
    EXPECT_EQ(m_module->OperatingMode(), kABD);
    ASSERT_GE(abd.frames.size(), 4u);
    EXPECT_LE(abd.frames.size(), 8u);  // ten a second
    EXPECT_EQ(abd.stray.size(), 0u);
    for (const ReportFrame& frame : abd.frames) {
        ASSERT_EQ(frame.length, 35);
        ASSERT_TRUE(frame.tailerOk);
        const uint8_t state = frame.payload[0];
        const uint16_t distance = U16(&frame.payload[1]);
        EXPECT_LE(state, 1);
        EXPECT_EQ(distance == 0, state == 0);
        for (int gate = 0; gate < 16; ++gate)
            EXPECT_GT(U16(&frame.payload[3 + 2 * gate]), 0) << gate;
    }
    EXPECT_GE(m_module->ReportFramesSent(), abd.frames.size());

    ReportStream basic = StreamFor(kDataTransfer, 450);
    ASSERT_GE(basic.frames.size(), 2u);
    for (const ReportFrame& frame : basic.frames) {
        EXPECT_EQ(frame.length, 3);
        EXPECT_TRUE(frame.tailerOk);
    }
    // Entering command mode stops the stream before the reply.
    EnterCommandMode();
    EXPECT_TRUE(ParseReports(m_host.Collect(300)).frames.empty());
}

TEST_F(EmulatorTest, ReportPeriodSetsTheRate) {
    Options options = Fast();
    options.reportPeriod = std::chrono::milliseconds(20);
    Serve(options);
    const ReportStream abd = StreamFor(kABD, 650);
    EXPECT_GE(abd.frames.size(), 12u);  // ten a second would give at most 7
}

TEST_F(EmulatorTest, WrittenThresholdsChangeWhatIsReported) {
    Options options = Fast();
    options.reportPeriod = test_support::kQuickReportPeriod;
    Serve(options);
    EnterCommandMode();
    SetAllThresholds(1);
    ReportStream present = StreamFor(kABD, 350);
    ASSERT_FALSE(present.frames.empty());
    for (const ReportFrame& frame : present.frames) EXPECT_EQ(frame.payload[0], 1);

    EnterCommandMode();
    SetAllThresholds(1000000000);
    ASSERT_EQ(m_host.Ask(kSetParams, Entries({{0x0004, 0}})).status, 0);
    ReportStream absent = StreamFor(kABD, 350);
    ASSERT_FALSE(absent.frames.empty());
    for (const ReportFrame& frame : absent.frames) {
        EXPECT_EQ(frame.payload[0], 0);
        EXPECT_EQ(U16(&frame.payload[1]), 0);
    }
}

TEST_F(EmulatorTest, BootLoaderQueries) {
    Serve(Fast());
    EnterCommandMode();
    const std::pair<uint8_t, uint32_t> answers[] = {{0x70, 2}, {0x71, 3}, {0x75, 0x5A0105}};
    for (const auto& [code, value] : answers) {
        auto reply = m_host.Ask(code);
        ASSERT_TRUE(reply) << int(code);
        EXPECT_EQ(reply.status, 0);
        ASSERT_EQ(reply.payload.size(), 6u);
        EXPECT_EQ(U16(&reply.payload[0]), 0);
        EXPECT_EQ(U32(&reply.payload[2]), value);
    }
    // An application takes no image: its boot-loader status refuses.
    for (uint8_t code : {0x72, 0x73}) {
        auto reply = m_host.Ask(code);
        ASSERT_TRUE(reply) << int(code);
        EXPECT_EQ(reply.status, 0);
        ASSERT_EQ(reply.payload.size(), 6u);
        EXPECT_EQ(U16(&reply.payload[0]), 1);
    }
}

// A software reset: no answer, nothing heard while the module restarts, then
// the boot loader answers without command mode.
TEST_F(EmulatorTest, SoftwareResetRestartsInTheBootLoader) {
    Options options = Fast();
    options.resetDelay = std::chrono::milliseconds(300);
    Serve(options);
    EXPECT_EQ(m_host.Ask(0x74, {}, 100).status, 4);  // an application wants command mode
    EnterCommandMode();
    const auto sent = Clock::now();
    // A command in the same write as the reset is lost with it.
    Bytes both = TestHost::Frame(0x74, 1, {});
    const Bytes query = TestHost::Frame(0x70, 2, {});
    both.insert(both.end(), query.begin(), query.end());
    m_host.SendRaw(both);
    EXPECT_FALSE(m_host.AwaitFor(0x70, 2, 100));
    EXPECT_FALSE(m_host.Ask(0x70, {}, 100));  // restarting: heard by nobody
    EXPECT_EQ(m_module->SoftwareResets(), 1u);
    Reply reply;
    while (!reply && Clock::now() - sent < std::chrono::seconds(3))
        reply = m_host.Ask(0x70, {}, 100);
    ASSERT_TRUE(reply);
    EXPECT_GE(Clock::now() - sent, std::chrono::milliseconds(300));
    ASSERT_EQ(reply.payload.size(), 6u);
    EXPECT_EQ(U32(&reply.payload[2]), 1u);  // BootLoader
    EXPECT_EQ(m_module->RunningMode(), 1u);
}

TEST_F(EmulatorTest, AnotherLineSpeedGetsNoAnswerAndHearsNoReports) {
    Serve(Fast());
    m_host.SetSpeed(B9600);
    EXPECT_FALSE(m_host.Ask(kEnter, {}, 300));
    EXPECT_FALSE(m_module->InCommandMode());
    EXPECT_EQ(m_module->CommandsAnswered(), 0u);
    m_host.SetSpeed(B115200);
    StreamFor(kABD, 0);  // enters command mode at the right speed
    m_host.SetSpeed(B9600);
    m_host.Collect(150);
    EXPECT_TRUE(ParseReports(m_host.Collect(400)).frames.empty());
}

TEST_F(EmulatorTest, HostMayCloseAndReopenThePort) {
    Serve(Fast());
    EnterCommandMode();
    m_host.Close();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(m_host.Open(m_module->DevicePath()));
    EXPECT_EQ(m_host.Ask(kFrameSize).status, 0);
}

TEST_F(EmulatorTest, RealTimingPacesBytesAtTheBaudRate) {
    Options options;
    options.baudRate = 9600;
    Serve(options);
    m_host.SetSpeed(B9600);
    EnterCommandMode();
    // Thirteen values: 64 bytes, about 67 ms on the wire at 9600 baud.
    Bytes ids;
    for (uint16_t id = 0x0010; id < 0x001D; ++id) Put16(&ids, id);
    const auto start = Clock::now();
    ASSERT_TRUE(m_host.Ask(kGetParams, ids));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(60));
}

// --- faults ---------------------------------------------------------------

TEST(FaultListTest, ParsesNamesAndRefusesUnknownOnes) {
    std::set<Fault> faults;
    std::string error;
    EXPECT_TRUE(emulator::ParseFaultList(
        "stray-bytes, late-replies,,line-disappears,tag-noise,corrupt-replies,truncated-replies,"
        "dropped-bytes,slow-flash",
        &faults, &error));
    EXPECT_EQ(faults,
              (std::set<Fault>{Fault::StrayBytes, Fault::LateReplies, Fault::LineDisappears,
                               Fault::TagNoise, Fault::CorruptReplies, Fault::TruncatedReplies,
                               Fault::DroppedBytes, Fault::SlowFlash}));
    EXPECT_FALSE(emulator::ParseFaultList("drop-replies,nonsense", &faults, &error));
    EXPECT_NE(error.find("nonsense"), std::string::npos);
    EXPECT_EQ(faults.count(Fault::DropReplies), 0u);
    EXPECT_STREQ(emulator::FaultName(Fault::OtherLengths), "other-lengths");
}

TEST_F(EmulatorTest, StrayBytesBetweenReports) {
    Serve(Fast({Fault::StrayBytes}));
    const ReportStream stream = StreamUntil(
        kABD, [](const ReportStream& r) { return !r.stray.empty() && r.frames.size() >= 4; });
    EXPECT_GT(stream.stray.size(), 0u);
    EXPECT_GE(stream.frames.size(), 4u);
    for (const ReportFrame& frame : stream.frames) EXPECT_TRUE(frame.tailerOk);
}

TEST_F(EmulatorTest, BrokenTailersOnSomeReports) {
    Serve(Fast({Fault::BrokenTailers}));
    auto brokenOf = [](const ReportStream& r) {
        return static_cast<size_t>(std::count_if(r.frames.begin(), r.frames.end(),
                                                 [](const ReportFrame& f) { return !f.tailerOk; }));
    };
    const ReportStream stream = StreamUntil(kABD, [&](const ReportStream& r) {
        return brokenOf(r) > 0 && brokenOf(r) < r.frames.size();
    });
    const size_t broken = brokenOf(stream);
    EXPECT_GT(broken, 0u);
    EXPECT_LT(broken, stream.frames.size());
}

TEST_F(EmulatorTest, OtherLengthsMixedIntoTheObjectStream) {
    Serve(Fast({Fault::OtherLengths}));
    auto objectsOf = [](const ReportStream& r) {
        return static_cast<size_t>(std::count_if(
            r.frames.begin(), r.frames.end(), [](const ReportFrame& f) { return f.length == 35; }));
    };
    const ReportStream stream = StreamUntil(kABD, [&](const ReportStream& r) {
        return objectsOf(r) >= 4 && objectsOf(r) < r.frames.size();
    });
    size_t objects = 0, others = 0;
    for (const ReportFrame& frame : stream.frames) {
        EXPECT_TRUE(frame.tailerOk);
        (frame.length == 35 ? objects : others)++;
    }
    EXPECT_GE(objects, 4u);
    EXPECT_GT(others, 0u);
}

TEST_F(EmulatorTest, EveryThirdReplyIsDropped) {
    Serve(Fast({Fault::DropReplies}));
    EXPECT_TRUE(m_host.Ask(kEnter));
    EXPECT_TRUE(m_host.Ask(kFrameSize));
    EXPECT_FALSE(m_host.Ask(kVersion, {}, 300));
    EXPECT_TRUE(m_host.Ask(kVersion));
    EXPECT_EQ(m_module->CommandsAnswered(), 3u);
}

TEST_F(EmulatorTest, LateReplyArrivesDuringTheNextCommand) {
    Options options = Fast({Fault::LateReplies});
    options.lateReplyDelay = std::chrono::milliseconds(300);
    Serve(options);
    EnterCommandMode();
    EXPECT_TRUE(m_host.Ask(kFrameSize));
    m_host.Send(kVersion);
    const uint8_t lateSequence = m_host.Sequence();
    EXPECT_FALSE(m_host.Await(kVersion, 150));
    // The next command is answered at once; the late one follows it.
    auto next = m_host.Ask(kSerial);
    ASSERT_TRUE(next);
    auto late = m_host.AwaitFor(kVersion, lateSequence, 1000);
    ASSERT_TRUE(late);
    EXPECT_EQ(late.status, 0);
}

TEST_F(EmulatorTest, FailingStatusForParameterAndModeCommands) {
    Serve(Fast({Fault::FailingStatus}));
    EnterCommandMode();
    EXPECT_EQ(m_host.Ask(kVersion).status, 0);
    EXPECT_EQ(m_host.Ask(kGetParams, Ids({0x0001})).status, 1);
    EXPECT_EQ(m_host.Ask(kSetParams, Entries({{0x0001, 5}})).status, 1);
    EXPECT_EQ(m_host.Ask(kSetSystem, Entries({{0x0000, kABD}})).status, 1);
    EXPECT_EQ(m_module->Parameter(0x0001), 15u);
    EXPECT_EQ(m_host.Ask(kLeave).status, 0);
}

TEST_F(EmulatorTest, ModuleStopsAnsweringAfterAFewCommands) {
    Serve(Fast({Fault::StopAnswering}));
    EnterCommandMode();
    SetMode(kABD);
    EXPECT_TRUE(m_host.Ask(kFrameSize));
    EXPECT_TRUE(m_host.Ask(kLeave));
    EXPECT_FALSE(m_host.Ask(kEnter, {}, 300));
    EXPECT_TRUE(ParseReports(m_host.Collect(400)).frames.empty());
    EXPECT_EQ(m_module->CommandsAnswered(), 4u);
}

// A vanished line hangs up and withdraws its port; stopping the hung-up
// module later leaves a successor on that number alone.
TEST_F(EmulatorTest, DisappearLineHangsUpAndLeavesItsFormerPortNumberAlone) {
    Serve(Fast());
    const int port = m_module->PortNumber();
    EnterCommandMode();
    m_module->DisappearLine();
    EXPECT_TRUE(m_host.SeesHangUp(500));
    EXPECT_EQ(SerialPortDevicePath(port), "");
    Options successor = Fast();
    successor.port = port;
    ModuleEmulator next(successor);
    std::string error;
    ASSERT_TRUE(next.Start(&error)) << error;
    m_module->Stop();
    EXPECT_EQ(SerialPortDevicePath(port), next.DevicePath());
}

TEST_F(EmulatorTest, LineDisappearsByItselfAfterItsLifetime) {
    Options options = Fast({Fault::LineDisappears});
    options.lineLifetime = std::chrono::milliseconds(400);
    Serve(options);
    EnterCommandMode();
    EXPECT_FALSE(m_host.SeesHangUp(100));
    EXPECT_TRUE(m_host.SeesHangUp(1500));
}

TEST_F(EmulatorTest, TagNoiseBringsFalseHeadersBeforeRepliesAndReports) {
    Serve(Fast({Fault::TagNoise}));
    EnterCommandMode();
    m_host.TakeHeard();
    constexpr int kReplies = 12;
    for (int i = 0; i < kReplies; ++i) ASSERT_TRUE(m_host.Ask(kFrameSize)) << i;
    const Bytes beforeReplies = m_host.TakeHeard();
    EXPECT_GT(beforeReplies.size(), kReplies * (kFraming + 2));
    // Some of the noise is a copy of the reply that fails its checksum.
    EXPECT_GT(CountOf(beforeReplies, kCmdHeader), static_cast<size_t>(kReplies));

    // Between the reports: false report headers (frames that do not end in
    // a tailer) or bytes of the tags.
    auto goodOf = [](const ReportStream& r) {
        return static_cast<size_t>(std::count_if(r.frames.begin(), r.frames.end(),
                                                 [](const ReportFrame& f) { return f.tailerOk; }));
    };
    auto tracesOf = [&goodOf](const ReportStream& r) {
        return r.frames.size() - goodOf(r) +
               std::count_if(r.stray.begin(), r.stray.end(), [](uint8_t b) { return b >= 0x5A; });
    };
    SetMode(kABD);
    EXPECT_EQ(m_host.Ask(kLeave).status, 0);
    const ReportStream reports = ParseReports(m_host.CollectUntil(
        [&](const Bytes& bytes) {
            const ReportStream r = ParseReports(bytes);
            return goodOf(r) >= 3 && tracesOf(r) > 0;
        },
        5000));
    EXPECT_GE(goodOf(reports), 3u);
    EXPECT_GT(tracesOf(reports), 0u);
}

TEST_F(EmulatorTest, EveryThirdReplyIsDamagedAsItsFaultSays) {
    struct Case {
        Fault fault;
        bool (*fits)(const Bytes& heard, const Bytes& sent);
    };
    const Case cases[] = {
        {Fault::CorruptReplies,
         [](const Bytes& heard, const Bytes& sent) {
             if (heard.size() != sent.size()) return false;
             size_t differing = 0;
             for (size_t i = 0; i < sent.size(); ++i) differing += heard[i] != sent[i];
             return differing == 1;
         }},
        {Fault::TruncatedReplies,
         [](const Bytes& heard, const Bytes& sent) {
             return !heard.empty() && heard.size() < sent.size() &&
                    std::equal(heard.begin(), heard.end(), sent.begin());
         }},
        {Fault::DroppedBytes,
         [](const Bytes& heard, const Bytes& sent) {
             if (heard.size() + 1 != sent.size()) return false;
             const auto split = std::mismatch(heard.begin(), heard.end(), sent.begin());
             return std::equal(split.first, heard.end(), split.second + 1) &&
                    split.first != heard.begin() && split.first != heard.end();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(emulator::FaultName(c.fault));
        Serve(Fast({c.fault}));
        EXPECT_TRUE(m_host.Ask(kEnter));
        EXPECT_TRUE(m_host.Ask(kFrameSize));
        m_host.TakeHeard();
        EXPECT_FALSE(m_host.Ask(kFrameSize, {}, 100));
        const Bytes sent = TestHost::Frame(kFrameSize, m_host.Sequence(), Bytes{64, 0});
        EXPECT_TRUE(c.fits(m_host.TakeHeard(), sent));
        EXPECT_TRUE(m_host.Ask(kFrameSize));
        EXPECT_EQ(m_module->CommandsAnswered(), 4u);  // the damaged one included
    }
}

TEST_F(EmulatorTest, SlowFlashAnswersParameterWritesAfterItsDelay) {
    Options options = Fast({Fault::SlowFlash});
    options.flashWriteDelay = std::chrono::milliseconds(250);
    Serve(options);
    EnterCommandMode();
    const auto start = Clock::now();
    m_host.Send(kSetParams, Entries({{0x0001, 4}}));
    const uint8_t sequence = m_host.Sequence();
    EXPECT_FALSE(m_host.Await(kSetParams, 100));
    EXPECT_TRUE(m_host.AwaitFor(kSetParams, sequence, 1000));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_EQ(m_module->Parameter(0x0001), 4u);
    EXPECT_TRUE(m_host.Ask(kGetParams, Ids({0x0001}), 100));  // reads are not slowed
}

}  // namespace

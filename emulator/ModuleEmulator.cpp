#include "ModuleEmulator.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "BootLoader.h"
#include "PtyLine.h"
#include "Scene.h"
#include "common/KVEL_Common.h"
#include "device/RadarProtocol.h"

namespace emulator {

namespace rp = radar_protocol;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

namespace {

// ---------------------------------------------------------------------------
// Fault names.

struct FaultEntry {
    Fault fault;
    const char* name;
};

constexpr FaultEntry kFaultNames[] = {
    {Fault::StrayBytes, "stray-bytes"},
    {Fault::TagNoise, "tag-noise"},
    {Fault::BrokenTailers, "broken-tailers"},
    {Fault::OtherLengths, "other-lengths"},
    {Fault::DropReplies, "drop-replies"},
    {Fault::LateReplies, "late-replies"},
    {Fault::CorruptReplies, "corrupt-replies"},
    {Fault::TruncatedReplies, "truncated-replies"},
    {Fault::DroppedBytes, "dropped-bytes"},
    {Fault::SlowFlash, "slow-flash"},
    {Fault::FailingStatus, "failing-status"},
    {Fault::StopAnswering, "stop-answering"},
    {Fault::LineDisappears, "line-disappears"},
    {Fault::ShortBootReplies, "short-boot-replies"},
    {Fault::SilentBootLoader, "silent-boot-loader"},
    {Fault::SmallPackets, "small-packets"},
    {Fault::LostLastPacket, "lost-last-packet"},
};

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// ---------------------------------------------------------------------------
// The module's behaviour constants.

constexpr int kPollSliceMs = 10;
constexpr int kWriteStallMs = 200;
constexpr auto kStaleInput = std::chrono::milliseconds(500);
// A length field claiming more than this cannot be a command: the byte is
// taken as noise instead of holding up every later command.
constexpr size_t kLargestCommandFrame = rp::kLargestBootFrame;

// drop-replies, late-replies, corrupt-replies, truncated-replies, dropped-bytes
constexpr uint64_t kFaultyReplyEvery = 3;
constexpr uint64_t kCommandsBeforeSilence = 4;  // stop-answering
// Texts are paged with a u16 offset and length.
constexpr size_t kLongestText = 0xFFFF;

// A boot loader that names this packet size takes no image (small-packets).
constexpr int kSmallPacketSize = 20;

constexpr uint8_t kWrongReportTailer[4] = {0xF5, 0xF6, 0xF7, 0xF8};
constexpr size_t kCommandHeaderBytes = sizeof rp::kCommandHeader;
constexpr size_t kCommandTailerBytes = sizeof rp::kCommandTailer;
// Bytes that begin or end frames, for tag-noise.
constexpr uint8_t kTagBytes[] = {0x5A, 0xA5, 0x3C, 0xC3, 0xF1, 0xF2,
                                 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8};

// ---------------------------------------------------------------------------
// Little-endian fields.

void PutU16(Bytes* out, uint16_t value) {
    out->push_back(static_cast<uint8_t>(value));
    out->push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(Bytes* out, uint32_t value) {
    PutU16(out, static_cast<uint16_t>(value));
    PutU16(out, static_cast<uint16_t>(value >> 16));
}

uint16_t GetU16(const uint8_t* data) { return static_cast<uint16_t>(data[0] | (data[1] << 8)); }

uint32_t GetU32(const uint8_t* data) {
    return GetU16(data) | (static_cast<uint32_t>(GetU16(data + 2)) << 16);
}

// ---------------------------------------------------------------------------
// Frames on the module's side of the line.

struct Command {
    uint8_t code = 0;
    uint8_t sequence = 0;
    size_t frameBytes = 0;
    Bytes payload;
};

struct Reply {
    uint8_t code = 0;
    uint8_t sequence = 0;
    int status = rp::kStatusOk;
    Bytes payload;
};

Reply Answer(const Command& command, int status, Bytes payload = {}) {
    Reply reply{command.code, command.sequence, status, {}};
    if (status == rp::kStatusOk) reply.payload = std::move(payload);
    return reply;
}

// CRC-16/CCITT, bit by bit as the module's firmware would compute it.
uint16_t Crc16(const uint8_t* data, size_t size) {
    uint16_t crc = rp::kChecksumInitial;
    for (size_t i = 0; i < size; ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool feedback = (((crc >> 15) ^ (data[i] >> bit)) & 1) != 0;
            crc = static_cast<uint16_t>(crc << 1);
            if (feedback) crc ^= rp::kChecksumPolynomial;
        }
    }
    return crc;
}

Bytes EncodeReply(const Reply& reply) {
    Bytes frame(rp::kCommandHeader, rp::kCommandHeader + kCommandHeaderBytes);
    PutU16(&frame, static_cast<uint16_t>(reply.payload.size()));
    PutU16(&frame, static_cast<uint16_t>(reply.code | (reply.sequence << rp::kSequenceShift) |
                                         (reply.status << rp::kStatusShift)));
    frame.insert(frame.end(), reply.payload.begin(), reply.payload.end());
    PutU16(&frame, Crc16(&frame[rp::kLengthOffset], frame.size() - rp::kLengthOffset));
    frame.insert(frame.end(), rp::kCommandTailer, rp::kCommandTailer + kCommandTailerBytes);
    return frame;
}

Bytes EncodeReport(const Bytes& payload, bool wrongTailer) {
    Bytes frame(rp::kReportHeader, rp::kReportHeader + 4);
    PutU16(&frame, static_cast<uint16_t>(payload.size()));
    frame.insert(frame.end(), payload.begin(), payload.end());
    const uint8_t* tailer = wrongTailer ? kWrongReportTailer : rp::kReportTailer;
    frame.insert(frame.end(), tailer, tailer + 4);
    return frame;
}

// Whether the whole frame at `pos` (`frameBytes` long) passes its checksum
// and ends in the tailer.
bool FrameChecks(const Bytes& in, size_t pos, size_t frameBytes) {
    const size_t checksumAt = pos + frameBytes - rp::kChecksumBytes - kCommandTailerBytes;
    const uint16_t crc = Crc16(&in[pos + rp::kLengthOffset], checksumAt - pos - rp::kLengthOffset);
    return GetU16(&in[checksumAt]) == crc &&
           std::memcmp(&in[checksumAt + rp::kChecksumBytes], rp::kCommandTailer,
                       kCommandTailerBytes) == 0;
}

// Takes every good command frame off the front of `input`. A header holds
// the cut until its frame is complete; a frame that fails its checksum or
// tailer is dropped and the search goes on one byte after its header, so
// nothing inside a good frame is ever taken for a frame. Bytes that cannot
// begin one are dropped, a frame still arriving stays.
std::vector<Command> CutCommands(Bytes* input) {
    std::vector<Command> commands;
    const Bytes& in = *input;
    size_t pos = 0;
    while (true) {
        while (pos + kCommandHeaderBytes <= in.size() &&
               std::memcmp(&in[pos], rp::kCommandHeader, kCommandHeaderBytes) != 0)
            ++pos;
        if (pos + rp::kPayloadOffset > in.size()) break;
        const size_t payloadBytes = GetU16(&in[pos + rp::kLengthOffset]);
        const size_t frameBytes = payloadBytes + rp::kFramingBytes;
        if (frameBytes > kLargestCommandFrame) {
            ++pos;
            continue;
        }
        if (pos + frameBytes > in.size()) break;
        if (!FrameChecks(in, pos, frameBytes)) {
            ++pos;
            continue;
        }
        const uint16_t word = GetU16(&in[pos + rp::kWordOffset]);
        Command command;
        command.code = static_cast<uint8_t>(word & rp::kCodeMask);
        command.sequence = static_cast<uint8_t>((word & rp::kSequenceMask) >> rp::kSequenceShift);
        command.frameBytes = frameBytes;
        const auto payload = in.begin() + static_cast<long>(pos + rp::kPayloadOffset);
        command.payload.assign(payload, payload + static_cast<long>(payloadBytes));
        commands.push_back(std::move(command));
        pos += frameBytes;
    }
    input->erase(input->begin(), input->begin() + static_cast<long>(pos));
    return commands;
}

// ---------------------------------------------------------------------------
// Detection parameters: the 34 IDs in their fixed order.

int ParamIndex(uint16_t id) {
    if (id == rp::kParamGateMax) return 0;
    if (id == rp::kParamAbsenceDelay) return 1;
    if (id >= rp::kParamTriggerFirst && id < rp::kParamTriggerFirst + rp::kGateCount) {
        return 2 + (id - rp::kParamTriggerFirst);
    }
    if (id >= rp::kParamHoldFirst && id < rp::kParamHoldFirst + rp::kGateCount) {
        return 2 + rp::kGateCount + (id - rp::kParamHoldFirst);
    }
    return -1;
}

std::array<uint32_t, rp::kParamCount> DefaultParams() {
    const DetectionSettings defaults = DetectionSettings::Defaults();
    std::array<uint32_t, rp::kParamCount> values{};
    values[0] = defaults.gateMax;
    values[1] = defaults.absenceDelaySeconds;
    for (int gate = 0; gate < rp::kGateCount; ++gate) {
        values[2 + gate] = defaults.trigger[gate];
        values[2 + rp::kGateCount + gate] = defaults.hold[gate];
    }
    return values;
}

bool IsBootCommand(uint8_t code) { return code >= rp::kCmdBootFirst && code <= rp::kCmdBootLast; }

bool IsRunningMode(uint32_t value) {
    return value == rp::kRunningModeBootLoader || value == rp::kRunningModeApp0 ||
           value == rp::kRunningModeApp1;
}

bool IsOperatingMode(uint32_t value) {
    return value == rp::kModeFunction || value == rp::kModeDataTransfer || value == rp::kModeABD;
}

// A replay's reports come `speed` times the module's rate, but not more
// than one a millisecond.
Clock::duration TickPeriod(const Options& options) {
    const SceneChoice& scene = options.scene;
    if (scene.replayFile.empty() || !IsReplaySpeed(scene.speed)) return options.reportPeriod;
    const std::chrono::duration<double, std::milli> scaled =
        std::chrono::duration<double, std::milli>(options.reportPeriod) / scene.speed;
    return std::max<Clock::duration>(std::chrono::milliseconds(1),
                                     std::chrono::duration_cast<Clock::duration>(scaled));
}

// The replay's options make sense and its recording is read (once: a
// restart carries on where the recording stood).
bool PrepareReplay(const SceneChoice& scene, Recording* recording, std::string* error) {
    if (scene.replayFile.empty()) {
        if (!scene.loop && scene.speed == 1.0) return true;
        *error = "loop and speed apply to a replay only (scene replay:FILE)";
        return false;
    }
    if (!IsReplaySpeed(scene.speed)) {
        *error = "the replay speed must be a factor from " + ReplaySpeedRange();
        return false;
    }
    return recording->Loaded() || recording->Load(scene.replayFile, scene.loop, error);
}

}  // namespace

bool ParseFaultList(const std::string& list, std::set<Fault>* faults, std::string* error) {
    std::set<Fault> parsed;
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        const std::string name = Trimmed(list.substr(start, comma - start));
        start = comma + 1;
        if (name.empty()) continue;
        bool known = false;
        for (const FaultEntry& entry : kFaultNames) {
            if (name == entry.name) {
                parsed.insert(entry.fault);
                known = true;
            }
        }
        if (!known) {
            std::string names;
            for (const FaultEntry& entry : kFaultNames) {
                names += names.empty() ? "" : ", ";
                names += entry.name;
            }
            *error = "unknown fault \"" + name + "\" (known faults: " + names + ")";
            return false;
        }
    }
    faults->insert(parsed.begin(), parsed.end());
    return true;
}

const char* FaultName(Fault fault) {
    for (const FaultEntry& entry : kFaultNames) {
        if (entry.fault == fault) return entry.name;
    }
    return "";
}

// ---------------------------------------------------------------------------

// The emulator writes no diagnostic lines: it runs inside the tests of the
// program, whose log must hold the program's own lines only.
struct ModuleEmulator::Impl {
    explicit Impl(Options opts)
        : options(std::move(opts)),
          runningMode(options.runningMode),
          bootLoader(
              options.partitionMask,
              options.faults.count(Fault::SmallPackets) ? kSmallPacketSize : options.packetSize,
              options.refusedPacket, options.imageFolder),
          scene(options.seed, options.scene),
          tickPeriod(TickPeriod(options)),
          random(options.seed ^ 0x9E3779B9u) {
        if (Has(Fault::LostLastPacket)) bootLoader.LoseLastPackets();
    }

    bool Has(Fault fault) const { return options.faults.count(fault) != 0; }

    // --- serving thread -------------------------------------------------
    void Serve();
    void OnInput(const uint8_t* data, size_t size);
    void OnCommand(const Command& command);
    Reply Execute(const Command& command);
    Reply ExecuteBoot(const Command& command);
    Reply BootReply(const Command& command, BootAnswer answer) const;
    Reply ConfirmationReply(const Command& command, BootConfirmation confirmation) const;
    bool StartSoftwareReset();
    bool Resetting();
    void PaceInput(size_t bytes);
    Reply SetDetectionParams(const Command& command);
    Reply GetDetectionParams(const Command& command);
    Reply SetSystemSettings(const Command& command);
    Reply Text(const Command& command, const std::string& text) const;
    void SendReply(const Reply& reply);
    void SendFaultyReply(const Reply& reply);
    void SendDueLateReplies();
    Bytes TagNoise(const Reply* reply);
    void StreamReport(const SceneReport& report);
    void StreamRecordedReport();
    bool StreamingMode(uint32_t* mode) const;
    void SendReportFrame(const Bytes& payload, uint32_t mode,
                         const std::vector<std::span<const uint8_t>>& followingFrames);
    bool Replaying() const { return !options.scene.replayFile.empty(); }
    void Transmit(Bytes bytes);
    bool HostAtOurRate() const { return line.HostBaudRate() == options.baudRate; }
    uint32_t RandomBelow(uint32_t bound) { return random() % bound; }
    DetectionSettings CurrentSettings() const;
    void HangUp();

    const Options options;
    PtyLine line;
    int port = -1;
    bool published = false;
    std::string devicePath;
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<bool> hangUpRequested{false};
    std::atomic<bool> lineGone{false};
    std::atomic<uint64_t> commandsAnswered{0};
    std::atomic<uint64_t> reportFramesSent{0};
    std::atomic<bool> reportsHeld{false};  // HoldReports: the stream pauses
    std::mutex hangUpMutex;
    std::condition_variable hangUpDone;

    // The module's state, read by the inspection methods.
    mutable std::mutex stateMutex;
    std::array<uint32_t, rp::kParamCount> params = DefaultParams();
    uint32_t operatingMode = rp::kModeFunction;
    bool commandMode = false;
    uint32_t runningMode;
    BootLoader bootLoader;
    uint64_t softwareResets = 0;

    // Serving thread only.
    struct LateReply {
        Clock::time_point due;
        Reply reply;
    };
    Scene scene;
    Recording recording;  // the replay scene's reports
    const Clock::duration tickPeriod;
    std::mt19937 random;
    Bytes input;
    Clock::time_point lastInput{};
    uint64_t commandsReceived = 0;
    bool silent = false;  // stop-answering has struck
    std::deque<LateReply> lateReplies;
    Clock::time_point lineFreeAt{};
    Clock::time_point inputFreeAt{};
    std::optional<Clock::time_point> resetDoneAt;  // while a software reset runs
};

DetectionSettings ModuleEmulator::Impl::CurrentSettings() const {
    std::lock_guard<std::mutex> lock(stateMutex);
    DetectionSettings settings;
    settings.gateMax = params[0];
    settings.absenceDelaySeconds = params[1];
    for (int gate = 0; gate < rp::kGateCount; ++gate) {
        settings.trigger[gate] = params[2 + gate];
        settings.hold[gate] = params[2 + rp::kGateCount + gate];
    }
    return settings;
}

void ModuleEmulator::Impl::Serve() {
    const Clock::time_point start = Clock::now();
    Clock::time_point nextTick = start + tickPeriod;
    std::array<uint8_t, 512> chunk{};
    while (!stop.load()) {
        const Clock::time_point now = Clock::now();
        if (!lineGone.load() && (hangUpRequested.load() || (Has(Fault::LineDisappears) &&
                                                            now - start >= options.lineLifetime))) {
            HangUp();
        }
        if (lineGone.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollSliceMs));
            continue;
        }

        auto wake = nextTick;
        for (const LateReply& late : lateReplies) wake = std::min(wake, late.due);
        const auto waitMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count();
        const int timeout = static_cast<int>(std::clamp<long>(waitMs, 0, kPollSliceMs));
        size_t received = 0;
        if (line.Read(chunk.data(), chunk.size(), timeout, &received) ==
            PtyLine::ReadResult::Data) {
            OnInput(chunk.data(), received);
        } else if (!input.empty() && Clock::now() - lastInput > kStaleInput) {
            input.clear();  // the rest of a frame that never came
        }
        SendDueLateReplies();
        Resetting();  // ends a software reset that is due

        // The scene runs on while nothing is streamed, as the room does; a
        // recording waits for somebody to read it.
        bool due = false;
        SceneReport report;
        while (Clock::now() >= nextTick) {
            if (!Replaying()) report = scene.Step(CurrentSettings());
            nextTick += tickPeriod;
            due = true;
        }
        if (due && Replaying())
            StreamRecordedReport();
        else if (due)
            StreamReport(report);
    }
}

void ModuleEmulator::Impl::OnInput(const uint8_t* data, size_t size) {
    // At another line speed the module's receiver makes garbage of every
    // byte: nothing it hears is a command.
    if (!HostAtOurRate()) {
        input.clear();
        return;
    }
    PaceInput(size);
    // A module that is restarting hears nothing.
    if (Resetting()) {
        input.clear();
        return;
    }
    lastInput = Clock::now();
    input.insert(input.end(), data, data + size);
    const uint64_t resetsBefore = softwareResets;  // written on this thread only
    for (const Command& command : CutCommands(&input)) {
        OnCommand(command);
        // A reset takes effect at once: the commands that came with it in
        // the same read are lost like the ones after it.
        if (softwareResets != resetsBefore) break;
    }
}

void ModuleEmulator::Impl::OnCommand(const Command& command) {
    if (lineGone.load()) return;
    ++commandsReceived;
    if (options.hangUpAtCommand != 0 && commandsReceived >= options.hangUpAtCommand) {
        HangUp();
        return;
    }
    if (Has(Fault::StopAnswering) && commandsReceived > kCommandsBeforeSilence) {
        silent = true;
    }
    if (silent) return;
    // The module restarts without a word; an application outside command
    // mode refuses the reset as any other command.
    if (command.code == rp::kCmdBootSoftwareReset && StartSoftwareReset()) return;
    if (IsBootCommand(command.code) && Has(Fault::SilentBootLoader)) return;
    const Reply reply = Execute(command);
    const bool faulty = commandsReceived % kFaultyReplyEvery == 0;
    if (Has(Fault::DropReplies) && faulty) return;
    if (Has(Fault::LateReplies) && faulty) {
        lateReplies.push_back({Clock::now() + options.lateReplyDelay, reply});
        return;
    }
    if (Has(Fault::SlowFlash) && command.code == rp::kCmdSetDetectionParams) {
        lateReplies.push_back({Clock::now() + options.flashWriteDelay, reply});
        return;
    }
    if (faulty) {
        SendFaultyReply(reply);
        return;
    }
    SendReply(reply);
}

Reply ModuleEmulator::Impl::Execute(const Command& command) {
    if (IsBootCommand(command.code)) return ExecuteBoot(command);
    const size_t maxFrame = static_cast<size_t>(options.maxFrameSize);
    if (command.frameBytes > maxFrame) return Answer(command, rp::kStatusBadLength);
    const bool emptyPayload = command.payload.empty();
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (command.code == rp::kCmdEnterCommandMode) {
            if (!emptyPayload) return Answer(command, rp::kStatusBadLength);
            commandMode = true;
            Bytes version;
            PutU16(&version, rp::kProtocolVersion);
            return Answer(command, rp::kStatusOk, version);
        }
        if (!commandMode) return Answer(command, rp::kStatusNotInCommandMode);
    }
    const bool failing = Has(Fault::FailingStatus);
    switch (command.code) {
        case rp::kCmdLeaveCommandMode: {
            if (!emptyPayload) return Answer(command, rp::kStatusBadLength);
            std::lock_guard<std::mutex> lock(stateMutex);
            commandMode = false;
            return Answer(command, rp::kStatusOk);
        }
        case rp::kCmdGetVersion:
            return Text(command, options.version);
        case rp::kCmdGetSerialNumber:
            return Text(command, options.serialNumber);
        case rp::kCmdGetMaxFrameSize: {
            if (!emptyPayload) return Answer(command, rp::kStatusBadLength);
            Bytes size;
            PutU16(&size, static_cast<uint16_t>(options.maxFrameSize));
            return Answer(command, rp::kStatusOk, size);
        }
        case rp::kCmdSetDetectionParams:
            return failing ? Answer(command, rp::kStatusRefused) : SetDetectionParams(command);
        case rp::kCmdGetDetectionParams:
            return failing ? Answer(command, rp::kStatusRefused) : GetDetectionParams(command);
        case rp::kCmdSetSystemSettings:
            return failing ? Answer(command, rp::kStatusRefused) : SetSystemSettings(command);
        default:
            return Answer(command, rp::kStatusUnknownCommand);
    }
}

// The boot loader listens whenever it runs; an application takes the
// boot-loader queries in command mode only, and no image at all.
Reply ModuleEmulator::Impl::ExecuteBoot(const Command& command) {
    std::lock_guard<std::mutex> lock(stateMutex);
    const bool inBootLoader = runningMode == rp::kRunningModeBootLoader;
    if (!inBootLoader && !commandMode) return Answer(command, rp::kStatusNotInCommandMode);
    if (command.frameBytes > static_cast<size_t>(rp::kLargestBootFrame)) {
        return Answer(command, rp::kStatusBadLength);
    }
    switch (command.code) {
        case rp::kCmdBootRunningMode:
            return BootReply(command, {rp::kBootStatusOk, runningMode});
        case rp::kCmdBootPartitions:
            return BootReply(command, {rp::kBootStatusOk, options.partitionMask});
        case rp::kCmdBootDeviceId:
            return BootReply(command, {rp::kBootStatusOk, options.deviceId});
        case rp::kCmdBootImageInfo:
            if (!inBootLoader) return BootReply(command, {rp::kBootStatusRefused, 0});
            return BootReply(command, bootLoader.ImageInformation(command.payload));
        case rp::kCmdBootImagePacket:
            if (!inBootLoader) return BootReply(command, {rp::kBootStatusRefused, 0});
            return BootReply(command, bootLoader.ImagePacket(command.payload, command.frameBytes));
        case rp::kCmdBootConfirmImage:
            if (!command.payload.empty()) return Answer(command, rp::kStatusBadLength);
            if (!inBootLoader) return BootReply(command, {rp::kBootStatusRefused, 0});
            return ConfirmationReply(command, bootLoader.Confirmation());
        default:
            return Answer(command, rp::kStatusUnknownCommand);
    }
}

// A boot-loader answer travels as an accepted frame whose six payload bytes
// carry the boot loader's own status and value.
Reply ModuleEmulator::Impl::BootReply(const Command& command, BootAnswer answer) const {
    Bytes payload;
    PutU16(&payload, answer.status);
    PutU32(&payload, answer.value);
    if (Has(Fault::ShortBootReplies)) payload.pop_back();
    return Answer(command, rp::kStatusOk, payload);
}

Reply ModuleEmulator::Impl::ConfirmationReply(const Command& command,
                                              BootConfirmation confirmation) const {
    Bytes payload;
    PutU16(&payload, confirmation.status);
    PutU32(&payload, confirmation.size);
    PutU32(&payload, confirmation.checksum);
    if (Has(Fault::ShortBootReplies)) payload.pop_back();
    return Answer(command, rp::kStatusOk, payload);
}

bool ModuleEmulator::Impl::StartSoftwareReset() {
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        // An application takes the reset in command mode only.
        if (runningMode != rp::kRunningModeBootLoader && !commandMode) return false;
        ++softwareResets;
    }
    resetDoneAt = Clock::now() + options.resetDelay;
    input.clear();
    return true;
}

// True while a software reset runs; when it is over the module is in its
// boot loader, which streams nothing and listens at once.
bool ModuleEmulator::Impl::Resetting() {
    if (!resetDoneAt) return false;
    if (Clock::now() < *resetDoneAt) return true;
    resetDoneAt.reset();
    std::lock_guard<std::mutex> lock(stateMutex);
    runningMode = rp::kRunningModeBootLoader;
    commandMode = false;
    operatingMode = rp::kModeFunction;
    return false;
}

// With real timing, bytes from the host take their time on the wire too:
// the module has heard a command only once its last byte would have come.
void ModuleEmulator::Impl::PaceInput(size_t bytes) {
    if (!options.realTiming) return;
    const auto wire = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(bytes * 10.0 / options.baudRate));
    inputFreeAt = std::max(Clock::now(), inputFreeAt) + wire;
    std::this_thread::sleep_until(inputFreeAt);
}

Reply ModuleEmulator::Impl::Text(const Command& command, const std::string& text) const {
    // The question is empty (from the start) or names the offset to go on from.
    const Bytes& in = command.payload;
    if (!in.empty() && in.size() != rp::kTextOffsetBytes)
        return Answer(command, rp::kStatusBadLength);
    const size_t offset = in.empty() ? 0 : GetU16(in.data());
    if (offset > text.size()) return Answer(command, rp::kStatusRefused);
    const size_t room =
        static_cast<size_t>(options.maxFrameSize - rp::kFramingBytes - rp::kTextLengthBytes);
    const size_t length = std::min(text.size() - offset, room);
    Bytes page;
    PutU16(&page, static_cast<uint16_t>(text.size()));
    const auto from = text.begin() + static_cast<long>(offset);
    page.insert(page.end(), from, from + static_cast<long>(length));
    return Answer(command, rp::kStatusOk, page);
}

Reply ModuleEmulator::Impl::SetDetectionParams(const Command& command) {
    const Bytes& in = command.payload;
    if (in.empty() || in.size() % 6 != 0) return Answer(command, rp::kStatusBadLength);
    std::vector<std::pair<int, uint32_t>> writes;
    for (size_t at = 0; at < in.size(); at += 6) {
        const int index = ParamIndex(GetU16(&in[at]));
        if (index < 0) return Answer(command, rp::kStatusRefused);
        writes.emplace_back(index, GetU32(&in[at + 2]));
    }
    std::lock_guard<std::mutex> lock(stateMutex);
    for (const auto& [index, value] : writes) params[index] = value;
    return Answer(command, rp::kStatusOk);
}

Reply ModuleEmulator::Impl::GetDetectionParams(const Command& command) {
    const Bytes& in = command.payload;
    if (in.empty() || in.size() % 2 != 0) return Answer(command, rp::kStatusBadLength);
    const size_t count = in.size() / 2;
    // The answer must fit a frame as well as the question.
    if (count > static_cast<size_t>(options.maxFrameSize - rp::kFramingBytes) / 4) {
        return Answer(command, rp::kStatusBadLength);
    }
    std::vector<int> indices;
    for (size_t at = 0; at < in.size(); at += 2) {
        const int index = ParamIndex(GetU16(&in[at]));
        if (index < 0) return Answer(command, rp::kStatusRefused);
        indices.push_back(index);
    }
    Bytes values;
    std::lock_guard<std::mutex> lock(stateMutex);
    for (int index : indices) PutU32(&values, params[index]);
    return Answer(command, rp::kStatusOk, values);
}

Reply ModuleEmulator::Impl::SetSystemSettings(const Command& command) {
    const Bytes& in = command.payload;
    if (in.empty() || in.size() % 6 != 0) return Answer(command, rp::kStatusBadLength);
    uint32_t mode = 0;
    for (size_t at = 0; at < in.size(); at += 6) {
        const uint32_t value = GetU32(&in[at + 2]);
        if (GetU16(&in[at]) != rp::kSettingOperatingMode || !IsOperatingMode(value)) {
            return Answer(command, rp::kStatusRefused);
        }
        mode = value;
    }
    std::lock_guard<std::mutex> lock(stateMutex);
    operatingMode = mode;
    return Answer(command, rp::kStatusOk);
}

void ModuleEmulator::Impl::SendReply(const Reply& reply) {
    // Counted first: once the host holds the reply, the count includes it.
    commandsAnswered.fetch_add(1);
    Bytes bytes = Has(Fault::TagNoise) ? TagNoise(&reply) : Bytes{};
    const Bytes frame = EncodeReply(reply);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    Transmit(std::move(bytes));
}

// A reply damaged by whichever of the reply faults are on (one of them).
void ModuleEmulator::Impl::SendFaultyReply(const Reply& reply) {
    Bytes frame = EncodeReply(reply);
    if (Has(Fault::CorruptReplies)) {
        frame[RandomBelow(static_cast<uint32_t>(frame.size()))] ^=
            static_cast<uint8_t>(1 + RandomBelow(0xFF));
    } else if (Has(Fault::TruncatedReplies)) {
        frame.resize(1 + RandomBelow(static_cast<uint32_t>(frame.size() - 1)));
    } else if (Has(Fault::DroppedBytes)) {
        frame.erase(frame.begin() + 1 + RandomBelow(static_cast<uint32_t>(frame.size() - 2)));
    } else {
        SendReply(reply);
        return;
    }
    commandsAnswered.fetch_add(1);
    Transmit(std::move(frame));
}

void ModuleEmulator::Impl::SendDueLateReplies() {
    // Held back by different delays, so not always due in the order queued.
    const Clock::time_point now = Clock::now();
    for (auto it = lateReplies.begin(); it != lateReplies.end();) {
        if (it->due > now) {
            ++it;
            continue;
        }
        SendReply(it->reply);
        it = lateReplies.erase(it);
    }
}

// Noise made of what frames are made of. Before a reply (`reply` given) it
// may be a copy of that reply with a wrong checksum; every false command
// frame is complete within the noise, as a host cannot tell a false header
// from a real one until the frame it announces has come.
Bytes ModuleEmulator::Impl::TagNoise(const Reply* reply) {
    Bytes noise;
    switch (RandomBelow(reply ? 4 : 3)) {
        case 0: {  // tag bytes and other bytes mixed, never a whole command header
            for (uint32_t i = 1 + RandomBelow(8); i > 0; --i) {
                noise.push_back(RandomBelow(2) ? kTagBytes[RandomBelow(std::size(kTagBytes))]
                                               : static_cast<uint8_t>(RandomBelow(0x100)));
            }
            const auto* header = std::begin(rp::kCommandHeader);
            for (auto at = std::search(noise.begin(), noise.end(), header, header + 4);
                 at != noise.end(); at = std::search(at, noise.end(), header, header + 4))
                at[3] ^= 0x01;
            break;
        }
        case 1:  // the start of a command header
            noise.assign(rp::kCommandHeader, rp::kCommandHeader + 1 + RandomBelow(3));
            break;
        case 2: {  // a report header announcing an object report that is not there
            noise.assign(rp::kReportHeader, std::end(rp::kReportHeader));
            PutU16(&noise, rp::kObjectReportPayload);
            for (uint32_t i = RandomBelow(6); i > 0; --i)
                noise.push_back(static_cast<uint8_t>(RandomBelow(0x100)));
            break;
        }
        default: {  // the reply itself, its checksum wrong
            noise = EncodeReply(*reply);
            noise[noise.size() - kCommandTailerBytes - 1 - RandomBelow(2)] ^= 0x5A;
            break;
        }
    }
    return noise;
}

// Whether reports go out now, and in which mode.
bool ModuleEmulator::Impl::StreamingMode(uint32_t* mode) const {
    if (silent || reportsHeld.load()) return false;
    std::lock_guard<std::mutex> lock(stateMutex);
    if (commandMode) return false;
    *mode = operatingMode;
    return *mode == rp::kModeDataTransfer || *mode == rp::kModeABD;
}

void ModuleEmulator::Impl::StreamReport(const SceneReport& report) {
    uint32_t mode = 0;
    if (!StreamingMode(&mode)) return;
    Bytes payload{report.state};
    PutU16(&payload, report.distanceCm);
    if (mode == rp::kModeABD) {
        for (uint16_t energy : report.gateEnergy) PutU16(&payload, energy);
    }
    SendReportFrame(payload, mode, {});
}

// A recording moves on only while its object reports are read, so that
// whoever starts reading sees it from where it stood (the first time, from
// its start). In data transfer mode the module sends the state and distance
// of the report it stands at.
void ModuleEmulator::Impl::StreamRecordedReport() {
    uint32_t mode = 0;
    if (!StreamingMode(&mode)) return;
    const Recording::Report* report = recording.Current();
    if (!report) return;
    if (mode == rp::kModeABD) {
        SendReportFrame(Bytes(report->payload.begin(), report->payload.end()), mode,
                        report->followingFrames);
        recording.Advance();
        return;
    }
    const auto basic = report->payload.first(rp::kBasicReportPayload);
    SendReportFrame(Bytes(basic.begin(), basic.end()), mode, {});
}

// One report frame down the line, with the noise and extra frames the
// report faults add and, from a recording, the frames that followed it there.
void ModuleEmulator::Impl::SendReportFrame(
    const Bytes& payload, uint32_t mode,
    const std::vector<std::span<const uint8_t>>& followingFrames) {
    Bytes bytes;
    if (Has(Fault::TagNoise) && RandomBelow(2) == 0) bytes = TagNoise(nullptr);
    if (Has(Fault::StrayBytes) && RandomBelow(3) == 0) {
        const uint32_t count = 1 + RandomBelow(6);
        // Below the tag bytes, so that noise never begins a frame by itself.
        for (uint32_t i = 0; i < count; ++i)
            bytes.push_back(static_cast<uint8_t>(RandomBelow(0x5A)));
    }
    const bool wrongTailer = Has(Fault::BrokenTailers) && RandomBelow(5) == 0;
    const Bytes frame = EncodeReport(payload, wrongTailer);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    for (const std::span<const uint8_t> follower : followingFrames)
        bytes.insert(bytes.end(), follower.begin(), follower.end());
    if (Has(Fault::OtherLengths) && mode == rp::kModeABD && RandomBelow(4) == 0) {
        static constexpr uint16_t kOtherLengths[] = {0, 3, 20, 34, 36, 48};
        Bytes other(kOtherLengths[RandomBelow(std::size(kOtherLengths))]);
        for (uint8_t& byte : other) byte = static_cast<uint8_t>(RandomBelow(0x5A));
        const Bytes extra = EncodeReport(other, false);
        bytes.insert(bytes.end(), extra.begin(), extra.end());
    }
    reportFramesSent.fetch_add(1);
    if (options.onReportSent) options.onReportSent(payload.data(), payload.size());
    Transmit(std::move(bytes));
}

void ModuleEmulator::Impl::Transmit(Bytes bytes) {
    if (!HostAtOurRate()) {
        // What a receiver at another speed makes of the module's bytes.
        for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(RandomBelow(0x5A));
    }
    if (!options.realTiming) {
        line.Write(bytes.data(), bytes.size(), kWriteStallMs);
        return;
    }
    // Ten bits a byte on the wire; hand the bytes over in slices of about
    // two milliseconds so that the host sees them arrive as from a UART.
    const double byteSeconds = 10.0 / options.baudRate;
    const size_t slice = std::max<size_t>(1, static_cast<size_t>(options.baudRate / 10 / 500));
    // A slice reaches the host once its last byte has crossed the wire.
    Clock::time_point at = std::max(Clock::now(), lineFreeAt);
    for (size_t offset = 0; offset < bytes.size(); offset += slice) {
        const size_t count = std::min(slice, bytes.size() - offset);
        at += std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(count * byteSeconds));
        std::this_thread::sleep_until(at);
        line.Write(bytes.data() + offset, count, kWriteStallMs);
    }
    lineFreeAt = at;
}

void ModuleEmulator::Impl::HangUp() {
    line.Close();
    if (published) {
        WithdrawVirtualSerialPort(port);
        published = false;
    }
    {
        std::lock_guard<std::mutex> lock(hangUpMutex);
        lineGone.store(true);
    }
    hangUpDone.notify_all();
}

// ---------------------------------------------------------------------------

ModuleEmulator::ModuleEmulator(Options options)
    : m_impl(std::make_unique<Impl>(std::move(options))) {}

ModuleEmulator::~ModuleEmulator() { Stop(); }

bool ModuleEmulator::Start(std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    Impl& impl = *m_impl;
    if (impl.thread.joinable() || impl.line.IsOpen()) {
        *error = "the emulator is already running";
        return false;
    }
    if (impl.options.maxFrameSize < rp::kMinMaxFrameSize ||
        impl.options.maxFrameSize > rp::kMaxMaxFrameSize) {
        *error = "maximum frame size must be between " + std::to_string(rp::kMinMaxFrameSize) +
                 " and " + std::to_string(rp::kMaxMaxFrameSize) + " bytes";
        return false;
    }
    if (impl.options.reportPeriod < std::chrono::milliseconds(1)) {
        *error = "the report period must be at least 1 ms";
        return false;
    }
    if (!IsRunningMode(impl.options.runningMode)) {
        *error = "the running mode must be 1 (BootLoader), 2 (App0) or 4 (App1)";
        return false;
    }
    if (impl.options.packetSize < rp::kSmallestBootPacketSize ||
        impl.options.packetSize > rp::kLargestBootPacketSize) {
        *error = "the packet size must be more than " + std::to_string(rp::kBootPacketOverhead) +
                 " and at most " + std::to_string(rp::kLargestBootPacketSize) + " bytes";
        return false;
    }
    if (impl.options.version.size() > kLongestText ||
        impl.options.serialNumber.size() > kLongestText) {
        *error = "the version and serial number texts must be at most " +
                 std::to_string(kLongestText) + " bytes";
        return false;
    }
    if (!PrepareReplay(impl.options.scene, &impl.recording, error)) return false;
    if (!impl.line.Open(impl.options.baudRate, error)) return false;
    impl.devicePath = impl.line.SlavePath();
    impl.port = PublishVirtualSerialPort(impl.options.port, impl.devicePath);
    if (impl.port < 0) {
        *error = impl.options.port > 0 ? "port COM" + std::to_string(impl.options.port) +
                                             " is taken or cannot be published"
                                       : std::string("no virtual port could be published");
        impl.line.Close();
        return false;
    }
    impl.published = true;
    impl.stop.store(false);
    impl.hangUpRequested.store(false);
    impl.lineGone.store(false);
    impl.input.clear();
    impl.lateReplies.clear();
    impl.thread = std::thread([&impl] { impl.Serve(); });
    return true;
}

void ModuleEmulator::Stop() {
    Impl& impl = *m_impl;
    impl.stop.store(true);
    if (impl.thread.joinable()) impl.thread.join();
    impl.line.Close();
    if (impl.published) {
        WithdrawVirtualSerialPort(impl.port);
        impl.published = false;
    }
}

int ModuleEmulator::PortNumber() const { return m_impl->port; }

const std::string& ModuleEmulator::DevicePath() const { return m_impl->devicePath; }

uint32_t ModuleEmulator::Parameter(uint16_t id) const {
    const int index = ParamIndex(id);
    if (index < 0) return 0;
    std::lock_guard<std::mutex> lock(m_impl->stateMutex);
    return m_impl->params[index];
}

uint32_t ModuleEmulator::OperatingMode() const {
    std::lock_guard<std::mutex> lock(m_impl->stateMutex);
    return m_impl->operatingMode;
}

bool ModuleEmulator::InCommandMode() const {
    std::lock_guard<std::mutex> lock(m_impl->stateMutex);
    return m_impl->commandMode;
}

uint64_t ModuleEmulator::CommandsAnswered() const { return m_impl->commandsAnswered.load(); }

uint64_t ModuleEmulator::ReportFramesSent() const { return m_impl->reportFramesSent.load(); }

void ModuleEmulator::HoldReports(bool held) { m_impl->reportsHeld.store(held); }

uint32_t ModuleEmulator::RunningMode() const {
    std::lock_guard<std::mutex> lock(m_impl->stateMutex);
    return m_impl->runningMode;
}

uint64_t ModuleEmulator::SoftwareResets() const {
    std::lock_guard<std::mutex> lock(m_impl->stateMutex);
    return m_impl->softwareResets;
}

std::vector<uint8_t> ModuleEmulator::BootImage(uint32_t partition) const {
    std::lock_guard<std::mutex> lock(m_impl->stateMutex);
    return m_impl->bootLoader.Image(partition);
}

BootImageInfo ModuleEmulator::LatestDownload() const {
    std::lock_guard<std::mutex> lock(m_impl->stateMutex);
    const BootLoader& loader = m_impl->bootLoader;
    BootImageInfo info{
        loader.AnnouncedPartition(), loader.AnnouncedSize(), loader.AnnouncedChecksum(), {}};
    for (const BootPacketSeen& packet : loader.Packets()) info.packetBytes.push_back(packet.bytes);
    return info;
}

void ModuleEmulator::DisappearLine() {
    Impl& impl = *m_impl;
    if (!impl.thread.joinable()) {
        if (!impl.lineGone.load()) impl.HangUp();
        return;
    }
    impl.hangUpRequested.store(true);
    // The serving thread owns the line; wait until it has let go of it.
    std::unique_lock<std::mutex> lock(impl.hangUpMutex);
    impl.hangUpDone.wait_for(lock, std::chrono::seconds(5),
                             [&impl] { return impl.lineGone.load(); });
}

}  // namespace emulator

#include "Scene.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace emulator {
namespace {

constexpr double kEntryMetres = 12.0;  // where the person appears, beyond the last gate
constexpr double kRangeMetres = kSceneGates * kGateMetres;
constexpr uint32_t kDefaultThreshold = 1000;  // 30 dB

// The noise floor falls from about 25 dB at the first gate to about 15 dB
// at the last one.
constexpr double kNearNoise = 300.0;
constexpr double kFarNoise = 30.0;

// Echo strength of the person: a walking body reflects far more than one
// standing still, and less with distance.
constexpr double kMovingLow = 9000.0, kMovingHigh = 16000.0;
constexpr double kStandingLow = 1600.0, kStandingHigh = 2600.0;
constexpr double kFalloffPerGate = 0.08;
constexpr double kNeighbourShare = 1.0 / 8.0;
constexpr double kSecondNeighbourShare = 1.0 / 40.0;

uint16_t ClampEnergy(double value) {
    return static_cast<uint16_t>(std::clamp(std::lround(value), 0L, 65535L));
}

// A recording larger than this is refused rather than read into memory
// (ten hours of reports take about 16 MB).
constexpr long kLargestRecording = 1L << 30;

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        *error = "cannot open the recording \"" + path + "\": " + std::strerror(errno);
        return false;
    }
    bytes->clear();
    uint8_t chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0 &&
           bytes->size() + got <= static_cast<size_t>(kLargestRecording))
        bytes->insert(bytes->end(), chunk, chunk + got);
    const int readError = std::ferror(file) ? errno : 0;
    const bool tooLarge = got > 0;
    std::fclose(file);
    if (readError != 0) {
        *error = "cannot read the recording \"" + path + "\": " + std::strerror(readError);
        return false;
    }
    if (tooLarge) {
        *error = "the recording \"" + path + "\" is larger than " +
                 std::to_string(kLargestRecording >> 20) + " MiB";
        return false;
    }
    return true;
}

// The length of the whole report frame at `at` (header, length, payload,
// tailer), or 0 when none starts there.
size_t ReportFrameAt(const std::vector<uint8_t>& bytes, size_t at) {
    namespace rp = radar_protocol;
    constexpr size_t kTagBytes = sizeof rp::kReportHeader;
    if (bytes.size() - at < static_cast<size_t>(rp::kReportFramingBytes) ||
        std::memcmp(&bytes[at], rp::kReportHeader, kTagBytes) != 0)
        return 0;
    const size_t payload = bytes[at + kTagBytes] | (bytes[at + kTagBytes + 1] << 8);
    const size_t frame = payload + rp::kReportFramingBytes;
    if (bytes.size() - at < frame ||
        std::memcmp(&bytes[at + frame - kTagBytes], rp::kReportTailer, kTagBytes) != 0)
        return 0;
    return frame;
}

bool IsReportPayload(size_t size) {
    return size == radar_protocol::kBasicReportPayload ||
           size == radar_protocol::kObjectReportPayload;
}

}  // namespace

DetectionSettings DetectionSettings::Defaults() {
    DetectionSettings settings;
    settings.trigger.fill(kDefaultThreshold);
    settings.hold.fill(kDefaultThreshold);
    return settings;
}

bool ParseSceneChoice(const std::string& text, SceneChoice* choice, std::string* error) {
    static const std::string kConstant = "constant:";
    static const std::string kReplay = "replay:";
    if (text == "walk") {
        choice->constantEnergy.reset();
        choice->replayFile.clear();
        return true;
    }
    if (text.rfind(kReplay, 0) == 0 && text.size() > kReplay.size()) {
        choice->constantEnergy.reset();
        choice->replayFile = text.substr(kReplay.size());
        return true;
    }
    if (text.rfind(kConstant, 0) == 0) {
        const std::string number = text.substr(kConstant.size());
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(number.c_str(), &end, 10);
        if (!number.empty() && *end == '\0' && errno == 0 && value >= 0 && value <= 65535) {
            choice->constantEnergy = static_cast<uint16_t>(value);
            choice->replayFile.clear();
            return true;
        }
    }
    *error = "--scene needs walk, constant:N with N from 0 to 65535, or replay:FILE, not \"" +
             text + "\"";
    return false;
}

bool IsReplaySpeed(double speed) { return speed >= kSlowestReplay && speed <= kFastestReplay; }

std::string ReplaySpeedRange() {
    char text[48];
    std::snprintf(text, sizeof text, "%g to %g", kSlowestReplay, kFastestReplay);
    return text;
}

bool ParseReplaySpeed(const std::string& text, double* speed, std::string* error) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !IsReplaySpeed(value)) {
        *error = "--speed needs a factor from " + ReplaySpeedRange() + ", not \"" + text + "\"";
        return false;
    }
    *speed = value;
    return true;
}

bool Recording::Load(const std::string& path, bool loop, std::string* error) {
    m_reports.clear();
    m_next = 0;
    m_loop = loop;
    if (!ReadWholeFile(path, &m_bytes, error)) return false;
    constexpr size_t kHeaderBytes = sizeof radar_protocol::kReportHeader + 2;
    for (size_t at = 0; at < m_bytes.size();) {
        const size_t frame = ReportFrameAt(m_bytes, at);
        if (frame == 0) {
            ++at;
            continue;
        }
        const std::span<const uint8_t> whole(&m_bytes[at], frame);
        const size_t payload = frame - radar_protocol::kReportFramingBytes;
        if (IsReportPayload(payload)) {
            m_reports.push_back({whole.subspan(kHeaderBytes, payload), {}});
        } else if (!m_reports.empty()) {
            m_reports.back().followingFrames.push_back(whole);
        }
        at += frame;
    }
    if (m_reports.empty()) {
        *error = "the recording \"" + path + "\" holds no reports";
        return false;
    }
    return true;
}

const Recording::Report* Recording::Current() const {
    return m_next < m_reports.size() ? &m_reports[m_next] : nullptr;
}

void Recording::Advance() {
    if (m_next < m_reports.size()) ++m_next;
    if (m_next == m_reports.size() && m_loop) m_next = 0;
}

Scene::Scene(uint32_t seed, SceneChoice choice) : m_random(seed), m_choice(choice) {
    for (int gate = 0; gate < kSceneGates; ++gate) {
        const double fall = std::pow(kFarNoise / kNearNoise, gate / double(kSceneGates - 1));
        m_noiseFloor[gate] = kNearNoise * fall * Uniform(0.85, 1.15);
    }
    PlanCycle();
}

double Scene::Uniform(double low, double high) {
    // The generator's raw output is the same on every platform; the standard
    // distributions are not, so the mapping is done here.
    const double unit = m_random() / 4294967296.0;
    return low + (high - low) * unit;
}

void Scene::PlanCycle() {
    m_cycle.standMetres = Uniform(1.5, 4.0);
    m_cycle.standSeconds = Uniform(12.0, 18.0);
    // Longer than the default absence delay, so that the module reports the
    // empty room before the next person comes.
    m_cycle.goneSeconds = Uniform(12.0, 18.0);
    m_cycle.speed = Uniform(0.7, 1.0);
    m_cycleStart = Seconds();
}

void Scene::MoveTarget() {
    double t = Seconds() - m_cycleStart;
    const double walk = (kEntryMetres - m_cycle.standMetres) / m_cycle.speed;
    if (t < walk) {
        m_targetMetres = kEntryMetres - t * m_cycle.speed;
        m_targetMoving = true;
        return;
    }
    t -= walk;
    if (t < m_cycle.standSeconds) {
        m_targetMetres = m_cycle.standMetres;
        m_targetMoving = false;
        return;
    }
    t -= m_cycle.standSeconds;
    if (t < walk) {
        m_targetMetres = m_cycle.standMetres + t * m_cycle.speed;
        m_targetMoving = true;
        return;
    }
    t -= walk;
    m_targetMetres = -1.0;
    m_targetMoving = false;
    if (t >= m_cycle.goneSeconds) {
        PlanCycle();
        MoveTarget();
    }
}

std::array<uint16_t, kSceneGates> Scene::MeasureEnergy() {
    std::array<double, kSceneGates> energy{};
    for (int gate = 0; gate < kSceneGates; ++gate) {
        energy[gate] = m_noiseFloor[gate] * Uniform(0.6, 1.4);
    }
    // Drawn every period whether or not the person is in range, so that the
    // noise sequence does not depend on where the person is.
    const double strength =
        m_targetMoving ? Uniform(kMovingLow, kMovingHigh) : Uniform(kStandingLow, kStandingHigh);
    if (m_targetMetres >= 0.0 && m_targetMetres < kRangeMetres) {
        const int at = static_cast<int>(m_targetMetres / kGateMetres);
        const double echo = strength / (1.0 + kFalloffPerGate * at);
        for (int gate = 0; gate < kSceneGates; ++gate) {
            const int apart = std::abs(gate - at);
            const double share = apart == 0   ? 1.0
                                 : apart == 1 ? kNeighbourShare
                                 : apart == 2 ? kSecondNeighbourShare
                                              : 0.0;
            energy[gate] += echo * share;
        }
    }
    std::array<uint16_t, kSceneGates> raw{};
    for (int gate = 0; gate < kSceneGates; ++gate) raw[gate] = ClampEnergy(energy[gate]);
    return raw;
}

void Scene::Detect(const DetectionSettings& settings, SceneReport* report) {
    const int lastGate = static_cast<int>(std::min<uint32_t>(settings.gateMax, kSceneGates - 1));
    bool triggered = false;
    bool held = false;
    int strongest = -1;
    for (int gate = 0; gate <= lastGate; ++gate) {
        const uint32_t e = report->gateEnergy[gate];
        const bool overTrigger = e > settings.trigger[gate];
        const bool overHold = e > settings.hold[gate];
        triggered |= overTrigger;
        held |= overHold;
        if ((overTrigger || overHold) && (strongest < 0 || e > report->gateEnergy[strongest])) {
            strongest = gate;
        }
    }

    // Counted in whole report periods, so that a delay of n seconds is
    // exactly n × 10 reports.
    const uint64_t delayTicks =
        uint64_t{settings.absenceDelaySeconds} * static_cast<uint64_t>(1.0 / kTickSeconds + 0.5);
    if (triggered || (m_present && held)) {
        m_present = true;
        m_lastSeenTick = m_tick;
    } else if (m_present && m_tick - m_lastSeenTick >= delayTicks) {
        m_present = false;
    }

    if (!m_present) {
        m_distanceCm = 0;
    } else if (strongest >= 0 && (triggered || held)) {
        const int gateStart = strongest * 70;
        const int targetCm = static_cast<int>(std::lround(m_targetMetres * 100.0));
        // The person's own position when the echo comes from its gate; the
        // middle of the gate for anything else.
        m_distanceCm = static_cast<uint16_t>(
            targetCm >= gateStart && targetCm < gateStart + 70 ? targetCm : gateStart + 35);
    }
    report->state = m_present ? 1 : 0;
    report->distanceCm = m_distanceCm;
}

SceneReport Scene::Step(const DetectionSettings& settings) {
    ++m_tick;
    SceneReport report;
    if (m_choice.constantEnergy) {
        // Nobody walks in; the detection still judges the energies.
        report.gateEnergy.fill(*m_choice.constantEnergy);
    } else {
        MoveTarget();
        report.gateEnergy = MeasureEnergy();
    }
    Detect(settings, &report);
    return report;
}

}  // namespace emulator

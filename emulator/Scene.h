// The module's surroundings and its presence detection: a noise floor in
// every range gate and one person who walks in, stands still for a while
// and leaves again, on a repeating cycle. Plain and deterministic for a
// given seed; the emulator steps it once per report period.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "device/RadarProtocol.h"

namespace emulator {

constexpr int kSceneGates = radar_protocol::kGateCount;
constexpr double kGateMetres = radar_protocol::kGateLengthMetres;

// The module's detection parameters, raw as the module holds them.
struct DetectionSettings {
    uint32_t gateMax = 15;
    uint32_t absenceDelaySeconds = 10;
    std::array<uint32_t, kSceneGates> trigger{};  // linear power per gate
    std::array<uint32_t, kSceneGates> hold{};

    static DetectionSettings Defaults();
};

// What the room holds: by default the walking person over the noise floor;
// "constant:N" is an empty room whose every gate reports the raw energy N,
// so that anything derived from the energies is known in advance;
// "replay:FILE" is no room at all but a recording from the field.
struct SceneChoice {
    std::optional<uint16_t> constantEnergy;
    std::string replayFile;  // a radar data file whose reports the module sends
    bool loop = false;       // a replay starts again at its end
    double speed = 1.0;      // a replay's reports come this many times the module's rate
};

constexpr double kSlowestReplay = 0.01;
constexpr double kFastestReplay = 100.0;

// Parses "walk", "constant:N" (N from 0 to 65535) or "replay:FILE"; false
// with a message on error. The replay's loop and speed stay as they are.
bool ParseSceneChoice(const std::string& text, SceneChoice* choice, std::string* error);
// Parses a replay speed (a factor from kSlowestReplay to kFastestReplay).
bool ParseReplaySpeed(const std::string& text, double* speed, std::string* error);
bool IsReplaySpeed(double speed);
// The speeds a replay takes, as text ("0.01 to 100").
std::string ReplaySpeedRange();

// A recording played back: the report frames of a radar data file in the
// order they came down the line. Each of its reports is a frame whose
// payload is a report of either mode (3 or 35 bytes); frames of other
// lengths go with the report they followed, and whatever is no whole frame
// with its tailer (noise, a broken or cut frame) is passed over, as the
// host's parser passes over it.
class Recording {
public:
    struct Report {
        std::span<const uint8_t> payload;
        std::vector<std::span<const uint8_t>> followingFrames;  // whole frames, as recorded
    };

    Recording() = default;
    // The reports point into the recording's own bytes.
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // Reads `path`; false with a message when it cannot be read or holds
    // no report.
    bool Load(const std::string& path, bool loop, std::string* error);
    bool Loaded() const { return !m_reports.empty(); }
    size_t ReportCount() const { return m_reports.size(); }

    // The report to send next; nullptr once a recording that does not loop
    // has been sent to its end.
    const Report* Current() const;
    // On to the next report; past the last one, back to the first when the
    // recording loops.
    void Advance();

private:
    std::vector<uint8_t> m_bytes;
    std::vector<Report> m_reports;  // spans into m_bytes
    bool m_loop = false;
    size_t m_next = 0;
};

struct SceneReport {
    uint8_t state = 0;        // 0 no target, 1 target present
    uint16_t distanceCm = 0;  // 0 while absent
    std::array<uint16_t, kSceneGates> gateEnergy{};
};

class Scene {
public:
    // One step of the room per report at the module's rate.
    static constexpr double kTickSeconds = 1.0 / radar_protocol::kReportsPerSecond;

    explicit Scene(uint32_t seed, SceneChoice choice = {});

    // Advances the scene by one report period and reports what the module
    // detects with `settings`.
    SceneReport Step(const DetectionSettings& settings);

    double Seconds() const { return m_tick * kTickSeconds; }
    // Where the person is now, in metres; negative while out of range.
    double TargetMetres() const { return m_targetMetres; }
    bool TargetMoving() const { return m_targetMoving; }

private:
    struct Cycle {
        double standMetres;
        double standSeconds;
        double goneSeconds;
        double speed;  // metres per second while walking
    };

    void PlanCycle();
    void MoveTarget();
    std::array<uint16_t, kSceneGates> MeasureEnergy();
    void Detect(const DetectionSettings& settings, SceneReport* report);
    double Uniform(double low, double high);  // from the seeded generator

    std::mt19937 m_random;
    SceneChoice m_choice;
    std::array<double, kSceneGates> m_noiseFloor{};
    uint64_t m_tick = 0;
    Cycle m_cycle{};
    double m_cycleStart = 0.0;  // seconds
    double m_targetMetres = -1.0;
    bool m_targetMoving = false;

    bool m_present = false;
    uint64_t m_lastSeenTick = 0;  // when some gate was last over a threshold
    uint16_t m_distanceCm = 0;
};

}  // namespace emulator

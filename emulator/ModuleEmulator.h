// The module emulator: speaks the module's side of the line protocol
// (docs/protocol.md) on a pseudo-terminal published as a virtual serial
// port. Used in-process by tests and by the radar-emulator program.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Scene.h"
#include "device/RadarProtocol.h"

namespace emulator {

enum class Fault {
    StrayBytes,      // "stray-bytes": noise bytes between report frames
    TagNoise,        // "tag-noise": noise of tag bytes and false headers before reports and replies
    BrokenTailers,   // "broken-tailers": some report frames end in a wrong tailer
    OtherLengths,    // "other-lengths": report frames of other payload lengths mixed in
    DropReplies,     // "drop-replies": some command replies are never sent
    LateReplies,     // "late-replies": some replies arrive after the host gave up
    CorruptReplies,  // "corrupt-replies": one byte of some replies is changed
    TruncatedReplies,  // "truncated-replies": some replies end early
    DroppedBytes,      // "dropped-bytes": some replies lose one byte in the middle
    SlowFlash,         // "slow-flash": parameter writes are answered after a flash write's delay
    FailingStatus,     // "failing-status": parameter and mode commands answered with status 1
    StopAnswering,     // "stop-answering": after a few commands, no more replies or reports
    LineDisappears,  // "line-disappears": after a while the line is hung up and the port withdrawn
    ShortBootReplies,  // "short-boot-replies": boot-loader replies one byte short of their six
    SilentBootLoader,  // "silent-boot-loader": boot-loader commands are never answered
    SmallPackets,      // "small-packets": the boot loader names a packet size of 20 bytes
    LostLastPacket,    // "lost-last-packet": the last image packet is accepted but not kept
};

// Parses "name,name,..." (the names above); false with a message on error.
bool ParseFaultList(const std::string& list, std::set<Fault>* faults, std::string* error);
const char* FaultName(Fault fault);

// The module's own report period.
constexpr std::chrono::milliseconds kModuleReportPeriod{1000 / radar_protocol::kReportsPerSecond};

struct Options {
    int port = 0;                                     // virtual port number; 0 = the first free one
    int baudRate = radar_protocol::kDefaultBaudRate;  // the line speed the module listens at
    int maxFrameSize = 64;                            // bytes, at least 18
    uint32_t seed = 1;                                // scene and fault randomness
    SceneChoice scene;                                // what the room holds
    std::set<Fault> faults;
    std::string version = "V1.2.0.5";
    std::string serialNumber = "ZQ05-0000-0001";
    bool realTiming = true;  // pace bytes at the baud rate
    // Time from one report (and step of the scene) to the next. Tests that
    // do not depend on the module's rate set it shorter; the scene counts
    // periods, so its person and the absence delay then run faster too.
    std::chrono::milliseconds reportPeriod = kModuleReportPeriod;
    // Called on the emulator's thread as each report starts down the line,
    // with its payload (measurements of the host's reaction time).
    std::function<void(const uint8_t* payload, size_t size)> onReportSent;
    // How long late-replies holds a reply back.
    std::chrono::milliseconds lateReplyDelay{2500};
    // How long slow-flash takes to answer a parameter write.
    std::chrono::milliseconds flashWriteDelay{1500};
    // How long the line lives under line-disappears.
    std::chrono::milliseconds lineLifetime{3000};
    // The line hangs up when this command arrives, before it is answered
    // (counted from 1); 0: never.
    uint64_t hangUpAtCommand = 0;

    // The boot loader.
    uint32_t runningMode = 2;    // the one it starts in: 1 BootLoader, 2 App0, 4 App1
    uint32_t partitionMask = 3;  // program partitions, one bit each
    uint32_t deviceId = 0x5A0105;
    int packetSize = 1024;  // named in the answer to the image information
    // How long the module takes to come back in its boot loader after a
    // software reset; it hears nothing meanwhile.
    std::chrono::milliseconds resetDelay{500};
    int64_t refusedPacket = -1;  // this packet index is refused; -1: none
    std::string imageFolder;     // complete images are written here; empty: kept in memory only
};

struct BootImageInfo {
    uint32_t partition = 0;
    uint32_t size = 0;
    uint32_t checksum = 0;
    std::vector<size_t> packetBytes;  // data and padding of each packet taken, in order
};

class ModuleEmulator {
public:
    explicit ModuleEmulator(Options options);
    ~ModuleEmulator();  // stops and withdraws the port
    ModuleEmulator(const ModuleEmulator&) = delete;
    ModuleEmulator& operator=(const ModuleEmulator&) = delete;

    // Opens the pseudo-terminal, publishes the port and starts serving on
    // its own thread. False with a message when any step fails.
    bool Start(std::string* error);
    void Stop();

    int PortNumber() const;
    const std::string& DevicePath() const;

    // Thread-safe views of the module's state, for tests.
    uint32_t Parameter(uint16_t id) const;  // 0 for an unknown ID
    uint32_t OperatingMode() const;         // 100, 101 or 102
    bool InCommandMode() const;
    uint64_t CommandsAnswered() const;
    uint64_t ReportFramesSent() const;
    // While held, the module sends no reports but still answers commands,
    // as a module whose sensing has stalled; the scene goes on meanwhile.
    void HoldReports(bool held);
    uint32_t RunningMode() const;
    uint64_t SoftwareResets() const;
    // The last complete image received for `partition`; empty when none.
    std::vector<uint8_t> BootImage(uint32_t partition) const;
    // The latest image information and the packets taken after it.
    BootImageInfo LatestDownload() const;
    // Hangs the line up now, as an unplugged adapter does.
    void DisappearLine();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace emulator

// radar-emulator: serves one emulated module on a virtual serial port until
// it is told to stop (SIGINT or SIGTERM).
#include <pthread.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ModuleEmulator.h"
#include "PtyLine.h"
#include "common/ProgramInfo.h"
#include "device/RadarProtocol.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

const char kUsage[] =
    "Usage: radar-emulator [options]\n"
    "Serves an emulated radar module on a virtual serial port until SIGINT or SIGTERM.\n"
    "The first line of output is \"COM<n> <device path>\".\n"
    "\n"
    "Options:\n"
    "  --port N            virtual port number (default: the first free one)\n"
    "  --baud B            line speed the module listens at (default 115200)\n"
    "  --max-frame BYTES   largest command frame, at least 16 (default 64)\n"
    "  --seed S            seed of the scene and the faults (default 1)\n"
    "  --scene NAME        walk (a person comes and goes, the default) or constant:N\n"
    "                      (nobody there, raw energy N in every gate)\n"
    "  --fault NAME,...    faults to show: stray-bytes, tag-noise, broken-tailers,\n"
    "                      other-lengths, drop-replies, late-replies, corrupt-replies,\n"
    "                      truncated-replies, dropped-bytes, slow-flash, failing-status,\n"
    "                      stop-answering, line-disappears, short-boot-replies,\n"
    "                      silent-boot-loader, small-packets (may be given more than once)\n"
    "  --late-delay MS     how late late-replies sends a reply (default 2500)\n"
    "  --flash-delay MS    how long slow-flash takes to answer a parameter write\n"
    "                      (default 1500)\n"
    "  --line-lifetime MS  how long the line lives under line-disappears (default 3000)\n"
    "  --hang-up-at N      hang the line up when command N arrives (default: never)\n"
    "  --running-mode M    BootLoader, App0 or App1: what the module runs at start (default App0)\n"
    "  --partitions MASK   the boot loader's program partitions, one bit each (default 3)\n"
    "  --device-id ID      the device ID (default 0x5A0105)\n"
    "  --packet-size BYTES packet size the boot loader names, 21 to 4096 (default 1024)\n"
    "  --reset-delay MS    how long a software reset takes (default 500)\n"
    "  --refuse-packet K   refuse image packet K (default: none)\n"
    "  --image-folder DIR  write each complete image there as App0.bin, App1.bin, ...\n"
    "  --version TEXT      the module's version text\n"
    "  --serial TEXT       the module's serial number text\n"
    "  --help              show this help\n";

struct UsageError {
    std::string message;
};

long long ParseNumber(const std::string& option, const std::string& text, long long low,
                      long long high) {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high) {
        throw UsageError{option + " needs a number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not \"" + text + "\""};
    }
    return value;
}

uint32_t ParseRunningMode(const std::string& text) {
    if (text == "BootLoader") return radar_protocol::kRunningModeBootLoader;
    if (text == "App0") return radar_protocol::kRunningModeApp0;
    if (text == "App1") return radar_protocol::kRunningModeApp1;
    throw UsageError{"--running-mode needs BootLoader, App0 or App1, not \"" + text + "\""};
}

// Accepts "--name value" and "--name=value".
class Arguments {
public:
    Arguments(int argc, char** argv) : m_items(argv + 1, argv + argc) {}

    bool Next(std::string* name, std::string* value, bool* hasValue) {
        if (m_at >= m_items.size()) return false;
        const std::string item = m_items[m_at++];
        const size_t equals = item.find('=');
        *hasValue = item.rfind("--", 0) == 0 && equals != std::string::npos;
        *name = *hasValue ? item.substr(0, equals) : item;
        if (*hasValue) *value = item.substr(equals + 1);
        return true;
    }
    std::string Value(const std::string& name, std::string* inline_, bool hasValue) {
        if (hasValue) return *inline_;
        if (m_at >= m_items.size()) throw UsageError{name + " needs a value"};
        return m_items[m_at++];
    }

private:
    std::vector<std::string> m_items;
    size_t m_at = 0;
};

const std::string kValueOptions[] = {
    "--port",          "--baud",        "--max-frame",     "--seed",        "--scene",
    "--fault",         "--version",     "--serial",        "--late-delay",  "--flash-delay",
    "--line-lifetime", "--hang-up-at",  "--running-mode",  "--partitions",  "--device-id",
    "--packet-size",   "--reset-delay", "--refuse-packet", "--image-folder"};

constexpr long long kLongestDelayMs = 24LL * 3600 * 1000;

std::chrono::milliseconds ParseMilliseconds(const std::string& option, const std::string& text) {
    return std::chrono::milliseconds(ParseNumber(option, text, 0, kLongestDelayMs));
}

// Returns false when only the help was asked for.
bool ParseOptions(int argc, char** argv, emulator::Options* options) {
    Arguments args(argc, argv);
    std::string name, value;
    bool hasValue = false;
    while (args.Next(&name, &value, &hasValue)) {
        if (name == "--help" || name == "-h") return false;
        if (std::find(std::begin(kValueOptions), std::end(kValueOptions), name) ==
            std::end(kValueOptions)) {
            throw UsageError{"unknown option \"" + name + "\""};
        }
        const std::string text = args.Value(name, &value, hasValue);
        if (name == "--port") {
            options->port = static_cast<int>(ParseNumber(name, text, 0, 9999));
        } else if (name == "--baud") {
            options->baudRate = static_cast<int>(ParseNumber(name, text, 1, 4000000));
            if (!emulator::PtyLine::IsSupportedRate(options->baudRate)) {
                throw UsageError{"--baud " + text + " is not a standard line speed"};
            }
        } else if (name == "--max-frame") {
            options->maxFrameSize = static_cast<int>(ParseNumber(name, text, 16, 4096));
        } else if (name == "--seed") {
            options->seed = static_cast<uint32_t>(ParseNumber(name, text, 0, 4294967295LL));
        } else if (name == "--scene") {
            std::string error;
            if (!emulator::ParseSceneChoice(text, &options->scene, &error)) throw UsageError{error};
        } else if (name == "--fault") {
            std::string error;
            if (!emulator::ParseFaultList(text, &options->faults, &error)) throw UsageError{error};
        } else if (name == "--late-delay") {
            options->lateReplyDelay = ParseMilliseconds(name, text);
        } else if (name == "--flash-delay") {
            options->flashWriteDelay = ParseMilliseconds(name, text);
        } else if (name == "--line-lifetime") {
            options->lineLifetime = ParseMilliseconds(name, text);
        } else if (name == "--hang-up-at") {
            options->hangUpAtCommand = static_cast<uint64_t>(ParseNumber(name, text, 0, INT64_MAX));
        } else if (name == "--running-mode") {
            options->runningMode = ParseRunningMode(text);
        } else if (name == "--partitions") {
            options->partitionMask =
                static_cast<uint32_t>(ParseNumber(name, text, 0, 0xFFFFFFFFLL));
        } else if (name == "--device-id") {
            options->deviceId = static_cast<uint32_t>(ParseNumber(name, text, 0, 0xFFFFFFFFLL));
        } else if (name == "--packet-size") {
            options->packetSize = static_cast<int>(ParseNumber(name, text, 21, 4096));
        } else if (name == "--reset-delay") {
            options->resetDelay = ParseMilliseconds(name, text);
        } else if (name == "--refuse-packet") {
            options->refusedPacket = ParseNumber(name, text, 0, 0xFFFFFFFFLL);
        } else if (name == "--image-folder") {
            options->imageFolder = text;
        } else if (name == "--version") {
            options->version = text;
        } else {  // --serial
            options->serialNumber = text;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // "--version" alone asks for the program's version; with a value it
    // sets the module's version text.
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::puts("radar-emulator " KVEL_PROGRAM_VERSION);
        return 0;
    }
    emulator::Options options;
    try {
        if (!ParseOptions(argc, argv, &options)) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    } catch (const UsageError& error) {
        std::fprintf(stderr, "radar-emulator: %s\n\n%s", error.message.c_str(), kUsage);
        return kExitUsage;
    }

    // Block the stop signals in every thread; the main thread takes them
    // with sigwait once the module is serving. A shell starts background
    // programs with SIGINT ignored, and an ignored signal is never pending:
    // restore the default first.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    emulator::ModuleEmulator module(options);
    std::string error;
    if (!module.Start(&error)) {
        std::fprintf(stderr, "radar-emulator: %s\n", error.c_str());
        return kExitFailure;
    }
    std::printf("COM%d %s\n", module.PortNumber(), module.DevicePath().c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    module.Stop();
    return 0;
}

// radar-emulator: serves one emulated module on a virtual serial port until
// it is told to stop (SIGINT or SIGTERM).
#include <pthread.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <QCommandLineParser>
#include <QStringList>

#include "ModuleEmulator.h"
#include "PtyLine.h"
#include "common/ProgramInfo.h"
#include "device/RadarProtocol.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

constexpr const char* kDescription =
    "Serves an emulated radar module on a virtual serial port until SIGINT or SIGTERM.\n"
    "The first line of output is \"COM<n> <device path>\".";

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

constexpr long long kLongestDelayMs = 24LL * 3600 * 1000;

std::chrono::milliseconds ParseMilliseconds(const std::string& option, const std::string& text) {
    return std::chrono::milliseconds(ParseNumber(option, text, 0, kLongestDelayMs));
}

// One option: its name, the name of its value (nullptr: a switch, applied
// with an empty value when given), its help, and how a value is put into the
// module's options (throwing UsageError when it is bad).
struct OptionEntry {
    const char* name;
    const char* valueName;
    const char* description;
    std::function<void(const std::string& option, const std::string& value, emulator::Options*)>
        apply;
};

template <typename Field>
auto Number(Field emulator::Options::*field, long long low, long long high) {
    return [=](const std::string& option, const std::string& value, emulator::Options* options) {
        options->*field = static_cast<Field>(ParseNumber(option, value, low, high));
    };
}

auto Milliseconds(std::chrono::milliseconds emulator::Options::*field) {
    return [=](const std::string& option, const std::string& value, emulator::Options* options) {
        options->*field = ParseMilliseconds(option, value);
    };
}

auto Text(std::string emulator::Options::*field) {
    return [=](const std::string&, const std::string& value, emulator::Options* options) {
        options->*field = value;
    };
}

const std::vector<OptionEntry>& OptionTable() {
    using O = emulator::Options;
    static const std::vector<OptionEntry> table = {
        {"port", "N", "virtual port number (default: the first free one)",
         Number(&O::port, 0, 9999)},
        {"baud", "B", "line speed the module listens at (default 115200)",
         [](const std::string& option, const std::string& value, O* options) {
             options->baudRate = static_cast<int>(ParseNumber(option, value, 1, 4000000));
             if (!emulator::PtyLine::IsSupportedRate(options->baudRate))
                 throw UsageError{"--baud " + value + " is not a standard line speed"};
         }},
        {"max-frame", "BYTES", "largest command frame, at least 18 (default 64)",
         Number(&O::maxFrameSize, radar_protocol::kMinMaxFrameSize,
                radar_protocol::kMaxMaxFrameSize)},
        {"seed", "S", "seed of the scene and the faults (default 1)",
         Number(&O::seed, 0, 4294967295LL)},
        {"scene", "NAME",
         "walk (a person comes and goes, the default), constant:N (nobody there, raw energy "
         "N in every gate) or replay:FILE (the reports of a radar data file)",
         [](const std::string&, const std::string& value, O* options) {
             std::string error;
             if (!emulator::ParseSceneChoice(value, &options->scene, &error))
                 throw UsageError{error};
         }},
        {"loop", nullptr, "a replay starts again at its end (default: it stops sending there)",
         [](const std::string&, const std::string&, O* options) { options->scene.loop = true; }},
        {"speed", "X", "a replay's reports come X times the module's rate, 0.01 to 100 (default 1)",
         [](const std::string&, const std::string& value, O* options) {
             std::string error;
             if (!emulator::ParseReplaySpeed(value, &options->scene.speed, &error))
                 throw UsageError{error};
         }},
        {"fault", "NAME,...",
         "faults to show: stray-bytes, tag-noise, broken-tailers, other-lengths, drop-replies, "
         "late-replies, corrupt-replies, truncated-replies, dropped-bytes, slow-flash, "
         "failing-status, stop-answering, line-disappears, short-boot-replies, "
         "silent-boot-loader, small-packets, lost-last-packet (may be given more than once)",
         [](const std::string&, const std::string& value, O* options) {
             std::string error;
             if (!emulator::ParseFaultList(value, &options->faults, &error))
                 throw UsageError{error};
         }},
        {"report-period", "MS",
         "time from one report (and step of the scene) to the next (default 100)",
         [](const std::string& option, const std::string& value, O* options) {
             options->reportPeriod =
                 std::chrono::milliseconds(ParseNumber(option, value, 1, kLongestDelayMs));
         }},
        {"late-delay", "MS", "how late late-replies sends a reply (default 2500)",
         Milliseconds(&O::lateReplyDelay)},
        {"flash-delay", "MS",
         "how long slow-flash takes to answer a parameter write (default 1500)",
         Milliseconds(&O::flashWriteDelay)},
        {"line-lifetime", "MS", "how long the line lives under line-disappears (default 3000)",
         Milliseconds(&O::lineLifetime)},
        {"hang-up-at", "N", "hang the line up when command N arrives (default: never)",
         Number(&O::hangUpAtCommand, 0, INT64_MAX)},
        {"running-mode", "MODE",
         "BootLoader, App0 or App1: what the module runs at start (default App0)",
         [](const std::string&, const std::string& value, O* options) {
             options->runningMode = ParseRunningMode(value);
         }},
        {"partitions", "MASK", "the boot loader's program partitions, one bit each (default 3)",
         Number(&O::partitionMask, 0, 0xFFFFFFFFLL)},
        {"device-id", "ID", "the device ID (default 0x5A0105)",
         Number(&O::deviceId, 0, 0xFFFFFFFFLL)},
        {"packet-size", "BYTES", "packet size the boot loader names, 21 to 4096 (default 1024)",
         Number(&O::packetSize, radar_protocol::kSmallestBootPacketSize,
                radar_protocol::kLargestBootPacketSize)},
        {"reset-delay", "MS", "how long a software reset takes (default 500)",
         Milliseconds(&O::resetDelay)},
        {"refuse-packet", "K", "refuse image packet K (default: none)",
         Number(&O::refusedPacket, 0, 0xFFFFFFFFLL)},
        {"image-folder", "DIR", "write each complete image there as App0.bin, App1.bin, ...",
         Text(&O::imageFolder)},
        {"module-version", "TEXT", "the module's version text", Text(&O::version)},
        {"serial", "TEXT", "the module's serial number text", Text(&O::serialNumber)},
    };
    return table;
}

// What main does after reading the command line.
enum class Outcome { Serve, Done, Wrong };

void Print(std::FILE* stream, QString text) {
    // Without an application object Qt cannot name the program itself.
    text.replace(QLatin1String("<executable_name>"), QLatin1String("radar-emulator"));
    std::fputs(text.toLocal8Bit().constData(), stream);
}

Outcome ReadCommandLine(int argc, char** argv, emulator::Options* options) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("show this help"));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("show the program's version"));
    parser.addOptions({help, version});
    for (const OptionEntry& entry : OptionTable())
        parser.addOption(QCommandLineOption(
            QString::fromLatin1(entry.name), QString::fromLatin1(entry.description),
            entry.valueName ? QString::fromLatin1(entry.valueName) : QString()));
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    try {
        if (!parser.parse(arguments)) throw UsageError{parser.errorText().toStdString()};
        if (parser.isSet(help)) {
            Print(stdout, parser.helpText());
            return Outcome::Done;
        }
        if (!parser.positionalArguments().isEmpty()) {
            // "--version TEXT" set the module's version before it named the program's.
            const std::string hint =
                parser.isSet(version) ? " (the module's version text: --module-version TEXT)" : "";
            throw UsageError{"unexpected argument \"" +
                             parser.positionalArguments().first().toStdString() + "\"" + hint};
        }
        if (parser.isSet(version)) {
            std::puts("radar-emulator " KVEL_PROGRAM_VERSION);
            return Outcome::Done;
        }
        for (const OptionEntry& entry : OptionTable()) {
            const QString name = QString::fromLatin1(entry.name);
            if (!entry.valueName && parser.isSet(name))
                entry.apply(std::string("--") + entry.name, std::string(), options);
            for (const QString& value : parser.values(name))
                entry.apply(std::string("--") + entry.name, value.toStdString(), options);
        }
    } catch (const UsageError& error) {
        std::fprintf(stderr, "radar-emulator: %s\n\n", error.message.c_str());
        Print(stderr, parser.helpText());
        return Outcome::Wrong;
    }
    return Outcome::Serve;
}

}  // namespace

int main(int argc, char** argv) {
    emulator::Options options;
    switch (ReadCommandLine(argc, argv, &options)) {
        case Outcome::Done:
            return 0;
        case Outcome::Wrong:
            return kExitUsage;
        case Outcome::Serve:
            break;
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

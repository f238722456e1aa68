// radar-cli's command line: the options, the commands with their help, and
// reading one line into Options (QCommandLineParser underneath). The one
// place that says which option belongs to which command.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "device/RadarProtocol.h"

namespace radarcli {

constexpr int kDefaultBaud = radar_protocol::kDefaultBaudRate;
// A calibration may average at most an hour of reports.
constexpr long long kMaxCalibrationReports = 36000;

struct Options {
    std::optional<int> port;  // one port named
    std::vector<int> ports;   // several: "--port 3,4,5"
    bool allPorts = false;    // "--port all": every port whose module answers
    int baud = kDefaultBaud;
    bool verbose = false;
    bool help = false;     // --help: the help of the command given, or of all
    bool version = false;  // --version
    std::optional<long long> count;
    std::optional<double> seconds;
    std::string rawFile;
    std::string partition;
    std::optional<int> resetWaitMs;
    std::string folder;       // capture
    std::optional<int> gate;  // replay, and what follows
    std::optional<int> scanSeconds;
    std::string paramsFile;
    bool csv = false;
    bool stats = false;
    std::optional<int> reports;  // calibrate
    bool apply = false;
    bool json = false;               // machine-readable output
    bool verify = false;             // params load, firmware flash: check what the module holds
    bool defaults = false;           // params diff: against the parameter defaults
    std::vector<std::string> words;  // the command and its operands
};

// Several modules at once: --port with a list or "all".
inline bool SeveralPorts(const Options& options) {
    return options.allPorts || !options.ports.empty();
}

// Reads the arguments (without the program name). Options may stand
// anywhere on the line, as "--name value" or "--name=value"; an option that
// does not belong to the command given is refused. Nullopt and *error when
// the line is wrong.
std::optional<Options> ReadCommandLine(const std::vector<std::string>& args, std::string* error);

// The usage line, every command's synopsis, the options that go with any
// command and the exit codes.
std::string GeneralHelp();
// The help of the command that `words` name ("params set", or "params" for
// all of its kind): synopsis, what it does, its options. Nullopt when no
// command has these words.
std::optional<std::string> CommandHelp(const std::vector<std::string>& words);

// Whole numbers (decimal or 0x hexadecimal) within [low, high], and finite
// decimal numbers; false for anything else, also for trailing text.
bool ParseInteger(const std::string& text, long long low, long long high, long long* value);
bool ParseNumber(const std::string& text, double* value);
// The message for a scan length outside the capture page's range.
std::string ScanLengthError(const std::string& text);

}  // namespace radarcli

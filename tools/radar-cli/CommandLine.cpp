#include "CommandLine.h"

#include <QCommandLineParser>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>

#include "Commands.h"
#include "FirmwareCommands.h"
#include "capture/NoiseScan.h"
#include "realtime/ThresholdCalibration.h"

namespace radarcli {
namespace {

using std::to_string;

struct OptionEntry {
    std::string name;
    std::string valueName;  // empty: a switch
    std::string description;
};

struct CommandEntry {
    std::string words;     // "params set"
    std::string operands;  // "NAME=VALUE..."
    std::vector<std::string> options;
    std::string summary;  // one line for the list of commands
    std::string details;  // what the command's own help adds
};

// The options every command takes.
const std::vector<OptionEntry>& CommonOptions() {
    static const std::vector<OptionEntry> options = {
        {"port", "N",
         "serial port number (default: the first listed); N,M,... or \"all\" (every port whose "
         "module answers) runs the command on those modules at once"},
        {"baud", "B", "line speed (default " + to_string(kDefaultBaud) + ")"},
        {"verbose", "", "also print the libraries' diagnostic lines"},
        {"help", "", "this text, or with a command that command's help"},
        {"version", "", "the program's version"},
    };
    return options;
}

// The options of one command or another.
const std::vector<OptionEntry>& CommandOptions() {
    static const std::vector<OptionEntry> options = {
        {"count", "N", "stop after N reports"},
        {"seconds", "S",
         "stream: stop after S seconds; capture: the scan's length in whole seconds, " +
             to_string(noise_scan::kMinSeconds) + " to " + to_string(noise_scan::kMaxSeconds) +
             " (default " + to_string(noise_scan::kDefaultSeconds) + ")"},
        {"raw", "FILE", "also keep the bytes as received in a radar data file"},
        {"folder", "DIR",
         "where the recording goes (default: the current folder; created when missing)"},
        {"gate", "G",
         "the range gate whose energy is printed, 0 to " + to_string(noise_scan::kGateCount - 1) +
             " (default 0)"},
        {"scan-seconds", "S",
         "count at most S seconds of reports, " + to_string(noise_scan::kMinSeconds) + " to " +
             to_string(noise_scan::kMaxSeconds) + " (default " +
             to_string(noise_scan::kMaxSeconds) + ")"},
        {"params", "XML", "thresholds from this parameter file (default: the parameter defaults)"},
        {"csv", "", "print CSV with a header line"},
        {"stats", "",
         "instead, per gate the highest and the mean energy (dB) and the share of reports "
         "above its trigger and above its hold threshold"},
        {"reports", "N",
         "average N reports, 1 to " + to_string(kMaxCalibrationReports) + " (default " +
             to_string(CThresholdCalibration::kDefaultReports) + ")"},
        {"apply", "", "write the proposed thresholds to the module"},
        {"json", "", "print one JSON document (its shape: docs/user-guide.md)"},
        {"verify", "", "afterwards, check that the module holds what was written"},
        {"defaults", "", "compare with the parameter defaults instead of a file"},
        {"partition", "App0|App1", "the program partition to write (required)"},
        {"reset-wait", "MS",
         "the time the module gets to reset into its boot loader (default " +
             to_string(FirmwareRequest{}.resetWait.count()) + ")"},
    };
    return options;
}

const std::vector<CommandEntry>& Commands() {
    static const std::vector<CommandEntry> commands = {
        {"ports", "", {}, "list the serial ports: number, name, device path", ""},
        {"doctor",
         "",
         {"json"},
         "name what stands between you and a module",
         "Lists each port with its device path, the processes that have it open, whether you "
         "may open it (and which group to join if not), whether ModemManager or brltty is "
         "running, and the line speed at which a module answers or streams reports (the "
         "usual speeds are tried, " +
             to_string(kDefaultBaud) +
             " first). With --port, that "
             "port only. Exit 0 when a module answered, 1 when no port could be opened, 2 when "
             "none answered."},
        {"info", "", {"json"}, "the module's version and serial number", ""},
        {"params get", "", {"json"}, "all parameters, by their parameter-file names", ""},
        {"params set",
         "NAME=VALUE...",
         {"json"},
         "change parameters",
         "Names as in the parameter file (any letter case), thresholds in dB."},
        {"params load",
         "FILE",
         {"verify", "json"},
         "write the parameters of a parameter file to the module",
         "With --verify the module's parameters are read back and compared with what was "
         "written; a difference is named and the exit code is 5."},
        {"params diff",
         "FILE | --defaults",
         {"defaults", "json"},
         "the parameters in which the module differs from a parameter file or the defaults",
         "One line per parameter that differs: its name, the module's value and the other. "
         "A file compares only the parameters it holds. Exit 0 when nothing differs, 5 when "
         "something does."},
        {"params save", "FILE", {}, "save the module's parameters to a parameter file", ""},
        {"stream",
         "",
         {"count", "seconds", "raw"},
         "one line per object report",
         "Each line: state, distance (m) and the " + to_string(noise_scan::kGateCount) +
             " gate energies (dB). Ctrl+C ends it."},
        {"capture",
         "",
         {"seconds", "folder", "json"},
         "record a noise scan into a radar data file",
         "The reports go into \"RadarData_<stamp>.dat\" beside its parameter file "
         "\"RadarData_<stamp>.xml\". Prints the data file's path, then the number of reports "
         "counted. Ctrl+C ends it early, keeping every byte read."},
        {"replay",
         "FILE",
         {"gate", "scan-seconds", "params", "csv", "stats", "json"},
         "replay a radar data file as the capture page does; no module needed",
         "One line per counted report: index, time (s), the energy of the chosen gate (dB) "
         "and the distance of the strongest gate above its trigger threshold (m). --json goes "
         "with --stats."},
        {"calibrate",
         "",
         {"reports", "apply", "json"},
         "propose thresholds from the empty scene, as \"Calc. Thres.\" does",
         "Averages the reports and prints the proposed trigger and hold threshold of every "
         "gate (dB) by their parameter-file names."},
        {"firmware query",
         "",
         {"json"},
         "the running firmware, the device ID and the program partitions",
         ""},
        {"firmware flash",
         "FILE --partition App0|App1",
         {"partition", "reset-wait", "verify", "json"},
         "write a firmware image into a program partition",
         "The module is reset into its boot loader first. With --verify the module is asked "
         "again, once the download has ended, what it holds; its size and checksum are "
         "compared with the file's, and a difference exits 5."},
    };
    return commands;
}

const OptionEntry* FindOption(const std::string& name) {
    for (const auto* list : {&CommonOptions(), &CommandOptions()})
        for (const OptionEntry& option : *list)
            if (option.name == name) return &option;
    return nullptr;
}

// The command whose words start the line, the longest first ("params set"
// before "params"); null when none does.
const CommandEntry* CommandOf(const std::vector<std::string>& words) {
    const CommandEntry* best = nullptr;
    size_t bestLength = 0;
    for (const CommandEntry& command : Commands()) {
        std::string line;
        for (size_t i = 0; i < words.size(); ++i) {
            line += (i ? " " : "") + words[i];
            if (line == command.words && i + 1 > bestLength) {
                best = &command;
                bestLength = i + 1;
            }
        }
    }
    return best;
}

std::string OptionSynopsis(const OptionEntry& option) {
    return "--" + option.name + (option.valueName.empty() ? "" : " " + option.valueName);
}

std::string Synopsis(const CommandEntry& command) {
    std::string text = command.words;
    if (!command.operands.empty()) text += " " + command.operands;
    for (const std::string& name : command.options)
        if (command.operands.find("--" + name) == std::string::npos)
            text += " [" + OptionSynopsis(*FindOption(name)) + "]";
    return text;
}

// `text` wrapped at 78 columns, every line indented by `indent`.
std::string Wrapped(const std::string& text, size_t indent) {
    std::string result, line;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(start, end - start);
        if (!line.empty() && indent + line.size() + 1 + word.size() > 78) {
            result += std::string(indent, ' ') + line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        start = end + 1;
    }
    if (!line.empty()) result += std::string(indent, ' ') + line + "\n";
    return result;
}

// "  name   text" in two columns, the text wrapped in its column; a name too
// wide for its column stands on a line of its own.
std::string Entry(const std::string& name, const std::string& text) {
    constexpr size_t kTextColumn = 28;
    const std::string wrapped = Wrapped(text, kTextColumn);
    const std::string head = "  " + name;
    if (head.size() + 2 > kTextColumn) return head + "\n" + wrapped;
    return head + wrapped.substr(head.size());
}

std::string OptionList(const std::vector<const OptionEntry*>& options) {
    std::string text;
    for (const OptionEntry* option : options)
        text += Entry(OptionSynopsis(*option), option->description);
    return text;
}

// "the module's version" -> "The module's version."
std::string Sentence(std::string text) {
    if (!text.empty()) text[0] = char(std::toupper(static_cast<unsigned char>(text[0])));
    return text + ".";
}

const char* const kExitCodes =
    "Exit codes: 0 success, 1 not connected or no such port, 2 the module did not\n"
    "answer, 3 a file could not be read or written, 4 the module refused the\n"
    "command, 5 what the module holds differs (params diff, --verify), 64 wrong\n"
    "usage. With several ports: the code of the first module, in the order given,\n"
    "that failed.\n";

std::string Joined(const std::vector<std::string>& words, const std::string& separator) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : separator) + word;
    return text;
}

// "--count belongs to stream" for an option the command does not take.
std::optional<std::string> MisplacedOption(const std::string& option, const CommandEntry* command) {
    if (command && std::count(command->options.begin(), command->options.end(), option))
        return std::nullopt;
    std::vector<std::string> owners;
    for (const CommandEntry& other : Commands())
        if (std::count(other.options.begin(), other.options.end(), option))
            owners.push_back(other.words);
    return "--" + option + " belongs to " + Joined(owners, " and ");
}

// Reads one option's value into the options; false with *error when bad.
using ValueReader = std::function<bool(const std::string& value, Options*, std::string* error)>;

ValueReader Integer(long long low, long long high, const std::string& what,
                    std::function<void(Options*, long long)> store) {
    return [=](const std::string& value, Options* options, std::string* error) {
        long long number = 0;
        if (!ParseInteger(value, low, high, &number)) {
            *error = "bad " + what + " \"" + value + "\"";
            return false;
        }
        store(options, number);
        return true;
    };
}

ValueReader Text(std::function<void(Options*, const std::string&)> store) {
    return [=](const std::string& value, Options* options, std::string*) {
        store(options, value);
        return true;
    };
}

constexpr long long kHighestPort = 1 << 20;

// "7", "3,4,5" (each port once) or "all".
bool ReadPorts(const std::string& value, Options* options, std::string* error) {
    if (value == "all") {
        options->allPorts = true;
        return true;
    }
    std::vector<int> ports;
    size_t start = 0;
    for (;;) {
        const size_t comma = value.find(',', start);
        const std::string item = value.substr(start, comma - start);
        long long number = 0;
        if (!ParseInteger(item, 0, kHighestPort, &number)) {
            *error = "bad port number \"" + item + "\"";
            return false;
        }
        if (std::count(ports.begin(), ports.end(), int(number))) {
            *error = "port " + item + " is named twice";
            return false;
        }
        ports.push_back(int(number));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (ports.size() == 1)
        options->port = ports.front();
    else
        options->ports = ports;
    return true;
}

const std::vector<std::pair<std::string, ValueReader>>& ValueReaders() {
    static const std::vector<std::pair<std::string, ValueReader>> readers = {
        {"port", ReadPorts},
        {"baud",
         Integer(1, 100000000, "line speed", [](Options* o, long long v) { o->baud = int(v); })},
        {"count",
         Integer(1, INT64_MAX, "report count", [](Options* o, long long v) { o->count = v; })},
        {"seconds",
         [](const std::string& value, Options* options, std::string* error) {
             double seconds = 0;
             if (!ParseNumber(value, &seconds) || seconds <= 0) {
                 *error = "bad number of seconds \"" + value + "\"";
                 return false;
             }
             options->seconds = seconds;
             return true;
         }},
        {"raw", Text([](Options* o, const std::string& v) { o->rawFile = v; })},
        {"reset-wait", Integer(0, 600000, "reset wait",
                               [](Options* o, long long v) { o->resetWaitMs = int(v); })},
        {"folder", Text([](Options* o, const std::string& v) { o->folder = v; })},
        {"gate", Integer(0, noise_scan::kGateCount - 1,
                         "range gate (0 to " + to_string(noise_scan::kGateCount - 1) + ")",
                         [](Options* o, long long v) { o->gate = int(v); })},
        {"scan-seconds",
         [](const std::string& value, Options* options, std::string* error) {
             long long seconds = 0;
             if (!ParseInteger(value, noise_scan::kMinSeconds, noise_scan::kMaxSeconds, &seconds)) {
                 *error = ScanLengthError(value);
                 return false;
             }
             options->scanSeconds = int(seconds);
             return true;
         }},
        {"params", Text([](Options* o, const std::string& v) { o->paramsFile = v; })},
        {"reports", Integer(1, kMaxCalibrationReports,
                            "number of reports (1 to " + to_string(kMaxCalibrationReports) + ")",
                            [](Options* o, long long v) { o->reports = int(v); })},
        {"partition", Text([](Options* o, const std::string& v) { o->partition = v; })},
    };
    return readers;
}

void SetSwitch(const std::string& name, Options* options) {
    if (name == "verbose") options->verbose = true;
    if (name == "help") options->help = true;
    if (name == "version") options->version = true;
    if (name == "csv") options->csv = true;
    if (name == "stats") options->stats = true;
    if (name == "apply") options->apply = true;
    if (name == "json") options->json = true;
    if (name == "verify") options->verify = true;
    if (name == "defaults") options->defaults = true;
}

}  // namespace

bool ParseInteger(const std::string& text, long long low, long long high, long long* value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0') return false;
    if (parsed < low || parsed > high) return false;
    *value = parsed;
    return true;
}

bool ParseNumber(const std::string& text, double* value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == text.c_str() || *end != '\0' || !std::isfinite(parsed)) return false;
    *value = parsed;
    return true;
}

std::string ScanLengthError(const std::string& text) {
    return "bad scan length \"" + text + "\" (whole seconds, " +
           to_string(noise_scan::kMinSeconds) + " to " + to_string(noise_scan::kMaxSeconds) + ")";
}

std::optional<Options> ReadCommandLine(const std::vector<std::string>& args, std::string* error) {
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    for (const auto* list : {&CommonOptions(), &CommandOptions()})
        for (const OptionEntry& entry : *list) {
            QStringList names{QString::fromStdString(entry.name)};
            if (entry.name == "help") names.prepend(QStringLiteral("h"));
            parser.addOption(QCommandLineOption(names, QString::fromStdString(entry.description),
                                                QString::fromStdString(entry.valueName)));
        }
    QStringList arguments{QStringLiteral("radar-cli")};
    for (const std::string& arg : args) arguments << QString::fromStdString(arg);
    if (!parser.parse(arguments)) {
        *error = parser.errorText().toStdString();
        return std::nullopt;
    }

    Options options;
    for (const QString& word : parser.positionalArguments())
        options.words.push_back(word.toStdString());
    const CommandEntry* command = CommandOf(options.words);
    for (const QString& qtName : parser.optionNames()) {
        const std::string name = qtName == QLatin1String("h") ? "help" : qtName.toStdString();
        const bool common =
            std::any_of(CommonOptions().begin(), CommonOptions().end(),
                        [&](const OptionEntry& entry) { return entry.name == name; });
        // With no command yet, the misplaced option is named once one is given.
        if (!common && !options.words.empty()) {
            if (auto misplaced = MisplacedOption(name, command)) {
                *error = *misplaced;
                return std::nullopt;
            }
        }
        const auto reader = std::find_if(ValueReaders().begin(), ValueReaders().end(),
                                         [&](const auto& entry) { return entry.first == name; });
        if (reader == ValueReaders().end()) {
            SetSwitch(name, &options);
        } else if (!reader->second(parser.values(qtName).constLast().toStdString(), &options,
                                   error)) {
            return std::nullopt;
        }
    }
    return options;
}

std::string GeneralHelp() {
    std::string text =
        "Usage: radar-cli [--port N|N,M,...|all] [--baud B] [--verbose] COMMAND [OPTIONS]\n"
        "       radar-cli help COMMAND   (or: radar-cli COMMAND --help)\n"
        "\n"
        "The module's functions from the command line, on the same libraries as the\n"
        "tool.\n"
        "\n"
        "Commands:\n";
    for (const CommandEntry& command : Commands()) {
        text += Entry(Synopsis(command), command.summary);
    }
    std::vector<const OptionEntry*> common;
    for (const OptionEntry& option : CommonOptions()) common.push_back(&option);
    return text + "\nOptions of every command:\n" + OptionList(common) + "\n" + kExitCodes;
}

std::optional<std::string> CommandHelp(const std::vector<std::string>& words) {
    // "params" alone: every params command.
    const std::string line = Joined(words, " ");
    std::vector<const CommandEntry*> matching;
    for (const CommandEntry& command : Commands())
        if (command.words == line || command.words.rfind(line + " ", 0) == 0)
            matching.push_back(&command);
    if (matching.empty()) return std::nullopt;
    std::string text;
    for (const CommandEntry* command : matching) {
        text += (text.empty() ? "" : "\n") +
                std::string("Usage: radar-cli [--port N] [--baud B] ") + Synopsis(*command) +
                "\n\n" + Wrapped(Sentence(command->summary), 0);
        if (!command->details.empty()) text += Wrapped(command->details, 0);
        std::vector<const OptionEntry*> options;
        for (const std::string& name : command->options) options.push_back(FindOption(name));
        if (!options.empty()) text += "\nOptions:\n" + OptionList(options);
    }
    return text + "\nThe options of every command: radar-cli --help.\n";
}

}  // namespace radarcli

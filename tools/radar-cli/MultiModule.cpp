#include "MultiModule.h"

#include <stdio.h>

#include <mutex>
#include <optional>
#include <thread>

#include "Commands.h"
#include "JsonOutput.h"
#include "common/KVEL_Common.h"
#include "device/KVEL_DataProcess.h"

namespace radarcli {
namespace {

// The probe of "--port all": a module answers when it enters command mode.
constexpr int kProbeAttempts = 2;
constexpr int kProbeReplyTimeoutMs = 300;

constexpr const char* kMessagePrefix = "radar-cli: ";

std::string PortName(int port) { return "COM" + std::to_string(port); }

// A stdio stream that hands on whole lines: each, without `strip` in front,
// to `target` behind `prefix` under the shared lock, and into Lines().
// Partial lines wait for their end, so modules never interleave within a line.
class LineStream {
public:
    LineStream(std::FILE* target, std::string prefix, std::string strip, std::mutex* lock)
        : m_target(target), m_prefix(std::move(prefix)), m_strip(std::move(strip)), m_lock(lock) {
        cookie_io_functions_t functions{};
        functions.write = &LineStream::Write;
        m_file = fopencookie(this, "w", functions);
        if (m_file) std::setvbuf(m_file, nullptr, _IOLBF, 0);
    }
    ~LineStream() { Close(); }
    LineStream(const LineStream&) = delete;
    LineStream& operator=(const LineStream&) = delete;

    std::FILE* File() const { return m_file; }
    // Flushes and closes the stream; a last line without its newline is
    // handed on too.
    std::vector<std::string> Close() {
        if (m_file) std::fclose(m_file);
        m_file = nullptr;
        if (!m_partial.empty()) Hand(m_partial);
        m_partial.clear();
        return m_lines;
    }

private:
    // Called by stdio with the stream locked.
    static ssize_t Write(void* cookie, const char* data, size_t size) {
        auto* self = static_cast<LineStream*>(cookie);
        self->m_partial.append(data, size);
        size_t start = 0;
        for (size_t end; (end = self->m_partial.find('\n', start)) != std::string::npos;
             start = end + 1)
            self->Hand(self->m_partial.substr(start, end - start));
        self->m_partial.erase(0, start);
        return static_cast<ssize_t>(size);
    }
    void Hand(std::string line) {
        if (!m_strip.empty() && line.rfind(m_strip, 0) == 0) line.erase(0, m_strip.size());
        m_lines.push_back(line);
        if (!m_target) return;
        std::lock_guard hold(*m_lock);
        std::fprintf(m_target, "%s%s\n", m_prefix.c_str(), line.c_str());
        std::fflush(m_target);
    }

    std::FILE* m_target;
    const std::string m_prefix;
    const std::string m_strip;
    std::mutex* m_lock;
    std::FILE* m_file = nullptr;
    std::string m_partial;
    std::vector<std::string> m_lines;
};

struct ModuleRun {
    int port = 0;
    int code = kExitOk;
    std::vector<std::string> out;
    std::vector<std::string> err;
};

enum class Probe : char { Answered, Silent, NotOpened };

Probe ProbeModule(int port, int baud) {
    KVEL_RADAR_HANDLE device = KVEL_Interface_RadarDevice_Serial_Create();
    Probe probe = Probe::NotOpened;
    if (KVEL_Interface_RadarDevice_Serial_OpenByPortNum(device, port, baud, 1, 0, 1, 0,
                                                        kProbeReplyTimeoutMs)) {
        probe =
            KVEL_Interface_RadarDevice_StartCmdMode(device, kProbeAttempts, kProbeReplyTimeoutMs)
                ? Probe::Answered
                : Probe::Silent;
        // Left as it was found: out of command mode again.
        if (probe == Probe::Answered) KVEL_Interface_RadarDevice_StopCmdMode(device);
        KVEL_Interface_RadarDevice_Serial_Close(device);
    }
    KVEL_Interface_RadarDevice_Serial_Destroy(device);
    return probe;
}

// The ports the options name; "all" names those left out on `err`.
std::vector<int> PortsToRun(const Options& options, std::FILE* err) {
    if (options.allPorts) return AnsweringPorts(options.baud, err);
    if (!options.ports.empty()) return options.ports;
    if (options.port) return {*options.port};
    const std::vector<SerialPortInfo> listed = ListSerialPorts();
    if (listed.empty()) return {};
    return {listed.front().number};
}

void RunModule(const Options& options, ModuleOutput output, const ModuleCommand& command,
               std::FILE* out, std::FILE* err, std::mutex* outputLock, ModuleRun* run) {
    Options mine = options;
    mine.port = run->port;
    mine.ports.clear();
    mine.allPorts = false;
    mine.json = output == ModuleOutput::Collected;
    const std::string name = PortName(run->port);
    LineStream moduleOut(output == ModuleOutput::Lines ? out : nullptr, name + ": ", "",
                         outputLock);
    LineStream moduleErr(err, kMessagePrefix + name + ": ", kMessagePrefix, outputLock);
    if (!moduleOut.File() || !moduleErr.File()) {
        run->code = kExitFileError;
        run->err = {"cannot make the module's output streams"};
    } else {
        run->code = command(mine, moduleOut.File(), moduleErr.File());
    }
    run->out = moduleOut.Close();
    const std::vector<std::string> errors = moduleErr.Close();
    run->err.insert(run->err.end(), errors.begin(), errors.end());
    if (output != ModuleOutput::Lines) return;
    // The module's one closing line: what became of it.
    std::string closing = name + ": ";
    if (run->code == kExitOk)
        closing += "done";
    else
        closing += "failed (exit " + std::to_string(run->code) + ")" +
                   (run->err.empty() ? "" : ": " + run->err.back());
    std::lock_guard hold(*outputLock);
    std::fprintf(out, "%s\n", closing.c_str());
    std::fflush(out);
}

QJsonArray JsonLines(const std::vector<std::string>& lines) {
    QJsonArray array;
    for (const std::string& line : lines) array.append(JsonText(line));
    return array;
}

QJsonObject JsonModule(const ModuleRun& run, ModuleOutput output) {
    QJsonObject module{{"port", run.port},
                       {"name", JsonText(PortName(run.port))},
                       {"ok", run.code == kExitOk},
                       {"exitCode", run.code},
                       {"errors", JsonLines(run.err)}};
    if (output == ModuleOutput::TextInJson) {
        module["output"] = JsonLines(run.out);
        return module;
    }
    std::string text;
    for (const std::string& line : run.out) text += line + "\n";
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text));
    module["result"] = document.isObject() ? QJsonValue(document.object()) : QJsonValue();
    return module;
}

void PrintSummary(const std::vector<ModuleRun>& runs, const std::string& commandWords,
                  ModuleOutput output, std::FILE* out) {
    QJsonArray modules, succeeded, failed;
    std::string failedNames;
    for (const ModuleRun& run : runs) {
        modules.append(JsonModule(run, output));
        (run.code == kExitOk ? succeeded : failed).append(run.port);
        if (run.code != kExitOk)
            failedNames += (failedNames.empty() ? "" : ", ") + PortName(run.port);
    }
    if (output != ModuleOutput::Lines) {
        PrintJson(out, QJsonObject{{"command", JsonText(commandWords)},
                                   {"modules", modules},
                                   {"succeeded", succeeded},
                                   {"failed", failed}});
        return;
    }
    std::string summary =
        std::to_string(runs.size()) + (runs.size() == 1 ? " module: " : " modules: ") +
        std::to_string(succeeded.size()) + " done, " + std::to_string(failed.size()) + " failed";
    if (!failedNames.empty()) summary += " (" + failedNames + ")";
    std::fprintf(out, "%s\n", summary.c_str());
    std::fflush(out);
}

}  // namespace

std::vector<int> AnsweringPorts(int baud, std::FILE* err) {
    const std::vector<SerialPortInfo> listed = ListSerialPorts();
    std::vector<Probe> probes(listed.size(), Probe::NotOpened);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < listed.size(); ++i)
        threads.emplace_back([&, i] { probes[i] = ProbeModule(listed[i].number, baud); });
    for (std::thread& thread : threads) thread.join();
    std::vector<int> ports;
    for (size_t i = 0; i < listed.size(); ++i) {
        const std::string name = PortName(listed[i].number);
        if (probes[i] == Probe::Answered)
            ports.push_back(listed[i].number);
        else if (probes[i] == Probe::Silent)
            std::fprintf(err, "%s%s left out: no module answered at %d baud\n", kMessagePrefix,
                         name.c_str(), baud);
        else
            std::fprintf(err, "%s%s left out: the port could not be opened\n", kMessagePrefix,
                         name.c_str());
    }
    return ports;
}

int RunOnModules(const Options& options, const std::string& commandWords, ModuleOutput output,
                 const ModuleCommand& command, std::FILE* out, std::FILE* err) {
    const std::vector<int> ports = PortsToRun(options, err);
    if (ports.empty()) {
        std::fprintf(
            err, "%s%s\n", kMessagePrefix,
            options.allPorts ? "no module answered on any port" : "no serial port present");
        if (output != ModuleOutput::Lines) PrintSummary({}, commandWords, output, out);
        return kExitNotConnected;
    }
    std::vector<ModuleRun> runs(ports.size());
    std::mutex outputLock;
    std::vector<std::thread> threads;
    for (size_t i = 0; i < ports.size(); ++i) {
        runs[i].port = ports[i];
        threads.emplace_back(RunModule, std::cref(options), output, std::cref(command), out, err,
                             &outputLock, &runs[i]);
    }
    for (std::thread& thread : threads) thread.join();
    PrintSummary(runs, commandWords, output, out);
    for (const ModuleRun& run : runs)
        if (run.code != kExitOk) return run.code;
    return kExitOk;
}

}  // namespace radarcli

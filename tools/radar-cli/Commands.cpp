#include "Commands.h"
#include "CommandLine.h"
#include "Doctor.h"
#include "FirmwareCommands.h"
#include "JsonOutput.h"
#include "MultiModule.h"
#include "ParamDiff.h"

#include <strings.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "capture/NoiseScan.h"
#include "common/KVEL_Common.h"
#include "common/ProgramInfo.h"
#include "connection/RadarConnection.h"
#include "device/KVEL_DataProcess.h"
#include "device/RadarProtocol.h"
#include "params/RadarParam.h"
#include "params/RadarParamFile.h"
#include "params/RadarParamModel.h"
#include "realtime/ReadingLoop.h"
#include "realtime/RealtimeReader.h"
#include "realtime/ReportFrame.h"

namespace radarcli {
namespace {

enum class FirmwareOperation { Query, Download };
class RunWatcher;

constexpr const char* kLineLostText = "not connected: the line to the module went away";
// How the library's diagnostic line and our message on a port that did not
// open begin.
constexpr const char* kOpenFailurePrefix = "cannot open serial port ";

// How often a wait looks at the stop flag, which an interrupt can only raise.
constexpr std::chrono::milliseconds kStopPollInterval(100);
// A calibration that hears no report for this long gives up.
constexpr auto kCalibrationSilence = std::chrono::seconds(5);

// A replay counts every report of the longest scan unless told otherwise.
constexpr int kDefaultReplaySeconds = noise_scan::kMaxSeconds;

// The libraries report why a port could not be opened, or why the module's
// replies could not be read, only as diagnostic lines; the ones that explain
// a failure are kept. With one command running every line is its; with
// several (one per module, each on its own thread) a line goes to the
// command whose thread wrote it.
class DiagnosticTail {
public:
    DiagnosticTail() : m_thread(std::this_thread::get_id()) {
        std::lock_guard registering(Registration());
        bool first = false;
        {
            std::lock_guard hold(TailsMutex());
            first = Tails().empty();
            Tails().push_back(this);
        }
        if (first) DbgOutputAddCallback(&DiagnosticTail::Route, nullptr);
    }
    ~DiagnosticTail() {
        std::lock_guard registering(Registration());
        bool last = false;
        {
            std::lock_guard hold(TailsMutex());
            std::erase(Tails(), this);
            last = Tails().empty();
        }
        // Not under the tails' lock: the removal waits for lines being routed.
        if (last) DbgOutputDelCallback(&DiagnosticTail::Route);
    }
    DiagnosticTail(const DiagnosticTail&) = delete;
    DiagnosticTail& operator=(const DiagnosticTail&) = delete;
    std::string Last() const {
        std::lock_guard hold(m_mutex);
        return m_last;
    }
    // The last line that found the line carrying bytes but no frame.
    std::string WrongBaudLine() const {
        std::lock_guard hold(m_mutex);
        return m_wrongBaud;
    }
    // The last line that said why a port did not open (others may follow it).
    std::string OpenFailureLine() const {
        std::lock_guard hold(m_mutex);
        return m_openFailure;
    }

private:
    static std::mutex& Registration() {
        static std::mutex mutex;
        return mutex;
    }
    static std::mutex& TailsMutex() {
        static std::mutex mutex;
        return mutex;
    }
    static std::vector<DiagnosticTail*>& Tails() {
        static std::vector<DiagnosticTail*> tails;
        return tails;
    }
    static int Route(void*, intptr_t, const char* text, int length) {
        std::lock_guard hold(TailsMutex());
        const std::vector<DiagnosticTail*>& tails = Tails();
        for (DiagnosticTail* tail : tails)
            if (tails.size() == 1 || tail->m_thread == std::this_thread::get_id())
                tail->Collect(text, length);
        return length;
    }
    void Collect(const char* text, int length) {
        std::string line(text, static_cast<size_t>(length));
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        std::lock_guard hold(m_mutex);
        if (line.find(KVEL_WRONG_BAUD_HINT) != std::string::npos) m_wrongBaud = line;
        if (strncasecmp(line.c_str(), kOpenFailurePrefix, std::strlen(kOpenFailurePrefix)) == 0)
            m_openFailure = line;
        m_last = std::move(line);
    }
    const std::thread::id m_thread;
    mutable std::mutex m_mutex;
    std::string m_last;
    std::string m_wrongBaud;
    std::string m_openFailure;
};

// "cannot open serial port N" with the library's reason, which may begin
// with the same words.
std::string OpenFailureText(int port, std::string why) {
    const std::string prefix = kOpenFailurePrefix + std::to_string(port);
    if (strncasecmp(why.c_str(), prefix.c_str(), prefix.size()) == 0) {
        why.erase(0, prefix.size());
        while (!why.empty() && (why.front() == ':' || why.front() == ' ')) why.erase(0, 1);
    }
    return why.empty() ? prefix : prefix + ": " + why;
}

// Applies NAME=VALUE; false with a message when the name or value is bad.
bool ApplyAssignment(const std::string& assignment, RadarParamSet* params, std::string* error) {
    const size_t equals = assignment.find('=');
    if (equals == std::string::npos || equals == 0) {
        *error = "expected NAME=VALUE, got \"" + assignment + "\"";
        return false;
    }
    const std::string name = assignment.substr(0, equals);
    const std::string value = assignment.substr(equals + 1);
    std::vector<RadarParamField> fields = RadarParamFields(params);
    for (size_t index = 0; index < fields.size(); ++index) {
        RadarParamField& field = fields[index];
        if (strcasecmp(field.name.c_str(), name.c_str()) != 0) continue;
        // The parameter page's limits hold here too: a value is taken as
        // given or refused, never changed on its way to the module.
        double number = 0;
        std::string why;
        if (!ParseRadarParamValue(static_cast<int>(index), value, &number, &why)) {
            *error = "bad value \"" + value + "\" for " + field.name + ": " + why;
            return false;
        }
        if (field.integer)
            *field.integer = static_cast<int32_t>(number);
        else
            *field.threshold = number;
        return true;
    }
    *error = "unknown parameter \"" + name + "\"";
    return false;
}

std::string UnreadableParamFileText(const std::string& file) {
    return "\"" + file + "\" cannot be read or holds no \"" + kRadarParamElement + "\"";
}

// The parameters by name; thresholds in dB to two places, as printed.
QJsonObject JsonParams(const RadarParamSet& params) {
    RadarParamSet copy = params;
    QJsonObject object;
    for (const RadarParamField& field : RadarParamFields(&copy))
        object[JsonText(field.name)] =
            field.integer ? QJsonValue(*field.integer) : QJsonValue(Rounded(*field.threshold, 2));
    return object;
}

void PrintParams(const RadarParamSet& params, std::FILE* out) {
    RadarParamSet copy = params;
    for (const RadarParamField& field : RadarParamFields(&copy)) {
        if (field.integer) {
            std::fprintf(out, "%s=%d\n", field.name.c_str(), *field.integer);
        } else {
            std::fprintf(out, "%s=%.2f\n", field.name.c_str(), *field.threshold);
        }
    }
}

// One command against the module, through the module session the window
// uses too.
class CommandRun {
public:
    CommandRun(const Options& options, std::FILE* out, std::FILE* err, const std::atomic<int>* stop)
        : m_options(options), m_out(out), m_err(err), m_stop(stop) {}
    ~CommandRun() {
        if (m_connected) m_module.Disconnect();
    }

    int Ports();
    int Info();
    int ParamsGet();
    int ParamsSet(const std::vector<std::string>& assignments);
    int ParamsLoad(const std::string& file);
    int ParamsSave(const std::string& file);
    // Against a parameter file, or the defaults when `file` is empty.
    int ParamsDiff(const std::string& file);
    int Stream();
    int Firmware(FirmwareOperation operation, const std::string& imageFile);
    int Capture(int seconds);
    int Replay(const std::string& file);
    int Calibrate();

private:
    // The port given, or the first listed; 0 with *failure set when none.
    int ChoosePort(int* failure);
    // The window's connect sequence: afterwards m_identity and the
    // session's parameter set hold
    // what the module said.
    int Connect();
    // Lets the module go as the window does (function mode, port closed);
    // `result` passes through.
    int Finish(int result);
    int ParamsFromConnect();
    int WriteModule(const RadarParamSet& params);
    // Reads the parameters back and names each that differs from `written`.
    int VerifyWritten(const RadarParamSet& written);
    // Refuses a parameter file that is not what it seems and names what
    // reading it passes over; `skipped` says what becomes of an unreadable value.
    int CheckParamFile(const std::string& file, const char* skipped, bool warnOutsideLimits);
    int Fail(int code, const std::string& message) {
        std::fprintf(m_err, "radar-cli: %s\n", message.c_str());
        return code;
    }
    // A step the module did not carry out: "not connected" when the line
    // went away meanwhile, otherwise "no answer", with the library's word on
    // a line that carried only garbage.
    int NoAnswer(const std::string& message);
    int ParamExchangeExit(int result, const std::string& refused, const std::string& notAnswered);
    // A mode switch that failed: refused (4) or not answered (2).
    int ModeSwitchFailed(const std::string& what);
    bool Stopped() const { return m_stop && m_stop->load() != 0; }
    int RunStream(std::FILE* raw);
    // Waits for the started scan's end; Ctrl+C stops it.
    CaptureRunEnd WaitForScan(CNoiseScan& scan, RunWatcher& watcher);

    const Options& m_options;
    std::FILE* m_out;
    std::FILE* m_err;
    const std::atomic<int>* m_stop;
    const RadarParamSet& Params() const { return m_module.Params().Values(); }
    CRadarSession m_module;
    bool m_connected = false;
    RadarConnectResult m_identity;
    DiagnosticTail m_diagnostics;
};

int CommandRun::Ports() {
    const std::vector<SerialPortInfo> ports = ListSerialPorts();
    if (ports.empty()) std::fprintf(m_err, "radar-cli: no serial ports found\n");
    for (const SerialPortInfo& port : ports) {
        std::fprintf(m_out, "%d\tCOM%d\t%s\n", port.number, port.number, port.devicePath.c_str());
    }
    return kExitOk;
}

int CommandRun::ChoosePort(int* failure) {
    *failure = kExitOk;
    if (m_options.port) {
        if (SerialPortDevicePath(*m_options.port).empty()) {
            *failure = Fail(kExitNotConnected, "no serial port " + std::to_string(*m_options.port));
        }
        return *m_options.port;
    }
    const std::vector<SerialPortInfo> ports = ListSerialPorts();
    if (ports.empty()) {
        *failure = Fail(kExitNotConnected, "no serial port present");
        return 0;
    }
    return ports.front().number;
}

// The firmware commands open the port themselves, in the boot loader's form.
int CommandRun::Firmware(FirmwareOperation operation, const std::string& imageFile) {
    int failure = kExitOk;
    FirmwareRequest request;
    request.port = ChoosePort(&failure);
    if (failure != kExitOk) return failure;
    request.baud = m_options.baud;
    request.imageFile = imageFile;
    request.partition = m_options.partition;
    request.json = m_options.json;
    request.verify = m_options.verify;
    if (m_options.resetWaitMs)
        request.resetWait = std::chrono::milliseconds(*m_options.resetWaitMs);
    request.openFailure = [this, port = request.port] {
        return OpenFailureText(port, m_diagnostics.OpenFailureLine());
    };
    return operation == FirmwareOperation::Query ? FirmwareQuery(request, m_out, m_err, m_stop)
                                                 : FirmwareFlash(request, m_out, m_err, m_stop);
}

int CommandRun::Connect() {
    int failure = kExitOk;
    const int port = ChoosePort(&failure);
    if (failure != kExitOk) return failure;
    m_identity = m_module.Connect(port, m_options.baud);
    if (!m_identity.opened)
        return Fail(kExitNotConnected, OpenFailureText(port, m_diagnostics.Last()));
    if (!m_module.IsConnected()) return Fail(kExitNotConnected, kLineLostText);
    m_connected = true;
    return kExitOk;
}

int CommandRun::NoAnswer(const std::string& message) {
    if (!m_module.IsConnected()) return Fail(kExitNotConnected, kLineLostText);
    const std::string wrongBaud = m_diagnostics.WrongBaudLine();
    return Fail(kExitNoAnswer, wrongBaud.empty() ? message : message + " (" + wrongBaud + ")");
}

int CommandRun::ModeSwitchFailed(const std::string& what) {
    if (m_module.IsConnected() && m_module.ModeSwitchRefused())
        return Fail(kExitRefused, "the module refused to " + what);
    return NoAnswer("the module did not " + what);
}

int CommandRun::Finish(int result) {
    if (m_connected) {
        m_connected = false;
        m_module.Disconnect();
    }
    return result;
}

int CommandRun::Info() {
    if (int result = Connect(); result != kExitOk) return result;
    if (!m_identity.versionRead) {
        return Finish(NoAnswer("the module did not answer the version request"));
    }
    if (!m_identity.serialRead) {
        return Finish(NoAnswer("the module did not answer the serial number request"));
    }
    if (m_options.json) {
        PrintJson(m_out, QJsonObject{{"version", JsonText(m_identity.version)},
                                     {"serialNumber", JsonText(m_identity.serial)}});
    } else {
        std::fprintf(m_out, "Version: %s\nSerial number: %s\n", m_identity.version.c_str(),
                     m_identity.serial.c_str());
    }
    return Finish(kExitOk);
}

// The exit of a parameter exchange's result: refused and not answered each
// say what of.
int CommandRun::ParamExchangeExit(int result, const std::string& refused,
                                  const std::string& notAnswered) {
    switch (result) {
        case kRadarOk:
            return kExitOk;
        case kRadarNotConnected:
            return Fail(kExitNotConnected, "the module is not connected");
        case kRadarRefused:
            return Fail(kExitRefused, "the module refused " + refused);
        default:
            return NoAnswer("the module did not " + notAnswered);
    }
}

int CommandRun::ParamsFromConnect() {
    return ParamExchangeExit(m_identity.paramsResult, "the parameter read",
                             "answer the parameter read");
}

int CommandRun::WriteModule(const RadarParamSet& params) {
    return ParamExchangeExit(m_module.WriteParams(params), "the parameters",
                             "accept the parameters");
}

int CommandRun::ParamsGet() {
    if (int result = Connect(); result != kExitOk) return result;
    if (int result = ParamsFromConnect(); result != kExitOk) return Finish(result);
    if (m_options.json)
        PrintJson(m_out, QJsonObject{{"parameters", JsonParams(Params())}});
    else
        PrintParams(Params(), m_out);
    return Finish(kExitOk);
}

int CommandRun::ParamsSet(const std::vector<std::string>& assignments) {
    if (assignments.empty()) return Fail(kExitUsage, "params set needs NAME=VALUE");
    // Every assignment is checked before the module is touched.
    RadarParamSet probe;
    std::string error;
    for (const std::string& assignment : assignments) {
        if (!ApplyAssignment(assignment, &probe, &error)) return Fail(kExitUsage, error);
    }
    if (int result = Connect(); result != kExitOk) return result;
    if (int result = ParamsFromConnect(); result != kExitOk) return Finish(result);
    RadarParamSet params = Params();
    for (const std::string& assignment : assignments) ApplyAssignment(assignment, &params, &error);
    return Finish(WriteModule(params));
}

int CommandRun::CheckParamFile(const std::string& file, const char* skipped,
                               bool warnOutsideLimits) {
    const RadarParamFileCheck check = CheckRadarParamFile(AnsiToWide(file).c_str());
    if (!check.error.empty()) return Fail(kExitFileError, "\"" + file + "\" " + check.error);
    for (const std::string& attribute : check.unreadable) {
        std::fprintf(m_err, "radar-cli: %s: %s is no number: %s\n", file.c_str(), attribute.c_str(),
                     skipped);
    }
    if (!warnOutsideLimits) return kExitOk;
    for (const std::string& attribute : check.outsideLimits) {
        std::fprintf(m_err, "radar-cli: warning: %s: %s; written as the file holds it\n",
                     file.c_str(), attribute.c_str());
    }
    return kExitOk;
}

int CommandRun::ParamsLoad(const std::string& file) {
    const std::wstring path = AnsiToWide(file);
    // A file that is not what it seems is refused, and what loading would
    // pass over is named, before the module is touched.
    if (int result = CheckParamFile(file, "skipped, the module keeps its value", true);
        result != kExitOk)
        return result;
    if (int result = Connect(); result != kExitOk) return result;
    // What the file leaves out keeps the module's value.
    if (int result = ParamsFromConnect(); result != kExitOk) return Finish(result);
    RadarParamSet params = Params();
    if (!LoadRadarParamFile(path.c_str(), &params)) {
        return Finish(Fail(kExitFileError, "\"" + file + "\" could no longer be read"));
    }
    if (int result = WriteModule(params); result != kExitOk || !m_options.verify)
        return Finish(result);
    return Finish(VerifyWritten(params));
}

int CommandRun::VerifyWritten(const RadarParamSet& written) {
    if (int result = ParamExchangeExit(m_module.ReadParams(), "the parameter read-back",
                                       "answer the parameter read-back");
        result != kExitOk)
        return result;
    const std::vector<ParamDifference> differences = ParamDifferences(Params(), written);
    for (const ParamDifference& difference : differences) {
        const auto [held, wanted] = DifferenceTexts(difference);
        std::fprintf(m_err, "radar-cli: read back: %s is %s, written %s\n", difference.name.c_str(),
                     held.c_str(), wanted.c_str());
    }
    if (!differences.empty())
        return Fail(kExitDiffers, "the module does not hold the parameters written");
    return kExitOk;
}

int CommandRun::ParamsDiff(const std::string& file) {
    const bool defaults = file.empty();
    if (!defaults) {
        if (int result = CheckParamFile(file, "not compared", false); result != kExitOk)
            return result;
    }
    if (int result = Connect(); result != kExitOk) return result;
    if (int result = ParamsFromConnect(); result != kExitOk) return Finish(result);
    // A file compares what it holds: the rest is taken from the module.
    RadarParamSet other = defaults ? RadarParamSet{} : Params();
    if (!defaults && !LoadRadarParamFile(AnsiToWide(file).c_str(), &other))
        return Finish(Fail(kExitFileError, "\"" + file + "\" could no longer be read"));
    const std::vector<ParamDifference> differences = ParamDifferences(Params(), other);
    const char* const otherName = defaults ? "default" : "file";
    QJsonArray list;
    for (const ParamDifference& difference : differences) {
        const auto [mine, theirs] = DifferenceTexts(difference);
        if (!m_options.json) {
            std::fprintf(m_out, "%s: module %s, %s %s\n", difference.name.c_str(), mine.c_str(),
                         otherName, theirs.c_str());
            continue;
        }
        const int decimals = difference.integer ? 0 : 2;
        list.append(QJsonObject{{"name", JsonText(difference.name)},
                                {"module", Rounded(difference.module, decimals)},
                                {"other", Rounded(difference.other, decimals)}});
    }
    if (m_options.json) {
        PrintJson(m_out, QJsonObject{{"against", defaults ? QString("defaults") : JsonText(file)},
                                     {"differences", list}});
    }
    std::fflush(m_out);
    return Finish(differences.empty() ? kExitOk : kExitDiffers);
}

int CommandRun::ParamsSave(const std::string& file) {
    if (int result = Connect(); result != kExitOk) return result;
    if (int result = ParamsFromConnect(); result != kExitOk) return Finish(result);
    std::string error;
    if (!SaveRadarParamFile(AnsiToWide(file).c_str(), &Params(), &error)) {
        return Finish(Fail(kExitFileError, error));
    }
    return Finish(kExitOk);
}

// Prints every report and counts them; raises the loop's stop flag once
// the wanted number has been printed.
class ReportPrinter : public IObjectReportListener {
public:
    ReportPrinter(std::FILE* out, std::optional<long long> limit, std::atomic<int>* loopStop)
        : m_out(out), m_limit(limit), m_loopStop(loopStop) {}
    void OnObjectReport(const uint8_t* payload) override {
        const ObjectReport report = DecodeObjectReport(payload);
        std::fprintf(m_out, "%u %.2f", report.TargetState, report.TargetDistance / 100.0);
        for (uint16_t energy : report.GateEnergy) std::fprintf(m_out, " %.2f", EnergyToDb(energy));
        std::fputc('\n', m_out);
        std::fflush(m_out);
        ++m_seen;
        if (m_limit && m_seen >= *m_limit) m_loopStop->store(1);
    }

private:
    std::FILE* m_out;
    std::optional<long long> m_limit;
    std::atomic<int>* m_loopStop;
    long long m_seen = 0;
};

// Keeps every chunk read in the raw file, before it is parsed.
class RawFileTap : public IChunkTap {
public:
    explicit RawFileTap(std::FILE* file) : m_file(file) {}
    bool OnChunk(const uint8_t* data, size_t size) override {
        if (std::fwrite(data, 1, size, m_file) == size) return true;
        m_error = errno;
        return false;
    }
    int Error() const { return m_error; }

private:
    std::FILE* m_file;
    int m_error = 0;
};

int CommandRun::RunStream(std::FILE* raw) {
    std::atomic<int> loopStop{0};
    ReportPrinter printer(m_out, m_options.count, &loopStop);
    RawFileTap tap(raw);
    ModuleByteSource source(&m_module);
    const size_t chunkSize = static_cast<size_t>(std::max(1, m_module.FrameSize()));
    ReadingLoop loop(&source, &printer, &loopStop, chunkSize, raw ? &tap : nullptr);

    const auto start = std::chrono::steady_clock::now();
    auto keepGoing = [&] {
        if (Stopped()) return false;
        if (!m_options.seconds) return true;
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        return elapsed.count() < *m_options.seconds;
    };
    switch (loop.Run(keepGoing)) {
        case ReadingEnd::SourceEnded:
            return Fail(kExitNotConnected, kLineLostText);
        case ReadingEnd::TapFailed:
            return Fail(kExitFileError,
                        std::string("cannot write the raw file: ") + std::strerror(tap.Error()));
        case ReadingEnd::Stopped:
            break;
    }
    return kExitOk;
}

int CommandRun::Stream() {
    std::FILE* raw = nullptr;
    if (!m_options.rawFile.empty()) {
        raw = std::fopen(m_options.rawFile.c_str(), "wb");
        if (!raw) {
            return Fail(kExitFileError,
                        "cannot create \"" + m_options.rawFile + "\": " + std::strerror(errno));
        }
        // Each chunk goes to the file as it is read, as a recording's does:
        // a stream that is killed keeps every byte it had read.
        std::setvbuf(raw, nullptr, _IONBF, 0);
    }
    auto closeRaw = [&raw, this](int result) {
        if (raw && std::fclose(raw) != 0 && result == kExitOk) {
            result = Fail(kExitFileError,
                          std::string("cannot write the raw file: ") + std::strerror(errno));
        }
        raw = nullptr;
        return result;
    };

    if (int result = Connect(); result != kExitOk) return closeRaw(result);
    if (!m_module.StartReports()) {
        return closeRaw(Finish(ModeSwitchFailed("switch to report mode")));
    }
    int result = RunStream(raw);
    std::fflush(m_out);

    // Back to data transfer mode before the module is let go, as the
    // window's readers do.
    if (m_module.IsConnected() && !m_module.StopReports() && result == kExitOk) {
        result = ModeSwitchFailed("return to data transfer mode");
    }
    return closeRaw(Finish(result));
}

// Hands the run's end to the command's thread; each counted report goes to
// `onReport` on the worker, in order.
class RunWatcher : public ICaptureObserver {
public:
    using ReportHandler =
        std::function<void(const CaptureSeries& series, int index, const double* gateDb)>;
    explicit RunWatcher(ReportHandler onReport = {}) : m_onReport(std::move(onReport)) {}

    void OnReportCounted(const CaptureSeries& series, int index, const double* gateDb) override {
        if (m_onReport) m_onReport(series, index, gateDb);
    }
    void OnRecordingFileFailed(const std::wstring&) override { m_fileFailed.store(true); }
    void OnRunEnded(int, CaptureRunEnd end) override {
        std::lock_guard lock(m_mutex);
        m_end = end;
        m_ended.notify_all();
    }
    std::optional<CaptureRunEnd> WaitForEnd(std::chrono::milliseconds wait) {
        std::unique_lock lock(m_mutex);
        m_ended.wait_for(lock, wait, [this] { return m_end.has_value(); });
        return m_end;
    }
    bool FileFailed() const { return m_fileFailed.load(); }

private:
    ReportHandler m_onReport;
    std::atomic<bool> m_fileFailed{false};
    std::mutex m_mutex;
    std::condition_variable m_ended;
    std::optional<CaptureRunEnd> m_end;
};

// Per gate over the counted reports: the highest and the mean energy, and
// how many were above the gate's trigger and hold thresholds (strictly, as
// the distance rule counts them).
class GateStatistics {
public:
    explicit GateStatistics(const RadarParamSet& params) : m_params(params) {}
    void Add(const double* gateDb) {
        ++m_reports;
        for (int gate = 0; gate < noise_scan::kGateCount; ++gate) {
            Gate& entry = m_gates[gate];
            entry.highest = std::max(entry.highest, gateDb[gate]);
            entry.sum += gateDb[gate];
            if (gateDb[gate] > m_params.TriggerThreshold[gate]) ++entry.aboveTrigger;
            if (gateDb[gate] > m_params.HoldThreshold[gate]) ++entry.aboveHold;
        }
    }
    void Print(std::FILE* out, bool csv) const {
        const char* const format = csv ? "%d,%.2f,%.2f,%.3f,%.3f\n" : "%d %.2f %.2f %.3f %.3f\n";
        std::fputs(csv ? "gate,max_db,mean_db,above_trigger,above_hold\n"
                       : "gate max_db mean_db above_trigger above_hold\n",
                   out);
        for (int gate = 0; gate < noise_scan::kGateCount; ++gate) {
            const Gate& entry = m_gates[gate];
            std::fprintf(out, format, gate, entry.highest, Share(entry.sum),
                         Share(entry.aboveTrigger), Share(entry.aboveHold));
        }
    }
    // The same numbers, as printed; no gates when no report was counted.
    void PrintJson(std::FILE* out, const std::string& file) const {
        QJsonArray gates;
        for (int gate = 0; gate < noise_scan::kGateCount && m_reports > 0; ++gate) {
            const Gate& entry = m_gates[gate];
            gates.append(QJsonObject{{"gate", gate},
                                     {"maxDb", Rounded(entry.highest, 2)},
                                     {"meanDb", Rounded(Share(entry.sum), 2)},
                                     {"aboveTrigger", Rounded(Share(entry.aboveTrigger), 3)},
                                     {"aboveHold", Rounded(Share(entry.aboveHold), 3)}});
        }
        radarcli::PrintJson(
            out, QJsonObject{{"file", JsonText(file)}, {"reports", m_reports}, {"gates", gates}});
    }

private:
    struct Gate {
        double highest = 0.0;  // energies are never below 0 dB
        double sum = 0.0;
        int aboveTrigger = 0;
        int aboveHold = 0;
    };
    double Share(double total) const { return m_reports > 0 ? total / m_reports : 0.0; }

    RadarParamSet m_params;
    Gate m_gates[noise_scan::kGateCount];
    int m_reports = 0;
};

// One line per counted report, with the page's numbers.
void PrintReplayLine(std::FILE* out, bool csv, const CaptureSeries& series, int index) {
    std::fprintf(out, "%s\n", SeriesLine(series, index, csv ? ',' : ' ').c_str());
}

CaptureRunEnd CommandRun::WaitForScan(CNoiseScan& scan, RunWatcher& watcher) {
    // An interrupt can only raise the stop flag, so the wait looks at it
    // a few times a second; a recording whose file failed is not worth going on.
    for (;;) {
        if (const std::optional<CaptureRunEnd> end = watcher.WaitForEnd(kStopPollInterval)) {
            scan.Stop();
            return *end;
        }
        if (Stopped() || watcher.FileFailed()) scan.Stop();
    }
}

// Makes the recording's folder, which must then take new files; the reason
// when it cannot.
std::optional<std::string> FolderRefusal(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (!error && !std::filesystem::is_directory(folder, error))
        error = std::make_error_code(std::errc::not_a_directory);
    if (!error && access(folder.c_str(), W_OK | X_OK) != 0)
        error = std::error_code(errno, std::generic_category());
    if (!error) return std::nullopt;
    return error.message();
}

int CommandRun::Capture(int seconds) {
    const std::string folder =
        m_options.folder.empty() ? std::filesystem::current_path().string() : m_options.folder;
    // Before the module is touched: a recording with nowhere to go names no
    // file and counts no report.
    if (const std::optional<std::string> refusal = FolderRefusal(folder))
        return Fail(kExitFileError, "cannot write to \"" + folder + "\": " + *refusal);
    if (int result = Connect(); result != kExitOk) return result;
    // The thresholds go into the recording's parameter file: they must be the module's.
    if (int result = ParamsFromConnect(); result != kExitOk) return Finish(result);

    RunWatcher watcher;
    CNoiseScan scan(&watcher);
    scan.ResetSeries(seconds);
    CaptureRunRequest request;
    request.mode = CaptureMode::Record;
    request.session = &m_module;
    request.folder = AnsiToWide(folder);
    request.params = Params();
    request.origin.version = m_identity.version;
    request.origin.serial = m_identity.serial;
    request.origin.baudRate = m_options.baud;
    if (!scan.Start(request)) return Finish(Fail(kExitFileError, "cannot start the recording"));
    // The path first: a long scan's file can be watched while it grows.
    const std::string path = WideToAnsi(scan.FilePath());
    std::fprintf(m_out, "%s\n", path.c_str());
    std::fflush(m_out);
    const CaptureRunEnd end = WaitForScan(scan, watcher);
    std::fprintf(m_out, "%d reports\n", scan.Count());
    std::fflush(m_out);
    if (scan.RecordingFileFailed())
        return Finish(Fail(kExitFileError, "cannot write \"" + path + "\""));
    if (end == CaptureRunEnd::SourceEnded) return Finish(Fail(kExitNotConnected, kLineLostText));
    return Finish(kExitOk);
}

int CommandRun::Replay(const std::string& file) {
    RadarParamSet params;
    if (!m_options.paramsFile.empty() &&
        !LoadRadarParamFile(AnsiToWide(m_options.paramsFile).c_str(), &params)) {
        return Fail(kExitFileError, UnreadableParamFileText(m_options.paramsFile));
    }
    const bool csv = m_options.csv;
    const bool stats = m_options.stats;
    GateStatistics statistics(params);
    if (csv && !stats) std::fprintf(m_out, "%s\n", kSeriesCsvHeader);
    RunWatcher watcher([&](const CaptureSeries& series, int index, const double* gateDb) {
        if (stats) {
            statistics.Add(gateDb);
        } else {
            PrintReplayLine(m_out, csv, series, index);
        }
    });
    CNoiseScan scan(&watcher);
    scan.ResetSeries(m_options.scanSeconds.value_or(kDefaultReplaySeconds));
    CaptureRunRequest request;
    request.mode = CaptureMode::Replay;
    request.file = AnsiToWide(file);
    request.gate = m_options.gate.value_or(0);
    request.params = params;
    if (!scan.Start(request)) return Fail(kExitFileError, "cannot start the replay");
    if (WaitForScan(scan, watcher) == CaptureRunEnd::FileUnreadable)
        return Fail(kExitFileError, "cannot read \"" + file + "\"");
    // A file that holds no report (empty, or not a recording) is said so,
    // on stderr, so that stdout stays the report lines or the table.
    if (scan.Count() == 0) std::fprintf(m_err, "radar-cli: 0 reports in \"%s\"\n", file.c_str());
    if (stats && m_options.json)
        statistics.PrintJson(m_out, file);
    else if (stats && scan.Count() > 0)
        statistics.Print(m_out, csv);
    std::fflush(m_out);
    return kExitOk;
}

// Wakes the command when the calibration takes a report; the realtime
// reader's chart samples and notices are not wanted here.
class CalibrationWaiter : public IRealtimeReportSink, public ICalibrationObserver {
public:
    void OnEnergySweep(const double*, int) override {}
    void OnDistanceSample(double) override {}
    void OnReportTaken() override {}
    void OnCalibrationStep(const CalibrationProgress& progress) override {
        std::lock_guard lock(m_mutex);
        m_progress = progress;
        m_stepped.notify_all();
    }
    // The progress after the next step, or as it was when `wait` passed.
    CalibrationProgress WaitForStep(std::chrono::milliseconds wait, bool* stepped) {
        std::unique_lock lock(m_mutex);
        const int before = m_progress.taken;
        *stepped = m_stepped.wait_for(lock, wait, [&] { return m_progress.taken != before; });
        return m_progress;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_stepped;
    CalibrationProgress m_progress;
};

QJsonObject JsonThresholds(const CalibrationProgress& progress) {
    QJsonObject thresholds;
    char name[64];
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        std::snprintf(name, sizeof name, kRadarParamTriggerFormat, gate);
        thresholds[name] = Rounded(progress.trigger[static_cast<size_t>(gate)], 2);
        std::snprintf(name, sizeof name, kRadarParamHoldFormat, gate);
        thresholds[name] = Rounded(progress.hold[static_cast<size_t>(gate)], 2);
    }
    return thresholds;
}

void PrintThresholds(std::FILE* out, const CalibrationProgress& progress) {
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        std::fprintf(out, kRadarParamTriggerFormat, gate);
        std::fprintf(out, "=%.2f\n", progress.trigger[static_cast<size_t>(gate)]);
    }
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        std::fprintf(out, kRadarParamHoldFormat, gate);
        std::fprintf(out, "=%.2f\n", progress.hold[static_cast<size_t>(gate)]);
    }
}

int CommandRun::Calibrate() {
    if (int result = Connect(); result != kExitOk) return result;
    // --apply writes the whole set: the rest must be the module's own.
    if (int result = ParamsFromConnect(); result != kExitOk) return Finish(result);

    CalibrationWaiter waiter;
    CRealtimeReader reader(&waiter);
    reader.Calibration().SetObserver(&waiter);
    reader.Calibration().Start(m_options.reports.value_or(CThresholdCalibration::kDefaultReports));
    if (!reader.Start(&m_module)) return Finish(Fail(kExitNotConnected, "cannot start reading"));
    CalibrationProgress progress;
    auto lastStep = std::chrono::steady_clock::now();
    while (!progress.complete && !Stopped() && reader.IsRunning()) {
        bool stepped = false;
        progress = waiter.WaitForStep(kStopPollInterval, &stepped);
        const auto now = std::chrono::steady_clock::now();
        if (stepped) lastStep = now;
        if (now - lastStep > kCalibrationSilence) break;
    }
    reader.Stop();
    progress = reader.Calibration().Progress();
    if (!progress.complete) {
        if (!m_module.IsConnected()) return Finish(Fail(kExitNotConnected, kLineLostText));
        if (!Stopped()) return Finish(NoAnswer("the module sent no reports"));
        std::fprintf(m_err, "radar-cli: stopped after %d of %d reports; nothing written\n",
                     progress.taken, progress.wanted);
        return Finish(kExitOk);
    }
    if (!m_options.json) {
        PrintThresholds(m_out, progress);
        std::fflush(m_out);
    }
    int result = kExitOk;
    if (m_options.apply) {
        RadarParamSet params = Params();
        std::copy(progress.trigger.begin(), progress.trigger.end(), params.TriggerThreshold);
        std::copy(progress.hold.begin(), progress.hold.end(), params.HoldThreshold);
        result = WriteModule(params);
    }
    // The document says whether the proposal is in the module.
    if (m_options.json) {
        PrintJson(m_out, QJsonObject{{"reports", progress.taken},
                                     {"thresholds", JsonThresholds(progress)},
                                     {"applied", m_options.apply && result == kExitOk}});
    }
    return Finish(result);
}

std::string JoinedWords(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) line += (line.empty() ? "" : " ") + word;
    return line;
}

// The words of a line that does not parse: those before the first option.
std::vector<std::string> CommandWords(const std::vector<std::string>& args) {
    std::vector<std::string> words;
    for (const std::string& arg : args) {
        if (!arg.empty() && arg[0] == '-') break;
        words.push_back(arg);
    }
    return words;
}

int PrintHelp(const std::string& text, std::FILE* out) {
    std::fputs(text.c_str(), out);
    return kExitOk;
}

// The reason, then the help of the command the words name, or the general
// help when they name none.
int UsageFailure(const std::string& message, const std::vector<std::string>& words,
                 std::FILE* err) {
    std::optional<std::string> help;
    for (size_t n = words.size(); n > 0 && !help; --n)
        help = CommandHelp(std::vector<std::string>(words.begin(), words.begin() + long(n)));
    std::fprintf(err, "radar-cli: %s\n%s", message.c_str(), help.value_or(GeneralHelp()).c_str());
    return kExitUsage;
}

// How a command's JSON comes: its own document, or the summary of the
// modules it ran on (a command with nothing else to say).
enum class JsonForm { Own, Summary };

// A command that runs on several modules at once, with the number of words
// its line takes.
struct SeveralModuleCommand {
    const char* name;
    size_t fewestWords;
    size_t mostWords;
    JsonForm json;
};

constexpr SeveralModuleCommand kSeveralModuleCommands[] = {
    {"info", 1, 1, JsonForm::Own},
    {"params get", 2, 2, JsonForm::Own},
    {"params set", 3, SIZE_MAX, JsonForm::Summary},
    {"params load", 3, 3, JsonForm::Summary},
    {"params diff", 2, 3, JsonForm::Own},
    {"calibrate", 1, 1, JsonForm::Own},
    {"capture", 1, 1, JsonForm::Summary},
    {"firmware query", 2, 2, JsonForm::Own},
    {"firmware flash", 3, 3, JsonForm::Summary},
};

// "params set" of "params set GateMax=3"; the first word alone for the rest.
std::string CommandName(const std::vector<std::string>& words) {
    if (words.size() >= 2 && (words[0] == "params" || words[0] == "firmware"))
        return words[0] + " " + words[1];
    return words.empty() ? "" : words[0];
}

const SeveralModuleCommand* SeveralModuleEntry(const std::vector<std::string>& words) {
    const std::string name = CommandName(words);
    for (const SeveralModuleCommand& entry : kSeveralModuleCommands)
        if (name == entry.name && words.size() >= entry.fewestWords &&
            words.size() <= entry.mostWords)
            return &entry;
    return nullptr;
}

std::string SeveralModuleNames() {
    std::string names;
    for (const SeveralModuleCommand& entry : kSeveralModuleCommands)
        names += (names.empty() ? "" : ", ") + std::string(entry.name);
    return names;
}

// What is wrong with the line, before anything runs; a scan's length in
// *captureSeconds.
std::optional<std::string> UsageProblem(const Options& options, int* captureSeconds) {
    const std::vector<std::string>& words = options.words;
    if (words.empty()) return "no command given";
    const std::string& command = words[0];
    // A scan is as long as the page allows, in whole seconds.
    *captureSeconds = noise_scan::kDefaultSeconds;
    if (command == "capture" && options.seconds) {
        const double seconds = *options.seconds;
        if (seconds != std::floor(seconds) || seconds < noise_scan::kMinSeconds ||
            seconds > noise_scan::kMaxSeconds) {
            char text[32];
            std::snprintf(text, sizeof text, "%g", seconds);
            return ScanLengthError(text);
        }
        *captureSeconds = static_cast<int>(seconds);
    }
    const std::string name = CommandName(words);
    if (name == "firmware flash" && words.size() == 3 && options.partition.empty())
        return "firmware flash needs --partition";
    if (name == "params diff" && words.size() == 3 && options.defaults)
        return "params diff compares with a FILE or with --defaults, not both";
    if (name == "params diff" && words.size() == 2 && !options.defaults)
        return "params diff needs a FILE or --defaults";
    if (command == "replay" && options.json && !options.stats) return "--json goes with --stats";
    if (!SeveralPorts(options)) return std::nullopt;
    // Several modules: what each would refuse is refused once, here.
    if (!SeveralModuleEntry(words))
        return "several ports go with " + SeveralModuleNames() + "; not with \"" +
               JoinedWords(words) + "\"";
    RadarParamSet probe;
    std::string error;
    for (size_t i = 2; name == "params set" && i < words.size(); ++i)
        if (!ApplyAssignment(words[i], &probe, &error)) return error;
    if (name == "firmware flash" && !ParsePartition(options.partition))
        return "bad partition \"" + options.partition + "\" (App0, App1 or one bit)";
    return std::nullopt;
}

// One module's command, the line already checked.
int RunCommand(const Options& options, int captureSeconds, std::FILE* out, std::FILE* err,
               const std::atomic<int>* stop) {
    const std::vector<std::string>& words = options.words;
    const std::string& command = words[0];
    const std::string name = CommandName(words);
    CommandRun session(options, out, err, stop);
    if (command == "ports" && words.size() == 1) return session.Ports();
    if (command == "doctor" && words.size() == 1) return RunDoctor(options.port, out, options.json);
    if (command == "info" && words.size() == 1) return session.Info();
    if (command == "stream" && words.size() == 1) return session.Stream();
    if (command == "capture" && words.size() == 1) return session.Capture(captureSeconds);
    if (command == "replay" && words.size() == 2) return session.Replay(words[1]);
    if (command == "calibrate" && words.size() == 1) return session.Calibrate();
    if (name == "firmware query" && words.size() == 2)
        return session.Firmware(FirmwareOperation::Query, "");
    if (name == "firmware flash" && words.size() == 3)
        return session.Firmware(FirmwareOperation::Download, words[2]);
    if (command == "params" && words.size() >= 2) {
        const std::string& sub = words[1];
        if (sub == "get" && words.size() == 2) return session.ParamsGet();
        if (sub == "set") {
            return session.ParamsSet(std::vector<std::string>(words.begin() + 2, words.end()));
        }
        if (sub == "load" && words.size() == 3) return session.ParamsLoad(words[2]);
        if (sub == "save" && words.size() == 3) return session.ParamsSave(words[2]);
        if (sub == "diff" && words.size() <= 3)
            return session.ParamsDiff(words.size() == 3 ? words[2] : "");
    }
    if (command == "replay") return UsageFailure("replay needs one radar data file", words, err);
    return UsageFailure("unknown command \"" + JoinedWords(words) + "\"", words, err);
}

int Dispatch(const Options& options, std::FILE* out, std::FILE* err, const std::atomic<int>* stop) {
    int captureSeconds = 0;
    if (const std::optional<std::string> problem = UsageProblem(options, &captureSeconds))
        return UsageFailure(*problem, options.words, err);
    // Several modules, or a command whose JSON is the summary of its one module.
    const SeveralModuleCommand* several = SeveralModuleEntry(options.words);
    const bool summaryJson = several && options.json && several->json == JsonForm::Summary;
    if (!SeveralPorts(options) && !summaryJson)
        return RunCommand(options, captureSeconds, out, err, stop);
    ModuleOutput output = ModuleOutput::Lines;
    if (options.json) output = summaryJson ? ModuleOutput::TextInJson : ModuleOutput::Collected;
    auto command = [captureSeconds, stop](const Options& mine, std::FILE* moduleOut,
                                          std::FILE* moduleErr) {
        return RunCommand(mine, captureSeconds, moduleOut, moduleErr, stop);
    };
    return RunOnModules(options, several->name, output, command, out, err);
}

}  // namespace

int Run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
        const std::atomic<int>* stop) {
    std::string error;
    const std::optional<Options> options = ReadCommandLine(args, &error);
    if (!options) return UsageFailure(error, CommandWords(args), err);
    if (options->version) {
        std::fputs("radar-cli " KVEL_PROGRAM_VERSION "\n", out);
        return kExitOk;
    }
    // "help COMMAND" and "COMMAND --help" say the same.
    const bool helpWord = !options->words.empty() && options->words.front() == "help";
    if (options->help || helpWord) {
        std::vector<std::string> asked(options->words.begin() + (helpWord ? 1 : 0),
                                       options->words.end());
        if (asked.empty()) return PrintHelp(GeneralHelp(), out);
        if (const auto text = CommandHelp(asked)) return PrintHelp(*text, out);
        return UsageFailure("no command \"" + JoinedWords(asked) + "\"", {}, err);
    }
    DbgOutputSetStderr(options->verbose);
    return Dispatch(*options, out, err, stop);
}

}  // namespace radarcli

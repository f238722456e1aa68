#include "FirmwareCommands.h"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>

#include "Commands.h"
#include "JsonOutput.h"
#include "common/KVEL_Common.h"
#include "device/RadarProtocol.h"
#include "firmware/FirmwareTexts.h"
#include "firmware/FirmwareTransfer.h"
#include "strings/StringTable.h"

namespace radarcli {
namespace {

namespace rp = radar_protocol;
using firmware::FirmwareOperation;
using firmware::FirmwareResult;

constexpr int kBarWidth = 40;
// How long --verify waits for the boot loader's word on the image: as long
// as the transfer waits for its queries.
constexpr int kVerifyReplyTimeoutMs = 3500;
constexpr auto kStopPoll = std::chrono::milliseconds(100);

std::string WithoutCarriageReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

// The transfer's events on a terminal: the log and the page's labels as
// lines on standard output, messages on standard error, the progress as a
// bar on standard error when it is a terminal. For a JSON document the lines
// are left out and what the query found is kept instead.
class TerminalObserver : public firmware::IFirmwareObserver {
public:
    TerminalObserver(std::FILE* out, std::FILE* err, bool json)
        : m_out(out), m_err(err), m_bar(isatty(fileno(err)) != 0), m_json(json) {}

    void OnLog(const std::string& text) override { Line(text); }
    void OnRunningMode(std::optional<uint32_t> mode) override {
        m_found["runningMode"] = mode ? QJsonValue(qint64(*mode)) : QJsonValue();
        Line(firmware::RunningModeText(mode) + "\n");
    }
    void OnDeviceId(std::optional<uint32_t> id) override {  // the log has it too
        m_found["deviceId"] = id ? QJsonValue(qint64(*id)) : QJsonValue();
    }
    void OnPartitions(const std::vector<firmware::PartitionEntry>& entries) override {
        std::string line = "Partitions:";
        QJsonArray names;
        for (const auto& entry : entries) {
            line += " " + entry.text;
            names.append(JsonText(entry.text));
        }
        m_found["partitions"] = names;
        Line(line + (entries.empty() ? " none\n" : "\n"));
    }
    // What the query found (on the command's thread once it has ended).
    QJsonObject Found() const { return m_found; }
    void OnImage(uint32_t bytes, uint32_t checksum) override {
        Line(firmware::FileSizeText(bytes));
        Line(firmware::ChecksumText(checksum));
    }
    void OnProgress(uint32_t sent, uint32_t total) override {
        m_maximum = total;
        DrawBar(sent);
    }
    void OnBusy(bool busy) override {
        if (!busy && m_drawn) std::fputc('\n', m_err);
        m_drawn = false;
    }
    void OnPortClosed() override {}
    void OnMessage(const std::string& text) override {
        std::fprintf(m_err, "radar-cli: %s\n", WithoutCarriageReturns(text).c_str());
    }
    void OnFinished(FirmwareResult result) override {
        {
            std::lock_guard lock(m_mutex);
            m_result = result;
            m_finished = true;
        }
        m_done.notify_all();
    }

    // Waits for the operation's end; a raised stop flag stops it first.
    FirmwareResult Wait(firmware::CFirmwareTransfer& transfer, const std::atomic<int>* stop) {
        std::unique_lock lock(m_mutex);
        while (!m_done.wait_for(lock, kStopPoll, [this] { return m_finished; })) {
            if (stop && stop->load() != 0) {
                lock.unlock();
                transfer.Stop();
                lock.lock();
            }
        }
        m_finished = false;
        return m_result;
    }

private:
    void Line(const std::string& text) {
        if (m_json) return;
        if (m_drawn) std::fputc('\n', m_err);
        m_drawn = false;
        std::fputs(WithoutCarriageReturns(text).c_str(), m_out);
        std::fflush(m_out);
    }
    // Redrawn only when a column or the shown percentage changes.
    void DrawBar(uint32_t value) {
        if (!m_bar || m_maximum == 0) return;
        const double share = static_cast<double>(value) / m_maximum;
        const int permille = static_cast<int>(share * 1000);
        if (m_drawn && permille == m_lastPermille) return;
        m_lastPermille = permille;
        const int filled = static_cast<int>(share * kBarWidth);
        std::fprintf(m_err, "\r[%s%s] %6.2f%%", std::string(filled, '#').c_str(),
                     std::string(kBarWidth - filled, ' ').c_str(), share * 100.0);
        std::fflush(m_err);
        m_drawn = true;
    }

    std::FILE* m_out;
    std::FILE* m_err;
    const bool m_bar;
    const bool m_json;
    QJsonObject m_found{
        {"runningMode", QJsonValue()}, {"deviceId", QJsonValue()}, {"partitions", QJsonArray()}};
    uint32_t m_maximum = 0;
    int m_lastPermille = -1;
    bool m_drawn = false;
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    FirmwareResult m_result = FirmwareResult::Done;
};

int ExitCode(FirmwareResult result) {
    switch (result) {
        case FirmwareResult::Done:
            return kExitOk;
        case FirmwareResult::NoPort:
        case FirmwareResult::OpenFailed:
        case FirmwareResult::LineLost:
            return kExitNotConnected;
        case FirmwareResult::BadImage:
            return kExitFileError;
        case FirmwareResult::Refused:
            return kExitRefused;
        default:
            return kExitNoAnswer;
    }
}

// The failures the transfer only logged (on standard output) are said again
// on standard error, with what they mean; those it told as a message are
// there already.
int Report(FirmwareResult result, const std::string& why, const FirmwareRequest& request,
           std::FILE* err) {
    switch (result) {
        case FirmwareResult::OpenFailed:
            if (request.openFailure)
                std::fprintf(err, "radar-cli: %s\n", request.openFailure().c_str());
            break;
        case FirmwareResult::LineLost:
            std::fprintf(err, "radar-cli: not connected: the line to the module went away (%s)\n",
                         why.c_str());
            break;
        case FirmwareResult::NoAnswer:
            std::fprintf(err, "radar-cli: the module did not answer: %s\n", why.c_str());
            break;
        case FirmwareResult::Refused:
            std::fprintf(err, "radar-cli: the module refused: %s\n", why.c_str());
            break;
        case FirmwareResult::Stopped:
            std::fprintf(err, "radar-cli: stopped\n");
            break;
        default:
            break;
    }
    return ExitCode(result);
}

// One handle, one transfer, the texts in the language the system asks for.
class FirmwareSession {
public:
    FirmwareSession(std::FILE* out, std::FILE* err, bool json = false)
        : m_observer(out, err, json),
          m_device(KVEL_Interface_RadarDevice_Serial_Create()),
          m_transfer(m_device, m_observer) {
        SetUiLanguage(SystemUiLanguage());
    }
    ~FirmwareSession() { KVEL_Interface_RadarDevice_Serial_Destroy(m_device); }

    FirmwareResult Run(FirmwareOperation operation, const FirmwareRequest& request,
                       const std::atomic<int>* stop) {
        const firmware::FirmwarePort port{true, request.port, request.baud};
        if (!m_transfer.Start(operation, port, AnsiToWide(request.imageFile)))
            return FirmwareResult::Stopped;
        return m_observer.Wait(m_transfer, stop);
    }
    firmware::CFirmwareTransfer& Transfer() { return m_transfer; }
    const TerminalObserver& Observer() const { return m_observer; }

private:
    TerminalObserver m_observer;
    KVEL_RADAR_HANDLE m_device;
    firmware::CFirmwareTransfer m_transfer;
};

// Asks the module, on a line of its own once the download has ended, what
// the download left in its partition, and compares that with the image file.
int VerifyHeldImage(const FirmwareRequest& request, std::FILE* out, std::FILE* err) {
    std::ifstream file(request.imageFile, std::ios::binary);
    const std::vector<uint8_t> image{std::istreambuf_iterator<char>(file), {}};
    if (!file.good() && !file.eof()) {
        std::fprintf(err, "radar-cli: verify: \"%s\" cannot be read\n", request.imageFile.c_str());
        return kExitFileError;
    }
    KVEL_RADAR_HANDLE device = KVEL_Interface_RadarDevice_Serial_Create();
    firmware::ImageConfirmation held;
    uint16_t sent = KVEL_SEND_NOT_CONNECTED;
    if (KVEL_Interface_RadarDevice_Serial_OpenByPortNum(device, request.port, request.baud, 1, 0, 1,
                                                        0, kVerifyReplyTimeoutMs)) {
        sent = KVEL_Interface_RadarDevice_Protocol_SendCommand(
            device, rp::kCmdBootConfirmImage, nullptr, 0, &firmware::ParseImageConfirmation, &held,
            kVerifyReplyTimeoutMs);
        KVEL_Interface_RadarDevice_Serial_Close(device);
    }
    KVEL_Interface_RadarDevice_Serial_Destroy(device);
    if (sent == KVEL_SEND_NOT_CONNECTED) {
        std::fprintf(err, "radar-cli: verify: the port did not open again\n");
        return kExitNotConnected;
    }
    if (sent != 0) {
        std::fprintf(err, "radar-cli: verify: the module did not say what it holds\n");
        return kExitNoAnswer;
    }
    const uint32_t size = static_cast<uint32_t>(image.size());
    const uint32_t checksum = firmware::ImageChecksum(image.data(), image.size());
    if (held.status != rp::kBootStatusOk || held.size != size || held.checksum != checksum) {
        std::fprintf(err,
                     "radar-cli: verify: the module holds %u bytes, checksum 0x%08x%s; the file "
                     "has %u bytes, checksum 0x%08x\n",
                     held.size, held.checksum,
                     held.status == rp::kBootStatusOk ? "" : ", not whole", size, checksum);
        return kExitDiffers;
    }
    std::fprintf(out, "Verified: the module holds %u bytes, checksum 0x%08x, as the file\n", size,
                 checksum);
    std::fflush(out);
    return kExitOk;
}

}  // namespace

std::optional<uint32_t> ParsePartition(const std::string& text) {
    if (text == "App0") return rp::kPartitionApp0;
    if (text == "App1") return rp::kPartitionApp1;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    const bool number = !text.empty() && end && *end == '\0' && value <= UINT32_MAX;
    if (!number || value == 0 || (value & (value - 1)) != 0) return std::nullopt;
    return static_cast<uint32_t>(value);
}

int FirmwareQuery(const FirmwareRequest& request, std::FILE* out, std::FILE* err,
                  const std::atomic<int>* stop) {
    FirmwareSession session(out, err, request.json);
    const FirmwareResult result = session.Run(FirmwareOperation::Query, request, stop);
    if (result == FirmwareResult::Done && request.json) PrintJson(out, session.Observer().Found());
    return Report(result, session.Transfer().ErrorText(), request, err);
}

int FirmwareFlash(const FirmwareRequest& request, std::FILE* out, std::FILE* err,
                  const std::atomic<int>* stop) {
    const std::optional<uint32_t> partition = ParsePartition(request.partition);
    if (!partition) {
        std::fprintf(err, "radar-cli: bad partition \"%s\" (App0, App1 or one bit)\n",
                     request.partition.c_str());
        return kExitUsage;
    }
    if (!IsFileExistW(AnsiToWide(request.imageFile).c_str())) {
        std::fprintf(err, "radar-cli: \"%s\" cannot be read\n", request.imageFile.c_str());
        return kExitFileError;
    }
    // As in the window: the query tells whether the boot loader already runs
    // and which partitions there are.
    FirmwareSession session(out, err);
    session.Transfer().SetResetWait(request.resetWait);
    if (FirmwareResult result = session.Run(FirmwareOperation::Query, request, stop);
        result != FirmwareResult::Done) {
        return Report(result, session.Transfer().ErrorText(), request, err);
    }
    firmware::CFirmwareTransfer& transfer = session.Transfer();
    transfer.SetSelectedPartition(*partition);
    if ((transfer.PartitionMask() & *partition) == 0) {
        std::fprintf(err, "radar-cli: the module has no partition %s\n", request.partition.c_str());
        return kExitRefused;
    }
    const FirmwareResult result = session.Run(FirmwareOperation::Download, request, stop);
    if (result != FirmwareResult::Done || !request.verify)
        return Report(result, session.Transfer().ErrorText(), request, err);
    return VerifyHeldImage(request, out, err);
}

}  // namespace radarcli

#include "FirmwareCommands.h"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "Commands.h"
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
constexpr auto kStopPoll = std::chrono::milliseconds(100);

std::string WithoutCarriageReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

// The transfer's events on a terminal: the log and the page's labels as
// lines on standard output, messages on standard error, the progress as a
// bar on standard error when it is a terminal.
class TerminalObserver : public firmware::IFirmwareObserver {
public:
    TerminalObserver(std::FILE* out, std::FILE* err)
        : m_out(out), m_err(err), m_bar(isatty(fileno(err)) != 0) {}

    void OnLog(const std::string& text) override { Line(text); }
    void OnRunningMode(std::optional<uint32_t> mode) override {
        Line(firmware::RunningModeText(mode) + "\n");
    }
    void OnDeviceId(std::optional<uint32_t>) override {}  // the log has it too
    void OnPartitions(const std::vector<firmware::PartitionEntry>& entries) override {
        std::string line = "Partitions:";
        for (const auto& entry : entries) line += " " + entry.text;
        Line(line + (entries.empty() ? " none\n" : "\n"));
    }
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
    FirmwareSession(std::FILE* out, std::FILE* err)
        : m_observer(out, err),
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

private:
    TerminalObserver m_observer;
    KVEL_RADAR_HANDLE m_device;
    firmware::CFirmwareTransfer m_transfer;
};

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
    FirmwareSession session(out, err);
    const FirmwareResult result = session.Run(FirmwareOperation::Query, request, stop);
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
    return Report(result, session.Transfer().ErrorText(), request, err);
}

}  // namespace radarcli

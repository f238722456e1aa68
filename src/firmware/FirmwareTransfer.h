// The firmware transfer: asks the module's boot loader for its state, or
// writes a firmware image into one of its program partitions. It runs as a
// job on its own thread ("Download") over a device handle that it is given
// and opens only while an operation runs. It tells what it does to an
// IFirmwareObserver, so the firmware window, radar-cli and the tests share it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/KVEL_Common.h"
#include "device/KVEL_DataProcess.h"
#include "device/RadarProtocol.h"

namespace firmware {

enum class FirmwareOperation : uint64_t { Download = 0, Query = 1 };

enum class FirmwareResult {
    Done,
    NoPort,       // no port chosen
    OpenFailed,   // the port did not open
    NoPartition,  // download without a partition chosen
    BadImage,     // the image file is empty or cannot be read
    NoAnswer,     // the module did not answer a command, or not in a way that could be read
    Refused,      // the module answered, refusing a command or naming another image
    LineLost,     // the line to the module went away
    Stopped,      // told to stop before the end
};

// The port chosen in the connection panel, read when an operation starts.
struct FirmwarePort {
    bool chosen = false;
    int portNumber = 0;
    int baudRate = radar_protocol::kDefaultBaudRate;
};

struct PartitionEntry {
    std::string text;  // "App0", "App1" or "Unknown"
    uint32_t bit = 0;
};

// What the transfer does, told as it happens: calls come from the
// transfer's thread, in order. Texts are UTF-8 in the interface language and
// carry their own line ends; firmware/FirmwareTexts.h words the values.
class IFirmwareObserver {
public:
    virtual ~IFirmwareObserver() = default;
    // A line for the operation's log.
    virtual void OnLog(const std::string& text) = 0;
    // The running mode a query found; none when the module did not tell it.
    virtual void OnRunningMode(std::optional<uint32_t> mode) = 0;
    // The device ID a query found; none when the module did not tell it.
    virtual void OnDeviceId(std::optional<uint32_t> id) = 0;
    // The partitions a query found, from bit 0 upwards; the first is now the
    // one to download into.
    virtual void OnPartitions(const std::vector<PartitionEntry>& entries) = 0;
    // The image a download is about to send.
    virtual void OnImage(uint32_t bytes, uint32_t checksum) = 0;
    // Image bytes the module has taken: none before the first packet, then
    // after each packet.
    virtual void OnProgress(uint32_t sent, uint32_t total) = 0;
    // A download is sending (on, before the image information goes out) or
    // has ended (off, whether or not it got that far).
    virtual void OnBusy(bool busy) = 0;
    // The port is closed again: the exchange with the module is over.
    virtual void OnPortClosed() = 0;
    // A message the user must acknowledge; returns once it is acknowledged.
    virtual void OnMessage(const std::string& text) = 0;
    // The operation has ended (after all else). The next one may be started
    // as soon as this is heard, though not from within this call: it runs on
    // the thread that Start waits for.
    virtual void OnFinished(FirmwareResult result) = 0;
};

// What the parser of boot-loader replies answers to a reply that is not
// exactly six bytes long.
constexpr uint16_t kBootReplyLengthError = 0xA005;

// The reply handler for boot-loader commands: a reply of exactly six bytes
// (u16 status, u32 value) stores its value in *(uint32_t*)context and
// returns its status; any other length returns kBootReplyLengthError and
// leaves the value alone.
uint16_t ParseBootReply(void* reserved, const uint8_t* payload, int length, void* context);

// What the boot loader says it holds after a download (image confirmation).
struct ImageConfirmation {
    uint16_t status = 0;  // 0: the image of the download is held whole
    uint32_t size = 0;
    uint32_t checksum = 0;
};

// The reply handler of the image confirmation: a reply of exactly ten bytes
// fills *(ImageConfirmation*)context and returns 0 (its status is for the
// caller to judge); any other length returns kBootReplyLengthError.
uint16_t ParseImageConfirmation(void* reserved, const uint8_t* payload, int length, void* context);

// The checksum of the image padded with 0xFF to a multiple of four bytes,
// and how many such bytes that takes.
uint32_t ImageChecksum(const uint8_t* image, size_t size);
int ImagePaddingCount(size_t size);

// "App0" (bit 0), "App1" (bit 1), "Unknown" for any other bit of the mask,
// from bit 0 upwards.
std::vector<PartitionEntry> PartitionsFromMask(uint32_t mask);

class CFirmwareTransfer : private IThreadFuncInterface {
public:
    // Over a device handle of the caller's, which must outlive the transfer.
    CFirmwareTransfer(KVEL_RADAR_HANDLE device, IFirmwareObserver& observer);
    // Over a device handle of its own (the firmware page's), closed and
    // freed with the transfer.
    explicit CFirmwareTransfer(IFirmwareObserver& observer);
    ~CFirmwareTransfer() override;  // stops a running operation
    CFirmwareTransfer(const CFirmwareTransfer&) = delete;
    CFirmwareTransfer& operator=(const CFirmwareTransfer&) = delete;

    // Runs one operation on the "Download" thread. False while one runs
    // that has not yet told its end.
    bool Start(FirmwareOperation operation, const FirmwarePort& port, std::wstring imagePath);
    // Runs one operation on the calling thread.
    FirmwareResult Run(FirmwareOperation operation, const FirmwarePort& port,
                       const std::wstring& imagePath);
    // Tells a running operation to end (between packets) and waits for it.
    void Stop();
    bool IsRunning() const;

    // Carried from one operation to the next: whether the last query found
    // the boot loader running, and the partition to download into.
    bool InBootLoader() const { return m_bootLoaderFlag.load() != 0; }
    uint32_t SelectedPartition() const { return m_selectedPartition.load(); }
    void SetSelectedPartition(uint32_t bit) { m_selectedPartition.store(bit); }
    // The partitions the last successful partition query found.
    uint32_t PartitionMask() const { return m_partitionMask.load(); }

    // Progress of the running download, in image bytes.
    uint32_t BytesSent() const { return m_bytesSent.load(); }
    uint32_t ImageBytes() const { return m_imageBytes.load(); }
    // The last operation's failure in words (empty after success).
    std::string ErrorText() const;

    // How long the module is given to restart in its boot loader after the
    // software reset.
    void SetResetWait(std::chrono::milliseconds wait) { m_resetWait = wait; }
    // Tells whether this program's own main connection holds a port, so
    // that a port that does not open is explained (called on the
    // transfer's thread; set before an operation starts).
    void SetOwnConnectionQuery(std::function<bool(int portNumber)> holdsPort) {
        m_ownConnectionHolds = std::move(holdsPort);
    }

private:
    struct Image;
    int ThreadFunc(uint64_t param) override;
    void Fail(const std::string& text);
    void Message(int id);
    void Log(const std::string& text);
    void LogFailure(const std::string& text);
    bool OpenPort(const FirmwarePort& port);
    int OpenFailureTextId(const FirmwarePort& port) const;
    FirmwareResult FailureOf(uint16_t sendResult) const;

    FirmwareResult Query();
    FirmwareResult QueryRunningMode(uint32_t* ack);
    FirmwareResult QueryDeviceId(uint32_t* ack);
    FirmwareResult QueryPartitions(uint32_t* ack);
    FirmwareResult Download(const FirmwarePort& port, const std::wstring& imagePath);
    FirmwareResult ResetIntoBootLoader(const FirmwarePort& port, uint32_t* ack);
    FirmwareResult SendImageInformation(const Image& image, uint32_t* ack);
    FirmwareResult SendPackets(const Image& image, int chunk, uint32_t* ack);
    FirmwareResult ConfirmImage(uint32_t size, uint32_t checksum);
    uint16_t Send(uint8_t code, const std::vector<uint8_t>& payload, uint32_t* ack, int timeoutMs);
    bool WaitUnlessStopped(std::chrono::milliseconds wait);

    KVEL_RADAR_HANDLE m_ownedDevice = nullptr;  // before m_device, which may be it
    KVEL_RADAR_HANDLE m_device;
    IFirmwareObserver& m_observer;
    CBaseThread m_thread;

    std::atomic<uint32_t> m_bootLoaderFlag{0};
    std::atomic<uint32_t> m_selectedPartition{0};
    std::atomic<uint32_t> m_partitionMask{0};
    std::atomic<uint32_t> m_bytesSent{0};
    std::atomic<uint32_t> m_imageBytes{0};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_ended{true};  // the last operation has told its end
    std::chrono::milliseconds m_resetWait{2000};
    std::function<bool(int)> m_ownConnectionHolds;
    mutable std::mutex m_mutex;  // the error text and the stop wait
    std::condition_variable m_stopSignal;
    std::string m_errorText;

    // Handed from Start to the thread.
    FirmwareOperation m_operation = FirmwareOperation::Query;
    FirmwarePort m_port;
    std::wstring m_imagePath;
};

}  // namespace firmware

#include "firmware/FirmwareTransfer.h"

#include <memory>

#include "device/RadarProtocol.h"
#include "firmware/FirmwareTexts.h"
#include "firmware/TextFormat.h"

namespace firmware {

namespace rp = radar_protocol;

namespace {

// Arguments of the port open and of command mode for the boot loader: two
// tries, no handshake on opening, 50 ms for each reply.
constexpr int kOpenAttempts = 2;
constexpr int kHandshakeTimeoutMs = 50;
constexpr int kQueryTimeoutMs = 3500;
constexpr int kImageInfoTimeoutMs = 10000;
constexpr int kPacketTimeoutMs = 3500;
constexpr uint32_t kPacketSizeMask = 0xFFFF;

void PutU32(std::vector<uint8_t>* out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out->push_back(static_cast<uint8_t>(value >> shift));
}

void SetU32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetU32(const uint8_t* at) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(at[i]) << (8 * i);
    return value;
}

uint16_t GetU16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | (at[1] << 8)); }

uint32_t ByteSum(const uint8_t* data, size_t size) {
    uint32_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum += data[i];
    return sum;
}

}  // namespace

uint16_t ParseBootReply(void*, const uint8_t* payload, int length, void* context) {
    if (length != rp::kBootReplyBytes) return kBootReplyLengthError;
    *static_cast<uint32_t*>(context) = GetU32(payload + 2);
    return GetU16(payload);
}

uint16_t ParseImageConfirmation(void*, const uint8_t* payload, int length, void* context) {
    if (length != rp::kBootConfirmReplyBytes) return kBootReplyLengthError;
    auto* confirmation = static_cast<ImageConfirmation*>(context);
    confirmation->status = GetU16(payload);
    confirmation->size = GetU32(payload + 2);
    confirmation->checksum = GetU32(payload + 6);
    return 0;
}

int ImagePaddingCount(size_t size) {
    return static_cast<int>((rp::kBootImageAlignment - size % rp::kBootImageAlignment) %
                            rp::kBootImageAlignment);
}

uint32_t ImageChecksum(const uint8_t* image, size_t size) {
    return ByteSum(image, size) + rp::kBootPadByte * static_cast<uint32_t>(ImagePaddingCount(size));
}

std::vector<PartitionEntry> PartitionsFromMask(uint32_t mask) {
    std::vector<PartitionEntry> entries;
    for (int bit = 0; bit < 32; ++bit) {
        const uint32_t value = uint32_t{1} << bit;
        if ((mask & value) == 0) continue;
        const char* text = value == rp::kPartitionApp0   ? "App0"
                           : value == rp::kPartitionApp1 ? "App1"
                                                         : "Unknown";
        entries.push_back({text, value});
    }
    return entries;
}

// The image file, read whole, in the common library's buffer.
struct CFirmwareTransfer::Image {
    explicit Image(const std::wstring& path) { size = ReadFileDataW(path.c_str(), &bytes); }
    ~Image() { ReleaseFileData(bytes); }
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    uint8_t* bytes = nullptr;
    size_t size = 0;
};

CFirmwareTransfer::CFirmwareTransfer(KVEL_RADAR_HANDLE device, IFirmwareObserver& observer)
    : m_device(device), m_observer(observer) {}

CFirmwareTransfer::CFirmwareTransfer(IFirmwareObserver& observer)
    : m_ownedDevice(KVEL_Interface_RadarDevice_Serial_Create()),
      m_device(m_ownedDevice),
      m_observer(observer) {}

CFirmwareTransfer::~CFirmwareTransfer() {
    Stop();
    // Destroying closes the port too.
    KVEL_Interface_RadarDevice_Serial_Destroy(m_ownedDevice);
}

bool CFirmwareTransfer::Start(FirmwareOperation operation, const FirmwarePort& port,
                              std::wstring imagePath) {
    // An operation that has told its end is only returning: wait for that.
    if (m_thread.IsRunning() && !m_ended.load()) return false;
    m_thread.StopThread();
    m_ended.store(false);
    m_operation = operation;
    m_port = port;
    m_imagePath = std::move(imagePath);
    m_stop.store(false);
    return m_thread.StartThread("Download", this, static_cast<uint64_t>(operation), 0, 0x400000,
                                0) != 0;
}

void CFirmwareTransfer::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stop.store(true);
    }
    m_stopSignal.notify_all();
    m_thread.StopThread();
}

bool CFirmwareTransfer::IsRunning() const { return m_thread.IsRunning(); }

std::string CFirmwareTransfer::ErrorText() const {
    std::lock_guard lock(m_mutex);
    return m_errorText;
}

int CFirmwareTransfer::ThreadFunc(uint64_t) {
    DbgOutputA(2, "Firmware worker starts\r\n");
    Run(m_operation, m_port, m_imagePath);
    DbgOutputA(2, "Firmware worker ends\r\n");
    return 0;
}

FirmwareResult CFirmwareTransfer::Run(FirmwareOperation operation, const FirmwarePort& port,
                                      const std::wstring& imagePath) {
    {
        std::lock_guard lock(m_mutex);
        m_errorText.clear();
    }
    FirmwareResult result = FirmwareResult::Done;
    if (!port.chosen) {
        Message(kTextNoPort);
        result = FirmwareResult::NoPort;
    } else if (!OpenPort(port)) {
        Message(OpenFailureTextId(port));
        result = FirmwareResult::OpenFailed;
    } else if (operation == FirmwareOperation::Query) {
        result = Query();
    } else {
        result = Download(port, imagePath);
    }
    // Told last: whoever hears it may start the next operation at once.
    m_ended.store(true);
    m_observer.OnFinished(result);
    return result;
}

// The failure in words, without the line end the log gives it.
void CFirmwareTransfer::Fail(const std::string& text) {
    std::string words = text;
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' '))
        words.pop_back();
    std::lock_guard lock(m_mutex);
    m_errorText = words;
}

void CFirmwareTransfer::Message(int id) {
    const std::string text = FirmwareText(id);
    Fail(text);
    m_observer.OnMessage(text);
}

void CFirmwareTransfer::Log(const std::string& text) { m_observer.OnLog(text); }

void CFirmwareTransfer::LogFailure(const std::string& text) {
    Fail(text);
    Log(text);
}

bool CFirmwareTransfer::OpenPort(const FirmwarePort& port) {
    return KVEL_Interface_RadarDevice_Serial_OpenByPortNum(m_device, port.portNumber, port.baudRate,
                                                           kOpenAttempts, 0, 0, 0,
                                                           kHandshakeTimeoutMs) != 0;
}

// A port our own main connection holds is not another program's doing: the
// user is told to disconnect it.
int CFirmwareTransfer::OpenFailureTextId(const FirmwarePort& port) const {
    const bool ours = m_ownConnectionHolds && m_ownConnectionHolds(port.portNumber);
    return ours ? kTextPortHeldByUs : kTextOpenFailed;
}

// Why a command failed: the line went away, the module refused it (its
// reply carried a failing status), or no readable reply came.
FirmwareResult CFirmwareTransfer::FailureOf(uint16_t sendResult) const {
    if (KVEL_Interface_RadarDevice_IsConnected(m_device) == 0) return FirmwareResult::LineLost;
    switch (sendResult) {
        case KVEL_SEND_TIMEOUT:
        case KVEL_SEND_WRITE_FAILED:
        case KVEL_SEND_TOO_LONG:
        case kBootReplyLengthError:
            return FirmwareResult::NoAnswer;
        case KVEL_SEND_NOT_CONNECTED:
            return FirmwareResult::LineLost;
        default:
            return FirmwareResult::Refused;
    }
}

uint16_t CFirmwareTransfer::Send(uint8_t code, const std::vector<uint8_t>& payload, uint32_t* ack,
                                 int timeoutMs) {
    return KVEL_Interface_RadarDevice_Protocol_SendCommand(
        m_device, code, payload.empty() ? nullptr : payload.data(),
        static_cast<int>(payload.size()), &ParseBootReply, ack, timeoutMs);
}

// --- query -----------------------------------------------------------------

FirmwareResult CFirmwareTransfer::Query() {
    Log(FirmwareText(kTextQueryStart));
    if (KVEL_Interface_RadarDevice_StartCmdMode(m_device, kOpenAttempts, kHandshakeTimeoutMs) ==
        0) {
        Log(FirmwareText(kTextCommandModeFailed));
    }
    uint32_t ack = 0;
    FirmwareResult result = QueryRunningMode(&ack);
    if (result == FirmwareResult::Done) result = QueryDeviceId(&ack);
    if (result == FirmwareResult::Done) result = QueryPartitions(&ack);
    // The boot loader is left in command mode: it is where the download
    // that follows begins.
    if (m_bootLoaderFlag.load() == 0) KVEL_Interface_RadarDevice_StopCmdMode(m_device);
    KVEL_Interface_RadarDevice_Serial_Close(m_device);
    m_observer.OnPortClosed();
    return result;
}

FirmwareResult CFirmwareTransfer::QueryRunningMode(uint32_t* ack) {
    *ack = 0;
    if (const uint16_t sent = Send(rp::kCmdBootRunningMode, {}, ack, kQueryTimeoutMs); sent != 0) {
        LogFailure(FirmwareText(kTextModeFailed));
        m_observer.OnRunningMode(std::nullopt);
        return FailureOf(sent);
    }
    m_bootLoaderFlag.store(*ack == rp::kRunningModeBootLoader ? 1 : 0);
    m_observer.OnRunningMode(*ack);
    return FirmwareResult::Done;
}

FirmwareResult CFirmwareTransfer::QueryDeviceId(uint32_t* ack) {
    *ack = 0;
    if (const uint16_t sent = Send(rp::kCmdBootDeviceId, {}, ack, kQueryTimeoutMs); sent != 0) {
        LogFailure(FirmwareText(kTextDeviceIdFailed));
        m_observer.OnDeviceId(std::nullopt);
        return FailureOf(sent);
    }
    Log(DeviceIdText(*ack));
    m_observer.OnDeviceId(*ack);
    return FirmwareResult::Done;
}

FirmwareResult CFirmwareTransfer::QueryPartitions(uint32_t* ack) {
    if (const uint16_t sent = Send(rp::kCmdBootPartitions, {}, ack, kQueryTimeoutMs); sent != 0) {
        LogFailure(FirmwareText(kTextPartitionsFailed));
        return FailureOf(sent);
    }
    m_partitionMask.store(*ack);
    const std::vector<PartitionEntry> entries = PartitionsFromMask(*ack);
    m_observer.OnPartitions(entries);
    m_selectedPartition.store(entries.empty() ? 0 : entries.front().bit);
    return FirmwareResult::Done;
}

// --- download --------------------------------------------------------------

FirmwareResult CFirmwareTransfer::Download(const FirmwarePort& port,
                                           const std::wstring& imagePath) {
    FirmwareResult result = FirmwareResult::Done;
    std::unique_ptr<Image> image;
    uint32_t ack = 0;
    if (m_selectedPartition.load() == 0) {
        Message(kTextNoPartition);
        result = FirmwareResult::NoPartition;
    } else if (image = std::make_unique<Image>(imagePath);
               image->size == 0 || image->size > UINT32_MAX) {
        // An image whose size does not fit the image information is as
        // unusable as an empty one.
        Message(kTextBadImage);
        result = FirmwareResult::BadImage;
    } else if (m_bootLoaderFlag.load() == 0) {
        result = ResetIntoBootLoader(port, &ack);
    }
    if (result == FirmwareResult::Done) result = SendImageInformation(*image, &ack);
    // Clean-up, whichever way the download ended.
    image.reset();
    KVEL_Interface_RadarDevice_Serial_Close(m_device);
    m_observer.OnPortClosed();
    m_observer.OnBusy(false);
    return result;
}

// The module runs an application (or was never asked): it is told to restart
// in its boot loader, given time to, and asked whether it did.
FirmwareResult CFirmwareTransfer::ResetIntoBootLoader(const FirmwarePort& port, uint32_t* ack) {
    KVEL_Interface_RadarDevice_StartCmdMode(m_device, kOpenAttempts, kHandshakeTimeoutMs);
    KVEL_Interface_RadarDevice_Protocol_SendCommand_NoCheckAck(m_device, rp::kCmdBootSoftwareReset,
                                                               nullptr, 0);
    if (!WaitUnlessStopped(m_resetWait)) return FirmwareResult::Stopped;
    if (!OpenPort(port)) {
        LogFailure(FirmwareText(kTextResetFailed));
        return FirmwareResult::LineLost;
    }
    *ack = 0;
    const uint16_t sent = Send(rp::kCmdBootRunningMode, {}, ack, kQueryTimeoutMs);
    if (sent != 0 || *ack != rp::kRunningModeBootLoader) {
        LogFailure(FirmwareText(kTextResetFailed));
        return sent != 0 ? FailureOf(sent) : FirmwareResult::NoAnswer;
    }
    return FirmwareResult::Done;
}

bool CFirmwareTransfer::WaitUnlessStopped(std::chrono::milliseconds wait) {
    std::unique_lock lock(m_mutex);
    const bool stopped = m_stopSignal.wait_for(lock, wait, [this] { return m_stop.load(); });
    if (stopped) m_errorText = "stopped";
    return !stopped;
}

FirmwareResult CFirmwareTransfer::SendImageInformation(const Image& image, uint32_t* ack) {
    const uint32_t size = static_cast<uint32_t>(image.size);
    const uint32_t checksum = ImageChecksum(image.bytes, image.size);
    m_imageBytes.store(size);
    m_bytesSent.store(0);
    m_observer.OnImage(size, checksum);
    m_observer.OnProgress(0, size);
    m_observer.OnBusy(true);

    std::vector<uint8_t> information;
    PutU32(&information, m_selectedPartition.load());
    PutU32(&information, size);
    PutU32(&information, checksum);
    // A failure names the value of the module's answer, none without one.
    *ack = 0;
    if (const uint16_t sent = Send(rp::kCmdBootImageInfo, information, ack, kImageInfoTimeoutMs);
        sent != 0) {
        LogFailure(FormatText(FirmwareText(kTextImageInfoFailed), {static_cast<int64_t>(*ack)}));
        return FailureOf(sent);
    }
    const int packetSize = static_cast<int>(*ack & kPacketSizeMask);
    if (packetSize <= rp::kBootPacketOverhead) {
        // An answer, but one that leaves no room for image data.
        LogFailure(FirmwareText(kTextPacketTooSmall));
        return FirmwareResult::Refused;
    }
    Log(FirmwareText(kTextDownloading));
    const FirmwareResult sent = SendPackets(image, packetSize - rp::kBootPacketOverhead, ack);
    return sent == FirmwareResult::Done ? ConfirmImage(size, checksum) : sent;
}

// One packet at a time, each built once the one before was taken; the last
// one is padded like the image checksum when it is shorter than a chunk.
FirmwareResult CFirmwareTransfer::SendPackets(const Image& image, int chunk, uint32_t* ack) {
    const uint32_t size = static_cast<uint32_t>(image.size);
    const int padding = ImagePaddingCount(image.size);
    std::vector<uint8_t> packet;
    packet.reserve(static_cast<size_t>(rp::kBootPacketHeaderBytes + chunk));
    uint32_t position = 0;
    uint32_t remaining = size;
    for (uint32_t index = 0;; ++index) {
        if (m_stop.load()) {
            Fail("stopped");
            return FirmwareResult::Stopped;
        }
        const bool full = static_cast<uint32_t>(chunk) <= remaining;
        const uint32_t count = full ? static_cast<uint32_t>(chunk) : remaining;
        const int pad = full ? 0 : padding;
        remaining -= count;
        packet.assign(rp::kBootPacketHeaderBytes, 0);
        packet.insert(packet.end(), image.bytes + position, image.bytes + position + count);
        packet.insert(packet.end(), static_cast<size_t>(pad), rp::kBootPadByte);
        SetU32(&packet[0], index);
        SetU32(&packet[4], ByteSum(image.bytes + position, count) +
                               rp::kBootPadByte * static_cast<uint32_t>(pad));
        // Not the value of an earlier answer (the packet size) when no
        // answer comes.
        *ack = 0;
        if (const uint16_t sent = Send(rp::kCmdBootImagePacket, packet, ack, kPacketTimeoutMs);
            sent != 0) {
            LogFailure(FormatText(FirmwareText(kTextPacketFailed),
                                  {static_cast<int64_t>(index), static_cast<int64_t>(*ack)}));
            return FailureOf(sent);
        }
        position += count;
        m_bytesSent.store(position);
        m_observer.OnProgress(position, size);
        if (remaining == 0) break;
    }
    return FirmwareResult::Done;
}

// The download is done only when the module says it holds the whole image:
// the size and checksum it counted must be the ones sent.
FirmwareResult CFirmwareTransfer::ConfirmImage(uint32_t size, uint32_t checksum) {
    ImageConfirmation held;
    const uint16_t sent = KVEL_Interface_RadarDevice_Protocol_SendCommand(
        m_device, rp::kCmdBootConfirmImage, nullptr, 0, &ParseImageConfirmation, &held,
        kQueryTimeoutMs);
    if (sent != 0) {
        LogFailure(FirmwareText(kTextNotConfirmed));
        return FailureOf(sent);
    }
    if (held.status != rp::kBootStatusOk || held.size != size || held.checksum != checksum) {
        LogFailure(FormatText(FirmwareText(kTextImageMismatch),
                              {static_cast<int64_t>(held.size), static_cast<int64_t>(held.checksum),
                               static_cast<int64_t>(size), static_cast<int64_t>(checksum)}));
        return FirmwareResult::Refused;
    }
    Log(FirmwareText(kTextDownloaded));
    return FirmwareResult::Done;
}

}  // namespace firmware

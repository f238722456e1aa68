#include "capture/NoiseScan.h"

#include <algorithm>
#include <cstdio>

#include "device/Decibels.h"
#include "realtime/ReadingLoop.h"

namespace {

// Reads in chunks of the module's frame size; a device that names none (or
// no device, when replaying) still gets a usable chunk.
constexpr int kFallbackChunkSize = 1024;

size_t ChunkSize(const CRadarSession* session) {
    const int size = session ? session->FrameSize()
                             : KVEL_Interface_RadarDevice_Protocol_GetWriteBufferMaxSize(nullptr);
    return static_cast<size_t>(size > 0 ? size : kFallbackChunkSize);
}

// Counts every chunk read, then hands it to the file writer when there is one.
class CountingTap : public IChunkTap {
public:
    CountingTap(std::atomic<uint64_t>* count, IChunkTap* next) : m_count(count), m_next(next) {}
    bool OnChunk(const uint8_t* data, size_t size) override {
        m_count->fetch_add(size);
        return m_next ? m_next->OnChunk(data, size) : true;
    }

private:
    std::atomic<uint64_t>* m_count;
    IChunkTap* m_next;
};

}  // namespace

double StrongestGateDistance(const double* gateDb, const double* triggerDb) {
    double best = 0.0;
    double distance = 0.0;
    for (int gate = 0; gate < noise_scan::kGateCount; ++gate) {
        const double energy = gateDb[gate];
        if (energy > triggerDb[gate] && energy > best) {
            best = energy;
            distance = radar_protocol::kGateLengthMetres * gate;
        }
    }
    return distance;
}

std::string SeriesLine(const CaptureSeries& series, int index, char separator) {
    const size_t at = static_cast<size_t>(index);
    if (index < 0 || at >= series.energy.size()) return {};
    char line[96];
    std::snprintf(line, sizeof line, "%d%c%.1f%c%.2f%c%.1f", index, separator,
                  static_cast<double>(index) / radar_protocol::kReportsPerSecond, separator,
                  series.energy[at], separator, series.distance[at]);
    return line;
}

CNoiseScan::CNoiseScan(ICaptureObserver* observer) : m_observer(observer) {}

CNoiseScan::~CNoiseScan() { Stop(); }

void CNoiseScan::ResetSeries(int seconds, const std::function<void(const CaptureSeries&)>& show) {
    const size_t capacity = static_cast<size_t>(std::max(ScanCapacity(seconds), 0));
    std::lock_guard lock(m_seriesLock);
    // The worker writes into the arrays it was started with: while it runs
    // they are only zeroed, never moved.
    if (capacity != m_series.energy.size() && !IsRunning()) {
        m_series.energy.assign(capacity, 0.0);
        m_series.distance.assign(capacity, 0.0);
    } else {
        std::fill(m_series.energy.begin(), m_series.energy.end(), 0.0);
        std::fill(m_series.distance.begin(), m_series.distance.end(), 0.0);
    }
    if (show) show(m_series);
}

void CNoiseScan::ShowSeries(const std::function<void(const CaptureSeries&)>& show) const {
    std::lock_guard lock(m_seriesLock);
    if (show) show(m_series);
}

int CNoiseScan::Capacity() const {
    std::lock_guard lock(m_seriesLock);
    return m_series.Capacity();
}

CaptureSeries CNoiseScan::CopySeries() const {
    std::lock_guard lock(m_seriesLock);
    return m_series;
}

bool CNoiseScan::Start(const CaptureRunRequest& request) {
    if (IsRunning() || Capacity() == 0) return false;
    m_request = request;
    m_request.gate = std::clamp(request.gate, 0, noise_scan::kGateCount - 1);
    m_filePath =
        request.mode == CaptureMode::Record ? MakeRadarDataPath(request.folder) : request.file;
    if (request.mode == CaptureMode::Record) {
        m_request.origin.startTime = std::time(nullptr);
        m_request.origin.scanSeconds = Capacity() / radar_protocol::kReportsPerSecond;
    }
    m_stop.store(0);
    m_count.store(0);
    m_fileFailed.store(false);
    m_bytesRead.store(0);
    m_runId.fetch_add(1);
    return m_thread.StartThread("ReadData", this, 0, 0, noise_scan::kThreadStackSize, 0) != 0;
}

void CNoiseScan::Stop() {
    m_stop.store(1);
    m_thread.StopThread();
}

int CNoiseScan::ThreadFunc(uint64_t) {
    const int runId = m_runId.load();
    const CaptureRunEnd end = m_request.mode == CaptureMode::Record ? Record() : Replay();
    m_observer->OnRunEnded(runId, end);
    return 0;
}

CaptureRunEnd CNoiseScan::Record() {
    CRadarSession* session = m_request.session;
    if (!session) return CaptureRunEnd::SourceEnded;
    RadarDataWriter writer;
    // A save folder typed in or set up on another machine need not exist yet.
    if (!m_request.folder.empty()) RecursiveCreateDirectoryW(m_request.folder.c_str());
    if (writer.Open(m_filePath)) {
        std::string error;
        if (!WriteRadarDataSideFile(RadarDataSidePath(m_filePath), m_request.params,
                                    m_request.origin, &error))
            DbgOutputA(2, "Cannot write the recording's parameter file: %s\r\n", error.c_str());
    } else {
        ReportFileFailed();
    }
    session->StartReports();
    ModuleByteSource source(session);
    const CaptureRunEnd end = ReadUntilDone(&source, &writer);
    // Whatever ended the run, what was read is in the file before the
    // module is touched again.
    if (!writer.Close() || writer.Failed()) ReportFileFailed();
    session->StopReports();
    return end;
}

CaptureRunEnd CNoiseScan::Replay() {
    RadarDataSource source;
    if (!source.Open(m_filePath)) return CaptureRunEnd::FileUnreadable;
    const CaptureRunEnd end = ReadUntilDone(&source, nullptr);
    source.Close();
    // A module that was connected all along is put back into data transfer
    // mode; a replay on its own has no module to talk to.
    CRadarSession* session = m_request.session;
    if (session && session->IsConnected()) session->StopReports();
    return end;
}

CaptureRunEnd CNoiseScan::ReadUntilDone(IByteSource* source, IChunkTap* tap) {
    const int capacity = Capacity();
    CountingTap counting(&m_bytesRead, tap);
    ReadingLoop loop(source, this, &m_stop, ChunkSize(m_request.session), &counting);
    const ReadingEnd end = loop.Run([this, capacity] { return m_count.load() < capacity; });
    if (m_count.load() >= capacity) return CaptureRunEnd::Finished;
    if (end == ReadingEnd::SourceEnded) return CaptureRunEnd::SourceEnded;
    return CaptureRunEnd::Stopped;
}

void CNoiseScan::ReportFileFailed() {
    if (!m_fileFailed.exchange(true)) m_observer->OnRecordingFileFailed(m_filePath);
}

void CNoiseScan::OnObjectReport(const uint8_t* payload) {
    const ObjectReport report = DecodeObjectReport(payload);
    double gateDb[noise_scan::kGateCount];
    for (int gate = 0; gate < noise_scan::kGateCount; ++gate)
        gateDb[gate] = EnergyToDb(report.GateEnergy[gate]);
    const double distance = StrongestGateDistance(gateDb, m_request.params.TriggerThreshold);

    std::lock_guard lock(m_seriesLock);
    const int index = m_count.load();
    // Reports after the last counted one in the same chunk are not counted.
    if (index >= m_series.Capacity()) return;
    m_series.energy[static_cast<size_t>(index)] = gateDb[m_request.gate];
    m_series.distance[static_cast<size_t>(index)] = distance;
    m_observer->OnReportCounted(m_series, index, gateDb);
    m_count.store(index + 1);
}

#include "realtime/ReadingLoop.h"

#include <algorithm>
#include <climits>

#include "connection/RadarSession.h"

int ModuleByteSource::Read(uint8_t* buffer, size_t size) {
    const int wanted = static_cast<int>(std::min<size_t>(size, INT_MAX));
    return m_session->ReadData(buffer, wanted, kReadTimeoutMs);
}

ReadingLoop::ReadingLoop(IByteSource* source, IObjectReportListener* listener,
                         const std::atomic<int>* stopFlag, size_t chunkSize, IChunkTap* tap)
    : m_source(source),
      m_tap(tap),
      m_stopFlag(stopFlag),
      m_parser(listener, stopFlag),
      m_chunk(std::max<size_t>(chunkSize, 1)) {}

ReadingEnd ReadingLoop::Run(const std::function<bool()>& keepGoing) {
    while (!Stopped() && (!keepGoing || keepGoing())) {
        const int received = m_source->Read(m_chunk.data(), m_chunk.size());
        if (received < 0) return ReadingEnd::SourceEnded;
        if (received == 0) continue;
        const size_t size = static_cast<size_t>(received);
        // The tap keeps every byte read, also those after a stop request.
        if (m_tap && !m_tap->OnChunk(m_chunk.data(), size)) return ReadingEnd::TapFailed;
        m_parser.Append(m_chunk.data(), size);
    }
    return ReadingEnd::Stopped;
}

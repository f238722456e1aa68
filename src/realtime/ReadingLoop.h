// The loop every reader of the report stream runs: read a chunk from a byte
// source, hand it to an optional tap (a capture file writer) before anything
// else sees it, then to the frame parser, until told to stop or the source
// ends. The realtime and capture workers and radar-cli run it; windows only
// see what the listener hands on.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "realtime/ReportFrame.h"

class CRadarSession;

class IByteSource {
public:
    virtual ~IByteSource() = default;
    // Waits for bytes and stores at most `size` of them. Returns the count
    // stored; 0 when none came this time; a negative value when the source
    // has ended and will give nothing more.
    virtual int Read(uint8_t* buffer, size_t size) = 0;
};

// Receives every chunk before the parser does.
class IChunkTap {
public:
    virtual ~IChunkTap() = default;
    // False when the chunk could not be kept: the loop ends.
    virtual bool OnChunk(const uint8_t* data, size_t size) = 0;
};

// The module's line through its session.
class ModuleByteSource : public IByteSource {
public:
    static constexpr int kReadTimeoutMs = 2000;

    explicit ModuleByteSource(CRadarSession* session) : m_session(session) {}
    // Ends when nothing came because the line has gone (the session then
    // knows it is lost).
    int Read(uint8_t* buffer, size_t size) override;

private:
    CRadarSession* m_session;
};

enum class ReadingEnd {
    Stopped,      // the stop flag was raised or the caller's condition failed
    SourceEnded,  // the source gives nothing more (end of file, line gone)
    TapFailed,    // the tap could not keep a chunk
};

class ReadingLoop {
public:
    // `stopFlag` ends the loop between chunks and the parser between
    // frames; it may be raised from any thread, also by the listener.
    ReadingLoop(IByteSource* source, IObjectReportListener* listener,
                const std::atomic<int>* stopFlag, size_t chunkSize, IChunkTap* tap = nullptr);

    // Runs until the stop flag is raised, `keepGoing` (when given) returns
    // false before a read, the source ends or the tap fails.
    ReadingEnd Run(const std::function<bool()>& keepGoing = {});

    const ReportFrameParser& Parser() const { return m_parser; }

private:
    bool Stopped() const { return m_stopFlag && m_stopFlag->load() != 0; }

    IByteSource* m_source;
    IChunkTap* m_tap;
    const std::atomic<int>* m_stopFlag;
    ReportFrameParser m_parser;
    std::vector<uint8_t> m_chunk;
};

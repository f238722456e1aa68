// Radar data files: the module's report stream exactly as the line delivered
// it during a recording, chunk after chunk, with nothing added. Reading one
// back goes through the same frame parser as the live stream, so a file that
// starts or ends inside a frame behaves as the live parse did.
//
// Beside each recording lies a parameter file of the same stamp (".xml"),
// holding the parameters in force and where the recording came from.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "params/RadarParam.h"
#include "realtime/ReadingLoop.h"

namespace radar_data_file {
constexpr const wchar_t* kPrefix = L"RadarData_";
constexpr const wchar_t* kExtension = L".dat";
constexpr const wchar_t* kSideExtension = L".xml";
// The name "Load Data" proposes in the save folder the first time.
constexpr const wchar_t* kProposedName = L"RadarData.dat";
// Attributes of the side file's "RadarParam" root besides the parameters.
constexpr const char* kVersionAttribute = "ModuleVersion";
constexpr const char* kSerialAttribute = "ModuleSerialNumber";
constexpr const char* kBaudAttribute = "BaudRate";
constexpr const char* kStartTimeAttribute = "StartTime";
constexpr const char* kScanDurationAttribute = "ScanDuration";
}  // namespace radar_data_file

// "RadarData_<stamp>.dat" in `folder`; empty when the name does not fit.
std::wstring MakeRadarDataPath(const std::wstring& folder);
// The side file's path: the data file's with ".xml" for its extension.
std::wstring RadarDataSidePath(const std::wstring& dataPath);

// Where a recording came from, for its side file.
struct RecordingOrigin {
    std::string version;  // the module's, "" when unknown
    std::string serial;
    int baudRate = 0;
    std::time_t startTime = 0;
    int scanSeconds = 0;
};

// Writes the side file: a parameter file whose root "RadarParam" carries the
// parameters and the origin. False (with a reason in *error) when not written.
bool WriteRadarDataSideFile(const std::wstring& path, const RadarParamSet& params,
                            const RecordingOrigin& origin, std::string* error);

// Keeps every chunk of a recording, before it is parsed. Each chunk is
// handed to the system before the next read, so whatever ends the run
// (even the process) has lost nothing that was read. A file that cannot be
// written does not stop the recording: the run goes on and Failed() says so.
class RadarDataWriter : public IChunkTap {
public:
    RadarDataWriter() = default;
    ~RadarDataWriter() override;  // closes
    RadarDataWriter(const RadarDataWriter&) = delete;
    RadarDataWriter& operator=(const RadarDataWriter&) = delete;

    // Creates or truncates the file. False when it cannot be opened.
    bool Open(const std::wstring& path);
    bool OnChunk(const uint8_t* data, size_t size) override;  // always true
    // Flushes and closes; false when anything could not be written.
    bool Close();

    bool IsOpen() const { return m_file != nullptr; }
    // Something could not be written (or the file could not be opened).
    bool Failed() const { return m_failed; }
    uint64_t BytesWritten() const { return m_written; }

private:
    std::FILE* m_file = nullptr;
    bool m_failed = false;
    uint64_t m_written = 0;
};

// A radar data file as a byte source: each read fills the whole chunk unless
// the file ends first; the end of the file (or a read error) ends the source.
class RadarDataSource : public IByteSource {
public:
    RadarDataSource() = default;
    ~RadarDataSource() override;
    RadarDataSource(const RadarDataSource&) = delete;
    RadarDataSource& operator=(const RadarDataSource&) = delete;

    bool Open(const std::wstring& path);
    void Close();
    int Read(uint8_t* buffer, size_t size) override;

private:
    std::FILE* m_file = nullptr;
};

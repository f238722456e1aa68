#include "capture/RadarDataFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "common/KVEL_Common.h"
#include "common/ReplaceFile.h"
#include "params/RadarParamFile.h"
#include "xml/XMLParser.h"

namespace {

std::FILE* OpenFile(const std::wstring& path, const char* mode) {
    if (path.empty()) return nullptr;
    return std::fopen(WideToAnsi(path).c_str(), mode);
}

bool IsFolder(std::FILE* file) {
    struct stat info {};
    return fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string LocalTimeText(std::time_t time) {
    std::tm local = {};
    localtime_r(&time, &local);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

}  // namespace

std::wstring MakeRadarDataPath(const std::wstring& folder) {
    wchar_t name[KVEL_MAX_PATH] = {};
    wchar_t path[KVEL_MAX_PATH] = {};
    // The name's own arguments: no suffix; the three numbers mean nothing here.
    if (!GetFileNameByDateW(name, radar_data_file::kExtension, radar_data_file::kPrefix, L"", 0, 1,
                            0) ||
        !CombinePathNameW(path, folder.c_str(), name))
        return {};
    return path;
}

std::wstring RadarDataSidePath(const std::wstring& dataPath) {
    const std::wstring extension = radar_data_file::kExtension;
    std::wstring side = dataPath;
    if (side.size() >= extension.size() &&
        side.compare(side.size() - extension.size(), extension.size(), extension) == 0)
        side.erase(side.size() - extension.size());
    return side + radar_data_file::kSideExtension;
}

bool WriteRadarDataSideFile(const std::wstring& path, const RadarParamSet& params,
                            const RecordingOrigin& origin, std::string* error) {
    namespace names = radar_data_file;
    XMLParser parser;
    const XMLNode root = parser.GetRoot().AddChild(kRadarParamElement);
    root.SetAttribute(names::kVersionAttribute, origin.version.c_str());
    root.SetAttribute(names::kSerialAttribute, origin.serial.c_str());
    root.SetAttributeInt(names::kBaudAttribute, origin.baudRate);
    root.SetAttribute(names::kStartTimeAttribute, LocalTimeText(origin.startTime).c_str());
    root.SetAttributeInt(names::kScanDurationAttribute, origin.scanSeconds);
    StoreRadarParams(root, &params);
    return ReplaceFileContentW(
        path.c_str(), [&parser](std::FILE* stream) { return parser.SaveToFile(stream); }, error);
}

RadarDataWriter::~RadarDataWriter() { Close(); }

bool RadarDataWriter::Open(const std::wstring& path) {
    Close();
    m_failed = false;
    m_written = 0;
    m_file = OpenFile(path, "wb");
    if (!m_file) m_failed = true;
    return m_file != nullptr;
}

bool RadarDataWriter::OnChunk(const uint8_t* data, size_t size) {
    if (!m_file || m_failed) return true;
    size_t done = 0;
    while (done < size) {
        const size_t wrote = std::fwrite(data + done, 1, size - done, m_file);
        if (wrote == 0) break;
        done += wrote;
    }
    m_written += done;
    // Handed to the system at once: a process that dies later loses nothing read.
    if (done < size || std::fflush(m_file) != 0) m_failed = true;
    return true;
}

bool RadarDataWriter::Close() {
    if (!m_file) return !m_failed;
    if (std::fclose(m_file) != 0) m_failed = true;
    m_file = nullptr;
    return !m_failed;
}

RadarDataSource::~RadarDataSource() { Close(); }

bool RadarDataSource::Open(const std::wstring& path) {
    Close();
    m_file = OpenFile(path, "rb");
    // A folder opens for reading here but is no file to replay.
    if (m_file && IsFolder(m_file)) Close();
    return m_file != nullptr;
}

void RadarDataSource::Close() {
    if (m_file) std::fclose(m_file);
    m_file = nullptr;
}

int RadarDataSource::Read(uint8_t* buffer, size_t size) {
    if (!m_file) return -1;
    size_t filled = 0;
    while (filled < size) {
        const size_t got = std::fread(buffer + filled, 1, size - filled, m_file);
        if (got == 0) break;  // end of file or a read error: the chunk stays partly filled
        filled += got;
    }
    return filled > 0 ? static_cast<int>(filled) : -1;
}

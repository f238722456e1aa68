// Finds the version text an executable carries (KVEL_EMBED_FILE_VERSION) by
// scanning the file's bytes for the marker.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "common/KVEL_Common.h"
#include "common/PathText.h"

namespace {

constexpr size_t kMaxVersionLength = 128;

bool IsVersionChar(unsigned char ch) { return ch >= 0x20 && ch < 0x7F; }

// The version text following the marker at `at`, or "" when what follows is
// not a short printable zero-terminated text. The library itself holds the
// bare marker (as the search needle), which yields "" and is passed over.
std::string VersionAfter(const char* at, const char* end) {
    const char* p = at + std::strlen(KVEL_FILE_VERSION_MARKER);
    const char* start = p;
    while (p < end && p - start <= static_cast<ptrdiff_t>(kMaxVersionLength) && *p != '\0') {
        if (!IsVersionChar(static_cast<unsigned char>(*p))) return {};
        ++p;
    }
    if (p >= end || *p != '\0') return {};
    return std::string(start, p);
}

std::string FindVersion(const char* data, size_t size) {
    const char* marker = KVEL_FILE_VERSION_MARKER;
    const size_t markerLength = std::strlen(marker);
    const char* end = data + size;
    const char* p = data;
    while (static_cast<size_t>(end - p) >= markerLength) {
        const void* hit = memmem(p, static_cast<size_t>(end - p), marker, markerLength);
        if (!hit) break;
        const char* at = static_cast<const char*>(hit);
        std::string version = VersionAfter(at, end);
        if (!version.empty()) return version;
        p = at + 1;
    }
    return {};
}

}  // namespace

bool GetFileVersionW(const wchar_t* path, wchar_t* out, size_t outChars) {
    if (out && outChars) out[0] = L'\0';
    if (!out || outChars == 0) return false;
    const std::string target = kvel_common_detail::NarrowPath(path);
    if (target.empty()) return false;
    const int fd = open(target.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        close(fd);
        return false;
    }
    const size_t size = static_cast<size_t>(info.st_size);
    void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (mapped == MAP_FAILED) return false;
    const std::string version = FindVersion(static_cast<const char*>(mapped), size);
    munmap(mapped, size);
    if (version.empty()) return false;
    return kvel_common_detail::CopyBounded(out, outChars, AnsiToWide(version));
}

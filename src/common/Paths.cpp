// Paths: the program folder, joining, creating folders, name parts and
// time-stamped file names.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/KVEL_Common.h"
#include "common/PathText.h"
#include "common/ProgramInfo.h"

using namespace kvel_common_detail;

namespace {

template <typename Char>
const Char* ExtensionOf(const Char* path) {
    static const Char kEmpty[1] = {0};
    if (!path) return kEmpty;
    const Char* name = path;
    for (const Char* p = path; *p; ++p)
        if (*p == Char('/')) name = p + 1;
    const Char* dot = nullptr;
    for (const Char* p = name; *p; ++p)
        if (*p == Char('.')) dot = p;
    // A leading dot names a hidden file; it does not start an extension.
    if (!dot || dot == name) {
        const Char* end = name;
        while (*end) ++end;
        return end;
    }
    return dot + 1;
}

// Milliseconds since the epoch, strictly increasing across calls in this
// process, so that two names made in quick succession never collide.
int64_t NextStampMilliseconds() {
    static std::atomic<int64_t> last{0};
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    int64_t previous = last.load();
    int64_t chosen;
    do {
        chosen = now > previous ? now : previous + 1;
    } while (!last.compare_exchange_weak(previous, chosen));
    return chosen;
}

std::wstring LocalStamp(int64_t milliseconds) {
    const time_t seconds = static_cast<time_t>(milliseconds / 1000);
    struct tm local {};
    localtime_r(&seconds, &local);
    char text[40];
    std::snprintf(text, sizeof text, "%04d%02d%02d_%02d%02d%02d_%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(milliseconds % 1000));
    return AnsiToWide(text);
}

// An XDG base folder: the variable when it holds an absolute path (XDG
// says relative ones are to be ignored), else its default under $HOME.
std::string XdgBaseFolder(const char* variable, const char* defaultUnderHome) {
    const char* set = std::getenv(variable);
    if (set && set[0] == '/') return set;
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') return {};
    return std::string(home) + "/" + defaultUnderHome;
}

std::string XdgBaseFolderFor(UserFileKind kind) {
    switch (kind) {
        case UserFileKind::kSettings:
            return XdgBaseFolder("XDG_CONFIG_HOME", ".config");
        case UserFileKind::kLogs:
            return XdgBaseFolder("XDG_STATE_HOME", ".local/state");
        case UserFileKind::kData:
            break;
    }
    return XdgBaseFolder("XDG_DATA_HOME", ".local/share");
}

}  // namespace

bool GetUserFileFolderW(UserFileKind kind, wchar_t* out) {
    if (!out) return false;
    if (GetOwnProgramPathW(out) && access(NarrowPath(out).c_str(), W_OK) == 0) return true;
    out[0] = L'\0';
    const std::string base = XdgBaseFolderFor(kind);
    if (base.empty()) return false;
    const std::wstring folder = AnsiToWide(base + "/" + KVEL_PROGRAM_NAME);
    if (!RecursiveCreateDirectoryW(folder.c_str())) return false;
    return CopyBounded(out, KVEL_MAX_PATH, folder);
}

bool GetProgramPathW(uint32_t pid, wchar_t* out) {
    if (!out) return false;
    out[0] = L'\0';
    char link[64];
    std::snprintf(link, sizeof link, "/proc/%u/exe", static_cast<unsigned>(pid));
    char target[4096];
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) return false;
    std::string path(target, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return false;
    path.resize(slash == 0 ? 1 : slash);
    return CopyBounded(out, KVEL_MAX_PATH, AnsiToWide(path));
}

bool GetOwnProgramPathW(wchar_t* out) {
    return GetProgramPathW(static_cast<uint32_t>(getpid()), out);
}

bool CombinePathNameW(wchar_t* out, const wchar_t* folder, const wchar_t* name) {
    if (!out) return false;
    // Both inputs are read into locals first: `out` may alias either.
    std::wstring left = folder ? std::wstring(folder, BoundedLength(folder, 1 << 16)) : L"";
    std::wstring right = name ? std::wstring(name, BoundedLength(name, 1 << 16)) : L"";
    while (left.size() > 1 && left.back() == L'/') left.pop_back();
    size_t skip = 0;
    while (skip < right.size() && right[skip] == L'/') ++skip;
    right.erase(0, skip);
    std::wstring joined = left;
    if (!left.empty() && !right.empty() && left.back() != L'/') joined += L'/';
    joined += right;
    return CopyBounded(out, KVEL_MAX_PATH, joined);
}

bool RecursiveCreateDirectoryW(const wchar_t* path) {
    const std::string target = NarrowPath(path);
    if (target.empty()) return false;
    struct stat info {};
    if (stat(target.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
    for (size_t pos = 1; pos <= target.size(); ++pos) {
        if (pos != target.size() && target[pos] != '/') continue;
        const std::string part = target.substr(0, pos);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    return stat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsFileExistW(const wchar_t* path) {
    const std::string target = NarrowPath(path);
    struct stat info {};
    if (target.empty() || stat(target.c_str(), &info) != 0) return false;
    return S_ISREG(info.st_mode) || S_ISDIR(info.st_mode);
}

const char* GetFileExtNameA(const char* path) { return ExtensionOf(path); }
const wchar_t* GetFileExtNameW(const wchar_t* path) { return ExtensionOf(path); }

bool GetFileShortNameW(wchar_t* out, const wchar_t* path) {
    if (!out) return false;
    if (!path) {
        out[0] = L'\0';
        return false;
    }
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'/') name = p + 1;
    return CopyBounded(out, KVEL_MAX_PATH, std::wstring(name));
}

bool GetFileNameByDateW(wchar_t* out, const wchar_t* extension, const wchar_t* prefix,
                        const wchar_t* suffix, int, int, int) {
    if (!out) return false;
    std::wstring name = prefix ? prefix : L"";
    name += LocalStamp(NextStampMilliseconds());
    if (suffix) name += suffix;
    if (extension && *extension) {
        if (*extension != L'.') name += L'.';
        name += extension;
    }
    return CopyBounded(out, KVEL_MAX_PATH, name);
}

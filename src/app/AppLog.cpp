#include "app/AppLog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

#include "common/KVEL_Common.h"

namespace {

constexpr const wchar_t* kLogFolderName = L"Log";
constexpr const wchar_t* kLogExtension = L".log";
constexpr const wchar_t* kLogPrefix = L"ZORVIRQ05_SB03TOOL_";

std::wstring MakeLogFilePath() {
    wchar_t folder[KVEL_MAX_PATH] = {};
    wchar_t name[KVEL_MAX_PATH] = {};
    wchar_t path[KVEL_MAX_PATH] = {};
    if (!GetUserFileFolderW(UserFileKind::kLogs, folder)) return {};
    if (!CombinePathNameW(folder, folder, kLogFolderName)) return {};
    if (!RecursiveCreateDirectoryW(folder)) return {};
    if (!GetFileNameByDateW(name, kLogExtension, kLogPrefix, L"", 0, 1, 0)) return {};
    if (!CombinePathNameW(path, folder, name)) return {};
    return path;
}

// Others may read the log while it is written but must not write it. POSIX
// has no sharing modes, so the writer holds an exclusive advisory lock:
// every program that writes logs this way takes the same lock first and is
// refused while this run owns the file, and plain readers, which take no
// lock, are not affected. The lock is taken before the old content of a
// same-named file is dropped, so a file in use by another writer is left
// alone and this run simply has no log, as a refused open would give.
FILE* OpenForExclusiveWriting(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ftruncate(fd, 0) != 0) {
        close(fd);
        return nullptr;
    }
    FILE* stream = fdopen(fd, "wb");
    if (stream == nullptr) close(fd);
    return stream;
}

}  // namespace

FILE* OpenAppLog() {
    const std::wstring path = MakeLogFilePath();
    FILE* stream = path.empty() ? nullptr : OpenForExclusiveWriting(WideToAnsi(path));
    DbgOutputAddCallback(LogWriteCallback, stream);
    DbgOutputSetTag(nullptr, 0);
    DbgOutputSetTimeType(1);
    DbgOutputSetIncludePIDTID(0);
    return stream;
}

void CloseAppLog(FILE** stream) {
    DbgOutputDelCallback(LogWriteCallback);
    if (stream == nullptr || *stream == nullptr) return;
    std::fclose(*stream);
    *stream = nullptr;
}

int LogWriteCallback(void* user, intptr_t /*reserved*/, const char* text, int length) {
    FILE* stream = static_cast<FILE*>(user);
    if (stream == nullptr || text == nullptr || length <= 0) return 0;
    // Lines come from several threads; holding the stream for the whole
    // loop keeps a line whole even when one fwrite takes only part of it
    // (the stream lock is recursive, so the writes inside may take it again).
    flockfile(stream);
    size_t written = 0;
    const size_t total = static_cast<size_t>(length);
    while (written < total) {
        const size_t n = std::fwrite(text + written, 1, total - written, stream);
        written += n;
        if (n == 0 || std::ferror(stream)) break;
    }
    funlockfile(stream);
    return static_cast<int>(written);
}

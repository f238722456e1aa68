// Replacing a file's content in one step, and sweeping up after saves that
// were killed half-way.
#include "common/ReplaceFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/PathText.h"

namespace {

constexpr const char* kReplacementMark = ".~";  // <name>.~<pid>.<n>

bool Fail(std::string* error, const std::string& path, const std::string& reason) {
    if (error != nullptr) *error = "cannot write \"" + path + "\": " + reason;
    return false;
}

std::string ReasonOf(int code) { return code != 0 ? std::strerror(code) : "write error"; }

// When the file is a symbolic link, the new content replaces the file it
// points to, so the link itself stays in place.
std::string ResolveLink(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) return path;
    return resolved;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Asks the kernel whether this process may write the existing file, for its
// effective user: permission bits, access lists, read-only mounts and
// immutable files all count. A rename would replace such a file regardless,
// which is why the question is asked first.
bool MayNotWrite(const std::string& path, int* code) {
    if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0) return false;
    *code = errno;
    return true;
}

// A folder that refuses new files, though the file in it may be writable.
bool FolderTakesNoNewFile(int code) { return code == EACCES || code == EPERM; }

// A new file beside the target that no other save (of this or another
// process) uses, so the folder and the file system are the target's. It
// gets the old file's permissions and, where allowed, its owner; a new
// file gets the usual permissions (umask applies).
int CreateBeside(const std::string& target, const struct stat* old, std::string* tempPath) {
    static std::atomic<unsigned> counter{0};
    const bool keepOld = old != nullptr && S_ISREG(old->st_mode);
    for (int attempt = 0; attempt < 100; ++attempt) {
        *tempPath =
            target + kReplacementMark + std::to_string(getpid()) + "." + std::to_string(counter++);
        const int fd =
            open(tempPath->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, keepOld ? 0600 : 0666);
        if (fd >= 0) {
            if (keepOld) {
                (void)fchown(fd, old->st_uid, old->st_gid);
                (void)fchmod(fd, old->st_mode & 07777);  // after chown, which may clear bits
            }
            return fd;
        }
        if (errno != EEXIST) break;
    }
    const int code = errno;
    tempPath->clear();
    errno = code;
    return -1;
}

// Hands `write` a stream of its own on a copy of the descriptor, so `fd`
// stays open to bring the data to the disk afterwards (the stream is closed
// by `write`).
bool WriteAndSync(int fd, const FileContentWriter& write, std::string* reason) {
    const int copy = dup(fd);
    std::FILE* stream = copy >= 0 ? fdopen(copy, "wb") : nullptr;
    if (stream == nullptr) {
        *reason = ReasonOf(errno);
        if (copy >= 0) close(copy);
        return false;
    }
    errno = 0;
    if (!write(stream)) {
        *reason = ReasonOf(errno);
        return false;
    }
    if (fsync(fd) != 0) {
        *reason = ReasonOf(errno);
        return false;
    }
    return true;
}

// Makes the rename itself durable. A folder that refuses to sync is no
// reason to report the save as failed: the new file is already in place.
void SyncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)fsync(fd);
    close(fd);
}

// The old way, for folders that take no new file: the content is replaced
// where it stands.
bool WriteInPlace(const std::string& target, const std::string& shown,
                  const FileContentWriter& write, std::string* error) {
    const int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return Fail(error, shown, ReasonOf(errno));
    std::string reason;
    const bool written = WriteAndSync(fd, write, &reason);
    close(fd);
    return written || Fail(error, shown, reason);
}

// Lets a test hold a save at its most exposed moment, the new content
// beside the file and the old one not yet replaced, and kill it there: the
// process stops itself when the environment names (a part of) the file.
void StopBeforeReplacingWhenAsked(const std::string& target) {
    const char* name = std::getenv("KVEL_STOP_BEFORE_REPLACING");
    if (name != nullptr && *name != '\0' && target.find(name) != std::string::npos) raise(SIGSTOP);
}

bool WriteBesideAndReplace(const std::string& target, const struct stat* old,
                           const std::string& shown, const FileContentWriter& write,
                           std::string* error) {
    std::string tempPath;
    const int fd = CreateBeside(target, old, &tempPath);
    if (fd < 0) {
        const int code = errno;
        if (FolderTakesNoNewFile(code)) return WriteInPlace(target, shown, write, error);
        return Fail(error, shown, ReasonOf(code));
    }
    // Until the rename, the previous file stays whole whatever happens here.
    std::string reason;
    bool replaced = WriteAndSync(fd, write, &reason);
    close(fd);
    if (replaced) StopBeforeReplacingWhenAsked(target);
    if (replaced && std::rename(tempPath.c_str(), target.c_str()) != 0) {
        reason = ReasonOf(errno);
        replaced = false;
    }
    if (!replaced) {
        unlink(tempPath.c_str());
        return Fail(error, shown, reason);
    }
    SyncFolder(FolderOf(target));
    return true;
}

bool AllDigits(const char* text) {
    if (*text == '\0') return false;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') return false;
    }
    return true;
}

// The process ID in a name "<prefix><pid>.<n>"; 0 when the name is not one
// of ours.
pid_t ReplacementOwner(const std::string& name, const std::string& prefix) {
    if (name.compare(0, prefix.size(), prefix) != 0) return 0;
    const std::string rest = name.substr(prefix.size());
    const size_t dot = rest.find('.');
    if (dot == std::string::npos || dot > 9) return 0;  // more digits than any process ID
    const std::string pid = rest.substr(0, dot);
    if (!AllDigits(pid.c_str()) || !AllDigits(rest.c_str() + dot + 1)) return 0;
    return static_cast<pid_t>(std::strtol(pid.c_str(), nullptr, 10));
}

// A process that exists but belongs to another user still runs.
bool ProcessRuns(pid_t pid) { return kill(pid, 0) == 0 || errno != ESRCH; }

}  // namespace

bool ReplaceFileContentW(const wchar_t* path, const FileContentWriter& write, std::string* error) {
    const std::string shown = kvel_common_detail::NarrowPath(path);
    if (shown.empty() || !write) return Fail(error, shown, "no file or no content given");
    const std::string target = ResolveLink(shown);
    struct stat old {};
    const bool exists = stat(target.c_str(), &old) == 0;
    int code = 0;
    if (exists && MayNotWrite(target, &code)) return Fail(error, shown, ReasonOf(code));
    return WriteBesideAndReplace(target, exists ? &old : nullptr, shown, write, error);
}

void RemoveStaleReplacementsW(const wchar_t* path) {
    const std::string target = ResolveLink(kvel_common_detail::NarrowPath(path));
    if (target.empty()) return;
    const std::string folder = FolderOf(target);
    const std::string prefix = NameOf(target) + kReplacementMark;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = readdir(dir)) {
        const pid_t owner = ReplacementOwner(entry->d_name, prefix);
        if (owner == 0 || ProcessRuns(owner)) continue;
        const std::string leftover = folder + "/" + entry->d_name;
        struct stat info {};
        if (lstat(leftover.c_str(), &info) == 0 && S_ISREG(info.st_mode)) unlink(leftover.c_str());
    }
    closedir(dir);
}

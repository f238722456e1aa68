#include "settings/AppConfig.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/KVEL_Common.h"

XMLParser gAppConfig;

namespace {

std::wstring SettingsFilePath() {
    wchar_t folder[KVEL_MAX_PATH] = {};
    wchar_t path[KVEL_MAX_PATH] = {};
    if (!GetOwnProgramPathW(folder)) return {};
    if (!CombinePathNameW(path, folder, AnsiToWide(app_config::kFileName).c_str())) return {};
    return path;
}

// When the settings file is a symbolic link, the new content replaces the
// file it points to, so the link itself stays in place.
std::string ResolveTarget(const std::string& path) {
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

// A file beside the target that no other save (of this or another process)
// uses, so the folder and the file system are the same as the target's.
// Created with the usual permissions (umask applies) or those of the file
// it replaces.
int CreateTemporaryBeside(const std::string& target, std::string* tempPath) {
    static std::atomic<unsigned> counter{0};
    mode_t mode = 0666;
    struct stat info {};
    const bool keepMode = stat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    if (keepMode) mode = info.st_mode & 07777;
    for (int attempt = 0; attempt < 100; ++attempt) {
        *tempPath = target + ".~" + std::to_string(getpid()) + "." + std::to_string(counter++);
        const int fd = open(tempPath->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (keepMode) (void)fchmod(fd, mode);
            return fd;
        }
        if (errno != EEXIST) break;
    }
    tempPath->clear();
    return -1;
}

// The stream was closed by SaveToFile; the data reach the disk by syncing
// the file through a fresh descriptor (a sync covers the file, not the
// descriptor it was written through).
bool SyncFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

// Makes the rename itself durable. A folder that refuses to sync is no
// reason to report the save as failed: the new file is already in place.
void SyncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)fsync(fd);
    close(fd);
}

}  // namespace

bool SaveAppConfig() {
    const std::wstring path = SettingsFilePath();
    return !path.empty() && SaveAppConfigTo(path);
}

bool SaveAppConfigTo(const std::wstring& path) {
    if (path.empty()) return false;
    const std::string target = ResolveTarget(WideToAnsi(path));
    std::string tempPath;
    const int fd = CreateTemporaryBeside(target, &tempPath);
    if (fd < 0) return false;
    FILE* stream = fdopen(fd, "wb");
    if (stream == nullptr) {
        close(fd);
        unlink(tempPath.c_str());
        return false;
    }
    // Until the rename, the previous file stays whole whatever happens here.
    const bool written = gAppConfig.SaveToFile(stream) && SyncFile(tempPath);
    if (!written || std::rename(tempPath.c_str(), target.c_str()) != 0) {
        unlink(tempPath.c_str());
        return false;
    }
    SyncFolder(FolderOf(target));
    return true;
}

XMLNode AppConfigElement() { return gAppConfig.GetRoot().FindChild(app_config::kRootElement); }

XMLNode AppConfigSection(const char* name) { return AppConfigElement().FindOrAddChild(name); }

void LoadAppConfigAtStartup() {
    const std::wstring path = SettingsFilePath();
    if (!path.empty()) {
        uint8_t* data = nullptr;
        const size_t size = ReadFileDataW(path.c_str(), &data);
        if (data != nullptr) {
            gAppConfig.LoadFromMemory(data, size);
            ReleaseFileData(data);
        }
    }
    if (!AppConfigElement()) {
        gAppConfig.GetRoot().AddChild(app_config::kRootElement);
        SaveAppConfig();
    }
}

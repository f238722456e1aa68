// Running part of a test under restrictions that bind the way they bind a
// user's program. Tests often run as root, who ignores permission bits, so
// the part that needs a read-only file or folder runs in a forked child that
// gives up root first; a file size limit stands in for a full disk.
#pragma once

#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

namespace restricted_run {

// Whom the child becomes when the test runs as root.
constexpr uid_t kUser = 65534;
constexpr gid_t kGroup = 65534;
// The child's exit code when it could not give up root.
constexpr int kCannotDropRoot = 125;

// Makes `path` the child's own when the test runs as root, the way a user's
// files are his own; otherwise they are already.
inline void GiveToChild(const std::string& path) {
    if (geteuid() == 0) (void)chown(path.c_str(), kUser, kGroup);
}

// Runs `work` in a child process without root and returns its exit code
// (work's result, kCannotDropRoot, or -1 when the child did not end by
// itself). Results between 0 and 124 come through unchanged.
inline int AsUser(const std::function<int()>& work) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(kGroup) != 0 || setuid(kUser) != 0)) {
            _exit(kCannotDropRoot);
        }
        _exit(work());
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Runs `work` while no file may grow past `bytes`, so a write fails part-way
// as on a full disk; the limit binds root as well. The signal it raises is
// ignored meanwhile so that the write reports the error instead. False
// (and `work` not run) when the limit cannot be set.
inline bool WithFileSizeLimit(rlim_t bytes, const std::function<void()>& work) {
    struct rlimit saved {};
    if (getrlimit(RLIMIT_FSIZE, &saved) != 0) return false;
    struct rlimit limited = saved;
    limited.rlim_cur = bytes;
    void (*previousHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    if (setrlimit(RLIMIT_FSIZE, &limited) != 0) {
        signal(SIGXFSZ, previousHandler);
        return false;
    }
    work();
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previousHandler);
    return true;
}

// The ID of a process that has ended: a child that did nothing.
inline pid_t EndedProcess() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

}  // namespace restricted_run

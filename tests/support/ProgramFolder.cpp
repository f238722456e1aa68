#include "ProgramFolder.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <system_error>

extern char** environ;

namespace fs = std::filesystem;

namespace {

// Set in the environment of the copy: the copy never relaunches, and it
// lists what was copied beside the program (names separated by '/', which
// no file name contains).
constexpr const char* kCopyMarker = "KVEL_TEST_PROGRAM_FOLDER_COPY";

fs::path RunningProgram() {
    std::error_code error;
    fs::path exe = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : exe;
}

fs::path TemporaryRoot() {
    const char* tmp = std::getenv("TMPDIR");
    return (tmp != nullptr && *tmp != '\0') ? fs::path(tmp) : fs::path("/tmp");
}

// Tests may leave folders without write permission behind; open them up so
// that everything can be deleted also by a user who is not root.
void MakeWritable(const fs::path& folder) {
    std::error_code error;
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, error);
    for (fs::recursive_directory_iterator
             it(folder, fs::directory_options::skip_permission_denied, error),
         end;
         !error && it != end; it.increment(error)) {
        if (it->is_directory(error) && !it->is_symlink(error)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
        }
    }
}

void RemoveTree(const fs::path& path) {
    std::error_code error;
    if (fs::is_directory(fs::symlink_status(path, error))) MakeWritable(path);
    fs::remove_all(path, error);
    if (error)
        std::fprintf(stderr, "ProgramFolder: could not remove %s: %s\n", path.c_str(),
                     error.message().c_str());
}

bool CopyInto(const fs::path& source, const fs::path& folder, std::string* failure) {
    std::error_code error;
    const fs::path target = folder / source.filename();
    if (fs::is_directory(source, error)) {
        fs::copy(source, target, fs::copy_options::recursive, error);
    } else {
        fs::copy_file(source, target, fs::copy_options::overwrite_existing, error);
    }
    if (error) *failure = "cannot copy " + source.string() + ": " + error.message();
    return !error;
}

// The environment of the copy: the caller's plus the marker.
std::vector<std::string> CopyEnvironment(const std::string& copiedNames) {
    std::vector<std::string> env;
    const std::string prefix = std::string(kCopyMarker) + "=";
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, prefix.c_str(), prefix.size()) != 0) env.emplace_back(*entry);
    }
    env.push_back(prefix + copiedNames);
    return env;
}

std::vector<char*> PointerList(std::vector<std::string>& texts) {
    std::vector<char*> list;
    for (std::string& text : texts) list.push_back(text.data());
    list.push_back(nullptr);
    return list;
}

// While the copy runs, an interrupt or termination aimed at this process
// is passed on to it, so the copy can end and the folder still be removed.
volatile sig_atomic_t gChildPid = 0;

void ForwardSignal(int signalNumber) {
    if (gChildPid > 0) kill(static_cast<pid_t>(gChildPid), signalNumber);
}

class SignalForwarding {
public:
    SignalForwarding() {
        struct sigaction action {};
        action.sa_handler = ForwardSignal;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < kCount; ++i) sigaction(kSignals[i], &action, &m_previous[i]);
    }
    ~SignalForwarding() {
        for (size_t i = 0; i < kCount; ++i) sigaction(kSignals[i], &m_previous[i], nullptr);
    }
    SignalForwarding(const SignalForwarding&) = delete;
    SignalForwarding& operator=(const SignalForwarding&) = delete;

    // Between the fork and the moment the copy's ID is known, a signal
    // would find no copy to pass it on to and be lost: it is held back
    // meanwhile and delivered on Release.
    void Hold() {
        sigset_t forwarded;
        sigemptyset(&forwarded);
        for (int signalNumber : kSignals) sigaddset(&forwarded, signalNumber);
        sigprocmask(SIG_BLOCK, &forwarded, &m_previousMask);
    }
    void Release() { sigprocmask(SIG_SETMASK, &m_previousMask, nullptr); }

private:
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    static constexpr size_t kCount = sizeof kSignals / sizeof kSignals[0];
    struct sigaction m_previous[kCount] {};
    sigset_t m_previousMask{};
};

int ExitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) {
        std::fprintf(stderr, "ProgramFolder: the test program copy was ended by signal %d (%s)\n",
                     WTERMSIG(status), strsignal(WTERMSIG(status)));
        return 128 + WTERMSIG(status);
    }
    return 1;
}

int RunCopy(const fs::path& program, int argc, char** argv, const std::string& copiedNames) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.emplace_back(argv[i]);
    if (args.empty()) args.push_back(program.string());
    std::vector<std::string> env = CopyEnvironment(copiedNames);
    std::vector<char*> argList = PointerList(args);
    std::vector<char*> envList = PointerList(env);

    std::fflush(nullptr);  // nothing buffered may be written twice
    SignalForwarding forwarding;
    forwarding.Hold();
    const pid_t child = fork();
    if (child < 0) {
        forwarding.Release();
        std::perror("ProgramFolder: fork");
        return 1;
    }
    if (child == 0) {
        forwarding.Release();  // the mask would outlive the exec
        execve(program.c_str(), argList.data(), envList.data());
        std::perror("ProgramFolder: execve");
        _exit(127);
    }
    gChildPid = child;
    forwarding.Release();
    int status = 0;
    pid_t waited;
    do {
        waited = waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    gChildPid = 0;
    if (waited < 0) {
        std::perror("ProgramFolder: waitpid");
        return 1;
    }
    return ExitCodeOf(status);
}

std::set<std::string> KeptNames() {
    std::set<std::string> names;
    const char* listed = std::getenv(kCopyMarker);
    std::stringstream stream(listed != nullptr ? listed : "");
    for (std::string name; std::getline(stream, name, '/');) {
        if (!name.empty()) names.insert(name);
    }
    names.insert(RunningProgram().filename().string());
    return names;
}

}  // namespace

bool RelaunchFromProgramFolderCopy(int argc, char** argv, int* exitCode,
                                   const std::vector<std::string>& alsoCopy) {
    if (std::getenv(kCopyMarker) != nullptr) return false;
    int ignored = 0;
    if (exitCode == nullptr) exitCode = &ignored;
    *exitCode = 1;

    const fs::path program = RunningProgram();
    std::string pattern = (TemporaryRoot() / "kvel-test-XXXXXX").string();
    if (program.empty() || mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "ProgramFolder: cannot make a temporary program folder: %s\n",
                     std::strerror(errno));
        return true;
    }
    const fs::path folder = pattern;

    std::string failure;
    std::string copiedNames;
    bool copied = CopyInto(program, folder, &failure);
    for (const std::string& file : alsoCopy) {
        if (!copied) break;
        copied = CopyInto(fs::path(file), folder, &failure);
        copiedNames += fs::path(file).filename().string() + "/";
    }
    if (copied) {
        *exitCode = RunCopy(folder / program.filename(), argc, argv, copiedNames);
    } else {
        std::fprintf(stderr, "ProgramFolder: %s\n", failure.c_str());
    }
    RemoveTree(folder);
    return true;
}

std::string TestProgramFolder() { return RunningProgram().parent_path().string(); }

void ResetTestProgramFolder() {
    // Only ever inside a copy: the real program's folder is the build tree.
    if (std::getenv(kCopyMarker) == nullptr) return;
    const fs::path folder = RunningProgram().parent_path();
    if (folder.empty()) return;
    const std::set<std::string> kept = KeptNames();
    std::error_code error;
    std::vector<fs::path> doomed;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        if (kept.count(entry.path().filename().string()) == 0) doomed.push_back(entry.path());
    }
    for (const fs::path& path : doomed) RemoveTree(path);
}

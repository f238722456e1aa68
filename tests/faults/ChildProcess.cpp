#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

extern char** environ;

namespace fault_test {
namespace {

using Clock = std::chrono::steady_clock;
// How often a wait for a state no descriptor announces looks again.
constexpr std::chrono::milliseconds kLookAgain{2};

// Starts the program with its standard output (and, when `err` is given,
// its standard error) on pipes; -1 when it could not be started.
pid_t Spawn(const std::string& program, const std::vector<std::string>& arguments, int* out,
            int* err, const std::vector<std::string>& environment = {}) {
    int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
    if (pipe2(outPipe, O_CLOEXEC) != 0 || (err && pipe2(errPipe, O_CLOEXEC) != 0)) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    if (err) posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** variable = environ; *variable; ++variable) envp.push_back(*variable);
    for (const std::string& variable : environment)
        envp.push_back(const_cast<char*>(variable.c_str()));
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    *out = outPipe[0];
    if (err) {
        close(errPipe[1]);
        *err = errPipe[0];
    }
    return pid;
}

int Remaining(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

int ExitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

}  // namespace

ChildResult RunChild(const std::string& program, const std::vector<std::string>& arguments,
                     std::chrono::milliseconds bound) {
    ChildResult result;
    const auto start = Clock::now();
    const auto deadline = start + bound;
    int out = -1, err = -1;
    const pid_t pid = Spawn(program, arguments, &out, &err);
    if (pid < 0) return result;
    pollfd streams[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    std::string* texts[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        const int ready = poll(streams, 2, Remaining(deadline));
        if (ready == 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (streams[i].fd < 0 || streams[i].revents == 0) continue;
            char block[4096];
            const ssize_t n = read(streams[i].fd, block, sizeof block);
            if (n > 0) {
                texts[i]->append(block, static_cast<size_t>(n));
            } else {
                close(streams[i].fd);
                streams[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& stream : streams)
        if (stream.fd >= 0) close(stream.fd);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = result.timedOut ? -1 : ExitCodeOf(status);
    result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    return result;
}

Child::Child(const std::string& program, const std::vector<std::string>& arguments,
             const std::vector<std::string>& environment) {
    m_pid = Spawn(program, arguments, &m_out, nullptr, environment);
}

Child::Child(const std::function<int()>& body) {
    std::fflush(nullptr);
    m_pid = fork();
    if (m_pid == 0) _exit(body());
}

Child::~Child() { Kill(); }

std::string Child::FirstLine(std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    for (;;) {
        const size_t end = m_pending.find('\n');
        if (end != std::string::npos) {
            std::string line = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            return line;
        }
        pollfd stream{m_out, POLLIN, 0};
        if (poll(&stream, 1, Remaining(deadline)) <= 0) return "";
        char block[512];
        const ssize_t n = read(m_out, block, sizeof block);
        if (n <= 0) return "";
        m_pending.append(block, static_cast<size_t>(n));
    }
}

bool Child::WaitForStop(std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    while (m_pid > 0) {
        int status = 0;
        const pid_t seen = waitpid(m_pid, &status, WNOHANG | WUNTRACED);
        if (seen == m_pid && WIFSTOPPED(status)) return true;
        if (seen == m_pid) {
            m_pid = -1;
            return false;
        }
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kLookAgain);
    }
    return false;
}

void Child::Terminate(std::chrono::milliseconds bound) {
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    const auto deadline = Clock::now() + bound;
    while (Clock::now() < deadline) {
        if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            break;
        }
        std::this_thread::sleep_for(kLookAgain);
    }
    Kill();
}

void Child::Kill() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    if (m_out >= 0) close(m_out);
    m_out = -1;
}

}  // namespace fault_test

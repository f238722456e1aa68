// Programs of the build run as child processes, with a bound: a child that
// outlives it is killed, so a hang fails its case instead of the suite.
#pragma once

#include <sys/types.h>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace fault_test {

struct ChildResult {
    int exitCode = -1;      // -1 when it did not exit by itself
    bool timedOut = false;  // killed at the bound
    std::string out;
    std::string err;
    std::chrono::milliseconds elapsed{0};
};

// Runs `program` with `arguments` to its end or to `bound`, collecting both
// output streams.
ChildResult RunChild(const std::string& program, const std::vector<std::string>& arguments,
                     std::chrono::milliseconds bound);

// A child that keeps running while the test works with it; SIGKILLed (and
// reaped) when the object goes, unless it ended before.
class Child {
public:
    // `environment` ("NAME=value") is added to the test's own.
    Child(const std::string& program, const std::vector<std::string>& arguments,
          const std::vector<std::string>& environment = {});
    // A copy of the test process that runs `body` and exits with its result.
    explicit Child(const std::function<int()>& body);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Started() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }
    // The first line of its standard output, or "" when none came in time.
    std::string FirstLine(std::chrono::milliseconds bound);
    // Waits until the child stops itself (SIGSTOP) or ends; true when it
    // stopped.
    bool WaitForStop(std::chrono::milliseconds bound);
    // Asks it to end (SIGTERM) and waits; SIGKILL after `bound`.
    void Terminate(std::chrono::milliseconds bound);
    void Kill();  // SIGKILL, then reaped

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_pending;
};

}  // namespace fault_test

// radar-cli entry point: the command line, and Ctrl+C ending a stream,
// a capture or a replay.
#include <signal.h>

#include <atomic>
#include <string>
#include <vector>

#include "Commands.h"

namespace {

std::atomic<int> gStop{0};
static_assert(std::atomic<int>::is_always_lock_free, "the stop flag is set from a signal handler");

void OnInterrupt(int) { gStop.store(1); }

void CatchInterrupts() {
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a waiting read returns early
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    CatchInterrupts();
    const std::vector<std::string> args(argv + 1, argv + argc);
    return radarcli::Run(args, stdout, stderr, &gStop);
}

// radar-cli: the module's functions from the command line, on the same
// libraries as the tool. Kept apart from main() so that it can be run
// in-process with its own output streams and stop flag.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

namespace radarcli {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitNotConnected = 1;  // no such port, it could not be opened, or the line went away
constexpr int kExitNoAnswer = 2;      // the module did not answer
constexpr int kExitFileError = 3;     // a parameter or raw file could not be read or written
constexpr int kExitRefused = 4;       // the module answered, refusing the command
constexpr int kExitDiffers = 5;       // what the module holds differs (params diff, --verify)
constexpr int kExitUsage = 64;

// Runs one command line (without the program name). Results go to `out`,
// messages to `err`. Setting *stop ends a running stream, capture or replay
// cleanly.
int Run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
        const std::atomic<int>* stop);

}  // namespace radarcli

// One command on several modules at once: a session and a thread per
// module, nothing shared between them but the output, which reaches the
// terminal whole line by line, each line prefixed by its port.
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "CommandLine.h"

namespace radarcli {

// Runs one module's command with the given options (its port set) and
// output streams; returns its exit code.
using ModuleCommand = std::function<int(const Options& options, std::FILE* out, std::FILE* err)>;

// How the modules' output is gathered.
enum class ModuleOutput {
    Lines,       // each module's lines as they come, prefixed by its port
    Collected,   // kept for the JSON summary, each module's stdout as a JSON document
    TextInJson,  // kept for the JSON summary, each module's stdout as its lines
};

// Runs `command` on the ports the options name (a list, every port whose
// module answers, or the one port), one thread each. Prints one closing
// line per module and a summary, or the JSON summary; returns 0 when every
// module succeeded, else the exit code of the first module, in the order
// given, that failed.
int RunOnModules(const Options& options, const std::string& commandWords, ModuleOutput output,
                 const ModuleCommand& command, std::FILE* out, std::FILE* err);

// The listed ports on which a module answers (takes command mode) at
// `baud`, probed at once; each port left out is named on `err`, with why.
std::vector<int> AnsweringPorts(int baud, std::FILE* err);

}  // namespace radarcli

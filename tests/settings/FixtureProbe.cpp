#include "FixtureProbe.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "ProgramFolder.h"

namespace {

bool TakeValue(const char* argument, const char* option, std::string* value) {
    const size_t length = std::strlen(option);
    if (std::strncmp(argument, option, length) != 0) return false;
    *value = argument + length;
    return true;
}

// The folder the copy runs in and what it holds, one name a line; written
// to a temporary name first so a reader never sees half of it.
void WriteReport(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(TestProgramFolder())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    {
        std::ofstream out(path + ".part");
        out << TestProgramFolder() << "\n";
        for (const std::string& name : names) out << name << "\n";
    }
    std::filesystem::rename(path + ".part", path);
}

}  // namespace

std::string FixtureProbeDataFile() { return KVEL_FIXTURE_PROBE_FILE; }

bool RunFixtureProbe(int argc, char** argv, int* exitCode) {
    std::string value;
    for (int i = 1; i < argc; ++i) {
        if (TakeValue(argv[i], "--probe-exit=", &value)) {
            *exitCode = std::atoi(value.c_str());
            return true;
        }
        if (std::strcmp(argv[i], "--probe-abort") == 0) std::abort();
        if (TakeValue(argv[i], "--probe-report=", &value)) {
            WriteReport(value);
            *exitCode = 0;
            return true;
        }
        if (TakeValue(argv[i], "--probe-report-and-wait=", &value)) {
            WriteReport(value);
            for (;;) pause();
        }
    }
    return false;
}

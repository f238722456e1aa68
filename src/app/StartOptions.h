// The tool's command line: which port to select at start, whether to connect
// at once, and the answers to --help and --version. Window-free: it is read
// before anything else happens, the settings file included.
#pragma once

#include <QStringList>

struct StartOptions {
    int port = 0;          // the port to select ("7" or "COM7"); 0 when none was named
    bool connect = false;  // press Connect once the window is up
};

// The outcome of reading the command line.
struct StartCommandLine {
    StartOptions options;
    bool run = true;  // false: the program ends at once with exitCode
    int exitCode = 0;
};

// Reads the arguments (program name first). --help and --version print to
// standard output and end the program with 0; a wrong argument prints the
// reason and the usage to standard error and ends it with 64.
StartCommandLine ReadStartCommandLine(const QStringList& arguments);

// What the settings test program does when it is started by the program-
// folder fixture tests instead of running its tests: small, observable
// behaviours of a relaunched copy.
#pragma once

#include <string>

// A file the test program copies along when it relaunches itself.
std::string FixtureProbeDataFile();
// Handles the probe arguments; true (with *exitCode) when one was given.
bool RunFixtureProbe(int argc, char** argv, int* exitCode);

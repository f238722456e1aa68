// Tests that read or write files next to the program (appConfig.xml, Log/)
// run from a temporary copy of the program: the test binary copies itself
// and the given files into a fresh folder and runs again from there, so the
// program's folder is that copy and the build tree is never written.
#pragma once

#include <string>
#include <vector>

// Call first in main(). In the original process: makes the copy, runs it
// with the same arguments, sets *exitCode to its result and returns true
// (main returns *exitCode). In the copy: returns false at once.
bool RelaunchFromProgramFolderCopy(int argc, char** argv, int* exitCode,
                                   const std::vector<std::string>& alsoCopy = {});
// The folder of the running test program (the copy).
std::string TestProgramFolder();
// Deletes appConfig.xml, Log/ and every other file of the folder except the
// program itself and what was copied with it.
void ResetTestProgramFolder();

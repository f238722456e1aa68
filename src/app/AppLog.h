#pragma once
#include <cstdint>
#include <cstdio>
// Opens the run's log file in "Log" in the logs folder (next to the program unless it is read-only), registers LogWriteCallback with it and sets the line decoration (no tag, time type 1, no PID/TID). Returns the stream, or nullptr when the folder or file cannot be made (the callback is still registered and writes nothing).
FILE* OpenAppLog();
// Unregisters the callback, then closes the stream if one is open and sets *stream to nullptr.
void CloseAppLog(FILE** stream);
int LogWriteCallback(void* user, intptr_t reserved, const char* text, int length);

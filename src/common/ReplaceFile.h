// Replacing a file's whole content so that a failed or interrupted write
// never leaves it half written: the new content goes to a file beside it
// ("<name>.~<pid>.<n>"), which then takes the old one's place in one step.
// The settings file and the parameter files are saved through here.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

// Writes the whole content to the stream it is given and closes the stream
// in every case (as XMLParser::SaveToFile does); true when all was written.
using FileContentWriter = std::function<bool(std::FILE* stream)>;

// Replaces the content of the file at `path` with what `write` produces.
// - A file the process may not write is left untouched.
// - When the folder takes no new file (a read-only folder), the file is
//   written in place instead, which a failure can leave half written.
// - A symbolic link stays in place; the file it points to is replaced, and
//   the new file keeps the old one's permissions and, where allowed, owner.
// False with a reason in *error (when given) if the content did not reach
// the file.
bool ReplaceFileContentW(const wchar_t* path, const FileContentWriter& write, std::string* error);

// Deletes what saves through ReplaceFileContentW left beside `path` when
// their process died between writing and replacing. Files of processes that
// still run are theirs and stay.
void RemoveStaleReplacementsW(const wchar_t* path);

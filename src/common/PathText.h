// Helpers shared by the path and file functions: wide path text to the
// narrow (UTF-8) form the system calls take, and bounded copies into the
// fixed-size path buffers.
#pragma once

#include <cwchar>
#include <string>
#include <string_view>

#include "common/KVEL_Common.h"

namespace kvel_common_detail {

inline std::string NarrowPath(const wchar_t* path) {
    return path ? WideToAnsi(std::wstring_view(path)) : std::string();
}

// Copies `text` into `out` (capacity chars including the zero). A text that
// does not fit leaves `out` empty and returns false.
inline bool CopyBounded(wchar_t* out, size_t capacity, std::wstring_view text) {
    if (!out || capacity == 0) return false;
    if (text.size() + 1 > capacity) {
        out[0] = L'\0';
        return false;
    }
    std::wmemmove(out, text.data(), text.size());
    out[text.size()] = L'\0';
    return true;
}

// Length of a wide text, looking at no more than `limit` characters.
inline size_t BoundedLength(const wchar_t* text, size_t limit) {
    size_t n = 0;
    while (n < limit && text[n] != L'\0') ++n;
    return n;
}

}  // namespace kvel_common_detail

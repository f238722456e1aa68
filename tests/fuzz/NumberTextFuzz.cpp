// Numbers read from text, as settings and parameter files hand them over,
// for every type a caller reads: nothing may overflow or read past the text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/KVEL_Common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::wstring wide = AnsiToWide(text);
    // 2: 16-bit, 5: 32-bit signed, 6: 32-bit unsigned, 10: double.
    for (int type : {2, 5, 6, 10}) {
        alignas(8) unsigned char value[8] = {};
        DigtalStringToValue(text.c_str(), -1, value, type);
        DigtalStringToValue(text.data(), static_cast<int>(size), value, type);
        DigtalStringToValue(wide.c_str(), -1, value, type);
        DigtalStringToValue(wide.data(), static_cast<int>(wide.size()), value, type);
    }
    return 0;
}

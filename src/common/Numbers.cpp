// Number parsing for parameter files, typed text and protocol fields.
// Locale-independent: the GUI may switch the C locale, the files must not
// change meaning with it.
#include <locale.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "common/KVEL_Common.h"

namespace {

enum ValueType { kFlag = 2, kInt32 = 5, kUInt32 = 6, kDouble = 10 };

bool IsBlank(char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n'; }
bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

int HexDigit(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return -1;
}

struct Cursor {
    const std::string& text;
    size_t pos = 0;
    char Peek(size_t ahead = 0) const {
        return pos + ahead < text.size() ? text[pos + ahead] : '\0';
    }
};

bool HasHexPrefix(const Cursor& c) {
    return c.Peek() == '0' && (c.Peek(1) == 'x' || c.Peek(1) == 'X') && HexDigit(c.Peek(2)) >= 0;
}

// Reads the digits of an unsigned magnitude; saturates at UINT64_MAX.
// Returns false when no digit is there.
bool ReadMagnitude(Cursor& c, uint64_t& magnitude) {
    const bool hex = HasHexPrefix(c);
    const uint64_t base = hex ? 16 : 10;
    if (hex) c.pos += 2;
    size_t digits = 0;
    magnitude = 0;
    bool saturated = false;
    for (;; ++c.pos, ++digits) {
        const int d = hex ? HexDigit(c.Peek()) : (IsDigit(c.Peek()) ? c.Peek() - '0' : -1);
        if (d < 0) break;
        if (saturated) continue;
        if (magnitude > (std::numeric_limits<uint64_t>::max() - static_cast<uint64_t>(d)) / base) {
            magnitude = std::numeric_limits<uint64_t>::max();
            saturated = true;
        } else {
            magnitude = magnitude * base + static_cast<uint64_t>(d);
        }
    }
    return digits > 0;
}

int32_t ToInt32(bool negative, uint64_t magnitude) {
    if (negative) {
        if (magnitude >= 0x80000000ull) return std::numeric_limits<int32_t>::min();
        return -static_cast<int32_t>(magnitude);
    }
    if (magnitude > 0x7FFFFFFFull) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(magnitude);
}

// strtoul on a 32-bit unsigned: a '-' negates modulo 2^32; a magnitude out
// of range gives the maximum whatever the sign.
uint32_t ToUInt32(bool negative, uint64_t magnitude) {
    if (magnitude > 0xFFFFFFFFull) return std::numeric_limits<uint32_t>::max();
    const auto value = static_cast<uint32_t>(magnitude);
    return negative ? static_cast<uint32_t>(0u - value) : value;
}

locale_t CLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

// Decimal floating text from the cursor (the sign already taken).
bool ReadDecimalDouble(Cursor& c, double& value) {
    if (!IsDigit(c.Peek()) && !(c.Peek() == '.' && IsDigit(c.Peek(1)))) return false;
    const char* start = c.text.c_str() + c.pos;
    char* end = nullptr;
    value = strtod_l(start, &end, CLocale());
    if (end == start) return false;
    c.pos += static_cast<size_t>(end - start);
    if (std::isinf(value)) value = DBL_MAX;  // saturate like the integers
    return true;
}

bool Parse(const std::string& text, void* target, int type) {
    if (!target) return false;
    if (type != kFlag && type != kInt32 && type != kUInt32 && type != kDouble) return false;
    Cursor c{text};
    while (IsBlank(c.Peek())) ++c.pos;
    bool negative = false;
    if (c.Peek() == '+' || c.Peek() == '-') {
        negative = c.Peek() == '-';
        ++c.pos;
    }
    if (type == kDouble && !HasHexPrefix(c)) {
        double value = 0;
        if (!ReadDecimalDouble(c, value)) return false;
        *static_cast<double*>(target) = negative ? -value : value;
        return true;
    }
    uint64_t magnitude = 0;
    if (!ReadMagnitude(c, magnitude)) return false;
    switch (type) {
        case kFlag:
            *static_cast<int32_t*>(target) = magnitude != 0 ? 1 : 0;
            break;
        case kInt32:
            *static_cast<int32_t*>(target) = ToInt32(negative, magnitude);
            break;
        case kUInt32:
            *static_cast<uint32_t*>(target) = ToUInt32(negative, magnitude);
            break;
        default: {
            const double value = static_cast<double>(magnitude);
            *static_cast<double*>(target) = negative ? -value : value;
        }
    }
    return true;
}

template <typename Char>
std::string Window(const Char* text, int length) {
    std::string out;
    if (!text) return out;
    for (size_t i = 0; (length < 0 || i < static_cast<size_t>(length)) && text[i] != 0; ++i) {
        const auto code = static_cast<uint32_t>(text[i]);
        // Anything outside ASCII cannot belong to a number; keep it as a
        // character that stops the parse.
        out += code < 0x80 ? static_cast<char>(code) : '\x7F';
    }
    return out;
}

}  // namespace

bool DigtalStringToValue(const char* text, int length, void* target, int type) {
    return Parse(Window(reinterpret_cast<const unsigned char*>(text), length), target, type);
}

bool DigtalStringToValue(const wchar_t* text, int length, void* target, int type) {
    return Parse(Window(text, length), target, type);
}

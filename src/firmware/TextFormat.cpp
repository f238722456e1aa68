#include "firmware/TextFormat.h"

#include <cstdio>

namespace {

struct Conversion {
    std::string written;  // as the text has it: "%08x", "%.2f", ...
    char kind = 0;        // d, x, f or s; 0 when the text does not hold one here
    size_t length = 0;
};

Conversion ReadConversion(const std::string& format, size_t at) {
    size_t end = at + 1;
    while (end < format.size() &&
           (format[end] == '.' || (format[end] >= '0' && format[end] <= '9')))
        ++end;
    if (end >= format.size()) return {};
    const char kind = format[end];
    if (kind != 'd' && kind != 'x' && kind != 'f' && kind != 's') return {};
    return {format.substr(at, end - at + 1), kind, end - at + 1};
}

std::string Convert(const Conversion& conversion, const TextArgument& argument) {
    char buffer[64];
    if (conversion.kind == 's') {
        const auto* text = std::get_if<std::string>(&argument);
        return text ? *text : conversion.written;
    }
    const std::string head = conversion.written.substr(0, conversion.written.size() - 1);
    if (conversion.kind == 'f') {
        const auto* value = std::get_if<double>(&argument);
        if (!value) return conversion.written;
        std::snprintf(buffer, sizeof buffer, (head + "f").c_str(), *value);
        return buffer;
    }
    const auto* value = std::get_if<int64_t>(&argument);
    if (!value) return conversion.written;
    // %d shows a signed 32-bit value, %x the same bits unsigned, as the
    // table's C form would.
    if (conversion.kind == 'd') {
        std::snprintf(buffer, sizeof buffer, (head + "d").c_str(), static_cast<int32_t>(*value));
    } else {
        std::snprintf(buffer, sizeof buffer, (head + "x").c_str(), static_cast<uint32_t>(*value));
    }
    return buffer;
}

}  // namespace

std::string FormatText(const std::string& format, const std::vector<TextArgument>& arguments) {
    std::string out;
    size_t next = 0;
    for (size_t at = 0; at < format.size(); ++at) {
        if (format[at] != '%') {
            out += format[at];
            continue;
        }
        if (at + 1 < format.size() && format[at + 1] == '%') {
            out += '%';
            ++at;
            continue;
        }
        const Conversion conversion = ReadConversion(format, at);
        if (conversion.kind == 0 || next >= arguments.size()) {
            out += format[at];
            continue;
        }
        out += Convert(conversion, arguments[next++]);
        at += conversion.length - 1;
    }
    return out;
}

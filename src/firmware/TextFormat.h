// Fills the conversions of a string-table text with values. The texts come
// from translated tables, so they are not handed to printf: a conversion the
// table got wrong, or one too many, shows as written instead of reading
// arguments that are not there.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

using TextArgument = std::variant<int64_t, double, std::string>;

// Understands %d, %x, %s, %% and a zero-filled width or a precision before
// d, x and f ("%08x", "%.2f"); values are taken in order.
std::string FormatText(const std::string& format, const std::vector<TextArgument>& arguments);

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "TempFolder.h"
#include "common/KVEL_Common.h"

KVEL_EMBED_FILE_VERSION("9.8.7.6");

namespace {

// The marker is joined to the texts at run time: a literal joined at
// compile time would itself be a version text inside this test program.
std::string Marked(const std::string& text) { return std::string(KVEL_FILE_VERSION_MARKER) + text; }

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(FileVersion, FoundInTheRunningExecutable) {
    wchar_t out[KVEL_MAX_PATH];
    ASSERT_TRUE(GetFileVersionW(L"/proc/self/exe", out, KVEL_MAX_PATH));
    EXPECT_STREQ(out, L"9.8.7.6");
}

TEST(FileVersion, FoundAmongBinaryBytesAndRefusedWhenAbsent) {
    TempFolder temp;
    std::string bytes(100000, '\x90');
    bytes += std::string(KVEL_FILE_VERSION_MARKER) + std::string("\0", 1);  // bare marker: no text
    bytes += std::string(5000, '\0');
    bytes += Marked("2.0.1 beta") + std::string("\0tail", 5);
    WriteFile(temp.File("with"), bytes);
    WriteFile(temp.File("without"), std::string(4096, 'K'));
    WriteFile(temp.File("unterminated"), Marked("1.0"));

    wchar_t out[KVEL_MAX_PATH] = L"junk";
    ASSERT_TRUE(GetFileVersionW(AnsiToWide(temp.File("with")).c_str(), out, KVEL_MAX_PATH));
    EXPECT_STREQ(out, L"2.0.1 beta");

    wcscpy(out, L"junk");
    EXPECT_FALSE(GetFileVersionW(AnsiToWide(temp.File("without")).c_str(), out, KVEL_MAX_PATH));
    EXPECT_STREQ(out, L"");
    EXPECT_FALSE(
        GetFileVersionW(AnsiToWide(temp.File("unterminated")).c_str(), out, KVEL_MAX_PATH));
    EXPECT_FALSE(GetFileVersionW(AnsiToWide(temp.File("missing")).c_str(), out, KVEL_MAX_PATH));

    // A buffer too small for the text is left empty, not overrun.
    wchar_t small[6] = L"xxxxx";
    EXPECT_FALSE(GetFileVersionW(AnsiToWide(temp.File("with")).c_str(), small, 4));
    EXPECT_STREQ(small, L"");
    EXPECT_EQ(small[4], L'x');
}

}  // namespace

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "TempFolder.h"
#include "common/KVEL_Common.h"

namespace {

std::wstring W(const std::string& text) { return AnsiToWide(text); }

// True when `text` has the form of `shape`, where '#' stands for a digit.
bool HasShape(const std::wstring& text, const std::string& shape) {
    if (text.size() != shape.size()) return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        const bool ok = shape[i] == '#' ? (text[i] >= L'0' && text[i] <= L'9')
                                        : text[i] == static_cast<wchar_t>(shape[i]);
        if (!ok) return false;
    }
    return true;
}

TEST(Encoding, RoundTripsAndReplacesMalformedBytes) {
    const std::string text =
        "Gr\xC3\xBC\xC3\x9F"
        "e \xE4\xB8\xAD \xF0\x9F\x98\x80";
    const std::wstring wide = AnsiToWide(text);
    EXPECT_EQ(wide, std::wstring(L"Gr\u00FC\u00DFe \u4E2D \U0001F600"));
    EXPECT_EQ(WideToAnsi(wide), text);
    // A lone continuation byte, a truncated sequence, an overlong form.
    EXPECT_EQ(AnsiToWide("a\x80"
                         "b"),
              L"a\uFFFDb");
    EXPECT_EQ(AnsiToWide("a\xE4\xB8"), L"a\uFFFD");
    EXPECT_EQ(AnsiToWide("\xC0\xAFx"), L"\uFFFDx");
    EXPECT_EQ(WideToAnsi(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
}

TEST(Paths, CombineAllowsTheOutputToBeEitherInput) {
    wchar_t buffer[KVEL_MAX_PATH] = L"/data/logs";
    ASSERT_TRUE(CombinePathNameW(buffer, buffer, L"run.txt"));
    EXPECT_STREQ(buffer, L"/data/logs/run.txt");

    wchar_t name[KVEL_MAX_PATH] = L"config.xml";
    ASSERT_TRUE(CombinePathNameW(name, L"/opt/tool/", name));
    EXPECT_STREQ(name, L"/opt/tool/config.xml");

    wchar_t out[KVEL_MAX_PATH];
    ASSERT_TRUE(CombinePathNameW(out, L"/", L"x"));
    EXPECT_STREQ(out, L"/x");
}

TEST(Paths, CombineRefusesAResultThatDoesNotFit) {
    const std::wstring longFolder(KVEL_MAX_PATH - 5, L'a');
    wchar_t out[KVEL_MAX_PATH + 8];
    std::wmemset(out, L'#', KVEL_MAX_PATH + 8);
    EXPECT_FALSE(CombinePathNameW(out, longFolder.c_str(), L"name.txt"));
    EXPECT_EQ(out[0], L'\0');
    EXPECT_EQ(out[KVEL_MAX_PATH], L'#');  // nothing written past the buffer
    // Exactly fitting: 259 characters plus the terminator.
    const std::wstring folder(KVEL_MAX_PATH - 3, L'b');
    EXPECT_TRUE(CombinePathNameW(out, folder.c_str(), L"c"));
    EXPECT_EQ(std::wcslen(out), KVEL_MAX_PATH - 1);
}

TEST(Paths, ProgramPathIsTheExecutablesFolder) {
    wchar_t out[KVEL_MAX_PATH];
    ASSERT_TRUE(GetProgramPathW(static_cast<uint32_t>(getpid()), out));
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    std::string folder(exe, static_cast<size_t>(n));
    folder.resize(folder.rfind('/'));
    EXPECT_EQ(WideToAnsi(out), folder);
    EXPECT_FALSE(GetProgramPathW(0x7FFFFFF0u, out));
}

TEST(Paths, CreatesNestedFoldersAndTellsWhatExists) {
    TempFolder temp;
    const std::wstring nested = W(temp.File("a/b/c"));
    EXPECT_FALSE(IsFileExistW(nested.c_str()));
    EXPECT_TRUE(RecursiveCreateDirectoryW(nested.c_str()));
    EXPECT_TRUE(IsFileExistW(nested.c_str()));
    EXPECT_TRUE(RecursiveCreateDirectoryW(nested.c_str()));  // already there
    std::ofstream(temp.File("file")) << "x";
    EXPECT_TRUE(IsFileExistW(W(temp.File("file")).c_str()));
    // A file in the way is not a folder.
    EXPECT_FALSE(RecursiveCreateDirectoryW(W(temp.File("file/sub")).c_str()));
    EXPECT_FALSE(IsFileExistW(nullptr));
}

TEST(Paths, NameParts) {
    EXPECT_STREQ(GetFileExtNameW(L"/a.b/picture.JPG"), L"JPG");
    EXPECT_STREQ(GetFileExtNameW(L"/a.b/noext"), L"");
    EXPECT_STREQ(GetFileExtNameW(L"/home/.hidden"), L"");
    EXPECT_STREQ(GetFileExtNameA("archive.tar.gz"), "gz");
    EXPECT_STREQ(GetFileExtNameA(nullptr), "");
    wchar_t out[KVEL_MAX_PATH];
    ASSERT_TRUE(GetFileShortNameW(out, L"/x/y/report.xml"));
    EXPECT_STREQ(out, L"report.xml");
    ASSERT_TRUE(GetFileShortNameW(out, L"plain"));
    EXPECT_STREQ(out, L"plain");
}

TEST(Paths, DateNamesHaveTheStampFormatAndSortByTime) {
    wchar_t out[KVEL_MAX_PATH];
    ASSERT_TRUE(GetFileNameByDateW(out, L"jpg", L"Temp_", L"_x", 0, 1, 0));
    EXPECT_TRUE(HasShape(out, "Temp_########_######_###_x.jpg")) << WideToAnsi(out);
    ASSERT_TRUE(GetFileNameByDateW(out, L".bmp", nullptr, nullptr, 0, 1, 0));
    EXPECT_TRUE(HasShape(out, "########_######_###.bmp")) << WideToAnsi(out);

    // Names made in quick succession still differ and keep their order.
    std::wstring previous;
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(GetFileNameByDateW(out, L"txt", L"p", L"", 0, 1, 0));
        EXPECT_LT(previous, std::wstring(out));
        previous = out;
    }
    const std::wstring longPrefix(KVEL_MAX_PATH, L'p');
    EXPECT_FALSE(GetFileNameByDateW(out, L"txt", longPrefix.c_str(), L"", 0, 1, 0));
    EXPECT_EQ(out[0], L'\0');
}

TEST(Files, ReadsWholeFilesAndReportsMissingOnes) {
    TempFolder temp;
    uint8_t* data = reinterpret_cast<uint8_t*>(1);
    EXPECT_EQ(ReadFileDataW(W(temp.File("missing")).c_str(), &data), 0u);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(ReadFileDataW(W(temp.Path()).c_str(), &data), 0u);  // a folder
    EXPECT_EQ(data, nullptr);

    const std::string contents("abc\0def", 7);
    std::ofstream(temp.File("f"), std::ios::binary) << contents;
    ASSERT_EQ(ReadFileDataW(W(temp.File("f")).c_str(), &data), 7u);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 7), contents);
    EXPECT_EQ(data[7], 0);
    ReleaseFileData(data);

    std::ofstream(temp.File("empty"));
    ASSERT_EQ(ReadFileDataW(W(temp.File("empty")).c_str(), &data), 0u);
    ReleaseFileData(data);
}

}  // namespace

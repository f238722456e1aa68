// Splitting a text into pieces at a set of separator characters, for the
// controls that draw a text line by line. The rules (docs/common.md):
// a '\r' directly before a '\n' separator belongs to the line end and is
// dropped; empty pieces are kept only on request; a separator at the very
// end does not start another, empty piece.
#include <cwchar>
#include <string>
#include <vector>

#include "common/KVEL_CommonDraw.h"

namespace {

struct Piece {
    size_t start;
    size_t length;
};

bool IsSeparator(wchar_t ch, const wchar_t* separators) {
    return separators && ch != L'\0' && std::wcschr(separators, ch) != nullptr;
}

std::vector<Piece> FindPieces(const wchar_t* text, size_t length, const wchar_t* separators,
                              bool keepEmpty, int maxPieces) {
    std::vector<Piece> pieces;
    const bool dropCarriageReturn = IsSeparator(L'\n', separators);
    size_t start = 0;
    for (size_t i = 0; i <= length; ++i) {
        const bool atEnd = i == length;
        // At the limit the rest of the text, unsplit, is the last piece.
        if (!atEnd && maxPieces > 0 && static_cast<int>(pieces.size()) == maxPieces - 1) {
            pieces.push_back({start, length - start});
            return pieces;
        }
        if (!atEnd && !IsSeparator(text[i], separators)) continue;
        size_t end = i;
        if (!atEnd && text[i] == L'\n' && dropCarriageReturn && end > start &&
            text[end - 1] == L'\r')
            --end;
        const bool trailing = atEnd && start == length && length > 0;
        if ((end > start || keepEmpty) && !trailing && !(atEnd && length == 0))
            pieces.push_back({start, end - start});
        start = i + 1;
    }
    return pieces;
}

}  // namespace

wchar_t* DevideStringByCharListW(const wchar_t* text, int length, const wchar_t* separators,
                                 int keepEmpty, int, CPtrArrayCtrl* pieces, int maxPieces) {
    if (!text || !pieces) return nullptr;
    // Never read past a terminator, whatever length was given.
    size_t size = 0;
    while ((length < 0 || size < static_cast<size_t>(length)) && text[size] != L'\0') ++size;
    const std::vector<Piece> found = FindPieces(text, size, separators, keepEmpty != 0, maxPieces);
    if (found.empty()) return nullptr;
    size_t total = 0;
    for (const Piece& p : found) total += p.length + 1;
    auto* block = new wchar_t[total];
    wchar_t* cursor = block;
    for (const Piece& p : found) {
        std::wmemcpy(cursor, text + p.start, p.length);
        cursor[p.length] = L'\0';
        pieces->Add(cursor, -1);
        cursor += p.length + 1;
    }
    return block;
}

void Internal_DelArrayW(wchar_t* block) { delete[] block; }

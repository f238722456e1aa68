// Byte buffer, formatted strings and pointer sequences.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "common/KVEL_Common.h"

// --- CBaseBuffer -----------------------------------------------------------

CBaseBuffer::~CBaseBuffer() { Delete(); }

void CBaseBuffer::Delete() {
    std::free(m_data);
    m_data = nullptr;
    m_avail = 0;
    m_capacity = 0;
}

bool CBaseBuffer::SetBufferSize(size_t size) {
    if (size <= m_capacity) return true;
    auto* grown = static_cast<uint8_t*>(std::realloc(m_data, size));
    if (!grown) return false;
    m_data = grown;
    m_capacity = size;
    return true;
}

bool CBaseBuffer::SetAvailSize(size_t size) {
    if (size > m_capacity) return false;
    m_avail = size;
    return true;
}

bool CBaseBuffer::AppendBuffer(const void* data, size_t size) {
    if (size == 0) return true;
    if (!data) return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    const bool inside = m_data && bytes >= m_data && bytes < m_data + m_capacity;
    const size_t offset = inside ? static_cast<size_t>(bytes - m_data) : 0;
    if (m_avail + size > m_capacity) {
        size_t wanted = m_capacity ? m_capacity : 64;
        while (wanted < m_avail + size) wanted *= 2;
        if (!SetBufferSize(wanted)) return false;
        if (inside) bytes = m_data + offset;  // the storage may have moved
    }
    std::memmove(m_data + m_avail, bytes, size);
    m_avail += size;
    return true;
}

bool CBaseBuffer::SetBuffer(const void* data, size_t size) {
    if (size == 0) {
        m_avail = 0;
        return true;
    }
    if (!data) return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    const bool inside = m_data && bytes >= m_data && bytes < m_data + m_capacity;
    if (inside) {
        // Moving part of the contents to the front: storage stays, the
        // regions may overlap.
        if (bytes + size > m_data + m_capacity) return false;
        std::memmove(m_data, bytes, size);
        m_avail = size;
        return true;
    }
    if (!SetBufferSize(size)) return false;
    std::memcpy(m_data, bytes, size);
    m_avail = size;
    return true;
}

// --- CBaseStringT ------------------------------------------------------------

namespace {

constexpr size_t kMaxFormatted = 64u << 20;

bool FormatInto(std::string& out, const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed < 0) return false;
    std::string text(static_cast<size_t>(needed) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(needed));
    out.swap(text);
    return true;
}

// vswprintf cannot report the length it needs: it fails when the result
// does not fit, so the buffer grows until it does.
bool FormatInto(std::wstring& out, const wchar_t* format, va_list args) {
    for (size_t capacity = 256; capacity <= kMaxFormatted; capacity *= 2) {
        std::wstring text(capacity, L'\0');
        va_list copy;
        va_copy(copy, args);
        const int written = std::vswprintf(text.data(), capacity, format, copy);
        va_end(copy);
        if (written >= 0 && static_cast<size_t>(written) < capacity) {
            text.resize(static_cast<size_t>(written));
            out.swap(text);
            return true;
        }
    }
    return false;
}

}  // namespace

template <typename Char>
bool CBaseStringT<Char>::Format(const Char* format, ...) {
    if (!format) return false;
    va_list args;
    va_start(args, format);
    const bool ok = FormatInto(m_text, format, args);
    va_end(args);
    return ok;
}

template class CBaseStringT<char>;
template class CBaseStringT<wchar_t>;

// --- Pointer sequences -------------------------------------------------------

namespace {

int InsertAt(std::vector<void*>& items, void* item, int index) {
    if (index < 0 || static_cast<size_t>(index) >= items.size()) {
        items.push_back(item);
        return static_cast<int>(items.size() - 1);
    }
    items.insert(items.begin() + index, item);
    return index;
}

bool InRange(const std::vector<void*>& items, int index) {
    return index >= 0 && static_cast<size_t>(index) < items.size();
}

}  // namespace

int CPtrArrayCtrl::Add(void* item, int index) { return InsertAt(m_items, item, index); }

void* CPtrArrayCtrl::GetAt(int index) const {
    return InRange(m_items, index) ? m_items[static_cast<size_t>(index)] : nullptr;
}

bool CPtrArrayCtrl::SetAt(int index, void* item) {
    if (!InRange(m_items, index)) return false;
    m_items[static_cast<size_t>(index)] = item;
    return true;
}

bool CPtrArrayCtrl::RemoveAt(int index) {
    if (!InRange(m_items, index)) return false;
    m_items.erase(m_items.begin() + index);
    return true;
}

int CPtrListCtrl::AddHead(void* item) { return InsertAt(m_items, item, 0); }
int CPtrListCtrl::AddTail(void* item) { return InsertAt(m_items, item, -1); }
int CPtrListCtrl::Add(void* item, int index) { return InsertAt(m_items, item, index); }

void* CPtrListCtrl::GetAt(int index) const {
    return InRange(m_items, index) ? m_items[static_cast<size_t>(index)] : nullptr;
}

bool CPtrListCtrl::RemoveAt(int index) {
    if (!InRange(m_items, index)) return false;
    m_items.erase(m_items.begin() + index);
    return true;
}

void* CPtrListCtrl::RemoveHead() {
    if (m_items.empty()) return nullptr;
    void* item = m_items.front();
    m_items.erase(m_items.begin());
    return item;
}

void* CPtrListCtrl::RemoveTail() {
    if (m_items.empty()) return nullptr;
    void* item = m_items.back();
    m_items.pop_back();
    return item;
}

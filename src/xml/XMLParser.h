// The XML document and node wrapper through which every XML file of the
// program is read and written. Element and attribute names are matched
// without regard to ASCII letter case; texts are narrow (UTF-8).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <pugixml.hpp>

class XMLNode {
public:
    XMLNode() = default;
    explicit XMLNode(pugi::xml_node node) : m_node(node) {}
    virtual ~XMLNode() = default;
    XMLNode(const XMLNode&) = default;
    XMLNode& operator=(const XMLNode&) = default;

    bool IsEmpty() const { return !m_node; }
    explicit operator bool() const { return static_cast<bool>(m_node); }
    pugi::xml_node Node() const { return m_node; }
    const char* GetName() const;

    // The first child element whose name matches, or an empty handle.
    XMLNode FindChild(const char* name) const;
    // FindChild, or a new element appended when this is a document or an
    // element and nothing matches.
    XMLNode FindOrAddChild(const char* name) const;
    // Appends a new element child (at the end) unconditionally.
    XMLNode AddChild(const char* name) const;

    // The value of the first matching attribute; "" for an attribute
    // without value; nullptr ("no text") when missing or on an empty handle.
    const char* GetAttribute(const char* name) const;
    // Sets (appending when missing) the attribute on an element or a
    // declaration; anything else is left alone.
    void SetAttribute(const char* name, const char* text) const;
    void SetAttributeInt(const char* name, int64_t value) const;   // "%lld"
    void SetAttributeHex(const char* name, uint32_t value) const;  // "0x%08x"

private:
    pugi::xml_node m_node;
};

class XMLParser {
public:
    XMLParser() = default;
    virtual ~XMLParser() = default;
    XMLParser(const XMLParser&) = delete;
    XMLParser& operator=(const XMLParser&) = delete;

    // The largest document loaded. The settings and parameter files hold a
    // few kilobytes; a parsed document takes up to about sixteen times its
    // size (a node for every four bytes of "<a/>"), so this bounds the
    // memory a hostile file can claim to some 70 MB.
    static constexpr size_t kMaxDocumentSize = size_t{4} << 20;  // 4 MiB
    // Why a larger file is not read, worded as LoadError.
    static std::string TooLargeText();
    // True when the file at `path` is larger than that: not to be read at
    // all, so that reading it cannot claim memory in proportion to its size.
    static bool IsFileTooLarge(const std::wstring& path);

    // Discards the content and parses a copy of the bytes (encoding found
    // from a byte-order mark or the first bytes). More than
    // kMaxDocumentSize bytes are refused unparsed (status_out_of_memory).
    pugi::xml_parse_result LoadFromMemory(const void* data, size_t size);
    // Why the last load failed, worded to follow the file's name in a
    // message ("is not well-formed XML: ... at byte N"); empty after a good one.
    const std::string& LoadError() const { return m_loadError; }
    // Writes the document as UTF-8 to an open stream under the wrapper's own
    // plain declaration, <?xml version="1.0"?> and a line feed, whatever
    // declaration was loaded; then closes the stream in every case. True
    // when no stream error occurred. Elements are indented by depth with
    // tabs, except in a document nested deeper than any the program writes:
    // there each node gets a line of its own without indentation, so the
    // file stays as long as the document instead of growing with the
    // square of its depth.
    bool SaveToFile(FILE* stream);
    XMLNode GetRoot() const { return XMLNode(m_document); }
    void Clear() { m_document.reset(); }

private:
    pugi::xml_document m_document;
    std::string m_loadError;
};

#include "xml/XMLParser.h"

#include <filesystem>

#include <algorithm>
#include <cinttypes>
#include <cstring>

namespace {

// Names are compared letter-case-blind for ASCII only; every other byte must
// match exactly. Done by hand so the result never depends on the C locale.
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool NamesMatch(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (AsciiLower(*a) != AsciiLower(*b)) return false;
    }
    return *a == *b;
}

bool CanHoldChildElements(pugi::xml_node node) {
    return node.type() == pugi::node_document || node.type() == pugi::node_element;
}

bool CanHoldAttributes(pugi::xml_node node) {
    return node.type() == pugi::node_element || node.type() == pugi::node_declaration;
}

pugi::xml_attribute FindAttribute(pugi::xml_node node, const char* name) {
    for (pugi::xml_attribute attribute : node.attributes()) {
        if (NamesMatch(attribute.name(), name)) return attribute;
    }
    return {};
}

// The declaration of every file the wrapper writes. Files are written as
// UTF-8, XML's default, so it needs no encoding attribute.
constexpr const char* kPlainDeclaration = "<?xml version=\"1.0\"?>\n";

// Large enough for any 64-bit decimal number and for the "0x%08x" form.
constexpr size_t kNumberTextSize = 32;

// Deeper than any file the program writes (the settings go two levels
// down); beyond it, indentation would cost more than the document.
constexpr int kMaxIndentedDepth = 64;

// The depth of the deepest node below `root`, walked without recursion so
// that a hostile nesting cannot exhaust the stack.
int DepthBelow(pugi::xml_node root) {
    int depth = 0;
    int deepest = 0;
    pugi::xml_node node = root.first_child();
    while (node && node != root) {
        if (node.first_child()) {
            node = node.first_child();
            deepest = std::max(deepest, ++depth);
            continue;
        }
        while (node != root && !node.next_sibling()) {
            node = node.parent();
            --depth;
        }
        if (node != root) node = node.next_sibling();
    }
    return deepest;
}

}  // namespace

const char* XMLNode::GetName() const { return m_node.name(); }

XMLNode XMLNode::FindChild(const char* name) const {
    if (!m_node || name == nullptr) return {};
    for (pugi::xml_node child : m_node.children()) {
        if (child.type() == pugi::node_element && NamesMatch(child.name(), name)) {
            return XMLNode(child);
        }
    }
    return {};
}

XMLNode XMLNode::FindOrAddChild(const char* name) const {
    XMLNode found = FindChild(name);
    if (found || name == nullptr || !CanHoldChildElements(m_node)) return found;
    return AddChild(name);
}

XMLNode XMLNode::AddChild(const char* name) const {
    if (name == nullptr || !CanHoldChildElements(m_node)) return {};
    pugi::xml_node parent = m_node;  // a handle: changing through a copy changes the document
    return XMLNode(parent.append_child(name));
}

const char* XMLNode::GetAttribute(const char* name) const {
    if (!m_node || name == nullptr) return nullptr;
    pugi::xml_attribute attribute = FindAttribute(m_node, name);
    return attribute ? attribute.value() : nullptr;
}

void XMLNode::SetAttribute(const char* name, const char* text) const {
    if (name == nullptr || !CanHoldAttributes(m_node)) return;
    pugi::xml_attribute attribute = FindAttribute(m_node, name);
    if (!attribute) {
        pugi::xml_node owner = m_node;
        attribute = owner.append_attribute(name);
    }
    attribute.set_value(text != nullptr ? text : "");
}

void XMLNode::SetAttributeInt(const char* name, int64_t value) const {
    char text[kNumberTextSize];
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
    SetAttribute(name, text);
}

void XMLNode::SetAttributeHex(const char* name, uint32_t value) const {
    char text[kNumberTextSize];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(value));
    SetAttribute(name, text);
}

bool XMLParser::IsFileTooLarge(const std::wstring& path) {
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(std::filesystem::path(path), error);
    return !error && size > kMaxDocumentSize;
}

std::string XMLParser::TooLargeText() {
    return "is larger than " + std::to_string(kMaxDocumentSize >> 20) +
           " MiB, more than any file of this program holds";
}

pugi::xml_parse_result XMLParser::LoadFromMemory(const void* data, size_t size) {
    m_loadError.clear();
    const bool tooLarge = size > kMaxDocumentSize;
    if (tooLarge || (data == nullptr && size != 0)) {
        // Refused unparsed: a parse would claim many times the file's size.
        m_document.reset();
        m_loadError = tooLarge ? TooLargeText() : "cannot be read";
        pugi::xml_parse_result result;
        result.status = tooLarge ? pugi::status_out_of_memory : pugi::status_io_error;
        return result;
    }
    // Declarations, comments and processing instructions are kept so that a
    // file written by hand comes back from a save as it was, apart from the
    // values the program changed.
    const unsigned options =
        pugi::parse_default | pugi::parse_declaration | pugi::parse_comments | pugi::parse_pi;
    const pugi::xml_parse_result result = m_document.load_buffer(data, size, options);
    if (!result) {
        m_loadError = std::string("is not well-formed XML: ") + result.description() + " at byte " +
                      std::to_string(static_cast<long long>(result.offset));
    }
    return result;
}

bool XMLParser::SaveToFile(FILE* stream) {
    if (stream == nullptr) return false;
    // A loaded declaration is never written back: it may name an encoding
    // other than the UTF-8 written here, which would garble every non-ASCII
    // text a little more on each save, or hold a value with "?>" that would
    // end it early when the file is read again.
    std::fputs(kPlainDeclaration, stream);
    pugi::xml_writer_file writer(stream);
    const char* const indent = DepthBelow(m_document) > kMaxIndentedDepth ? "" : "\t";
    for (pugi::xml_node node : m_document.children()) {
        if (node.type() != pugi::node_declaration) {
            node.print(writer, indent, pugi::format_default, pugi::encoding_utf8);
        }
    }
    // A full disk may show only when the buffer is flushed on close, so both
    // the stream's error flag and the close result count.
    const bool streamError = std::ferror(stream) != 0;
    const bool closeFailed = std::fclose(stream) != 0;
    return !streamError && !closeFailed;
}

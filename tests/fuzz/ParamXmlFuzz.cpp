// A settings file and a parameter file made of the input: loaded, mapped to
// a parameter set, stored back, saved and loaded again. What was saved must
// load, holding what was stored.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "params/RadarParamFile.h"
#include "xml/XMLParser.h"

namespace {

// Saves the document to memory; empty when the save failed.
std::string Saved(XMLParser* parser) {
    char* buffer = nullptr;
    size_t length = 0;
    FILE* stream = open_memstream(&buffer, &length);
    if (!stream) std::abort();
    const bool ok = parser->SaveToFile(stream);  // closes the stream
    std::string text = ok && buffer ? std::string(buffer, length) : std::string();
    std::free(buffer);
    return text;
}

std::vector<std::string> AttributeTexts(const XMLNode& element) {
    RadarParamSet scratch;
    std::vector<std::string> texts;
    for (const RadarParamField& field : RadarParamFields(&scratch)) {
        const char* text = element.GetAttribute(field.name.c_str());
        texts.push_back(text ? text : "<missing>");
    }
    return texts;
}

// `path` names the element that holds the parameters, outermost first.
void RoundTrip(const uint8_t* data, size_t size, std::initializer_list<const char*> path) {
    XMLParser parser;
    parser.LoadFromMemory(data, size);
    XMLNode element = parser.GetRoot();
    for (const char* name : path) element = element.FindOrAddChild(name);
    if (element.IsEmpty()) return;  // a document pugixml would not extend

    RadarParamSet params;
    LoadRadarParams(element, &params);
    StoreRadarParams(element, &params);
    const std::vector<std::string> stored = AttributeTexts(element);

    const std::string text = Saved(&parser);
    if (text.empty()) std::abort();
    XMLParser reloaded;
    if (!reloaded.LoadFromMemory(text.data(), text.size())) std::abort();
    XMLNode again = reloaded.GetRoot();
    for (const char* name : path) again = again.FindChild(name);
    if (again.IsEmpty()) std::abort();
    if (AttributeTexts(again) != stored) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RoundTrip(data, size, {"AppConfig", "ParamSetting"});
    RoundTrip(data, size, {kRadarParamElement});
    return 0;
}

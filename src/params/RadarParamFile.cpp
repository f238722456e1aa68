#include "params/RadarParamFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/KVEL_Common.h"

namespace {

constexpr int kUnsigned32 = 6;
constexpr int kDouble = 10;

std::string GateAttributeName(const char* format, int gate) {
    char name[64];
    std::snprintf(name, sizeof name, format, gate);
    return name;
}

// Missing or empty attributes keep the field as it is.
bool HasText(const char* text) { return text != nullptr && text[0] != '\0'; }

void LoadInteger(const XMLNode& element, const char* name, int32_t* field) {
    const char* text = element.GetAttribute(name);
    if (!HasText(text)) return;
    uint32_t value = 0;
    // Files hold the field's 32 bits as an unsigned number: -1 is stored as
    // 4294967295 and comes back as -1.
    if (DigtalStringToValue(text, -1, &value, kUnsigned32)) *field = static_cast<int32_t>(value);
}

void LoadDouble(const XMLNode& element, const std::string& name, double* field) {
    const char* text = element.GetAttribute(name.c_str());
    if (!HasText(text)) return;
    double value = 0.0;
    if (DigtalStringToValue(text, -1, &value, kDouble)) *field = value;
}

void StoreDouble(const XMLNode& element, const std::string& name, double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", value);
    element.SetAttribute(name.c_str(), text);
}

// Reads the file into `parser`; false when it cannot be read at all. What
// pugixml recovers from a damaged document is kept.
bool ReadDocument(const wchar_t* path, XMLParser* parser) {
    uint8_t* data = nullptr;
    const size_t size = ReadFileDataW(path, &data);
    if (data == nullptr) return false;
    parser->LoadFromMemory(data, size);
    ReleaseFileData(data);
    return true;
}

}  // namespace

void LoadRadarParams(const XMLNode& element, RadarParamSet* params) {
    if (element.IsEmpty() || params == nullptr) return;
    LoadInteger(element, kRadarParamGateMax, &params->GateMax);
    LoadInteger(element, kRadarParamDelay, &params->ObjectDisappearDelayTime);
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        LoadDouble(element, GateAttributeName(kRadarParamTriggerFormat, gate),
                   &params->TriggerThreshold[gate]);
        LoadDouble(element, GateAttributeName(kRadarParamHoldFormat, gate),
                   &params->HoldThreshold[gate]);
    }
}

void StoreRadarParams(const XMLNode& element, const RadarParamSet* params) {
    if (element.IsEmpty() || params == nullptr) return;
    element.SetAttributeInt(kRadarParamGateMax, static_cast<uint32_t>(params->GateMax));
    element.SetAttributeInt(kRadarParamDelay,
                            static_cast<uint32_t>(params->ObjectDisappearDelayTime));
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        StoreDouble(element, GateAttributeName(kRadarParamTriggerFormat, gate),
                    params->TriggerThreshold[gate]);
    }
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        StoreDouble(element, GateAttributeName(kRadarParamHoldFormat, gate),
                    params->HoldThreshold[gate]);
    }
}

bool LoadRadarParamFile(const wchar_t* path, RadarParamSet* params) {
    if (path == nullptr || params == nullptr) return false;
    XMLParser parser;
    if (!ReadDocument(path, &parser)) return false;
    const XMLNode element = parser.GetRoot().FindChild(kRadarParamElement);
    if (element.IsEmpty()) return false;
    LoadRadarParams(element, params);
    return true;
}

bool SaveRadarParamFile(const wchar_t* path, const RadarParamSet* params, std::string* error) {
    auto fail = [error](std::string reason) {
        if (error) *error = std::move(reason);
        return false;
    };
    if (path == nullptr || params == nullptr) return fail("no file or no parameters given");

    XMLParser parser;
    ReadDocument(path, &parser);  // a new file when the old one cannot be read
    StoreRadarParams(parser.GetRoot().FindOrAddChild(kRadarParamElement), params);

    const std::string narrowPath = WideToAnsi(path);
    FILE* stream = std::fopen(narrowPath.c_str(), "wb");
    if (stream == nullptr) {
        return fail("cannot open \"" + narrowPath + "\" for writing: " + std::strerror(errno));
    }
    errno = 0;
    if (!parser.SaveToFile(stream)) {
        const int code = errno;
        return fail("cannot write \"" + narrowPath +
                    "\": " + (code != 0 ? std::strerror(code) : "write error"));
    }
    return true;
}

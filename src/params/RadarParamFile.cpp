#include "params/RadarParamFile.h"

#include <cfloat>
#include <cstdio>
#include <string>

#include "common/KVEL_Common.h"
#include "common/ReplaceFile.h"
#include "params/RadarParamModel.h"

namespace {

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
    if (DigtalStringToValue(text, -1, &value, kDigitalUInt32)) *field = static_cast<int32_t>(value);
}

void LoadDouble(const XMLNode& element, const std::string& name, double* field) {
    const char* text = element.GetAttribute(name.c_str());
    if (!HasText(text)) return;
    double value = 0.0;
    if (DigtalStringToValue(text, -1, &value, kDigitalDouble)) *field = value;
}

// "%.2f" of a large value runs to hundreds of digits (1e100 has 101), all of
// which must be written for the value to read back as it was. The longest,
// that of -DBL_MAX, is a sign, 309 digits, the point and two decimals.
constexpr size_t kTwoDecimalsSize = 1 + (DBL_MAX_10_EXP + 1) + 3 + 1;

void StoreDouble(const XMLNode& element, const std::string& name, double value) {
    char text[kTwoDecimalsSize];
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

std::vector<RadarParamField> RadarParamFields(RadarParamSet* params) {
    std::vector<RadarParamField> fields;
    fields.reserve(kRadarParamCount);
    fields.push_back({kRadarParamGateMax, &params->GateMax, nullptr});
    fields.push_back({kRadarParamDelay, &params->ObjectDisappearDelayTime, nullptr});
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        fields.push_back({GateAttributeName(kRadarParamTriggerFormat, gate), nullptr,
                          &params->TriggerThreshold[gate]});
    }
    for (int gate = 0; gate < kRadarGateCount; ++gate) {
        fields.push_back({GateAttributeName(kRadarParamHoldFormat, gate), nullptr,
                          &params->HoldThreshold[gate]});
    }
    return fields;
}

void LoadRadarParams(const XMLNode& element, RadarParamSet* params) {
    if (element.IsEmpty() || params == nullptr) return;
    for (const RadarParamField& field : RadarParamFields(params)) {
        if (field.integer) LoadInteger(element, field.name.c_str(), field.integer);
        if (field.threshold) LoadDouble(element, field.name, field.threshold);
    }
}

void StoreRadarParams(const XMLNode& element, const RadarParamSet* params) {
    if (element.IsEmpty() || params == nullptr) return;
    RadarParamSet copy = *params;  // the table hands out writable fields
    for (const RadarParamField& field : RadarParamFields(&copy)) {
        if (field.integer)
            element.SetAttributeInt(field.name.c_str(), static_cast<uint32_t>(*field.integer));
        if (field.threshold) StoreDouble(element, field.name, *field.threshold);
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

namespace {

// Whether loading takes the attribute's text at all (LoadInteger, LoadDouble).
bool LoadsAsNumber(const char* text, bool integer) {
    uint32_t cell = 0;
    double value = 0.0;
    return integer ? DigtalStringToValue(text, -1, &cell, kDigitalUInt32)
                   : DigtalStringToValue(text, -1, &value, kDigitalDouble);
}

}  // namespace

RadarParamFileCheck CheckRadarParamFile(const wchar_t* path) {
    RadarParamFileCheck check;
    uint8_t* data = nullptr;
    const size_t size = path ? ReadFileDataW(path, &data) : 0;
    if (data == nullptr) {
        check.error = "cannot be read";
        return check;
    }
    XMLParser parser;
    const pugi::xml_parse_result parsed = parser.LoadFromMemory(data, size);
    ReleaseFileData(data);
    if (!parsed) {
        check.error = std::string("is not well-formed XML: ") + parsed.description() + " at byte " +
                      std::to_string(parsed.offset);
        return check;
    }
    const XMLNode element = parser.GetRoot().FindChild(kRadarParamElement);
    if (element.IsEmpty()) {
        check.error = std::string("holds no \"") + kRadarParamElement + "\"";
        return check;
    }
    RadarParamSet probe;
    const std::vector<RadarParamField> fields = RadarParamFields(&probe);
    for (size_t index = 0; index < fields.size(); ++index) {
        const RadarParamField& field = fields[index];
        const char* text = element.GetAttribute(field.name.c_str());
        if (!HasText(text)) continue;
        double value = 0.0;
        std::string why;
        if (!LoadsAsNumber(text, field.integer != nullptr))
            check.unreadable.push_back(field.name + "=\"" + text + "\"");
        else if (!ParseRadarParamValue(static_cast<int>(index), text, &value, &why))
            check.outsideLimits.push_back(field.name + "=" + text + ": " + why);
    }
    return check;
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

    // Replaced in one step, so a failed save leaves the old file whole.
    return ReplaceFileContentW(
        path, [&parser](std::FILE* stream) { return parser.SaveToFile(stream); }, error);
}

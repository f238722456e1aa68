// Mapping the parameter set to and from an element whose attributes carry
// the parameters: "RadarParam" of a parameter file, "ParamSetting" of the
// settings file.
#pragma once

#include <string>
#include <vector>

#include "params/RadarParam.h"
#include "xml/XMLParser.h"

constexpr const char* kRadarParamElement = "RadarParam";
constexpr const char* kRadarParamGateMax = "GateMax";
constexpr const char* kRadarParamDelay = "ObjectDisappearDelayTime";
constexpr const char* kRadarParamTriggerFormat = "TriggerGate%dThreshold";
constexpr const char* kRadarParamHoldFormat = "HoldGate%dThreshold";

// One parameter of a set by its attribute name: exactly one of the two
// pointers is set. The fields come in the module's order (RadarParamId).
struct RadarParamField {
    std::string name;
    int32_t* integer = nullptr;
    double* threshold = nullptr;
};
std::vector<RadarParamField> RadarParamFields(RadarParamSet* params);

void LoadRadarParams(const XMLNode& element, RadarParamSet* params);
void StoreRadarParams(const XMLNode& element, const RadarParamSet* params);

// A whole parameter file. Loading keeps the set as it is when the file
// cannot be read or has no "RadarParam". Saving keeps the file's other
// content and replaces the file in one step (ReplaceFileContentW), leaving
// a file the program may not write untouched; false (with a reason in
// *error) when it was not written.
bool LoadRadarParamFile(const wchar_t* path, RadarParamSet* params);

// What a parameter file holds that loading passes over in silence.
struct RadarParamFileCheck {
    // Why the file cannot be used at all: unreadable, not well-formed XML
    // (the parser's message and the byte where it stopped), or no
    // "RadarParam". Empty when it can be loaded.
    std::string error;
    // Attributes whose text is no number: loading skips them ("NAME=\"abc\"").
    std::vector<std::string> unreadable;
    // Values loading takes though the parameter page's fields would not
    // ("NAME=200: outside its limits, 1.00 to 90.00").
    std::vector<std::string> outsideLimits;
};
RadarParamFileCheck CheckRadarParamFile(const wchar_t* path);
bool SaveRadarParamFile(const wchar_t* path, const RadarParamSet* params, std::string* error);

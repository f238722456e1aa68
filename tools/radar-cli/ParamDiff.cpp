#include "ParamDiff.h"

#include <cstdio>

#include "params/RadarParamFile.h"
#include "params/RadarParamModel.h"

namespace radarcli {
namespace {

std::string Formatted(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

std::vector<ParamDifference> ParamDifferences(const RadarParamSet& module,
                                              const RadarParamSet& other) {
    RadarParamSet named = module;
    const std::vector<RadarParamField> fields = RadarParamFields(&named);
    std::vector<ParamDifference> differences;
    for (int index = 0; index < kRadarParamCount; ++index) {
        if (RadarParamCellAt(module, index) == RadarParamCellAt(other, index)) continue;
        differences.push_back({fields[index].name, fields[index].integer != nullptr,
                               RadarParamValueAt(module, index), RadarParamValueAt(other, index)});
    }
    return differences;
}

std::pair<std::string, std::string> DifferenceTexts(const ParamDifference& difference) {
    if (difference.integer)
        return {Formatted("%.0f", difference.module), Formatted("%.0f", difference.other)};
    std::pair<std::string, std::string> texts{Formatted("%.2f", difference.module),
                                              Formatted("%.2f", difference.other)};
    if (texts.first == texts.second)
        texts = {Formatted("%.6f", difference.module), Formatted("%.6f", difference.other)};
    return texts;
}

}  // namespace radarcli

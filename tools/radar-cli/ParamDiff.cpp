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
    RadarParamSet moduleCopy = module;
    RadarParamSet otherCopy = other;
    const std::vector<RadarParamField> moduleFields = RadarParamFields(&moduleCopy);
    const std::vector<RadarParamField> otherFields = RadarParamFields(&otherCopy);
    std::vector<ParamDifference> differences;
    for (size_t index = 0; index < moduleFields.size(); ++index) {
        const RadarParamField& mine = moduleFields[index];
        const RadarParamField& theirs = otherFields[index];
        if (mine.integer) {
            if (*mine.integer != *theirs.integer)
                differences.push_back(
                    {mine.name, true, double(*mine.integer), double(*theirs.integer)});
        } else if (RadarThresholdFromDb(*mine.threshold) !=
                   RadarThresholdFromDb(*theirs.threshold)) {
            differences.push_back({mine.name, false, *mine.threshold, *theirs.threshold});
        }
    }
    return differences;
}

RadarParamSet DefaultRadarParams() {
    RadarParamSet params;
    std::vector<RadarParamField> fields = RadarParamFields(&params);
    for (size_t index = 0; index < fields.size(); ++index) {
        const double value = RadarParamLimitsAt(static_cast<int>(index)).defaultValue;
        if (fields[index].integer)
            *fields[index].integer = static_cast<int32_t>(value);
        else
            *fields[index].threshold = value;
    }
    return params;
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

// The parameters in which two sets differ, as the module would hold them:
// two thresholds are the same when the module stores the same power for
// them (42.5 dB written reads back as 42.50001 dB).
#pragma once

#include <string>
#include <vector>

#include "params/RadarParam.h"

namespace radarcli {

struct ParamDifference {
    std::string name;  // the parameter-file name
    bool integer = false;
    double module = 0;  // the integer's value, or the threshold in dB
    double other = 0;
};

std::vector<ParamDifference> ParamDifferences(const RadarParamSet& module,
                                              const RadarParamSet& other);
// The two values of a difference as text: integers whole, thresholds with
// two decimals, or more where two decimals would print them alike.
std::pair<std::string, std::string> DifferenceTexts(const ParamDifference& difference);

}  // namespace radarcli

#include "realtime/PresenceShading.h"

#include <algorithm>
#include <cmath>

std::vector<ColumnRun> PresenceRuns(const uint8_t* history, int n, int left, int right) {
    std::vector<ColumnRun> runs;
    const int width = right - left;
    if (!history || n <= 0 || width <= 0) return runs;
    bool open = false;
    for (int x = left; x < right; ++x) {
        const double exact = static_cast<double>(x - left) * n / width;
        const int entry = std::clamp(static_cast<int>(std::round(exact)), 0, n - 1);
        if (history[entry] != 0 && !open) {
            runs.push_back({x, right});
            open = true;
        } else if (history[entry] == 0 && open) {
            runs.back().end = x;
            open = false;
        }
    }
    return runs;
}

ColumnRun InactiveGateColumns(int gateMax, int gateCount, int left, int right) {
    if (gateCount <= 0 || right <= left) return {right, right};
    const int usedGates = std::clamp(gateMax + 1, 0, gateCount);
    const int first =
        left + static_cast<int>(static_cast<long long>(right - left) * usedGates / gateCount);
    return {first, right};
}

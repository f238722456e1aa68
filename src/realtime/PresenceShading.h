// Where the charts of the realtime page are shaded: the distance plot's
// columns whose report saw a target, and the energy plot's gates beyond the
// largest gate the module uses. Plain arithmetic on plot coordinates.
#pragma once

#include <cstdint>
#include <vector>

struct ColumnRun {
    int first = 0;  // first shaded column
    int end = 0;    // one past the last
    bool operator==(const ColumnRun&) const = default;
};

// The runs of columns from `left` to `right` (exclusive) whose history entry
// is non-zero. Column x shows entry round((x - left) * n / width), halves away
// from zero, limited to 0..n-1, so the n entries spread over any width.
std::vector<ColumnRun> PresenceRuns(const uint8_t* history, int n, int left, int right);

// The columns of the energy plot beyond gate `gateMax` of `gateCount`
// gates: from left + width * (gateMax + 1) / gateCount to `right`. Empty
// when every gate is in use.
ColumnRun InactiveGateColumns(int gateMax, int gateCount, int left, int right);

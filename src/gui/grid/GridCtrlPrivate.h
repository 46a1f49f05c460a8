// Internals shared by the files that implement CGridCtrl; not for users of
// the grid.
#pragma once

#include <algorithm>
#include <vector>

namespace grid_detail {

// Rows and columns are kept within sizes whose sums cannot overflow for any
// row count the program meets.
inline constexpr int kMaxRowHeight = 10000;
inline constexpr int kMaxColWidth = 30000;
// Pixels either side of a border that grab it for resizing.
inline constexpr int kResizeTolerance = 3;
// Interval of the timer that extends a drag selection and scrolls.
inline constexpr int kSelectTimerMs = 25;
// Longest delay of the scroll ranges behind appended rows.
inline constexpr int kScrollBarDelayMs = 30;

// Index i in [from, to) with starts[i] <= pos < starts[i + 1]; -1 when pos
// lies outside. Empty (zero-size) entries are never returned.
inline int IndexAt(const std::vector<int> &starts, int from, int to, int pos)
{
    if (from >= to || pos < starts[from] || pos >= starts[to])
        return -1;
    const auto first = starts.begin() + from;
    const auto last = starts.begin() + to + 1;
    const auto it = std::upper_bound(first, last, pos);
    return int(it - starts.begin()) - 1;
}

} // namespace grid_detail

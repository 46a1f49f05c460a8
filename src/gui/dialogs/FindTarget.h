// What the find box needs of the grid it searches.
#pragma once

#include <QString>

namespace tamblin {

class FindTarget {
public:
    virtual ~FindTarget() = default;

    // Searches from the row after (direction 1) or before (direction 0)
    // `startRow`; `keyword` is lower-cased when case is ignored. Non-zero
    // when a row was found and selected, or when the keyword was empty (the
    // grid has then told the user).
    virtual int FindRow(int startRow, QString &keyword, int direction, bool ignoreCase, bool wholeCell) = 0;
    virtual int GetRowCount() const = 0;
    virtual int GetFixedRowCount() const = 0;
    // The smallest row of the selected cells, or -1 when nothing is selected.
    virtual int GetSelectedMinRow() const = 0;
    // Whole-row exclusive selection while the find box is open.
    virtual void SetExclusiveSelection(bool exclusive) = 0;
};

} // namespace tamblin

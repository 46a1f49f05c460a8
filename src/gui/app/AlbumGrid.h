// The album grid's layout and rows, shared by the main window, the grid tests
// and the grid benchmark.
#pragma once

#include "app/AlbumList.h"

#include <QString>

class CMyGridCtrl;

namespace tamblin {

// The look of the album grid.
struct AlbumGridLayout {
    bool thumbnails = false; // false: one row per album
    int columns = 6;         // thumbnails per grid row
    int thumbWidth = 113;
};

// Builds the empty grid: in list mode a header row over the columns "序号",
// "名称", "数量", "备注" and two hidden ones, with whole-row selection; in
// thumbnail mode `columns` columns of thumbnails and no header.
void ResetAlbumGrid(CMyGridCtrl &grid, const AlbumGridLayout &layout = {});

// List mode: appends the row of `album` when `filter` is empty or occurs in
// its name (case-sensitive). Column 0 numbers the rows shown ("0001"...) and
// holds the album's index as item data. Returns the row, or -1 when none was
// added.
int AddAlbumRow(CMyGridCtrl &grid, const ST_PERLISTRECORD &album, const QString &filter = QString());

} // namespace tamblin

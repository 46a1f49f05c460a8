#include "app/AlbumGrid.h"

#include "grid/MyGridCtrl.h"

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

constexpr int kCellMargin = 8;

struct Column {
    const char16_t *header;
    int width;
};
// Columns 4 and 5 are kept for site handlers and hidden.
constexpr Column kListColumns[] = {{u"序号", 50}, {u"名称", 575}, {u"数量", 50}, {u"备注", 100}, {u"", 0}, {u"", 0}};

} // namespace

void ResetAlbumGrid(CMyGridCtrl &grid, const AlbumGridLayout &layout)
{
    // Painting happens on this thread only, so no paint pass can be under
    // way here; drawing stays off while the rows and columns are rebuilt.
    grid.SetRedraw(false);
    grid.DeleteAllItems();
    for (bool fixedRow : {false, true}) {
        for (bool fixedCol : {false, true})
            grid.GetDefaultCell(fixedRow, fixedCol)->SetMargin(kCellMargin);
    }
    if (!layout.thumbnails) {
        const int columns = int(std::size(kListColumns));
        grid.SetupGrid(1, 1, columns, true);
        for (int c = 0; c < columns; ++c) {
            grid.SetItemText(0, c, QString::fromUtf16(kListColumns[c].header));
            grid.SetColumnWidth(c, kListColumns[c].width);
        }
    } else {
        grid.SetupGrid(0, 0, layout.columns, false);
        for (int c = 0; c < layout.columns; ++c)
            grid.SetColumnWidth(c, layout.thumbWidth + 2 * kCellMargin);
    }
    grid.AutoSizeRows();
    grid.SetRedraw(true, true);
}

int AddAlbumRow(CMyGridCtrl &grid, const ST_PERLISTRECORD &album, const QString &filter)
{
    if (!filter.isEmpty() && !album.name.contains(filter))
        return -1;
    const int row = grid.AppendRow();
    if (row < 0)
        return -1;
    grid.SetItemTextFmt(row, 0, u"%04d", row);
    grid.SetItemData(row, 0, album.index);
    grid.SetItemTextFmt(row, 1, u"%s", album.name);
    grid.SetItemText(row, 2, CountText(album.count));
    grid.SetItemText(row, 3, RemarkText(album.flags));
    // A row numbered after a sort by number would break that order.
    if (grid.GetSortColumn() == 0) {
        grid.SetSortColumn(-1);
        grid.RedrawCell(0, 0);
    }
    return row;
}

} // namespace tamblin

// Times the album grid at its largest: 65,535 rows appended one at a time
// while the grid is shown, one viewport painted, and a sort by name.
// Run offscreen: QT_QPA_PLATFORM=offscreen bench/bench_grid
#include "grid/MyGridCtrl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>

#include <cstdio>
#include <random>

using namespace Qt::StringLiterals;

namespace {

constexpr int kRows = 65535;

void SetupAlbumGrid(CMyGridCtrl &grid)
{
    grid.DeleteAllItems();
    for (bool fixedRow : {false, true})
        for (bool fixedCol : {false, true})
            grid.GetDefaultCell(fixedRow, fixedCol)->SetMargin(8);
    grid.SetupGrid(1, 1, 6, true);
    const QString headers[] = {u"序号"_s, u"名称"_s, u"数量"_s, u"备注"_s, QString(), QString()};
    const int widths[] = {50, 575, 50, 100, 0, 0};
    for (int c = 0; c < 6; ++c) {
        grid.SetItemText(0, c, headers[c]);
        grid.SetColumnWidth(c, widths[c]);
    }
    grid.AutoSizeRows();
    grid.ResetScrollBars();
}

void AddRow(CMyGridCtrl &grid, int index, std::mt19937 &rng)
{
    const int row = grid.AppendRow();
    grid.SetItemTextFmt(row, 0, u"%04d", row);
    grid.SetItemData(row, 0, index);
    grid.SetItemTextFmt(row, 1, u"%s", u"相册 %1 第%2集"_s.arg(rng() % 100000).arg(index));
    grid.SetItemTextFmt(row, 2, u"%4u", unsigned(rng() % 2000));
    grid.SetItemText(row, 3, index % 7 == 0 ? u"私密相册"_s : QString());
}

// Appends all rows, handing control to the event loop after each one as the
// window does when rows arrive from the list worker; with `forceRepaint`
// the whole viewport is also painted after every row.
void AppendRun(const char *label, bool forceRepaint)
{
    CMyGridCtrl grid;
    grid.resize(900, 600);
    grid.show();
    QApplication::processEvents();
    SetupAlbumGrid(grid);
    std::mt19937 rng(1);
    QElapsedTimer total;
    QElapsedTimer part;
    total.start();
    part.start();
    std::printf("%s\n", label);
    for (int i = 0; i < kRows; ++i) {
        AddRow(grid, i, rng);
        if (forceRepaint)
            grid.viewport()->repaint();
        QApplication::processEvents();
        if ((i + 1) % 16384 == 0 || i + 1 == kRows) {
            std::printf("  rows %5d: %8.1f ms for the last %d rows\n", i + 1, part.nsecsElapsed() / 1e6,
                        (i + 1) % 16384 ? (i + 1) % 16384 : 16384);
            part.restart();
        }
    }
    std::printf("  total %.1f ms, %.2f us per row\n", total.nsecsElapsed() / 1e6, total.nsecsElapsed() / 1e3 / kRows);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    AppendRun("append 65535 rows of 6 cells, event loop after each row:", false);
    AppendRun("append 65535 rows of 6 cells, whole viewport repainted after each row:", true);

    CMyGridCtrl grid;
    grid.resize(900, 600);
    grid.show();
    QApplication::processEvents();
    SetupAlbumGrid(grid);
    std::mt19937 rng(2);
    for (int i = 0; i < kRows; ++i)
        AddRow(grid, i, rng);
    grid.ScrollRowToTop(kRows / 2);
    QApplication::processEvents();

    constexpr int kPaints = 200;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kPaints; ++i)
        grid.viewport()->repaint();
    std::printf("paint one 900x600 viewport (%d cells) of %d rows: %.3f ms per paint\n", grid.GetDrawnCellCount(),
                kRows, timer.nsecsElapsed() / 1e6 / kPaints);

    timer.restart();
    grid.SortItems(1, true);
    std::printf("sort %d rows by name, ascending: %.1f ms\n", kRows, timer.nsecsElapsed() / 1e6);
    timer.restart();
    grid.SortItems(1, false);
    std::printf("sort %d rows by name, descending (from ascending): %.1f ms\n", kRows, timer.nsecsElapsed() / 1e6);
    timer.restart();
    grid.SortItems(2, true);
    std::printf("sort %d rows by count (many equal texts): %.1f ms\n", kRows, timer.nsecsElapsed() / 1e6);
    return 0;
}

// Times the album grid at its largest: 65,535 rows appended one at a time
// while the grid is shown, one viewport painted, and a sort by name.
// Run offscreen: QT_QPA_PLATFORM=offscreen bench/bench_grid
#include "app/AlbumGrid.h"
#include "grid/MyGridCtrl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>

#include <cstdio>
#include <random>

using namespace Qt::StringLiterals;

namespace {

constexpr int kRows = 65535;

void AddRow(CMyGridCtrl &grid, int index, std::mt19937 &rng)
{
    tamblin::ST_PERLISTRECORD album;
    album.index = index;
    album.name = u"相册 %1 第%2集"_s.arg(rng() % 100000).arg(index);
    album.count = std::int32_t(rng() % 2000);
    album.flags = index % 7 == 0 ? 2 : 0;
    tamblin::AddAlbumRow(grid, album);
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
    tamblin::ResetAlbumGrid(grid);
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
    tamblin::ResetAlbumGrid(grid);
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

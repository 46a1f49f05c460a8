#include "GridTestSupport.h"

#include "app/AlbumGrid.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>

using namespace Qt::StringLiterals;

namespace tamblin::test {

int AddAlbumRow(CMyGridCtrl &grid, int index, const Album &album)
{
    ST_PERLISTRECORD record;
    record.name = album.name;
    record.count = album.count;
    record.index = index;
    const int row = tamblin::AddAlbumRow(grid, record);
    // The remark as the test gives it, whatever flags would show.
    if (row >= 0)
        grid.SetItemText(row, 3, album.remark);
    return row;
}

void GridFixture::SetUp()
{
    grid = new TestGrid;
    QObject::connect(grid, &CGridCtrl::notification, grid,
                     [this](int code, int row, int col) { notes.emplace_back(code, row, col); });
    QObject::connect(grid, &CGridCtrl::command, grid, [this] { ++commands; });
    ResetAlbumGrid(*grid);
}

void GridFixture::TearDown()
{
    delete grid;
    grid = nullptr;
}

void GridFixture::ShowGrid(int width, int height)
{
    grid->resize(width, height);
    grid->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(grid));
    QApplication::processEvents();
}

void GridFixture::Fill(const std::vector<Album> &albums)
{
    for (size_t i = 0; i < albums.size(); ++i)
        ASSERT_EQ(AddAlbumRow(*grid, int(i), albums[i]), int(i) + 1);
}

QPoint GridFixture::CellCenter(int row, int col) const
{
    return grid->GetCellRect(row, col).center();
}

void GridFixture::Click(int row, int col, Qt::KeyboardModifiers mods)
{
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, mods, CellCenter(row, col));
}

void GridFixture::Press(QPoint point, Qt::KeyboardModifiers mods)
{
    QTest::mousePress(grid->viewport(), Qt::LeftButton, mods, point);
}

void GridFixture::Move(QPoint point, Qt::MouseButtons buttons)
{
    // Sent by hand so the held button is certain to be in the event.
    QMouseEvent event(QEvent::MouseMove, QPointF(point), grid->viewport()->mapToGlobal(QPointF(point)),
                      Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(grid->viewport(), &event);
}

void GridFixture::Release(QPoint point, Qt::KeyboardModifiers mods)
{
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, mods, point);
}

QList<int> GridFixture::SelectedRows() const
{
    QList<int> rows;
    for (int r = grid->GetNextSelectedRow(-1); r != -1; r = grid->GetNextSelectedRow(r))
        rows << r;
    return rows;
}

QStringList GridFixture::Column(int col) const
{
    QStringList texts;
    for (int r = grid->GetFixedRowCount(); r < grid->GetRowCount(); ++r)
        texts << grid->GetItemText(r, col);
    return texts;
}

} // namespace tamblin::test

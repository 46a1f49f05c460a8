#include "GridTestSupport.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>

using namespace Qt::StringLiterals;

namespace tamblin::test {

void SetupAlbumGrid(CMyGridCtrl &grid)
{
    grid.SetRedraw(false);
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
    grid.SetRedraw(true, true);
}

int AddAlbumRow(CMyGridCtrl &grid, int index, const Album &album)
{
    const int row = grid.AppendRow();
    if (row < 0)
        return row;
    grid.SetItemTextFmt(row, 0, u"%04d", row);
    grid.SetItemData(row, 0, index);
    grid.SetItemTextFmt(row, 1, u"%s", album.name);
    if (album.count == -1)
        grid.SetItemText(row, 2, u"未知"_s);
    else
        grid.SetItemTextFmt(row, 2, u"%4u", album.count);
    grid.SetItemText(row, 3, album.remark);
    return row;
}

void GridFixture::SetUp()
{
    grid = new TestGrid;
    QObject::connect(grid, &CGridCtrl::notification, grid,
                     [this](int code, int row, int col) { notes.emplace_back(code, row, col); });
    QObject::connect(grid, &CGridCtrl::command, grid, [this] { ++commands; });
    SetupAlbumGrid(*grid);
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

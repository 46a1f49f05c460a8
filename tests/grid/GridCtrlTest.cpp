// The grid driven with real mouse and key events.
#include "GridTestSupport.h"

#include "grid/GridCellCheck.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QToolTip>
#include <QWheelEvent>

#include <random>

using namespace Qt::StringLiterals;
using tamblin::test::Album;
using tamblin::test::GridFixture;

namespace {

std::vector<Album> Albums(int n)
{
    std::vector<Album> albums;
    for (int i = 0; i < n; ++i)
        albums.push_back({u"相册 %1"_s.arg(i), i, QString()});
    return albums;
}

using Note = std::tuple<int, int, int>;

} // namespace

TEST_F(GridFixture, ClicksAddRowsUnlessExclusiveSelectionInListMode)
{
    Fill(Albums(10));
    ShowGrid();

    // Without exclusive selection every click adds its row, as with Ctrl.
    Click(2, 1);
    Click(4, 3);
    EXPECT_EQ(SelectedRows(), QList<int>({2, 4}));
    // Whole rows, the hidden columns included.
    EXPECT_TRUE(grid->IsCellSelected(4, 0));
    EXPECT_TRUE(grid->IsCellSelected(4, 5));
    EXPECT_EQ(grid->GetFocusCell(), CCellID(4, 3));
    // A second click on a selected row keeps it.
    Click(2, 2);
    EXPECT_EQ(SelectedRows(), QList<int>({2, 4}));
    EXPECT_EQ(grid->GetItemState(2, 1) & kGvisSelected, kGvisSelected);

    // Shift ranges from the anchor (the last clicked cell) and keeps the rest.
    Click(7, 1, Qt::ShiftModifier);
    EXPECT_EQ(SelectedRows(), QList<int>({2, 3, 4, 5, 6, 7}));

    // Exclusive selection in list mode: a click replaces the selection.
    grid->SetExclusiveSelection(true);
    Click(9, 1);
    EXPECT_EQ(SelectedRows(), QList<int>({9}));
    Click(5, 1);
    EXPECT_EQ(SelectedRows(), QList<int>({5}));
    Click(3, 1, Qt::ShiftModifier);
    EXPECT_EQ(SelectedRows(), QList<int>({3, 4, 5}));
    // Ctrl still adds.
    Click(8, 1, Qt::ControlModifier);
    EXPECT_EQ(SelectedRows(), QList<int>({3, 4, 5, 8}));

    // A click on a selected row without Ctrl prepares a drag; released in
    // place it leaves only that row.
    notes.clear();
    Click(4, 2);
    EXPECT_EQ(SelectedRows(), QList<int>({4}));
    EXPECT_EQ(notes, (std::vector<Note>{{kNmClick, 4, 2}, {kGvnSelChanging, 4, 2}, {kGvnSelChanged, 4, 2}}));

    // Exclusive selection only counts in list mode.
    grid->SetListMode(false);
    Click(2, 1);
    Click(6, 2);
    EXPECT_TRUE(grid->IsCellSelected(2, 1));
    EXPECT_TRUE(grid->IsCellSelected(6, 2));
    EXPECT_FALSE(grid->IsCellSelected(6, 1)); // cells, not rows
}

TEST_F(GridFixture, PlainClickNotifiesAndPostsCommand)
{
    Fill(Albums(5));
    ShowGrid();
    Click(3, 1);
    EXPECT_EQ(notes, (std::vector<Note>{{kGvnSelChanging, 3, 1}, {kGvnSelChanged, 3, 1}, {kNmClick, 3, 1}}));
    QApplication::processEvents();
    EXPECT_EQ(commands, 1);

    // Outside every cell: no command.
    notes.clear();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, QPoint(880, 380));
    QApplication::processEvents();
    EXPECT_EQ(commands, 1);
    EXPECT_EQ(SelectedRows(), QList<int>({3}));

    QTest::mouseClick(grid->viewport(), Qt::RightButton, {}, CellCenter(2, 2));
    EXPECT_EQ(notes.back(), Note(kNmRClick, 2, 2));
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, CellCenter(4, 1));
    EXPECT_NE(std::find(notes.begin(), notes.end(), Note(kNmDblClk, 4, 1)), notes.end());
}

TEST_F(GridFixture, HeaderClicksSortThenRenumber)
{
    Fill({{u"b"_s, 1, {}}, {u"d"_s, 2, {}}, {u"a"_s, 3, {}}, {u"c"_s, 4, {}}, {u"B"_s, 5, {}}});
    ShowGrid();
    Click(2, 1);
    ASSERT_EQ(SelectedRows().size(), 1);

    // First click on "名称": ascending by UTF-16 units, so "B" before "a".
    Click(0, 1);
    EXPECT_EQ(Column(1), QStringList({u"B"_s, u"a"_s, u"b"_s, u"c"_s, u"d"_s}));
    EXPECT_EQ(Column(0), QStringList({u"0001"_s, u"0002"_s, u"0003"_s, u"0004"_s, u"0005"_s}));
    // Whole rows moved: the album index stays with its name and count.
    EXPECT_EQ(grid->GetItemData(1, 0), 4);
    EXPECT_EQ(grid->GetItemText(1, 2), u"   5"_s);
    EXPECT_EQ(grid->GetSortColumn(), 1);
    EXPECT_TRUE(grid->GetSortAscending());
    // Sorting clears the selection and the focus cell.
    EXPECT_TRUE(SelectedRows().isEmpty());
    EXPECT_FALSE(grid->GetFocusCell().IsValid());

    // Second click: descending.
    Click(0, 1);
    EXPECT_EQ(Column(1), QStringList({u"d"_s, u"c"_s, u"b"_s, u"a"_s, u"B"_s}));
    EXPECT_FALSE(grid->GetSortAscending());
    // A third click goes back to ascending.
    Click(0, 1);
    EXPECT_EQ(Column(1).first(), u"B"_s);

    // Sort by count, then a click on "序号" only renumbers.
    Click(0, 2);
    EXPECT_EQ(Column(1), QStringList({u"b"_s, u"d"_s, u"a"_s, u"c"_s, u"B"_s}));
    grid->SetItemText(1, 0, u"x"_s);
    grid->SetItemText(5, 0, u"y"_s);
    Click(3, 1);
    Click(0, 0);
    EXPECT_EQ(Column(1), QStringList({u"b"_s, u"d"_s, u"a"_s, u"c"_s, u"B"_s}));
    EXPECT_EQ(Column(0), QStringList({u"0001"_s, u"0002"_s, u"0003"_s, u"0004"_s, u"0005"_s}));
    EXPECT_EQ(grid->GetSortColumn(), 2);
    EXPECT_EQ(SelectedRows(), QList<int>({3})); // renumbering leaves the selection alone
    // No header click selects a column after SetupGrid.
    EXPECT_FALSE(grid->IsCellSelected(1, 0));
}

TEST_F(GridFixture, SortIsFastOnEqualKeysAndKeepsRowsTogether)
{
    grid->SetRedraw(false);
    std::mt19937 rng(7);
    const int n = 20000;
    for (int i = 0; i < n; ++i) {
        const QString name = i % 3 ? u"same"_s : u"n%1"_s.arg(rng() % 500);
        ASSERT_EQ(tamblin::test::AddAlbumRow(*grid, i, {name, i, QString::number(i)}), i + 1);
    }
    long comparisons = 0;
    grid->SetCompareFunction([&](const CGridCellBase *a, const CGridCellBase *b) {
        ++comparisons;
        return CGridCtrl::CompareTexts(a, b);
    });
    ASSERT_TRUE(grid->SortItems(1, true));
    // A quadratic partition would take about n * n / 2 = 2e8 comparisons.
    EXPECT_LT(comparisons, 60L * n);
    QStringList names = Column(1);
    QStringList sorted = names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(names, sorted);
    for (int r = 1; r <= n; ++r)
        ASSERT_EQ(grid->GetItemText(r, 3), QString::number(grid->GetItemData(r, 0)));

    comparisons = 0;
    ASSERT_TRUE(grid->SortItems(3, false));
    EXPECT_LT(comparisons, 60L * n);
    for (int r = 2; r <= n; ++r)
        ASSERT_GE(grid->GetItemText(r - 1, 3), grid->GetItemText(r, 3));
}

TEST_F(GridFixture, CellAddressingFocusAndEmptySelection)
{
    Fill(Albums(4));
    EXPECT_EQ(grid->GetCell(-1, 0), nullptr);
    EXPECT_EQ(grid->GetCell(5, 0), nullptr);
    EXPECT_EQ(grid->GetCell(1, 6), nullptr);
    EXPECT_NE(grid->GetCell(4, 5), nullptr);
    EXPECT_FALSE(grid->SetItemImage(9, 0, 1));
    EXPECT_EQ(grid->GetItemText(9, 9), QString());

    // Nothing selected: (row count, column count, -1, -1).
    EXPECT_EQ(grid->GetSelectedCellRange(), CCellRange(5, 6, -1, -1));
    EXPECT_EQ(grid->GetNextSelectedRow(-1), -1);

    // The focus cell is raised out of the fixed row.
    grid->SetFocusCell(0, 2);
    EXPECT_EQ(grid->GetFocusCell(), CCellID(1, 2));
    EXPECT_TRUE(grid->GetItemState(1, 2) & kGvisFocused);
    grid->SetFocusCell(3, 1);
    EXPECT_FALSE(grid->GetItemState(1, 2) & kGvisFocused);
    grid->SetFocusCell(-1, -1);
    EXPECT_FALSE(grid->GetFocusCell().IsValid());

    grid->SetSelectedRange(2, 0, 3, 5);
    EXPECT_EQ(grid->GetSelectedCellRange(), CCellRange(2, 0, 3, 5));
    EXPECT_EQ(grid->GetNextSelectedRow(-1), 2);
    EXPECT_EQ(grid->GetNextSelectedRow(2), 3);
    EXPECT_EQ(grid->GetNextSelectedRow(3), -1);
    // The header is never selected, even by a range that covers it.
    grid->SetSelectedRange(0, 0, 1, 5);
    EXPECT_EQ(grid->GetSelectedCellRange(), CCellRange(1, 0, 1, 5));
    grid->SelectRow(-1);
    EXPECT_EQ(grid->GetSelectedCellRange(), CCellRange(1, 0, 4, 5));
    EXPECT_EQ(grid->GetSelectedCount(), 24);

    // Shrinking drops the selection and focus of removed rows.
    grid->SetFocusCell(4, 1);
    grid->SetRowCount(3);
    EXPECT_EQ(grid->GetSelectedCellRange(), CCellRange(1, 0, 2, 5));
    EXPECT_FALSE(grid->GetFocusCell().IsValid());
    grid->SetRowCount(1);
    EXPECT_EQ(grid->GetNextSelectedRow(-1), -1);
    EXPECT_EQ(grid->GetSelectedCellRange(), CCellRange(1, 6, -1, -1));

    // A grid without columns gets one before its first row.
    grid->DeleteAllItems();
    EXPECT_EQ(grid->GetColumnCount(), 0);
    EXPECT_EQ(grid->AppendRow(), 0);
    EXPECT_EQ(grid->GetColumnCount(), 1);
    EXPECT_EQ(grid->GetRowCount(), 1);
    EXPECT_EQ(grid->GetItemText(0, 0), QString());
    EXPECT_GT(grid->GetRowHeight(0), 0);
}

namespace {

// Records whether a paint pass was marked as running while it drew.
class ProbeCell : public CGridCell {
public:
    static inline int draws = 0;
    static inline int drawsWhileFinished = 0;
    void Draw(QPainter &p, int row, int col, const QRect &rect) override
    {
        ++draws;
        if (GetGrid()->IsDrawFinished())
            ++drawsWhileFinished;
        CGridCell::Draw(p, row, col, rect);
    }
};

} // namespace

TEST_F(GridFixture, DrawingSwitchAndFinishedFlag)
{
    Fill(Albums(3));
    ShowGrid();
    ASSERT_TRUE(grid->SetCellType<ProbeCell>(2, 1));
    ProbeCell::draws = 0;
    grid->viewport()->repaint();
    EXPECT_EQ(ProbeCell::draws, 1);
    EXPECT_EQ(ProbeCell::drawsWhileFinished, 0);
    EXPECT_TRUE(grid->IsDrawFinished());
    EXPECT_GT(grid->GetDrawnCellCount(), 0);

    grid->SetRedraw(false);
    grid->viewport()->repaint();
    EXPECT_EQ(ProbeCell::draws, 1);
    EXPECT_EQ(grid->GetDrawnCellCount(), 0);
    EXPECT_TRUE(grid->IsDrawFinished());

    grid->SetRedraw(true, true);
    grid->viewport()->repaint();
    EXPECT_EQ(ProbeCell::draws, 2);
}

TEST_F(GridFixture, RepaintCostFollowsVisibleCells)
{
    grid->SetRedraw(false);
    for (int i = 0; i < 5000; ++i)
        tamblin::test::AddAlbumRow(*grid, i, {u"x"_s, i, {}});
    grid->SetRedraw(true, true);
    ShowGrid(900, 300);
    const int rowHeight = grid->GetRowHeight(1);
    const int visibleRows = 300 / rowHeight + 2;
    grid->viewport()->repaint();
    // Four shown columns (two have width 0) of the visible rows and the header.
    EXPECT_LE(grid->GetDrawnCellCount(), 4 * (visibleRows + 1));
    EXPECT_GE(grid->GetDrawnCellCount(), 4 * 3);

    // Scrolled far down, the rows on screen are found without a scan.
    grid->ScrollRowToTop(4000);
    grid->viewport()->repaint();
    EXPECT_EQ(grid->GetCellFromPt(QPoint(10, grid->GetFixedRowHeight() + 1)), CCellID(4000, 0));
    EXPECT_LE(grid->GetDrawnCellCount(), 4 * (visibleRows + 1));

    // The last row can be scrolled to the bottom edge and no further.
    grid->verticalScrollBar()->setValue(grid->verticalScrollBar()->maximum());
    const QRect last = grid->GetCellRect(5000, 1);
    EXPECT_EQ(last.bottom(), grid->viewport()->height() - 1);
}

TEST_F(GridFixture, CheckCellTogglesOnlyInsideItsBox)
{
    Fill(Albums(3));
    ASSERT_TRUE(grid->SetCellType<CGridCellCheck>(2, 1));
    ShowGrid();
    auto *check = dynamic_cast<CGridCellCheck *>(grid->GetCell(2, 1));
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(grid->GetItemText(2, 1), u"相册 1"_s); // the attributes moved over
    EXPECT_FALSE(check->GetCheck());

    const QRect cell = grid->GetCellRect(2, 1);
    const QRect box = check->GetCheckPlacement(cell.adjusted(0, 0, -1, -1));
    ASSERT_TRUE(cell.contains(box));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, box.center());
    EXPECT_TRUE(check->GetCheck());
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, QPoint(box.right() + 40, box.center().y()));
    EXPECT_TRUE(check->GetCheck());
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, box.center());
    EXPECT_FALSE(check->GetCheck());
    // The text starts to the right of the box.
    EXPECT_GT(check->GetTextRect(cell).left(), box.right());
}

TEST_F(GridFixture, KeyboardMovesFocusFramedByNotificationsAndCopies)
{
    Fill({{u"one"_s, 1, {}}, {u"two"_s, 2, u"好友可见"_s}, {u"three"_s, 3, {}}, {u"four"_s, -1, {}}});
    ShowGrid();
    Click(1, 1);
    notes.clear();
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(grid->GetFocusCell(), CCellID(2, 1));
    EXPECT_EQ(notes, (std::vector<Note>{{kGvnSelChanging, 2, 1}, {kGvnSelChanged, 2, 1}}));
    // Keys replace the selection.
    EXPECT_EQ(SelectedRows(), QList<int>({2}));
    QTest::keyClick(grid, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(SelectedRows(), QList<int>({2, 3}));
    QTest::keyClick(grid, Qt::Key_Up);
    QTest::keyClick(grid, Qt::Key_Up);
    EXPECT_EQ(grid->GetFocusCell(), CCellID(1, 1));
    QTest::keyClick(grid, Qt::Key_Up); // the header is not reached
    EXPECT_EQ(grid->GetFocusCell(), CCellID(1, 1));
    // End stops at the last shown column, not in the hidden ones.
    QTest::keyClick(grid, Qt::Key_End);
    EXPECT_EQ(grid->GetFocusCell(), CCellID(1, 3));
    QTest::keyClick(grid, Qt::Key_Home);
    EXPECT_EQ(grid->GetFocusCell(), CCellID(1, 0));

    grid->SetSelectedRange(2, 0, 4, 5);
    grid->SetRowHeight(3, 0);
    QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
    // Tabs between the shown cells, CR LF between shown rows.
    EXPECT_EQ(QApplication::clipboard()->text(),
              u"0002\ttwo\t   2\t好友可见\r\n0004\tfour\t未知\t"_s);

    // Pasting fills cells from the focus cell on; the header stays.
    grid->SetFocusCell(3, 1);
    QApplication::clipboard()->setText(u"a\tb,c\r\nd\n"_s);
    QTest::keyClick(grid, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(grid->GetItemText(3, 1), u"a"_s);
    EXPECT_EQ(grid->GetItemText(3, 2), u"b"_s);
    EXPECT_EQ(grid->GetItemText(3, 3), u"c"_s);
    EXPECT_EQ(grid->GetItemText(4, 1), u"d"_s);
    EXPECT_EQ(grid->GetItemText(4, 2), u"未知"_s);
    EXPECT_TRUE(grid->GetItemState(3, 1) & kGvisModified);
    grid->SetItemState(4, 1, grid->GetItemState(4, 1) | kGvisReadOnly);
    EXPECT_FALSE(grid->PasteTextToGrid({4, 1}, u"no"_s));
    EXPECT_EQ(grid->GetItemText(4, 1), u"d"_s);
}

TEST_F(GridFixture, WheelScrollsBySystemLineCount)
{
    Fill(Albums(200));
    ShowGrid(900, 300);
    const int lines = grid->GetWheelScrollLines();
    EXPECT_EQ(lines, QApplication::wheelScrollLines());
    const QPoint at = CellCenter(2, 1);
    QWheelEvent down(QPointF(at), grid->viewport()->mapToGlobal(QPointF(at)), QPoint(), QPoint(0, -120),
                     Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(grid->viewport(), &down);
    const QPoint top(10, grid->GetFixedRowHeight() + 1);
    EXPECT_EQ(grid->GetCellFromPt(top).row, 1 + lines);
    QWheelEvent up(QPointF(at), grid->viewport()->mapToGlobal(QPointF(at)), QPoint(), QPoint(0, 120),
                   Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(grid->viewport(), &up);
    EXPECT_EQ(grid->GetCellFromPt(top).row, 1);
}

TEST_F(GridFixture, DragSelectionScrollsWhileTheMouseIsBelow)
{
    Fill(Albums(200));
    ShowGrid(900, 300);
    grid->SetExclusiveSelection(true);
    Press(CellCenter(1, 1));
    Move(CellCenter(3, 1));
    EXPECT_EQ(SelectedRows(), QList<int>({1, 2, 3}));
    // Below the client area the timer scrolls and extends the selection.
    Move(QPoint(100, grid->viewport()->height() + 30));
    QTest::qWait(400);
    Release(QPoint(100, grid->viewport()->height() + 30));
    EXPECT_GT(grid->verticalScrollBar()->value(), 0);
    const QList<int> rows = SelectedRows();
    ASSERT_FALSE(rows.isEmpty());
    EXPECT_EQ(rows.first(), 1);
    EXPECT_GT(rows.last(), 10);
    EXPECT_EQ(rows.size(), rows.last()); // one block from row 1
}

TEST_F(GridFixture, ColumnBordersInTheHeaderResize)
{
    Fill(Albums(3));
    ShowGrid();
    const int y = CellCenter(0, 1).y();
    const int border = grid->GetCellRect(0, 0).right() + 1;
    Press(QPoint(border, y));
    Move(QPoint(border + 40, y));
    Release(QPoint(border + 40, y));
    EXPECT_EQ(grid->GetColumnWidth(0), 90);
    EXPECT_EQ(grid->GetSortColumn(), -1); // a border press is no header click
    // The same border lower down, in a normal row, is just a click.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, QPoint(grid->GetCellRect(0, 0).right() + 1, CellCenter(2, 0).y()));
    EXPECT_EQ(grid->GetColumnWidth(0), 90);
    // Dragged past the left edge the column is hidden, not negative.
    const int border2 = grid->GetCellRect(0, 2).right() + 1;
    Press(QPoint(border2, y));
    Move(QPoint(5, y));
    Release(QPoint(5, y));
    EXPECT_EQ(grid->GetColumnWidth(2), 0);
}

TEST_F(GridFixture, ReleaseOnThePressedFocusCellEditsIt)
{
    Fill(Albums(3));
    ShowGrid();
    grid->SetExclusiveSelection(true);
    Click(2, 1);
    EXPECT_FALSE(grid->IsEditing());
    notes.clear();
    Click(2, 1);
    ASSERT_TRUE(grid->IsEditing());
    EXPECT_EQ(notes.front(), Note(kGvnBeginLabelEdit, 2, 1));
    auto *editor = grid->viewport()->findChild<QLineEdit *>();
    ASSERT_NE(editor, nullptr);
    editor->setText(u"新名字"_s);
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_FALSE(grid->IsEditing());
    EXPECT_EQ(grid->GetItemText(2, 1), u"新名字"_s);
    EXPECT_EQ(notes.back(), Note(kGvnEndLabelEdit, 2, 1));
    // Escape keeps the old text.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(grid->viewport()->findChild<QLineEdit *>(), nullptr);
    Click(2, 1);
    ASSERT_TRUE(grid->IsEditing());
    editor = grid->viewport()->findChild<QLineEdit *>();
    ASSERT_NE(editor, nullptr);
    editor->setText(u"不要"_s);
    QTest::keyClick(editor, Qt::Key_Escape);
    EXPECT_EQ(grid->GetItemText(2, 1), u"新名字"_s);

    // Where clicks add to the selection, a second click never edits.
    QApplication::processEvents();
    grid->SetExclusiveSelection(false);
    Click(3, 1);
    Click(3, 1);
    EXPECT_FALSE(grid->IsEditing());
}

TEST_F(GridFixture, TitleTipShowsTextThatDoesNotFit)
{
    const QString longName = QString(u"很长的相册名称"_s).repeated(12);
    Fill({{longName, 1, {}}, {u"短"_s, 2, {}}});
    ShowGrid();
    const auto tip = [&](int row) {
        const QPoint at = CellCenter(row, 1);
        QHelpEvent event(QEvent::ToolTip, at, grid->viewport()->mapToGlobal(at));
        QApplication::sendEvent(grid->viewport(), &event);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    EXPECT_EQ(tip(2), QString());
    EXPECT_EQ(tip(1), longName);
    tip(2);
    QTest::qWait(500);
    EXPECT_FALSE(QToolTip::isVisible());
}

TEST(GridFormat, PrintfStyleCellTexts)
{
    using tamblin::Format;
    EXPECT_EQ(Format(u"%04d", 7), u"0007"_s);
    EXPECT_EQ(Format(u"%04d", 12345), u"12345"_s);
    EXPECT_EQ(Format(u"%4u", 7), u"   7"_s);
    EXPECT_EQ(Format(u"%08u", 0x7FFFFFFF & -5), u"2147483643"_s);
    EXPECT_EQ(Format(u"%08u", 42), u"00000042"_s);
    EXPECT_EQ(Format(u"%u", -1), u"4294967295"_s); // a 32-bit argument stays 32-bit
    EXPECT_EQ(Format(u"%d.%s", 3, u"名称"_s), u"3.名称"_s);
    EXPECT_EQ(Format(u"%s (%u)", u"N"_s, 2u), u"N (2)"_s);
    EXPECT_EQ(Format(u"100%% %-4s|%5s", u"ab"_s, u"cd"_s), u"100% ab  |   cd"_s);
    EXPECT_EQ(Format(u"%s and %s", u"one"_s), u"one and "_s); // missing arguments print nothing
    EXPECT_EQ(Format(u"%y%", 1), u"%y%"_s);
}

TEST_F(GridFixture, ScrollRangeFollowsAppendedRows)
{
    ShowGrid(900, 300);
    for (int i = 0; i < 100; ++i)
        tamblin::test::AddAlbumRow(*grid, i, {u"x"_s, i, {}});
    const int expected = grid->GetTotalHeight() - grid->viewport()->height();
    // Anything that scrolls sees the new rows at once...
    grid->ScrollRowToTop(100);
    EXPECT_EQ(grid->verticalScrollBar()->maximum(), expected);
    EXPECT_EQ(grid->verticalScrollBar()->value(), expected);
    // ...and the scroll bar itself catches up without help.
    for (int i = 100; i < 150; ++i)
        tamblin::test::AddAlbumRow(*grid, i, {u"x"_s, i, {}});
    const int later = grid->GetTotalHeight() - grid->viewport()->height();
    for (int i = 0; i < 50 && grid->verticalScrollBar()->maximum() != later; ++i)
        QTest::qWait(10);
    EXPECT_EQ(grid->verticalScrollBar()->maximum(), later);
}

TEST_F(GridFixture, DragOverEarlierSelectionKeepsIt)
{
    Fill(Albums(20));
    ShowGrid(900, 800);
    Click(2, 1);
    Click(12, 1);
    // Clicks add, so a drag adds its range to rows 2 and 12...
    Press(CellCenter(10, 1));
    Move(CellCenter(14, 1));
    EXPECT_EQ(SelectedRows(), QList<int>({2, 10, 11, 12, 13, 14}));
    // ...and shrinking the drag gives back only what the drag added.
    Move(CellCenter(11, 1));
    EXPECT_EQ(SelectedRows(), QList<int>({2, 10, 11, 12}));
    Move(CellCenter(8, 1));
    EXPECT_EQ(SelectedRows(), QList<int>({2, 8, 9, 10, 12}));
    Release(CellCenter(8, 1));
    EXPECT_EQ(grid->GetFocusCell(), CCellID(8, 1));
    // A key press starts afresh: the selection becomes the new row alone.
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(SelectedRows(), QList<int>({9}));
    // Taking a range out keeps the rest.
    grid->SelectRow(-1);
    grid->SetSelectedRange(3, 0, 18, 5, false, false);
    EXPECT_EQ(SelectedRows(), QList<int>({1, 2, 19, 20}));
}

TEST_F(GridFixture, RowBordersInAFixedColumnResizeAndDragsStartFromSelectedRows)
{
    Fill(Albums(6));
    grid->SetFixedColumnCount(1);
    ShowGrid();
    const int x = CellCenter(2, 0).x();
    const int border = grid->GetCellRect(2, 0).bottom() + 1;
    const int before = grid->GetRowHeight(2);
    Press(QPoint(x, border));
    Move(QPoint(x, border + 25));
    Release(QPoint(x, border + 25));
    EXPECT_EQ(grid->GetRowHeight(2), before + 25);
    EXPECT_EQ(grid->GetCellRect(3, 1).top(), grid->GetCellRect(2, 1).bottom() + 1);
    // A click in the fixed column (away from a border) selects the row.
    Click(4, 0);
    EXPECT_EQ(SelectedRows(), QList<int>({4}));

    // Pressing a selected row without Ctrl and moving the mouse drags the
    // selection (the platform here ends the drag at once).
    grid->SetExclusiveSelection(true);
    notes.clear();
    Press(CellCenter(4, 2));
    Move(CellCenter(4, 2) + QPoint(30, 0));
    EXPECT_EQ(notes, (std::vector<Note>{{kGvnBeginDrag, 4, 1}}));
    Release(CellCenter(4, 2) + QPoint(30, 0));
    EXPECT_EQ(SelectedRows(), QList<int>({4}));
}

TEST_F(GridFixture, GridDestroyedWhileEditing)
{
    Fill(Albums(3));
    ShowGrid();
    grid->SetExclusiveSelection(true);
    grid->activateWindow();
    Click(2, 1);
    Click(2, 1);
    ASSERT_TRUE(grid->IsEditing());
    notes.clear();
    // The editor does not call back into the half-destroyed grid (ASan
    // watches the memory), so no end of editing is reported from there.
    delete grid;
    grid = nullptr;
    EXPECT_TRUE(notes.empty());
}

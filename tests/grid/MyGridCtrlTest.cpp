// The album grid's row search and CSV export.
#include "GridTestSupport.h"

#include "TestSupport.h"

#include <QScrollBar>

using namespace Qt::StringLiterals;
using tamblin::test::Album;
using tamblin::test::GridFixture;
using tamblin::test::TempDir;

namespace {

std::vector<Album> SearchAlbums()
{
    return {
        {u"Spring ABC trip"_s, 3, {}}, // row 1
        {u"夏天"_s, 4, u"私密相册"_s},  // row 2
        {u"abc"_s, 5, {}},              // row 3
        {u"autumn"_s, -1, {}},          // row 4
        {u"xABCx"_s, 7, u"加密相册"_s}, // row 5
    };
}

} // namespace

TEST_F(GridFixture, FindRowModes)
{
    Fill(SearchAlbums());
    grid->SetItemText(4, 5, u"hidden abc"_s); // a hidden column takes part
    ShowGrid();

    QString keyword = u"ABC"_s;
    // Forwards from "nothing selected" (the row count) finds nothing.
    EXPECT_EQ(grid->FindRow(grid->GetRowCount(), keyword, 1, true, false), 0);
    // Ignoring case folds the keyword in place.
    EXPECT_EQ(keyword, u"abc"_s);
    // Wrap-around start: the fixed row count minus one.
    keyword = u"ABC"_s;
    EXPECT_NE(grid->FindRow(grid->GetFixedRowCount() - 1, keyword, 1, true, false), 0);
    EXPECT_EQ(SelectedRows(), QList<int>({1}));
    EXPECT_EQ(grid->GetSelectedCellRange().GetMinRow(), 1);
    EXPECT_FALSE(grid->GetFocusCell().IsValid());
    // Next from the selection.
    EXPECT_NE(grid->FindRow(1, keyword, 1, true, false), 0);
    EXPECT_EQ(SelectedRows(), QList<int>({3}));
    EXPECT_NE(grid->FindRow(3, keyword, 1, true, false), 0);
    EXPECT_EQ(SelectedRows(), QList<int>({4})); // through the hidden column
    EXPECT_NE(grid->FindRow(4, keyword, 1, true, false), 0);
    EXPECT_EQ(SelectedRows(), QList<int>({5}));
    EXPECT_EQ(grid->FindRow(5, keyword, 1, true, false), 0);
    EXPECT_EQ(SelectedRows(), QList<int>({5})); // a failed search changes nothing

    // Case sensitive: "ABC" is in rows 1 and 5 only.
    keyword = u"ABC"_s;
    EXPECT_NE(grid->FindRow(1, keyword, 1, false, false), 0);
    EXPECT_EQ(keyword, u"ABC"_s);
    EXPECT_EQ(SelectedRows(), QList<int>({5}));

    // Backwards, from the row count (nothing selected) and from a row.
    keyword = u"abc"_s;
    EXPECT_NE(grid->FindRow(grid->GetRowCount(), keyword, 0, false, false), 0);
    EXPECT_EQ(SelectedRows(), QList<int>({4}));
    EXPECT_NE(grid->FindRow(4, keyword, 0, false, false), 0);
    EXPECT_EQ(SelectedRows(), QList<int>({3}));
    EXPECT_EQ(grid->FindRow(3, keyword, 0, false, false), 0);

    // Whole cell: equal texts only, case folded or not.
    keyword = u"ABC"_s;
    EXPECT_NE(grid->FindRow(0, keyword, 1, true, true), 0);
    EXPECT_EQ(SelectedRows(), QList<int>({3}));
    keyword = u"ABC"_s;
    EXPECT_EQ(grid->FindRow(0, keyword, 1, false, true), 0);
    keyword = u"Spring"_s;
    EXPECT_EQ(grid->FindRow(0, keyword, 1, false, true), 0);
    keyword = u"夏天"_s;
    EXPECT_NE(grid->FindRow(0, keyword, 1, false, true), 0);
    EXPECT_EQ(SelectedRows(), QList<int>({2}));
    keyword = u"未知"_s; // count column
    EXPECT_NE(grid->FindRow(0, keyword, 1, false, true), 0);
    EXPECT_EQ(SelectedRows(), QList<int>({4}));

    // The header row is never searched.
    keyword = u"名称"_s;
    EXPECT_EQ(grid->FindRow(-1, keyword, 1, false, false), 0);

    // An empty keyword: one message, non-zero so no second search follows,
    // and the selection stays.
    keyword.clear();
    EXPECT_NE(grid->FindRow(0, keyword, 1, true, false), 0);
    EXPECT_EQ(grid->messages, QStringList({u"关键字不能为空"_s}));
    EXPECT_EQ(SelectedRows(), QList<int>({4}));
}

TEST_F(GridFixture, FindRowScrollsTheMatchToTheTop)
{
    std::vector<Album> albums;
    for (int i = 0; i < 300; ++i)
        albums.push_back({u"album %1"_s.arg(i), i, {}});
    albums[150].name = u"needle"_s;
    albums[297].name = u"needle too"_s;
    Fill(albums);
    ShowGrid(900, 300);
    QString keyword = u"needle"_s;
    ASSERT_NE(grid->FindRow(0, keyword, 1, true, false), 0);
    EXPECT_EQ(SelectedRows(), QList<int>({151}));
    EXPECT_EQ(grid->GetCellFromPt(QPoint(5, grid->GetFixedRowHeight() + 1)).row, 151);
    // Near the end the scroll range stops it: the row is shown, not at the top.
    ASSERT_NE(grid->FindRow(151, keyword, 1, true, false), 0);
    EXPECT_EQ(grid->verticalScrollBar()->value(), grid->verticalScrollBar()->maximum());
    EXPECT_TRUE(grid->IsCellVisible(298, 1));
}

TEST_F(GridFixture, CsvBytes)
{
    TempDir dir;
    // Only the header row: an empty file.
    ASSERT_TRUE(grid->WriteCsv(dir.File(u"empty.csv"_s)));
    EXPECT_EQ(dir.Read(u"empty.csv"_s), QByteArray());

    Fill({
        {u"abc"_s, 12, {}},
        {u"say \"hi\", it's"_s, 3, u"加密相册"_s},
        {u"名称\u0E01x"_s, -1, {}}, // Thai: no GBK form
        {u"'',\"\""_s, 0, {}},
    });
    grid->SetItemText(1, 2, u"12"_s);
    grid->SetItemText(1, 5, u"hid"_s + QChar(0) + u"den"_s); // hidden columns are written too
    ASSERT_TRUE(grid->WriteCsv(dir.File(u"albums.csv"_s)));
    const QByteArray expected = QByteArray("0001,abc,12,,,hidden,\r\n")
        + "0002,say \"\"hi\"\"',' its,   3,\xBC\xD3\xC3\xDC\xCF\xE0\xB2\xE1,,,\r\n"
        + "0003,\xC3\xFB\xB3\xC6?x,\xCE\xB4\xD6\xAA,,,,\r\n"
        + "0004,','\"\"\"\",   0,,,,\r\n";
    EXPECT_EQ(dir.Read(u"albums.csv"_s), expected);

    // ExportCsv asks for the name; a cancelled dialog writes nothing, and an
    // existing file is replaced.
    grid->saveName.clear();
    grid->ExportCsv();
    EXPECT_EQ(grid->saveAsked, 1);
    dir.Write(u"out.csv"_s, QByteArray(4000, 'z'));
    grid->saveName = dir.File(u"out.csv"_s);
    grid->ExportCsv();
    EXPECT_EQ(dir.Read(u"out.csv"_s), expected);
    // A file that cannot be created is given up silently.
    grid->saveName = dir.File(u"no/such/folder/x.csv"_s);
    grid->ExportCsv();
    EXPECT_FALSE(grid->WriteCsv(grid->saveName));
}

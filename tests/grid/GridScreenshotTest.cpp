// The album grid as a person sees it, kept as a PNG among the test outputs.
#include "GridTestSupport.h"

#include "TestSupport.h"

#include <QDir>
#include <QImage>
#include <QPixmap>

using namespace Qt::StringLiterals;
using tamblin::test::GridFixture;

TEST_F(GridFixture, AlbumListScreenshot)
{
    Fill({
        {u"春天的花"_s, 12, {}},
        {u"2013年夏天 海边旅行"_s, 245, u"加密相册"_s},
        {u"家人"_s, -1, u"私密相册"_s},
        {u"Weibo 配图"_s, 7, u"好友可见"_s},
        {u"猫咪日常，第一季"_s, 1024, {}},
        {u"旧照片扫描"_s, 88, u"00000042"_s},
    });
    // Text in the hidden columns must not show.
    for (int r = 1; r <= 6; ++r) {
        grid->SetItemText(r, 4, u"HIDDEN"_s);
        grid->SetItemText(r, 5, u"HIDDEN"_s);
    }
    ShowGrid(820, 300);
    // Sorted by name, so the header shows its sort mark.
    Click(0, 1);
    ASSERT_EQ(Column(1).first(), u"2013年夏天 海边旅行"_s);
    ASSERT_EQ(Column(1).last(), u"猫咪日常，第一季"_s);
    Click(2, 1);
    Click(5, 1);
    Click(4, 2);
    ASSERT_EQ(SelectedRows(), QList<int>({2, 4, 5}));

    const QImage image = grid->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QString path = QDir(tamblin::test::TestOutputDir()).filePath(u"grid_album_list.png"_s);
    ASSERT_TRUE(image.save(path)) << path.toStdString();

    const auto pixel = [&](QPoint p) { return QColor(image.pixel(p)); };
    // Header background (away from the text and the bevel).
    const QRect header = grid->GetCellRect(0, 3);
    EXPECT_EQ(pixel(QPoint(header.right() - 4, header.top() + 4)), grid->GetFixedBkColor());
    // A selected row shows the selection colour, an unselected one white.
    const QRect selected = grid->GetCellRect(4, 3);
    EXPECT_EQ(pixel(QPoint(selected.right() - 4, selected.top() + 4)), QColor(199, 227, 227));
    const QRect plain = grid->GetCellRect(3, 1);
    EXPECT_EQ(pixel(QPoint(plain.right() - 4, plain.top() + 4)), QColor(Qt::white));
    // Right of the last shown column only the background: the hidden columns
    // draw nothing, not even their text.
    const int edge = grid->GetCellRect(1, 3).right() + 1;
    ASSERT_LT(edge + 20, image.width());
    for (int y = grid->GetFixedRowHeight() + 2; y < grid->GetCellRect(6, 3).bottom(); ++y)
        for (int x = edge + 1; x < edge + 20; ++x)
            ASSERT_EQ(pixel(QPoint(x, y)), grid->GetBkColor()) << x << "," << y;
    // The selected row's text is drawn in black on the selection colour.
    bool dark = false;
    const QRect name = grid->GetCellRect(2, 1);
    for (int x = name.left(); x < name.right() && !dark; ++x)
        for (int y = name.top(); y < name.bottom() && !dark; ++y)
            dark = qGray(image.pixel(x, y)) < 80;
    EXPECT_TRUE(dark);
}

TEST_F(GridFixture, ThumbnailSheetDrawsImagesAndExportsEveryRow)
{
    // The preview layout: no header row, six columns of thumbnails.
    grid->SetRedraw(false);
    grid->DeleteAllItems();
    grid->SetupGrid(0, 0, 6, false);
    const int margin = grid->GetDefaultCell(false, false)->GetMargin();
    for (int c = 0; c < 6; ++c)
        grid->SetColumnWidth(c, 113 + 2 * margin);
    QPixmap red(113, 120);
    red.fill(Qt::red);
    QPixmap blue(113, 120);
    blue.fill(Qt::blue);
    const QList<QPixmap> images{red, blue};
    grid->SetImageList(&images);
    for (int index = 0; index < 8; ++index) {
        const int row = index / 6;
        const int col = index % 6;
        if (col == 0) {
            ASSERT_EQ(grid->AppendRow(), row);
            grid->SetRowHeight(row, 130);
        }
        ASSERT_TRUE(grid->SetItemImage(row, col, index % 2));
        grid->SetItemTextFmt(row, col, u"%d.%s", index + 1, u"相册"_s);
        grid->SetItemData(row, col, index);
    }
    grid->SetRedraw(true, true);
    ShowGrid(900, 300);

    const QImage image = grid->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    image.save(QDir(tamblin::test::TestOutputDir()).filePath(u"grid_thumbnails.png"_s));
    EXPECT_EQ(QColor(image.pixel(grid->GetCellRect(0, 0).center())), QColor(Qt::red));
    EXPECT_EQ(QColor(image.pixel(grid->GetCellRect(1, 1).center())), QColor(Qt::blue));
    // Cells of the last row without an album stay empty.
    EXPECT_EQ(QColor(image.pixel(grid->GetCellRect(1, 2).center())), QColor(Qt::white));

    // Without a header row, the first row is exported too.
    tamblin::test::TempDir dir;
    ASSERT_TRUE(grid->WriteCsv(dir.File(u"t.csv"_s)));
    const QList<QByteArray> lines = dir.Read(u"t.csv"_s).split('\n');
    ASSERT_EQ(lines.size(), 3); // two rows and the empty rest after the last LF
    EXPECT_TRUE(lines[0].startsWith("1.\xCF\xE0\xB2\xE1,2."));
    grid->SetImageList(nullptr);
}

// The preview view in the window: switching with check box 1014, the covers
// and captions, downloading the ticked cells, interrupting a switch, and a
// list run while the preview view is shown.
#include "FakeService.h"
#include "WidgetTestHelpers.h"
#include "WindowTestSupport.h"

#include "dialogs/DlgFind.h"
#include "grid/MyGridCtrl.h"

#include <QAbstractButton>
#include <QBuffer>
#include <QCheckBox>
#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>

using namespace Qt::StringLiterals;

namespace tamblin::test {
namespace {

const QString kAddress = u"http://photo.blog.sina.com.cn/u/8"_s;

QString CoverUrl(int i)
{
    return u"http://static.photo.sina.com.cn/orignal/cover%1.jpg"_s.arg(i);
}

// A Sina photo user "小明" with albums "相册1".."相册n" of one picture each;
// covers of their own colour, the one of album 2 (cover1) slow the first
// time it is asked for when `slowSecondCover`.
QByteArray PreviewData(int count, bool slowSecondCover = false)
{
    QJsonArray albums;
    QJsonObject pages;
    QJsonObject pictures;
    for (int i = 0; i < count; ++i) {
        const QString small = u"http://static.photo.sina.com.cn/small/p%1"_s.arg(i);
        albums.append(QJsonObject{{u"name"_s, u"相册%1"_s.arg(i + 1)},
                                  {u"ctg_id"_s, QString::number(i + 1)},
                                  {u"photos"_s, QJsonArray{QJsonObject{{u"src"_s, small}, {u"title"_s, u"图"_s}}}}});
        pictures.insert(u"http://static.photo.sina.com.cn/orignal/p%1"_s.arg(i), QJsonObject{{u"size"_s, 2000}});
        QImage cover(240, 180, QImage::Format_RGB32);
        cover.fill(QColor::fromHsv((i * 53) % 360, 150, 230));
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        cover.save(&buffer, "JPEG");
        pages.insert(CoverUrl(i), QJsonObject{{u"body_base64"_s, QString::fromLatin1(jpeg.toBase64())},
                                              {u"content_type"_s, u"image/jpeg"_s}});
    }
    QJsonArray faults;
    if (slowSecondCover)
        faults.append(QJsonObject{{u"match"_s, CoverUrl(1)}, {u"delay"_s, 3}, {u"times"_s, 1}});
    const QJsonObject data{
        {u"sina_photo_users"_s, QJsonArray{QJsonObject{{u"uid"_s, u"8"_s}, {u"title"_s, u"小明"_s}, {u"albums"_s, albums}}}},
        {u"pages"_s, pages},
        {u"pictures"_s, pictures},
        {u"faults"_s, faults}};
    return QJsonDocument(data).toJson();
}

class WindowPreview : public WindowFixture {
protected:
    void ListAlbums(int count)
    {
        TypeAddress(kAddress);
        Click(CTamblinDlg::kIdGetAlbums);
        ASSERT_TRUE(WaitListIdle());
        ASSERT_EQ(Rows(), count);
    }
    QCheckBox *PreviewBox() const { return Find<QCheckBox>(CTamblinDlg::kIdPreview); }
    void ClickPreviewBox() { QTest::mouseClick(PreviewBox(), Qt::LeftButton); }
    bool WaitSwitched() const
    {
        return WaitFor([this] { return window->Core().m_previewState == 0; }, 30000);
    }
    // Cell texts in reading order, up to the last one not empty.
    QStringList Captions() const
    {
        QStringList texts;
        const CMyGridCtrl *grid = window->Grid();
        for (int r = 0; r < grid->GetRowCount(); ++r)
            for (int c = 0; c < grid->GetColumnCount(); ++c)
                texts << grid->GetItemText(r, c);
        while (!texts.isEmpty() && texts.last().isEmpty())
            texts.removeLast();
        return texts;
    }
    static QStringList AllCaptions(int count)
    {
        QStringList texts;
        for (int i = 1; i <= count; ++i)
            texts << u"%1.相册%1"_s.arg(i);
        return texts;
    }
    int CellsWithCovers() const
    {
        int covered = 0;
        const CMyGridCtrl *grid = window->Grid();
        for (int r = 0; r < grid->GetRowCount(); ++r)
            for (int c = 0; c < grid->GetColumnCount(); ++c)
                covered += grid->GetItemImage(r, c) >= 0;
        return covered;
    }
    void ClickCell(int row, int col, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        CMyGridCtrl *grid = window->Grid();
        grid->EnsureVisible(row, col);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, mods, grid->GetCellRect(row, col).center());
    }
    static qsizetype CoverRequests(const FakeService &service)
    {
        const QStringList urls = service.RequestedUrls();
        return std::count_if(urls.begin(), urls.end(), [](const QString &u) { return u.contains(u"/cover"_s); });
    }
};

TEST_F(WindowPreview, ShowsCoversDownloadsTheTickedCellsAndASecondSwitchFetchesNothing)
{
    FakeService service(PreviewData(14));
    ASSERT_TRUE(service.IsRunning());
    OpenWindow();
    ListAlbums(14);
    // A filter in the list view holds for its own rows only.
    WhenModalOpens<CDlgFind>([](CDlgFind *filter) {
        TypeInto(filter->findChild<QLineEdit *>(QString::number(CDlgFind::kIdKeyword)), u"相册1"_s);
        QTest::mouseClick(filter->findChild<QAbstractButton *>(QString::number(CDlgFind::kIdNext)), Qt::LeftButton);
    });
    auto *filterLink = Find<QLabel>(CTamblinDlg::kIdFilterLink);
    QTest::mouseClick(filterLink, Qt::LeftButton, {}, QPoint(filterLink->sizeHint().width() / 2, filterLink->height() / 2));
    ASSERT_EQ(Rows(), 6);

    ClickPreviewBox();
    EXPECT_TRUE(PreviewBox()->isChecked());
    EXPECT_FALSE(Find<QLabel>(CTamblinDlg::kIdFilterLink)->isEnabled());
    EXPECT_FALSE(Find<QLabel>(CTamblinDlg::kIdFindLink)->isEnabled());
    EXPECT_TRUE(Find<QLabel>(CTamblinDlg::kIdExportLink)->isEnabled());
    ASSERT_TRUE(WaitSwitched());
    const CMyGridCtrl *grid = window->Grid();
    ASSERT_EQ(grid->GetRowCount(), 3);
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(grid->GetRowHeight(r), 130) << r;
    EXPECT_EQ(Captions(), AllCaptions(14)); // 6, 6 and 2 cells
    EXPECT_EQ(CellsWithCovers(), 14);
    // The picture hosts want to see the page the cover is shown on.
    for (int i = 0; i < 14; ++i)
        EXPECT_EQ(service.RequestHeader(CoverUrl(i), u"Referer"_s), u"http://photo.blog.sina.com.cn/"_s) << i;

    ClickCell(0, 1);
    ClickCell(2, 0, Qt::ControlModifier);
    QTest::qWait(50);
    EXPECT_TRUE(window->grab().save(QDir(TestOutputDir()).filePath(u"main-window-preview.png"_s)));
    // The captions of cells not ticked are drawn over the foot of their
    // covers (dark text, light covers).
    const QImage shot = grid->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (const auto &[row, col] : {std::pair{0, 0}, std::pair{1, 3}, std::pair{2, 1}}) {
        const QRect cell = grid->GetCellRect(row, col);
        int ink = 0;
        for (int y = cell.bottom() - 30; y <= cell.bottom(); ++y)
            for (int x = cell.left(); x <= cell.right(); ++x)
                ink += qRed(shot.pixel(x, y)) < 90 && qGreen(shot.pixel(x, y)) < 90 && qBlue(shot.pixel(x, y)) < 90;
        EXPECT_GT(ink, 20) << row << "," << col;
    }
    EXPECT_EQ(window->GetChosenAlbums(), (QList<int>{1, 12}));
    Click(CTamblinDlg::kIdDownload);
    ASSERT_TRUE(WaitDownIdle());
    QStringList folders;
    for (const QString &file : FilesIn(save))
        folders << file.section(u'/', 0, 1);
    folders.removeDuplicates();
    EXPECT_EQ(folders, (QStringList{u"小明/相册13"_s, u"小明/相册2"_s}));

    // Back to the list view: every album, the filter is spent; and into the
    // preview view again without a request.
    const qsizetype covers = CoverRequests(service);
    ClickPreviewBox();
    ASSERT_TRUE(WaitSwitched());
    EXPECT_EQ(Rows(), 14);
    EXPECT_TRUE(Find<QLabel>(CTamblinDlg::kIdFilterLink)->isEnabled());
    ClickPreviewBox();
    ASSERT_TRUE(WaitSwitched());
    EXPECT_EQ(Captions(), AllCaptions(14));
    EXPECT_EQ(CellsWithCovers(), 14);
    EXPECT_EQ(CoverRequests(service), covers);
}

TEST_F(WindowPreview, AnInterruptedSwitchKeepsItsCellsAndAListRunFillsThePreviewView)
{
    FakeService service(PreviewData(20, true));
    ASSERT_TRUE(service.IsRunning());
    OpenWindow();
    ListAlbums(20);

    // The switch waits for the second cover; a click on the box asks, and
    // Yes ends the switch, the box as it was.
    ClickPreviewBox();
    ASSERT_TRUE(WaitFor([this] { return !Captions().isEmpty(); }, 10000));
    QString title;
    QString question;
    WhenModalOpens<QMessageBox>([&](QMessageBox *box) {
        title = box->windowTitle();
        question = box->text();
        QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
    });
    ClickPreviewBox();
    EXPECT_EQ(title, u"提示"_s);
    EXPECT_EQ(question, u"模式转换未完成,是否中断?"_s);
    EXPECT_TRUE(PreviewBox()->isChecked());
    ASSERT_TRUE(WaitSwitched());
    EXPECT_EQ(Captions(), AllCaptions(1));

    // The list view has every album; the next switch starts over and ends.
    ClickPreviewBox();
    ASSERT_TRUE(WaitSwitched());
    EXPECT_EQ(Rows(), 20);
    ClickPreviewBox();
    ASSERT_TRUE(WaitSwitched());
    EXPECT_EQ(Captions(), AllCaptions(20));
    EXPECT_EQ(CellsWithCovers(), 20);

    // A list run in the preview view fetches the covers anew, album by album.
    const qsizetype covers = CoverRequests(service);
    Click(CTamblinDlg::kIdGetAlbums);
    ASSERT_TRUE(WaitListIdle());
    ASSERT_TRUE(WaitFor([this] { return CellsWithCovers() == 20; }, 10000));
    EXPECT_EQ(Captions(), AllCaptions(20));
    EXPECT_EQ(CoverRequests(service), covers + 20);
    EXPECT_EQ(window->Grid()->GetRowHeight(3), 130);
}

} // namespace
} // namespace tamblin::test

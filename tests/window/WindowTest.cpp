// The main window's runs as a user goes through them: start-up, listing,
// choosing, downloading and stopping, against the fake service.
#include "FakeService.h"
#include "WidgetTestHelpers.h"
#include "WindowTestSupport.h"

#include "app/ComboBox2.h"
#include "download/WorkerPool.h"
#include "grid/MyGridCtrl.h"
#include "sources/ListTexts.h"

#include <QClipboard>
#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QProcess>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace tamblin::test {
namespace {

const QString kBlog = u"http://blog.sina.com.cn/s/articlelist_1111_0_1.html"_s;

// A blog of three articles of a picture each, `perPage` articles a page;
// the second page and the pictures are slow to come.
QByteArray BlogData(int perPage, double secondPageDelay, double pictureDelay)
{
    return uR"j({"sina_blogs": [{"uid": "1111", "title": "小明的博客", "per_page": %1, "articles": [
        {"id": "a1", "title": "周末去爬山", "pictures": ["http://s1.sinaimg.cn/middle/p1"]},
        {"id": "a2", "title": "夜景", "pictures": ["http://s1.sinaimg.cn/mw690/p2"]},
        {"id": "a3", "title": "旧照片", "pictures": ["http://s1.sinaimg.cn/bmiddle/p3"]}]}],
      "pictures": {"http://s1.sinaimg.cn/orignal/p1": {"size": 2000},
                   "http://s1.sinaimg.cn/orignal/p2": {"format": "png", "size": 3000},
                   "http://s1.sinaimg.cn/orignal/p3": {"size": 2500}},
      "faults": [{"match": "http://blog.sina.com.cn/s/articlelist_1111_0_2.html", "delay": %2},
                 {"match": "http://s1.sinaimg.cn/orignal/", "delay": %3}]})j"_s
        .arg(perPage)
        .arg(secondPageDelay)
        .arg(pictureDelay)
        .toUtf8();
}

// Records every text a label shows while it lives.
class TextRecorder : public QObject {
public:
    explicit TextRecorder(const std::function<QString()> &read) : m_read(read)
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const QString text = m_read();
            if (m_texts.isEmpty() || m_texts.back() != text)
                m_texts.append(text);
        });
        m_timer.start(0);
    }
    QStringList Texts() const { return m_texts; }

private:
    std::function<QString()> m_read;
    QTimer m_timer;
    QStringList m_texts;
};

using WindowRun = WindowFixture;

TEST_F(WindowRun, ListsChoosesAndDownloadsAsTamblinCliDoes)
{
    FakeService service(BlogData(2, 1.5, 0.2));
    ASSERT_TRUE(service.IsRunning());
    OpenWindow();
    EXPECT_EQ(window->windowTitle(), u"Vantor新浪Morvane"_s);
    EXPECT_EQ(Find<CComboBox2>(CTamblinDlg::kIdSavePathBox)->currentText(), save);
    EXPECT_FALSE(Button(CTamblinDlg::kIdDownload)->isEnabled());

    TypeAddress(u"  "_s + kBlog + u" "_s);
    Click(CTamblinDlg::kIdGetAlbums);
    // The first page's rows are there while the second page is awaited.
    ASSERT_TRUE(WaitFor([this] { return Rows() == 2; }, 10000));
    EXPECT_EQ(Button(CTamblinDlg::kIdGetAlbums)->text(), u"终止获取"_s);
    EXPECT_EQ(LabelText(kIdStatusMain), u"正在获取相册列表，请稍等..."_s);
    EXPECT_FALSE(Find<QWidget>(CTamblinDlg::kIdBanner)->isVisible());
    EXPECT_FALSE(Find<QWidget>(CTamblinDlg::kIdAddressBox)->isEnabled());
    ASSERT_TRUE(WaitListIdle());
    EXPECT_EQ(Column(1), (QStringList{u"周末去爬山"_s, u"夜景"_s, u"旧照片"_s}));
    EXPECT_EQ(Column(0), (QStringList{u"0001"_s, u"0002"_s, u"0003"_s}));
    EXPECT_EQ(Find<QGroupBox>(kIdAlbumFrame)->title(), u"相册列表(共3个)"_s);
    EXPECT_EQ(LabelText(kIdStatusMain), u"获取相册列表完成，共3个"_s);
    EXPECT_TRUE(Button(CTamblinDlg::kIdDownload)->isEnabled());
    // The trimmed address enters the history, on disk and in the box.
    EXPECT_TRUE(WaitFor([this] { return SavedSettings().addressHistory[0].Get() == kBlog; }, 5000));
    EXPECT_EQ(Find<CComboBox2>(CTamblinDlg::kIdAddressBox)->Items(), QStringList{kBlog});

    ClickRow(1);
    ClickRow(3);
    EXPECT_EQ(window->GetChosenAlbums(), (QList<int>{0, 2}));
    TypeSavePath(save + u"gui"_s);
    TextRecorder mainStatus([this] { return LabelText(kIdStatusMain); });
    TextRecorder pictureStatus([this] { return LabelText(kIdStatusPicture); });
    Click(CTamblinDlg::kIdDownload);
    // Pressed at once, before the window has shown the download as busy.
    Click(CTamblinDlg::kIdGetAlbums);
    EXPECT_EQ(window->Core().m_listState, 0);
    ASSERT_TRUE(WaitFor([this] { return Button(CTamblinDlg::kIdDownload)->text() == u"终止下载"_s; }, 10000));
    EXPECT_FALSE(Button(CTamblinDlg::kIdGetAlbums)->isEnabled());
    EXPECT_FALSE(Button(CTamblinDlg::kIdChooseFolder)->isEnabled());
    ASSERT_TRUE(WaitDownIdle());
    EXPECT_EQ(LabelText(kIdStatusMain), u"下载完毕"_s);
    EXPECT_TRUE(mainStatus.Texts().contains(u"正在下载第1/2个图集"_s)) << mainStatus.Texts().join(u'|').toStdString();
    EXPECT_TRUE(mainStatus.Texts().contains(u"正在下载第2/2个图集"_s));
    EXPECT_TRUE(pictureStatus.Texts().contains(u"已开始下载图片"_s)) << pictureStatus.Texts().join(u'|').toStdString();
    EXPECT_TRUE(Button(CTamblinDlg::kIdGetAlbums)->isEnabled());

    // tamblin-cli, asked for the same rows, writes the same files.
    TempDir cliStart;
    const QString cliSave = cliStart.Path() + u"cli"_s;
    QProcess cli;
    cli.setWorkingDirectory(cliStart.Path());
    cli.start(QString::fromUtf8(TAMBLIN_CLI_PATH), {u"download"_s, kBlog, u"--albums"_s, u"1,3"_s, u"--save"_s, cliSave});
    ASSERT_TRUE(cli.waitForFinished(60000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    const auto written = FilesWithContents(save + u"gui"_s);
    EXPECT_EQ(FilesIn(save + u"gui"_s), (QStringList{u"小明的博客/周末去爬山/pic.orv"_s, u"小明的博客/周末去爬山/周末去爬山.jpg"_s,
                                                  u"小明的博客/旧照片/pic.orv"_s, u"小明的博客/旧照片/旧照片.jpg"_s}));
    EXPECT_TRUE(written == FilesWithContents(cliSave));
}

TEST_F(WindowRun, SecondPressesStopBothRuns)
{
    FakeService service(BlogData(1, 2.0, 1.0));
    ASSERT_TRUE(service.IsRunning());
    OpenWindow();
    TypeAddress(kBlog);
    Click(CTamblinDlg::kIdGetAlbums);
    ASSERT_TRUE(WaitFor([this] { return Rows() == 1; }, 10000));
    Click(CTamblinDlg::kIdGetAlbums);
    EXPECT_EQ(window->Core().m_listState, 2);
    // The text stays until the worker reaches its next check: after the
    // album of the page it is waiting for.
    EXPECT_EQ(Button(CTamblinDlg::kIdGetAlbums)->text(), u"终止获取"_s);
    ASSERT_TRUE(WaitListIdle());
    EXPECT_EQ(Rows(), 2);
    EXPECT_EQ(Find<QGroupBox>(kIdAlbumFrame)->title(), u"相册列表(共2个)"_s);

    // Stopped during the first album's picture, the second album never starts.
    QTest::mouseClick(Find<QWidget>(CTamblinDlg::kIdSelectAll), Qt::LeftButton);
    Click(CTamblinDlg::kIdDownload);
    ASSERT_TRUE(WaitFor([] { return g_poolRunning.load(); }, 10000));
    Click(CTamblinDlg::kIdDownload);
    EXPECT_EQ(window->Core().m_downState, 3);
    ASSERT_TRUE(WaitDownIdle());
    EXPECT_EQ(LabelText(kIdStatusMain), u"下载完毕"_s);
    const QStringList files = FilesIn(save);
    EXPECT_FALSE(files.contains(u"小明的博客/夜景/夜景.jpg"_s)) << files.join(u' ').toStdString();
    EXPECT_LE(files.size(), 1);
}

TEST_F(WindowRun, GetAlbumsDoesNothingBeforeStartUpAndDownloadNeedsAnAlbum)
{
    FakeService service(R"({"sina_photo_users": [{"uid": "5", "title": "空", "albums": []}]})");
    ASSERT_TRUE(service.IsRunning());
    OpenWindow(false);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    TypeAddress(u"http://photo.blog.sina.com.cn/u/5"_s);
    Click(CTamblinDlg::kIdGetAlbums);
    QTest::qWait(200);
    EXPECT_EQ(window->Core().m_listState, 0);
    EXPECT_EQ(Button(CTamblinDlg::kIdGetAlbums)->text(), u"获取相册"_s);
    EXPECT_TRUE(service.RequestedUrls().isEmpty());

    window->Start();
    ASSERT_TRUE(WaitFor([this] { return window->Core().m_ready == 1; }, 10000));
    MessageBoxAnswerer answerer;
    Click(CTamblinDlg::kIdGetAlbums);
    ASSERT_TRUE(WaitListIdle());
    EXPECT_EQ(answerer.Texts().size(), 1);
    EXPECT_EQ(Find<QGroupBox>(kIdAlbumFrame)->title(), u"相册列表(共0个)"_s);
    EXPECT_FALSE(Button(CTamblinDlg::kIdDownload)->isEnabled());
    // A failed address is not remembered.
    EXPECT_TRUE(SavedSettings().addressHistory[0].Get().isEmpty());
}

TEST_F(WindowRun, AWeiboGuestWhoseWallAnswers404IsToldWhyAndToLogIn)
{
    FakeService service(R"j({"weibo_users": [{"uid": "77", "nickname": "n", "guest": true,
      "image_wall": {"pictures": ["006AbCdEfxly1h0000000000alb01"]}}],
      "faults": [{"match": "https://weibo.com/ajax/profile/getImageWall", "status": 404, "body": "<html>404</html>"}]})j");
    ASSERT_TRUE(service.IsRunning());
    start.Write(u"下载器扩展设置.ini"_s, "[微博]\r\n请求间隔毫秒=0\r\n");
    OpenWindow();
    TypeAddress(u"https://weibo.com/u/77"_s);
    MessageBoxAnswerer answerer(QDir(TestOutputDir()).filePath(u"no-album-login-hint.png"_s));
    Click(CTamblinDlg::kIdGetAlbums);
    ASSERT_TRUE(WaitListIdle());
    EXPECT_EQ(answerer.Texts(), QStringList{u"微博返回错误：not JSON（HTTP 404）\n"_s + QString::fromUtf16(texts::kLoginHint)});
    EXPECT_EQ(LabelText(kIdStatusMain), u"没有获取到相册"_s);
}

TEST_F(WindowRun, TakesTheClipboardTextOnlyWhenItLooksLikeAnAddress)
{
    const QString full199 = u"http://photo.blog.sina.com.cn/u/"_s + QString(199 - 32, u'1');
    ASSERT_EQ(full199.size(), 199);
    struct Case {
        const char *what;
        std::function<void(QClipboard *)> set;
        QString expected;
    };
    const Case cases[] = {
        {"199 characters", [&](QClipboard *c) { c->setText(full199); }, full199},
        {"200 characters", [&](QClipboard *c) { c->setText(full199 + u"1"_s); }, QString()},
        {"blanks around", [](QClipboard *c) { c->setText(u"  http://weibo.com/u/1 \n"_s); }, u"http://weibo.com/u/1"_s},
        {"only blanks", [](QClipboard *c) { c->setText(u" \t\n "_s); }, QString()},
        {"an image", [](QClipboard *c) { c->setImage(QImage(4, 4, QImage::Format_RGB32)); }, QString()},
        {"binary data",
         [](QClipboard *c) {
             auto *data = new QMimeData;
             data->setData(u"application/octet-stream"_s, QByteArray("\x01\x02http", 6));
             c->setMimeData(data);
         },
         QString()},
        {"control characters", [](QClipboard *c) { c->setText(u"http://a\x01\x02"_s); }, QString()},
    };
    for (const Case &c : cases) {
        c.set(QGuiApplication::clipboard());
        OpenWindow(false);
        EXPECT_EQ(Find<CComboBox2>(CTamblinDlg::kIdAddressBox)->currentText(), c.expected) << c.what;
        window.reset();
    }
    QGuiApplication::clipboard()->clear();
}

TEST_F(WindowRun, ScreenshotWithAlbumsListed)
{
    FakeService service(uR"j({"sina_photo_users": [{"uid": "7", "title": "小明的相册", "albums": [
        {"name": "西湖春游", "ctg_id": "1", "pic_cnt": 24}, {"name": "毕业照 2013", "ctg_id": "2", "pic_cnt": 8},
        {"name": "西湖春游", "ctg_id": "3", "pic_cnt": 3}, {"name": "猫咪 & 狗狗", "ctg_id": "4", "pic_cnt": 517},
        {"name": "家乡的秋天", "ctg_id": "5", "pic_cnt": 66}]}]})j"_s.toUtf8());
    ASSERT_TRUE(service.IsRunning());
    OpenWindow();
    TypeAddress(u"http://photo.blog.sina.com.cn/u/7"_s);
    Click(CTamblinDlg::kIdGetAlbums);
    ASSERT_TRUE(WaitListIdle());
    ASSERT_EQ(Rows(), 5);
    EXPECT_EQ(Column(1)[2], u"西湖春游 (1)"_s);
    ClickRow(2);
    QTest::qWait(50);
    const QString path = QDir(TestOutputDir()).filePath(u"main-window.png"_s);
    EXPECT_TRUE(window->grab().save(path, "PNG")) << path.toStdString();
}

} // namespace
} // namespace tamblin::test

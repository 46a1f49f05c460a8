// The demo of tools/demo.sh as a newcomer tries it: each demo address is
// listed, shown in the preview view, and every album downloaded. Each album
// gives the pictures its row announces, and every cover the list names is
// shown.
#include "FakeService.h"
#include "WindowTestSupport.h"

#include "app/AlbumList.h"
#include "grid/MyGridCtrl.h"
#include "net/CookieStore.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QTest>

using namespace Qt::StringLiterals;

namespace tamblin::test {
namespace {

class WindowDemo : public WindowFixture {};

TEST_F(WindowDemo, EveryDemoAlbumShowsItsCoverAndDownloadsEveryPictureItAnnounces)
{
    QFile demo(SourceDir() + u"/tests/fake_service/demo.json"_s);
    ASSERT_TRUE(demo.open(QIODevice::ReadOnly));
    FakeService service(demo.readAll());
    ASSERT_TRUE(service.IsRunning());
    // The demo's Weibo login.
    Cookie login;
    login.domain = u"weibo.com"_s;
    login.hostOnly = false;
    login.name = u"SUB"_s;
    login.value = u"demo-login"_s;
    CookieStore::Instance().AddCookie(login);
    OpenWindow();

    const QString addresses[] = {u"http://photo.blog.sina.com.cn/u/1234567890"_s,
                                 u"http://blog.sina.com.cn/s/articlelist_1234567890_0_1.html"_s,
                                 u"http://weibo.com/u/2000000001"_s, u"https://weibo.com/u/2000000002"_s};
    for (int n = 0; n < int(std::size(addresses)); ++n) {
        SCOPED_TRACE(addresses[n].toStdString());
        const QString folder = save + QString::number(n) + u'/';
        TypeSavePath(folder);
        TypeAddress(addresses[n]);
        Click(CTamblinDlg::kIdGetAlbums);
        ASSERT_TRUE(WaitListIdle());
        const AlbumList &albums = window->Core().m_albums;
        ASSERT_GT(albums.Size(), 0);

        auto *preview = Find<QCheckBox>(CTamblinDlg::kIdPreview);
        if (!preview->isChecked())
            QTest::mouseClick(preview, Qt::LeftButton);
        ASSERT_TRUE(WaitFor([&] { return window->Core().m_previewState == 0; }, 30000));
        // Every album shows a cover; a blog article, which its list gives
        // none, its first picture.
        const CMyGridCtrl *grid = window->Grid();
        for (int i = 0; i < albums.Size(); ++i) {
            const int image = grid->GetItemImage(i / grid->GetColumnCount(), i % grid->GetColumnCount());
            EXPECT_GE(image, 0) << albums.At(i)->name.toStdString();
        }
        if (n == 0) {
            EXPECT_TRUE(window->grab().save(QDir(TestOutputDir()).filePath(u"main-window-demo.png"_s)));
        } else if (n == 1) {
            EXPECT_TRUE(window->grab().save(QDir(TestOutputDir()).filePath(u"main-window-demo-blog.png"_s)));
            // The article's cover is the picture its download gives.
            EXPECT_TRUE(service.RequestedUrls().contains(u"http://s1.sinaimg.cn/orignal/4990a8f60102e001_1.png"_s));
        }

        auto *all = Find<QCheckBox>(CTamblinDlg::kIdSelectAll);
        if (all->isChecked())
            QTest::mouseClick(all, Qt::LeftButton);
        QTest::mouseClick(all, Qt::LeftButton);
        ASSERT_EQ(window->GetChosenAlbums().size(), albums.Size());
        Click(CTamblinDlg::kIdDownload);
        ASSERT_TRUE(WaitDownIdle(120000));
        // Pictures per album folder, the folder named after the album.
        QHash<QString, int> pictures;
        for (const QString &file : FilesIn(folder)) {
            if (!file.endsWith(u"pic.orv"_s) && !file.endsWith(u"failed.txt"_s))
                ++pictures[file.section(u'/', -2, -2)];
        }
        for (int i = 0; i < albums.Size(); ++i) {
            const ST_PERLISTRECORD *album = albums.At(i);
            if (album->count >= 0) {
                EXPECT_EQ(pictures.value(album->name), album->count) << album->name.toStdString();
            } else {
                EXPECT_GT(pictures.value(album->name), 0) << album->name.toStdString();
            }
        }
        EXPECT_EQ(pictures.size(), albums.Size()) << QStringList(pictures.keys()).join(u' ').toStdString();
    }
}

} // namespace
} // namespace tamblin::test

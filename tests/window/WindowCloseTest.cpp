// Closing the main window while its workers run: they stop within the
// bound, no partial picture stays behind and the settings survive.
#include "FakeService.h"
#include "WidgetTestHelpers.h"
#include "WindowTestSupport.h"

#include "download/WorkerPool.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace tamblin::test {
namespace {

using WindowClose = WindowFixture;

// Waits for the window's closed() signal; the time it took, or -1.
qint64 CloseAndTime(CTamblinDlg *window)
{
    QSignalSpy closed(window, &CTamblinDlg::closed);
    QElapsedTimer clock;
    clock.start();
    window->close();
    EXPECT_FALSE(window->isVisible());
    if (!closed.wait(int(CTamblinDlg::kCloseBound.count()) + 5000))
        return -1;
    return clock.elapsed();
}

TEST_F(WindowClose, DuringAPictureThatNeverEndsStopsWithinTheBoundAndLeavesNoPartialFile)
{
    FakeService service(uR"j({"sina_photo_users": [{"uid": "1", "title": "相册", "albums": [
        {"name": "甲", "ctg_id": "1", "photos": [
          {"src": "http://static.photo.sina.com.cn/small/ok", "title": "好"},
          {"src": "http://static.photo.sina.com.cn/small/endless", "title": "无尽"}]}]}],
      "pictures": {
        "http://static.photo.sina.com.cn/orignal/ok": {"size": 3000},
        "http://static.photo.sina.com.cn/orignal/endless": {"size": 3000, "hostile": "endless", "seconds": 120}}})j"_s
                              .toUtf8());
    ASSERT_TRUE(service.IsRunning());
    WriteSettings([](SoftSettings &s) {
        s.downParams[4].threads = 1;
        s.siteRules[4].flags = kFixOrder;
    });
    OpenWindow();
    TypeAddress(u"http://photo.blog.sina.com.cn/u/1"_s);
    Click(CTamblinDlg::kIdGetAlbums);
    ASSERT_TRUE(WaitListIdle());
    ASSERT_EQ(Rows(), 1);
    ASSERT_TRUE(WaitFor([this] { return !SavedSettings().addressHistory[0].Get().isEmpty(); }, 5000));
    const QByteArray settingsBefore = start.Read(u"soft.dat"_s);
    ClickRow(1);
    Click(CTamblinDlg::kIdDownload);
    const QString done = save + u"相册/甲/好.jpg"_s;
    // The endless picture is streaming once the first one is complete.
    ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(done) && g_poolRunning; }, 20000));
    QTest::qWait(300);

    const qint64 took = CloseAndTime(window.get());
    EXPECT_GE(took, 0);
    EXPECT_LT(took, CTamblinDlg::kCloseBound.count());
    EXPECT_TRUE(window->Shutdown());
    EXPECT_FALSE(g_poolRunning);
    window.reset();
    // No partial picture; the one given up is listed for a later retry.
    EXPECT_EQ(FilesIn(save), (QStringList{u"相册/甲/failed.txt"_s, u"相册/甲/好.jpg"_s}));
    QFile failed(save + u"相册/甲/failed.txt"_s);
    ASSERT_TRUE(failed.open(QIODevice::ReadOnly));
    const QString listed = QString::fromUtf8(failed.readAll());
    EXPECT_TRUE(listed.startsWith(u"http://static.photo.sina.com.cn/orignal/endless\t"_s)) << listed.toStdString();
    EXPECT_EQ(listed.count(u'\n'), 1);
    EXPECT_TRUE(start.Read(u"soft.dat"_s) == settingsBefore);
}

TEST_F(WindowClose, EndsTheMessageBoxOrLoginWindowAWorkerWaitsOn)
{
    FakeService service(R"j({"weibo_users": [{"uid": "2000000001", "albums": []}]})j");
    ASSERT_TRUE(service.IsRunning());
    struct Case {
        QString address;
        const char *waitsOn;
    };
    // No "http://": the list worker shows a message and waits for the answer.
    // A Weibo user who wants a login: it waits for the login window.
    const Case cases[] = {{u"weibo.com/u/1"_s, "QMessageBox"}, {u"http://weibo.com/u/2000000001"_s, "tamblin::CDlgWebOpen"}};
    for (const Case &c : cases) {
        OpenWindow();
        TypeAddress(c.address);
        Click(CTamblinDlg::kIdGetAlbums);
        ASSERT_TRUE(WaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 10000)) << c.waitsOn;
        EXPECT_TRUE(QApplication::activeModalWidget()->inherits(c.waitsOn)) << c.waitsOn;
        EXPECT_EQ(window->Core().m_listState, 1);
        const qint64 took = CloseAndTime(window.get());
        EXPECT_GE(took, 0) << c.waitsOn;
        EXPECT_LT(took, 2000) << c.waitsOn;
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        window.reset();
    }
}

TEST_F(WindowClose, DuringAPreviewSwitchWaitingForACover)
{
    FakeService service(uR"j({"sina_photo_users": [{"uid": "1", "title": "相册", "albums": [{"name": "甲"}, {"name": "乙"}]}],
      "faults": [{"match": "http://static.photo.sina.com.cn/orignal/cover", "delay": 30}]})j"_s.toUtf8());
    ASSERT_TRUE(service.IsRunning());
    OpenWindow();
    TypeAddress(u"http://photo.blog.sina.com.cn/u/1"_s);
    Click(CTamblinDlg::kIdGetAlbums);
    ASSERT_TRUE(WaitListIdle());
    QTest::mouseClick(Find<QWidget>(CTamblinDlg::kIdPreview), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return service.RequestedUrls().join(u' ').contains(u"/cover"_s); }, 10000));
    EXPECT_EQ(window->Core().m_previewState, 1);
    const qint64 took = CloseAndTime(window.get());
    EXPECT_GE(took, 0);
    EXPECT_LT(took, 3000);
    EXPECT_TRUE(window->Shutdown());
    window.reset();
}

} // namespace
} // namespace tamblin::test

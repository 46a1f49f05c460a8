// What the window says a download run did: the progress bar over the whole
// run, the summary beside 下载完毕, and the retry of the failed pictures.
#include "FakeService.h"
#include "WindowTestSupport.h"

#include "app/RunSummary.h"

#include <QDir>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <functional>

using namespace Qt::StringLiterals;

namespace tamblin::test {
namespace {

using WindowRunSummary = WindowFixture;

QString PlainText(const QLabel *label)
{
    QTextDocument doc;
    doc.setHtml(label->text());
    return label->textFormat() == Qt::PlainText ? label->text() : doc.toPlainText();
}

// A click on the link that ends the label's text.
void ClickTrailingLink(QLabel *label, const QString &link)
{
    const QFontMetrics metrics(label->font());
    const int x = label->contentsRect().left() + metrics.horizontalAdvance(PlainText(label))
        - metrics.horizontalAdvance(link) / 2;
    QTest::mouseClick(label, Qt::LeftButton, Qt::NoModifier, QPoint(x, label->height() / 2));
}

TEST_F(WindowRunSummary, ARunWithFailuresSaysWhatItDidAndRetriesExactlyTheFailedPictures)
{
    // Two albums; one picture of each fails once, one is larger than the
    // size limit.
    FakeService service(uR"j({"sina_photo_users": [{"uid": "9", "title": "相册", "albums": [
        {"name": "甲", "ctg_id": "1", "photos": [
          {"src": "http://static.photo.sina.com.cn/small/a1", "title": "a1"},
          {"src": "http://static.photo.sina.com.cn/small/a2", "title": "a2"},
          {"src": "http://static.photo.sina.com.cn/small/a3", "title": "a3"}]},
        {"name": "乙", "ctg_id": "2", "photos": [
          {"src": "http://static.photo.sina.com.cn/small/b1", "title": "b1"},
          {"src": "http://static.photo.sina.com.cn/small/b2", "title": "b2"}]}]}],
      "pictures": {
        "http://static.photo.sina.com.cn/orignal/a1": {"size": 3000},
        "http://static.photo.sina.com.cn/orignal/a2": {"size": 3000},
        "http://static.photo.sina.com.cn/orignal/a3": {"size": 9000},
        "http://static.photo.sina.com.cn/orignal/b1": {"size": 3000},
        "http://static.photo.sina.com.cn/orignal/b2": {"size": 3000}},
      "faults": [
        {"match": "http://static.photo.sina.com.cn/orignal/a2", "status": 404, "times": 1},
        {"match": "http://static.photo.sina.com.cn/orignal/b2", "status": 404, "times": 1},
        {"match": "http://static.photo.sina.com.cn/orignal/", "delay": 0.3}]})j"_s
                            .toUtf8());
    ASSERT_TRUE(service.IsRunning());
    WriteSettings([](SoftSettings &s) { s.downParams[4] = {0, 5, 1, 30}; });
    OpenWindow();
    TypeAddress(u"http://photo.blog.sina.com.cn/u/9"_s);
    Click(CTamblinDlg::kIdGetAlbums);
    ASSERT_TRUE(WaitListIdle());
    ASSERT_EQ(Rows(), 2);
    QTest::mouseClick(Find<QWidget>(CTamblinDlg::kIdSelectAll), Qt::LeftButton);

    auto *bar = Find<QProgressBar>(CTamblinDlg::kIdRunProgress);
    auto *line = Find<QLabel>(kIdStatusPicture);
    ASSERT_TRUE(bar && line);
    EXPECT_FALSE(bar->isVisible());
    // The bar's total over the run only grows: the second album adds to the
    // first one's pictures.
    QList<int> totals;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (bar->isVisible() && (totals.isEmpty() || totals.back() != bar->maximum()))
            totals.append(bar->maximum());
    });
    sampler.start(0);
    Click(CTamblinDlg::kIdDownload);
    ASSERT_TRUE(WaitDownIdle());
    const QString summary = u"已保存2张，跳过1张；2张图片下载失败，见 failed.txt  重试"_s;
    ASSERT_TRUE(WaitFor([&] { return PlainText(line) == summary; }, 5000)) << PlainText(line).toStdString();
    sampler.stop();
    QStringList seen;
    for (int total : totals)
        seen.append(QString::number(total));
    EXPECT_TRUE(std::is_sorted(totals.begin(), totals.end())) << seen.join(u' ').toStdString();
    ASSERT_FALSE(totals.isEmpty());
    EXPECT_EQ(totals.back(), 5);
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->value(), 5);
    EXPECT_EQ(LabelText(kIdStatusMain), u"下载完毕"_s);
    EXPECT_TRUE(window->grab().save(QDir(TestOutputDir()).filePath(u"window-run-summary.png"_s), "PNG"));

    // The retry fetches the albums of the run, from the folder it used,
    // whatever is chosen and typed now.
    ClickRow(1);
    TypeSavePath(save + u"elsewhere"_s);
    const qsizetype asked = service.RequestedUrls().size();
    ClickTrailingLink(line, u"重试"_s);
    ASSERT_TRUE(WaitFor([&] { return window->Core().m_downState != 0; }, 5000));
    ASSERT_TRUE(WaitDownIdle());
    ASSERT_TRUE(WaitFor([&] { return PlainText(line) == u"已保存2张"_s; }, 5000)) << PlainText(line).toStdString();
    QStringList retried = service.RequestedUrls().mid(asked);
    retried.sort();
    EXPECT_EQ(retried, (QStringList{u"http://static.photo.sina.com.cn/orignal/a2"_s,
                                    u"http://static.photo.sina.com.cn/orignal/b2"_s}));
    EXPECT_EQ(FilesIn(save), (QStringList{u"相册/乙/b1.jpg"_s, u"相册/乙/b2.jpg"_s, u"相册/乙/pic.orv"_s,
                                          u"相册/甲/a1.jpg"_s, u"相册/甲/a2.jpg"_s, u"相册/甲/pic.orv"_s}));
    // Nothing left to retry: the command does nothing.
    window->OnCommand(CTamblinDlg::kCmdRetryFailed);
    EXPECT_EQ(window->Core().m_downState, 0);
}

TEST(RunSummaryText, CountsWhatTheRunDidAndWhatItLost)
{
    struct Case {
        const char *what;
        std::function<void(DownloadSummary &)> set;
        QString text;
        bool retry;
    };
    const QString failedList = u"/save/a/failed.txt"_s;
    const Case cases[] = {
        {"nothing but saved pictures", [](DownloadSummary &s) { s.pictures.saved = 12; }, u"已保存12张"_s, false},
        {"no picture at all", [](DownloadSummary &) {}, u"已保存0张"_s, false},
        {"skipped and left out by the range",
         [](DownloadSummary &s) {
             s.pictures = {3, 1, 0};
             s.outOfRange = 40;
         },
         u"已保存3张，跳过1张，范围外40张"_s, false},
        {"failures listed",
         [&](DownloadSummary &s) {
             s.pictures = {3, 0, 2};
             s.failedLists = {failedList};
         },
         u"已保存3张；2张图片下载失败，见 failed.txt"_s, true},
        {"failures that could not be listed",
         [](DownloadSummary &s) {
             s.pictures = {0, 0, 2};
             s.failedListsNotWritten = {u"/save/a/failed.txt"_s};
         },
         u"已保存0张；2张图片下载失败（failed.txt 无法写入）"_s, false},
        {"posts that cannot be read",
         [&](DownloadSummary &s) {
             s.pictures.saved = 5;
             s.unavailable = 1;
             s.failedLists = {failedList};
         },
         u"已保存5张；1个视频或图片所在的微博无法读取，见 failed.txt"_s, true},
        {"an album without picture times",
         [](DownloadSummary &s) {
             s.pictures.saved = 7;
             s.rangeNotApplied = {u"甲"_s};
         },
         u"已保存7张；1个相册的页面没有日期，已全部下载"_s, false},
    };
    for (const Case &c : cases) {
        DownloadSummary summary;
        c.set(summary);
        EXPECT_EQ(RunSummaryText(summary), c.text) << c.what;
        EXPECT_EQ(RunLeftRetries(summary), c.retry) << c.what;
    }
}

} // namespace
} // namespace tamblin::test

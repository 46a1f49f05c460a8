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

using namespace Qt::StringLiterals;

namespace tamblin::test {
namespace {

using WindowRunSummary = WindowFixture;

const QString kPictures = u"http://static.photo.sina.com.cn/orignal/"_s;

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
        {"name": "甲", "ctg_id": "1", "photos": [{"src": "%1a1", "title": "a1"}, {"src": "%1a2", "title": "a2"},
                                                 {"src": "%1a3", "title": "a3"}]},
        {"name": "乙", "ctg_id": "2", "photos": [{"src": "%1b1", "title": "b1"}, {"src": "%1b2", "title": "b2"}]}]}],
      "pictures": {"%2a1": {"size": 3000}, "%2a2": {"size": 3000}, "%2a3": {"size": 9000}, "%2b1": {"size": 3000},
                   "%2b2": {"size": 3000}},
      "faults": [{"match": "%2a2", "status": 404, "times": 1}, {"match": "%2b2", "status": 404, "times": 1},
                 {"match": "%2", "delay": 0.3}]})j"_s.arg(u"http://static.photo.sina.com.cn/small/"_s, kPictures)
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
    EXPECT_TRUE(std::is_sorted(totals.begin(), totals.end()));
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->maximum(), 5);
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
    EXPECT_EQ(retried, (QStringList{kPictures + u"a2"_s, kPictures + u"b2"_s}));
    EXPECT_EQ(FilesIn(save), (QStringList{u"相册/乙/b1.jpg"_s, u"相册/乙/b2.jpg"_s, u"相册/乙/pic.orv"_s,
                                          u"相册/甲/a1.jpg"_s, u"相册/甲/a2.jpg"_s, u"相册/甲/pic.orv"_s}));
}

TEST(RunSummaryText, CountsWhatTheRunDidAndWhatItLost)
{
    struct Case {
        PictureCounts pictures;
        std::uint32_t outOfRange, unavailable;
        QStringList rangeNotApplied;
        QString text;
        bool retry;
    };
    const Case cases[] = {
        {{3, 1, 0}, 40, 0, {}, u"已保存3张，跳过1张，范围外40张"_s, false},
        {{3, 0, 2}, 0, 0, {}, u"已保存3张；2张图片下载失败，见 failed.txt"_s, true},
        {{5, 0, 0}, 0, 1, {}, u"已保存5张；1个视频或图片所在的微博无法读取，见 failed.txt"_s, true},
        {{7, 0, 0}, 0, 0, {u"甲"_s}, u"已保存7张；1个相册的页面没有日期，已全部下载"_s, false},
    };
    for (const Case &c : cases) {
        DownloadSummary summary;
        summary.pictures = c.pictures;
        summary.outOfRange = c.outOfRange;
        summary.unavailable = c.unavailable;
        summary.rangeNotApplied = c.rangeNotApplied;
        if (c.retry)
            summary.failedLists = {u"/save/a/failed.txt"_s};
        EXPECT_EQ(RunSummaryText(summary), c.text);
        EXPECT_EQ(RunLeftRetries(summary), c.retry) << c.text.toStdString();
    }
}

} // namespace
} // namespace tamblin::test

// Rules of the page walks that only show with answers written in other
// orders, pages that come back, or pages that cannot be fetched.
#include "DownloadRun.h"
#include "FakeService.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace tamblin::test {
namespace {

QStringList RequestedWith(const FakeService &service, const QString &part)
{
    QStringList urls;
    for (const QString &url : service.RequestedUrls()) {
        if (url.contains(part))
            urls.append(url);
    }
    return urls;
}

TEST(WalkRules, FieldsAreSearchedInTheirOrderAndCaptionsUnescapedBeforeTheirTagsGo)
{
    // Sina: a title written before the src is not the picture's (it is
    // searched after the src only). Weibo: an original_pic written before
    // the caption is still the address; a caption with escaped tags loses
    // them once unescaped.
    const QByteArray data = uR"j({
      "sina_photo_users": [{"uid": "1", "title": "相", "albums": [
        {"name": "顺序", "ctg_id": "1", "attr_order": ["title", "src"], "photos": [
          {"src": "http://static.photo.sina.com.cn/small/t1", "title": "不是它"}]}]}],
      "weibo_users": [{"uid": "2000000001", "nickname": "鹿", "needs_login": false, "albums": [
        {"album_id": "7", "caption": "微博", "escape_tags": true,
         "photo_key_order": ["photo_id", "original_pic", "caption", "pic_type", "pic_name", "pic_host"],
         "photo_list": [{"caption": "<b>粗</b>体", "original_pic": "http://ww1.sinaimg.cn/large/o1.jpg",
                         "pic_type": 0, "pic_host": "http://ww2.sinaimg.cn/", "pic_name": "fallback.jpg"}]}]}],
      "pictures": {"http://static.photo.sina.com.cn/orignal/t1": {"size": 300},
                   "http://ww1.sinaimg.cn/large/o1.jpg": {"size": 400}}})j"_s.toUtf8();
    FakeService service(data);
    ASSERT_TRUE(service.IsRunning());

    DownloadRun sina;
    sina.ListAndDownload(u"http://photo.blog.sina.com.cn/u/1"_s);
    EXPECT_EQ(TreeOf(sina.save + u"相/顺序"_s), (QStringList{u"pic.orv"_s, u"顺序.jpg"_s}));

    DownloadRun weibo;
    weibo.ListAndDownload(u"http://weibo.com/u/2000000001"_s);
    EXPECT_EQ(TreeOf(weibo.save + u"鹿/微博"_s), (QStringList{u"pic.orv"_s, u"粗体.jpg"_s}));
    EXPECT_TRUE(RequestedWith(service, u"fallback.jpg"_s).isEmpty());
}

TEST(WalkRules, WalksEndAtAnyPageSeenBefore)
{
    // Each service alternates two pages, next-page link and all.
    QString photos;
    QString weiboPhotos;
    QString pictures;
    for (int i = 1; i <= 4; ++i) {
        const QString comma = i > 1 ? u","_s : QString();
        photos += comma + u"{\"src\": \"http://static.photo.sina.com.cn/small/c%1\", \"title\": \"图%1\"}"_s.arg(i);
        pictures += comma + u"\"http://static.photo.sina.com.cn/orignal/c%1\": {\"size\": 200}"_s.arg(i);
    }
    pictures += u",\"http://ww1.sinaimg.cn/large/c.jpg\": {\"size\": 200}"_s;
    // 40 photos: 32 on the first page, 8 on the second.
    for (int i = 1; i <= 40; ++i) {
        weiboPhotos += (i > 1 ? u","_s : QString())
            + u"{\"caption\": \"照%1\", \"original_pic\": \"http://ww1.sinaimg.cn/large/c.jpg\"}"_s.arg(i);
    }
    const QByteArray data = uR"j({
      "sina_photo_users": [{"uid": "1", "title": "相", "albums": [
        {"name": "轮回", "ctg_id": "1", "per_page": 2, "cycle_pages": 2, "photos": [%1]}]}],
      "sina_blogs": [{"uid": "5", "title": "博", "per_page": 1, "cycle_pages": 2,
                      "articles": [{"id": "a1", "title": "一"}, {"id": "a2", "title": "二"}, {"id": "a3", "title": "三"}]}],
      "weibo_users": [{"uid": "2000000001", "nickname": "鹿", "needs_login": false, "albums": [
        {"album_id": "7", "caption": "微博", "photos": 100000, "cycle_pages": 2, "photo_list": [%2]}]}],
      "pictures": {%3}})j"_s.arg(photos, weiboPhotos, pictures).toUtf8();
    FakeService service(data);
    ASSERT_TRUE(service.IsRunning());

    DownloadRun sina;
    sina.ListAndDownload(u"http://photo.blog.sina.com.cn/u/1"_s);
    EXPECT_EQ(TreeOf(sina.save + u"相/轮回"_s),
              (QStringList{u"pic.orv"_s, u"图1.jpg"_s, u"图2.jpg"_s, u"图3.jpg"_s, u"图4.jpg"_s}));
    EXPECT_EQ(RequestedWith(service, u"/s/1/page"_s).size(), 3);

    ListRun blog;
    blog.Run(u"http://blog.sina.com.cn/s/articlelist_5_0_1.html"_s);
    EXPECT_EQ(blog.Names(), (QStringList{u"一"_s, u"二"_s}));
    EXPECT_EQ(RequestedWith(service, u"/s/articlelist_5_"_s).size(), 3);

    // Two pages of photos, then the first again.
    DownloadRun weibo;
    weibo.ListAndDownload(u"http://weibo.com/u/2000000001"_s);
    EXPECT_EQ(RequestedWith(service, u"/photos/get_all"_s).size(), 3);
    EXPECT_EQ(TreeOf(weibo.save + u"鹿/微博"_s).size(), 41);
}

TEST(WalkRules, AWalkEndsAfterItsPageBoundWithOneMessage)
{
    RecordingWindow window;
    TamblinCore core(&window);
    PageWalkGuard guard(core);
    for (int page = 1; page <= kMaxWalkPages; ++page)
        ASSERT_TRUE(guard.Admit(QString::number(page))) << page;
    EXPECT_FALSE(guard.Admit(u"new"_s));
    EXPECT_FALSE(guard.CountPage());
    EXPECT_EQ(window.Messages().size(), 1);

    PageWalkGuard cycle(core);
    EXPECT_TRUE(cycle.Admit(u"A"_s));
    EXPECT_TRUE(cycle.Admit(u"B"_s));
    EXPECT_FALSE(cycle.Admit(u"A"_s));
}

TEST(WalkRules, APageThatCannotBeFetchedIsReported)
{
    const QByteArray data = uR"j({
      "sina_photo_users": [{"uid": "1", "title": "相", "albums": [
        {"name": "断", "ctg_id": "1", "per_page": 1, "photos": [
          "http://static.photo.sina.com.cn/small/b1", "http://static.photo.sina.com.cn/small/b2"]}]}],
      "pictures": {"http://static.photo.sina.com.cn/orignal/b1": {"size": 200}},
      "faults": [{"match": "http://photo.blog.sina.com.cn/category/u/1/s/1/page2", "close": true}]})j"_s.toUtf8();
    FakeService service(data);
    ASSERT_TRUE(service.IsRunning());
    DownloadRun run;
    run.ListAndDownload(u"http://photo.blog.sina.com.cn/u/1"_s);
    EXPECT_EQ(TreeOf(run.save + u"相/断"_s), (QStringList{u"pic.orv"_s, u"断.jpg"_s}));
    ASSERT_EQ(run.summary.brokenListings.size(), 1);
    EXPECT_TRUE(run.summary.brokenListings[0].startsWith(u"断: could not reach photo.blog.sina.com.cn"_s))
        << run.summary.brokenListings[0].toStdString();
}

} // namespace
} // namespace tamblin::test

// The download run end to end: a list run, then RunDownload with the three
// Sina picture extractors, through http_proxy against the fake service, with
// the real host names. Files and folders are checked by their exact names.
#include "DownloadRun.h"
#include "FakeService.h"

#include "download/ListFiles.h"
#include "text/TextUtils.h"

#include <QDateTime>
#include <QFileInfo>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace Qt::StringLiterals;

namespace tamblin::test {
namespace {

const QString kSinaUser = u"http://photo.blog.sina.com.cn/u/1234567890"_s;
const QString kOriginal = u"http://static.photo.sina.com.cn/orignal/"_s;

// One Sina photo user, album 西湖 of five photos on three pages (two a page)
// and an empty album; the pictures are a JPEG, a PNG and a GIF.
QByteArray SinaPhotoData(const QString &extra = QString())
{
    return uR"j({
  "sina_photo_users": [{"uid": "1234567890", "title": "小明的相册", "albums": [
    {"name": "西湖", "ctg_id": "1", "per_page": 2, "photos": [
      {"src": "http://static.photo.sina.com.cn/small/p1", "title": "断桥"},
      {"src": "http://static.photo.sina.com.cn/small/p2", "title": ""},
      {"src": "http://static.photo.sina.com.cn/small/camp3", "title": "断桥"},
      {"src": "http://static.photo.sina.com.cn/small/p4", "title": "雷峰塔"},
      {"src": "http://static.photo.sina.com.cn/small/p5"}]},
    {"name": "空相册", "ctg_id": "2", "photos": []}]}],
  "pictures": {
    "http://static.photo.sina.com.cn/orignal/p1": {"format": "jpeg", "size": 3000},
    "http://static.photo.sina.com.cn/orignal/p2": {"format": "jpeg", "size": 4000},
    "http://static.photo.sina.com.cn/orignal/c3": {"format": "jpeg", "size": 5000},
    "http://static.photo.sina.com.cn/orignal/p4": {"format": "png", "size": 6000},
    "http://static.photo.sina.com.cn/orignal/p5": {"format": "gif", "size": 7000}
  }%1
})j"_s.arg(extra).toUtf8();
}

QStringList PictureRequests(const FakeService &service)
{
    QStringList urls;
    for (const QString &url : service.RequestedUrls()) {
        if (url.contains(u"sinaimg.cn"_s) || url.contains(u"/orignal/"_s))
            urls.append(url);
    }
    return urls;
}

qint64 FileSize(const QString &path)
{
    return QFileInfo(path).size();
}

TEST(DownloadRun, SinaPhotoAlbumsAreWalkedPageByPageNamedFixedAndOrdered)
{
    FakeService service(SinaPhotoData());
    ASSERT_TRUE(service.IsRunning());
    DownloadRun run;
    run.Rules().flags = kFixFormat | kFixOrder;
    run.ListAndDownload(kSinaUser);

    EXPECT_TRUE(run.window->Messages().isEmpty()) << run.window->Messages().join(u'|').toStdString();
    EXPECT_EQ(run.core.m_downState, 0);
    // Description names, the album's name for the untitled ones, numbered
    // from the second on; the PNG and the GIF got their own extensions. The
    // empty album made no folder.
    EXPECT_EQ(run.SavedTree(), (QStringList{u"小明的相册/"_s, u"小明的相册/西湖/"_s, u"小明的相册/西湖/pic.orv"_s,
                                            u"小明的相册/西湖/断桥(1).jpg"_s, u"小明的相册/西湖/断桥.jpg"_s,
                                            u"小明的相册/西湖/西湖(1).gif"_s, u"小明的相册/西湖/西湖.jpg"_s,
                                            u"小明的相册/西湖/雷峰塔.png"_s}));
    const QString album = run.save + u"小明的相册"_s + kSep + u"西湖"_s + kSep;
    EXPECT_EQ(FileSize(album + u"断桥.jpg"_s), 3000);
    EXPECT_EQ(FileSize(album + u"西湖.jpg"_s), 4000);
    // "/small/camp3" became "/orignal/c3": every "amp" goes.
    EXPECT_EQ(FileSize(album + u"断桥(1).jpg"_s), 5000);
    EXPECT_EQ(FileSize(album + u"雷峰塔.png"_s), 6000);
    EXPECT_EQ(FileSize(album + u"西湖(1).gif"_s), 7000);

    // Album order by file time: the first picture newest, 60 s apart.
    const QStringList order{u"断桥.jpg"_s, u"西湖.jpg"_s, u"断桥(1).jpg"_s, u"雷峰塔.png"_s, u"西湖(1).gif"_s};
    for (qsizetype i = 1; i < order.size(); ++i) {
        const qint64 newer = QFileInfo(album + order[i - 1]).lastModified().toSecsSinceEpoch();
        const qint64 older = QFileInfo(album + order[i]).lastModified().toSecsSinceEpoch();
        EXPECT_EQ(newer - older, 60) << order[i].toStdString();
    }

    QString recorded;
    ReadLastFirstUrl(recorded, album);
    EXPECT_EQ(recorded, kOriginal + u"p1"_s);

    // Pages 1 to 3 of the album (the third has no next-page link), page 1
    // of the empty one, and each picture once.
    const QStringList urls = service.RequestedUrls();
    const QString pages = u"http://photo.blog.sina.com.cn/category/u/1234567890/s/"_s;
    EXPECT_TRUE(urls.contains(pages + u"1/page3"_s));
    EXPECT_FALSE(urls.contains(pages + u"1/page4"_s));
    EXPECT_TRUE(urls.contains(pages + u"2/page1"_s));
    EXPECT_FALSE(urls.contains(pages + u"2/page2"_s));
    QStringList pictures = PictureRequests(service);
    pictures.sort();
    EXPECT_EQ(pictures, (QStringList{kOriginal + u"c3"_s, kOriginal + u"p1"_s, kOriginal + u"p2"_s,
                                     kOriginal + u"p4"_s, kOriginal + u"p5"_s}));

    EXPECT_EQ(run.window->Texts(kIdStatusMain).mid(1),
              (QStringList{u"正在下载第1/2个图集"_s, u"正在下载第2/2个图集"_s, u"下载完毕"_s}));
    EXPECT_TRUE(run.window->Texts(kIdStatusPicture).contains(u"已获取到5张图片信息"_s));
    EXPECT_TRUE(run.window->Texts(kIdStatusPicture).contains(u"已下载5/5......"_s));
}

TEST(DownloadRun, BlogArticlesGiveTheirFirstBodyPictureNamedAfterTheArticle)
{
    // Article a4 is a literal GBK page: real_src attributes only, and a
    // picture before the body that must not be taken.
    const QString a4Page =
        u"<html><head><meta charset=\"gbk\"></head><body><img real_src =\"http://s9.sinaimg.cn/mw690/before\" />"
        "<div class=\"articalContent  \"><p>正文</p><img src=\"x.gif\" real_src =\"http://s2.sinaimg.cn/mw690/pic4\" />"
        "<img real_src =\"http://s2.sinaimg.cn/mw690/pic5\" /><img real_src =\"//s2.sinaimg.cn/mw690/pic6\" />"
        "</div><div class=\"shareUp\">分享</div></body></html>"_s;
    QJsonObject pages;
    pages[u"http://blog.sina.com.cn/s/blog_a4.html"_s] =
        QJsonObject{{u"body"_s, a4Page}, {u"encoding"_s, u"gbk"_s}, {u"content_type"_s, u"text/html; charset=GBK"_s}};
    const QByteArray data = uR"j({
  "sina_blogs": [{"uid": "1111", "title": "小明的博客", "per_page": 2, "articles": [
    {"id": "a1", "title": "周末去爬山", "pictures": ["http://s1.sinaimg.cn/middle/pic1", "http://s1.sinaimg.cn/bmiddle/pic2"]},
    {"id": "a2", "title": "夜景", "pictures": ["http://s1.sinaimg.cn/mw690/pic3"], "date": "2015-01-01 08:00"},
    {"id": "a3", "title": "没有图片", "text": "只有文字"},
    {"id": "a4", "title": "旧照片", "date": "2013-12-31 23:59"}]}],
  "pictures": {
    "http://s1.sinaimg.cn/orignal/pic1": {"size": 2000},
    "http://s1.sinaimg.cn/orignal/pic3": {"size": 2500},
    "http://s2.sinaimg.cn/orignal/pic4": {"size": 2600}
  },
  "pages": %1
})j"_s.arg(QString::fromUtf8(QJsonDocument(pages).toJson(QJsonDocument::Compact)))
                                .toUtf8();
    FakeService service(data);
    ASSERT_TRUE(service.IsRunning());
    DownloadRun run;
    run.ListAndDownload(u"http://blog.sina.com.cn/s/articlelist_1111_0_1.html"_s);

    ASSERT_EQ(run.core.m_subMode, kSubModeSinaBlog);
    EXPECT_EQ(run.SavedTree(),
              (QStringList{u"小明的博客/"_s, u"小明的博客/周末去爬山/"_s, u"小明的博客/周末去爬山/pic.orv"_s,
                           u"小明的博客/周末去爬山/周末去爬山.jpg"_s, u"小明的博客/夜景/"_s, u"小明的博客/夜景/pic.orv"_s,
                           u"小明的博客/夜景/夜景.jpg"_s, u"小明的博客/旧照片/"_s, u"小明的博客/旧照片/pic.orv"_s,
                           u"小明的博客/旧照片/旧照片.jpg"_s}));
    EXPECT_EQ(FileSize(run.save + u"小明的博客/周末去爬山/周末去爬山.jpg"_s), 2000);
    EXPECT_EQ(FileSize(run.save + u"小明的博客/旧照片/旧照片.jpg"_s), 2600);
    // One picture per article, the first of its body, in full size.
    QStringList pictures = PictureRequests(service);
    pictures.sort();
    EXPECT_EQ(pictures, (QStringList{u"http://s1.sinaimg.cn/orignal/pic1"_s, u"http://s1.sinaimg.cn/orignal/pic3"_s,
                                     u"http://s2.sinaimg.cn/orignal/pic4"_s}));
    // An article without a picture adds nothing and only says so by its
    // missing folder.
    EXPECT_TRUE(run.window->Messages().isEmpty()) << run.window->Messages().join(u'|').toStdString();

    // With the option, every picture of a body, in order, each named after
    // the article; a protocol-relative link is asked over https.
    const qsizetype before = PictureRequests(service).size();
    DownloadRun all;
    all.dir.Write(u"下载器扩展设置.ini"_s, "[新浪博客]\r\n下载文章全部图片=1\r\n");
    all.core.m_appDir = all.dir.Path();
    all.ListAndDownload(u"http://blog.sina.com.cn/s/articlelist_1111_0_1.html"_s);
    pictures = PictureRequests(service).mid(before);
    pictures.sort();
    EXPECT_EQ(pictures, (QStringList{u"http://s1.sinaimg.cn/orignal/pic1"_s, u"http://s1.sinaimg.cn/orignal/pic2"_s,
                                     u"http://s1.sinaimg.cn/orignal/pic3"_s, u"http://s2.sinaimg.cn/orignal/pic4"_s,
                                     u"http://s2.sinaimg.cn/orignal/pic5"_s, u"https://s2.sinaimg.cn/orignal/pic6"_s}));
    // pic2, pic5 and pic6 are not in the data: listed as failed under their
    // numbered names.
    QStringList failedNames;
    for (const QString &article : {u"周末去爬山"_s, u"旧照片"_s}) {
        for (const FailedPicture &picture : ReadFailedList(all.save + u"小明的博客/"_s + article + kSep))
            failedNames.append(picture.fileName);
    }
    EXPECT_EQ(failedNames, (QStringList{u"周末去爬山(1).jpg"_s, u"旧照片(1).jpg"_s, u"旧照片(2).jpg"_s}));

    // A range of 2014 by the dates of the list pages: the articles of other
    // years are not opened, counted as left out, and no record is written.
    // A picture takes its article's date (Beijing time) as its file time.
    DownloadRun ranged;
    ranged.options.range = DateRange{QDate(2014, 1, 1), QDate(2014, 12, 31)};
    ranged.ListAndDownload(u"http://blog.sina.com.cn/s/articlelist_1111_0_1.html"_s);
    EXPECT_EQ(ranged.SavedTree(), (QStringList{u"小明的博客/"_s, u"小明的博客/周末去爬山/"_s,
                                               u"小明的博客/周末去爬山/周末去爬山.jpg"_s}));
    EXPECT_EQ(QFileInfo(ranged.save + u"小明的博客/周末去爬山/周末去爬山.jpg"_s).lastModified().toSecsSinceEpoch(),
              1401415200); // 2014-05-30 10:00 +0800
    EXPECT_EQ(ranged.summary.outOfRange, 2u);
    EXPECT_TRUE(ranged.summary.emptyAlbums.isEmpty());
    EXPECT_TRUE(ranged.summary.rangeNotApplied.isEmpty());
    EXPECT_EQ(service.RequestedUrls().count(u"http://blog.sina.com.cn/s/blog_a1.html"_s), 3);
    for (const QString &other : {u"a2"_s, u"a4"_s})
        EXPECT_EQ(service.RequestedUrls().count(u"http://blog.sina.com.cn/s/blog_%1.html"_s.arg(other)), 2);

    // Pages that give no dates (a Sina photo album, a blog of the older
    // design): downloaded whole, and the summary says the range was not
    // applied to them.
    const QByteArray undated = uR"j({
  "sina_blogs": [{"uid": "2222", "title": "旧博客", "style": "linedot",
                  "articles": [{"id": "b1", "title": "无日期", "pictures": ["http://s1.sinaimg.cn/middle/pic1"]}]}],
  "sina_photo_users": [{"uid": "3333", "title": "相册主", "albums": [{"name": "春", "ctg_id": "1",
                        "photos": ["http://s3.sinaimg.cn/small/p1"]}]}],
  "pictures": {"http://s1.sinaimg.cn/orignal/pic1": {"size": 2000},
               "http://s3.sinaimg.cn/orignal/p1": {"size": 2000}}})j"_s.toUtf8();
    FakeService old(undated);
    ASSERT_TRUE(old.IsRunning());
    for (const QString &address :
         {u"http://blog.sina.com.cn/s/articlelist_2222_0_1.html"_s, u"http://photo.blog.sina.com.cn/u/3333"_s}) {
        SCOPED_TRACE(address.toStdString());
        DownloadRun whole;
        whole.options.range = DateRange{QDate(2030, 1, 1), {}};
        whole.ListAndDownload(address);
        EXPECT_EQ(whole.summary.pictures.saved, 1u);
        EXPECT_EQ(whole.summary.rangeNotApplied.size(), 1);
        EXPECT_EQ(whole.summary.outOfRange, 0u);
    }
}

// A Weibo album of `count` photos listed in the data; page 2 answers
// without photos the first time it is asked for.
QByteArray WeiboData(int count)
{
    QJsonArray photos;
    QJsonObject pictures;
    for (int i = 0; i < count; ++i) {
        QJsonObject photo;
        QString url;
        if (i % 2 == 0) {
            url = u"http://ww1.sinaimg.cn/large/w%1.jpg"_s.arg(i);
            photo[u"original_pic"_s] = url;
        } else if (i % 4 == 1) {
            photo[u"pic_type"_s] = 0;
            photo[u"pic_host"_s] = u"http://ww2.sinaimg.cn/"_s;
            photo[u"pic_name"_s] = u"n%1.jpg"_s.arg(i);
            url = u"http://ww2.sinaimg.cn/2000000001/180/n%1.jpg"_s.arg(i);
        } else {
            photo[u"pic_type"_s] = 3;
            photo[u"pic_host"_s] = u"http://ww3.sinaimg.cn"_s;
            photo[u"pic_name"_s] = u"n%1.jpg"_s.arg(i);
            url = u"http://ww3.sinaimg.cn/large/n%1.jpg"_s.arg(i);
        }
        // When some were posted, in the forms the answers write it.
        if (i == 0)
            photo[u"created_at"_s] = u"2013-08-29 16:44:05"_s;
        else if (i == 2)
            photo[u"timestamp"_s] = 1600000000123.0;
        else if (i == 4)
            photo[u"created_at"_s] = u"Tue Feb 23 12:28:47 +0800 2021"_s;
        if (i == 0)
            photo[u"caption"_s] = u"<b>东方</b>明珠"_s;
        else if (i % 10 != 1)
            photo[u"caption"_s] = u"照片%1"_s.arg(i);
        photos.append(photo);
        pictures[url] = QJsonObject{{u"size"_s, 400 + i}};
    }
    QJsonObject album{{u"album_id"_s, u"3550001"_s}, {u"type"_s, 3}, {u"caption"_s, u"微博配图"_s},
                      {u"photos"_s, count}, {u"photo_list"_s, photos},
                      {u"empty_pages"_s, QJsonObject{{u"2"_s, 1}}}};
    QJsonObject user{{u"uid"_s, u"2000000001"_s}, {u"nickname"_s, u"旅行的小鹿"_s}, {u"needs_login"_s, false},
                     {u"albums"_s, QJsonArray{album}}};
    return QJsonDocument(QJsonObject{{u"weibo_users"_s, QJsonArray{user}}, {u"pictures"_s, pictures}}).toJson();
}

TEST(DownloadRun, WeiboAlbumsArePagedByThirtyTwoWithOneRetryOfAnEmptyPage)
{
    FakeService service(WeiboData(70));
    ASSERT_TRUE(service.IsRunning());
    DownloadRun run;
    run.ListAndDownload(u"http://weibo.com/u/2000000001"_s);
    ASSERT_EQ(run.core.m_subMode, kSubModeWeibo);

    const QString folder = u"旅行的小鹿/微博配图/"_s;
    const QStringList tree = run.SavedTree();
    // 70 pictures, pic.orv and the two folders.
    EXPECT_EQ(tree.size(), 73) << tree.join(u'\n').toStdString();
    EXPECT_TRUE(tree.contains(folder + u"东方明珠.jpg"_s)) << tree.join(u'\n').toStdString();
    EXPECT_TRUE(tree.contains(folder + u"照片69.jpg"_s));
    // Untitled photos (1, 11, ..., 61) take the album's name, then numbers.
    EXPECT_TRUE(tree.contains(folder + u"微博配图.jpg"_s));
    EXPECT_TRUE(tree.contains(folder + u"微博配图(6).jpg"_s));
    EXPECT_FALSE(tree.contains(folder + u"微博配图(7).jpg"_s));
    EXPECT_EQ(FileSize(run.save + folder + u"照片69.jpg"_s), 469);
    // A photo whose answer says when it was posted keeps that time.
    const auto modified = [&](const QString &name) {
        return QFileInfo(run.save + folder + name).lastModified().toSecsSinceEpoch();
    };
    EXPECT_EQ(modified(u"东方明珠.jpg"_s), 1377765845);
    EXPECT_EQ(modified(u"照片2.jpg"_s), 1600000000);
    EXPECT_EQ(modified(u"照片4.jpg"_s), 1614054527);
    EXPECT_GT(modified(u"照片69.jpg"_s), QDateTime::currentSecsSinceEpoch() - 3600);

    // Pages 1, 2 (empty), 2 again, 3, and 4, whose answer without photos at
    // the last page ends the album.
    QStringList pages;
    for (const QString &url : service.RequestedUrls()) {
        if (url.contains(u"/photos/get_all"_s)) {
            const qsizetype at = url.indexOf(u"&page="_s) + 6;
            pages.append(url.mid(at, url.indexOf(u'&', at) - at));
        }
    }
    EXPECT_EQ(pages, (QStringList{u"1"_s, u"2"_s, u"2"_s, u"3"_s, u"4"_s}));

    // The photo lists carry the album page as their Referer, the pictures
    // the Weibo page; the 180-pixel form holds the owner id.
    const QString referer = u"https://photo.weibo.com/2000000001/talbum/index?from=profile_wb"_s;
    for (const QString &url : service.RequestedUrls()) {
        if (url.contains(u"/photos/get_all"_s)) {
            EXPECT_EQ(service.RequestHeader(url, u"Referer"_s), std::optional<QString>(referer));
        }
    }
    const QString small = u"http://ww2.sinaimg.cn/2000000001/180/n1.jpg"_s;
    EXPECT_TRUE(service.RequestedUrls().contains(small));
    EXPECT_EQ(service.RequestHeader(small, u"Referer"_s), std::optional<QString>(u"https://weibo.com/"_s));
    EXPECT_TRUE(service.RequestedUrls().contains(u"http://ww3.sinaimg.cn/large/n3.jpg"_s));

    // The last answer is kept as UTF-16 with a byte-order mark.
    const QByteArray dump = run.dir.Read(u"sinawb.tmp"_s);
    ASSERT_GE(dump.size(), 2);
    EXPECT_EQ(dump.left(2), QByteArray("\xFF\xFE", 2));
    const QString last = QString::fromUtf16(reinterpret_cast<const char16_t *>(dump.constData() + 2), (dump.size() - 2) / 2);
    EXPECT_TRUE(last.startsWith(u"{\"result\":true"_s)) << last.left(40).toStdString();
    EXPECT_FALSE(last.contains(u"photo_id"_s)); // page 4, without photos
}

TEST(DownloadRun, SinaPhotoPagesWithoutPicturesAreWalkedOnAndARepeatedPageEndsTheAlbum)
{
    // Album 1: page 2 has the next-page link but no picture; page 3 has the
    // rest. Album 2 answers every page number with its first page.
    QString photos;
    QString pictures;
    for (int i = 1; i <= 6; ++i) {
        photos += u"%1{\"src\": \"http://static.photo.sina.com.cn/small/q%2\", \"title\": \"图%2\"}"_s
                      .arg(i > 1 ? u","_s : QString()).arg(i);
        pictures += u"%1\"%2q%3\": {\"size\": 900}"_s.arg(i > 1 ? u","_s : QString(), kOriginal).arg(i);
    }
    const QString page2 = u"http://photo.blog.sina.com.cn/category/u/1/s/1/page2"_s;
    const QByteArray data = uR"j({"sina_photo_users": [{"uid": "1", "title": "相", "albums": [
        {"name": "翻页", "ctg_id": "1", "per_page": 2, "photos": [%1]},
        {"name": "重复", "ctg_id": "2", "per_page": 2, "endless_pages": true, "photos": [%1]}]}],
      "pictures": {%2},
      "pages": {"%3": {"body": "<html><body><a href=\"/page3\">下一页</a></body></html>"}}})j"_s
                                .arg(photos, pictures, page2)
                                .toUtf8();
    FakeService service(data);
    ASSERT_TRUE(service.IsRunning());
    DownloadRun run;
    run.ListAndDownload(u"http://photo.blog.sina.com.cn/u/1"_s);

    // Pictures 3 and 4 were on the page the literal answer replaced.
    EXPECT_EQ(TreeOf(run.dir.File(u"save/相/翻页/"_s)),
              (QStringList{u"pic.orv"_s, u"图1.jpg"_s, u"图2.jpg"_s, u"图5.jpg"_s, u"图6.jpg"_s}));
    EXPECT_EQ(TreeOf(run.dir.File(u"save/相/重复/"_s)), (QStringList{u"pic.orv"_s, u"图1.jpg"_s, u"图2.jpg"_s}));
    const QStringList urls = service.RequestedUrls();
    const QString pages = u"http://photo.blog.sina.com.cn/category/u/1/s/"_s;
    EXPECT_TRUE(urls.contains(pages + u"1/page3"_s));
    EXPECT_FALSE(urls.contains(pages + u"1/page4"_s));
    EXPECT_TRUE(urls.contains(pages + u"2/page2"_s));
    EXPECT_FALSE(urls.contains(pages + u"2/page3"_s));
}

TEST(DownloadRun, WeiboPageEmptyTwiceIsSkippedAndAnEmptyAlbumEndsAtOnce)
{
    // Album 1: 40 photos on two pages, page 1 empty twice (retried after
    // 3 s, skipped after 1.5 s). Album 2 counts no photo: its first answer
    // without photos ends it with no wait. Album 3 counts 320 photos and
    // holds one: three empty answers in a row end it.
    QJsonArray photos;
    QJsonObject pictures;
    for (int i = 0; i < 40; ++i) {
        const QString url = u"http://ww1.sinaimg.cn/large/k%1.jpg"_s.arg(i);
        photos.append(QJsonObject{{u"original_pic"_s, url}, {u"caption"_s, u"第%1张"_s.arg(i)}});
        pictures[url] = QJsonObject{{u"size"_s, 300}};
    }
    const QJsonArray albums{
        QJsonObject{{u"album_id"_s, u"1"_s}, {u"caption"_s, u"跳过"_s}, {u"photo_list"_s, photos},
                    {u"empty_pages"_s, QJsonObject{{u"1"_s, 2}}}},
        QJsonObject{{u"album_id"_s, u"2"_s}, {u"caption"_s, u"空"_s}, {u"photos"_s, 0}},
        QJsonObject{{u"album_id"_s, u"3"_s}, {u"caption"_s, u"少"_s}, {u"photos"_s, 320},
                    {u"photo_list"_s, QJsonArray{photos[0]}}}};
    const QJsonObject user{{u"uid"_s, u"7"_s}, {u"nickname"_s, u"鹿"_s}, {u"needs_login"_s, false},
                           {u"albums"_s, albums}};
    FakeService service(
        QJsonDocument(QJsonObject{{u"weibo_users"_s, QJsonArray{user}}, {u"pictures"_s, pictures}}).toJson());
    ASSERT_TRUE(service.IsRunning());
    DownloadRun run;
    const auto started = std::chrono::steady_clock::now();
    run.ListAndDownload(u"http://weibo.com/u/7"_s);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(9000));
    EXPECT_LT(took, std::chrono::seconds(30));

    // The photos of page 1 are lost with it; page 2 holds 32 to 39.
    const QStringList files = TreeOf(run.dir.File(u"save/鹿/跳过/"_s));
    EXPECT_EQ(files.size(), 9) << files.join(u'|').toStdString();
    EXPECT_TRUE(files.contains(u"第32张.jpg"_s));
    EXPECT_FALSE(files.contains(u"第0张.jpg"_s));
    QStringList pages;
    for (const QString &url : service.RequestedUrls()) {
        if (url.contains(u"/photos/get_all"_s)) {
            const qsizetype at = url.indexOf(u"album_id="_s) + 9;
            const qsizetype page = url.indexOf(u"&page="_s) + 6;
            pages.append(url.mid(at, url.indexOf(u'&', at) - at) + u':' + url.mid(page, url.indexOf(u'&', page) - page));
        }
    }
    EXPECT_EQ(pages, (QStringList{u"1:1"_s, u"1:1"_s, u"1:2"_s, u"1:3"_s, u"2:1"_s, u"3:1"_s, u"3:2"_s, u"3:2"_s,
                                  u"3:3"_s}));
    EXPECT_FALSE(QFileInfo::exists(run.dir.File(u"save/鹿/空"_s)));
    EXPECT_TRUE(QFileInfo::exists(run.dir.File(u"save/鹿/少/第0张.jpg"_s)));
    EXPECT_TRUE(run.window->Texts(kIdStatusPicture).contains(u"连续3页没有图片，不再读取后面的页"_s));
}

TEST(DownloadRun, StopIsSeenWhileWeiboWaitsForAnEmptyPage)
{
    // Every page of an album counted at 3,200 photos answers empty: without
    // a stop, the walk would wait 4.5 s per two pages for minutes.
    QJsonObject empty;
    for (int page = 1; page <= 100; ++page)
        empty[QString::number(page)] = 1000;
    const QJsonObject album{{u"album_id"_s, u"1"_s}, {u"caption"_s, u"空页"_s}, {u"photos"_s, 3200},
                            {u"empty_pages"_s, empty}};
    const QJsonObject user{{u"uid"_s, u"7"_s}, {u"nickname"_s, u"鹿"_s}, {u"needs_login"_s, false},
                           {u"albums"_s, QJsonArray{album}}};
    FakeService service(QJsonDocument(QJsonObject{{u"weibo_users"_s, QJsonArray{user}}}).toJson());
    ASSERT_TRUE(service.IsRunning());
    DownloadRun run;
    run.Run(u"http://weibo.com/u/7"_s);
    ASSERT_EQ(run.core.m_albums.Size(), 1);
    std::thread download([&] { run.Download(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto asked = std::chrono::steady_clock::now();
    RequestDownloadStop(run.core);
    download.join();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2));
    EXPECT_EQ(run.core.m_downState, 0);
}

TEST(DownloadRun, ListOnlyModeWritesGbkListsAndTheTitleFileButFetchesNoPicture)
{
    FakeService service(SinaPhotoData());
    ASSERT_TRUE(service.IsRunning());
    DownloadRun run;
    run.Rules().flags = kListOnly | kWriteTitles;
    run.ListAndDownload(kSinaUser);

    EXPECT_EQ(run.SavedTree(), (QStringList{u"小明的相册/"_s, u"小明的相册/西湖/"_s, u"小明的相册/西湖/西湖.aria2.txt"_s,
                                            u"小明的相册/西湖/西湖.lst"_s, u"小明的相册/西湖/西湖.txt"_s}));
    const QString album = u"小明的相册/西湖/"_s;
    QByteArray expected;
    for (const QString &name : {u"p1"_s, u"p2"_s, u"c3"_s, u"p4"_s, u"p5"_s})
        expected += (kOriginal + name).toLatin1() + "\r\n";
    EXPECT_EQ(run.dir.Read(u"save/"_s + album + u"西湖.lst"_s), expected);

    // The titles as found, one a line, UTF-16LE after a byte-order mark.
    const QByteArray titles = run.dir.Read(u"save/"_s + album + u"西湖.txt"_s);
    const QString lines = u"断桥\r\n\r\n断桥\r\n雷峰塔\r\n\r\n"_s;
    QByteArray utf16("\xFF\xFE", 2);
    for (QChar c : lines) {
        utf16 += char(c.unicode() & 0xFF);
        utf16 += char(c.unicode() >> 8);
    }
    EXPECT_EQ(titles, utf16);
    EXPECT_TRUE(PictureRequests(service).isEmpty());
}

TEST(DownloadRun, ListOnlyListsAreGbk)
{
    // Chinese in an address must come out as GBK bytes in the list.
    const QByteArray data = uR"j({
  "sina_photo_users": [{"uid": "1", "title": "相", "albums": [
    {"name": "一", "ctg_id": "1", "photos": [{"src": "http://static.photo.sina.com.cn/small/图", "title": "t"}]}]}]
})j"_s.toUtf8();
    FakeService service(data);
    ASSERT_TRUE(service.IsRunning());
    DownloadRun run;
    run.Rules().flags = kListOnly;
    run.ListAndDownload(u"http://photo.blog.sina.com.cn/u/1"_s);
    EXPECT_EQ(run.dir.Read(u"save/相/一/一.lst"_s),
              WideToGbk(u"http://static.photo.sina.com.cn/orignal/图"_s) + "\r\n");
}

TEST(DownloadRun, SkipRuleStopsAtThePictureRecordedByTheFirstDownload)
{
    auto data = [](const QString &photos, const QString &pictures) {
        return uR"j({"sina_photo_users": [{"uid": "1", "title": "相", "albums": [
            {"name": "专辑", "ctg_id": "1", "photos": [%1]}]}], "pictures": {%2}})j"_s.arg(photos, pictures)
            .toUtf8();
    };
    const QString a = u"{\"src\": \"http://static.photo.sina.com.cn/small/a\", \"title\": \"甲\"}"_s;
    const QString b = u"{\"src\": \"http://static.photo.sina.com.cn/small/b\", \"title\": \"乙\"}"_s;
    const QString n = u"{\"src\": \"http://static.photo.sina.com.cn/small/n\", \"title\": \"新\"}"_s;
    const QString pictures = u"\"%1a\": {\"size\": 1000}, \"%1b\": {\"size\": 1100}, \"%1n\": {\"size\": 1200}"_s.arg(kOriginal);

    DownloadRun run;
    run.Rules().flags = kSkipDownloaded;
    const QString album = u"save/相/专辑/"_s;
    {
        FakeService first(data(a + u","_s + b, pictures));
        ASSERT_TRUE(first.IsRunning());
        run.ListAndDownload(u"http://photo.blog.sina.com.cn/u/1"_s);
        QStringList fetched = PictureRequests(first);
        fetched.sort();
        EXPECT_EQ(fetched, (QStringList{kOriginal + u"a"_s, kOriginal + u"b"_s}));
    }
    for (int again = 0; again < 2; ++again) {
        SCOPED_TRACE(again);
        // A new picture in front: only it is fetched, the listing ends at
        // the recorded first picture, and the record keeps that one.
        FakeService later(data(n + u","_s + a + u","_s + b, pictures));
        ASSERT_TRUE(later.IsRunning());
        run.ListAndDownload(u"http://photo.blog.sina.com.cn/u/1"_s);
        EXPECT_EQ(PictureRequests(later), QStringList{kOriginal + u"n"_s});
        EXPECT_EQ(run.core.m_downState, 0);
        QString recorded;
        ReadLastFirstUrl(recorded, run.dir.File(album));
        EXPECT_EQ(recorded, kOriginal + u"a"_s);
    }
    EXPECT_EQ(TreeOf(run.dir.File(album)), (QStringList{u"pic.orv"_s, u"乙.jpg"_s, u"新.jpg"_s, u"甲.jpg"_s}));
}

TEST(DownloadRun, StopDuringTheDownloadLetsRunningPicturesEndAndWritesNoRecord)
{
    QString photos;
    QString pictures;
    for (int i = 0; i < 8; ++i) {
        photos += u"%1{\"src\": \"http://static.photo.sina.com.cn/small/s%2\", \"title\": \"图%2\"}"_s.arg(i ? u","_s : QString()).arg(i);
        pictures += u"%1\"%2s%3\": {\"size\": 20000}"_s.arg(i ? u","_s : QString(), kOriginal).arg(i);
    }
    const QByteArray data = uR"j({"sina_photo_users": [{"uid": "1", "title": "相", "albums": [
        {"name": "慢", "ctg_id": "1", "photos": [%1]}]}], "pictures": {%2},
        "faults": [{"match": "http://static.photo.sina.com.cn/orignal/", "delay": 0.4}]})j"_s.arg(photos, pictures)
                                .toUtf8();
    FakeService service(data);
    ASSERT_TRUE(service.IsRunning());
    DownloadRun run;
    run.Run(u"http://photo.blog.sina.com.cn/u/1"_s);
    ASSERT_EQ(run.core.m_albums.Size(), 1);

    std::thread download([&] { run.Download({}, DownParams{0, 0, 1, 10}); });
    const QString first = run.dir.File(u"save/相/慢/图0.jpg"_s);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!QFileInfo::exists(first) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    RequestDownloadStop(run.core);
    download.join();

    EXPECT_EQ(run.core.m_downState, 0);
    EXPECT_FALSE(g_poolRunning);
    QStringList files = TreeOf(run.dir.File(u"save/相/慢/"_s));
    // One picture, perhaps the one running when the stop came; no record,
    // no temporary file; the pictures never begun are listed.
    EXPECT_TRUE(files.contains(u"failed.txt"_s)) << files.join(u'|').toStdString();
    files.removeAll(u"failed.txt"_s);
    EXPECT_GE(files.size(), 1);
    EXPECT_LE(files.size(), 2) << files.join(u'|').toStdString();
    for (const QString &file : files)
        EXPECT_TRUE(file == u"图0.jpg"_s || file == u"图1.jpg"_s) << file.toStdString();
    EXPECT_LE(PictureRequests(service).size(), 2);
}

TEST(DownloadRun, PicturesDownloadWhileTheAlbumIsListedAndAStopKeepsWhatWasSaved)
{
    // Album 长: six pictures on three pages of two, page 2 held until the
    // test lets it go; album 后 after it.
    TempDir signal;
    const QString release = signal.File(u"release"_s);
    QJsonArray photos;
    QJsonObject pictures;
    for (int i = 0; i < 6; ++i) {
        photos.append(QJsonObject{{u"src"_s, u"http://static.photo.sina.com.cn/small/l%1"_s.arg(i)},
                                  {u"title"_s, u"页%1"_s.arg(i)}});
        pictures[kOriginal + u"l%1"_s.arg(i)] = QJsonObject{{u"size"_s, 1000 + i}};
    }
    const QJsonArray albums{QJsonObject{{u"name"_s, u"长"_s}, {u"ctg_id"_s, u"1"_s}, {u"per_page"_s, 2},
                                        {u"photos"_s, photos}},
                            QJsonObject{{u"name"_s, u"后"_s}, {u"ctg_id"_s, u"2"_s}, {u"photos"_s, photos}}};
    const QJsonObject user{{u"uid"_s, u"1"_s}, {u"title"_s, u"相"_s}, {u"albums"_s, albums}};
    const QString pages = u"http://photo.blog.sina.com.cn/category/u/1/s/1/page"_s;
    const QJsonArray faults{QJsonObject{{u"match"_s, pages + u"2"_s}, {u"hold"_s, release}}};
    FakeService service(QJsonDocument(QJsonObject{{u"sina_photo_users"_s, QJsonArray{user}},
                                                  {u"pictures"_s, pictures}, {u"faults"_s, faults}})
                            .toJson());
    ASSERT_TRUE(service.IsRunning());
    DownloadRun run;
    run.Run(u"http://photo.blog.sina.com.cn/u/1"_s);
    ASSERT_EQ(run.core.m_albums.Size(), 2);
    std::thread download([&] { run.Download(); });

    // Page 1's pictures reach the disk while page 2 is still held.
    const QString folder = run.save + u"相"_s + kSep + u"长"_s + kSep;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!(QFileInfo::exists(folder + u"页0.jpg"_s) && QFileInfo::exists(folder + u"页1.jpg"_s))
           && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const bool savedWhileListed = QFileInfo::exists(folder + u"页0.jpg"_s) && QFileInfo::exists(folder + u"页1.jpg"_s);
    // Stopped while the album is listed, then page 2 answers.
    RequestDownloadStop(run.core);
    signal.Write(u"release"_s, "");
    download.join();
    EXPECT_TRUE(savedWhileListed);

    EXPECT_EQ(run.core.m_downState, 0);
    // What was saved stays, whole, and counts; no record (the album was
    // stopped), nothing half-written, nothing of page 2 fetched, page 3
    // never asked, the next album never begun.
    EXPECT_EQ(run.SavedTree(), (QStringList{u"相/"_s, u"相/长/"_s, u"相/长/页0.jpg"_s, u"相/长/页1.jpg"_s}));
    EXPECT_EQ(FileSize(folder + u"页1.jpg"_s), 1001);
    EXPECT_TRUE(run.summary.stopped);
    EXPECT_EQ(run.summary.pictures.saved, 2u);
    EXPECT_EQ(run.summary.pictures.failed, 0u);
    QStringList fetched = PictureRequests(service);
    fetched.sort();
    EXPECT_EQ(fetched, (QStringList{kOriginal + u"l0"_s, kOriginal + u"l1"_s}));
    EXPECT_FALSE(service.RequestedUrls().contains(pages + u"3"_s));
    EXPECT_EQ(run.window->Texts(kIdStatusMain).filter(u"正在下载第2/2个图集"_s).size(), 0);
}

TEST(DownloadRun, SizeLimitsKeepOnlyPicturesWithinThem)
{
    const QByteArray data = uR"j({"sina_photo_users": [{"uid": "1", "title": "相", "albums": [
        {"name": "大小", "ctg_id": "1", "photos": [
          {"src": "http://static.photo.sina.com.cn/small/s10", "title": "10"},
          {"src": "http://static.photo.sina.com.cn/small/s60", "title": "60"},
          {"src": "http://static.photo.sina.com.cn/small/s200", "title": "200"},
          {"src": "http://static.photo.sina.com.cn/small/s100", "title": "100"}]}]}],
      "pictures": {
        "http://static.photo.sina.com.cn/orignal/s10": {"size": 10240},
        "http://static.photo.sina.com.cn/orignal/s60": {"format": "png", "size": 61440},
        "http://static.photo.sina.com.cn/orignal/s200": {"size": 204800},
        "http://static.photo.sina.com.cn/orignal/s100": {"format": "gif", "size": 102400}}})j"_s.toUtf8();
    FakeService service(data);
    ASSERT_TRUE(service.IsRunning());
    DownloadRun run;
    run.ListAndDownload(u"http://photo.blog.sina.com.cn/u/1"_s, {}, DownParams{50, 100, 4, 10});
    // Bounds included; 10 KiB is too small, 200 KiB too large: skipped by
    // the rule, no failure. The first picture was one of them, so no record
    // names it. The run's parameters did not touch the settings.
    EXPECT_EQ(TreeOf(run.dir.File(u"save/相/大小/"_s)), (QStringList{u"100.jpg"_s, u"60.jpg"_s}));
    EXPECT_EQ(run.summary.pictures.skipped, 2u);
    EXPECT_EQ(run.summary.pictures.failed, 0u);
    EXPECT_EQ(run.core.m_settings.downParams[DownloadRun::kSina].minKb, 0);
}

TEST(DownloadRun, HostileServiceWritesNothingOutsideTheSaveFolderAndNoPartialPicture)
{
    TempDir other;
    const QString outside = other.Path() + u"escaped.jpg"_s;
    QJsonArray photos;
    QJsonObject pictures;
    auto photo = [&](const QString &name, const QString &title, QJsonObject picture) {
        const QString url = kOriginal + name;
        photos.append(QJsonObject{{u"src"_s, u"http://static.photo.sina.com.cn/small/"_s + name}, {u"title"_s, title}});
        pictures[url] = picture;
    };
    // Good pictures with titles that name places outside the album.
    photo(u"g1"_s, outside, {{u"size"_s, 1111}});
    photo(u"g2"_s, u"C:\\Windows\\win.ini"_s, {{u"size"_s, 2222}});
    photo(u"g3"_s, u"../../../../up.jpg"_s, {{u"size"_s, 3333}});
    // Pictures that never end, stall, lie about their length, trickle, or
    // redirect to a local file.
    other.Write(u"secret.txt"_s, "secret");
    photo(u"h1"_s, u"endless"_s, {{u"size"_s, 50000}, {u"hostile"_s, u"endless"_s}, {u"seconds"_s, 20}});
    photo(u"h2"_s, u"stall"_s, {{u"size"_s, 50000}, {u"hostile"_s, u"stall"_s}, {u"seconds"_s, 20}});
    photo(u"h3"_s, u"lie"_s, {{u"size"_s, 50000}, {u"hostile"_s, u"lie"_s}});
    photo(u"h4"_s, u"trickle"_s, {{u"size"_s, 50000}, {u"hostile"_s, u"trickle"_s}, {u"seconds"_s, 20}});
    photo(u"h5"_s, u"redirect"_s,
          {{u"hostile"_s, u"redirect"_s}, {u"location"_s, u"file://"_s + other.File(u"secret.txt"_s)}});
    QJsonArray albums;
    for (const QString &name : {u".."_s, u"../../逃"_s, other.Path() + u"abs"_s})
        albums.append(QJsonObject{{u"name"_s, name}, {u"ctg_id"_s, QString::number(albums.size() + 1)},
                                  {u"photos"_s, photos}});
    const QJsonObject user{{u"uid"_s, u"1"_s}, {u"title"_s, u"../../.."_s}, {u"albums"_s, albums}};
    const QByteArray data =
        QJsonDocument(QJsonObject{{u"sina_photo_users"_s, QJsonArray{user}}, {u"pictures"_s, pictures}}).toJson();
    FakeService service(data);
    ASSERT_TRUE(service.IsRunning());

    DownloadRun run;
    run.Rules().flags = kWriteTitles;
    const auto started = std::chrono::steady_clock::now();
    run.ListAndDownload(u"http://photo.blog.sina.com.cn/u/1"_s, {0, 1, 2}, DownParams{0, 1024, 8, 1});
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
    EXPECT_EQ(run.core.m_downState, 0);

    // Nothing beside the save folder but the settings; nothing in the other
    // folder but its own file.
    for (const QString &entry : TreeOf(run.dir.Path()))
        EXPECT_TRUE(entry.startsWith(u"save/"_s) || entry == u"soft.dat"_s) << entry.toStdString();
    EXPECT_EQ(TreeOf(other.Path()), QStringList{u"secret.txt"_s});

    // Only whole good pictures, of their served sizes: three per album, each
    // album in a folder of its own below the save folder.
    int pictureFiles = 0;
    for (const QString &entry : run.SavedTree()) {
        if (entry.endsWith(u'/') || entry.endsWith(u"pic.orv"_s) || entry.endsWith(u".txt"_s))
            continue;
        ++pictureFiles;
        const qint64 size = FileSize(run.save + entry);
        EXPECT_TRUE(size == 1111 || size == 2222 || size == 3333) << entry.toStdString() << " " << size;
    }
    EXPECT_EQ(pictureFiles, 9) << run.SavedTree().join(u'\n').toStdString();
}

} // namespace
} // namespace tamblin::test

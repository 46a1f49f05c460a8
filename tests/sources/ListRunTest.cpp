// The album-list run end to end: GetListFunc and the three Sina list
// extractors through http_proxy against the fake service, with the real
// host names.
#include "FakeService.h"
#include "ListRun.h"

#include <QFile>

#include <gtest/gtest.h>

#include <thread>

using namespace Qt::StringLiterals;

namespace tamblin::test {
namespace {

const QByteArray kSinaPhotoData = R"j({
  "sina_photo_users": [{
    "uid": "1234567890",
    "title_html": "<a href=\"/u/1234567890\"><b>小明</b>的相册</a>",
    "albums": [
      {"name": "西湖 (1)", "ctg_id": "1", "pic_cnt": 5},
      {"name": "西湖", "ctg_id": "2", "pic_cnt": 24},
      {"name": "西湖", "ctg_id": "3", "pic_cnt": 3},
      {"name": "封面在前", "ctg_id": "4", "pic_cnt": 7,
       "key_order": ["category", "pic_cnt", "big_url", "ctg_url"]},
      {"name": "", "ctg_id": "5"},
      {"name": "没有数量", "ctg_id": "6", "omit": ["pic_cnt"]}
    ]
  }]
})j";

TEST(ListRun, SinaPhotoAlbumsAreListedWithUniqueNamesAddressesCountsAndHistory)
{
    FakeService service(kSinaPhotoData);
    ASSERT_TRUE(service.IsRunning());
    ListRun run;
    run.Run(u"  http://photo.blog.sina.com.cn/u/1234567890 \t"_s);

    EXPECT_EQ(run.core.m_subMode, kSubModeSinaPhoto);
    EXPECT_EQ(run.core.m_listType, 4);
    // The names come "\u"-escaped in the JSON; the empty one is skipped.
    EXPECT_EQ(run.Names(), (QStringList{u"西湖 (1)"_s, u"西湖"_s, u"西湖 (2)"_s, u"封面在前"_s, u"没有数量"_s}));
    ASSERT_EQ(run.core.m_albums.Size(), 5);
    EXPECT_EQ(run.Album(1).albumUrl, u"http://photo.blog.sina.com.cn/category/u/1234567890/s/2"_s);
    EXPECT_EQ(run.Album(1).coverUrl, u"http://static.photo.sina.com.cn/orignal/cover1.jpg"_s);
    EXPECT_EQ(run.Album(1).count, 24);
    EXPECT_EQ(run.Album(1).flags, 0);
    // big_url written before ctg_url: the cover is searched after the address
    // and is not found.
    EXPECT_EQ(run.Album(3).albumUrl, u"http://photo.blog.sina.com.cn/category/u/1234567890/s/4"_s);
    EXPECT_EQ(run.Album(3).coverUrl, QString());
    EXPECT_EQ(run.Album(3).count, 7);
    EXPECT_EQ(run.Album(4).count, 0);

    // The title ends at the first closing tag; its other tags are stripped.
    EXPECT_EQ(run.core.m_userFolder, u"小明"_s + kSep);
    EXPECT_EQ(run.core.m_subFolder, QString());
    EXPECT_EQ(run.core.m_ownerUid, u"1234567890"_s);
    EXPECT_EQ(run.core.m_listState.load(), 0);

    const QStringList events = run.window->Events();
    ASSERT_FALSE(events.isEmpty());
    EXPECT_EQ(events.first(), u"ListBusy"_s);
    EXPECT_TRUE(run.window->Messages().isEmpty()) << run.window->Messages().join(u'|').toStdString();
    EXPECT_EQ(run.window->LastText(kIdAlbumFrame), u"相册列表(共5个)"_s);
    EXPECT_EQ(run.window->LastText(kIdStatusMain), u"获取相册列表完成，共5个"_s);
    EXPECT_LT(events.indexOf(u"ListIdle"_s), events.indexOf(u"History0:http://photo.blog.sina.com.cn/u/1234567890"_s))
        << events.join(u'\n').toStdString();

    // The trimmed address went into the history and the settings file.
    EXPECT_EQ(run.core.m_settings.addressHistory[0].Get(), u"http://photo.blog.sina.com.cn/u/1234567890"_s);
    EXPECT_EQ(run.SavedHistory(0), u"http://photo.blog.sina.com.cn/u/1234567890"_s);

    // The category list was asked for the owner id found after the title.
    EXPECT_TRUE(service.RequestedUrls().contains(
        u"http://photo.blog.sina.com.cn/services/ctg_list_ctg.php?format=gsonv&uid=1234567890"_s));

    // The same address again, in other letter case: the history and the
    // settings file are left alone.
    QFile::remove(run.dir.File(u"soft.dat"_s));
    run.Run(u"http://PHOTO.blog.sina.com.cn/u/1234567890"_s);
    EXPECT_EQ(run.core.m_albums.Size(), 5);
    EXPECT_FALSE(QFile::exists(run.dir.File(u"soft.dat"_s)));
    EXPECT_EQ(run.core.m_settings.addressHistory[1].Get(), QString());
}

TEST(ListRun, SinaPhotoPageWithoutTitleStillListsTheAlbums)
{
    FakeService service(R"j({
      "sina_photo_users": [{"uid": "77", "title": "x", "albums": [{"name": "a", "pic_cnt": 1}]}],
      "pages": {"http://photo.blog.sina.com.cn/u/77": {"body": "<html><a href=\"http://blog.sina.com.cn/s/articlelist_77_0_1.html\">list</a></html>"}}
    })j");
    ASSERT_TRUE(service.IsRunning());
    ListRun run;
    run.Run(u"http://photo.blog.sina.com.cn/u/77"_s);
    EXPECT_EQ(run.Names(), QStringList{u"a"_s});
    EXPECT_EQ(run.core.m_userFolder, QString());
    EXPECT_EQ(run.core.m_ownerUid, u"77"_s);
}

const QByteArray kBlogData = R"j({
  "sina_blogs": [
    {"uid": "1111", "title": "小明的博客", "per_page": 2, "articles": [
      {"id": "a1", "title": "周末去爬山"},
      {"id": "a2", "title": "旅行/路上: 第一天"},
      {"id": "a3", "title": "夜景 &amp; 星空"},
      {"id": "a4", "title": "周末去爬山"},
      {"id": "a5", "title": "最后一篇"}
    ]},
    {"uid": "2222", "title": "旧版博客", "style": "linedot", "per_page": 1, "articles": [
      {"id": "b1", "title": "第一篇"},
      {"id": "b2", "title": "第二篇"},
      {"id": "b3", "title": "第三篇"}
    ]}
  ]
})j";

TEST(ListRun, SinaBlogArticlesAreWalkedPageByPageWithTheRightItemMarker)
{
    FakeService service(kBlogData);
    ASSERT_TRUE(service.IsRunning());
    ListRun run;
    run.Run(u"http://blog.sina.com.cn/s/articlelist_1111_0_1.html"_s);

    EXPECT_EQ(run.core.m_subMode, kSubModeSinaBlog);
    // The title "夜景 &amp; 星空" stands escaped once more in the page; it is
    // decoded once, with the page.
    EXPECT_EQ(run.Names(), (QStringList{u"周末去爬山"_s, u"旅行路上 第一天"_s, u"夜景 &amp; 星空"_s,
                                        u"周末去爬山 (1)"_s, u"最后一篇"_s}));
    ASSERT_EQ(run.core.m_albums.Size(), 5);
    EXPECT_EQ(run.Album(0).albumUrl, u"http://blog.sina.com.cn/s/blog_a1.html"_s);
    for (const auto &article : run.core.m_albums.items)
        EXPECT_EQ(article->count, -1);
    EXPECT_EQ(run.core.m_userFolder, u"小明的博客"_s + kSep);
    // Pages 1 to 3; the third has no next-page link, so there is no fourth.
    const QStringList urls = service.RequestedUrls();
    EXPECT_EQ(urls, (QStringList{u"http://blog.sina.com.cn/s/articlelist_1111_0_1.html"_s,
                                 u"http://blog.sina.com.cn/s/articlelist_1111_0_2.html"_s,
                                 u"http://blog.sina.com.cn/s/articlelist_1111_0_3.html"_s}));

    // The older design: no atc_title items on the first page, so the run
    // switches to the SG_j_linedot marker for all pages.
    ListRun older;
    older.Run(u"http://blog.sina.com.cn/s/articlelist_2222_0_1.html"_s);
    EXPECT_EQ(older.Names(), (QStringList{u"第一篇"_s, u"第二篇"_s, u"第三篇"_s}));
    EXPECT_EQ(older.Album(2).albumUrl, u"http://blog.sina.com.cn/s/blog_b3.html"_s);
    EXPECT_EQ(older.core.m_userFolder, u"旧版博客"_s + kSep);
}

TEST(ListRun, AddressClassificationAndItsMessages)
{
    FakeService service(kBlogData);
    ASSERT_TRUE(service.IsRunning());
    const QString needHttp = StoredText(kTextBadAddress);
    ASSERT_FALSE(needHttp.isEmpty());

    // Empty address: the stored text, no busy phase.
    ListRun empty;
    empty.Run(u"   "_s);
    EXPECT_EQ(empty.window->Events(), QStringList{u"Message:"_s + needHttp});
    EXPECT_EQ(empty.core.m_listState.load(), 0);

    // Another scheme: the stored text, no extractor, zero albums counted.
    ListRun ftp;
    ftp.Run(u"ftp://weibo.com/u/1"_s);
    EXPECT_EQ(ftp.window->Messages(), QStringList{needHttp});
    EXPECT_EQ(ftp.window->LastText(kIdAlbumFrame), u"相册列表(共0个)"_s);
    EXPECT_TRUE(ftp.window->Events().contains(u"ListIdle"_s));
    EXPECT_EQ(ftp.core.m_subMode, kSubModeNone);

    // Neither http:// nor https://: the stored text, no extractor, zero
    // albums counted.
    ListRun bare;
    bare.Run(u"weibo.com/u/1"_s);
    EXPECT_EQ(bare.window->Messages(), QStringList{needHttp});
    EXPECT_EQ(bare.window->LastText(kIdAlbumFrame), u"相册列表(共0个)"_s);
    EXPECT_TRUE(bare.window->Events().contains(u"ListIdle"_s));
    EXPECT_EQ(bare.core.m_subMode, kSubModeNone);
    EXPECT_TRUE(service.RequestedUrls().isEmpty());

    // The scheme in capitals is the same scheme.
    ListRun capitals;
    capitals.Run(u"HTTP://blog.sina.com.cn/s/articlelist_2222_0_1.html"_s);
    EXPECT_EQ(capitals.Names().size(), 3);

    // "/s/" without "_": the blog extractor gets an empty address; the run
    // ends saying what could not be fetched, not asking for a login.
    ListRun noUnderscore;
    noUnderscore.Run(u"http://blog.sina.com.cn/s/articlelist"_s);
    EXPECT_EQ(noUnderscore.core.m_subMode, kSubModeSinaBlog);
    EXPECT_EQ(noUnderscore.window->Messages(), QStringList{u"not an http or https address"_s});

    // "/s/" and the Weibo fragment: a blog address.
    ListRun both;
    both.Run(u"http://blog.sina.com.cn/s/articlelist_2222_0_1.html?from=weibo.com"_s);
    EXPECT_EQ(both.core.m_subMode, kSubModeSinaBlog);
    EXPECT_EQ(both.Names().size(), 3);
}

QByteArray WeiboData(const QString &form, const QString &uid, const QString &nickname)
{
    return uR"j({
      "weibo_users": [{
        "uid": "%1", "nickname": "%2", "oid_form": "%3", "needs_login": false,
        "albums": [
          {"album_id": "3550001", "type": 3, "caption": "微博配图", "cover_pic": "http://ww1.sinaimg.cn/thumb300/a1.jpg", "photos": 120},
          {"album_id": "3550002", "type": 5, "caption": "标题在前", "photos": 6,
           "key_order": ["album_id", "caption", "uid", "type", "cover_pic", "photos", "is_private"]},
          {"album_id": "", "type": 3, "caption": "没有编号"},
          {"album_id": "3550004", "type": 0, "caption": "微博配图", "cover_pic": "http://ww3.sinaimg.cn/thumb300/a3.jpg", "photos": 37}
        ]
      }]
    })j"_s.arg(uid, nickname, form).toUtf8();
}

TEST(ListRun, WeiboAlbumsInEachOwnerIdForm)
{
    for (const QString &form : {u"spaced"_s, u"compact"_s, u"json"_s}) {
        SCOPED_TRACE(form.toStdString());
        FakeService service(WeiboData(form, u"2000000001"_s, u"旅行的小鹿"_s));
        ASSERT_TRUE(service.IsRunning());
        ListRun run;
        run.Run(u"http://weibo.com/u/2000000001"_s);

        EXPECT_EQ(run.core.m_subMode, kSubModeWeibo);
        EXPECT_EQ(run.core.m_ownerUid, u"2000000001"_s);
        EXPECT_EQ(run.core.m_userFolder, u"旅行的小鹿"_s + kSep);
        ASSERT_EQ(run.core.m_albums.Size(), 3);
        EXPECT_EQ(run.Album(0).name, u"微博配图"_s);
        EXPECT_EQ(run.Album(0).albumUrl,
                  u"https://photo.weibo.com/photos/get_all?uid=2000000001&album_id=3550001&count=32&type=3&page="_s);
        EXPECT_EQ(run.Album(0).coverUrl, u"http://ww1.sinaimg.cn/thumb300/a1.jpg"_s);
        EXPECT_EQ(run.Album(0).count, 120);
        // The caption before the type field is not found; the album is still
        // added, named by the time stamp fallback.
        EXPECT_TRUE(QRegularExpression(u"^\\d{14}$"_s).match(run.Album(1).name).hasMatch()) << run.Album(1).name.toStdString();
        EXPECT_EQ(run.Album(1).albumUrl,
                  u"https://photo.weibo.com/photos/get_all?uid=2000000001&album_id=3550002&count=32&type=5&page="_s);
        EXPECT_EQ(run.Album(2).name, u"微博配图 (1)"_s);
        EXPECT_EQ(run.Album(2).count, 37);

        EXPECT_EQ(service.RequestHeader(u"https://weibo.com/u/2000000001"_s, u"Accept-Encoding"_s),
                  std::optional<QString>(u"gzip, deflate"_s));
    }
}

TEST(ListRun, WeiboSendsItsCookieLineEvenWithoutALogin)
{
    FakeService service(WeiboData(u"spaced"_s, u"2000000001"_s, u"n"_s));
    ASSERT_TRUE(service.IsRunning());
    ListRun run;
    run.Run(u"http://weibo.com/u/2000000001"_s);
    ASSERT_EQ(run.core.m_albums.Size(), 3);
    // No cookie in the store: both requests still carry "cookie: " with
    // nothing after it.
    EXPECT_EQ(service.RequestHeader(u"https://weibo.com/u/2000000001"_s, u"cookie"_s), std::optional<QString>(QString()));
    EXPECT_EQ(service.RequestHeader(u"https://photo.weibo.com/albums/get_all?uid=2000000001&count=65535"_s, u"cookie"_s),
              std::optional<QString>(QString()));
}

TEST(ListRun, WeiboWithTheLoginCookieOfTheStore)
{
    FakeService service(R"j({"login_cookie": "SUB=logged-in",
      "weibo_users": [{"uid": "6", "nickname": "登录用户", "oid_form": "compact",
                       "albums": [{"album_id": "61", "type": 3, "caption": "c", "photos": 2}]}]})j");
    ASSERT_TRUE(service.IsRunning());
    ListRun run;
    CookieStore &store = CookieStore::Instance();
    Cookie login;
    login.domain = u"weibo.com"_s;
    login.hostOnly = false;
    login.name = u"SUB"_s;
    login.value = u"logged-in"_s;
    store.AddCookie(login);
    run.Run(u"http://weibo.com/u/6"_s);
    store.Clear();
    EXPECT_EQ(run.Names(), QStringList{u"c"_s});
    EXPECT_EQ(run.core.m_userFolder, u"登录用户"_s + kSep);
    // Both requests carry the cookie string of the Weibo site root.
    EXPECT_EQ(service.RequestHeader(u"https://photo.weibo.com/albums/get_all?uid=6&count=65535"_s, u"cookie"_s),
              std::optional<QString>(u"SUB=logged-in"_s));
}

TEST(ListRun, WeiboLoginPageGivesTheLoginHint)
{
    FakeService service(R"j({"weibo_users": [{"uid": "5", "nickname": "n", "albums": [{"album_id": "1", "caption": "c"}]}]})j");
    ASSERT_TRUE(service.IsRunning());
    ListRun run;
    run.Run(u"http://weibo.com/u/5"_s);
    EXPECT_EQ(run.core.m_albums.Size(), 0);
    EXPECT_EQ(run.window->Messages(), QStringList{kLoginHint});
    EXPECT_EQ(run.core.m_ownerUid, QString());
    // No owner id: no album-service request; the web client's endpoints
    // answer that a login is needed, visitor cookies do not read this user,
    // and this window has no login browser.
    const QStringList urls = service.RequestedUrls();
    ASSERT_EQ(urls.size(), 5);
    EXPECT_EQ(urls.mid(0, 3), (QStringList{u"https://weibo.com/u/5"_s, u"https://weibo.com/ajax/profile/info?uid=5"_s,
                                           u"https://passport.weibo.com/visitor/genvisitor2"_s}));
    EXPECT_TRUE(urls[3].startsWith(u"https://passport.weibo.com/visitor/visitor?a=crossdomain&s=_2AkM"_s));
    EXPECT_EQ(urls[4], u"https://weibo.com/ajax/profile/info?uid=5"_s);
    // Nothing found, nothing kept.
    EXPECT_EQ(run.core.m_settings.addressHistory[0].Get(), QString());
}

// Asks the run to stop while the third album is being added, as a second
// press of the button would.
class StoppingWindow : public RecordingWindow {
public:
    TamblinCore *core = nullptr;
    void AlbumAdded(int index) override
    {
        RecordingWindow::AlbumAdded(index);
        if (index == 2)
            core->m_listState = 2;
    }
};

TEST(ListRun, ASecondPressStopsAfterTheAlbumBeingAdded)
{
    FakeService service(R"j({
      "weibo_users": [{"uid": "9", "nickname": "大户", "needs_login": false, "generate_albums": 500}],
      "sina_photo_users": [{"uid": "8", "title": "t", "albums": [{"name": "a"}, {"name": "b"}, {"name": "c"}, {"name": "d"}]}],
      "sina_blogs": [{"uid": "7", "title": "b", "per_page": 2, "articles": [
        {"id": "1", "title": "一"}, {"id": "2", "title": "二"}, {"id": "3", "title": "三"}, {"id": "4", "title": "四"}]}]
    })j");
    ASSERT_TRUE(service.IsRunning());
    for (const QString &address : {u"http://weibo.com/u/9"_s, u"http://photo.blog.sina.com.cn/u/8"_s,
                                  u"http://blog.sina.com.cn/s/articlelist_7_0_1.html"_s}) {
        SCOPED_TRACE(address.toStdString());
        StoppingWindow window;
        ListRun run(&window);
        window.core = &run.core;
        window.SetAddress(address);
        std::thread worker;
        ASSERT_EQ(PressGetAlbums(run.core, worker), ListPress::Started);
        worker.join();
        EXPECT_EQ(run.core.m_albums.Size(), 3);
        // A stopped run still counts what it found and keeps the address.
        EXPECT_EQ(window.LastText(kIdAlbumFrame), u"相册列表(共3个)"_s);
        EXPECT_EQ(run.core.m_listState.load(), 0);
        EXPECT_EQ(run.core.m_settings.addressHistory[0].Get(), address);
    }
}

TEST(ListRun, TheButtonDoesNothingBeforeStartUpAndOnlyAsksARunningListToStop)
{
    RecordingWindow window;
    TamblinCore core(&window);
    std::thread worker;
    EXPECT_EQ(PressGetAlbums(core, worker), ListPress::NotReady);
    EXPECT_FALSE(worker.joinable());

    core.m_ready = 1;
    core.m_listState = 1;
    EXPECT_EQ(PressGetAlbums(core, worker), ListPress::StopAsked);
    EXPECT_EQ(core.m_listState.load(), 2);
    EXPECT_FALSE(worker.joinable());
    EXPECT_TRUE(window.Events().isEmpty());
}

} // namespace
} // namespace tamblin::test

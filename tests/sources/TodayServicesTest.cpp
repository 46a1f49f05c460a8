// What today's services want, end to end through the fake service over
// https: the Referer of pictures, the login kept off plain http, patience
// with rate limits, pacing, the Weibo image wall when the album service
// fails, and clear failures for certificates and hostile answers.
#include "DownloadRun.h"
#include "FakeService.h"

#include "download/DownloadTexts.h"
#include "download/ListFiles.h"
#include "download/NamingRules.h"
#include "net/CookieStore.h"
#include "sources/ListTexts.h"
#include "sources/SourceSupport.h"
#include "sources/WeiboSession.h"
#include "sources/WeiboPosts.h"
#include "download/DateRange.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <chrono>
#include <thread>

using namespace Qt::StringLiterals;

namespace tamblin::test {
namespace {

// Picture ids and the addresses their rule gives (host ww when the 10th
// character is w, number 1 + CRC-32 & 3, gif when the 22nd is g).
const QString kPidGif = u"006AbCdEfwly1h0000000g00000aa"_s; // https://ww2.sinaimg.cn/large/<pid>.gif
const QString kPidLive = u"006AbCdEfxly1h000000000live01"_s; // https://wx3.sinaimg.cn/large/<pid>.jpg
const QString kPidAlbum1 = u"006AbCdEfxly1h0000000000alb01"_s; // wx2, jpg
const QString kPidAlbum2 = u"006AbCdEfxly1h0000000000alb02"_s; // wx4, jpg

Cookie MakeCookie(const QString &domain, const QString &name, const QString &value, bool secure = false)
{
    Cookie cookie;
    cookie.domain = domain;
    cookie.hostOnly = false;
    cookie.name = name;
    cookie.value = value;
    cookie.secure = secure;
    return cookie;
}

void LogIn()
{
    CookieStore::Instance().AddCookie(MakeCookie(u"weibo.com"_s, u"SUB"_s, u"login"_s));
}

QString HeaderOf(const QJsonObject &request, const QString &name)
{
    for (const QJsonValue &header : request.value(u"headers"_s).toArray()) {
        const QJsonArray pair = header.toArray();
        if (pair.at(0).toString().compare(name, Qt::CaseInsensitive) == 0)
            return pair.at(1).toString();
    }
    return {};
}

// The requests of the log whose address contains `part`.
QList<QJsonObject> RequestsTo(const FakeService &service, const QString &part)
{
    QList<QJsonObject> found;
    for (const QJsonValue &value : service.Requests()) {
        const QJsonObject request = value.toObject();
        if (request.value(u"method"_s).toString() == u"GET"_s && request.value(u"url"_s).toString().contains(part))
            found.append(request);
    }
    return found;
}

// How often `url` was asked, exactly.
qsizetype Asked(const FakeService &service, const QString &url)
{
    return service.RequestedUrls().count(url);
}

// A Weibo user with an image wall: two wall pictures (a GIF and a Live
// Photo) and hostile entries, one album of two pictures on two pages.
QByteArray WallUser(const QString &extra = QString(), const QString &dataExtra = QString())
{
    return uR"j({"login_cookie": "SUB=login"%6,
      "weibo_users": [{"uid": "77", "nickname": "墙主", "custom": "qiang"%1,
        "image_wall": {"per_page": 3,
          "pictures": ["%2", {"pid": "%3", "mid": "2", "type": "livephoto"},
                       "../../../etc/passwd", "a.b", {"mid": "9"}, {"pid": 12345, "type": "pic"}],
          "albums": [{"pic_title": "自拍", "containerid": "107803_77_1", "pic": "%4", "per_page": 1,
                      "pictures": ["%4", "%5"]},
                     {"pic_title": "无编号"}]}}]})j"_s
        .arg(extra, kPidGif, kPidLive, kPidAlbum1, kPidAlbum2, dataExtra)
        .toUtf8();
}

class TodayServices : public testing::Test {
protected:
    void SetUp() override
    {
        CookieStore::Instance().SetFilePath(QString());
        CookieStore::Instance().Clear();
        SetServiceWaitScale(0.0);
    }
    void TearDown() override
    {
        CookieStore::Instance().Clear();
        SetServiceWaitScale(0.0);
    }
};

TEST_F(TodayServices, EachSubModeSendsItsRefererAndTheLoginStaysOnHttps)
{
    FakeService service(uR"j({"login_cookie": "SUB=login",
      "sina_photo_users": [{"uid": "1", "title": "相册主", "albums": [{"name": "西湖", "ctg_id": "1",
        "photos": [{"src": "http://static.photo.sina.com.cn/small/p1", "title": "桥"}]}]}],
      "sina_blogs": [{"uid": "2", "title": "博主", "articles": [{"id": "a1", "title": "游记",
        "pictures": ["http://s1.sinaimg.cn/middle/b1"]}]}],
      "weibo_users": [{"uid": "3", "nickname": "微博主", "albums": [{"album_id": "31", "caption": "头像",
        "photo_list": [{"photo_id": "1", "caption": "一", "original_pic": "https://wx1.sinaimg.cn/large/w1.jpg"}]}]}],
      "pictures": {"http://static.photo.sina.com.cn/orignal/p1": {"size": 3000},
                   "http://s1.sinaimg.cn/orignal/b1": {"size": 3000},
                   "https://wx1.sinaimg.cn/large/w1.jpg": {"size": 3000}}})j"_s.toUtf8());
    ASSERT_TRUE(service.IsRunning());

    const struct {
        QString address;
        QString pictureHost;
        QString referer;
        QString file;
    } kCases[] = {
        {u"http://photo.blog.sina.com.cn/u/1"_s, u"static.photo.sina.com.cn"_s, u"http://photo.blog.sina.com.cn/"_s,
         u"相册主/西湖/桥.jpg"_s},
        {u"https://blog.sina.com.cn/s/articlelist_2_0_1.html"_s, u"s1.sinaimg.cn"_s, u"https://blog.sina.com.cn/"_s,
         u"博主/游记/游记.jpg"_s},
        // Typed as plain http: asked over https, where the login may go.
        {u"http://weibo.com/u/3"_s, u"wx1.sinaimg.cn"_s, u"https://weibo.com/"_s, u"微博主/头像/一.jpg"_s},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.address.toStdString());
        DownloadRun run;
        LogIn();
        // Login browsers keep Secure cookies too; they must reach https only.
        CookieStore::Instance().AddCookie(MakeCookie(u"weibo.com"_s, u"SSO"_s, u"secure"_s, true));
        CookieStore::Instance().AddCookie(MakeCookie(u"sina.com.cn"_s, u"SSO"_s, u"secure"_s, true));
        run.ListAndDownload(c.address);
        EXPECT_TRUE(run.SavedTree().contains(c.file)) << run.SavedTree().join(u' ').toStdString();
        const QList<QJsonObject> pictures = RequestsTo(service, c.pictureHost);
        ASSERT_EQ(pictures.size(), 1);
        EXPECT_EQ(HeaderOf(pictures[0], u"Referer"_s), c.referer);
        EXPECT_EQ(HeaderOf(pictures[0], u"Cookie"_s), QString());
    }

    // The Weibo requests went over https with the whole login, Secure
    // cookies included; nothing over plain http carried a cookie.
    EXPECT_TRUE(RequestsTo(service, u"http://weibo.com"_s).isEmpty());
    EXPECT_EQ(HeaderOf(RequestsTo(service, u"https://weibo.com/u/3"_s).value(0), u"cookie"_s),
              u"SUB=login; SSO=secure"_s);
    const QJsonObject albumList = RequestsTo(service, u"https://photo.weibo.com/albums/get_all"_s).value(0);
    EXPECT_EQ(HeaderOf(albumList, u"cookie"_s), u"SUB=login; SSO=secure"_s);
    EXPECT_EQ(HeaderOf(albumList, u"Referer"_s), u"https://photo.weibo.com/3/talbum/index?from=profile_wb"_s);
    for (const QJsonObject &request : RequestsTo(service, u"http://"_s))
        EXPECT_EQ(HeaderOf(request, u"Cookie"_s), QString()) << request.value(u"url"_s).toString().toStdString();
}

TEST_F(TodayServices, TheListOnlyModeWritesAnAria2ListWithNamesAndReferer)
{
    FakeService service(WallUser(u", \"needs_login\": false"_s));
    ASSERT_TRUE(service.IsRunning());
    DownloadRun run;
    run.Rules().flags = kListOnly;
    run.ListAndDownload(u"https://weibo.com/u/77"_s, {0});
    const QString folder = run.save + u"墙主"_s + kSep + u"自拍"_s + kSep;
    const QString expected = u"https://wx2.sinaimg.cn/large/%1.jpg\n  out=%1.jpg\n  referer=https://weibo.com/\n"
                             u"https://wx4.sinaimg.cn/large/%2.jpg\n  out=%2.jpg\n  referer=https://weibo.com/\n"_s
                                 .arg(kPidAlbum1, kPidAlbum2);
    QFile aria2(folder + u"自拍.aria2.txt"_s);
    ASSERT_TRUE(aria2.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(aria2.readAll()), expected);
    EXPECT_TRUE(RequestsTo(service, u"sinaimg.cn"_s).isEmpty());
}

TEST_F(TodayServices, AFailingAlbumServiceFallsBackToTheImageWall)
{
    // Every way the old album service fails leads to the same albums.
    for (const QString &fault : {u"502"_s, u"login_redirect"_s, u"ok_minus_100"_s, u"not_json"_s, u"empty"_s}) {
        SCOPED_TRACE(fault.toStdString());
        FakeService service(WallUser(u", \"album_service\": \"%1\""_s.arg(fault)));
        ASSERT_TRUE(service.IsRunning());
        DownloadRun run;
        LogIn();
        CookieStore::Instance().AddCookie(MakeCookie(u"weibo.com"_s, u"XSRF-TOKEN"_s, u"tok"_s));
        run.Run(u"https://weibo.com/u/77"_s);
        // The album without a container id is left out.
        ASSERT_EQ(run.Names(), (QStringList{u"自拍"_s, u"全部图片"_s}))
            << run.window->Messages().join(u'|').toStdString();
        EXPECT_EQ(run.Album(0).count, -1);
        EXPECT_EQ(run.Album(0).coverUrl, u"https://wx2.sinaimg.cn/large/%1.jpg"_s.arg(kPidAlbum1));
        EXPECT_TRUE(run.window->Messages().isEmpty());
        const QJsonObject wall = RequestsTo(service, u"/ajax/profile/getImageWall"_s).value(0);
        EXPECT_EQ(HeaderOf(wall, u"Referer"_s), u"https://weibo.com/u/77"_s);
        EXPECT_EQ(HeaderOf(wall, u"X-Requested-With"_s), u"XMLHttpRequest"_s);
        EXPECT_EQ(HeaderOf(wall, u"Accept"_s), u"application/json, text/plain, */*"_s);
        EXPECT_EQ(HeaderOf(wall, u"X-XSRF-TOKEN"_s), u"tok"_s);
        EXPECT_TRUE(HeaderOf(wall, u"Cookie"_s).contains(u"SUB=login"_s));
        if (fault != u"502"_s)
            continue;

        // Both albums download through the same route: the album over its
        // two cursor pages, the wall keeping only real picture ids; a Live
        // Photo gives its still and its clip.
        run.Download();
        EXPECT_TRUE(run.window->Messages().isEmpty()) << run.window->Messages().join(u'|').toStdString();
        const QStringList tree = run.SavedTree();
        for (const QString &file : {u"墙主/自拍/%1.jpg"_s.arg(kPidAlbum1), u"墙主/自拍/%1.jpg"_s.arg(kPidAlbum2),
                                    u"墙主/全部图片/%1.gif"_s.arg(kPidGif), u"墙主/全部图片/%1.jpg"_s.arg(kPidLive),
                                    u"墙主/全部图片/%1.mov"_s.arg(kPidLive)})
            EXPECT_TRUE(tree.contains(file)) << file.toStdString() << " in " << tree.join(u' ').toStdString();
        // The clip by its stable address, then where that leads.
        EXPECT_EQ(RequestsTo(service, u"sinaimg.cn/"_s).size(), 5);
        EXPECT_EQ(RequestsTo(service, u"video.weibo.com/media/play"_s).size(), 1);
        for (const QJsonObject &picture : RequestsTo(service, u"sinaimg.cn"_s))
            EXPECT_EQ(HeaderOf(picture, u"Referer"_s), u"https://weibo.com/"_s);
        EXPECT_EQ(RequestsTo(service, u"getAlbumDetail"_s).size(), 2);
        // The wall's first page as the list run read it.
        EXPECT_EQ(RequestsTo(service, u"getImageWall?uid=77&has_album=true&sinceid=0"_s).size(), 1);
    }
}

TEST_F(TodayServices, APictureOfTwoAlbumsIsFetchedOnceAndCopied)
{
    // 全部图片 holds the pictures of 自拍 too; one is a PNG behind a .jpg
    // address.
    FakeService service(uR"j({"weibo_users": [{"uid": "77", "nickname": "墙主", "needs_login": false,
        "album_service": "502",
        "image_wall": {"per_page": 3,
          "pictures": [{"pid": "%1", "mid": "4900000000000001", "type": "pic", "format": "png"}, "%2", "%3"],
          "albums": [{"pic_title": "自拍", "containerid": "107803_77_1", "per_page": 1,
                      "pictures": ["%1", "%2"]}]}}]})j"_s.arg(kPidAlbum1, kPidAlbum2, kPidGif)
                            .toUtf8());
    ASSERT_TRUE(service.IsRunning());
    DownloadRun run;
    run.ListAndDownload(u"https://weibo.com/u/77"_s);
    ASSERT_EQ(run.Names(), (QStringList{u"自拍"_s, u"全部图片"_s}));

    // Each picture asked once; the wall's copies are the album's files, the
    // PNG under the name its format fix-up gave.
    QStringList pictures;
    for (const QJsonObject &request : RequestsTo(service, u"sinaimg.cn"_s))
        pictures.append(request.value(u"url"_s).toString());
    pictures.sort();
    EXPECT_EQ(pictures, (QStringList{u"https://ww2.sinaimg.cn/large/%1.gif"_s.arg(kPidGif),
                                     u"https://wx2.sinaimg.cn/large/%1.jpg"_s.arg(kPidAlbum1),
                                     u"https://wx4.sinaimg.cn/large/%1.jpg"_s.arg(kPidAlbum2)}));
    for (const QString &name : {kPidAlbum1 + u".png"_s, kPidAlbum2 + u".jpg"_s}) {
        SCOPED_TRACE(name.toStdString());
        const QByteArray saved = run.dir.Read(u"save/墙主/自拍/"_s + name);
        EXPECT_FALSE(saved.isEmpty());
        EXPECT_EQ(run.dir.Read(u"save/墙主/全部图片/"_s + name), saved);
    }
    EXPECT_EQ(run.summary.pictures.saved, 5u);
    EXPECT_EQ(run.summary.pictures.failed, 0u);
}

// Logs in when the window is asked to, as a user in the login browser would.
class LoginWindow : public RecordingWindow {
public:
    QStringList logins;
    bool OpenLogin(const QString &startUrl) override
    {
        logins.append(startUrl);
        LogIn();
        return true;
    }
};

TEST_F(TodayServices, ALoginIsOfferedOnceThenTheListGoesOn)
{
    // A personal address whose page (a visitor page) names no owner.
    FakeService service(WallUser());
    ASSERT_TRUE(service.IsRunning());
    LoginWindow window;
    ListRun run(&window);
    run.Run(u"https://weibo.com/qiang"_s);
    EXPECT_EQ(window.logins, QStringList{u"https://weibo.com/login.php"_s});
    EXPECT_EQ(run.Names(), (QStringList{u"自拍"_s, u"全部图片"_s}));
    EXPECT_EQ(run.core.m_ownerUid, u"77"_s);
    EXPECT_EQ(run.core.m_userFolder, u"墙主"_s + kSep);
    // Turned away, then turned away with visitor cookies, then read with
    // the login.
    EXPECT_EQ(RequestsTo(service, u"/ajax/profile/info?custom=qiang"_s).size(), 3);

    // Without a login browser the run ends with the login hint, asked once.
    RecordingWindow plain;
    ListRun again(&plain);
    CookieStore::Instance().Clear();
    again.Run(u"https://weibo.com/u/77"_s);
    EXPECT_EQ(plain.Messages(), QStringList{kLoginHint});
}

TEST_F(TodayServices, RateLimitsAreWaitedOutBoundedAndEndedByAStop)
{
    FakeService service(uR"j({"sina_photo_users": [{"uid": "1", "title": "t", "albums": [{"name": "a"}]}],
      "weibo_users": [{"uid": "4", "nickname": "n", "needs_login": false, "albums": [{"album_id": "1", "caption": "c"}]}],
      "faults": [{"match": "http://photo.blog.sina.com.cn/u/1", "status": 432, "headers": {"Retry-After": "2"}, "times": 1},
                 {"match": "http://photo.blog.sina.com.cn/services/", "status": 403, "body": "{\"errno\":\"100005\"}", "times": 1},
                 {"match": "https://weibo.com/u/4", "status": 418},
                 {"match": "https://weibo.com/u/5", "status": 503, "times": 2}]})j"_s.toUtf8());
    ASSERT_TRUE(service.IsRunning());
    SetServiceWaitScale(0.01);

    // A 432 and a 403 naming 100005: each waited out, the status line
    // counting down, then the list comes.
    ListRun limited;
    limited.Run(u"http://photo.blog.sina.com.cn/u/1"_s);
    EXPECT_EQ(limited.Names(), QStringList{u"a"_s});
    const QStringList texts = limited.window->Texts(kIdStatusMain);
    EXPECT_TRUE(texts.contains(u"请求过于频繁，2秒后重试"_s)) << texts.join(u'|').toStdString();
    EXPECT_EQ(RequestsTo(service, u"photo.blog.sina.com.cn"_s).size(), 4);

    // A 418 that never ends: the session renewed once, then a bounded
    // number of growing waits, then a message naming the host instead of
    // the login hint.
    ListRun endless;
    endless.Run(u"https://weibo.com/u/4"_s);
    EXPECT_EQ(RequestsTo(service, u"https://weibo.com/u/4"_s).size(), kRateLimitRetries + 1);
    EXPECT_EQ(Asked(service, u"https://weibo.com/"_s), 1);
    EXPECT_EQ(endless.window->Messages(),
              QStringList{QString::fromUtf16(texts::kRateLimitGaveUp).arg(u"weibo.com"_s).arg(418).arg(kRateLimitRetries)});

    // A 503 page is asked again.
    ListRun flaky;
    flaky.Run(u"https://weibo.com/u/5"_s);
    EXPECT_EQ(RequestsTo(service, u"https://weibo.com/u/5"_s).size(), 3);

    // A stop during a long wait ends it at once.
    SetServiceWaitScale(1.0);
    ListRun stopped;
    std::thread stopper([&stopped] {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        stopped.core.m_listState = 2;
    });
    const auto started = std::chrono::steady_clock::now();
    stopped.Run(u"https://weibo.com/u/4"_s);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
    EXPECT_TRUE(stopped.window->LastText(kIdStatusMain).startsWith(u"获取相册列表完成"_s));
}

TEST_F(TodayServices, WeiboPageRequestsArePacedAsTheIniFileSays)
{
    FakeService service(WallUser(u", \"needs_login\": false, \"album_service\": \"empty\""_s));
    ASSERT_TRUE(service.IsRunning());
    SetServiceWaitScale(1.0);
    ListRun run;
    run.dir.Write(u"下载器扩展设置.ini"_s, "[微博]\r\n请求间隔毫秒=700\r\n");
    run.Run(u"https://weibo.com/u/77"_s);
    ASSERT_EQ(run.Names(), (QStringList{u"自拍"_s, u"全部图片"_s}));
    // The user page, the album list, the profile, the wall. The service logs
    // a request once its tunnel is up, so the first ones (whose certificate
    // the service makes first) arrive late; the last two are comparable.
    const QList<QJsonObject> requests = RequestsTo(service, u"weibo.com"_s);
    ASSERT_EQ(requests.size(), 4);
    EXPECT_GE(requests[3].value(u"time"_s).toDouble() - requests[2].value(u"time"_s).toDouble(), 0.65);
}

TEST_F(TodayServices, ACertificateThatDoesNotVerifyFailsWithTheHostNamed)
{
    const struct {
        QString kind;
        QString said;
    } cases[] = {
        {u"expired"_s, u"the certificate of weibo.com did not verify"_s},
        {u"untrusted"_s, u"the certificate of weibo.com did not verify"_s},
        {u"tls10_only"_s, u"no secure connection could be agreed with weibo.com"_s},
    };
    for (const auto &[kind, said] : cases) {
        SCOPED_TRACE(kind.toStdString());
        FakeService service(uR"j({"tls": {"%1": ["weibo.com"]},
          "weibo_users": [{"uid": "4", "nickname": "n", "needs_login": false, "albums": [{"album_id": "1"}]}]})j"_s
                                .arg(kind)
                                .toUtf8());
        ASSERT_TRUE(service.IsRunning());
        ListRun run;
        run.Run(u"https://weibo.com/u/4"_s);
        EXPECT_EQ(run.core.m_albums.Size(), 0);
        const QStringList messages = run.window->Messages();
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages[0].startsWith(u"无法建立安全连接："_s + said))
            << messages[0].toStdString();
        // No second route, no plain-http retry.
        EXPECT_TRUE(RequestsTo(service, u"weibo.com"_s).isEmpty());
    }
}

TEST_F(TodayServices, HostileImageWallAnswersEndCleanly)
{
    FakeService service(uR"j({"weibo_users": [
      {"uid": "81", "nickname": "卡住", "needs_login": false, "album_service": "empty",
       "image_wall": {"per_page": 2, "stuck_since_id": true, "pictures": ["%1", "%2"]}},
      {"uid": "82", "nickname": "巨量", "needs_login": false, "album_service": "empty",
       "image_wall": {"per_page": 100000, "generate": 100000}}]})j"_s
                            .arg(kPidAlbum1, kPidAlbum2)
                            .toUtf8());
    ASSERT_TRUE(service.IsRunning());

    // A cursor that never changes: the repeated page ends the walk.
    DownloadRun stuck;
    stuck.ListAndDownload(u"https://weibo.com/u/81"_s);
    EXPECT_EQ(stuck.Names(), QStringList{u"全部图片"_s});
    // (The first page is the list run's.)
    EXPECT_EQ(RequestsTo(service, u"getImageWall?uid=81"_s).size(), 2);
    EXPECT_EQ(stuck.SavedTree().filter(u".jpg"_s).size(), 2);

    // 100,000 pictures in one answer, written as lists only.
    DownloadRun huge;
    huge.Rules().flags = kListOnly;
    huge.ListAndDownload(u"https://weibo.com/u/82"_s);
    QFile list(huge.save + u"巨量"_s + kSep + u"全部图片"_s + kSep + u"全部图片.lst"_s);
    ASSERT_TRUE(list.open(QIODevice::ReadOnly));
    EXPECT_EQ(list.readAll().count("\r\n"), 100000);

    // An error object (no such user): its message, not the login hint.
    ListRun missing;
    missing.Run(u"https://weibo.com/u/83"_s);
    EXPECT_EQ(missing.window->Messages(), QStringList{u"微博返回错误：用户不存在（20003）"_s});
}

// A user a guest may read (visitor cookies), whose wall holds one item of
// each kind on pages of two, the second page blank: a picture, a Live Photo,
// a gif with its video, a post named by its mid alone (its pictures written
// as mix_media_info, one of them a Live Photo), a second item of that post,
// a video, and a picture whose bytes are WebP.
const QString kGuestPic = u"006GuEsTxly1h000000pic01"_s;
const QString kGuestLive = u"006GuEsTxly1h000000live1"_s;
const QString kGuestGif = u"006GuEsTxly1h00000000ggif01"_s;
const QString kGuestMixA = u"006GuEsTxly1h00000mixa1"_s;
const QString kGuestMixB = u"006GuEsTxly1h00000mixb2"_s;
const QString kGuestWebp = u"006GuEsTxly1h000000webp1"_s;

QByteArray GuestUser(const QString &extra = QString(), const QString &wallExtra = QString(),
                     const QString &liveExtra = QString())
{
    return uR"j({"login_cookie": "SUB=login"%1,
      "weibo_users": [{"uid": "1234567890", "nickname": "访客可见", "custom": "fangke", "guest": true,
        "xsrf_required": true,
        "image_wall": {"per_page": 2, "blank_pages": [2]%2, "pictures": [
          "%3",
          {"pid": "%4", "mid": "4900000000000001", "type": "livephoto"%5},
          {"pid": "%6", "mid": "4900000000000002", "type": "gif"},
          {"mid": "4900000000000003", "mix": true, "pics": ["%7", {"pid": "%8", "type": "livephoto"}]},
          {"pid": "%8", "mid": "4900000000000003", "type": "livephoto"},
          {"pid": "006GuEsTxly1h00000cover1", "mid": "4900000000000004", "type": "video"},
          {"pid": "%9", "mid": "4900000000000005", "type": "pic", "format": "webp"}]}}]})j"_s
        .arg(extra, wallExtra, kGuestPic, kGuestLive, liveExtra, kGuestGif, kGuestMixA, kGuestMixB, kGuestWebp)
        .toUtf8();
}

TEST_F(TodayServices, AGuestDownloadsTheImageWallWithItsLivePhotosAndVideos)
{
    const QString cover = u"006GuEsTxly1h00000cover1.jpg"_s; // the video post's, on the wall
    const struct {
        const char *ini;
        QStringList files;
        QStringList postsRead; // each once; the Live Photo's clip is on the wall
    } kCases[] = {
        {"", {kGuestPic + u".jpg"_s, kGuestLive + u".jpg"_s, kGuestLive + u".mov"_s, kGuestGif + u".gif"_s,
              kGuestGif + u".mp4"_s, kGuestMixA + u".jpg"_s, kGuestMixB + u".jpg"_s, kGuestMixB + u".mov"_s,
              u"4900000000000004.mp4"_s, cover, kGuestWebp + u".webp"_s},
         {u"02"_s, u"03"_s, u"04"_s}},
        // Stills only: a post is read only for pictures the wall does not name.
        {"[微博]\r\n下载实况视频=0\r\n", {kGuestPic + u".jpg"_s, kGuestLive + u".jpg"_s, kGuestGif + u".gif"_s,
                                         kGuestMixA + u".jpg"_s, kGuestMixB + u".jpg"_s, cover, kGuestWebp + u".webp"_s},
         {u"03"_s}},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.ini);
        FakeService service(GuestUser());
        ASSERT_TRUE(service.IsRunning());
        // No cookies at all, and a window that cannot log in.
        DownloadRun run;
        run.dir.Write(u"下载器扩展设置.ini"_s, c.ini);
        run.ListAndDownload(u"https://weibo.com/u/1234567890"_s);
        EXPECT_TRUE(run.window->Messages().isEmpty()) << run.window->Messages().join(u'|').toStdString();
        ASSERT_EQ(run.Names(), QStringList{u"全部图片"_s});
        QStringList expected;
        for (const QString &file : c.files)
            expected.append(u"访客可见/全部图片/"_s + file);
        QStringList saved = run.SavedTree().filter(u"全部图片/"_s);
        saved.removeAll(u"访客可见/全部图片/"_s);
        saved.removeAll(u"访客可见/全部图片/pic.orv"_s);
        expected.sort();
        EXPECT_EQ(saved, expected);
        EXPECT_TRUE(run.summary.brokenListings.isEmpty()) << run.summary.brokenListings.join(u'|').toStdString();

        // A visitor's cookies, no login's; each post read once at most; the
        // best video; clips with the pictures' Referer and the post's time.
        EXPECT_TRUE(GetUrlCookies(u"https://weibo.com/"_s).contains(u"SUB=_2AkM"_s));
        for (const QString &mid : {u"01"_s, u"02"_s, u"03"_s, u"04"_s, u"05"_s})
            EXPECT_EQ(RequestsTo(service, u"statuses/show?id=49000000000000"_s + mid).size(),
                      c.postsRead.contains(mid) ? 1 : 0)
                << mid.toStdString();
        EXPECT_TRUE(RequestsTo(service, u"_480.mp4"_s).isEmpty());
        for (const QJsonObject &clip : RequestsTo(service, u".mov?"_s))
            EXPECT_EQ(HeaderOf(clip, u"Referer"_s), u"https://weibo.com/"_s);
        if (c.files.contains(kGuestLive + u".mov"_s)) {
            // A wall clip has the time its post id says, a post's clip the
            // post's own.
            const qsizetype live = g_jobs.fileNames.indexOf(kGuestLive + u".mov"_s);
            const qsizetype mix = g_jobs.fileNames.indexOf(kGuestMixB + u".mov"_s);
            ASSERT_GE(live, 0) << g_jobs.fileNames.join(u' ').toStdString();
            ASSERT_GE(mix, 0);
            EXPECT_EQ(g_jobs.Extras(live).postTime, 1683734500); // mid 4900000000000001
            EXPECT_EQ(g_jobs.Extras(mix).postTime, 1614054527);  // Tue Feb 23 12:28:47 +0800 2021
        }
    }
}

TEST_F(TodayServices, EveryAddressFormOfAUserListsThatUser)
{
    FakeService service(GuestUser());
    ASSERT_TRUE(service.IsRunning());
    for (const QString &address :
         {u"https://weibo.com/u/1234567890"_s, u"http://www.weibo.com/1234567890?refer_flag=1005055013_#place"_s,
          u"https://weibo.com/p/1005051234567890/photos"_s, u"https://weibo.com/profile/1234567890"_s,
          u"https://weibo.com/n/访客可见"_s, u"https://www.weibo.com/fangke?is_all=1"_s, u"https://m.weibo.cn/u/1234567890"_s,
          u"https://m.weibo.cn/profile/1234567890"_s, u"https://m.weibo.cn/1234567890"_s, u"https://weibo.cn/u/1234567890"_s,
          // Names no user.
          u"https://weibo.com/"_s, u"https://m.weibo.cn/detail/4900000000000001"_s, u"https://weibo.com/login.php"_s}) {
        SCOPED_TRACE(address.toStdString());
        const qsizetype before = service.RequestedUrls().size();
        ListRun run;
        run.Run(address);
        EXPECT_EQ(run.core.m_subMode, kSubModeWeibo);
        if (address.contains(u"4900"_s) || address.endsWith(u".com/"_s) || address.contains(u"login"_s)) {
            EXPECT_EQ(run.window->Messages(), QStringList{QString::fromUtf16(texts::kWeiboNoUser)});
            EXPECT_EQ(service.RequestedUrls().size(), before);
            continue;
        }
        EXPECT_EQ(run.Names(), QStringList{u"全部图片"_s}) << run.window->Messages().join(u'|').toStdString();
        EXPECT_EQ(run.core.m_ownerUid, u"1234567890"_s);
        EXPECT_EQ(run.core.m_userFolder, u"访客可见"_s + kSep);
    }
    // Only weibo.com and its passport were asked; an answer that wanted
    // the XSRF token was asked again after the home page renewed it.
    for (const QString &url : service.RequestedUrls())
        EXPECT_TRUE(url.startsWith(u"https://weibo.com/"_s) || url.startsWith(u"https://passport.weibo.com/"_s))
            << url.toStdString();
    const QList<QJsonObject> walls = RequestsTo(service, u"getImageWall"_s);
    ASSERT_FALSE(walls.isEmpty());
    EXPECT_TRUE(HeaderOf(walls.last(), u"X-XSRF-TOKEN"_s).startsWith(u"xsrf"_s));
    EXPECT_TRUE(service.RequestedUrls().contains(u"https://weibo.com/"_s));
}

TEST_F(TodayServices, BadWeiboAnswersSaySoAndLoseNothing)
{
    const QString live = u"访客可见/全部图片/"_s + kGuestLive;
    const struct {
        const char *what;
        QByteArray data;
        bool expired; // a login SUB in the store that the service no longer takes
        QString said;   // a status text that contains this
        QStringList saved;
        QStringList absent;
        QString unavailable = {}; // the failed.txt line of the clip its post withholds
    } kCases[] = {
        {"a passport that refuses", GuestUser(u", \"passport\": \"refuse\""_s), false,
         u"微博访客验证未通过：访客系统繁忙 (retcode 50111)"_s, {}, {}},
        {"a passport answer that is not JSON", GuestUser(u", \"passport\": \"not_json\""_s), false,
         u"微博访客验证未通过：the passport's answer is not JSON"_s, {}, {}},
        {"an expired login is not traded for a visitor", GuestUser(), true, QString(), {}, {}},
        // A Live Photo item without its clip: the post must give it.
        {"a post that is gone",
         GuestUser({}, {}, u", \"wall_clip\": false, \"post\": {\"ok\": 0, \"msg\": \"该微博不存在\", \"error_code\": 20101}"_s),
         false, u"微博 4900000000000001 无法读取（微博返回错误：该微博不存在（20101））"_s, {live + u".jpg"_s}, {live + u".mov"_s},
         u"https://weibo.com/ajax/statuses/show?id=4900000000000001&isGetLongText=true\t%1.mov\t"
         u"微博返回错误：该微博不存在（20101）\t4900000000000001"_s.arg(kGuestLive)},
        {"a post for followers only",
         GuestUser({}, {}, u", \"wall_clip\": false, \"post\": {\"ok\": 0, \"msg\": \"仅粉丝可见\", \"errno\": 20112}"_s),
         false, QString::fromUtf16(texts::kWeiboPostFollowersOnly).arg(u"4900000000000001"_s), {live + u".jpg"_s},
         {live + u".mov"_s},
         u"https://weibo.com/ajax/statuses/show?id=4900000000000001&isGetLongText=true\t%1.mov\t"
         u"微博返回错误：仅粉丝可见（20112）\t4900000000000001"_s.arg(kGuestLive)},
        {"a clip address that is not http", GuestUser({}, {}, u", \"wall_clip\": false, \"clip\": \"file:///etc/passwd\""_s),
         false, QString::fromUtf16(texts::kWeiboBadClip).arg(u"file:///etc/passwd"_s), {live + u".jpg"_s},
         {live + u".mov"_s}},
        // A wall clip leading off the Weibo hosts (see ClipOf): the post's.
        {"a wall clip leading to another host",
         GuestUser({}, {}, u", \"video\": \"https://video.weibo.com/media/play?livephoto=https%3A%2F%2Fevil.example%2Fx.mov\""_s),
         false, QString(), {live + u".jpg"_s, live + u".mov"_s}, {}},
        {"a since_id that comes back", GuestUser({}, u", \"since_id_loops\": true"_s), false,
         QString::fromUtf16(texts::kWeiboCursorRepeats).arg(1), {live + u".mov"_s, u"访客可见/全部图片/4900000000000004.mp4"_s},
         {}},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.what);
        FakeService service(c.data);
        ASSERT_TRUE(service.IsRunning());
        DownloadRun run;
        if (c.expired)
            CookieStore::Instance().AddCookie(MakeCookie(u"weibo.com"_s, u"SUB"_s, u"expired"_s));
        run.ListAndDownload(u"https://weibo.com/u/1234567890"_s);
        const QStringList texts = run.window->Texts(kIdStatusMain) + run.window->Texts(kIdStatusPicture);
        if (!c.said.isEmpty()) {
            EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [&c](const QString &t) { return t.contains(c.said); }))
                << texts.join(u'|').toStdString();
        }
        const QStringList tree = run.SavedTree();
        for (const QString &file : c.saved)
            EXPECT_TRUE(tree.contains(file)) << file.toStdString();
        for (const QString &file : c.absent)
            EXPECT_FALSE(tree.contains(file)) << file.toStdString();
        // A loss the post withholds is counted and listed, never failed.
        EXPECT_EQ(run.summary.unavailable, c.unavailable.isEmpty() ? 0u : 1u);
        EXPECT_EQ(run.summary.pictures.failed, 0u);
        if (!c.unavailable.isEmpty()) {
            EXPECT_EQ(run.dir.Read(u"save/访客可见/全部图片/failed.txt"_s), (c.unavailable + u'\n').toUtf8());
            EXPECT_TRUE(run.window->Texts(kIdStatusPicture).contains(QString::fromUtf16(texts::kPicturesUnavailable).arg(1)))
                << run.window->Texts(kIdStatusPicture).join(u'|').toStdString();
        }
        if (c.saved.isEmpty()) {
            // No guest way in: the login hint, and a login kept as it was.
            EXPECT_EQ(run.window->Messages().value(0), kLoginHint);
            if (c.expired) {
                EXPECT_EQ(CookieStore::Instance().CookieHeader(u"https://weibo.com/"_s), u"SUB=expired"_s);
                EXPECT_TRUE(service.RequestedUrls().filter(u"genvisitor2"_s).isEmpty());
                EXPECT_FALSE(service.RequestedUrls().filter(u"/ajax/profile/info"_s).isEmpty());
            }
        }
    }
}

TEST_F(TodayServices, AListThatFindsNothingGivesTheCauseAndTheLoginHintWhereALoginMayHelp)
{
    const QString hint = u"\n"_s + kLoginHint;
    const QString notJson = u"微博返回错误：not JSON（HTTP 404）"_s;
    const struct {
        const char *what;
        QString fault; // of the wall's first page
        bool login;
        QString said;
    } kCases[] = {
        {"a guest whose wall answers 404", uR"j("status": 404, "body": "<html>404</html>")j"_s, false, notJson + hint},
        // A login is there already: the cause alone.
        {"a login whose wall answers 404", uR"j("status": 404, "body": "<html>404</html>")j"_s, true, notJson},
        // Nothing a login changes: the cause alone.
        {"a wall that does not answer", uR"j("close": true)j"_s, false, u"could not reach weibo.com"_s},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.what);
        FakeService service(uR"j({"login_cookie": "SUB=login", "weibo_users": [{"uid": "77", "nickname": "n",
          "guest": true, "image_wall": {"pictures": ["%1"]}}],
          "faults": [{"match": "https://weibo.com/ajax/profile/getImageWall", %2}]})j"_s.arg(kPidAlbum1, c.fault)
                                .toUtf8());
        ASSERT_TRUE(service.IsRunning());
        ListRun run;
        if (c.login)
            LogIn();
        run.Run(u"https://weibo.com/u/77"_s);
        EXPECT_EQ(run.core.m_albums.Size(), 0);
        const QStringList messages = run.window->Messages();
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages[0].startsWith(c.said)) << messages[0].toStdString();
        EXPECT_EQ(messages[0].endsWith(hint), c.said.endsWith(hint)) << messages[0].toStdString();
    }
}

TEST_F(TodayServices, ABlockedSessionIsRenewedBeforeItIsWaitedOut)
{
    const struct {
        const char *what;
        int status;
        bool login;
        qsizetype visitorExchanges; // a guest's first, then the renewal's
    } kCases[] = {
        {"a guest's session answered 432", 432, false, 2},
        {"a login's session answered 418", 418, true, 0},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.what);
        FakeService service(WallUser(u", \"guest\": true, \"album_service\": \"empty\", \"block\": %1"_s.arg(c.status)));
        ASSERT_TRUE(service.IsRunning());
        ListRun run;
        if (c.login)
            LogIn();
        run.Run(u"https://weibo.com/u/77"_s);
        // Waiting alone would never end it: the renewed session is let in.
        EXPECT_EQ(run.Names(), (QStringList{u"自拍"_s, u"全部图片"_s})) << run.window->Messages().join(u'|').toStdString();
        EXPECT_EQ(Asked(service, u"https://weibo.com/"_s), 1);
        EXPECT_EQ(Asked(service, u"https://passport.weibo.com/visitor/genvisitor2"_s), c.visitorExchanges);
        EXPECT_TRUE(run.window->Texts(kIdStatusMain).contains(QString::fromUtf16(texts::kWeiboSessionRenewing).arg(c.status)));
    }

    // A 414 is no rate limit: said with the request, asked once, and the
    // album is not fully read.
    const QString tooLong = u"https://weibo.com/ajax/profile/getImageWall?uid=77&has_album=true&sinceid=1"_s;
    FakeService service(WallUser(u", \"guest\": true, \"album_service\": \"empty\""_s,
                                 u", \"faults\": [{\"match\": \"%1\", \"status\": 414}]"_s.arg(tooLong)));
    ASSERT_TRUE(service.IsRunning());
    DownloadRun run;
    run.Rules().flags = kListOnly;
    run.ListAndDownload(u"https://weibo.com/u/77"_s, {1});
    EXPECT_EQ(Asked(service, tooLong), 1);
    EXPECT_EQ(run.summary.brokenListings,
              QStringList{u"全部图片: "_s + QString::fromUtf16(texts::kWeiboAddressTooLong).arg(tooLong)});
}

// Verifies whenever it is asked to, as a person in the login browser would.
class VerifyingWindow : public RecordingWindow {
public:
    QStringList pages;
    bool OpenVerification(const QString &url) override
    {
        pages.append(url);
        CookieStore::Instance().AddCookie(MakeCookie(u"weibo.com"_s, u"VF"_s, u"passed"_s));
        return true;
    }
};

TEST_F(TodayServices, ADemandToVerifyGoesToThePersonOnlyForAWeiboOrSinaPage)
{
    const QString verifyPage = u"https://security.weibo.com/captcha/verify?entry=miniblog"_s;
    const struct {
        const char *what;
        QString user; // how the wall's user pushes back
        bool verifies;
        QStringList names;
        QString said; // the message, when nothing was found
    } kCases[] = {
        {"a redirect, verified", u"\"verify\": \"redirect\""_s, true, {u"自拍"_s, u"全部图片"_s}, {}},
        {"ok -100 naming the page, verified", u"\"verify\": \"ok_minus_100\""_s, true, {u"自拍"_s, u"全部图片"_s}, {}},
        {"a redirect, no browser to verify in", u"\"verify\": \"redirect\""_s, false, {},
         QString::fromUtf16(texts::kWeiboVerify).arg(verifyPage)},
        {"a page over plain http", u"\"verify\": \"ok_minus_100\", \"verify_url\": \"http://security.weibo.com/x\""_s, true, {},
         QString::fromUtf16(texts::kWeiboVerifyElsewhere).arg(u"security.weibo.com"_s) + u"\n"_s + kLoginHint},
        {"a page elsewhere", u"\"verify\": \"ok_minus_100\", \"verify_url\": \"https://weibo.com.example/captcha\""_s, true, {},
         QString::fromUtf16(texts::kWeiboVerifyElsewhere).arg(u"weibo.com.example"_s) + u"\n"_s + kLoginHint},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.what);
        FakeService service(WallUser(u", \"needs_login\": false, \"album_service\": \"empty\", "_s + c.user));
        ASSERT_TRUE(service.IsRunning());
        VerifyingWindow verifying;
        ListRun run(c.verifies ? &verifying : nullptr);
        run.Run(u"https://weibo.com/u/77"_s);
        EXPECT_EQ(run.Names(), c.names);
        EXPECT_EQ(verifying.pages, c.verifies && !c.names.isEmpty() ? QStringList{verifyPage} : QStringList{});
        EXPECT_EQ(run.window->Messages(), c.said.isEmpty() ? QStringList{} : QStringList{c.said});
    }

}

TEST_F(TodayServices, VisitorCookiesThatRunOutAreRenewedAtMostOnceAMinuteAndFiveTimesARun)
{
    const auto guestData = [](int answersPerVisitor) {
        return uR"j({"visitor_requests": %1, "weibo_users": [{"uid": "77", "nickname": "n", "guest": true,
          "album_service": "empty", "image_wall": {"per_page": 3, "generate": 30}}]})j"_s.arg(answersPerVisitor)
            .toUtf8();
    };
    const struct {
        const char *what;
        int answersPerVisitor;
        qsizetype exchanges;
        QStringList broken;
    } kCases[] = {
        // The page, the profile and the first wall page while listing, the
        // nine wall pages after it while downloading: three visitors.
        {"renewed as often as needed", 4, 3, {}},
        {"five renewals, then a login is needed", 1, 1 + weibo::kMaxRenewals, {u"全部图片: a Weibo login is needed"_s}},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.what);
        FakeService service(guestData(c.answersPerVisitor));
        ASSERT_TRUE(service.IsRunning());
        DownloadRun run;
        run.Rules().flags = kListOnly;
        run.ListAndDownload(u"https://weibo.com/u/77"_s);
        EXPECT_EQ(run.Names(), QStringList{u"全部图片"_s});
        EXPECT_EQ(run.summary.brokenListings, c.broken);
        EXPECT_EQ(Asked(service, u"https://passport.weibo.com/visitor/genvisitor2"_s), c.exchanges);
        // The crossdomain step names the visitor's id, where it returns to
        // and the visitor page's version.
        const QList<QJsonObject> cross = RequestsTo(service, u"a=crossdomain"_s);
        ASSERT_EQ(cross.size(), c.exchanges);
        for (const QJsonObject &request : cross) {
            const QString url = request.value(u"url"_s).toString();
            for (const QString &part : {u"&t=tid"_s, u"&url=https%3A%2F%2Fweibo.com%2F"_s, u"&ver=20250916"_s})
                EXPECT_TRUE(url.contains(part)) << url.toStdString();
        }
    }

    // Run out within a minute of the exchange: not renewed; the list ends
    // with the login hint.
    FakeService service(guestData(1));
    ASSERT_TRUE(service.IsRunning());
    SetServiceWaitScale(1.0);
    ListRun run;
    run.dir.Write(u"下载器扩展设置.ini"_s, "[微博]\r\n请求间隔毫秒=0\r\n");
    run.Run(u"https://weibo.com/u/77"_s);
    EXPECT_EQ(Asked(service, u"https://passport.weibo.com/visitor/genvisitor2"_s), 1);
    EXPECT_EQ(run.window->Messages(), QStringList{kLoginHint});
}

TEST(WeiboClips, AClipComesOnlyFromAnHttpAddressOnAWeiboHost)
{
    const QString play = u"https://video.weibo.com/media/play?livephoto="_s;
    const struct {
        QString video;
        bool weiboHostsOnly; // a wall item's clip, not a post's
        QString address;     // empty: no clip
        QString named;
        QString extension;
    } kCases[] = {
        {play + u"https%3A%2F%2Fus.sinaimg.cn%2Fa.mov"_s, true, play + u"https%3A%2F%2Fus.sinaimg.cn%2Fa.mov"_s,
         u"https://us.sinaimg.cn/a.mov"_s, u".mov"_s},
        {u"//video.weibo.com/media/play?livephoto=https%3A%2F%2Flivephoto.us.sinaimg.cn%2Fb.MOV"_s, true,
         play + u"https%3A%2F%2Flivephoto.us.sinaimg.cn%2Fb.MOV"_s, u"https://livephoto.us.sinaimg.cn/b.MOV"_s, u".mov"_s},
        {u"https://f.video.weibocdn.com/o0/c.mp4?label=gif_mp4"_s, true, u"https://f.video.weibocdn.com/o0/c.mp4?label=gif_mp4"_s,
         u"https://f.video.weibocdn.com/o0/c.mp4?label=gif_mp4"_s, u".mp4"_s},
        // Nothing said: the bytes will.
        {play + u"https%3A%2F%2Fus.sinaimg.cn%2Fd"_s, true, play + u"https%3A%2F%2Fus.sinaimg.cn%2Fd"_s,
         u"https://us.sinaimg.cn/d"_s, QString()},
        {u"https://video.example.org/media/play?livephoto=https%3A%2F%2Fus.sinaimg.cn%2Fa.mov"_s, true, {}, {}, {}},
        {play + u"https%3A%2F%2Fexample.org%2Fa.mov"_s, true, {}, {}, {}},
        {u"https://weibo.com.example.org/a.mov"_s, true, {}, {}, {}},
        {u"https://weibo.com@example.org/a.mov"_s, true, {}, {}, {}},
        {play + u"file%3A%2F%2F%2Fetc%2Fpasswd"_s, true, {}, {}, {}},
        {play + u"%zz"_s, true, {}, {}, {}},
        {play, true, {}, {}, {}},
        {u"javascript:alert(1)"_s, false, {}, {}, {}},
        {u"https:///a.mp4"_s, false, {}, {}, {}},
        // A post's video may be served from elsewhere.
        {u"https://video.example.org/v.mp4"_s, false, u"https://video.example.org/v.mp4"_s,
         u"https://video.example.org/v.mp4"_s, u".mp4"_s},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.video.toStdString());
        const std::optional<weibo::Clip> clip = weibo::ClipOf(c.video, c.weiboHostsOnly);
        ASSERT_EQ(clip.has_value(), !c.address.isEmpty());
        if (!clip)
            continue;
        EXPECT_EQ(clip->address, c.address);
        EXPECT_EQ(clip->named, c.named);
        EXPECT_EQ(clip->extension, c.extension);
    }
}

// A user whose wall holds Live Photos that carry their clips: A as the real
// wall gives it, B and C leading to addresses that name no extension (B's
// bytes an MP4's, C's QuickTime's), D whose clip the host refuses.
const QString kClipA = u"006ClIpAxly1h0000000clipa1"_s;
const QString kClipB = u"006ClIpAxly1h0000000clipb2"_s;
const QString kClipC = u"006ClIpAxly1h0000000clipc3"_s;
const QString kClipD = u"006ClIpAxly1h0000000clipd4"_s;

TEST_F(TodayServices, WallClipsAreFetchedListedAndRecordedByTheirStableAddress)
{
    const QString play = u"https://video.weibo.com/media/play?livephoto=https%3A%2F%2Fus.sinaimg.cn%2F"_s;
    FakeService service(uR"j({"weibo_users": [{"uid": "88", "nickname": "实况", "needs_login": false,
        "album_service": "empty", "image_wall": {"per_page": 2, "pictures": [
          {"pid": "%1", "mid": "4900000000000021", "type": "livephoto"},
          {"pid": "%2", "mid": "4900000000000021", "type": "livephoto", "video": "%5%2", "clip_format": "mp4"},
          {"pid": "%3", "mid": "4900000000000022", "type": "livephoto", "video": "%5%3"},
          {"pid": "%4", "mid": "4900000000000022", "type": "livephoto"}]}}],
      "faults": [{"match": "https://us.sinaimg.cn/%4.mov", "status": 404}]})j"_s
                            .arg(kClipA, kClipB, kClipC, kClipD, play)
                            .toUtf8());
    ASSERT_TRUE(service.IsRunning());
    const QString album = u"实况/全部图片/"_s;
    const QString playD = play + kClipD + u".mov"_s;

    // An earlier run's line of A's clip, under an address since expired, and
    // a line of another picture.
    DownloadRun run;
    QDir().mkpath(run.save + album);
    const QByteArray other = "https://wx1.sinaimg.cn/large/x.jpg\tx.jpg\tHTTP 404\n";
    run.dir.Write(u"save/"_s + album + u"failed.txt"_s,
                  u"https://us.sinaimg.cn/%1.mov?Expires=1&ssig=old\t%1.mov\tHTTP 403\n"_s.arg(kClipA).toUtf8() + other);
    run.ListAndDownload(u"https://weibo.com/u/88"_s);
    QStringList saved = run.SavedTree().filter(QRegularExpression(u"\\.(jpg|mov|mp4)$"_s));
    EXPECT_EQ(saved, (QStringList{album + kClipA + u".jpg"_s, album + kClipA + u".mov"_s, album + kClipB + u".jpg"_s,
                                  album + kClipB + u".mp4"_s, album + kClipC + u".jpg"_s, album + kClipC + u".mov"_s,
                                  album + kClipD + u".jpg"_s}));
    EXPECT_TRUE(RequestsTo(service, u"statuses/show"_s).isEmpty());
    // The clip replaces the old line by its name; D is recorded by its
    // stable address and its post, the other line stays.
    EXPECT_EQ(run.dir.Read(u"save/"_s + album + u"failed.txt"_s),
              other + (playD + u'\t' + kClipD + u".mov\tHTTP 404 from video.weibo.com\t4900000000000022\n"_s).toUtf8());
    EXPECT_EQ(run.summary.pictures.failed, 1u);

    // Lists name the stable address, and the clip after the address it
    // leads to, also when the name comes from the address.
    DownloadRun listed;
    listed.Rules().flags = kListOnly;
    listed.Rules().fileNameMode = 2;
    listed.ListAndDownload(u"https://weibo.com/u/88"_s);
    const QByteArray lst = listed.dir.Read(u"save/"_s + album + u"全部图片.lst"_s);
    EXPECT_TRUE(lst.contains((play + kClipA + u".mov\r\n"_s).toUtf8())) << lst.constData();
    const QByteArray aria2 = listed.dir.Read(u"save/"_s + album + u"全部图片.aria2.txt"_s);
    EXPECT_TRUE(aria2.contains((play + kClipA + u".mov\n  out="_s + kClipA + u".mov\n"_s).toUtf8())) << aria2.constData();
    EXPECT_FALSE(aria2.contains("out=play")) << aria2.constData();
}

TEST_F(TodayServices, APostOfTwelvePicturesListedWithNineGivesAllTwelve)
{
    QStringList pids;
    for (int i = 1; i <= 13; ++i)
        pids.append(u"006TwElVxly1h0000000p%1"_s.arg(i, 2, 10, QChar(u'0')));
    // The post's twelfth picture is also on the wall, after the post.
    const QString wall = uR"j({"weibo_users": [{"uid": "99", "nickname": "十二", "needs_login": false,
        "album_service": "empty", "image_wall": {"pictures": [
          "%1", {"mid": "4900000000000031", "pics": ["%2"], "listed": 9}, "%3"]}}]%4})j"_s;
    const QString post = pids.mid(1, 12).join(u"\", \""_s);
    const struct {
        const char *what;
        QString faults;
        qsizetype pictures; // of the post
        QString unavailable;
    } kCases[] = {
        {"the post's whole answer", QString(), 12, QString()},
        {"a whole answer that fails",
         u", \"faults\": [{\"match\": \"https://m.weibo.cn/statuses/show\", \"body\": \"{\\\"ok\\\":0,\\\"msg\\\":\\\"busy\\\"}\"}]"_s, 9,
         u"https://weibo.com/ajax/statuses/show?id=4900000000000031&isGetLongText=true\t4900000000000031\t"
         u"微博返回错误：busy（）\t4900000000000031\n"_s},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.what);
        FakeService service(wall.arg(pids[0], post, pids[12], c.faults).toUtf8());
        ASSERT_TRUE(service.IsRunning());
        DownloadRun run;
        run.ListAndDownload(u"https://weibo.com/u/99"_s);
        // The nine listed, the rest after them in the post's order, the
        // wall's own picture not twice.
        QStringList expected{pids[0] + u".jpg"_s};
        for (qsizetype i = 1; i <= c.pictures; ++i)
            expected.append(pids[i] + u".jpg"_s);
        if (c.pictures < 12)
            expected.append(pids[12] + u".jpg"_s);
        EXPECT_EQ(g_jobs.fileNames, expected);
        EXPECT_EQ(run.summary.pictures.saved, std::uint32_t(expected.size()));
        EXPECT_EQ(RequestsTo(service, u"weibo.com/ajax/statuses/show"_s).size(), 1);
        EXPECT_EQ(RequestsTo(service, u"m.weibo.cn/statuses/show?id=4900000000000031"_s).size(), 1);
        EXPECT_EQ(run.summary.unavailable, c.unavailable.isEmpty() ? 0u : 1u);
        EXPECT_EQ(QString::fromUtf8(run.dir.Read(u"save/十二/全部图片/failed.txt"_s)), c.unavailable);
    }
}

TEST_F(TodayServices, TheRealImageWallGivesEveryLivePhotoClipFromItsItems)
{
    // A first page of a real account's wall (2023): 24 items, 17 of them
    // Live Photos in three posts, each carrying its clip.
    const QString real = qEnvironmentVariable("TAMBLIN_REAL_ANSWERS", u"/work/shared/real"_s);
    QFile file(real + u"/weibo/getImageWall_2023-04_yzhans_data_extracted.json"_s);
    if (!file.open(QIODevice::ReadOnly))
        GTEST_SKIP() << "no real answers at " << real.toStdString();
    const QJsonArray items = QJsonDocument::fromJson(file.readAll()).object().value(u"list"_s).toArray();
    ASSERT_EQ(items.size(), 24);
    const QJsonObject user{{u"uid"_s, u"5651194119"_s}, {u"nickname"_s, u"real"_s}, {u"needs_login"_s, false},
                           {u"album_service"_s, u"empty"_s},
                           {u"image_wall"_s, QJsonObject{{u"per_page"_s, 24}, {u"pictures"_s, items}}}};
    FakeService service(QJsonDocument(QJsonObject{{u"weibo_users"_s, QJsonArray{user}}}).toJson());
    ASSERT_TRUE(service.IsRunning());
    DownloadRun run;
    run.ListAndDownload(u"https://weibo.com/u/5651194119"_s);

    const QString album = run.save + u"real/全部图片/"_s;
    const QStringList stills = QDir(album).entryList({u"*.jpg"_s}, QDir::Files);
    const QStringList clips = QDir(album).entryList({u"*.mov"_s}, QDir::Files);
    EXPECT_EQ(stills.size(), 24);
    EXPECT_EQ(clips.size(), 17);
    EXPECT_TRUE(QDir(album).entryList({u"*.mp4"_s}, QDir::Files).isEmpty());
    for (const QString &clip : clips) {
        QFile bytes(album + clip);
        ASSERT_TRUE(bytes.open(QIODevice::ReadOnly));
        EXPECT_EQ(bytes.read(12).mid(4), QByteArray("ftypqt  ")) << clip.toStdString();
    }
    EXPECT_EQ(run.summary.pictures.saved, 41u);
    EXPECT_TRUE(RequestsTo(service, u"statuses/show"_s).isEmpty());
    EXPECT_EQ(RequestsTo(service, u"getImageWall"_s).size(), 1);
    EXPECT_EQ(RequestsTo(service, u"video.weibo.com/media/play"_s).size(), 17);
    // Dated by their post ids: 4890762220669451 was posted on 2023-04-15.
    EXPECT_EQ(QFileInfo(album + u"006arPKfgy1hd09d1sqv2j32c03401kz.mov"_s).lastModified().toSecsSinceEpoch(),
              1681532042);
}

TEST(WeiboPostTime, APostIdCarriesItsPostTime)
{
    // The rule on the real posts of three users' lists (2019-2023), reposted
    // ones included: to within a second of their created_at.
    const QString real = qEnvironmentVariable("TAMBLIN_REAL_ANSWERS", u"/work/shared/real"_s);
    int pairs = 0;
    for (const QString &name : QDir(real + u"/weibo"_s).entryList({u"statuses_mymblog_*.json"_s}, QDir::Files)) {
        QFile file(real + u"/weibo/"_s + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        for (const QJsonValue &entry :
             QJsonDocument::fromJson(file.readAll()).object().value(u"data"_s).toObject().value(u"list"_s).toArray()) {
            for (const QJsonObject &post : {entry.toObject(), entry.toObject().value(u"retweeted_status"_s).toObject()}) {
                const QString mid = weibo::IdText(post.value(u"mid"_s));
                if (mid.isEmpty())
                    continue;
                SCOPED_TRACE((name + u' ' + mid).toStdString());
                const std::int64_t posted = weibo::PostTime(post.value(u"created_at"_s).toString());
                ASSERT_GT(posted, 0);
                EXPECT_NEAR(double(weibo::MidTime(mid)), double(posted), 1.0);
                ++pairs;
            }
        }
    }
    if (pairs == 0)
        GTEST_SKIP() << "no real answers at " << real.toStdString();
    EXPECT_GE(pairs, 12);

    // Ids that say no time of a post: no number, before August 2009, more
    // than a day ahead.
    const auto idOf = [](std::int64_t time) { return QString::number((time - 515483463) << 22); };
    const std::int64_t now = QDateTime::currentSecsSinceEpoch();
    const struct {
        QString mid;
        std::int64_t time;
    } kIds[] = {
        {u"4891260345913975"_s, 1681650804}, // 2023-04-16 21:13:24 +0800
        {idOf(1249084800), 1249084800},      // 2009-08-01 00:00 UTC
        {idOf(1249084799), 0},
        {idOf(now + 3600), now + 3600},
        {idOf(now + 2 * 86400), 0},
        {u"49x0000000000001"_s, 0},
        {u"12"_s, 0},
    };
    for (const auto &c : kIds)
        EXPECT_EQ(weibo::MidTime(c.mid), c.time) << c.mid.toStdString();
}

// A Weibo user whose wall holds 60 posts of one picture each, one a day
// from 2023-11-15 (China time) back, 10 a page, with the real wall's dated
// cursors; and posts beside them: a repost of two pictures and a long text.
QByteArray DatedWallUser()
{
    const QString longText = QString(200, u'长');
    return uR"j({"weibo_users": [{"uid": "88", "nickname": "存档", "needs_login": false, "album_service": "empty",
      "image_wall": {"per_page": 10, "generate": 60, "generate_days": 60, "generate_newest": 1700000000,
                     "dated_cursors": true},
      "posts": [{"time": 1699000000, "text": "转一下",
                 "repost": {"time": 1690000000, "author": "别人", "author_id": "1900000009", "text": "原文",
                            "pics": ["006RePoSTxly1h0000000000rep01", "006RePoSTxly1h0000000000rep02"]}},
                {"time": 1698000000, "text": "%1"}]}]})j"_s.arg(longText).toUtf8();
}

TEST_F(TodayServices, ADateRangeEndsTheWallWalkEarlyAndLeavesOutWhatItDoesNotHold)
{
    const struct {
        const char *name;
        std::optional<DateRange> range;
        std::uint32_t saved, outOfRange;
        qsizetype wallPages; // the list run's first page included
        QString first;       // the first file of the album, by name
    } kCases[] = {
        {"whole", std::nullopt, 60, 0, 6, u"20231115_1.jpg"_s},
        // Pages 1-2 are newer, page 3 holds the range's end, and its cursor
        // says the next page is older: not asked.
        {"ten days", DateRange{QDate(2023, 10, 20), QDate(2023, 10, 31)}, 12, 18, 3, u"20231031_16.jpg"_s},
        {"until", DateRange{{}, QDate(2023, 11, 10)}, 55, 5, 6, u"20231110_6.jpg"_s},
        // The first page is older than the range already.
        {"later", DateRange{QDate(2024, 1, 1), {}}, 0, 10, 1, QString()},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.name);
        FakeService service(DatedWallUser());
        ASSERT_TRUE(service.IsRunning());
        DownloadRun run;
        run.Rules().fileNameMode = 1;
        run.Rules().filePrefix.Set(u"?0_");
        run.options.range = c.range;
        run.ListAndDownload(u"https://weibo.com/u/88"_s);
        EXPECT_EQ(run.summary.pictures.saved, c.saved);
        EXPECT_EQ(run.summary.outOfRange, c.outOfRange);
        EXPECT_TRUE(run.summary.emptyAlbums.isEmpty());
        EXPECT_TRUE(run.summary.brokenListings.isEmpty());
        EXPECT_EQ(RequestsTo(service, u"getImageWall"_s).size(), c.wallPages);
        const QString album = run.save + u"存档/全部图片/"_s;
        QStringList files = QDir(album).entryList({u"*.jpg"_s}, QDir::Files);
        std::sort(files.begin(), files.end(), [](const QString &a, const QString &b) {
            return a.section(u'_', 1).section(u'.', 0, 0).toInt() < b.section(u'_', 1).section(u'.', 0, 0).toInt();
        });
        EXPECT_EQ(files.value(0), c.first);
        // A ranged run keeps no record that would end a later whole run.
        EXPECT_EQ(QFileInfo::exists(album + u"pic.orv"_s), !c.range.has_value());
    }
}

TEST_F(TodayServices, KeptPostsMergeOverRunsAndRepostsKeepApart)
{
    FakeService service(DatedWallUser());
    ASSERT_TRUE(service.IsRunning());
    const TempDir dir;
    const QString user = dir.Path() + u"save/存档/"_s;
    auto lines = [&user] {
        QFile file(user + u"posts.jsonl"_s);
        QHash<QString, QJsonObject> byMid;
        QStringList order;
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : file.readAll().split('\n')) {
                if (line.isEmpty())
                    continue;
                const QJsonObject post = QJsonDocument::fromJson(line).object();
                order.append(post.value(u"mid"_s).toString());
                byMid.insert(order.last(), post);
            }
        }
        EXPECT_EQ(order.size(), byMid.size()) << "a post written twice";
        return byMid;
    };
    const QString repostMid = u"4964028145206148"_s; // 2023-11-03 16:26:40 +0800
    const QString longMid = u"4959833841206149"_s;   // 2023-10-23 02:40:00 +0800
    struct Case {
        const char *name;
        DateRange range;
        bool reposts;
        qsizetype posts; // lines after the run
    };
    const Case kCases[] = {
        {"October, posts only", DateRange{QDate(2023, 10, 20), QDate(2023, 10, 31)}, false, 13},
        {"November, with reposts", DateRange{QDate(2023, 11, 1), {}}, true, 13 + 16},
        {"November again", DateRange{QDate(2023, 11, 1), {}}, true, 13 + 16},
    };
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.name);
        DownloadRun run;
        run.save = dir.Path() + u"save"_s + kSep;
        run.window->SetSavePath(run.save);
        run.options.range = c.range;
        run.options.savePosts = true;
        run.options.withReposts = c.reposts;
        run.ListAndDownload(u"https://weibo.com/u/88"_s);
        EXPECT_TRUE(run.summary.listsNotWritten.isEmpty());
        const QHash<QString, QJsonObject> posts = lines();
        EXPECT_EQ(posts.size(), c.posts);
        // The whole text of a post the list cut short; its own pictures by
        // the names the download gave them.
        EXPECT_EQ(posts.value(longMid).value(u"text"_s).toString(), QString(200, u'长'));
        const QJsonArray files = posts.value(u"4962786631221263"_s).value(u"files"_s).toArray(); // 2023-10-31
        ASSERT_EQ(files.size(), 1);
        EXPECT_TRUE(files.at(0).toString().startsWith(u"全部图片/"_s));
        EXPECT_TRUE(QFileInfo::exists(user + files.at(0).toString()));
        EXPECT_EQ(posts.value(longMid).value(u"time"_s).toString(), u"2023-10-23T02:40:00+08:00"_s);
    }
    // The repost: its original's author and mid, its pictures in 转发 and
    // nowhere among the albums.
    const QJsonObject repost = lines().value(repostMid).value(u"repost"_s).toObject();
    EXPECT_EQ(repost.value(u"author"_s).toString(), u"别人"_s);
    EXPECT_EQ(weibo::MidTime(repost.value(u"mid"_s).toString()), 1690000000);
    EXPECT_EQ(repost.value(u"files"_s).toArray(),
              (QJsonArray{u"转发/006RePoSTxly1h0000000000rep01.jpg"_s, u"转发/006RePoSTxly1h0000000000rep02.jpg"_s}));
    EXPECT_EQ(TreeOf(user + u"转发"_s), (QStringList{u"006RePoSTxly1h0000000000rep01.jpg"_s,
                                                      u"006RePoSTxly1h0000000000rep02.jpg"_s}));
    EXPECT_TRUE(TreeOf(user + u"全部图片"_s).filter(u"RePoST"_s).isEmpty());
    EXPECT_EQ(RequestsTo(service, u"statuses/longtext"_s).size(), 1);
}

TEST(RateLimitWait, RetryAfterWinsAndTheBackOffDoublesUpToFiveMinutes)
{
    EXPECT_EQ(RateLimitWaitMs(0, u"HTTP/1.1 432\r\nRetry-After: 7\r\n\r\n"_s), 7000);
    EXPECT_EQ(RateLimitWaitMs(3, u"HTTP/1.1 429\r\nretry-after: 100000\r\n\r\n"_s), 300000);
    const QString date = QDateTime::currentDateTimeUtc().addSecs(60).toString(Qt::RFC2822Date);
    EXPECT_NEAR(double(RateLimitWaitMs(0, u"HTTP/1.1 429\r\nRetry-After: "_s + date + u"\r\n\r\n"_s)), 60000, 2000);
    // An HTTP date, as servers write it.
    const QString httpDate = QLocale::c().toString(QDateTime::currentDateTimeUtc().addSecs(60),
                                                   u"ddd, dd MMM yyyy hh:mm:ss 'GMT'"_s);
    EXPECT_NEAR(double(RateLimitWaitMs(0, u"HTTP/1.1 429\r\nRetry-After: "_s + httpDate + u"\r\n\r\n"_s)), 60000, 2000);
    // However far off a server puts it: five minutes, without overflow. A
    // negative or past one says nothing: the back-off.
    for (const QString &far : {u"9223372036854775807"_s, u"99999999999999999999"_s, u"Fri, 31 Dec 9999 23:59:59 GMT"_s})
        EXPECT_EQ(RateLimitWaitMs(0, u"HTTP/1.1 429\r\nRetry-After: "_s + far + u"\r\n\r\n"_s), 300000) << far.toStdString();
    for (const QString &none : {u"-5"_s, u"-9223372036854775808"_s, u"Wed, 21 Oct 2015 07:28:00 GMT"_s}) {
        const std::int64_t wait = RateLimitWaitMs(0, u"HTTP/1.1 429\r\nRetry-After: "_s + none + u"\r\n\r\n"_s);
        EXPECT_GE(wait, 4000) << none.toStdString();
        EXPECT_LE(wait, 6000) << none.toStdString();
    }
    for (int retry = 0; retry < 8; ++retry) {
        const double expected = std::min(5000.0 * (1 << retry), 300000.0);
        const double wait = double(RateLimitWaitMs(retry, u"HTTP/1.1 432\r\n\r\n"_s));
        EXPECT_GE(wait, expected * 0.8) << retry;
        EXPECT_LE(wait, std::min(expected * 1.2, 300000.0)) << retry;
    }
}

} // namespace
} // namespace tamblin::test

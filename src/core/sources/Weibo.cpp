#include "sources/Weibo.h"

#include "app/TamblinCore.h"
#include "app/WindowPort.h"
#include "download/DownloadJobList.h"
#include "download/FileUtils.h"
#include "download/NamingRules.h"
#include "net/CookieStore.h"
#include "net/Inflate.h"
#include "sources/Endpoints.h"
#include "sources/ListTexts.h"
#include "sources/SourceSupport.h"
#include "text/TextUtils.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QStringList>
#include <QTimeZone>
#include <QUrl>
#include <QUrlQuery>

#include <QStringEncoder>

#include <algorithm>
#include <atomic>

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

constexpr int kWeiboPageSize = 32;
constexpr int kWeiboEmptyRetryMs = 3000;
constexpr int kWeiboEmptySkipMs = 1500;
// Empty answers in a row after which a walk ends, whatever the count or the
// cursor says.
constexpr int kEmptyPagesToEnd = 3;

// The cookie line of a request to `url`: the login goes only to the Weibo
// hosts and only over https; elsewhere the line is sent empty, which also
// keeps the cookie store's cookies off the request.
QString WeiboCookieLine(const QString &url)
{
    const bool secure = url.trimmed().startsWith(u"https://"_s, Qt::CaseInsensitive);
    return u"\r\ncookie: "_s
        + (secure && endpoints::IsWeiboHost(url) ? GetUrlCookies(endpoints::WeiboSiteRootUrl()) : QString());
}

// The value of cookie `name` in a "a=1; b=2" cookie string.
QString CookieValue(const QString &cookies, QStringView name)
{
    for (QStringView pair : QStringView(cookies).split(u';')) {
        pair = pair.trimmed();
        if (pair.startsWith(name) && pair.sliced(name.size()).startsWith(u'='))
            return pair.sliced(name.size() + 1).toString();
    }
    return {};
}

// The value of cookie `name` the store sends to weibo.com over https.
QString WeiboCookie(QStringView name)
{
    return CookieValue(GetUrlCookies(endpoints::WeiboSiteRootUrl()), name);
}

// The headers the web client sends to weibo.com/ajax: from the user's page
// `referer`, as XMLHttpRequest, with the XSRF-TOKEN cookie echoed when there
// is one (read at each request: a refresh may have renewed it). The cookies
// themselves come from the store, over https.
QString AjaxHeaders(const QString &referer)
{
    QString headers = u"\r\nReferer: "_s + referer
        + u"\r\nX-Requested-With: XMLHttpRequest\r\nAccept: application/json, text/plain, */*"_s;
    const QString token = WeiboCookie(u"XSRF-TOKEN");
    if (!token.isEmpty())
        headers += u"\r\nX-XSRF-TOKEN: "_s + token;
    return headers;
}

// A picture id: letters and digits only, so that no address or file name
// can be steered by one.
bool IsPictureId(const QString &pid)
{
    if (pid.isEmpty() || pid.size() > 64)
        return false;
    for (QChar c : pid) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')))
            return false;
    }
    return true;
}

bool AllDigits(QStringView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// A post id (mid): decimal, as the web client writes it.
bool IsPostId(const QString &mid)
{
    return mid.size() <= 24 && AllDigits(mid);
}

// A JSON id or cursor as text: strings as they stand, integers in full.
QString IdText(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
    if (value.isDouble()) {
        const double number = value.toDouble();
        const qint64 whole = value.toInteger();
        return double(whole) == number ? QString::number(whole) : QString::number(number, 'f', 0);
    }
    return {};
}

// A status text on the line the run shows: the picture line while a
// download runs, else the main line.
void StatusText(const TamblinCore &core, const QString &text)
{
    if (core.m_window)
        core.m_window->SetItemText(core.m_downState != 0 ? kIdStatusPicture : kIdStatusMain, text);
}

// ---------------------------------------------------------------------------
// Guests: the passport's visitor cookies, tried once per run before a login
// is offered. A login's SUB is never traded for a visitor's.

// Per run, on the run's thread: whether the visitor exchange was tried and
// whether weibo.com was asked for a fresh XSRF-TOKEN.
thread_local bool t_visitorTried = false;
thread_local bool t_homeRefreshed = false;

// Posts read by the download threads are kept until the next list run.
std::atomic<int> g_postsGeneration{0};

bool HasLoginSub()
{
    const QString sub = WeiboCookie(u"SUB");
    return !sub.isEmpty() && !IsVisitorSub(sub);
}

// The JSON object of a JSONP answer: its outermost braces, whatever wraps
// them.
QJsonObject JsonpObject(const QString &text)
{
    const qsizetype open = text.indexOf(u'{');
    const qsizetype close = text.lastIndexOf(u'}');
    if (open < 0 || close < open)
        return {};
    return QJsonDocument::fromJson(text.sliced(open, close - open + 1).toUtf8()).object();
}

// The visitor exchange: genvisitor2 names a visitor, the crossdomain step
// sets its SUB and SUBP cookies on weibo.com (they enter the store as any
// answer's cookies do). True when the store then holds a SUB. Not run twice
// in one run, nor over a login.
bool GetVisitorCookies(const TamblinCore &core)
{
    if (t_visitorTried || HasLoginSub())
        return false;
    t_visitorTried = true;
    StatusText(core, QString::fromUtf16(texts::kWeiboVisitorAsking));
    auto fail = [&core](const QString &why) {
        StatusText(core, QString::fromUtf16(texts::kWeiboVisitorFailed).arg(why));
        return false;
    };

    UrlSource source;
    UrlRequest request =
        PageRequest(u"\r\nContent-Type: application/x-www-form-urlencoded\r\nReferer: "_s + endpoints::WeiboVisitorPageUrl());
    request.url = endpoints::WeiboVisitorGenUrl();
    request.verb = u"POST"_s;
    request.postBody = endpoints::kWeiboVisitorForm.toString().toUtf8();
    if (!FetchPage(core, source, request))
        return fail(source.errorText);
    const QJsonObject answer = JsonpObject(TakeText(source, kTextInflate | kTextUtf8));
    if (answer.isEmpty())
        return fail(u"the passport's answer is not JSON"_s);
    const QString retcode = IdText(answer.value(u"retcode"_s));
    const QJsonObject data = answer.value(u"data"_s).toObject();
    const QString sub = data.value(u"sub"_s).toString();
    const QString subp = data.value(u"subp"_s).toString();
    if (retcode != u"20000000"_s || sub.isEmpty() || subp.isEmpty())
        return fail(u"%1 (retcode %2)"_s.arg(answer.value(u"msg"_s).toString(), retcode));
    NoteVisitorSub(sub);

    UrlRequest cross = PageRequest(u"\r\nReferer: "_s + endpoints::WeiboVisitorPageUrl());
    cross.url = endpoints::WeiboVisitorCrossDomainUrl(sub, subp, RandomFraction().trimmed());
    // Its cookies come with the redirect; where it leads is not wanted.
    cross.followRedirects = false;
    if (!FetchPage(core, source, cross))
        return fail(source.errorText);
    source.body = QByteArray();
    if (WeiboCookie(u"SUB").isEmpty())
        return fail(u"no SUB cookie (HTTP %1)"_s.arg(source.status));
    return true;
}

// Asks weibo.com's home page, whose answer renews the XSRF-TOKEN cookie.
void RefreshHome(const TamblinCore &core)
{
    UrlSource source;
    UrlRequest request = PageRequest();
    request.url = endpoints::WeiboSiteRootUrl();
    FetchPage(core, source, request);
}

enum class Answer { Ok, LoginNeeded, Failed };

// One request to weibo.com/ajax; `object` gets the answer when it is
// {"ok":1,...}. An answer sent to a login page, or {"ok":-100}, needs a
// login; any other `ok` fails with the service's message in `why`.
Answer FetchJsonOnce(const TamblinCore &core, UrlSource &source, const QString &url, const QString &referer,
                     QJsonObject &object, int &ok, QString &why)
{
    UrlRequest request = PageRequest(AjaxHeaders(referer));
    request.url = url;
    if (!FetchPage(core, source, request))
        return Answer::Failed;
    if (endpoints::IsLoginPage(source.finalUrl))
        return Answer::LoginNeeded;
    QByteArray bytes;
    if (source.gzipped)
        InflateBody(source.body.constData(), source.body.size(), bytes, source.maxTextBytes);
    else
        bytes = source.body;
    source.body = QByteArray();
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject()) {
        why = QString::fromUtf16(texts::kWeiboError).arg(u"not JSON"_s, u"HTTP %1"_s.arg(source.status));
        return Answer::Failed;
    }
    object = document.object();
    ok = object.value(u"ok"_s).toVariant().toInt();
    if (ok == -100)
        return Answer::LoginNeeded;
    if (ok != 1) {
        QString message = object.value(u"msg"_s).toString();
        if (message.isEmpty())
            message = object.value(u"message"_s).toString();
        QString code = IdText(object.value(u"errno"_s));
        if (code.isEmpty())
            code = IdText(object.value(u"error_code"_s));
        why = QString::fromUtf16(texts::kWeiboError).arg(message.isEmpty() ? u"ok %1"_s.arg(ok) : message, code);
        return Answer::Failed;
    }
    return Answer::Ok;
}

// FetchJsonOnce as a browser lives it: a guest turned away gets visitor
// cookies and asks again; another refusal (ok below 0) asks weibo.com for a
// fresh XSRF-TOKEN and asks again. Each once.
Answer FetchJson(const TamblinCore &core, UrlSource &source, const QString &url, const QString &referer,
                 QJsonObject &object, QString *why = nullptr)
{
    bool visitorAsked = false;
    for (;;) {
        int ok = 1;
        QString failure;
        const Answer answer = FetchJsonOnce(core, source, url, referer, object, ok, failure);
        if (answer == Answer::LoginNeeded && !visitorAsked) {
            visitorAsked = true;
            if (GetVisitorCookies(core))
                continue;
        } else if (answer == Answer::Failed && ok < 0 && !t_homeRefreshed && !RunStopAsked(core)) {
            t_homeRefreshed = true;
            RefreshHome(core);
            continue;
        }
        if (why)
            *why = failure;
        return answer;
    }
}

// ---------------------------------------------------------------------------
// Addresses

// Who a pasted Weibo address names: a numeric id, a personal address name
// (weibo.com/<custom>) or a screen name (weibo.com/n/<name>).
struct WeiboOwner {
    QString uid;
    QString custom;
    QString screenName;

    bool Named() const { return !uid.isEmpty() || !custom.isEmpty() || !screenName.isEmpty(); }
    // The user's page on weibo.com, whatever host the address named.
    QString PageUrl() const
    {
        if (!screenName.isEmpty())
            return endpoints::WeiboScreenNamePageUrl(screenName);
        return endpoints::WeiboUserPageUrl(uid, custom);
    }
    QString InfoUrl() const
    {
        if (uid.isEmpty() && !screenName.isEmpty())
            return endpoints::WeiboProfileByScreenNameUrl(screenName);
        return endpoints::WeiboProfileInfoUrl(uid, custom);
    }
};

// First path parts that name a page of the site, not a user.
bool IsSitePage(const QString &part)
{
    static const QSet<QString> kPages = {u"ajax"_s, u"home"_s, u"hot"_s, u"search"_s, u"set"_s, u"signup"_s,
                                         u"newlogin"_s, u"login"_s, u"tv"_s, u"detail"_s, u"status"_s, u"a"_s,
                                         u"messages"_s, u"notification"_s, u"compose"_s, u"fav"_s, u"like"_s,
                                         u"at"_s, u"comments"_s, u"mygroups"_s, u"explore"_s, u"search.php"_s};
    return kPages.contains(part.toLower());
}

// The owner a Weibo address names, found as peers find it: /u/<uid>,
// /profile/<uid>, /<uid>, /p/<page id> (a 6-digit prefix, then the uid),
// /n/<screen name>, /<custom name>, on weibo.com, m.weibo.cn or weibo.cn,
// with or without www.; the query and fragment do not count.
WeiboOwner OwnerOfAddress(const QString &address)
{
    WeiboOwner owner;
    const QUrl url(address.trimmed());
    if (!endpoints::IsWeiboPageHost(url.host()))
        return owner;
    const QStringList parts = url.path(QUrl::FullyDecoded).split(u'/', Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return owner;
    const QString &first = parts[0];
    const QString second = parts.value(1);
    if ((first == u"u"_s || first == u"profile"_s) && AllDigits(second)) {
        owner.uid = second;
    } else if (first == u"p"_s && AllDigits(second) && second.size() > 6) {
        owner.uid = second.size() == 16 ? second.last(10) : second.sliced(6);
    } else if (first == u"n"_s && !second.isEmpty() && second.size() <= 60
               && std::none_of(second.begin(), second.end(), [](QChar c) { return c.unicode() < 0x20; })) {
        owner.screenName = second;
    } else if (AllDigits(first)) {
        owner.uid = first;
    } else if (first != u"u"_s && first != u"p"_s && first != u"n"_s && first != u"profile"_s && !IsSitePage(first)
               && IsPictureId(QString(first).remove(u'_').remove(u'-'))) {
        owner.custom = first;
    }
    return owner;
}

QString CoverOf(const QString &pic)
{
    if (pic.startsWith(u"//"_s) || pic.contains(u"://"_s))
        return WithScheme(pic);
    return IsPictureId(pic) ? endpoints::WeiboPictureUrl(pic) : QString();
}

// One pass over the web client's endpoints: the owner, then the first page
// of the image wall with its albums.
Answer ListWallOnce(TamblinCore &core, const WeiboOwner &owner)
{
    QString uid = owner.uid;
    UrlSource source;
    QJsonObject answer;
    QString why;
    const Answer info = FetchJson(core, source, owner.InfoUrl(), owner.PageUrl(), answer, &why);
    if (info == Answer::LoginNeeded)
        return info;
    if (info == Answer::Ok) {
        const QJsonObject user = answer.value(u"data"_s).toObject().value(u"user"_s).toObject();
        const QString id = IdText(user.value(u"idstr"_s)).isEmpty() ? IdText(user.value(u"id"_s))
                                                                    : IdText(user.value(u"idstr"_s));
        if (!id.isEmpty())
            uid = id;
        const QString nickname = user.value(u"screen_name"_s).toString();
        if (!nickname.isEmpty()) {
            core.m_userFolder = nickname;
            SanitizeName(core.m_userFolder, kTimeStampFallback, true);
        }
    } else if (!why.isEmpty()) {
        NoteSourceFailure(why);
    }
    // Only digits go into the album addresses built below.
    if (!AllDigits(uid))
        return Answer::Failed;
    core.m_ownerUid = uid;

    const Answer wall = FetchJson(core, source, endpoints::WeiboImageWallPrefix(uid) + u'0',
                                  endpoints::WeiboUserPageUrl(uid, QString()), answer, &why);
    if (wall == Answer::Failed && !why.isEmpty())
        NoteSourceFailure(why);
    if (wall != Answer::Ok)
        return wall;
    const QJsonObject data = answer.value(u"data"_s).toObject();

    ST_PERLISTRECORD album;
    album.count = -1; // the web client does not say
    album.flags = 0;
    for (const QJsonValue &entry : data.value(u"album_list"_s).toArray()) {
        const QJsonObject fields = entry.toObject();
        const QString containerId = IdText(fields.value(u"containerid"_s));
        if (containerId.isEmpty())
            continue;
        album.name = fields.value(u"pic_title"_s).toString();
        if (album.name.isEmpty())
            album.name = containerId;
        album.albumUrl = endpoints::WeiboAlbumDetailPrefix(uid, containerId);
        album.coverUrl = CoverOf(fields.value(u"pic"_s).toString());
        core.OnAlbumAdded(album);
        if (ListStopAsked(core))
            return Answer::Ok;
    }
    const QJsonArray pictures = data.value(u"list"_s).toArray();
    if (!pictures.isEmpty()) {
        album.name = QString::fromUtf16(texts::kWholeImageWall);
        album.albumUrl = endpoints::WeiboImageWallPrefix(uid);
        album.coverUrl = CoverOf(pictures.first().toObject().value(u"pid"_s).toString());
        core.OnAlbumAdded(album);
    }
    return Answer::Ok;
}

// The albums of the Weibo web client, when the album service has none to
// give. A login that is needed (the visitor exchange did not help) is
// offered once (the window shows its login browser; a front end without one
// says how to log in) and the pass repeated after it.
void ListWeiboWall(TamblinCore &core, WeiboOwner owner, const QString &uid)
{
    // A certificate or a service that kept refusing fails this route too.
    if (RunStopAsked(core) || SourceFailureNoted())
        return;
    if (!uid.isEmpty())
        owner = WeiboOwner{uid, {}, {}};
    if (ListWallOnce(core, owner) != Answer::LoginNeeded)
        return;
    if (core.m_window && core.m_window->OpenLogin(endpoints::WeiboLoginUrl()))
        ListWallOnce(core, owner);
}

// ---------------------------------------------------------------------------
// Posts: what an image-wall item that is not a plain picture stands for.

// A picture of a post and its clip, or (no pid) a video of the post.
struct PostMedia {
    QString pid;
    QString still;
    QString clip;
};

struct Post {
    bool readable = false;
    QString why;       // when not readable
    bool followersOnly = false;
    std::int64_t time = 0;
    QList<PostMedia> media;
};

// "Tue Feb 23 12:28:47 +0800 2021" in seconds since 1970; 0 when it is not
// that form.
std::int64_t PostTime(const QString &createdAt)
{
    static const QStringList kMonths = {u"Jan"_s, u"Feb"_s, u"Mar"_s, u"Apr"_s, u"May"_s, u"Jun"_s,
                                        u"Jul"_s, u"Aug"_s, u"Sep"_s, u"Oct"_s, u"Nov"_s, u"Dec"_s};
    const QStringList fields = createdAt.split(u' ', Qt::SkipEmptyParts);
    if (fields.size() != 6)
        return 0;
    const int month = int(kMonths.indexOf(fields[1])) + 1;
    const QDate date(fields[5].toInt(), month, fields[2].toInt());
    const QTime time = QTime::fromString(fields[3], u"HH:mm:ss"_s);
    const QString &zone = fields[4];
    if (!date.isValid() || !time.isValid() || zone.size() != 5 || (zone[0] != u'+' && zone[0] != u'-')
        || !AllDigits(QStringView(zone).sliced(1)))
        return 0;
    const int offset = (zone.sliced(1, 2).toInt() * 3600 + zone.sliced(3, 2).toInt() * 60) * (zone[0] == u'-' ? -1 : 1);
    return QDateTime(date, time, QTimeZone(offset)).toSecsSinceEpoch();
}

// When a photo of the album service was posted, from its "created_at" (the
// posts' form, or "2013-08-29 16:44:05" in Beijing time) or its
// "timestamp" (seconds, or milliseconds); 0 when it says neither.
std::int64_t PhotoTime(QStringView piece)
{
    const QString createdAt = JsonUnescape(GetBetween(piece, u"\"created_at\":\"", u"\"", 0));
    if (const std::int64_t posted = PostTime(createdAt))
        return posted;
    const QDateTime local = QDateTime::fromString(createdAt, u"yyyy-MM-dd HH:mm:ss"_s);
    if (local.isValid())
        return QDateTime(local.date(), local.time(), QTimeZone(8 * 3600)).toSecsSinceEpoch();
    const QString stamp = GetBetween(piece, u"\"timestamp\":", u",", 0).remove(u'}').trimmed();
    const qint64 number = AllDigits(stamp) ? stamp.toLongLong() : 0;
    return number > 100000000000 ? number / 1000 : number;
}

// The best video of a page_info (or a mix item's data): the playback entry
// of the highest quality, else the HD stream, else the stream.
QString VideoOf(const QJsonObject &pageInfo)
{
    const QJsonObject media = pageInfo.value(u"media_info"_s).toObject();
    QString best;
    double bestQuality = -1;
    for (const QJsonValue &entry : media.value(u"playback_list"_s).toArray()) {
        const QJsonObject playback = entry.toObject();
        const double quality = playback.value(u"meta"_s).toObject().value(u"quality_index"_s).toDouble(0);
        const QString url = playback.value(u"play_info"_s).toObject().value(u"url"_s).toString();
        if (!url.isEmpty() && quality > bestQuality) {
            best = url;
            bestQuality = quality;
        }
    }
    for (const QString &key : {u"stream_url_hd"_s, u"stream_url"_s}) {
        if (best.isEmpty())
            best = media.value(key).toString();
    }
    return best;
}

// A picture of pic_infos (or a mix item's data): its largest still and, for
// a Live Photo or a gif, its clip.
void AddPicInfo(Post &post, const QString &pid, const QJsonObject &info)
{
    if (!IsPictureId(pid))
        return;
    PostMedia media{pid, {}, {}};
    for (const QString &size : {u"largest"_s, u"original"_s, u"mw2000"_s}) {
        if (media.still.isEmpty())
            media.still = info.value(size).toObject().value(u"url"_s).toString();
    }
    if (media.still.isEmpty())
        media.still = endpoints::WeiboPictureUrl(pid);
    const QString type = info.value(u"type"_s).toString();
    if (type == u"livephoto"_s || type == u"gif"_s)
        media.clip = info.value(u"video"_s).toString();
    post.media.append(media);
}

// What statuses/show says of a post (already {"ok":1}).
Post ReadPost(const QJsonObject &status)
{
    Post post;
    post.readable = true;
    post.time = PostTime(status.value(u"created_at"_s).toString());
    const QJsonObject infos = status.value(u"pic_infos"_s).toObject();
    QStringList order;
    for (const QJsonValue &pid : status.value(u"pic_ids"_s).toArray())
        order.append(pid.toString());
    if (order.isEmpty())
        order = infos.keys();
    for (const QString &pid : std::as_const(order)) {
        if (infos.contains(pid))
            AddPicInfo(post, pid, infos.value(pid).toObject());
    }
    if (infos.isEmpty()) {
        for (const QJsonValue &entry : status.value(u"mix_media_info"_s).toObject().value(u"items"_s).toArray()) {
            const QJsonObject item = entry.toObject();
            const QJsonObject data = item.value(u"data"_s).toObject();
            if (item.value(u"type"_s).toString() == u"video"_s) {
                const QString video = VideoOf(data);
                if (!video.isEmpty())
                    post.media.append({QString(), QString(), video});
            } else {
                const QString id = IdText(item.value(u"id"_s));
                AddPicInfo(post, id.isEmpty() ? data.value(u"pic_id"_s).toString() : id, data);
            }
        }
    }
    if (post.media.isEmpty()) {
        const QString video = VideoOf(status.value(u"page_info"_s).toObject());
        if (!video.isEmpty())
            post.media.append({QString(), QString(), video});
    }
    return post;
}

// The image wall of one album turned into picture jobs: plain pictures at
// once, everything else through its post, each post read once per run.
class WallJobs {
public:
    WallJobs(TamblinCore &core, int albumIndex, const QString &referer)
        : m_core(core), m_albumIndex(albumIndex), m_referer(referer)
    {
    }

    // False when the listing is to end (a stop, the skip rule).
    bool Add(const QJsonObject &item)
    {
        const QJsonValue pidValue = item.value(u"pid"_s);
        const QString pid = pidValue.toString();
        const QString type = item.value(u"type"_s).toString();
        const QString mid = IdText(item.value(u"mid"_s));
        // A pid that is there but no text (a number, say) is there and wrong.
        const bool hasPid = !pid.isEmpty() || !(pidValue.isUndefined() || pidValue.isNull() || pidValue.isString());
        // An id that could steer an address or a name is not followed.
        if (hasPid && !IsPictureId(pid))
            return true;
        if (hasPid && (type.isEmpty() || type == u"pic"_s))
            return AddStill(pid, endpoints::WeiboPictureUrl(pid), 0);
        if (!IsPostId(mid))
            return !hasPid || AddStill(pid, endpoints::WeiboPictureUrl(pid), 0);
        const Post &post = PostOf(mid);
        if (!post.readable) {
            if (RunStopAsked(m_core))
                return false;
            StatusText(m_core, post.followersOnly ? QString::fromUtf16(texts::kWeiboPostFollowersOnly).arg(mid)
                                                  : QString::fromUtf16(texts::kWeiboPostUnreadable).arg(mid, post.why));
            // The still the wall names is not lost with its post.
            return !hasPid || AddStill(pid, endpoints::WeiboPictureUrl(pid), 0);
        }
        const bool onePicture =
            hasPid && std::any_of(post.media.begin(), post.media.end(), [&pid](const PostMedia &m) { return m.pid == pid; });
        for (const PostMedia &media : post.media) {
            if (onePicture && media.pid != pid)
                continue;
            const bool going = media.pid.isEmpty()
                ? AddClip(mid, media.clip, post.time)
                : AddStill(media.pid, media.still, post.time) && AddClip(media.pid, media.clip, post.time);
            if (!going)
                return false;
        }
        return true;
    }

private:
    const Post &PostOf(const QString &mid)
    {
        // Kept for one run (a list run starts the next one), and bounded: an
        // account of many posts must not hold them all.
        thread_local int generation = -1;
        if (generation != g_postsGeneration || t_posts.size() >= 20000) {
            t_posts.clear();
            generation = g_postsGeneration;
        }
        auto found = t_posts.constFind(mid);
        if (found != t_posts.constEnd())
            return *found;
        Post post;
        UrlSource source;
        QJsonObject status;
        const Answer answer = FetchJson(m_core, source, endpoints::WeiboStatusUrl(mid), m_referer, status, &post.why);
        if (answer == Answer::Ok) {
            post = ReadPost(status);
        } else {
            const QString code = IdText(status.value(u"errno"_s)) + IdText(status.value(u"error_code"_s));
            post.followersOnly = code == u"20112"_s;
            if (answer == Answer::LoginNeeded)
                post.why = u"a Weibo login is needed"_s;
            else if (post.why.isEmpty())
                post.why = source.errorText;
        }
        return *t_posts.insert(mid, post);
    }

    bool AddStill(const QString &pid, const QString &address, std::int64_t time)
    {
        if (!m_done.contains(pid)) {
            m_done.insert(pid);
            const QString path = QUrl(address).path();
            QString ext = path.sliced(path.lastIndexOf(u'.') + 1).toLower();
            if (ext != u"gif"_s && ext != u"png"_s && ext != u"jpeg"_s)
                ext = u"jpg"_s;
            PictureExtras extras;
            extras.postTime = time;
            // The address no longer tells the format: the bytes do.
            extras.extensionFromBytes = true;
            AddPictureJob(m_core, address, pid + u'.' + ext, QString(), m_albumIndex, extras);
        }
        return !ListingEnds(m_core);
    }

    // A clip beside the still `base` names (or the video of post `base`).
    bool AddClip(const QString &base, QString address, std::int64_t time)
    {
        if (address.isEmpty() || !m_core.m_weiboClips)
            return true;
        address = WithScheme(address);
        const QUrl url(address);
        const QString scheme = url.scheme().toLower();
        if ((scheme != u"http"_s && scheme != u"https"_s) || url.host().isEmpty()) {
            StatusText(m_core, QString::fromUtf16(texts::kWeiboBadClip).arg(address.left(200)));
            return true;
        }
        const QString ext = url.path().endsWith(u".mov"_s, Qt::CaseInsensitive) ? u".mov"_s : u".mp4"_s;
        if (m_done.contains(base + ext))
            return true;
        m_done.insert(base + ext);
        PictureExtras extras;
        extras.clipExtension = ext;
        extras.postTime = time;
        AddPictureJob(m_core, address, base, QString(), m_albumIndex, extras);
        return !ListingEnds(m_core);
    }

    TamblinCore &m_core;
    const int m_albumIndex;
    const QString m_referer;
    QSet<QString> m_done; // pids and clip names of the album so far
    static thread_local QHash<QString, Post> t_posts;
};

thread_local QHash<QString, Post> WallJobs::t_posts;

// An image-wall walk that the service still named a next page for ended:
// said on the status line and reported as a listing that broke off.
void WallWalkEnded(const TamblinCore &core, const QString &why)
{
    StatusText(core, why);
    if (g_jobs.listingError.isEmpty() && !RunStopAsked(core))
        g_jobs.listingError = why;
}

// The pictures of an album listed through the image wall: cursor after
// cursor while the service names a new one (an empty page in the middle
// does not end it), until three empty pages in a row, a cursor it gave
// before or a page it gave before (a service stuck on one cursor).
void ListWeiboWallPictures(TamblinCore &core, int albumIndex, QString albumUrl)
{
    const QString uid = QUrlQuery(QUrl(albumUrl)).queryItemValue(u"uid"_s);
    const QString referer = endpoints::WeiboUserPageUrl(uid, QString());
    UrlSource source;
    QString cursor = u"0"_s;
    QSet<QString> seenCursors{cursor};
    PageWalkGuard guard(core);
    WallJobs jobs(core, albumIndex, referer);
    int emptyInARow = 0;
    for (;;) {
        QJsonObject answer;
        QString why;
        const Answer got = FetchJson(core, source, albumUrl + QString::fromLatin1(QUrl::toPercentEncoding(cursor)),
                                     referer, answer, &why);
        if (got != Answer::Ok) {
            NoteSourceFailure(got == Answer::LoginNeeded ? u"a Weibo login is needed"_s : why);
            ListingBrokeOff(core, source);
            return;
        }
        if (!guard.CountPage())
            return;
        const QJsonObject data = answer.value(u"data"_s).toObject();
        const QJsonArray pictures = data.value(u"list"_s).toArray();
        answer = QJsonObject();
        if (pictures.isEmpty()) {
            if (++emptyInARow == kEmptyPagesToEnd)
                return WallWalkEnded(core, QString::fromUtf16(texts::kWeiboEmptyPages).arg(kEmptyPagesToEnd));
        } else {
            emptyInARow = 0;
            if (guard.Repeats(QString::fromUtf8(QJsonDocument(pictures).toJson(QJsonDocument::Compact))))
                return;
            for (const QJsonValue &item : pictures) {
                if (!jobs.Add(item.toObject()))
                    return;
            }
        }
        cursor = IdText(data.value(u"since_id"_s));
        if (cursor.isEmpty() || cursor == u"0"_s)
            return;
        if (seenCursors.contains(cursor))
            return WallWalkEnded(core, QString::fromUtf16(texts::kWeiboCursorRepeats).arg(cursor.left(40)));
        seenCursors.insert(cursor);
    }
}

} // namespace


void ListWeiboAlbums(TamblinCore &core, const QString &address)
{
    t_visitorTried = false;
    t_homeRefreshed = false;
    ++g_postsGeneration;
    const WeiboOwner owner = OwnerOfAddress(address);
    if (!owner.Named()) {
        NoteSourceFailure(QString::fromUtf16(texts::kWeiboNoUser));
        return;
    }
    // The user's page on weibo.com, over https, where the login may go,
    // whichever host or form the address had. The cookie line goes out even
    // when the user never logged in.
    const QString pageUrl = owner.PageUrl();
    UrlSource source;
    UrlRequest request = PageRequest(WeiboCookieLine(pageUrl));

    QString page;
    bool fetched = FetchText(core, source, request, pageUrl, page);
    // A guest is sent to the passport: with visitor cookies, once more.
    if (fetched && endpoints::IsLoginPage(source.finalUrl) && GetVisitorCookies(core)) {
        request.headers = PageRequest(WeiboCookieLine(pageUrl)).headers;
        fetched = FetchText(core, source, request, pageUrl, page);
    }
    if (!fetched)
        return ListWeiboWall(core, owner, QString());

    // The page writes the owner in one of three forms; the nickname is
    // looked for only after the owner-id marker.
    QStringView rest(page);
    QString uid;
    QString nickname;
    if (page.indexOf(u"['oid'] = '") >= 1) {
        uid = GetBetween(rest, u"['oid'] = '", u"'", kAdvance);
        nickname = GetBetween(rest, u"['onick'] = '", u"'", kAdvance);
    } else if (page.indexOf(u"['oid']='") >= 1) {
        uid = GetBetween(rest, u"['oid']='", u"'", kAdvance);
        nickname = GetBetween(rest, u"['onick']='", u"'", kAdvance);
    } else if (!owner.uid.isEmpty()) {
        // Any "id" of the page would do for an address without a number;
        // the profile names that owner instead.
        uid = GetBetween(rest, u"\"id\":", u",", kAdvance);
        nickname = GetBetween(rest, u"\"name\":\"", u"\"", kAdvance);
    }
    page.clear();
    core.m_ownerUid = uid;
    core.m_userFolder = nickname;
    SanitizeName(core.m_userFolder, kTimeStampFallback, true);
    // Today's pages carry no owner id: the web client's endpoints name it.
    if (uid.isEmpty())
        return ListWeiboWall(core, owner, QString());

    // The album service fails in many ways today (a 5xx, a login page, an
    // error object, no album at all); the image wall stands in for it.
    const QString albumListUrl = endpoints::WeiboAlbumListUrl(uid);
    request.headers = PageRequest(WeiboCookieLine(albumListUrl) + u"\r\nReferer: "_s
                                  + endpoints::WeiboAlbumsReferer(uid)).headers;
    const int albumsBefore = core.m_albums.Size();
    QString json;
    QStringList pieces;
    if (!FetchText(core, source, request, albumListUrl, json) || SplitString(pieces, json, u"\"album_id\":\"") < 1)
        return ListWeiboWall(core, owner, uid);
    json.clear();

    ST_PERLISTRECORD album;
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        const QStringView piece(pieces[i]);
        const qsizetype idEnd = piece.indexOf(u"\",");
        if (idEnd <= 0)
            continue;
        const QString albumId = piece.first(idEnd).toString();
        // In this order, each after the one before; a caption written before
        // the type field is therefore not found.
        QStringView walk = piece;
        const QString type = GetBetween(walk, u"type\":", u",", kAdvance);
        album.name = JsonUnescape(GetBetween(walk, u"\"caption\":\"", u"\"", kAdvance));
        album.coverUrl = Unslash(GetBetween(walk, u"cover_pic\":\"", u"\"", kAdvance));
        album.count = ReadDecimal(GetBetween(walk, u"\"photos\":", u",", kAdvance));
        album.albumUrl = endpoints::WeiboPhotoListPrefix(uid, albumId, type);
        album.flags = 0;
        core.OnAlbumAdded(album);
        if (ListStopAsked(core))
            return;
    }
    if (core.m_albums.Size() == albumsBefore)
        ListWeiboWall(core, owner, uid);
}

void ListWeiboPictures(TamblinCore &core, int albumIndex)
{
    const ST_PERLISTRECORD *album = core.m_albums.At(albumIndex);
    if (!album)
        return;
    g_jobs.referer = PictureReferer(kSubModeWeibo);
    if (endpoints::IsWeiboWallAlbum(album->albumUrl))
        return ListWeiboWallPictures(core, albumIndex, album->albumUrl);
    const QString albumUrl = album->albumUrl;
    const QString albumName = album->name;
    const QString ownerUid = core.m_ownerUid;
    // Unsigned, as the services' count is read: a negative count wraps.
    const std::uint32_t lastPage = (std::uint32_t(album->count) + (kWeiboPageSize - 1)) / kWeiboPageSize;

    UrlSource source;
    // The Referer goes with the list requests only, not with the pictures.
    UrlRequest request = PageRequest(u"\r\nReferer: "_s + endpoints::WeiboAlbumsReferer(ownerUid));
    request.attempts = 3;
    request.retryDelaySec = 4;

    // The last answer is kept for a look when an album comes out wrong.
    const QString dumpPath = core.m_appDir + u"sinawb.tmp"_s;
    QStringEncoder toUtf16(QStringEncoder::Utf16LE);

    QStringList pieces;
    PageWalkGuard guard(core);
    bool retriedEmpty = false;
    int emptyInARow = 0;
    for (std::uint32_t page = 1;; ++page) {
        request.url = albumUrl + QString::number(page) + u"&_rnd="_s + RandomFraction();
        if (!FetchPage(core, source, request)) {
            ListingBrokeOff(core, source);
            return;
        }
        if (!guard.CountPage())
            return;
        const QString text = TakeText(source, kTextInflate | kTextUtf8);
        const QByteArray dump = toUtf16.encode(text);
        WriteUnicodeTextFile(dumpPath, dump);
        if (text.isEmpty())
            break;

        if (SplitString(pieces, text, u"photo_id\":") == 0) {
            if (page >= lastPage)
                break;
            // A count that promises pages the service no longer fills.
            if (++emptyInARow == kEmptyPagesToEnd) {
                StatusText(core, QString::fromUtf16(texts::kWeiboEmptyPages).arg(kEmptyPagesToEnd));
                break;
            }
            if (retriedEmpty) {
                // Empty twice: skip the page.
                if (!PauseUnlessStopped(core, kWeiboEmptySkipMs))
                    return;
                retriedEmpty = false;
            } else {
                if (!PauseUnlessStopped(core, kWeiboEmptyRetryMs))
                    return;
                --page; // the same page once more
                retriedEmpty = true;
            }
            continue;
        }
        // A service answering page numbers with photo pages it sent before
        // would otherwise never end the album.
        if (guard.Repeats(text))
            break;
        emptyInARow = 0;

        for (qsizetype i = 1; i < pieces.size(); ++i) {
            QStringView piece(pieces[i]);
            QString title = StripTags(JsonUnescape(GetBetween(piece, u"\"caption\":\"", u"\",\"", 0)));
            if (title.isEmpty())
                title = albumName;
            QString address = GetBetween(piece, u"original_pic\":\"", u"\"", kAdvance);
            if (address.isEmpty()) {
                const QString type = GetBetween(piece, u"pic_type\":", u",", 0);
                const QString name = GetBetween(piece, u"pic_name\":\"", u"\"", 0);
                const QString host = GetBetween(piece, u"pic_host\":\"", u"\"", 0);
                if (type == u"0"_s)
                    address = host + ownerUid + u"/180/"_s + name;
                else
                    address = host + u"/large/"_s + name;
            }
            address.replace(u"\\/"_s, u"/"_s);
            PictureExtras extras;
            extras.postTime = PhotoTime(pieces[i]);
            AddPictureJob(core, address, title, QString(), albumIndex, extras);
            if (ListingEnds(core))
                return;
        }
    }
}

} // namespace tamblin

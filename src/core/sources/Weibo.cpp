#include "sources/Weibo.h"

#include "app/TamblinCore.h"
#include "app/WindowPort.h"
#include "download/DownloadJobList.h"
#include "download/FileUtils.h"
#include "download/NamingRules.h"
#include "net/Inflate.h"
#include "sources/Endpoints.h"
#include "sources/ListTexts.h"
#include "sources/SourceSupport.h"
#include "text/TextUtils.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

#include <QStringEncoder>

#include <algorithm>

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

constexpr int kWeiboPageSize = 32;
constexpr int kWeiboEmptyRetryMs = 3000;
constexpr int kWeiboEmptySkipMs = 1500;

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

// The headers the web client sends to weibo.com/ajax: from the user's page,
// as XMLHttpRequest, with the XSRF-TOKEN cookie echoed when there is one.
// The cookies themselves come from the store, over https.
QString WallHeaders(const QString &uid, const QString &custom)
{
    QString headers = u"\r\nReferer: "_s + endpoints::WeiboUserPageUrl(uid, custom)
        + u"\r\nX-Requested-With: XMLHttpRequest\r\nAccept: application/json, text/plain, */*"_s;
    const QString token = CookieValue(GetUrlCookies(endpoints::WeiboSiteRootUrl()), u"XSRF-TOKEN");
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

enum class Answer { Ok, LoginNeeded, Failed };

// One request to weibo.com/ajax; `object` gets the answer when it is
// {"ok":1,...}. An answer sent to a login page, or {"ok":-100}, needs a
// login; {"ok":0} notes the service's own message.
Answer FetchJson(const TamblinCore &core, UrlSource &source, UrlRequest &request, const QString &url,
                 QJsonObject &object)
{
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
    if (!document.isObject())
        return Answer::Failed;
    object = document.object();
    const int ok = object.value(u"ok"_s).toVariant().toInt();
    if (ok == -100)
        return Answer::LoginNeeded;
    if (ok != 1) {
        const QString message = object.value(u"msg"_s).toString();
        NoteSourceFailure(QString::fromUtf16(texts::kWeiboError)
                              .arg(message.isEmpty() ? u"ok %1"_s.arg(ok) : message,
                                   IdText(object.value(u"errno"_s))));
        return Answer::Failed;
    }
    return Answer::Ok;
}

// The owner named by a Weibo address: "/u/<uid>" or "/<uid>", else a
// personal address "/<name>".
void OwnerOfAddress(const QString &address, QString &uid, QString &custom)
{
    const QUrl url(address.trimmed());
    if (!endpoints::IsWeiboHost(url.toString()))
        return;
    const QStringList parts = url.path().split(u'/', Qt::SkipEmptyParts);
    auto digits = [](const QString &text) {
        return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
    };
    if (parts.size() >= 2 && parts[0] == u"u"_s && digits(parts[1]))
        uid = parts[1];
    else if (!parts.isEmpty() && digits(parts[0]))
        uid = parts[0];
    else if (!parts.isEmpty() && parts[0] != u"u"_s && IsPictureId(QString(parts[0]).remove(u'_').remove(u'-')))
        custom = parts[0];
}

QString CoverOf(const QString &pic)
{
    if (pic.startsWith(u"//"_s))
        return u"https:"_s + pic;
    if (pic.contains(u"://"_s))
        return pic;
    return IsPictureId(pic) ? endpoints::WeiboPictureUrl(pic) : QString();
}

// One pass over the web client's endpoints: the owner, then the first page
// of the image wall with its albums.
Answer ListWallOnce(TamblinCore &core, QString uid, const QString &custom)
{
    UrlSource source;
    UrlRequest request = PageRequest(WallHeaders(uid, custom));
    QJsonObject answer;
    const Answer info = FetchJson(core, source, request, endpoints::WeiboProfileInfoUrl(uid, custom), answer);
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
    }
    // Only digits go into the album addresses built below.
    if (uid.isEmpty() || !std::all_of(uid.begin(), uid.end(), [](QChar c) { return c.isDigit(); }))
        return Answer::Failed;
    core.m_ownerUid = uid;

    request.headers = PageRequest(WallHeaders(uid, QString())).headers;
    const Answer wall = FetchJson(core, source, request, endpoints::WeiboImageWallPrefix(uid) + u'0', answer);
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
// give: by the owner id found so far, else by the address. A login that is
// needed is offered once (the window shows its login browser; a front end
// without one says how to log in) and the pass repeated after it.
void ListWeiboWall(TamblinCore &core, const QString &address, QString uid)
{
    // A certificate or a service that kept refusing fails this route too.
    if (RunStopAsked(core) || SourceFailureNoted())
        return;
    QString custom;
    if (uid.isEmpty())
        OwnerOfAddress(address, uid, custom);
    if (uid.isEmpty() && custom.isEmpty())
        return;
    if (ListWallOnce(core, uid, custom) != Answer::LoginNeeded)
        return;
    if (core.m_window && core.m_window->OpenLogin(endpoints::WeiboLoginUrl()))
        ListWallOnce(core, uid, custom);
}

// The pictures of an album listed through the image wall: cursor after
// cursor until the service gives 0, an empty list, a cursor it gave before
// or a page it gave before (a service stuck on one cursor).
void ListWeiboWallPictures(TamblinCore &core, int albumIndex, QString albumUrl)
{
    const QString uid = QUrlQuery(QUrl(albumUrl)).queryItemValue(u"uid"_s);
    UrlSource source;
    UrlRequest request = PageRequest(WallHeaders(uid, QString()));
    QString cursor = u"0"_s;
    QSet<QString> seenCursors{cursor};
    PageWalkGuard guard(core);
    for (;;) {
        QJsonObject answer;
        const Answer got =
            FetchJson(core, source, request, albumUrl + QString::fromLatin1(QUrl::toPercentEncoding(cursor)), answer);
        if (got != Answer::Ok) {
            if (got == Answer::LoginNeeded)
                NoteSourceFailure(u"a Weibo login is needed"_s);
            ListingBrokeOff(core, source);
            return;
        }
        const QJsonObject data = answer.value(u"data"_s).toObject();
        const QJsonArray pictures = data.value(u"list"_s).toArray();
        answer = QJsonObject();
        if (pictures.isEmpty())
            return;
        if (!guard.Admit(QString::fromUtf8(QJsonDocument(pictures).toJson(QJsonDocument::Compact))))
            return;
        for (const QJsonValue &item : pictures) {
            // A Live Photo's pid is its still picture.
            const QString pid = item.toObject().value(u"pid"_s).toString();
            if (!IsPictureId(pid))
                continue;
            // The picture's own name, "<pid>.<ext>", stands for its title.
            const QString address = endpoints::WeiboPictureUrl(pid);
            AddPictureJob(core, address, address.sliced(address.lastIndexOf(u'/') + 1), QString(), albumIndex);
            if (ListingEnds(core))
                return;
        }
        cursor = IdText(data.value(u"since_id"_s));
        if (cursor.isEmpty() || cursor == u"0"_s || seenCursors.contains(cursor))
            return;
        seenCursors.insert(cursor);
    }
}

} // namespace


void ListWeiboAlbums(TamblinCore &core, const QString &address)
{
    // The Weibo hosts redirect plain http to https, where the login may go;
    // they are asked over https at once. The cookie line goes out even when
    // the user never logged in.
    const QString pageUrl = endpoints::WeiboOverHttps(address);
    UrlSource source;
    UrlRequest request = PageRequest(WeiboCookieLine(pageUrl));

    QString page;
    if (!FetchText(core, source, request, pageUrl, page))
        return ListWeiboWall(core, address, QString());

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
    } else {
        uid = GetBetween(rest, u"\"id\":", u",", kAdvance);
        nickname = GetBetween(rest, u"\"name\":\"", u"\"", kAdvance);
    }
    page.clear();
    core.m_ownerUid = uid;
    core.m_userFolder = nickname;
    SanitizeName(core.m_userFolder, kTimeStampFallback, true);
    // Today's pages carry no owner id: the web client's endpoints name it.
    if (uid.isEmpty())
        return ListWeiboWall(core, address, QString());

    // The album service fails in many ways today (a 5xx, a login page, an
    // error object, no album at all); the image wall stands in for it.
    const QString albumListUrl = endpoints::WeiboAlbumListUrl(uid);
    request.headers = PageRequest(WeiboCookieLine(albumListUrl) + u"\r\nReferer: "_s
                                  + endpoints::WeiboAlbumsReferer(uid)).headers;
    const int albumsBefore = core.m_albums.Size();
    QString json;
    QStringList pieces;
    if (!FetchText(core, source, request, albumListUrl, json) || SplitString(pieces, json, u"\"album_id\":\"") < 1)
        return ListWeiboWall(core, address, uid);
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
        ListWeiboWall(core, address, uid);
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
            AddPictureJob(core, address, title, QString(), albumIndex);
            if (ListingEnds(core))
                return;
        }
    }
}

} // namespace tamblin

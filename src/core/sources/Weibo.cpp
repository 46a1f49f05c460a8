#include "sources/Weibo.h"

#include "app/TamblinCore.h"
#include "download/DownloadJobList.h"
#include "download/FileUtils.h"
#include "download/NamingRules.h"
#include "net/HttpClient.h"
#include "sources/Endpoints.h"
#include "sources/ListTexts.h"
#include "sources/SourceSupport.h"
#include "sources/WeiboPosts.h"
#include "sources/WeiboSession.h"
#include "sources/WeiboWall.h"
#include "text/TextUtils.h"

#include <QSet>
#include <QStringEncoder>
#include <QStringList>
#include <QUrl>

#include <algorithm>

namespace tamblin {

using namespace Qt::StringLiterals;
using namespace weibo;

namespace {

constexpr int kWeiboPageSize = 32;
constexpr int kWeiboEmptyRetryMs = 3000;
constexpr int kWeiboEmptySkipMs = 1500;

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

} // namespace

void ListWeiboAlbums(TamblinCore &core, const QString &address)
{
    StartSession();
    ForgetPosts();
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
    UrlRequest request = PageRequest(CookieLine(pageUrl));

    QString page;
    bool fetched = FetchText(core, source, request, pageUrl, page);
    // A guest is sent to the passport: with visitor cookies, once more.
    if (fetched && endpoints::IsLoginPage(source.finalUrl) && GetVisitorCookies(core)) {
        request.headers = PageRequest(CookieLine(pageUrl)).headers;
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
    request.headers = PageRequest(CookieLine(albumListUrl) + u"\r\nReferer: "_s
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

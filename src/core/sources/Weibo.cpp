#include "sources/Weibo.h"

#include "app/TamblinCore.h"
#include "download/FileUtils.h"
#include "download/NamingRules.h"
#include "sources/Endpoints.h"
#include "sources/SourceSupport.h"
#include "text/TextUtils.h"

#include <QStringList>

#include <QStringEncoder>

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

constexpr int kWeiboPageSize = 32;
constexpr int kWeiboEmptyRetryMs = 3000;
constexpr int kWeiboEmptySkipMs = 1500;

} // namespace


void ListWeiboAlbums(TamblinCore &core, const QString &address)
{
    // The cookie line goes out even when the user never logged in.
    UrlSource source;
    UrlRequest request = PageRequest(u"\r\ncookie: "_s + GetUrlCookies(endpoints::WeiboSiteRootUrl()));

    QString page;
    if (!FetchText(source, request, address, page))
        return;

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
    if (uid.isEmpty())
        return;

    QString json;
    if (!FetchText(source, request, endpoints::WeiboAlbumListUrl(uid), json))
        return;
    QStringList pieces;
    if (SplitString(pieces, json, u"\"album_id\":\"") < 1)
        return;
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
}

void ListWeiboPictures(TamblinCore &core, int albumIndex)
{
    const ST_PERLISTRECORD *album = core.m_albums.At(albumIndex);
    if (!album)
        return;
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
        if (!source.Fetch(request, 0)) {
            ListingBrokeOff(source);
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

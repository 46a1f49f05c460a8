#include "sources/ChangeSource.h"

#include "app/TamblinCore.h"
#include "download/FileUtils.h"
#include "net/HttpClient.h"
#include "sources/Endpoints.h"
#include "text/TextUtils.h"

#include <QStringList>

#include <algorithm>
#include <limits>

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

constexpr std::uint32_t kListTimeoutMs = 20000;

// Every list request: no file, the list time-out, the encoding header line.
UrlRequest ListRequest(const QString &extraHeaders = QString())
{
    UrlRequest request(QString(), QString(), kListTimeoutMs);
    request.headers = endpoints::kAcceptEncoding.toString() + extraHeaders;
    return request;
}

// Fetches `url` and decodes it (inflated, UTF-8 unless the answer names GBK);
// false when the fetch fails or the text is empty.
bool FetchText(UrlSource &source, UrlRequest &request, const QString &url, QString &text)
{
    request.url = url;
    text.clear();
    if (!source.Fetch(request, 0))
        return false;
    text = source.GetText(kTextInflate | kTextUtf8);
    // The raw body is not needed any more; a large answer should not be held twice.
    source.body = QByteArray();
    return !text.isEmpty();
}

// Addresses in the JSON answers write their slashes as "\/".
QString Unslash(QString text)
{
    return text.replace(u"\\/"_s, u"/"_s);
}

bool StopAsked(const TamblinCore &core)
{
    return core.m_listState.load() == 2;
}

} // namespace

std::int32_t ReadDecimal(QStringView text)
{
    qsizetype at = 0;
    while (at < text.size() && (text[at] == u' ' || text[at] == u'\t' || text[at] == u'\r' || text[at] == u'\n'))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == u'-' || text[at] == u'+')) {
        negative = text[at] == u'-';
        ++at;
    }
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    std::int64_t value = 0;
    for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9'; ++at)
        value = std::min(value * 10 + (text[at].unicode() - u'0'), kMax + 1); // clamped, the digits still read
    if (negative)
        return std::int32_t(-value);
    return std::int32_t(std::min(value, kMax));
}

void ListSinaPhotoAlbums(TamblinCore &core, const QString &address)
{
    UrlSource source;
    UrlRequest request = ListRequest();

    QString page;
    if (!FetchText(source, request, address, page))
        return;
    // The owner id is the first "articlelist_" after the title, so the
    // search goes on where the title marker ended.
    QStringView rest(page);
    core.m_userFolder = StripTags(GetBetween(rest, u"blogtitle\">", u"</", kAdvance));
    core.m_ownerUid = GetBetween(rest, u"articlelist_", u"_", kAdvance);
    page.clear();

    QString json;
    if (!FetchText(source, request, endpoints::SinaCategoryListUrl(core.m_ownerUid), json))
        return;
    QStringList pieces;
    if (SplitString(pieces, json, u"\"category\":\"") < 1)
        return;
    json.clear();

    ST_PERLISTRECORD album;
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        const QStringView piece(pieces[i]);
        const qsizetype nameEnd = piece.indexOf(u"\",");
        if (nameEnd < 0)
            continue;
        album.name = JsonUnescape(piece.first(nameEnd));
        if (album.name.isEmpty())
            continue;
        // Each field is searched after the one before it: a field written
        // earlier in the object than its predecessor stays empty.
        QStringView walk = piece;
        album.count = ReadDecimal(GetBetween(walk, u"pic_cnt\":\"", u"\"", kAdvance));
        album.albumUrl = Unslash(GetBetween(walk, u"ctg_url\":\"", u"\"", kAdvance));
        album.coverUrl = Unslash(GetBetween(walk, u"big_url\":\"", u"\"", kAdvance));
        album.flags = 0;
        core.OnAlbumAdded(album);
        if (StopAsked(core))
            return;
    }
}

void ListSinaBlogArticles(TamblinCore &core, const QString &address)
{
    UrlSource source;
    UrlRequest request = ListRequest();

    // The older page design marks its items differently; the first page
    // decides which marker the whole run uses.
    QString separator = u"class=\"atc_title\">"_s;
    ST_PERLISTRECORD article;
    QStringList pieces;
    QString page;
    std::size_t previousPageHash = 0;
    bool more = true;
    for (int pageNumber = 1; more; ++pageNumber) {
        if (!FetchText(source, request, address + u'_' + QString::number(pageNumber) + u".html"_s, page))
            break;
        // A service that answers every page number with the same page (and
        // its next-page link) would otherwise be walked for ever.
        const std::size_t pageHash = qHash(page);
        if (pageNumber > 1 && pageHash == previousPageHash)
            break;
        previousPageHash = pageHash;
        if (!page.contains(u"\">下一页"))
            more = false; // the last page, still read

        QStringView rest(page);
        if (pageNumber == 1) {
            core.m_userFolder = StripTags(GetBetween(rest, u"blogtitle\">", u"</", kAdvance));
            if (SplitString(pieces, rest, separator) == 0) {
                separator = u"class=\"SG_j_linedot"_s;
                SplitString(pieces, rest, separator);
            }
        } else {
            SplitString(pieces, rest, separator);
        }

        for (qsizetype i = 1; i < pieces.size(); ++i) {
            QStringView piece(pieces[i]);
            article.count = -1;
            article.flags = 0;
            article.name = GetBetween(piece, u"title=\"", u"\"", 0);
            if (article.name.isEmpty())
                continue;
            article.albumUrl = GetBetween(piece, u"href=\"", u"\"", 0);
            core.OnAlbumAdded(article);
            if (StopAsked(core))
                return;
        }
        // Pages without articles still honour a stop request.
        if (StopAsked(core))
            return;
    }
}

void ListWeiboAlbums(TamblinCore &core, const QString &address)
{
    // The cookie line goes out even when the user never logged in.
    UrlSource source;
    UrlRequest request = ListRequest(u"\r\ncookie: "_s + GetUrlCookies(endpoints::WeiboSiteRootUrl()));

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
        if (StopAsked(core))
            return;
    }
}

} // namespace tamblin

#include "sources/PictureSources.h"

#include "app/TamblinCore.h"
#include "download/DownloadDriver.h"
#include "download/FileUtils.h"
#include "download/NamingRules.h"
#include "net/HttpClient.h"
#include "sources/ChangeSource.h"
#include "sources/Endpoints.h"
#include "text/TextUtils.h"

#include <QStringEncoder>
#include <QStringList>

#include <chrono>
#include <thread>

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

constexpr std::uint32_t kPageTimeoutMs = 20000;
constexpr int kWeiboPageSize = 32;
constexpr int kWeiboEmptyRetryMs = 3000;
constexpr int kWeiboEmptySkipMs = 1500;

UrlRequest PageRequest(const QString &extraHeaders = QString())
{
    UrlRequest request(QString(), QString(), kPageTimeoutMs);
    request.headers = endpoints::kAcceptEncoding.toString() + extraHeaders;
    return request;
}

// Text of the last answer; the raw body is dropped so a large page is not
// held twice.
QString TakeText(UrlSource &source, int options)
{
    QString text = source.GetText(options);
    source.body = QByteArray();
    return text;
}

bool ListingEnds(const TamblinCore &core)
{
    const std::uint8_t state = core.m_downState;
    return state == 2 || state == 3;
}

bool StopAsked(const TamblinCore &core)
{
    return core.m_downState == 3;
}

// Waits `ms`, in short slices so that a stop asked meanwhile is seen; false
// when it was.
bool PauseUnlessStopped(const TamblinCore &core, int ms)
{
    using namespace std::chrono;
    const auto end = steady_clock::now() + milliseconds(ms);
    while (steady_clock::now() < end) {
        if (StopAsked(core))
            return false;
        std::this_thread::sleep_for(std::min<steady_clock::duration>(milliseconds(50), end - steady_clock::now()));
    }
    return !StopAsked(core);
}

} // namespace

void ListSinaPhotoPictures(TamblinCore &core, int albumIndex)
{
    const ST_PERLISTRECORD *album = core.m_albums.At(albumIndex);
    if (!album)
        return;
    const QString albumUrl = album->albumUrl;

    UrlSource source;
    UrlRequest request = PageRequest();
    QStringList pieces;
    std::size_t previousPageHash = 0;
    bool more = true;
    for (int page = 1; more; ++page) {
        request.url = albumUrl + u"/page"_s + QString::number(page);
        if (!source.Fetch(request, 0))
            return;
        const QString text = TakeText(source, kTextInflate | kTextUtf8);
        if (text.isEmpty())
            break;
        // A service answering every page number with the same page and its
        // next-page link would otherwise be walked for ever.
        const std::size_t pageHash = qHash(text);
        if (page > 1 && pageHash == previousPageHash)
            break;
        previousPageHash = pageHash;
        if (!text.contains(u"\">下一页"))
            more = false; // the last page, still read

        if (SplitString(pieces, text, u"class=\"pt_border\"") >= 1) {
            for (qsizetype i = 1; i < pieces.size(); ++i) {
                QStringView piece(pieces[i]);
                QString address = GetBetween(piece, u"src=\"", u"\"", kAdvance);
                address.replace(u"/small/"_s, u"/orignal/"_s);
                address.remove(u"amp"_s);
                // Searched after the src attribute only.
                const QString title = GetBetween(piece, u"title=\"", u"\"", kAdvance);
                AddPictureJob(core, address, title, QString(), albumIndex);
                if (ListingEnds(core))
                    return;
            }
        }
        // Pages without pictures still honour a stop.
        if (StopAsked(core))
            return;
    }
}

void ListSinaBlogPictures(TamblinCore &core, int albumIndex)
{
    const ST_PERLISTRECORD *album = core.m_albums.At(albumIndex);
    if (!album)
        return;
    const QString articleName = album->name;

    UrlSource source;
    UrlRequest request = PageRequest();
    request.url = album->albumUrl;
    // Only the article body remains of the page.
    request.beginMarker = QByteArrayLiteral("class=\"articalContent");
    request.endMarker = QByteArrayLiteral("class=\"shareUp\">");
    if (!source.Fetch(request, 0))
        return;
    // No UTF-8 flag: blog pages are GBK.
    const QString body = TakeText(source, kTextInflate);
    if (body.isEmpty())
        return;

    const QStringView urlMarker = u"&url=";
    const QStringView realSrcMarker = u"real_src =\"";
    const QStringView marker =
        CountOccurrences(body, urlMarker) == CountOccurrences(body, realSrcMarker) ? urlMarker : realSrcMarker;
    QStringList pieces;
    if (SplitString(pieces, body, marker) < 1 || pieces.size() < 2)
        return;
    QString address = pieces[1];
    TruncateAtMarker(address, u"\"");
    address.replace(u"/middle/"_s, u"/orignal/"_s);
    address.replace(u"/bmiddle/"_s, u"/orignal/"_s);
    address.replace(u"/mw690/"_s, u"/orignal/"_s);
    AddPictureJob(core, address, articleName, QString(), albumIndex);
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
    std::size_t previousPageHash = 0;
    bool retriedEmpty = false;
    for (std::uint32_t page = 1;; ++page) {
        request.url = albumUrl + QString::number(page) + u"&_rnd="_s + RandomFraction();
        if (!source.Fetch(request, 0))
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
        // A service repeating one page of photos for every page number
        // would otherwise never end the album.
        const std::size_t pageHash = qHash(text);
        if (page > 1 && pageHash == previousPageHash)
            break;
        previousPageHash = pageHash;

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

void RegisterPictureExtractors()
{
    SetPictureExtractor(kSubModeSinaPhoto, ListSinaPhotoPictures);
    SetPictureExtractor(kSubModeSinaBlog, ListSinaBlogPictures);
    SetPictureExtractor(kSubModeWeibo, ListWeiboPictures);
}

} // namespace tamblin

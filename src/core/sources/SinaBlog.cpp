#include "sources/SinaBlog.h"

#include "app/TamblinCore.h"
#include "download/DateRange.h"
#include "download/DownloadJobList.h"
#include "download/NamingRules.h"
#include "sources/Endpoints.h"
#include "sources/SourceSupport.h"
#include "text/TextUtils.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>

namespace tamblin {

using namespace Qt::StringLiterals;


namespace {

// When an article of a list page was posted: its date "(2014-05-30 10:00)"
// in Beijing time, after the item's title; 0 when the item gives none (the
// older page design).
std::int64_t ArticleTime(QStringView item)
{
    QString stamp = GetBetween(item, u"atc_tm", u"</", 0);
    stamp = stamp.sliced(std::max<qsizetype>(stamp.indexOf(u'(') + 1, 0));
    stamp.truncate(stamp.indexOf(u')') < 0 ? stamp.size() : stamp.indexOf(u')'));
    return ChinaTimeFromText(stamp.trimmed(), u"yyyy-MM-dd HH:mm"_s);
}

} // namespace

void ListSinaBlogArticles(TamblinCore &core, const QString &address)
{
    UrlSource source;
    UrlRequest request = PageRequest();

    // The older page design marks its items differently; the first page
    // decides which marker the whole run uses.
    QString separator = u"class=\"atc_title\">"_s;
    ST_PERLISTRECORD article;
    QStringList pieces;
    QString page;
    PageWalkGuard guard(core);
    bool more = true;
    for (int pageNumber = 1; more; ++pageNumber) {
        if (!FetchText(core, source, request, address + u'_' + QString::number(pageNumber) + u".html"_s, page))
            break;
        // A service that answers page numbers with pages it sent before (and
        // their next-page link) would otherwise be walked for ever.
        if (!guard.Admit(page))
            break;
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
            article.postTime = ArticleTime(piece);
            core.OnAlbumAdded(article);
            if (ListStopAsked(core))
                return;
        }
        // Pages without articles still honour a stop request.
        if (ListStopAsked(core))
            return;
    }
}

namespace {

// The request of an article page: only the article body remains of it.
UrlRequest ArticleRequest(const QString &url)
{
    UrlRequest request = PageRequest();
    request.url = url;
    request.beginMarker = QByteArrayLiteral("class=\"articalContent");
    request.endMarker = QByteArrayLiteral("class=\"shareUp\">");
    return request;
}

// The full-size addresses of the pictures of an article body, in order:
// the first only, or with `all` every one (a picture linked twice, by its
// attribute and its link, once).
QStringList ArticlePictures(const QString &body, bool all)
{
    const QStringView urlMarker = u"&url=";
    const QStringView realSrcMarker = u"real_src =\"";
    const QStringView marker =
        CountOccurrences(body, urlMarker) == CountOccurrences(body, realSrcMarker) ? urlMarker : realSrcMarker;
    QStringList pieces;
    if (SplitString(pieces, body, marker) < 1 || pieces.size() < 2)
        return {};
    const qsizetype last = all ? pieces.size() - 1 : 1;
    QStringList taken;
    for (qsizetype i = 1; i <= last; ++i) {
        QString address = pieces[i];
        TruncateAtMarker(address, u"\"");
        address.replace(u"/middle/"_s, u"/orignal/"_s);
        address.replace(u"/bmiddle/"_s, u"/orignal/"_s);
        address.replace(u"/mw690/"_s, u"/orignal/"_s);
        address = WithScheme(address);
        if (!address.trimmed().isEmpty() && !taken.contains(address))
            taken.append(address);
    }
    return taken;
}

} // namespace

void ListSinaBlogPictures(TamblinCore &core, int albumIndex)
{
    const ST_PERLISTRECORD *album = core.m_albums.At(albumIndex);
    if (!album)
        return;
    const QString articleName = album->name;
    g_jobs.referer = PictureReferer(kSubModeSinaBlog);
    // An article of a day outside the run's range is not opened; counted
    // as its one picture left out.
    PictureExtras extras;
    extras.postTime = album->postTime;
    if (g_jobs.LeaveOut(extras.postTime))
        return;

    UrlSource source;
    UrlRequest request = ArticleRequest(album->albumUrl);
    if (!FetchPage(core, source, request)) {
        ListingBrokeOff(core, source);
        return;
    }
    // No UTF-8 flag: blog pages are GBK. The first picture, or with the
    // option every picture of the body, each named after the article (the
    // naming rules number them).
    for (const QString &address : ArticlePictures(TakeText(source, kTextInflate), core.m_blogAllPictures)) {
        AddPictureJob(core, address, articleName, QString(), albumIndex, extras);
        if (ListingEnds(core))
            return;
    }
}

QString SinaBlogArticleCover(const QString &articleUrl, std::uint32_t stepTimeoutMs, std::uint32_t totalTimeoutMs,
                             const std::atomic<bool> *cancel)
{
    UrlRequest request = ArticleRequest(articleUrl);
    request.readTimeoutMs = stepTimeoutMs;
    request.connectTimeoutMs = stepTimeoutMs;
    request.readPauseMs = 0;
    request.totalTimeoutMs = totalTimeoutMs;
    request.cancel = cancel;
    UrlSource source;
    if (!source.FetchOnce(request, 0))
        return QString();
    return ArticlePictures(TakeText(source, kTextInflate), false).value(0);
}

} // namespace tamblin

#include "sources/SourceSupport.h"

#include "app/TamblinCore.h"
#include "app/WindowPort.h"
#include "download/DownloadDriver.h"
#include "download/DownloadJobList.h"
#include "sources/Endpoints.h"
#include "sources/ListTexts.h"
#include "sources/SinaBlog.h"
#include "sources/SinaPhoto.h"
#include "sources/Weibo.h"
#include "sources/WeiboArchive.h"
#include "sources/WeiboSession.h"
#include "sources/WeiboWall.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QRandomGenerator>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

constexpr std::uint32_t kPageTimeoutMs = 20000;

using Clock = std::chrono::steady_clock;

// A 5xx page is asked again as an empty Weibo page is: after 3 s, then
// after 1.5 s.
constexpr std::int64_t kServerErrorWaitsMs[] = {3000, 1500};


// The Weibo hosts see at most one page request per pace interval from the
// whole program.
std::mutex g_paceMutex;
Clock::time_point g_nextWeiboRequest{};

thread_local QString t_sourceFailure;
thread_local FailureKind t_sourceFailureKind = FailureKind::Final;

std::chrono::duration<double, std::milli> Scaled(std::int64_t ms)
{
    return ScaledWait(ms);
}

// Waits until `end` in short slices; `tick` is told the unscaled seconds
// left each time they change. False when the run was asked to stop.
bool WaitUntil(const TamblinCore &core, Clock::time_point end, const std::function<void(int)> &tick = {})
{
    const double scale = ServiceWaitScale();
    int shown = -1;
    for (;;) {
        if (RunStopAsked(core))
            return false;
        const auto now = Clock::now();
        if (now >= end)
            return true;
        if (tick) {
            const double leftMs = std::chrono::duration<double, std::milli>(end - now).count();
            const int seconds = scale > 0 ? int(std::ceil(leftMs / scale / 1000.0)) : 0;
            if (seconds != shown) {
                tick(seconds);
                shown = seconds;
            }
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(std::chrono::milliseconds(50), end - now));
    }
}

bool WaitScaled(const TamblinCore &core, std::int64_t ms, const std::function<void(int)> &tick = {})
{
    return WaitUntil(core, Clock::now() + std::chrono::duration_cast<Clock::duration>(Scaled(ms)), tick);
}

bool PaceWeiboRequest(const TamblinCore &core, const QString &url)
{
    const std::int32_t paceMs = core.m_weiboPaceMs;
    // weibo.com and the mobile site alike.
    if (paceMs <= 0 || !endpoints::IsWeiboPageHost(QUrl(url.trimmed()).host()))
        return true;
    Clock::time_point start;
    {
        std::lock_guard lock(g_paceMutex);
        start = std::max(Clock::now(), g_nextWeiboRequest);
        g_nextWeiboRequest = start + std::chrono::duration_cast<Clock::duration>(Scaled(paceMs));
    }
    return WaitUntil(core, start);
}

// The line that says how long a wait lasts: the picture line while a
// download runs, else the main status line.
void WaitText(const TamblinCore &core, const QString &text)
{
    if (core.m_window)
        core.m_window->SetItemText(core.m_downState != 0 ? kIdStatusPicture : kIdStatusMain, text);
}

void Fail(const TamblinCore &core, const QString &note)
{
    NoteSourceFailure(note);
    WaitText(core, note);
}


} // namespace

QString PictureReferer(int subMode)
{
    switch (subMode) {
    case kSubModeSinaPhoto:
        return endpoints::kSinaPhotoPageReferer.toString();
    case kSubModeSinaBlog:
        return endpoints::kSinaBlogPageReferer.toString();
    case kSubModeWeibo:
        return endpoints::kWeiboPageReferer.toString();
    default:
        return {};
    }
}

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

UrlRequest PageRequest(const QString &extraHeaders)
{
    UrlRequest request(QString(), QString(), kPageTimeoutMs);
    request.headers = endpoints::kAcceptEncoding.toString() + extraHeaders;
    return request;
}

namespace {

thread_local QString t_fetchFailure;

} // namespace

bool FetchText(const TamblinCore &core, UrlSource &source, UrlRequest &request, const QString &url,
               QString &text)
{
    request.url = url;
    text.clear();
    if (!FetchPage(core, source, request)) {
        t_fetchFailure = source.errorText;
        return false;
    }
    text = TakeText(source, kTextInflate | kTextUtf8);
    return !text.isEmpty();
}


bool FetchPage(const TamblinCore &core, UrlSource &source, const UrlRequest &request, int options)
{
    // A picture listing hands what it has found to the download pool before
    // it waits for the next page.
    FeedListedPictures();
    int rateLimited = 0;
    std::size_t serverErrors = 0;
    // The request with a renewed session, once a block has renewed it.
    std::optional<UrlRequest> renewed;
    for (;;) {
        const UrlRequest &asked = renewed ? *renewed : request;
        if (!PaceWeiboRequest(core, asked.url))
            return false;
        if (!source.Fetch(asked, options)) {
            if (source.error == FetchError::Certificate)
                Fail(core, QString::fromUtf16(texts::kSecureConnectFailed).arg(source.errorText));
            return false;
        }
        const bool weiboPage = endpoints::IsWeiboHost(asked.url);
        if (weiboPage && source.status == 414) {
            Fail(core, QString::fromUtf16(texts::kWeiboAddressTooLong).arg(ShownAddress(asked.url)));
            return false;
        }
        if (IsRateLimited(source)) {
            const QString host = QUrl(request.url.trimmed()).host();
            // Weibo answers a session it distrusts so, not only one that
            // asks too fast: the first such answer renews what a browser
            // would renew, and the wait below is then for the fresh session.
            if (rateLimited == 0 && weiboPage && (source.status == 432 || source.status == 418)) {
                UrlRequest fresh = request;
                if (weibo::RenewSession(core, fresh, source.status))
                    renewed = std::move(fresh);
            }
            if (rateLimited == kRateLimitRetries) {
                Fail(core, QString::fromUtf16(texts::kRateLimitGaveUp).arg(host).arg(source.status).arg(rateLimited));
                return false;
            }
            const std::int64_t waitMs = RateLimitWaitMs(rateLimited++, source.responseHeaders);
            const bool waited = WaitScaled(core, waitMs, [&core](int seconds) {
                WaitText(core, QString::fromUtf16(texts::kRateLimitWait).arg(seconds));
            });
            if (!waited)
                return false;
            WaitText(core, QString::fromUtf16(texts::kRateLimitRetrying));
            continue;
        }
        if (source.status == 502 || source.status == 503 || source.status == 504) {
            if (serverErrors == std::size(kServerErrorWaitsMs))
                return false;
            if (!WaitScaled(core, kServerErrorWaitsMs[serverErrors++]))
                return false;
            continue;
        }
        return true;
    }
}


void NoteSourceFailure(const QString &text, FailureKind kind)
{
    t_sourceFailure = text;
    t_sourceFailureKind = kind;
}

QString TakeSourceFailure(FailureKind *kind)
{
    if (kind)
        *kind = t_sourceFailureKind;
    t_sourceFailureKind = FailureKind::Final;
    return std::exchange(t_sourceFailure, QString());
}

bool SourceFailureNoted()
{
    return !t_sourceFailure.isEmpty();
}

QString ShownAddress(const QString &url)
{
    QString shown;
    shown.reserve(url.size());
    for (const QChar c : url) {
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0))
            shown += u"\\x%1"_s.arg(c.unicode(), 2, 16, QChar(u'0'));
        else
            shown += c;
    }
    return shown;
}

QString TakeText(UrlSource &source, int options)
{
    QString text = source.GetText(options);
    source.body = QByteArray();
    return text;
}

QString Unslash(QString text)
{
    return text.replace(u"\\/"_s, u"/"_s);
}

QString WithScheme(QString address)
{
    if (address.startsWith(u"//"))
        address.prepend(u"https:"_s);
    return address;
}

bool ListStopAsked(const TamblinCore &core)
{
    return core.m_listState.load() == 2;
}

bool DownStopAsked(const TamblinCore &core)
{
    return core.m_downState == 3;
}

bool ListingEnds(const TamblinCore &core)
{
    const std::uint8_t state = core.m_downState;
    return state == 2 || state == 3;
}

bool RunStopAsked(const TamblinCore &core)
{
    return ListStopAsked(core) || DownStopAsked(core);
}

bool PauseUnlessStopped(const TamblinCore &core, int ms)
{
    FeedListedPictures();
    using namespace std::chrono;
    const auto end = steady_clock::now() + milliseconds(ms);
    while (steady_clock::now() < end) {
        if (DownStopAsked(core))
            return false;
        std::this_thread::sleep_for(std::min<steady_clock::duration>(milliseconds(50), end - steady_clock::now()));
    }
    return !DownStopAsked(core);
}

QString TakeFetchFailure()
{
    return std::exchange(t_fetchFailure, QString());
}

void ListingBrokeOff(const TamblinCore &core, const UrlSource &source)
{
    // A stop is not a broken listing; the run reports the stop.
    if (RunStopAsked(core))
        return;
    QString why = TakeSourceFailure();
    if (why.isEmpty())
        why = source.errorText;
    g_jobs.listingError = why.isEmpty() ? u"a page could not be fetched"_s : why;
}

bool PageWalkGuard::CountPage()
{
    if (++m_pages <= kMaxWalkPages)
        return true;
    if (m_pages == kMaxWalkPages + 1) {
        const QString note = u"已读取%1页，不再读取后面的页"_s.arg(kMaxWalkPages);
        if (m_core.m_window)
            m_core.m_window->ShowMessage(note);
        // A picture listing cut short is reported with the run's losses.
        if (m_core.m_downState != 0 && m_core.m_listState == 0 && !RunStopAsked(m_core))
            g_jobs.listingError = note;
    }
    return false;
}

bool PageWalkGuard::Repeats(QStringView page)
{
    const QByteArray digest = QCryptographicHash::hash(
        QByteArrayView(reinterpret_cast<const char *>(page.utf16()), page.size() * 2), QCryptographicHash::Sha256);
    if (m_seen.contains(digest))
        return true;
    m_seen.insert(digest);
    return false;
}

void RegisterPictureExtractors()
{
    SetPictureExtractor(kSubModeSinaPhoto, ListSinaPhotoPictures);
    SetPictureExtractor(kSubModeSinaBlog, ListSinaBlogPictures);
    SetPictureExtractor(kSubModeWeibo, ListWeiboPictures);
    SetPostLineRetry(weibo::RetryPostLines);
    SetPostKeeper(&weibo::UserPostKeeper());
}

} // namespace tamblin

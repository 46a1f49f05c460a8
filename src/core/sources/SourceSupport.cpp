#include "sources/SourceSupport.h"

#include "app/TamblinCore.h"
#include "app/WindowPort.h"
#include "download/DownloadDriver.h"
#include "download/DownloadJobList.h"
#include "sources/Endpoints.h"
#include "sources/SinaBlog.h"
#include "sources/SinaPhoto.h"
#include "sources/Weibo.h"

#include <QCryptographicHash>

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>
#include <utility>

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

constexpr std::uint32_t kPageTimeoutMs = 20000;

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

UrlRequest PageRequest(const QString &extraHeaders)
{
    UrlRequest request(QString(), QString(), kPageTimeoutMs);
    request.headers = endpoints::kAcceptEncoding.toString() + extraHeaders;
    return request;
}

namespace {

thread_local QString t_fetchFailure;

} // namespace

bool FetchText(UrlSource &source, UrlRequest &request, const QString &url, QString &text)
{
    request.url = url;
    text.clear();
    if (!source.Fetch(request, 0)) {
        t_fetchFailure = source.errorText;
        return false;
    }
    text = TakeText(source, kTextInflate | kTextUtf8);
    return !text.isEmpty();
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

bool PauseUnlessStopped(const TamblinCore &core, int ms)
{
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

void ListingBrokeOff(const UrlSource &source)
{
    g_jobs.listingError = source.errorText.isEmpty() ? u"a page could not be fetched"_s : source.errorText;
}

bool PageWalkGuard::CountPage()
{
    if (++m_pages <= kMaxWalkPages)
        return true;
    if (m_pages == kMaxWalkPages + 1 && m_core.m_window)
        m_core.m_window->ShowMessage(u"已读取%1页，不再读取后面的页"_s.arg(kMaxWalkPages));
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
}

} // namespace tamblin

#include "net/RateLimit.h"

#include "net/HttpClient.h"

#include <QDateTime>
#include <QRandomGenerator>

#include <algorithm>
#include <atomic>

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

constexpr std::int64_t kRateLimitFirstWaitMs = 5000;
constexpr std::int64_t kRateLimitLongestWaitMs = 5 * 60 * 1000;

std::atomic<double> g_waitScale{1.0};

} // namespace

QString HeaderValue(const QString &block, QStringView name)
{
    for (QStringView line : QStringView(block).split(u"\r\n")) {
        const qsizetype colon = line.indexOf(u':');
        if (colon > 0 && line.first(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.sliced(colon + 1).trimmed().toString();
    }
    return {};
}

bool IsRateLimited(const UrlSource &source)
{
    switch (source.status) {
    case 418:
    case 429:
    case 432:
        return true;
    case 403: {
        const QString text = source.GetText(kTextInflate | kTextUtf8);
        return text.contains(u"100005") || text.contains(u"请求过于频繁");
    }
    default:
        return false;
    }
}

std::int64_t RateLimitWaitMs(int retry, const QString &responseHeaders)
{
    // Retry-After comes from the server: any number of digits, or a date
    // of any year, is clamped before it is turned into milliseconds. One
    // that says nothing usable (a negative number, a date gone by, words)
    // leaves the back-off below.
    const QString retryAfter = HeaderValue(responseHeaders, u"Retry-After");
    const auto digits = [](QChar c) { return c >= u'0' && c <= u'9'; };
    if (!retryAfter.isEmpty() && std::all_of(retryAfter.begin(), retryAfter.end(), digits)) {
        bool fits = false;
        const std::int64_t seconds = retryAfter.toLongLong(&fits);
        if (!fits || seconds >= kRateLimitLongestWaitMs / 1000)
            return kRateLimitLongestWaitMs;
        return seconds * 1000;
    }
    if (!retryAfter.isEmpty()) {
        // An HTTP date ends in "GMT", which the RFC 2822 reader does not take.
        QString date = retryAfter;
        if (date.endsWith(u" GMT"_s, Qt::CaseInsensitive))
            date = date.chopped(3) + u"+0000"_s;
        const QDateTime when = QDateTime::fromString(date, Qt::RFC2822Date);
        const std::int64_t seconds = when.isValid() ? QDateTime::currentDateTimeUtc().secsTo(when) : -1;
        if (seconds >= 0)
            return std::min(seconds, kRateLimitLongestWaitMs / 1000) * 1000;
    }
    const std::int64_t doubled = kRateLimitFirstWaitMs << std::clamp(retry, 0, 20);
    const double jitter = 0.8 + 0.4 * QRandomGenerator::global()->generateDouble();
    return std::min(std::int64_t(double(std::min(doubled, kRateLimitLongestWaitMs)) * jitter),
                    kRateLimitLongestWaitMs);
}

void SetServiceWaitScale(double scale)
{
    g_waitScale = scale;
}

double ServiceWaitScale()
{
    return std::max(0.0, g_waitScale.load());
}

std::chrono::duration<double, std::milli> ScaledWait(std::int64_t ms)
{
    return std::chrono::duration<double, std::milli>(double(ms) * ServiceWaitScale());
}

} // namespace tamblin

#include "net/RateLimit.h"

#include "net/HttpClient.h"

#include <QDateTime>
#include <QRandomGenerator>

#include <algorithm>
#include <atomic>

namespace tamblin {

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
    const QString retryAfter = HeaderValue(responseHeaders, u"Retry-After");
    if (!retryAfter.isEmpty()) {
        bool isNumber = false;
        std::int64_t seconds = retryAfter.toLongLong(&isNumber);
        if (!isNumber) {
            const QDateTime when = QDateTime::fromString(retryAfter, Qt::RFC2822Date);
            seconds = when.isValid() ? QDateTime::currentDateTimeUtc().secsTo(when) : -1;
        }
        if (seconds >= 0)
            return std::min(seconds * 1000, kRateLimitLongestWaitMs);
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

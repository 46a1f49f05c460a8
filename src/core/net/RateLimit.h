// What today's services ask of a client that goes too fast, for pages and
// pictures alike: how a rate-limit answer looks, how long to wait after it,
// and one scale over every such wait (tests shrink them).
#pragma once

#include <QString>

#include <chrono>
#include <cstdint>

namespace tamblin {

class UrlSource;

// Rate-limit answers waited out before giving up.
inline constexpr int kRateLimitRetries = 6;

// Whether the answer in `source` is a rate-limit answer: HTTP 418, 429, 432,
// or 403 whose body holds "100005" or "请求过于频繁".
bool IsRateLimited(const UrlSource &source);
// The wait before retry `retry` (0 for the first) after a rate-limit answer
// whose headers are `responseHeaders`, in milliseconds before scaling:
// Retry-After (seconds or an HTTP date) when present, else 5 s doubled per
// retry with a jitter of up to a fifth either way; never above 5 minutes,
// however far off Retry-After puts it. A Retry-After that is negative, gone
// by or unreadable is ignored.
std::int64_t RateLimitWaitMs(int retry, const QString &responseHeaders);

// Every wait of the service manners is multiplied by `scale` (tests shrink
// them; the texts still show the unscaled seconds). 1 by default.
void SetServiceWaitScale(double scale);
double ServiceWaitScale();
// `ms` scaled.
std::chrono::duration<double, std::milli> ScaledWait(std::int64_t ms);

// The value of header `name` in a raw header block, or null.
QString HeaderValue(const QString &block, QStringView name);

namespace texts {

inline constexpr char16_t kRateLimitWait[] = u"请求过于频繁，%1秒后重试";
inline constexpr char16_t kRateLimitRetrying[] = u"请求过于频繁，正在重试";

} // namespace texts

} // namespace tamblin

// One HTTP exchange at a time on the calling thread, over libcurl.
//
// Each caller builds its own UrlSource and UrlRequest on its own thread and
// reuses them for its requests: set `url` (and headers, markers, limits),
// call Fetch, then GetText or look at the file. Nothing here is shared
// between threads except the cookie store.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace tamblin {

// Fetch options.
inline constexpr int kFetchKeepInCache = 1; // the content check inflates a gzip body
inline constexpr int kFetchAllowCached = 2;

// GetText options.
inline constexpr int kTextInflate = 1;
inline constexpr int kTextUtf8 = 2;
inline constexpr int kTextEucKr = 4;
inline constexpr int kTextBig5 = 8;
inline constexpr int kTextDetectUtf8 = 16;

// The agent text every request carries.
extern const char kUserAgent[];

struct UrlRequest {
    UrlRequest(const QString &url = QString(), const QString &filePath = QString(),
               std::uint32_t timeoutMs = 20000);

    QString url;
    QString verb = QStringLiteral("GET");
    // Extra header lines, separated or ended by CR LF, sent as they stand.
    QString headers;
    QByteArray beginMarker; // text mode: drop everything up to its last occurrence
    QByteArray endMarker;   // text mode: cut at its first occurrence and stop reading
    QByteArray retryText;   // content check: found in the body = failed attempt
    QString filePath;       // empty: keep the body in memory; else write it here
    std::optional<QByteArray> postBody;
    std::uint32_t readTimeoutMs;
    std::uint32_t connectTimeoutMs;
    std::uint32_t minSizeKb = 0;
    std::uint32_t maxSizeKb = 0; // 0: no limit
    std::uint32_t minLength = 0; // content check: the body must be longer
    std::uint8_t attempts = 1;
    std::uint8_t retryDelaySec = 1;
};

class UrlSource {
public:
    UrlSource();

    // Runs up to `attempts` exchanges; true when one succeeded and passed
    // the content check.
    bool Fetch(const UrlRequest &request, int options);
    // One exchange.
    bool FetchOnce(const UrlRequest &request, int options);
    // The body of the last exchange decoded to text (GetText options).
    QString GetText(int options) const;

    QString responseHeaders; // raw header block, CR LF line ends
    QByteArray body;
    QByteArray beginMarker;
    QByteArray endMarker;
    bool gzipped = false;
};

// Inflates a gzip or zlib stream, appending to `target`; true only when the
// stream ended properly.
bool InflateBody(const char *data, qsizetype length, QByteArray &target);

// "name=value; name2=value2" of the cookie store for `url`, or empty.
QString GetUrlCookies(const QString &url);

} // namespace tamblin

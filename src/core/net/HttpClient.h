// One HTTP exchange at a time on the calling thread, over libcurl.
//
// Each caller builds its own UrlSource and UrlRequest on its own thread and
// reuses them for its requests: set `url` (and headers, markers, limits),
// call Fetch, then GetText or look at the file. Shared between threads are
// only the cookie store, whose cookies go with every request (unless
// `headers` carries a cookie line of its own) and which keeps the cookies
// that answers set, and the idle connections, name lookups and TLS sessions
// of ConnectionShare.h: a connection whose answer was read to its end is
// kept for the next exchange with the same host; one that failed, timed out,
// was stopped or cut short is closed. Only http and https are fetched, also
// after a redirect (at most 10 are followed, unless the request says not to); the proxy comes from
// http_proxy, https_proxy and no_proxy.
#pragma once

#include <QByteArray>
#include <QString>

#include <QByteArrayView>

#include <atomic>
#include <cstdint>
#include <functional>
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

// Why the last exchange failed; None after a success.
enum class FetchError {
    None,
    BadAddress,  // not an http or https address
    Connect,     // host or proxy not found, connection refused or reset, proxy refusal
    Certificate, // the server's certificate did not verify, or TLS could not be agreed
    TimedOut,    // a step took longer than its time-out, or the answer trickled
    HttpStatus,  // file mode: the answer's status was 400 or above
    SizeLimit,   // outside minSizeKb/maxSizeKb
    TooLarge,    // past a ceiling (maxTextBytes, maxFileBytes): no page or picture is that large
    Refused,     // file mode: UrlRequest::checkFile refused the answer
    Incomplete,  // cut short: fewer bytes than announced, or the connection ended early
    Write,       // the file could not be written
    Stopped,     // UrlRequest::cancel was set
    Other,       // anything else (too many redirects, a forbidden scheme, ...)
};

// The agent text every request carries.
extern const char kUserAgent[];

// Hard ceilings, so that an endless answer or a gzip bomb cannot exhaust
// memory or disk. A Weibo album list of 65,535 albums is tens of megabytes;
// a text answer is refused as soon as it passes the first, inflated or not.
inline constexpr qint64 kMaxTextBytes = qint64(64) << 20;   // text body, and inflated body
inline constexpr qint64 kMaxFileBytes = qint64(2) << 30;    // body streamed to a file
// What UrlRequest::checkFile sees of a body at most.
inline constexpr qsizetype kFileHeadBytes = 512;
// Bytes asked for in one read of the response; each read is followed by a
// pause (UrlRequest::readPauseMs, 10 ms).
inline constexpr qsizetype kReadChunkBytes = 102399;

class UrlSource;

struct UrlRequest {
    UrlRequest(const QString &url = QString(), const QString &filePath = QString(),
               std::uint32_t timeoutMs = 20000);

    QString url;
    QString verb = QStringLiteral("GET");
    // Extra header lines, separated or ended by CR LF, sent as they stand.
    QString headers;
    QByteArray beginMarker; // text mode: drop everything up to its last occurrence
    QByteArray endMarker;   // text mode: cut at its first occurrence and stop reading
    QByteArray retryText;   // text mode content check: found in the body = failed attempt
    // Empty: the body stays in memory (text mode). Otherwise it is streamed
    // to a temporary file beside this one and renamed to it only when it is
    // complete, within the limits, longer than minLength, accepted by
    // checkFile and wholly on disk (SafeFile); a failed fetch leaves no file
    // (and an earlier file of that name untouched, byte for byte). A full
    // disk fails with FetchError::Write and the text kDiskFullText.
    QString filePath;
    // File mode: asked once the answer is whole and within the limits,
    // before it is published. `source` holds the answer's status, headers
    // and bodyBytes, `head` the body from its first byte that is not a
    // blank (space, tab, line break), at most kFileHeadBytes of it. A reason
    // refuses the answer: the exchange fails with FetchError::Refused and
    // that reason as its errorText.
    std::function<QString(const UrlSource &source, QByteArrayView head)> checkFile;
    std::optional<QByteArray> postBody;
    // False: a redirect is the answer (its status, headers and cookies),
    // not followed.
    bool followRedirects = true;
    std::uint32_t readTimeoutMs;    // each wait for response bytes; 0: none
    std::uint32_t connectTimeoutMs; // each step up to the end of sending; 0: none
    std::uint32_t minSizeKb = 0;
    std::uint32_t maxSizeKb = 0; // 0: no limit
    std::uint32_t minLength = 0; // content check: the body must be longer
    std::uint8_t attempts = 1;
    std::uint8_t retryDelaySec = 1;

    // Ceilings beyond which the exchange fails (see kMaxTextBytes).
    qint64 maxTextBytes = kMaxTextBytes;
    qint64 maxFileBytes = kMaxFileBytes;
    // Once the answer has begun, one that trickles in slower than this on
    // average over each window of readTimeoutMs (at least a second) fails as
    // timed out, so that a server sending a few bytes now and then cannot
    // hold a worker for ever; 0 turns the check off.
    std::uint32_t minBytesPerSec = 1024;
    // A bound on the whole exchange; 0: none.
    std::uint32_t totalTimeoutMs = 0;
    // The pause after each read (it caps one exchange near 10 MB/s).
    std::uint32_t readPauseMs = 10;
    // When set and true, the exchange fails at its next step: how a stopped
    // download gives up a picture that would never end.
    const std::atomic<bool> *cancel = nullptr;
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
    // Status of the last final answer (after redirects); 0 when none came.
    // Text mode keeps an answer whatever its status (a 404 page is a page);
    // file mode fails on 400 and above and leaves no file.
    int status = 0;
    // Address of that answer, after redirects (a login page, say); empty when
    // none came.
    QString finalUrl;
    // Why the last exchange failed, and the same in words for people: the
    // host and what went wrong ("HTTP 404 from h", "certificate of h did
    // not verify: ...").
    FetchError error = FetchError::None;
    QString errorText;
    // Text mode: the body (after marker cutting). File mode: the body goes
    // straight to the file; this holds only the start (64 KiB) of a 403
    // page, so that a caller can tell a rate-limit answer by it.
    QByteArray body;
    // Bytes of the body of the last exchange: body.size() in text mode, the
    // bytes written in file mode.
    qint64 bodyBytes = 0;
    qint64 maxTextBytes = kMaxTextBytes; // copied from the request
    QByteArray beginMarker;
    QByteArray endMarker;
    bool gzipped = false;
};

// Test seam, for fuzzing the extractors without a network: when set,
// UrlSource::FetchOnce calls it instead of making an exchange. It fills
// `body` (raw, as received), `responseHeaders` and `status` and returns the
// exchange's result; FetchOnce then treats the body as a received one
// (gzip flag, markers). Set it before any thread fetches; never set in the
// program.
using TestFetchHook = bool (*)(UrlSource &source, const UrlRequest &request);
extern TestFetchHook g_testFetchHook;

// The address as it goes on the wire: leading and trailing blanks and control
// characters dropped, tabs and line breaks removed, unsafe characters
// percent-encoded (as UTF-8), the host in its ASCII form. Empty when it is not
// an http or https address.
QByteArray PrepareUrl(const QString &url);

// "name=value; name2=value2" of the cookie store for `url`, or empty.
QString GetUrlCookies(const QString &url);

} // namespace tamblin

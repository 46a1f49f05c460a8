#include "net/HttpClient.h"

#include "net/ConnectionShare.h"
#include "net/CookieStore.h"
#include "net/Inflate.h"
#include "net/SafeFile.h"
#include "text/TextUtils.h"

#include <curl/curl.h>

#include <QUrl>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <memory>
#include <thread>

namespace tamblin {

using namespace Qt::StringLiterals;

TestFetchHook g_testFetchHook = nullptr;

// A current desktop browser: services take an agent a decade old for a bot.
const char kUserAgent[] =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/136.0.0.0 Safari/537.36";

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr long kMaxRedirects = 10;
// Real header blocks are a few kilobytes; a server that never stops sending
// header lines is cut off here.
constexpr qint64 kMaxHeaderBytes = 256 * 1024;
// What file mode keeps of an error page: enough to tell a rate limit by.
constexpr qsizetype kMaxErrorPageBytes = 64 * 1024;

bool IsUnsafe(unsigned char c)
{
    return c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", c) != nullptr;
}

QByteArray PercentEncodeUnsafe(const QByteArray &bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (IsUnsafe(c)) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

// Lines of the caller's header text, as they stand, without line ends.
QList<QByteArray> HeaderLines(const QString &headers)
{
    QList<QByteArray> lines;
    for (QStringView line : QStringView(headers).tokenize(u'\n', Qt::SkipEmptyParts)) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (!line.trimmed().isEmpty())
            lines.append(line.toUtf8());
    }
    return lines;
}

bool HasHeader(const QList<QByteArray> &lines, QByteArrayView name)
{
    return std::any_of(lines.begin(), lines.end(), [&](const QByteArray &line) {
        const qsizetype colon = line.indexOf(':');
        return colon > 0 && QByteArrayView(line).first(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0;
    });
}

// True when the block holds a Location line with a value: libcurl follows it.
bool HasLocation(const QByteArray &block)
{
    for (const QByteArray &raw : block.split('\n')) {
        const QByteArrayView line = QByteArrayView(raw).trimmed();
        if (line.size() > 9 && line.first(9).compare("location:", Qt::CaseInsensitive) == 0
            && !line.sliced(9).trimmed().isEmpty())
            return true;
    }
    return false;
}

// Digits after optional leading blanks, up to the first non-digit.
qint64 LeadingNumber(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    qint64 value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        if (value > (std::numeric_limits<qint64>::max() - 9) / 10)
            return std::numeric_limits<qint64>::max();
        value = value * 10 + (text[i].unicode() - u'0');
    }
    return value;
}

// Deletes through each occurrence of `begin`, then cuts at `end`. `fresh` is
// where the bytes not yet looked at start, so that a long answer is scanned
// once and not from its start after every read. True when `end` was found.
bool ApplyMarkers(QByteArray &text, qsizetype fresh, const QByteArray &begin, const QByteArray &end)
{
    bool cut = false;
    if (!begin.isEmpty()) {
        qsizetype from = std::max<qsizetype>(0, fresh - (begin.size() - 1));
        for (qsizetype at; (at = text.indexOf(begin, from)) >= 0; from = 0) {
            text.remove(0, at + begin.size());
            cut = true;
        }
    }
    if (end.isEmpty())
        return false;
    const qsizetype from = cut ? 0 : std::max<qsizetype>(0, fresh - (end.size() - 1));
    const qsizetype at = text.indexOf(end, from);
    if (at < 0)
        return false;
    text.truncate(at);
    return true;
}

// The state of one exchange, shared with libcurl's callbacks.
struct Exchange {
    Exchange(UrlSource &source, const UrlRequest &request) : source(source), request(request) {}

    UrlSource &source;
    const UrlRequest &request;
    CURL *easy = nullptr;
    bool textMode = true;
    std::unique_ptr<SafeFile> file;
    QByteArray head;          // file mode: the body from its first non-blank byte (kFileHeadBytes)
    std::unique_ptr<InflateStream> inflated; // text mode, gzip: measures the text as it arrives
    bool tooSlow = false;     // timed out by the low-speed check
    bool errorPage = false;   // file mode: an error answer, kept as text
    QByteArray block;         // header block being received
    qint64 headerBytes = 0;
    bool finalHeaders = false;
    bool redirectHop = false; // the block names a redirect that libcurl follows
    bool failed = false;
    FetchError reason = FetchError::None; // the first reason found wins
    bool endMarkerHit = false;
    qint64 received = 0;      // body bytes taken (file mode)
    qsizetype roundBytes = 0; // body bytes of the current read
    bool pausedByUs = false;
    qsizetype sent = 0;       // request body bytes handed to libcurl
    bool requestSent = false;
    bool answerStarted = false;
    Clock::time_point lastActivity = Clock::now();
    Clock::time_point windowStart = lastActivity; // of the low-speed check
    qint64 windowBytes = 0;

    void Arrived(qsizetype n)
    {
        lastActivity = Clock::now();
        requestSent = true;
        if (!answerStarted) {
            answerStarted = true;
            windowStart = lastActivity;
        }
        windowBytes += n;
    }

    qint64 BodySize() const { return textMode ? source.body.size() : received; }

    bool EndOfHeaders()
    {
        long code = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
        if (code >= 100 && code < 200)
            return true; // an interim answer; the real one follows
        if (code >= 300 && code < 400 && HasLocation(block) && request.followRedirects) {
            redirectHop = true;
            return true;
        }
        block += "\r\n";
        finalHeaders = true;
        source.status = int(code);
        const char *effective = nullptr;
        if (curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective)
            source.finalUrl = QString::fromUtf8(effective);
        source.responseHeaders = QString::fromLatin1(block);
        source.gzipped = block.contains("gzip");
        // An error page is not the picture asked for, whatever its size. The
        // start of a 403 is kept as text, for the caller to tell a rate limit
        // by it; other error pages end the exchange at once.
        if (!textMode && code == 403) {
            errorPage = true;
            return true;
        }
        if (!textMode && code >= 400)
            return Fail(FetchError::HttpStatus);
        QString rest = source.responseHeaders;
        if (SkipToMarker(rest, u"Content-Length:", 1) >= 0) {
            const qint64 announced = LeadingNumber(rest);
            if (announced < qint64(request.minSizeKb) * 1024
                || (request.maxSizeKb != 0 && announced > qint64(request.maxSizeKb) * 1024))
                return Fail(FetchError::SizeLimit);
            if (announced > (textMode ? request.maxTextBytes : request.maxFileBytes))
                return Fail(FetchError::TooLarge);
        }
        if (textMode && source.gzipped)
            inflated = std::make_unique<InflateStream>(request.maxTextBytes);
        if (!textMode) {
            file = std::make_unique<SafeFile>(request.filePath);
            if (!file->Open())
                return Fail(FetchError::Write);
        }
        return true;
    }

    bool Fail(FetchError why = FetchError::Other)
    {
        failed = true;
        if (reason == FetchError::None)
            reason = why;
        return false;
    }

    // Takes the bytes of one read; false ends the reading.
    bool TakeBody(const char *data, qsizetype n)
    {
        if (errorPage) {
            source.body.append(data, std::min(n, kMaxErrorPageBytes - source.body.size()));
            return source.body.size() < kMaxErrorPageBytes || Fail(FetchError::HttpStatus);
        }
        if (!textMode) {
            if (received + n > request.maxFileBytes)
                return Fail(FetchError::TooLarge);
            if (!file->Write(data, n))
                return Fail(FetchError::Write);
            received += n;
            KeepHead(QByteArrayView(data, n));
        } else {
            QByteArray &body = source.body;
            const qsizetype fresh = body.size();
            // Grown by doubling, but never past the ceiling: a body near it
            // then costs its own size in memory, not twice that.
            if (fresh + n > body.capacity()) {
                const qint64 ceiling = request.maxTextBytes + kReadChunkBytes;
                body.reserve(qsizetype(std::max<qint64>(fresh + n, std::min<qint64>(2 * body.capacity(), ceiling))));
            }
            body.append(data, n);
            if (!source.gzipped && ApplyMarkers(body, fresh, source.beginMarker, source.endMarker)) {
                endMarkerHit = true;
                return false;
            }
            // Refused as soon as the text passes the ceiling: held whole it
            // would cost that much again when decoded.
            if (body.size() > request.maxTextBytes)
                return Fail(FetchError::TooLarge);
            if (inflated && inflated->Feed(data, n) == InflateStream::State::Ceiling)
                return Fail(FetchError::TooLarge);
        }
        if (request.maxSizeKb != 0 && BodySize() > qint64(request.maxSizeKb) * 1024)
            return Fail(FetchError::SizeLimit);
        return true;
    }

    void KeepHead(QByteArrayView bytes)
    {
        if (head.isEmpty()) {
            const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
            while (!bytes.isEmpty() && blank(bytes.front()))
                bytes = bytes.sliced(1);
        }
        head.append(bytes.first(std::min(bytes.size(), kFileHeadBytes - head.size())));
    }

    static size_t OnHeader(char *data, size_t, size_t n, void *user)
    {
        Exchange &ex = *static_cast<Exchange *>(user);
        ex.Arrived(qsizetype(n));
        ex.headerBytes += qint64(n);
        if (ex.headerBytes > kMaxHeaderBytes)
            return ex.Fail();
        QByteArrayView line(data, qsizetype(n));
        while (!line.isEmpty() && (line.back() == '\n' || line.back() == '\r'))
            line.chop(1);
        if (line.startsWith("HTTP/")) {
            ex.block.clear();
            ex.redirectHop = false;
        }
        if (line.isEmpty())
            return ex.EndOfHeaders() ? n : 0;
        ex.block += line;
        ex.block += "\r\n";
        return n;
    }

    static size_t OnBody(char *data, size_t, size_t n, void *user)
    {
        Exchange &ex = *static_cast<Exchange *>(user);
        if (ex.redirectHop || !ex.finalHeaders)
            return n;
        // One read hands over at most kReadChunkBytes; the rest waits in
        // libcurl until the pause after this read is over.
        if (ex.roundBytes > 0 && ex.roundBytes + qsizetype(n) > kReadChunkBytes) {
            ex.pausedByUs = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        ex.roundBytes += qsizetype(n);
        ex.Arrived(qsizetype(n));
        return ex.TakeBody(data, qsizetype(n)) ? n : 0;
    }

    static size_t OnSend(char *buffer, size_t size, size_t count, void *user)
    {
        Exchange &ex = *static_cast<Exchange *>(user);
        const QByteArray &post = *ex.request.postBody;
        const size_t n = std::min(size * count, size_t(post.size() - ex.sent));
        std::memcpy(buffer, post.constData() + ex.sent, n);
        ex.sent += qsizetype(n);
        ex.lastActivity = Clock::now();
        return n;
    }

    // A redirect that keeps the method sends the body again from its start.
    static int OnSeek(void *user, curl_off_t offset, int origin)
    {
        Exchange &ex = *static_cast<Exchange *>(user);
        if (origin != SEEK_SET || offset < 0 || offset > ex.request.postBody->size())
            return CURL_SEEKFUNC_FAIL;
        ex.sent = qsizetype(offset);
        return CURL_SEEKFUNC_OK;
    }
};

qint64 Elapsed(Clock::time_point since, Clock::time_point now)
{
    return std::chrono::duration_cast<milliseconds>(now - since).count();
}

FetchError ErrorOfCode(CURLcode code)
{
    switch (code) {
    case CURLE_OK:
        return FetchError::None;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PROXY:
        return FetchError::Connect;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return FetchError::Certificate;
    case CURLE_OPERATION_TIMEDOUT:
        return FetchError::TimedOut;
    case CURLE_PARTIAL_FILE:
        return FetchError::Incomplete;
    case CURLE_WRITE_ERROR:
        return FetchError::Write;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return FetchError::BadAddress;
    default:
        return FetchError::Other;
    }
}

// Runs the transfer with libcurl's multi interface so that the reads, their
// pauses and the time-outs stay in our hands. The multi handle is leased with
// the idle connections earlier exchanges left in it. True when the answer
// arrived whole (or up to the end marker).
bool RunTransfer(Exchange &ex, const QByteArray &url)
{
    const UrlRequest &request = ex.request;
    ConnectionLease lease(OriginOf(url));
    CURLM *multi = lease.Multi();
    if (!multi)
        return ex.Fail();
    curl_multi_add_handle(multi, ex.easy);
    const Clock::time_point start = Clock::now();
    const bool hasPost = request.postBody.has_value();
    bool done = false;
    CURLcode code = CURLE_OK;

    for (;;) {
        int running = 0;
        curl_multi_perform(multi, &running);
        if (ex.failed || ex.endMarkerHit)
            break;
        int queued = 0;
        while (CURLMsg *msg = curl_multi_info_read(multi, &queued)) {
            if (msg->msg == CURLMSG_DONE) {
                done = true;
                code = msg->data.result;
            }
        }
        if (done)
            break;
        const Clock::time_point now = Clock::now();
        if (!ex.requestSent) {
            curl_off_t pretransfer = 0;
            curl_easy_getinfo(ex.easy, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
            if (pretransfer > 0 && (!hasPost || ex.sent == request.postBody->size())) {
                ex.requestSent = true;
                ex.lastActivity = now;
            }
        }
        // Up to the end of sending each step may take connectTimeoutMs; after
        // that each wait for response bytes may take readTimeoutMs.
        const std::uint32_t stepLimit = ex.requestSent ? request.readTimeoutMs : request.connectTimeoutMs;
        if (stepLimit != 0 && Elapsed(ex.lastActivity, now) > qint64(stepLimit)) {
            ex.Fail(FetchError::TimedOut);
            break;
        }
        if (request.cancel && request.cancel->load()) {
            ex.Fail(FetchError::Stopped);
            break;
        }
        if (request.totalTimeoutMs != 0 && Elapsed(start, now) > qint64(request.totalTimeoutMs)) {
            ex.Fail(FetchError::TimedOut);
            break;
        }
        // Slow but not stalled: judged over whole windows once the answer
        // has begun, so a slow first byte is left to the read time-out.
        if (ex.answerStarted && request.minBytesPerSec != 0) {
            const qint64 window = std::max<qint64>(1000, request.readTimeoutMs);
            if (Elapsed(ex.windowStart, now) >= window) {
                if (ex.windowBytes < qint64(request.minBytesPerSec) * window / 1000) {
                    ex.tooSlow = true;
                    ex.Fail(FetchError::TimedOut);
                    break;
                }
                ex.windowStart = now;
                ex.windowBytes = 0;
            }
        }
        if (ex.roundBytes > 0) {
            // The pause after each read; the next read begins after it.
            std::this_thread::sleep_for(milliseconds(request.readPauseMs));
            ex.roundBytes = 0;
            if (ex.pausedByUs) {
                ex.pausedByUs = false;
                curl_easy_pause(ex.easy, CURLPAUSE_CONT);
            }
            continue;
        }
        curl_multi_poll(multi, nullptr, 0, 50, nullptr);
    }

    // Only a connection whose answer was read to its end goes back for the
    // next exchange; libcurl would close one left mid-answer, and this makes
    // sure of it whatever stopped us (a failure, a time-out, a stop, the end
    // marker, a size limit).
    const bool whole = done && code == CURLE_OK && !ex.failed;
    if (!whole)
        curl_easy_setopt(ex.easy, CURLOPT_FORBID_REUSE, 1L);
    curl_multi_remove_handle(multi, ex.easy);
    if (whole) {
        const char *last = nullptr;
        curl_easy_getinfo(ex.easy, CURLINFO_EFFECTIVE_URL, &last);
        lease.KeepsConnectionTo(OriginOf(last ? QByteArray(last) : url), OriginOf(url));
    }
    if (ex.failed)
        return false;
    if (ex.endMarkerHit || (done && code == CURLE_OK && ex.finalHeaders))
        return true;
    return ex.Fail(code == CURLE_OK ? FetchError::Incomplete : ErrorOfCode(code));
}

QString ContentCheckFailed()
{
    return u"the answer failed the content check"_s;
}

// The host of a prepared address, for messages.
QString HostOf(const QByteArray &url)
{
    return QUrl::fromEncoded(url).host();
}

QString DescribeError(FetchError error, const QString &host, int status, const char *detail)
{
    const QString more = detail && *detail ? u": "_s + QString::fromUtf8(detail) : QString();
    switch (error) {
    case FetchError::None:
        return {};
    case FetchError::BadAddress:
        return u"not an http or https address"_s + more;
    case FetchError::Connect:
        return u"could not reach "_s + host + more;
    case FetchError::Certificate:
        // libcurl names the certificate when it is the cause; otherwise the
        // two sides found no protocol version or cipher in common.
        if (!more.contains(u"certificate"_s, Qt::CaseInsensitive) && !more.isEmpty())
            return u"no secure connection could be agreed with "_s + host + more;
        return u"the certificate of "_s + host + u" did not verify"_s + more;
    case FetchError::TimedOut:
        return u"timed out waiting for "_s + host;
    case FetchError::HttpStatus:
        return u"HTTP "_s + QString::number(status) + u" from "_s + host;
    case FetchError::SizeLimit:
        return u"size outside the limits, from "_s + host;
    case FetchError::TooLarge:
        return u"answer of "_s + host + u" too large"_s;
    case FetchError::Refused:
        return u"answer of "_s + host + u" refused"_s;
    case FetchError::Incomplete:
        return u"answer of "_s + host + u" cut short"_s + more;
    case FetchError::Write:
        return u"could not write the file"_s;
    case FetchError::Stopped:
        return u"stopped"_s;
    case FetchError::Other:
        break;
    }
    return u"failed to fetch from "_s + host + more;
}

QList<Cookie> ExchangeCookies(CURL *easy)
{
    QList<Cookie> cookies;
    curl_slist *list = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_COOKIELIST, &list) != CURLE_OK)
        return cookies;
    for (curl_slist *item = list; item; item = item->next) {
        if (std::optional<Cookie> cookie = ParseCookieLine(item->data))
            cookies.append(*cookie);
    }
    curl_slist_free_all(list);
    return cookies;
}

} // namespace

UrlRequest::UrlRequest(const QString &url, const QString &filePath, std::uint32_t timeoutMs)
    : url(url), filePath(filePath), readTimeoutMs(timeoutMs), connectTimeoutMs(timeoutMs)
{
}

UrlSource::UrlSource() = default;

QByteArray PrepareUrl(const QString &url)
{
    qsizetype first = 0;
    qsizetype last = url.size();
    while (first < last && url[first].unicode() <= 0x20)
        ++first;
    while (last > first && url[last - 1].unicode() <= 0x20)
        --last;
    QString text = url.sliced(first, last - first);
    text.remove(u'\t');
    text.remove(u'\r');
    text.remove(u'\n');

    const qsizetype schemeEnd = text.indexOf(u"://");
    if (schemeEnd < 0)
        return {};
    const QString scheme = text.first(schemeEnd).toLower();
    if (scheme != u"http"_s && scheme != u"https"_s)
        return {};
    const QString rest = text.sliced(schemeEnd + 3);
    qsizetype authorityEnd = rest.size();
    for (QChar stop : {u'/', u'?', u'#'}) {
        const qsizetype at = rest.indexOf(stop);
        if (at >= 0)
            authorityEnd = std::min(authorityEnd, at);
    }
    QString authority = rest.first(authorityEnd);
    const QString tail = rest.sliced(authorityEnd);

    QString userInfo;
    if (const qsizetype at = authority.lastIndexOf(u'@'); at >= 0) {
        userInfo = authority.first(at + 1);
        authority = authority.sliced(at + 1);
    }
    QString host = authority;
    QString port;
    if (!host.startsWith(u'[')) {
        if (const qsizetype colon = host.lastIndexOf(u':'); colon >= 0) {
            port = host.sliced(colon);
            host.truncate(colon);
        }
    }
    if (host.isEmpty())
        return {};
    QByteArray asciiHost = host.startsWith(u'[') ? host.toLatin1() : QUrl::toAce(host);
    if (asciiHost.isEmpty())
        return {};

    QByteArray out = scheme.toLatin1() + "://";
    out += PercentEncodeUnsafe(userInfo.toUtf8());
    out += asciiHost;
    out += PercentEncodeUnsafe(port.toUtf8());
    out += PercentEncodeUnsafe(tail.toUtf8());
    return out;
}

bool UrlSource::FetchOnce(const UrlRequest &request, int options)
{
    Q_UNUSED(options); // without a cache of our own the cache flags change nothing
    body.clear();
    bodyBytes = 0;
    status = 0;
    finalUrl.clear();
    error = FetchError::None;
    errorText.clear();
    beginMarker = request.beginMarker;
    endMarker = request.endMarker;
    gzipped = false;
    maxTextBytes = request.maxTextBytes;
    if (g_testFetchHook) {
        const bool ok = g_testFetchHook(*this, request);
        gzipped = responseHeaders.contains(u"gzip");
        if (!gzipped && request.filePath.isEmpty())
            ApplyMarkers(body, 0, beginMarker, endMarker);
        bodyBytes = body.size();
        return ok;
    }

    const QByteArray url = PrepareUrl(request.url);
    if (url.isEmpty()) {
        error = FetchError::BadAddress;
        errorText = DescribeError(error, QString(), 0, nullptr);
        return false;
    }
    CURLSH *share = CurlShare();
    CURL *easy = curl_easy_init();
    if (!easy) {
        error = FetchError::Other;
        errorText = DescribeError(error, HostOf(url), 0, nullptr);
        return false;
    }

    Exchange ex(*this, request);
    ex.easy = easy;
    ex.textMode = request.filePath.isEmpty();

    const QList<QByteArray> lines = HeaderLines(request.headers);
    curl_slist *headers = nullptr;
    for (const QByteArray &line : lines) {
        // libcurl drops "Name:" with nothing after it; "Name;" sends it empty,
        // as the caller wrote it.
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && QByteArrayView(line).sliced(colon + 1).trimmed().isEmpty())
            headers = curl_slist_append(headers, QByteArray(line.first(colon).trimmed() + ';').constData());
        else
            headers = curl_slist_append(headers, line.constData());
    }
    // libcurl would add these on its own; a plain client sends none of them.
    if (!HasHeader(lines, "Accept"))
        headers = curl_slist_append(headers, "Accept:");
    if (!HasHeader(lines, "Expect"))
        headers = curl_slist_append(headers, "Expect:");
    if (request.postBody && !HasHeader(lines, "Content-Type"))
        headers = curl_slist_append(headers, "Content-Type:");

    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, request.followRedirects ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(request.connectTimeoutMs));
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, long(kReadChunkBytes));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // Name lookups and TLS sessions of earlier exchanges; never cookies.
    if (share)
        curl_easy_setopt(easy, CURLOPT_SHARE, share);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Exchange::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &ex);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Exchange::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &ex);
    char curlError[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, curlError);
    // Certificates verify against the system store, or the bundle that
    // CURL_CA_BUNDLE names, as curl itself reads it.
    const QByteArray caBundle = qgetenv("CURL_CA_BUNDLE");
    if (!caBundle.isEmpty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, caBundle.constData());

    const QByteArray verb = request.verb.toLatin1();
    if (request.postBody) {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.postBody->size()));
        curl_easy_setopt(easy, CURLOPT_READFUNCTION, &Exchange::OnSend);
        curl_easy_setopt(easy, CURLOPT_READDATA, &ex);
        curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, &Exchange::OnSeek);
        curl_easy_setopt(easy, CURLOPT_SEEKDATA, &ex);
        if (verb != "POST")
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb.constData());
    } else if (verb == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (verb != "GET") {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb.constData());
    }

    // Cookies of the store go with the request and whatever the answers set
    // comes back to it. A caller that sends its own cookie line sends only
    // that one.
    curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
    QList<Cookie> given;
    if (!HasHeader(lines, "Cookie"))
        given = CookieStore::Instance().AllCookies();
    for (const Cookie &cookie : std::as_const(given))
        curl_easy_setopt(easy, CURLOPT_COOKIELIST, CookieLine(cookie).constData());
    // What libcurl took: a cookie it refused must not look dropped afterwards.
    const QList<Cookie> taken = given.isEmpty() ? given : ExchangeCookies(easy);

    bool ok = RunTransfer(ex, url);
    CookieStore::Instance().MergeExchange(taken, ExchangeCookies(easy));
    curl_easy_cleanup(easy);
    curl_slist_free_all(headers);

    bodyBytes = ex.BodySize();
    if (ex.errorPage)
        ok = ex.Fail(FetchError::HttpStatus);
    if (ok) {
        const qint64 size = bodyBytes;
        if (size < qint64(request.minSizeKb) * 1024
            || (request.maxSizeKb != 0 && size > qint64(request.maxSizeKb) * 1024))
            ok = ex.Fail(FetchError::SizeLimit);
    }
    // Every check of a file comes before it is published: what fails one
    // never replaces an older file of the name.
    QString refusal;
    if (ok && ex.file && request.minLength != 0 && bodyBytes <= qint64(request.minLength)) {
        ok = ex.Fail(FetchError::Other);
        refusal = ContentCheckFailed();
    }
    if (ok && ex.file && request.checkFile) {
        refusal = request.checkFile(*this, ex.head);
        if (!refusal.isEmpty())
            ok = ex.Fail(FetchError::Refused);
    }
    if (ex.file) {
        if (ok && !ex.file->Commit())
            ok = ex.Fail(FetchError::Write);
        if (!ok)
            ex.file->Cancel();
    }
    if (!ok) {
        error = ex.reason == FetchError::None ? FetchError::Other : ex.reason;
        const QString host = HostOf(url);
        errorText = DescribeError(error, host, status, curlError);
        if (!refusal.isEmpty())
            errorText = refusal;
        else if (error == FetchError::Write && ex.file)
            errorText = ex.file->ErrorText();
        else if (error == FetchError::TooLarge)
            errorText = u"answer of %1 larger than %2 MiB, more than a %3 may be"_s.arg(
                host, QString::number((ex.textMode ? request.maxTextBytes : request.maxFileBytes) >> 20),
                ex.textMode ? u"page"_s : u"file"_s);
        else if (ex.tooSlow)
            errorText = u"answer of %1 too slow: under %2 bytes a second for %3 s"_s.arg(
                host, QString::number(request.minBytesPerSec),
                QString::number(std::max<qint64>(1000, request.readTimeoutMs) / 1000));
    }
    ex.file.reset();
    return ok;
}

namespace {

// The content check of the attempt loop, over a text answer (a file's
// length was checked before it was published).
bool PassesContentCheck(const UrlSource &source, const UrlRequest &request, int options)
{
    if (!request.filePath.isEmpty())
        return true;
    QByteArray copy;
    if ((options & kFetchKeepInCache) && source.gzipped)
        InflateBody(source.body.constData(), source.body.size(), copy, source.maxTextBytes);
    else
        copy = source.body;
    return copy.size() > qint64(request.minLength)
        && (request.retryText.isEmpty() || !copy.contains(request.retryText));
}

} // namespace

bool UrlSource::Fetch(const UrlRequest &request, int options)
{
    for (int attempt = 0; attempt < request.attempts; ++attempt) {
        if (FetchOnce(request, options)) {
            if (request.minLength == 0 && request.retryText.isEmpty())
                return true;
            if (PassesContentCheck(*this, request, options))
                return true;
            error = FetchError::Other;
            errorText = ContentCheckFailed();
        }
        std::this_thread::sleep_for(std::chrono::seconds(request.retryDelaySec));
    }
    return false;
}

QString UrlSource::GetText(int options) const
{
    QByteArray copy;
    if ((options & kTextInflate) && gzipped)
        InflateBody(body.constData(), body.size(), copy, maxTextBytes);
    else
        copy = body;
    if (gzipped)
        ApplyMarkers(copy, 0, beginMarker, endMarker);

    int codePage = kCodePageGbk;
    if (responseHeaders.contains(u"charset=GBK"))
        codePage = kCodePageGbk;
    else if (options & kTextUtf8)
        codePage = kCodePageUtf8;
    else if (options & kTextEucKr)
        codePage = kCodePageEucKr;
    else if (options & kTextBig5)
        codePage = kCodePageBig5;
    else if ((options & kTextDetectUtf8) && LooksLikeUtf8(copy.constData(), copy.size()))
        codePage = kCodePageUtf8;

    QString text = MultiByteToWide(copy.constData(), copy.size(), codePage);
    HtmlDecode(text);
    return text;
}

QString GetUrlCookies(const QString &url)
{
    return CookieStore::Instance().CookieHeader(url);
}

} // namespace tamblin

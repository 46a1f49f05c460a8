// What the service rooms (SinaPhoto, SinaBlog, Weibo) share: the sub-modes,
// the request every page fetch starts from, the manners today's services
// expect of page requests (pacing, patience with rate limits, the Referer of
// pictures), and the stop checks of the list and download runs. Extractors
// report nothing themselves: a failed or empty answer ends the walk and the
// driver reports an empty result; only failures a user must act on (a
// certificate that does not verify, a service that keeps refusing) leave a
// note for the driver.
#pragma once

#include "net/HttpClient.h"
#include "net/RateLimit.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringView>

#include <cstdint>

namespace tamblin {

class TamblinCore;

// Sub-modes of a Sina list run (m_subMode).
inline constexpr int kSubModeNone = -1; // set before a run starts
inline constexpr int kSubModeSinaPhoto = 0;
inline constexpr int kSubModeSinaBlog = 1;
inline constexpr int kSubModeWeibo = 2;

// The Referer of the pictures (and cover pictures) of a sub-mode: the page a
// browser would have shown them on. Empty for an unknown sub-mode.
QString PictureReferer(int subMode);

// A number as the services write it: leading blanks, an optional sign, then
// decimal digits up to the first other character; 0 when there are none.
// Values beyond the 32-bit range are clamped.
std::int32_t ReadDecimal(QStringView text);

// Every page request of the sources: no file, the 20 s time-out, the
// encoding header line, then `extraHeaders` (each starting with CR LF).
UrlRequest PageRequest(const QString &extraHeaders = QString());

// One page or API request with the manners of FetchPage, then decoded
// (inflated, UTF-8 unless the answer names GBK); false when the fetch fails or
// the text is empty.
bool FetchText(const TamblinCore &core, UrlSource &source, UrlRequest &request, const QString &url,
               QString &text);

// Fetches `request` (UrlSource::Fetch with `options`) as today's services
// want it:
// - requests to the Weibo hosts are paced, at least m_weiboPaceMs apart;
// - a rate-limit answer (HTTP 418, 429, 432, or 403 whose body holds
//   "100005" or "请求过于频繁") is asked again after a back-off of 5 s,
//   doubling up to 5 minutes, with jitter, or after its Retry-After; the
//   status line counts the wait down; after kRateLimitRetries the fetch
//   fails with a note;
// - a Weibo page answering 432 or 418 (a session Weibo distrusts) first
//   gets the session renewed as a browser renews it (weibo::RenewSession)
//   and is then asked again with it, after the first wait;
// - a Weibo page answering 414 (an address too long for it) fails with a
//   note naming the request: no wait cures it;
// - a 502, 503 or 504 is asked again after 3 s and once more after 1.5 s,
//   as an empty Weibo page is, then the fetch fails;
// - a certificate that does not verify (or TLS that cannot be agreed) fails
//   with a note naming the host.
// A stop of the run ends every wait at once and fails the fetch. The
// pictures a download's listing has found so far go to its pool first
// (FeedListedPictures).
bool FetchPage(const TamblinCore &core, UrlSource &source, const UrlRequest &request, int options = 0);

// What a noted failure asks of the user.
enum class FailureKind {
    Final,        // nothing a login changes: a certificate, the network, a
                  // rate limit given up on, a user that does not exist
    LoginMayHelp, // the service answered an error that a login may cure
    Verify,       // the service wants the person to verify in a browser
};

// The failure a user must act on that the last page requests of this thread
// met ("" when none), and taking it (which clears it).
void NoteSourceFailure(const QString &text, FailureKind kind = FailureKind::Final);
QString TakeSourceFailure(FailureKind *kind = nullptr);
bool SourceFailureNoted();

// An address as the messages show it: control characters written as \xNN,
// so that an address a service gave cannot steer a terminal.
QString ShownAddress(const QString &url);

// Text of the last answer; the raw body is dropped so a large page is not
// held twice.
QString TakeText(UrlSource &source, int options);

// Addresses in the JSON answers write their slashes as "\/".
QString Unslash(QString text);

// A protocol-relative link ("//host/...") as today's pages are served, over
// https; any other address as it stands.
QString WithScheme(QString address);

// The list run was asked to stop (m_listState 2).
bool ListStopAsked(const TamblinCore &core);
// The download run was asked to stop (m_downState 3).
bool DownStopAsked(const TamblinCore &core);
// A picture listing ends: stop asked, or the skip rule hit (m_downState 2).
bool ListingEnds(const TamblinCore &core);
// Waits `ms`, in short slices so that a download stop asked meanwhile is
// seen; false when it was. Feeds the download pool first, as FetchPage does.
bool PauseUnlessStopped(const TamblinCore &core, int ms);
// The run the extractor serves, list or download, was asked to stop.
bool RunStopAsked(const TamblinCore &core);

// Registers the picture extractors of the three rooms with the download
// driver; front ends call it once at start-up.
void RegisterPictureExtractors();

// Why the last page fetch of FetchText on this thread failed; taking it
// clears it. The list driver tells a network failure from an empty list by it.
QString TakeFetchFailure();

// A picture listing ends on a page that could not be fetched: the driver
// learns why (download thread only), the noted failure first.
void ListingBrokeOff(const TamblinCore &core, const UrlSource &source);

// Most pages one walk reads (an album's pictures, a blog's article list).
inline constexpr int kMaxWalkPages = 100000;

// Ends a page walk that comes back to a page it has seen: a service that
// repeats a page, or cycles through a few, would otherwise be walked for
// ever with the job list growing. Pages are compared by a digest of their
// text. A walk also ends after kMaxWalkPages pages, with a message.
class PageWalkGuard {
public:
    explicit PageWalkGuard(const TamblinCore &core) : m_core(core) {}

    // Counts one more page; false once the bound is passed.
    bool CountPage();
    // True when `page` was seen before in this walk; otherwise remembers it.
    bool Repeats(QStringView page);
    // Both: true when the walk goes on with `page`.
    bool Admit(QStringView page) { return CountPage() && !Repeats(page); }

private:
    const TamblinCore &m_core;
    QSet<QByteArray> m_seen;
    int m_pages = 0;
};

} // namespace tamblin

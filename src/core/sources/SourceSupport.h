// What the service rooms (SinaPhoto, SinaBlog, Weibo) share: the sub-modes,
// the request every page fetch starts from, and the stop checks of the list
// and download runs. Extractors report nothing themselves: a failed or empty
// answer ends the walk and the driver reports an empty result.
#pragma once

#include "net/HttpClient.h"

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

// A number as the services write it: leading blanks, an optional sign, then
// decimal digits up to the first other character; 0 when there are none.
// Values beyond the 32-bit range are clamped.
std::int32_t ReadDecimal(QStringView text);

// Every page request of the sources: no file, the 20 s time-out, the
// encoding header line, then `extraHeaders` (each starting with CR LF).
UrlRequest PageRequest(const QString &extraHeaders = QString());

// Fetches `url` and decodes it (inflated, UTF-8 unless the answer names GBK);
// false when the fetch fails or the text is empty.
bool FetchText(UrlSource &source, UrlRequest &request, const QString &url, QString &text);

// Text of the last answer; the raw body is dropped so a large page is not
// held twice.
QString TakeText(UrlSource &source, int options);

// Addresses in the JSON answers write their slashes as "\/".
QString Unslash(QString text);

// The list run was asked to stop (m_listState 2).
bool ListStopAsked(const TamblinCore &core);
// The download run was asked to stop (m_downState 3).
bool DownStopAsked(const TamblinCore &core);
// A picture listing ends: stop asked, or the skip rule hit (m_downState 2).
bool ListingEnds(const TamblinCore &core);
// Waits `ms`, in short slices so that a download stop asked meanwhile is
// seen; false when it was.
bool PauseUnlessStopped(const TamblinCore &core, int ms);

// Registers the picture extractors of the three rooms with the download
// driver; front ends call it once at start-up.
void RegisterPictureExtractors();

// Why the last page fetch of FetchText on this thread failed; taking it
// clears it. The list driver tells a network failure from an empty list by it.
QString TakeFetchFailure();

// A picture listing ends on a page that could not be fetched: the driver
// learns why (download thread only).
void ListingBrokeOff(const UrlSource &source);

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

// What the service rooms (SinaPhoto, SinaBlog, Weibo) share: the sub-modes,
// the request every page fetch starts from, and the stop checks of the list
// and download runs. Extractors report nothing themselves: a failed or empty
// answer ends the walk and the driver reports an empty result.
#pragma once

#include "net/HttpClient.h"

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

} // namespace tamblin

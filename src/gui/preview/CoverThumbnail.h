// Cover pictures of the preview view: fetched into the cover cache below the
// start folder and turned into thumbnails, on any thread.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <atomic>
#include <cstdint>

namespace tamblin {

// What one cover may cost: a picture larger than this is refused before it
// is decoded (a decompression bomb declares 30,000 x 30,000 pixels in a few
// bytes), and decoding never allocates more.
inline constexpr qint64 kMaxCoverPixels = qint64(16) << 20;
inline constexpr int kCoverAllocationLimitMb = 96;
// A cover that never ends is given up at this size or after this time.
inline constexpr qint64 kMaxCoverBytes = qint64(16) << 20;
inline constexpr std::uint32_t kCoverStepTimeoutMs = 10000; // connecting, and each wait for bytes
inline constexpr std::uint32_t kCoverTimeoutMs = 20000;     // the whole exchange

// "<appDir>tmp/<position>.jpg": the cover file of the album at `position`.
QString CoverFilePath(const QString &appDir, int position);

// The picture in `path` stretched to `size` (the aspect ratio is not kept),
// smoothly, as a 24-bit image on white; a null image when the file is not a
// picture, is damaged or too large.
QImage DecodeThumbnail(const QString &path, QSize size);

// Fetches `url` into `path` with the engine's HTTP client (and so with the
// cookie store's cookies; a failed fetch leaves no file) and decodes it.
// `referer` names the page the cover is shown on (PictureReferer): the
// picture hosts refuse requests without one. A null image on any failure, at
// once when `cancel` becomes true.
QImage FetchThumbnail(const QString &url, const QString &path, QSize size, const QString &referer,
                      const std::atomic<bool> *cancel = nullptr);

} // namespace tamblin

#include "preview/CoverThumbnail.h"

#include "download/WorkerPool.h"
#include "net/HttpClient.h"

#include <QDir>
#include <QImageReader>
#include <QPainter>

#include <semaphore>

using namespace Qt::StringLiterals;

namespace tamblin {

namespace {

// Covers are fetched several at a time but decoded two at a time: decoding
// is the memory-hungry step, and there are rarely more cores to spare.
std::counting_semaphore<2> g_decodeSlots(2);

// Pictures much larger than the thumbnail are decoded at a reduced size
// where the format can (JPEG scales while decoding), then smoothed down.
constexpr int kDecodeOversize = 4;

} // namespace

QString CoverFilePath(const QString &appDir, int position)
{
    return appDir + u"tmp"_s + QDir::separator() + QString::number(position) + u".jpg"_s;
}

QImage DecodeThumbnail(const QString &path, QSize size)
{
    g_decodeSlots.acquire();
    struct Release {
        ~Release() { g_decodeSlots.release(); }
    } release;

    QImageReader reader(path);
    // The content decides: covers come under any name and type.
    reader.setDecideFormatFromContent(true);
    reader.setAllocationLimit(kCoverAllocationLimitMb);
    const QSize full = reader.size();
    if (full.isValid() && qint64(full.width()) * full.height() > kMaxCoverPixels)
        return QImage();
    if (full.isValid() && reader.supportsOption(QImageIOHandler::ScaledSize)
        && (full.width() > kDecodeOversize * size.width() || full.height() > kDecodeOversize * size.height())) {
        reader.setScaledSize(QSize(std::min(full.width(), kDecodeOversize * size.width()),
                                   std::min(full.height(), kDecodeOversize * size.height())));
    }
    QImage picture;
    if (!reader.read(&picture) || picture.isNull())
        return QImage();
    const QImage scaled = picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // 24-bit thumbnails: transparent parts show white.
    QImage thumbnail(size, QImage::Format_RGB32);
    thumbnail.fill(Qt::white);
    QPainter painter(&thumbnail);
    painter.drawImage(0, 0, scaled);
    return thumbnail;
}

QImage FetchThumbnail(const QString &url, const QString &path, QSize size, const QString &referer,
                      const std::atomic<bool> *cancel)
{
    if (url.isEmpty())
        return QImage();
    UrlRequest request(url, path, kCoverStepTimeoutMs);
    if (!referer.isEmpty())
        request.headers = u"Referer: "_s + referer;
    request.maxFileBytes = kMaxCoverBytes;
    // A page standing in for a cover never enters the cache.
    request.checkFile = RefuseNonPicture;
    request.totalTimeoutMs = kCoverTimeoutMs;
    request.cancel = cancel;
    // Covers are small; the pause that paces picture downloads would only
    // hold up the cells behind them.
    request.readPauseMs = 0;
    UrlSource source;
    // One exchange: the attempt loop would pause a second after a failure
    // and hold up every cell behind this one.
    if (!source.FetchOnce(request, 0))
        return QImage();
    return DecodeThumbnail(path, size);
}

} // namespace tamblin

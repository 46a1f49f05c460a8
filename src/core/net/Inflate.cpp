#include "net/Inflate.h"

#include "net/HttpClient.h"

#include <zlib.h>

#include <climits>

namespace tamblin {

namespace {

constexpr int kWindowBitsAutoHeader = 47; // 15 bits of window, gzip or zlib header detected
constexpr int kPassBytes = 8192;

enum class Outcome { Ended, Broken, Ceiling };

// Runs the stream through a fixed 8 KiB buffer, handing each pass's output
// to `sink`; stops when the output would pass `limit` (negative: none).
template<typename Sink>
Outcome InflatePasses(const char *data, qsizetype length, qint64 limit, Sink sink)
{
    z_stream stream{};
    if (inflateInit2(&stream, kWindowBitsAutoHeader) != Z_OK)
        return Outcome::Broken;
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
    qint64 produced = 0;
    qsizetype left = length;
    char out[kPassBytes];
    Outcome outcome = Outcome::Broken;
    for (;;) {
        // zlib counts input in 32-bit units; feed a large body in slices.
        if (stream.avail_in == 0 && left > 0) {
            stream.avail_in = uInt(std::min<qsizetype>(left, UINT_MAX));
            left -= stream.avail_in;
        }
        stream.next_out = reinterpret_cast<Bytef *>(out);
        stream.avail_out = kPassBytes;
        const int rc = inflate(&stream, Z_NO_FLUSH);
        const qsizetype got = kPassBytes - stream.avail_out;
        if (limit >= 0 && produced + got > limit) {
            outcome = Outcome::Ceiling;
            break;
        }
        produced += got;
        if (got > 0)
            sink(out, got);
        if (rc == Z_STREAM_END) {
            outcome = Outcome::Ended;
            break;
        }
        if (rc != Z_OK)
            break;
    }
    inflateEnd(&stream);
    return outcome;
}

} // namespace

bool InflateBody(const char *data, qsizetype length, QByteArray &target, qint64 limit)
{
    return InflatePasses(data, length, limit, [&](const char *out, qsizetype n) { target.append(out, n); })
        == Outcome::Ended;
}

bool InflateBody(const char *data, qsizetype length, QByteArray &target)
{
    return InflateBody(data, length, target, kMaxTextBytes);
}

qint64 InflatedSize(const char *data, qsizetype length, qint64 limit)
{
    qint64 total = 0;
    const Outcome outcome = InflatePasses(data, length, limit, [&](const char *, qsizetype n) { total += n; });
    return outcome == Outcome::Ceiling ? -1 : total;
}

} // namespace tamblin

#include "net/Inflate.h"

#include "net/HttpClient.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace tamblin {

namespace {

constexpr int kWindowBitsAutoHeader = 47; // 15 bits of window, gzip or zlib header detected
constexpr int kPassBytes = 8192;

} // namespace

struct InflateStream::Zlib {
    z_stream stream{};
    bool initialised = false;
};

InflateStream::InflateStream(qint64 limit) : m_zlib(std::make_unique<Zlib>()), m_limit(limit)
{
    m_zlib->initialised = inflateInit2(&m_zlib->stream, kWindowBitsAutoHeader) == Z_OK;
    if (!m_zlib->initialised)
        m_state = State::Broken;
}

InflateStream::~InflateStream()
{
    if (m_zlib->initialised)
        inflateEnd(&m_zlib->stream);
}

// Runs the piece through a fixed 8 KiB buffer, pass after pass, until zlib
// wants more input, the stream ends or breaks, or the output would pass the
// limit.
InflateStream::State InflateStream::Feed(const char *data, qsizetype length, const Sink &sink)
{
    if (m_state != State::Going)
        return m_state;
    z_stream &stream = m_zlib->stream;
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
    stream.avail_in = 0;
    qsizetype left = length;
    char out[kPassBytes];
    for (;;) {
        // zlib counts input in 32-bit units; feed a large piece in slices.
        if (stream.avail_in == 0 && left > 0) {
            stream.avail_in = uInt(std::min<qsizetype>(left, UINT_MAX));
            left -= stream.avail_in;
        }
        stream.next_out = reinterpret_cast<Bytef *>(out);
        stream.avail_out = kPassBytes;
        const int rc = inflate(&stream, Z_NO_FLUSH);
        const qsizetype got = kPassBytes - stream.avail_out;
        if (m_limit >= 0 && m_produced + got > m_limit)
            return m_state = State::Ceiling;
        m_produced += got;
        if (got > 0 && sink)
            sink(out, got);
        if (rc == Z_STREAM_END)
            return m_state = State::Ended;
        // No progress possible without more input: wait for the next piece.
        if (rc == Z_BUF_ERROR && stream.avail_in == 0 && left == 0)
            return m_state;
        if (rc != Z_OK)
            return m_state = State::Broken;
    }
}

bool InflateBody(const char *data, qsizetype length, QByteArray &target, qint64 limit)
{
    InflateStream stream(limit);
    return stream.Feed(data, length, [&](const char *out, qsizetype n) { target.append(out, n); })
        == InflateStream::State::Ended;
}

bool InflateBody(const char *data, qsizetype length, QByteArray &target)
{
    return InflateBody(data, length, target, kMaxTextBytes);
}

qint64 InflatedSize(const char *data, qsizetype length, qint64 limit)
{
    InflateStream stream(limit);
    return stream.Feed(data, length) == InflateStream::State::Ceiling ? -1 : stream.Produced();
}

} // namespace tamblin

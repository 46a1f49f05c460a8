// gzip and zlib inflation of answer bodies (zlib, window bits 47: the header
// is detected), with a ceiling on the output.
#pragma once

#include <QByteArray>

#include <functional>
#include <memory>

namespace tamblin {

// Inflates a gzip or zlib stream, appending to `target`; true only when the
// stream ended properly. Output is capped at kMaxTextBytes (HttpClient.h), or at `limit`
// (negative: no cap); a stream that would pass it yields false.
bool InflateBody(const char *data, qsizetype length, QByteArray &target);
bool InflateBody(const char *data, qsizetype length, QByteArray &target, qint64 limit);
// Size of the inflated stream, without keeping it; -1 when it passes `limit`.
qint64 InflatedSize(const char *data, qsizetype length, qint64 limit);

// A stream inflated piece by piece as it arrives, so that an answer can be
// measured (or refused) before it is whole.
class InflateStream {
public:
    enum class State {
        Going,   // every piece so far taken; the stream has not ended
        Ended,   // the stream ended properly (bytes after its end are ignored)
        Broken,  // not a gzip or zlib stream, or damaged
        Ceiling, // the output would pass the limit
    };
    using Sink = std::function<void(const char *data, qsizetype length)>;

    // `limit`: the most output allowed; negative: none.
    explicit InflateStream(qint64 limit);
    ~InflateStream();
    InflateStream(const InflateStream &) = delete;
    InflateStream &operator=(const InflateStream &) = delete;

    // Inflates the next piece, handing the output to `sink` (none: it is only
    // counted). Once the state is no longer Going, pieces are ignored.
    State Feed(const char *data, qsizetype length, const Sink &sink = {});
    State state() const { return m_state; }
    // Bytes of output so far (the pass that would pass the limit not counted).
    qint64 Produced() const { return m_produced; }

private:
    struct Zlib;
    std::unique_ptr<Zlib> m_zlib;
    qint64 m_limit;
    qint64 m_produced = 0;
    State m_state = State::Going;
};

} // namespace tamblin

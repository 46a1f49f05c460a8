// gzip and zlib inflation of answer bodies (zlib, window bits 47: the header
// is detected), with a ceiling on the output.
#pragma once

#include <QByteArray>

namespace tamblin {

// Inflates a gzip or zlib stream, appending to `target`; true only when the
// stream ended properly. Output is capped at kMaxTextBytes (HttpClient.h), or at `limit`
// (negative: no cap); a stream that would pass it yields false.
bool InflateBody(const char *data, qsizetype length, QByteArray &target);
bool InflateBody(const char *data, qsizetype length, QByteArray &target, qint64 limit);
// Size of the inflated stream, without keeping it; -1 when it passes `limit`.
qint64 InflatedSize(const char *data, qsizetype length, qint64 limit);

} // namespace tamblin

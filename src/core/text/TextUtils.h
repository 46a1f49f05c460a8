// Stateless text helpers on which every page parser and the HTTP client rest.
//
// All searches are literal, case-sensitive and find the first occurrence.
// Positions and lengths count UTF-16 code units.
//
// Pages can be tens of megabytes, so every walk over a page must stay linear:
// the QStringView overloads advance a view instead of copying the rest of the
// page, and the QString overloads cut the front of an unshared string, which
// Qt 6 does without moving the remaining characters.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>

namespace tamblin {

// GetBetween flags.
inline constexpr int kAdvance = 1;       // move the source to just after the begin marker
inline constexpr int kRestIfNoEnd = 2;   // without an end marker, return the rest

// Text between `begin` and the following `end`; empty when `begin` is
// missing. With kAdvance the source is moved just past `begin` (not past
// `end`), so repeated calls walk a page item by item.
QString GetBetween(QString &source, QStringView begin, QStringView end, int flags);
QString GetBetween(QStringView &source, QStringView begin, QStringView end, int flags);

// Splits `text` on `separator`. Returns the number of separators; with none
// the list stays empty. Otherwise the list holds count + 1 pieces.
int SplitString(QStringList &pieces, QStringView text, QStringView separator);

// Non-overlapping occurrences of `pattern` ("aaa" holds "aa" once). An empty
// pattern occurs nowhere.
int CountOccurrences(QStringView text, QStringView pattern);

// Removes "<tag>" texts (a "<" to the next ">") until the first "<" without a
// ">" after it, or the first empty "<>" pair; after that point only tags equal
// to one removed before go. One pass over the text.
QString StripTags(const QString &text);

// True when `text` holds "http://" or "https://", the scheme in any case.
bool HasWebScheme(QStringView text);

// Decodes "\uXXXX" escapes into single UTF-16 units; nothing else.
QString JsonUnescape(QStringView text);

// Decodes the fixed entity set in place, in this order: &quot; &amp; &lt; &gt;
// &nbsp; (to a plain blank) &hellip; &#39;.
void HtmlDecode(QString &text);

// Replaces each "|"-separated old piece by the matching new piece, in order.
// When the lists hold different numbers of pieces, the whole old text is
// replaced by the whole new text.
void ReplaceEach(QString &target, QStringView oldList, QStringView newList);

// Cuts the text at `marker`; returns its position, or -1 (text unchanged).
qsizetype TruncateAtMarker(QString &text, QStringView marker);

// Drops everything before `marker` (and the marker too when includeMarker is
// 1); returns its position, or -1 (text unchanged).
qsizetype SkipToMarker(QString &text, QStringView marker, int includeMarker);
qsizetype SkipToMarker(QByteArray &text, QByteArrayView marker, int includeMarker);

// Code pages the program converts with.
inline constexpr int kCodePageGbk = 936;
inline constexpr int kCodePageUtf8 = 65001;
inline constexpr int kCodePageEucKr = 51949;
inline constexpr int kCodePageBig5 = 950;

// GBK bytes of `text`; characters GBK cannot hold (unpaired surrogates
// included) become '?'. Ends at the first NUL.
QByteArray WideToGbk(QStringView text);

// Decodes `count` bytes with one of the code pages above (any other is taken
// as GBK). Bytes a table cannot map become U+FFFD. Ends at the first NUL.
QString MultiByteToWide(const char *bytes, qsizetype count, int codePage);
inline QString MultiByteToWide(QByteArrayView bytes, int codePage)
{
    return MultiByteToWide(bytes.data(), bytes.size(), codePage);
}

// 1 when the bytes are well-formed (by the lenient lead-byte table) and hold at
// least one byte of 0x80 or above; 0 otherwise, also for pure ASCII.
int LooksLikeUtf8(const char *bytes, std::int64_t count);

// r / 32767 with 16 decimals and a trailing line feed, r drawn from a
// generator reseeded with the current second: equal within one second.
QString RandomFraction();

} // namespace tamblin

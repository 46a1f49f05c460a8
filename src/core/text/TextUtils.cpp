#include "text/TextUtils.h"

#include <unicode/ucnv.h>

#include <QDateTime>
#include <QSet>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

// Where GetBetween found its text: `consumed` is the length up to and
// including the begin marker, or -1 when the begin marker is missing.
struct Between {
    QString text;
    qsizetype consumed = -1;
};

Between FindBetween(QStringView source, QStringView begin, QStringView end, int flags)
{
    Between found;
    const qsizetype at = source.indexOf(begin);
    if (at < 0)
        return found;
    found.consumed = at + begin.size();
    const QStringView rest = source.sliced(found.consumed);
    const qsizetype stop = rest.indexOf(end);
    if (stop >= 0)
        found.text = rest.first(stop).toString();
    else if (flags & kRestIfNoEnd)
        found.text = rest.toString();
    return found;
}

int HexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

} // namespace

QString GetBetween(QStringView &source, QStringView begin, QStringView end, int flags)
{
    Between found = FindBetween(source, begin, end, flags);
    if (found.consumed >= 0 && (flags & kAdvance))
        source = source.sliced(found.consumed);
    return std::move(found.text);
}

QString GetBetween(QString &source, QStringView begin, QStringView end, int flags)
{
    Between found = FindBetween(source, begin, end, flags);
    // Cutting the front of an unshared QString only moves its start, so a walk
    // with kAdvance costs no copy of the rest of the page.
    if (found.consumed >= 0 && (flags & kAdvance))
        source.remove(0, found.consumed);
    return std::move(found.text);
}

int CountOccurrences(QStringView text, QStringView pattern)
{
    if (pattern.isEmpty())
        return 0;
    int count = 0;
    for (qsizetype at = text.indexOf(pattern); at >= 0; at = text.indexOf(pattern, at + pattern.size()))
        ++count;
    return count;
}

int SplitString(QStringList &pieces, QStringView text, QStringView separator)
{
    pieces.clear();
    const int count = CountOccurrences(text, separator);
    if (count == 0)
        return 0;
    pieces.reserve(qsizetype(count) + 1);
    qsizetype from = 0;
    for (qsizetype at = text.indexOf(separator); at >= 0; at = text.indexOf(separator, from)) {
        pieces.append(text.sliced(from, at - from).toString());
        from = at + separator.size();
    }
    pieces.append(text.sliced(from).toString());
    return count;
}

QString StripTags(const QString &text)
{
    // One pass: each "<...>" (a "<" to the next ">") is dropped as it is met,
    // until a "<" without a ">" after it or an empty "<>". Past an empty pair,
    // only tags already dropped before it are dropped. A tag whose text holds
    // another "<" goes whole; one ending in "<>" stops the walk after it.
    const QStringView in(text);
    QString out;
    out.reserve(in.size());
    std::vector<QStringView> dropped;
    qsizetype from = 0;
    qsizetype close = -1; // the first ">" at or after the current position
    bool stopped = false;
    while (!stopped) {
        const qsizetype open = in.indexOf(u'<', from);
        if (open < 0)
            break;
        if (close <= open)
            close = in.indexOf(u'>', open + 1);
        if (close < 0 || close == open + 1) {
            stopped = close >= 0;
            out.append(in.sliced(from, open - from));
            from = open;
            break;
        }
        out.append(in.sliced(from, open - from));
        dropped.push_back(in.sliced(open + 1, close - open - 1));
        stopped = in[close - 1] == u'<';
        from = close + 1;
    }
    if (stopped && !dropped.empty()) {
        // Past the stop: a "<" nearest before each ">" opens the only
        // candidate, so every character is looked at a bounded number of times.
        const QSet<QStringView> known(dropped.begin(), dropped.end());
        qsizetype open = -1;
        for (qsizetype at = from; at < in.size(); ++at) {
            if (in[at] == u'<') {
                open = at;
            } else if (in[at] == u'>' && open >= 0) {
                if (known.contains(in.sliced(open + 1, at - open - 1))) {
                    out.append(in.sliced(from, open - from));
                    from = at + 1;
                }
                open = -1;
            }
        }
    }
    out.append(in.sliced(from));
    return out;
}

bool HasWebScheme(QStringView text)
{
    return text.contains(u"http://", Qt::CaseInsensitive) || text.contains(u"https://", Qt::CaseInsensitive);
}

QString JsonUnescape(QStringView text)
{
    static constexpr QStringView kEscape = u"\\u";
    qsizetype at = text.indexOf(kEscape);
    if (at < 0)
        return text.toString();
    QString out;
    out.reserve(text.size());
    out.append(text.first(at));
    while (at >= 0) {
        const qsizetype start = at + kEscape.size();
        const qsizetype next = text.indexOf(kEscape, start);
        const QStringView piece = text.sliced(start, (next < 0 ? text.size() : next) - start);
        if (piece.size() >= 4) {
            // Like wcstoul: the number ends at the first character that is no hex digit.
            char16_t unit = 0;
            for (QChar c : piece.first(4)) {
                const int digit = HexDigit(c.unicode());
                if (digit < 0)
                    break;
                unit = char16_t(unit * 16 + digit);
            }
            // A unit 0 would cut every name built from this text; it is dropped.
            if (unit != 0)
                out.append(QChar(unit));
            out.append(piece.sliced(4));
        } else {
            out.append(piece);
        }
        at = next;
    }
    return out;
}

void HtmlDecode(QString &text)
{
    if (!text.contains(u'&'))
        return;
    text.replace(u"&quot;"_s, u"\""_s);
    text.replace(u"&amp;"_s, u"&"_s);
    text.replace(u"&lt;"_s, u"<"_s);
    text.replace(u"&gt;"_s, u">"_s);
    text.replace(u"&nbsp;"_s, u" "_s);
    text.replace(u"&hellip;"_s, QString(QChar(0x2026)));
    text.replace(u"&#39;"_s, u"'"_s);
}

void ReplaceEach(QString &target, QStringView oldList, QStringView newList)
{
    if (CountOccurrences(oldList, u"|") != CountOccurrences(newList, u"|")) {
        if (!oldList.isEmpty())
            target.replace(oldList.toString(), newList.toString());
        return;
    }
    const QList<QStringView> olds = oldList.split(u'|');
    const QList<QStringView> news = newList.split(u'|');
    for (qsizetype i = 0; i < olds.size(); ++i) {
        if (!olds[i].isEmpty())
            target.replace(olds[i].toString(), news[i].toString());
    }
}

qsizetype TruncateAtMarker(QString &text, QStringView marker)
{
    const qsizetype at = text.indexOf(marker);
    if (at >= 0)
        text.truncate(at);
    return at;
}

qsizetype SkipToMarker(QString &text, QStringView marker, int includeMarker)
{
    const qsizetype at = text.indexOf(marker);
    if (at >= 0)
        text.remove(0, at + (includeMarker == 1 ? marker.size() : 0));
    return at;
}

qsizetype SkipToMarker(QByteArray &text, QByteArrayView marker, int includeMarker)
{
    const qsizetype at = text.indexOf(marker);
    if (at >= 0)
        text.remove(0, at + (includeMarker == 1 ? marker.size() : 0));
    return at;
}

namespace {

const char *IcuName(int codePage)
{
    switch (codePage) {
    case kCodePageEucKr:
        return "EUC-KR";
    case kCodePageBig5:
        return "windows-950-2000";
    default:
        return "windows-936-2000";
    }
}

// Opening an ICU converter costs far more than a short conversion, and a
// converter must not be shared between threads: each thread keeps its own.
class ConverterCache {
public:
    ~ConverterCache()
    {
        for (UConverter *c : m_converters) {
            if (c)
                ucnv_close(c);
        }
    }

    UConverter *Get(int codePage)
    {
        const int slot = codePage == kCodePageEucKr ? 1 : codePage == kCodePageBig5 ? 2 : 0;
        if (!m_converters[slot]) {
            UErrorCode status = U_ZERO_ERROR;
            UConverter *c = ucnv_open(IcuName(codePage), &status);
            if (U_FAILURE(status))
                return nullptr;
            // The Windows tables put '?' for what they cannot hold.
            ucnv_setSubstChars(c, "?", 1, &status);
            m_converters[slot] = c;
        }
        ucnv_reset(m_converters[slot]);
        return m_converters[slot];
    }

private:
    UConverter *m_converters[3] = {nullptr, nullptr, nullptr};
};

UConverter *Converter(int codePage)
{
    thread_local ConverterCache cache;
    return cache.Get(codePage);
}

} // namespace

QByteArray WideToGbk(QStringView text)
{
    QByteArray out;
    UConverter *conv = Converter(kCodePageGbk);
    if (!conv || text.isEmpty())
        return out;
    out.resize(UCNV_GET_MAX_BYTES_FOR_STRING(text.size(), ucnv_getMaxCharSize(conv)));
    UErrorCode status = U_ZERO_ERROR;
    const int32_t written = ucnv_fromUChars(conv, out.data(), int32_t(out.size()),
                                            reinterpret_cast<const UChar *>(text.utf16()),
                                            int32_t(text.size()), &status);
    if (U_FAILURE(status))
        return {};
    out.truncate(written);
    const qsizetype nul = out.indexOf('\0');
    if (nul >= 0)
        out.truncate(nul);
    return out;
}

QString MultiByteToWide(const char *bytes, qsizetype count, int codePage)
{
    if (!bytes || count <= 0)
        return {};
    QString out;
    if (codePage == kCodePageUtf8) {
        out = QString::fromUtf8(bytes, count);
    } else {
        UConverter *conv = Converter(codePage);
        if (!conv)
            return {};
        // Every byte yields at most one UTF-16 unit in these tables, plus
        // room for a surrogate pair at worst.
        out.resize(count * 2 + 2);
        UErrorCode status = U_ZERO_ERROR;
        const int32_t written = ucnv_toUChars(conv, reinterpret_cast<UChar *>(out.data()),
                                              int32_t(out.size()), bytes, int32_t(count), &status);
        if (U_FAILURE(status))
            return {};
        out.truncate(written);
    }
    const qsizetype nul = out.indexOf(QChar(0));
    if (nul >= 0)
        out.truncate(nul);
    return out;
}

int LooksLikeUtf8(const char *bytes, std::int64_t count)
{
    int pending = 0;
    bool sawHigh = false;
    for (std::int64_t i = 0; i < count; ++i) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (pending > 0) {
            if (b < 0x80 || b > 0xBF)
                return 0;
            --pending;
            continue;
        }
        if (b < 0x80)
            continue;
        sawHigh = true;
        if (b <= 0xBF)
            return 0;
        if (b <= 0xDF)
            pending = 1;
        else if (b <= 0xEF)
            pending = 2;
        else if (b <= 0xF7)
            pending = 3;
        else if (b <= 0xFB)
            pending = 4;
        else if (b <= 0xFD)
            pending = 5;
        else
            pending = 4;
    }
    return pending == 0 && sawHigh ? 1 : 0;
}

QString RandomFraction()
{
    // The generator of the C library the program was first built with, so that
    // the sequence does not depend on the platform's rand().
    static std::atomic<std::uint32_t> state{0};
    std::uint32_t seed = static_cast<std::uint32_t>(std::time(nullptr));
    seed = seed * 214013u + 2531011u;
    state.store(seed);
    const int r = int((seed >> 16) & 0x7FFF);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%0.16f\n", r / 32767.0);
    return QString::fromLatin1(buffer);
}

} // namespace tamblin

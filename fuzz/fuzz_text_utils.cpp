// The marker helpers and code-page conversions with arbitrary markers, texts
// and bytes: what the extractors build on must never read out of bounds, loop
// or grow a text, and must agree with itself across its overloads.
#include "FuzzSupport.h"

#include "text/TextUtils.h"

#include <QStringDecoder>
#include <QStringList>

using namespace tamblin;
using namespace Qt::StringLiterals;

namespace {

void CheckGetBetween(const QString &text, const QString &begin, const QString &end, int flags)
{
    QString owned = text;
    QStringView view(text);
    const QString fromOwned = GetBetween(owned, begin, end, flags);
    const QString fromView = GetBetween(view, begin, end, flags);
    FUZZ_CHECK(fromOwned == fromView && owned == view, text);
    FUZZ_CHECK(text.contains(fromOwned), fromOwned);
    if (!text.contains(begin)) {
        FUZZ_CHECK(fromOwned.isEmpty() && owned == text, text);
    } else if (flags & kAdvance) {
        FUZZ_CHECK(text.endsWith(owned) && owned.size() <= text.size() - begin.size(), owned);
    } else {
        FUZZ_CHECK(owned == text, owned);
    }

    // A walk with a begin marker ends: each step moves past one marker.
    if (!begin.isEmpty()) {
        QStringView walk(text);
        for (int steps = 0; walk.contains(begin); ++steps) {
            const qsizetype before = walk.size();
            GetBetween(walk, begin, end, kAdvance);
            FUZZ_CHECK(walk.size() < before && steps < text.size(), text);
        }
    }
}

void CheckSplit(const QString &text, const QString &separator)
{
    QStringList pieces;
    const int count = SplitString(pieces, text, separator);
    FUZZ_CHECK(count == CountOccurrences(text, separator), text);
    if (count == 0) {
        FUZZ_CHECK(pieces.isEmpty(), text);
        return;
    }
    FUZZ_CHECK(pieces.size() == count + 1 && pieces.join(separator) == text, text);
    for (const QString &piece : pieces)
        FUZZ_CHECK(!piece.contains(separator), piece);
}

void CheckConversions(const QString &text, const std::string &bytes)
{
    const QByteArray gbk = WideToGbk(text);
    FUZZ_CHECK(!gbk.contains('\0'), text);
    const QString back = MultiByteToWide(gbk, kCodePageGbk);
    const qsizetype nul = text.indexOf(QChar(0));
    const QString beforeNul = nul < 0 ? text : text.first(nul);
    FUZZ_CHECK(back.size() <= beforeNul.size(), text);
    bool ascii = true;
    for (QChar c : beforeNul)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii)
        FUZZ_CHECK(back == beforeNul, text);

    for (int codePage : {kCodePageGbk, kCodePageUtf8, kCodePageEucKr, kCodePageBig5}) {
        const QString wide = MultiByteToWide(bytes.data(), qsizetype(bytes.size()), codePage);
        FUZZ_CHECK(!wide.contains(QChar(0)) && wide.size() <= qsizetype(bytes.size()), wide);
    }

    // Strictly well-formed UTF-8 with a byte above ASCII always looks like UTF-8.
    QStringDecoder strict(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = strict(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    bool high = false;
    for (char c : bytes)
        high = high || (static_cast<unsigned char>(c) & 0x80);
    const int looks = LooksLikeUtf8(bytes.data(), std::int64_t(bytes.size()));
    if (!high)
        FUZZ_CHECK(looks == 0, QString::fromLatin1(bytes.data(), qsizetype(bytes.size())));
    else if (!strict.hasError())
        FUZZ_CHECK(looks == 1, decoded);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::InitOnce();
    FuzzedDataProvider fdp(data, size);
    const QString begin = fuzz::ConsumeText(fdp, 16);
    const QString end = fuzz::ConsumeText(fdp, 16);
    const int flags = fdp.ConsumeIntegralInRange(0, 3);
    const QString oldList = fuzz::ConsumeText(fdp, 64);
    const QString newList = fuzz::ConsumeText(fdp, 64);
    const QString text = fuzz::ConsumeText(fdp, 8192);
    const std::string bytes = fdp.ConsumeRemainingBytesAsString();

    CheckGetBetween(text, begin, end, flags);
    CheckSplit(text, begin);

    const QString stripped = StripTags(text);
    FUZZ_CHECK(stripped.size() <= text.size(), text);
    if (!text.contains(u'<'))
        FUZZ_CHECK(stripped == text, text);

    const QString unescaped = JsonUnescape(text);
    FUZZ_CHECK(unescaped.size() <= text.size(), text);
    if (!text.contains(u"\\u"))
        FUZZ_CHECK(unescaped == text, text);

    QString decoded = text;
    HtmlDecode(decoded);
    FUZZ_CHECK(decoded.size() <= text.size(), text);

    QString replaced = text;
    ReplaceEach(replaced, oldList, newList);
    QString unchanged = text;
    ReplaceEach(unchanged, QString(), QString());
    FUZZ_CHECK(unchanged == text, text);

    QString cut = text;
    const qsizetype at = TruncateAtMarker(cut, begin);
    FUZZ_CHECK(at == text.indexOf(begin) && (at < 0 ? cut == text : cut == text.first(at)), text);
    QString skipped = text;
    const qsizetype skipAt = SkipToMarker(skipped, end, 1);
    FUZZ_CHECK(skipAt == text.indexOf(end) && (skipAt < 0 ? skipped == text : text.endsWith(skipped)), text);

    CheckConversions(text, bytes);
    return 0;
}

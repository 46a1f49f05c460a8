#include "text/TextUtils.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace tamblin;
using namespace Qt::StringLiterals;

TEST(GetBetween, WalksAPageItemByItem)
{
    QString page = u"a[x]b[y]"_s;
    EXPECT_EQ(GetBetween(page, u"[", u"]", kAdvance), u"x"_s);
    EXPECT_EQ(page, u"x]b[y]"_s);
    EXPECT_EQ(GetBetween(page, u"[", u"]", kAdvance), u"y"_s);
    EXPECT_EQ(page, u"y]"_s);
    EXPECT_EQ(GetBetween(page, u"[", u"]", kAdvance), QString());
    EXPECT_EQ(page, u"y]"_s);

    // The view overload walks the same way.
    const QString text = u"a[x]b[y]"_s;
    QStringView view(text);
    EXPECT_EQ(GetBetween(view, u"[", u"]", kAdvance), u"x"_s);
    EXPECT_EQ(view, u"x]b[y]");
}

TEST(GetBetween, MissingEndMarker)
{
    QString page = u"a[xb"_s;
    EXPECT_EQ(GetBetween(page, u"[", u"]", kAdvance), QString());
    EXPECT_EQ(page, u"xb"_s);

    page = u"a[xb"_s;
    EXPECT_EQ(GetBetween(page, u"[", u"]", kAdvance | kRestIfNoEnd), u"xb"_s);
    EXPECT_EQ(page, u"xb"_s);

    page = u"a[xb"_s;
    EXPECT_EQ(GetBetween(page, u"[", u"]", kRestIfNoEnd), u"xb"_s);
    EXPECT_EQ(page, u"a[xb"_s);
}

TEST(GetBetween, MissingBeginMarkerLeavesSourceWhateverTheFlags)
{
    for (int flags : {0, 1, 2, 3}) {
        QString page = u"abc]def"_s;
        EXPECT_EQ(GetBetween(page, u"[", u"]", flags), QString()) << flags;
        EXPECT_EQ(page, u"abc]def"_s) << flags;
    }
    // Markers at the very edges.
    QString page = u"[]"_s;
    EXPECT_EQ(GetBetween(page, u"[", u"]", kAdvance), QString());
    EXPECT_EQ(page, u"]"_s);
    QString empty;
    EXPECT_EQ(GetBetween(empty, u"[", u"]", 3), QString());
}

TEST(SplitString, CountsSeparatorsAndKeepsTrailingPiece)
{
    QStringList pieces{u"stale"_s};
    EXPECT_EQ(SplitString(pieces, u"abc", u","), 0);
    EXPECT_TRUE(pieces.isEmpty());

    EXPECT_EQ(SplitString(pieces, u"a,b,", u","), 2);
    EXPECT_EQ(pieces, (QStringList{u"a"_s, u"b"_s, QString()}));

    EXPECT_EQ(SplitString(pieces, u"--x----y", u"--"), 3);
    EXPECT_EQ(pieces, (QStringList{QString(), u"x"_s, QString(), u"y"_s}));

    EXPECT_EQ(SplitString(pieces, u"abc", u""), 0);
    EXPECT_TRUE(pieces.isEmpty());
}

TEST(CountOccurrences, NonOverlapping)
{
    EXPECT_EQ(CountOccurrences(u"aaa", u"aa"), 1);
    EXPECT_EQ(CountOccurrences(u"aaaa", u"aa"), 2);
    EXPECT_EQ(CountOccurrences(u"", u"a"), 0);
    EXPECT_EQ(CountOccurrences(u"abc", u""), 0);
}

TEST(StripTags, RemovesTagsUntilTheFirstEmptyOrUnclosedOne)
{
    EXPECT_EQ(StripTags(u"x<b>y</b>z"_s), u"xyz"_s);
    EXPECT_EQ(StripTags(u"a<>b<i>c</i>"_s), u"a<>b<i>c</i>"_s);
    EXPECT_EQ(StripTags(u"a<i>b<c"_s), u"ab<c"_s);
    // A tag is removed everywhere in the text, also before where it was found.
    EXPECT_EQ(StripTags(u"1<br>2<br>3"_s), u"123"_s);
    EXPECT_EQ(StripTags(u"a < b and c > d"_s), u"a  d"_s);
    EXPECT_EQ(StripTags(QString()), QString());
    // Past an empty pair only tags met before it go; a tag ending in "<>"
    // is the last one.
    EXPECT_EQ(StripTags(u"a<i>b<>c<i>d<u>"_s), u"ab<>cd<u>"_s);
    EXPECT_EQ(StripTags(u"x<a<>y<i>"_s), u"xy<i>"_s);
    EXPECT_EQ(StripTags(u"x<a<b>y<b>z"_s), u"xyz"_s);
}

TEST(StripTags, HugeHostileTextTakesOnePass)
{
    // Five million characters, 500,000 distinct tags: a rescan of the text per
    // tag would run for many minutes (and time the test out).
    QString text;
    text.reserve(5'000'000);
    for (int i = 0; i < 500'000; ++i)
        text += u"<t%1>ab"_s.arg(i, 6, 10, QChar(u'0'));
    const QString stripped = StripTags(text);
    EXPECT_EQ(stripped.size(), 1'000'000);
    EXPECT_FALSE(stripped.contains(u'<'));
}

TEST(HasWebScheme, HttpAndHttpsInAnyCase)
{
    for (const QString &yes : {u"http://a"_s, u"https://a"_s, u"HTTP://a"_s, u" Https://a"_s})
        EXPECT_TRUE(HasWebScheme(yes)) << yes.toStdString();
    for (const QString &no : {u"ftp://a"_s, u"http:/a"_s, u"weibo.com/u/1"_s, QString()})
        EXPECT_FALSE(HasWebScheme(no)) << no.toStdString();
}

TEST(JsonUnescape, DecodesUnitsOnly)
{
    EXPECT_EQ(JsonUnescape(u"\\u4e2d\\u6587abc"), u"中文abc"_s);
    EXPECT_EQ(JsonUnescape(u"x\\u12"), u"x12"_s);
    EXPECT_EQ(JsonUnescape(u"plain \\/ text"), u"plain \\/ text"_s);
    EXPECT_EQ(JsonUnescape(u"\\u00E9\\u00e9"), u"éé"_s);
    // A surrogate pair written as two escapes forms the pair.
    EXPECT_EQ(JsonUnescape(u"\\ud83d\\ude00"), QString::fromUtf8("\xF0\x9F\x98\x80"));
    // The number ends at the first non-hex digit; the four units are consumed.
    EXPECT_EQ(JsonUnescape(u"\\u41zzq"), u"Aq"_s);
    // No hex digit at all would give a NUL unit, which is dropped.
    EXPECT_EQ(JsonUnescape(u"a\\uzzzzb"), u"ab"_s);
}

TEST(HtmlDecode, FixedEntitiesInOrder)
{
    QString t = u"&amp;quot;"_s;
    HtmlDecode(t);
    EXPECT_EQ(t, u"&quot;"_s);
    t = u"&amp;lt;"_s;
    HtmlDecode(t);
    EXPECT_EQ(t, u"<"_s);
    t = u"&quot;a&nbsp;b&hellip;&#39;&#40;&copy;"_s;
    HtmlDecode(t);
    EXPECT_EQ(t, u"\"a b…'&#40;&copy;"_s);
}

TEST(ReplaceEach, PairsPiecesOrReplacesWholeLists)
{
    QString t = u"a-b_c"_s;
    ReplaceEach(t, u"-|_", u"+|=");
    EXPECT_EQ(t, u"a+b=c"_s);

    t = u"abcabc"_s;
    ReplaceEach(t, u"b", u"X");
    EXPECT_EQ(t, u"aXcaXc"_s);

    // Counts differ: the whole lists are the texts.
    t = u"a-|_b-"_s;
    ReplaceEach(t, u"-|_", u"+");
    EXPECT_EQ(t, u"a+b-"_s);

    // Empty old pieces replace nothing; pieces apply in order.
    t = u"abc"_s;
    ReplaceEach(t, u"|a|X", u"Z|X|Y");
    EXPECT_EQ(t, u"Ybc"_s);
    t = u"abc"_s;
    ReplaceEach(t, u"", u"x|y");
    EXPECT_EQ(t, u"abc"_s);
}

TEST(Markers, TruncateAndSkip)
{
    QString t = u"abc<!--tail"_s;
    EXPECT_EQ(TruncateAtMarker(t, u"<!--"), 3);
    EXPECT_EQ(t, u"abc"_s);
    EXPECT_EQ(TruncateAtMarker(t, u"zz"), -1);
    EXPECT_EQ(t, u"abc"_s);

    QString h = u"HTTP/1.1 200\r\nContent-Length: 12\r\n"_s;
    EXPECT_EQ(SkipToMarker(h, u"Content-Length:", 1), 14);
    EXPECT_EQ(h, u" 12\r\n"_s);
    QString k = u"abcdef"_s;
    EXPECT_EQ(SkipToMarker(k, u"cd", 0), 2);
    EXPECT_EQ(k, u"cdef"_s);
    EXPECT_EQ(SkipToMarker(k, u"zz", 1), -1);
    EXPECT_EQ(k, u"cdef"_s);

    QByteArray b("xxContent-Length: 5");
    EXPECT_EQ(SkipToMarker(b, "Content-Length:", 1), 2);
    EXPECT_EQ(b, QByteArray(" 5"));
}

TEST(CodePages, GbkRoundTripAndReplacement)
{
    const QString chinese = u"中文相册"_s;
    const QByteArray gbk = WideToGbk(chinese);
    EXPECT_EQ(gbk, QByteArray("\xD6\xD0\xCE\xC4\xCF\xE0\xB2\xE1"));
    EXPECT_EQ(MultiByteToWide(gbk, kCodePageGbk), chinese);

    // What GBK cannot hold becomes '?', an unpaired surrogate too.
    EXPECT_EQ(WideToGbk(u"a\U0001F600b"_s), QByteArray("a?b"));
    EXPECT_EQ(WideToGbk(u"x"_s + QChar(0xD800) + u"y"_s), QByteArray("x?y"));
    // The result ends at the first NUL.
    EXPECT_EQ(WideToGbk(u"ab"_s + QChar(0) + u"cd"_s), QByteArray("ab"));
    EXPECT_EQ(WideToGbk(QString()), QByteArray());
}

TEST(CodePages, MultiByteToWideEncodingsAndBadBytes)
{
    EXPECT_EQ(MultiByteToWide("\xE4\xB8\xAD", 3, kCodePageUtf8), u"中"_s);
    EXPECT_EQ(MultiByteToWide("\xC7\xD1\xB1\xDB", 4, kCodePageEucKr), u"한글"_s);
    EXPECT_EQ(MultiByteToWide("\xA4\xA4\xA4\xE5", 4, kCodePageBig5), u"中文"_s);
    EXPECT_EQ(MultiByteToWide("ab\0cd", 5, kCodePageGbk), u"ab"_s);
    EXPECT_EQ(MultiByteToWide("ab\0cd", 5, kCodePageUtf8), u"ab"_s);
    EXPECT_EQ(MultiByteToWide("", 0, kCodePageGbk), QString());
    // Invalid bytes never crash and never vanish silently.
    EXPECT_FALSE(MultiByteToWide("\xFF\xFE\x81", 3, kCodePageGbk).isEmpty());
    EXPECT_FALSE(MultiByteToWide("\xC0\x80\xFF", 3, kCodePageUtf8).isEmpty());
}

TEST(CodePages, ConvertersWorkOnManyThreads)
{
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&wrong] {
            for (int i = 0; i < 500; ++i) {
                const QString text = u"第%1张图片"_s.arg(i);
                if (MultiByteToWide(WideToGbk(text), kCodePageGbk) != text)
                    ++wrong;
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(LooksLikeUtf8, LeadAndContinuationBytes)
{
    EXPECT_EQ(LooksLikeUtf8("\xE4\xB8\xAD", 3), 1);
    EXPECT_EQ(LooksLikeUtf8("abc", 3), 0);
    EXPECT_EQ(LooksLikeUtf8("\xE4\xB8", 2), 0);
    EXPECT_EQ(LooksLikeUtf8("", 0), 0);
    EXPECT_EQ(LooksLikeUtf8("\x80", 1), 0);
    EXPECT_EQ(LooksLikeUtf8("\xD6\xD0\xCE\xC4", 4), 0); // GBK
    EXPECT_EQ(LooksLikeUtf8("a\xC3\xA9z", 4), 1);
}

TEST(RandomFraction, FormatAndSameSecond)
{
    const QString a = RandomFraction();
    const QString b = RandomFraction();
    ASSERT_TRUE(a.endsWith(u'\n'));
    EXPECT_EQ(a.size(), 19); // "0." or "1." + 16 decimals + line feed
    const double value = a.trimmed().toDouble();
    EXPECT_GE(value, 0.0);
    EXPECT_LE(value, 1.0);
    // Reseeded with the current second: equal unless the second just changed.
    if (a != b) {
        EXPECT_EQ(RandomFraction(), b);
    }
}

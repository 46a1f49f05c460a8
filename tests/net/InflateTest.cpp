#include "TestSupport.h"
#include "net/Inflate.h"

#include <gtest/gtest.h>

#include <zlib.h>

namespace tamblin::test {
namespace {

// `text` compressed with the given window bits (15 zlib, 31 gzip).
QByteArray Deflate(const QByteArray &text, int windowBits)
{
    z_stream s{};
    EXPECT_EQ(deflateInit2(&s, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
    QByteArray out(int(deflateBound(&s, uLong(text.size()))), '\0');
    s.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.constData()));
    s.avail_in = uInt(text.size());
    s.next_out = reinterpret_cast<Bytef *>(out.data());
    s.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
    out.truncate(qsizetype(s.total_out));
    deflateEnd(&s);
    return out;
}

TEST(InflateTest, GzipAndZlibStreamsAppendToTheTarget)
{
    QByteArray text;
    for (int i = 0; i < 5000; ++i)
        text += QByteArray::number(i) + ',';
    for (int bits : {15, 31}) {
        const QByteArray packed = Deflate(text, bits);
        QByteArray target = "kept:";
        EXPECT_TRUE(InflateBody(packed.constData(), packed.size(), target)) << bits;
        EXPECT_EQ(target, "kept:" + text) << bits;
        EXPECT_EQ(InflatedSize(packed.constData(), packed.size(), -1), text.size());
        EXPECT_EQ(InflatedSize(packed.constData(), packed.size(), 100), -1);
    }
}

TEST(InflateTest, BrokenStreamsGiveWhatInflatedAndFalse)
{
    QByteArray text(100000, 'a');
    for (int i = 0; i < text.size(); i += 7)
        text[i] = char('a' + i % 23);
    const QByteArray packed = Deflate(text, 31);
    QByteArray target;
    EXPECT_FALSE(InflateBody(packed.constData(), packed.size() - 10, target));
    EXPECT_GT(target.size(), 0);
    EXPECT_TRUE(text.startsWith(target));

    target.clear();
    EXPECT_FALSE(InflateBody("plain text, not a stream", 24, target));
    EXPECT_TRUE(target.isEmpty());
    EXPECT_FALSE(InflateBody(nullptr, 0, target));

    // The ceiling stops the output in whole passes, never beyond it.
    target.clear();
    EXPECT_FALSE(InflateBody(packed.constData(), packed.size(), target, 20000));
    EXPECT_LE(target.size(), 20000);
    EXPECT_TRUE(text.startsWith(target));
}

} // namespace
} // namespace tamblin::test

#include "app/Ini.h"
#include "text/TextUtils.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>

#include <random>

using namespace tamblin;
using namespace tamblin::test;
using namespace Qt::StringLiterals;

namespace {

QByteArray Utf16LeWithBom(const QString &text)
{
    QByteArray bytes("\xFF\xFE", 2);
    for (QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

const QString kSample = u"; written with Notepad\r\n"
                        u"[QQ空间]\r\n"
                        u"V2编码=UTF8\r\n"
                        u"  取原始名方式 =  3  \r\n"
                        u"[淘宝]\r\n"
                        u"图片名中是否有价格=有\r\n"
                        u"价格增减=-5\r\n"_s;

} // namespace

TEST(CIni, ReadsEveryEncodingNotepadWrites)
{
    TempDir dir;
    const QList<std::pair<const char *, QByteArray>> files = {
        {"utf16le", Utf16LeWithBom(kSample)},
        {"utf8bom", QByteArray("\xEF\xBB\xBF") + kSample.toUtf8()},
        {"utf8", kSample.toUtf8()},
        {"gbk", WideToGbk(kSample)},
    };
    for (const auto &[name, bytes] : files) {
        const QString file = QString::fromLatin1(name) + u".ini"_s;
        dir.Write(file, bytes);
        const CIni ini(dir.File(file));
        EXPECT_EQ(ini.GetString(u"QQ空间"_s, u"V2编码"_s, u"ANSI"_s), u"UTF8"_s) << name;
        EXPECT_EQ(ini.GetInt(u"QQ空间"_s, u"取原始名方式"_s, 1), 3) << name;
        EXPECT_EQ(ini.GetString(u"淘宝"_s, u"图片名中是否有价格"_s, u"无"_s), u"有"_s) << name;
        EXPECT_EQ(ini.GetInt(u"淘宝"_s, u"价格增减"_s, 0), -5) << name;
        EXPECT_EQ(ini.GetString(u"QQ空间"_s, u"V3编码"_s, u"ANSI"_s), u"ANSI"_s) << name;
    }
    // The GBK file really is not UTF-8, so the fallback was exercised.
    EXPECT_NE(WideToGbk(kSample), kSample.toUtf8());
}

TEST(CIni, LooksUpAsProfileReadsDo)
{
    TempDir dir;
    dir.Write(u"a.ini"_s,
              "orphan=before any section\n"
              "[Main]\n"
              "Key = value with  inner  blanks \n"
              "Quoted=\"  kept inside  \"\n"
              "Single='x'\n"
              "Empty=\n"
              "NoEquals\n"
              ";Comment=1\n"
              "key=second of the same name\n"
              "[ other ]\n"
              "k=in other\n"
              "[main]\n"
              "Late=in a second section of the same name\n");
    const CIni ini(dir.File(u"a.ini"_s));
    EXPECT_EQ(ini.GetString(u"MAIN"_s, u"kEY"_s, u"d"_s), u"value with  inner  blanks"_s);
    EXPECT_EQ(ini.GetString(u"Main"_s, u"Quoted"_s, u"d"_s), u"  kept inside  "_s);
    EXPECT_EQ(ini.GetString(u"Main"_s, u"Single"_s, u"d"_s), u"x"_s);
    EXPECT_EQ(ini.GetString(u"Main"_s, u"Empty"_s, u"d"_s), QString());
    EXPECT_EQ(ini.GetInt(u"Main"_s, u"Empty"_s, 9), 9);
    EXPECT_EQ(ini.GetString(u"Main"_s, u"NoEquals"_s, u"d"_s), u"d"_s);
    EXPECT_EQ(ini.GetString(u"Main"_s, u";Comment"_s, u"d"_s), u"d"_s);
    EXPECT_EQ(ini.GetString(u"Main"_s, u"orphan"_s, u"d"_s), u"d"_s);
    EXPECT_EQ(ini.GetString(u"Other"_s, u"K"_s, u"d"_s), u"in other"_s);
    EXPECT_EQ(ini.GetString(u"Main"_s, u"Late"_s, u"d"_s), u"d"_s);
    EXPECT_EQ(ini.GetString(u"Missing"_s, u"Key"_s, u"d"_s), u"d"_s);
    EXPECT_EQ(ini.GetInt(u"Missing"_s, u"Key"_s, -7), -7);

    const CIni absent(dir.File(u"absent.ini"_s));
    EXPECT_EQ(absent.GetString(u"Main"_s, u"Key"_s, u"d"_s), u"d"_s);
    const CIni folder(dir.Path());
    EXPECT_EQ(folder.GetInt(u"Main"_s, u"Key"_s, 4), 4);
}

TEST(CIni, GetIntReadsAnUnsignedNumber)
{
    TempDir dir;
    dir.Write(u"n.ini"_s,
              "[n]\n"
              "neg=-5\n"
              "plus=+7\n"
              "trail=42abc\n"
              "text=abc\n"
              "max=4294967295\n"
              "over=4294967296\n"
              "negover=-99999999999\n"
              "zeros=" + QByteArray(64, '0') + "5\n"
              "big=3000000000\n");
    const CIni ini(dir.File(u"n.ini"_s));
    EXPECT_EQ(ini.GetInt(u"n"_s, u"neg"_s, 0), -5);
    EXPECT_EQ(ini.GetInt(u"n"_s, u"plus"_s, 0), 7);
    EXPECT_EQ(ini.GetInt(u"n"_s, u"trail"_s, 0), 42);
    EXPECT_EQ(ini.GetInt(u"n"_s, u"text"_s, 9), 0);
    EXPECT_EQ(ini.GetInt(u"n"_s, u"max"_s, 0), -1);
    EXPECT_EQ(ini.GetInt(u"n"_s, u"over"_s, 0), -1);
    EXPECT_EQ(ini.GetInt(u"n"_s, u"negover"_s, 0), -1);
    EXPECT_EQ(ini.GetInt(u"n"_s, u"zeros"_s, 9), 0); // only the first 64 characters count
    EXPECT_EQ(std::uint32_t(ini.GetInt(u"n"_s, u"big"_s, 0)), 3000000000u);
}

TEST(CIni, GarbageAndHugeValuesGiveDefaultsOrTheValue)
{
    TempDir dir;
    std::mt19937 random(1);
    QByteArray garbage(200000, '\0');
    for (char &b : garbage)
        b = char(random());
    dir.Write(u"g.ini"_s, garbage);
    const CIni g(dir.File(u"g.ini"_s));
    EXPECT_EQ(g.GetString(u"QQ空间"_s, u"V2编码"_s, u"ANSI"_s), u"ANSI"_s);
    EXPECT_EQ(g.GetInt(u"淘宝"_s, u"价格增减"_s, 0), 0);

    // A BOM followed by an odd number of bytes.
    dir.Write(u"odd.ini"_s, QByteArray("\xFF\xFE[\0a\0]\0\n\0k\0=\0v\0A", 17));
    EXPECT_TRUE(CIni(dir.File(u"odd.ini"_s)).GetString(u"a"_s, u"k"_s, u"d"_s).startsWith(u'v'));

    const QByteArray huge(4 * 1024 * 1024, '7');
    dir.Write(u"h.ini"_s, "[s]\nk=" + huge + "\n");
    const CIni h(dir.File(u"h.ini"_s));
    EXPECT_EQ(h.GetString(u"s"_s, u"k"_s, u"d"_s).size(), huge.size());
    EXPECT_EQ(h.GetInt(u"s"_s, u"k"_s, 0), -1);
}

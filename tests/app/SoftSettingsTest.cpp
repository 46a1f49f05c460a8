#include "app/SoftSettings.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QtEndian>

#include <random>

using namespace tamblin;
using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype kRulesAt = 192;
constexpr qsizetype kRulesSize = 484;
constexpr qsizetype kAddressAt = 11808;
constexpr qsizetype kSavePathAt = 15808;

std::uint16_t U16At(const QByteArray &bytes, qsizetype at)
{
    return qFromLittleEndian<std::uint16_t>(bytes.constData() + at);
}

// The UTF-16 text stored at `at`, up to its NUL or `units`.
QString TextAt(const QByteArray &bytes, qsizetype at, int units)
{
    QString text;
    for (int i = 0; i < units; ++i) {
        const std::uint16_t unit = U16At(bytes, at + 2 * i);
        if (unit == 0)
            break;
        text.append(QChar(unit));
    }
    return text;
}

SoftSettings KnownRecord()
{
    SoftSettings s;
    s.downParams[0] = {0x0102, 0x0304, 0x0506, 0x0708};
    s.downParams[4] = {100, 5000, 15, 60};
    s.downParams[23] = {0xFFFF, 1, 2, 0x8000};
    SiteRules &sina = s.siteRules[4];
    sina.filePrefix.Set(u"?3_");
    sina.fileSuffix.Set(u"后缀");
    sina.replaceFrom.Set(u"a|b");
    sina.replaceTo.Set(u"c|d");
    sina.folderPrefix.Set(u"相册");
    sina.folderSuffix.Set(u"_?9");
    sina.flags = 0x1C3;
    sina.fileNameMode = 2;
    sina.folderNameMode = 1;
    SiteRules &last = s.siteRules[23];
    last.filePrefix.Set(QString(39, u'p'));
    last.folderSuffix.Set(QString(60, u'q')); // cut to 39 units
    last.flags = 0x8001;
    last.fileNameMode = 0xFF;
    s.addressHistory[0].Set(u"http://photo.sina.com.cn/u/1234"_s);
    s.addressHistory[4].Set(QString(399, u'z'));
    s.savePathHistory[0].Set(u"/home/用户/图片/"_s);
    s.savePathHistory[2].Set(u"D:\\Morvane\\"_s);
    return s;
}

} // namespace

TEST(SoftSettings, KnownRecordAtItsOffsets)
{
    const QByteArray bytes = KnownRecord().ToBytes();
    ASSERT_EQ(bytes.size(), kSoftSettingsSize);

    EXPECT_EQ(bytes.first(8), QByteArray("\x02\x01\x04\x03\x06\x05\x08\x07", 8));
    EXPECT_EQ(U16At(bytes, 4 * 8), 100);
    EXPECT_EQ(U16At(bytes, 4 * 8 + 2), 5000);
    EXPECT_EQ(U16At(bytes, 4 * 8 + 4), 15);
    EXPECT_EQ(U16At(bytes, 4 * 8 + 6), 60);
    EXPECT_EQ(bytes.mid(23 * 8, 8), QByteArray("\xFF\xFF\x01\x00\x02\x00\x00\x80", 8));
    EXPECT_EQ(bytes.mid(8, 8), QByteArray(8, '\0'));

    const qsizetype sina = kRulesAt + 4 * kRulesSize;
    EXPECT_EQ(TextAt(bytes, sina + 0, 40), u"?3_"_s);
    EXPECT_EQ(TextAt(bytes, sina + 80, 40), u"后缀"_s);
    EXPECT_EQ(TextAt(bytes, sina + 160, 40), u"a|b"_s);
    EXPECT_EQ(TextAt(bytes, sina + 240, 40), u"c|d"_s);
    EXPECT_EQ(TextAt(bytes, sina + 320, 40), u"相册"_s);
    EXPECT_EQ(TextAt(bytes, sina + 400, 40), u"_?9"_s);
    EXPECT_EQ(U16At(bytes, sina + 480), 0x1C3);
    EXPECT_EQ(quint8(bytes[sina + 482]), 2);
    EXPECT_EQ(quint8(bytes[sina + 483]), 1);
    // "后缀" as UTF-16LE, then NUL.
    EXPECT_EQ(bytes.mid(sina + 80, 6), QByteArray("\x0E\x54\x00\x7F\x00\x00", 6));

    const qsizetype last = kRulesAt + 23 * kRulesSize;
    EXPECT_EQ(TextAt(bytes, last, 40), QString(39, u'p'));
    EXPECT_EQ(U16At(bytes, last + 78), 0); // the 40th unit stays NUL
    EXPECT_EQ(TextAt(bytes, last + 400, 40), QString(39, u'q'));
    EXPECT_EQ(U16At(bytes, last + 480), 0x8001);
    EXPECT_EQ(quint8(bytes[last + 482]), 0xFF);
    EXPECT_EQ(last + kRulesSize, kAddressAt);

    EXPECT_EQ(TextAt(bytes, kAddressAt, 400), u"http://photo.sina.com.cn/u/1234"_s);
    EXPECT_EQ(TextAt(bytes, kAddressAt + 800, 400), QString());
    EXPECT_EQ(TextAt(bytes, kAddressAt + 4 * 800, 400), QString(399, u'z'));
    EXPECT_EQ(TextAt(bytes, kSavePathAt, 400), u"/home/用户/图片/"_s);
    EXPECT_EQ(TextAt(bytes, kSavePathAt + 2 * 800, 400), u"D:\\Morvane\\"_s);
    EXPECT_EQ(U16At(bytes, kSoftSettingsSize - 2), 0);
}

TEST(SoftSettings, ReadsBackFieldByField)
{
    const SoftSettings known = KnownRecord();
    const SoftSettings back = SoftSettings::FromBytes(known.ToBytes());
    for (int site = 0; site < kSiteSlots; ++site) {
        const DownParams &a = known.downParams[site];
        const DownParams &b = back.downParams[site];
        EXPECT_EQ(a.minKb, b.minKb) << site;
        EXPECT_EQ(a.maxKb, b.maxKb) << site;
        EXPECT_EQ(a.threads, b.threads) << site;
        EXPECT_EQ(a.timeoutSec, b.timeoutSec) << site;
        const SiteRules &r = known.siteRules[site];
        const SiteRules &q = back.siteRules[site];
        EXPECT_EQ(r.filePrefix.Get(), q.filePrefix.Get()) << site;
        EXPECT_EQ(r.fileSuffix.Get(), q.fileSuffix.Get()) << site;
        EXPECT_EQ(r.replaceFrom.Get(), q.replaceFrom.Get()) << site;
        EXPECT_EQ(r.replaceTo.Get(), q.replaceTo.Get()) << site;
        EXPECT_EQ(r.folderPrefix.Get(), q.folderPrefix.Get()) << site;
        EXPECT_EQ(r.folderSuffix.Get(), q.folderSuffix.Get()) << site;
        EXPECT_EQ(r.flags, q.flags) << site;
        EXPECT_EQ(r.fileNameMode, q.fileNameMode) << site;
        EXPECT_EQ(r.folderNameMode, q.folderNameMode) << site;
    }
    for (int i = 0; i < kHistoryEntries; ++i) {
        EXPECT_EQ(known.addressHistory[i].Get(), back.addressHistory[i].Get()) << i;
        EXPECT_EQ(known.savePathHistory[i].Get(), back.savePathHistory[i].Get()) << i;
    }
    EXPECT_EQ(back.siteRules[4].fileSuffix.Get(), u"后缀"_s);
    EXPECT_EQ(back.downParams[23].timeoutSec, 0x8000);
}

TEST(SoftSettings, AnyImageOfTheRightSizeRoundTripsExactly)
{
    std::mt19937 random(42);
    QByteArray bytes(kSoftSettingsSize, '\0');
    for (char &b : bytes)
        b = char(random());
    // Texts without a NUL, odd values, all kept byte for byte.
    EXPECT_EQ(SoftSettings::FromBytes(bytes).ToBytes(), bytes);
}

TEST(SoftSettings, ShortImagesReadAsZeroAndLongOnesAreCut)
{
    const QByteArray full = KnownRecord().ToBytes();

    // The image ends one byte into the Sina file suffix.
    const qsizetype cut = kRulesAt + 4 * kRulesSize + 81;
    const SoftSettings shortOne = SoftSettings::FromBytes(full.first(cut));
    EXPECT_EQ(shortOne.downParams[4].maxKb, 5000);
    EXPECT_EQ(shortOne.siteRules[4].filePrefix.Get(), u"?3_"_s);
    EXPECT_EQ(shortOne.siteRules[4].fileSuffix.Get(), QString(QChar(0x0E))); // low byte of "后" only
    EXPECT_EQ(shortOne.siteRules[4].flags, 0);
    EXPECT_EQ(shortOne.addressHistory[0].Get(), QString());
    EXPECT_EQ(shortOne.ToBytes(), full.first(cut) + QByteArray(kSoftSettingsSize - cut, '\0'));

    EXPECT_EQ(SoftSettings::FromBytes(QByteArray()).ToBytes(), QByteArray(kSoftSettingsSize, '\0'));
    EXPECT_EQ(SoftSettings::FromBytes(full + QByteArray(5000, '\x7F')).ToBytes(), full);
}

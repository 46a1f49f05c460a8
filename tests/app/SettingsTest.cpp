#include "app/TamblinCore.h"
#include "net/HttpClient.h"
#include "text/TextUtils.h"

#include "RecordingWindow.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <random>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

using namespace tamblin;
using namespace tamblin::test;
using namespace Qt::StringLiterals;

namespace {

const QString kSoftDat = u"soft.dat"_s;
const QString kIniName = u"下载器扩展设置.ini"_s;

struct Fixture {
    TempDir dir;
    RecordingWindow window;
    TamblinCore core{&window};

    Fixture() { core.m_appDir = dir.Path(); }
};

void ExpectRepairedParams(const SoftSettings &s)
{
    for (int site = 0; site < kSiteSlots; ++site) {
        EXPECT_GE(s.downParams[site].threads, 1) << site;
        EXPECT_LE(s.downParams[site].threads, 15) << site;
        EXPECT_GE(s.downParams[site].timeoutSec, 10) << site;
    }
}

void ExpectFirstRunRules(const SoftSettings &s)
{
    for (int site = 0; site < kSiteSlots; ++site) {
        const std::uint16_t flags = site == 7 ? 0x82 : (site == 11 || site == 16) ? 0x02 : 0;
        EXPECT_EQ(s.siteRules[site].flags, flags) << site;
        EXPECT_EQ(s.siteRules[site].fileNameMode, site == 8 ? 1 : 0) << site;
        EXPECT_EQ(s.siteRules[site].folderNameMode, 0) << site;
        EXPECT_EQ(s.downParams[site].threads, 5) << site;
        EXPECT_EQ(s.downParams[site].timeoutSec, 30) << site;
        EXPECT_EQ(s.downParams[site].minKb, 0) << site;
        EXPECT_EQ(s.downParams[site].maxKb, 0) << site;
    }
}

} // namespace

TEST(LoadSettings, FirstRunDefaultsAreWrittenAtOnce)
{
    Fixture f;
    f.core.LoadSettings();
    ExpectFirstRunRules(f.core.m_settings);
    EXPECT_EQ(f.dir.Read(kSoftDat), f.core.m_settings.ToBytes());
    EXPECT_TRUE(f.window.HistoryItems(0).isEmpty());
    EXPECT_TRUE(f.window.HistoryItems(1).isEmpty());

    // An empty file holds nothing to keep: also a first run.
    Fixture empty;
    empty.dir.Write(kSoftDat, QByteArray());
    empty.core.LoadSettings();
    ExpectFirstRunRules(empty.core.m_settings);
    EXPECT_EQ(empty.dir.Read(kSoftDat).size(), kSoftSettingsSize);
}

TEST(LoadSettings, RepairsParametersAndKeepsTheRestOfTheFile)
{
    Fixture f;
    SoftSettings stored;
    for (DownParams &p : stored.downParams)
        p = {0, 0, 5, 30};
    stored.downParams[0] = {10, 900, 0, 5};
    stored.downParams[1] = {0, 0, 16, 9};
    stored.downParams[2] = {0, 0, 15, 10};
    stored.downParams[3] = {0, 0, 1, 0xFFFF};
    stored.siteRules[7].flags = 0; // no first-run bits once a file was read
    stored.siteRules[4].flags = kFixFormat | kSkipDownloaded;
    stored.siteRules[4].folderPrefix.Set(u"新浪");
    f.dir.Write(kSoftDat, stored.ToBytes());

    f.core.LoadSettings();
    const SoftSettings &s = f.core.m_settings;
    EXPECT_EQ(s.downParams[0].threads, 5);
    EXPECT_EQ(s.downParams[0].timeoutSec, 30);
    EXPECT_EQ(s.downParams[0].minKb, 10);
    EXPECT_EQ(s.downParams[0].maxKb, 900);
    EXPECT_EQ(s.downParams[1].threads, 5);
    EXPECT_EQ(s.downParams[1].timeoutSec, 30);
    EXPECT_EQ(s.downParams[2].threads, 15);
    EXPECT_EQ(s.downParams[2].timeoutSec, 10);
    EXPECT_EQ(s.downParams[3].threads, 1);
    EXPECT_EQ(s.downParams[3].timeoutSec, 0xFFFF);
    EXPECT_EQ(s.siteRules[7].flags, 0);
    EXPECT_EQ(s.siteRules[8].fileNameMode, 0);
    EXPECT_EQ(s.siteRules[4].flags, kFixFormat | kSkipDownloaded);
    EXPECT_EQ(s.siteRules[4].folderPrefix.Get(), u"新浪"_s);

    // Written back repaired.
    const SoftSettings onDisk = SoftSettings::FromBytes(f.dir.Read(kSoftDat));
    EXPECT_EQ(onDisk.downParams[0].threads, 5);
    EXPECT_EQ(onDisk.downParams[0].timeoutSec, 30);
    EXPECT_EQ(f.dir.Read(kSoftDat), s.ToBytes());
}

TEST(LoadSettings, BadFilesLoadRepairedValues)
{
    {
        // Short: the tail reads as zero and is repaired; the file counts as read.
        Fixture f;
        SoftSettings stored;
        stored.downParams[0] = {1, 2, 3, 40};
        stored.addressHistory[0].Set(u"lost"_s);
        f.dir.Write(kSoftDat, stored.ToBytes().first(100));
        f.core.LoadSettings();
        EXPECT_EQ(f.core.m_settings.downParams[0].threads, 3);
        EXPECT_EQ(f.core.m_settings.downParams[0].timeoutSec, 40);
        EXPECT_EQ(f.core.m_settings.addressHistory[0].Get(), QString());
        EXPECT_EQ(f.core.m_settings.siteRules[7].flags, 0);
        ExpectRepairedParams(f.core.m_settings);
        EXPECT_EQ(f.dir.Read(kSoftDat).size(), kSoftSettingsSize);
    }
    {
        // Long: the first 19,808 bytes count; the file is rewritten to size.
        Fixture f;
        SoftSettings stored;
        stored.savePathHistory[4].Set(u"/kept/"_s);
        f.dir.Write(kSoftDat, stored.ToBytes() + QByteArray(1000, 'x'));
        f.core.LoadSettings();
        EXPECT_EQ(f.core.m_settings.savePathHistory[4].Get(), u"/kept/"_s);
        EXPECT_EQ(f.dir.Read(kSoftDat).size(), kSoftSettingsSize);
        EXPECT_EQ(f.window.HistoryItems(1), QStringList{u"/kept/"_s});
    }
    {
        Fixture f;
        std::mt19937 random(3);
        QByteArray noise(kSoftSettingsSize, '\0');
        for (char &b : noise)
            b = char(random());
        f.dir.Write(kSoftDat, noise);
        f.core.LoadSettings();
        ExpectRepairedParams(f.core.m_settings);
        EXPECT_EQ(f.dir.Read(kSoftDat), f.core.m_settings.ToBytes());
    }
    {
        // A folder where the file should be.
        Fixture f;
        ASSERT_TRUE(QDir().mkdir(f.dir.File(kSoftDat)));
        f.core.LoadSettings();
        ExpectFirstRunRules(f.core.m_settings);
        EXPECT_TRUE(QFileInfo(f.dir.File(kSoftDat)).isDir());
    }
}

TEST(LoadSettings, UnwritableFolderKeepsSettingsInMemory)
{
    {
        // The start folder lies below a file: nothing can be read or written.
        Fixture f;
        f.dir.Write(u"plain"_s, "x");
        f.core.m_appDir = f.dir.File(u"plain"_s) + QDir::separator();
        f.core.LoadSettings();
        ExpectFirstRunRules(f.core.m_settings);
        EXPECT_FALSE(f.core.SaveSettings());
    }
}

TEST(LoadSettings, ReadOnlyFolderLoadsTheFileAndLeavesIt)
{
    Fixture f;
    SoftSettings stored;
    stored.downParams[4] = {7, 8, 9, 11};
    f.dir.Write(kSoftDat, stored.ToBytes());
    QFile::setPermissions(f.dir.Path(), QFile::ReadOwner | QFile::ExeOwner);
    QFile probe(f.dir.File(u"probe"_s));
    const bool writable = probe.open(QIODevice::WriteOnly);
    if (writable)
        probe.remove();
    else
        f.core.LoadSettings();
    QFile::setPermissions(f.dir.Path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (writable)
        GTEST_SKIP() << "permissions do not bind this user (root)";

    EXPECT_EQ(f.core.m_settings.downParams[4].threads, 9);
    EXPECT_EQ(f.core.m_settings.downParams[4].timeoutSec, 11);
    ExpectRepairedParams(f.core.m_settings);
    EXPECT_EQ(f.dir.Read(kSoftDat), stored.ToBytes());
}

#ifdef Q_OS_UNIX
TEST(SaveSettings, AFailedSaveLeavesTheOldFileIntact)
{
    Fixture f;
    f.core.LoadSettings();
    const QByteArray before = f.dir.Read(kSoftDat);
    ASSERT_EQ(before.size(), kSoftSettingsSize);

    // A file size limit makes the write fail as a full disk would, even for root.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    f.core.m_settings.downParams[4].threads = 12;
    const bool saved = f.core.SaveSettings();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved);
    EXPECT_EQ(f.dir.Read(kSoftDat), before);
    EXPECT_EQ(QDir(f.dir.Path()).entryList(QDir::Files | QDir::Hidden), QStringList{kSoftDat});

    EXPECT_TRUE(f.core.SaveSettings());
    EXPECT_EQ(SoftSettings::FromBytes(f.dir.Read(kSoftDat)).downParams[4].threads, 12);
}
#endif

TEST(History, LoadFillsTheBoxesWithNonEmptyEntriesInOrder)
{
    Fixture f;
    SoftSettings stored;
    stored.addressHistory[0].Set(u"http://a"_s);
    stored.addressHistory[2].Set(u"http://c"_s);
    stored.savePathHistory[1].Set(u"/b/"_s);
    f.dir.Write(kSoftDat, stored.ToBytes());
    f.window.AddHistoryItem(0, u"stale"_s);
    f.core.LoadSettings();
    EXPECT_EQ(f.window.HistoryItems(0), (QStringList{u"http://a"_s, u"http://c"_s}));
    EXPECT_EQ(f.window.HistoryItems(1), QStringList{u"/b/"_s});
}

TEST(History, MostRecentFirstFiveAtMostCaseBlindDuplicates)
{
    Fixture f;
    for (int i = 1; i <= 5; ++i)
        EXPECT_TRUE(f.core.AddHistory(0, u"http://site/%1"_s.arg(i)));
    auto texts = [&](int which) {
        QStringList list;
        const auto &h = which == 0 ? f.core.m_settings.addressHistory : f.core.m_settings.savePathHistory;
        for (const auto &e : h)
            list.append(e.Get());
        return list;
    };
    EXPECT_EQ(texts(0).first(), u"http://site/5"_s);
    EXPECT_EQ(texts(0).last(), u"http://site/1"_s);

    EXPECT_TRUE(f.core.AddHistory(0, u"http://site/6"_s));
    EXPECT_EQ(texts(0), (QStringList{u"http://site/6"_s, u"http://site/5"_s, u"http://site/4"_s,
                                     u"http://site/3"_s, u"http://site/2"_s}));

    const QStringList unchanged = texts(0);
    EXPECT_FALSE(f.core.AddHistory(0, u"HTTP://SITE/4"_s));
    EXPECT_EQ(texts(0), unchanged);
    EXPECT_FALSE(f.core.AddHistory(0, QString(400, u'x')));
    EXPECT_TRUE(f.core.AddHistory(0, QString(399, u'x')));
    EXPECT_EQ(texts(0).first(), QString(399, u'x'));
    EXPECT_FALSE(f.core.AddHistory(2, u"nowhere"_s));

    // The save-path history is separate.
    EXPECT_TRUE(f.core.AddHistory(1, u"http://site/6"_s));
    EXPECT_EQ(texts(1).first(), u"http://site/6"_s);
    EXPECT_EQ(texts(1)[1], QString());
}

TEST(History, RunsSharingAStartFolderKeepEachOthersEntries)
{
    Fixture a;
    a.core.LoadSettings();
    TamblinCore b(&a.window);
    b.m_appDir = a.core.m_appDir;
    b.LoadSettings();
    // Both started before either saved its address.
    ASSERT_TRUE(a.core.AddHistory(0, u"http://a"_s));
    ASSERT_TRUE(a.core.SaveSettings());
    ASSERT_TRUE(b.AddHistory(0, u"http://b"_s));
    ASSERT_TRUE(b.SaveSettings());
    const SoftSettings onDisk = SoftSettings::FromBytes(a.dir.Read(kSoftDat));
    EXPECT_EQ(onDisk.addressHistory[0].Get(), u"http://b"_s);
    EXPECT_EQ(onDisk.addressHistory[1].Get(), u"http://a"_s);
    EXPECT_FALSE(QFileInfo::exists(a.dir.File(kSoftDat + u".lock"_s)));
}

TEST(ExtensionSettings, FiveKeysWithTheirDefaults)
{
    Fixture f;
    f.core.m_qqSourceNameWay = 9;
    f.core.m_qqV2Encoding = 5;
    f.core.m_taobaoPriceAdjust = 5;
    f.core.ReadExtensionSettings();
    EXPECT_EQ(f.core.m_qqV2Encoding, 0);
    EXPECT_EQ(f.core.m_taobaoPriceAdjust, 0);
    EXPECT_EQ(f.core.m_qqSourceNameWay, 9); // no file: keeps its value

    f.dir.Write(kIniName, WideToGbk(u"[QQ空间]\r\nV2编码=utf8\r\nV3编码=UTF8X\r\n取原始名方式=300\r\n"
                                    u"[淘宝]\r\n图片名中是否有价格=有价格\r\n价格增减=-5\r\n"_s));
    f.core.ReadExtensionSettings();
    EXPECT_EQ(f.core.m_qqV2Encoding, 0); // the test is case-sensitive
    EXPECT_EQ(f.core.m_qqV3Encoding, kTextUtf8);
    EXPECT_EQ(f.core.m_qqSourceNameWay, 300 % 256);
    EXPECT_EQ(f.core.m_taobaoPriceInName, 1);
    EXPECT_EQ(f.core.m_taobaoPriceAdjust, -5);

    f.dir.Write(kIniName, (u"[qq空间]\nv2编码=AUTO\nV3编码=BIG5\n[淘宝]\n图片名中是否有价格=无\n"_s).toUtf8());
    f.core.ReadExtensionSettings();
    EXPECT_EQ(f.core.m_qqV2Encoding, kTextDetectUtf8);
    EXPECT_EQ(f.core.m_qqV3Encoding, kTextBig5);
    EXPECT_EQ(f.core.m_qqSourceNameWay, 1);
    EXPECT_EQ(f.core.m_taobaoPriceInName, 0);
    EXPECT_EQ(f.core.m_taobaoPriceAdjust, 0);
}

TEST(ExtensionSettings, TheDateRangeAndTheWeiboArchiveKeys)
{
    struct Case {
        const char *ini;
        QDate since, until;
        bool posts, reposts;
    };
    const Case cases[] = {
        {"[下载]\n起始日期=2023-04-01\n结束日期= 2023-04-30 \n[微博]\n保存微博=1\n下载转发图片=1\n",
         QDate(2023, 4, 1), QDate(2023, 4, 30), true, true},
        // A day that is no YYYY-MM-DD leaves its end open.
        {"[下载]\n起始日期=2023-4-1\n结束日期=2023-02-30\n", {}, {}, false, false},
        {"[下载]\n结束日期=2019-12-31\n[微博]\n保存微博=0\n", {}, QDate(2019, 12, 31), false, false},
    };
    Fixture f;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.ini);
        f.dir.Write(kIniName, QByteArray(c.ini));
        f.core.ReadExtensionSettings();
        EXPECT_EQ(f.core.RangeNow().since, c.since);
        EXPECT_EQ(f.core.RangeNow().until, c.until);
        EXPECT_EQ(f.core.m_savePosts, c.posts);
        EXPECT_EQ(f.core.m_withReposts, c.reposts);
    }
    QFile::remove(f.dir.File(kIniName));
    f.core.ReadExtensionSettings();
    EXPECT_FALSE(f.core.RangeNow().IsSet());
}

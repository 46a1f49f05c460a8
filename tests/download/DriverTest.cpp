#include "WorkerPoolTestSupport.h"

#include "app/StoredTexts.h"
#include "app/TamblinCore.h"
#include "download/DownloadDriver.h"
#include "download/ListFiles.h"
#include "download/NamingRules.h"

#include <QDateTime>
#include <QFileInfo>
#include <QMap>

#include <chrono>
#include <functional>
#include <thread>

using namespace tamblin;
using namespace tamblin::test;
using namespace Qt::StringLiterals;

namespace {

constexpr int kSina = 4;

// The pictures the fake extractor hands over, per album index.
struct FakeAlbum {
    QStringList urls;
    int stopBefore = -1; // asks the run to stop before handing over this picture
    std::function<void()> whileListed; // runs as the album is listed
    QList<std::int64_t> postTimes;     // per picture; missing: unknown
    // Hands each picture to the pool as a listing does before its next
    // page, and lists the next only once the pool has counted it (or after
    // 10 s).
    bool onePerPage = false;
};
QMap<int, FakeAlbum> g_fakeAlbums;
QList<int> g_listed;
int g_savedWhileListed = 0;

// Stands for a picture extractor: hands over the scripted pictures and ends
// its listing on the run states, as the real ones do.
void FakeExtractor(TamblinCore &core, int albumIndex)
{
    g_listed.append(albumIndex);
    const FakeAlbum album = g_fakeAlbums.value(albumIndex);
    if (album.whileListed)
        album.whileListed();
    for (int i = 0; i < album.urls.size(); ++i) {
        if (i == album.stopBefore)
            RequestDownloadStop(core);
        PictureExtras extras;
        extras.postTime = album.postTimes.value(i);
        AddPictureJob(core, album.urls[i], u"t%1"_s.arg(i), QString(), albumIndex, extras);
        if (core.m_downState == 2 || core.m_downState == 3)
            return;
        if (album.onePerPage) {
            FeedListedPictures();
            const auto listed = std::uint32_t(g_jobs.urls.size());
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (g_jobsDone < listed && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            g_savedWhileListed += QFileInfo::exists(g_jobs.FilePath(listed - 1)) ? 1 : 0;
        }
    }
}

class DriverTest : public PoolTestBase {
protected:
    DriverTest() : core(&window) {}

    void SetUp() override
    {
        PoolTestBase::SetUp();
        g_fakeAlbums.clear();
        g_listed.clear();
        g_savedWhileListed = 0;
        for (int mode = 0; mode < kSubModeCount; ++mode)
            SetPictureExtractor(mode, nullptr);
        SetPictureExtractor(0, FakeExtractor);
        core.m_appDir = dir.Path();
        core.m_listType = kSina;
        core.m_subMode = 0;
        core.m_settings.downParams[kSina] = DownParams{0, 0, 2, 10};
        Rules().fileNameMode = 1;
        window.SetSavePath(dir.Path());
        // What a front end does at start-up.
        g_jobs.progressWindow = &window;
        g_jobs.progressControlId = kIdStatusPicture;
    }

    void TearDown() override
    {
        SetPictureExtractor(0, nullptr);
        g_jobs.report = {};
        PoolTestBase::TearDown();
    }

    SiteRules &Rules() { return core.m_settings.siteRules[kSina]; }

    int AddAlbum(const QString &name, const QStringList &urls)
    {
        ST_PERLISTRECORD album;
        album.name = name;
        const int index = core.m_albums.AddAlbum(album) - 1;
        g_fakeAlbums[index].urls = urls;
        return index;
    }

    DownloadSummary Run(const DownloadOptions &options = {})
    {
        core.m_downState = 1; // as the button leaves it
        DownloadSummary summary = RunDownload(core, options);
        EXPECT_EQ(core.m_downState, 0);
        return summary;
    }

    // Fails with `status` for its first `failures` requests, then answers.
    static QString FailingFirst(const QString &key, int failures, int status = 503)
    {
        return Url(u"/count?key=%1&fail=%2&failstatus=%3&text=picture-%1"_s.arg(key).arg(failures).arg(status));
    }

    QString Folder(const QString &album) const { return dir.Path() + album + QDir::separator(); }

    TamblinCore core;
};

TEST_F(DriverTest, SavePathChecks)
{
    window.SetSavePath(u"   "_s);
    Run();
    EXPECT_EQ(window.Messages(), QStringList{u"请先设置保存路径"_s});

    dir.Write(u"file"_s, "x");
    window.SetSavePath(dir.File(u"file/sub"_s));
    Run();
    EXPECT_EQ(window.Messages(),
              (QStringList{u"请先设置保存路径"_s, dir.File(u"file"_s), u"请检测设置的保存路径是否有误"_s}));
    EXPECT_FALSE(window.Events().contains(u"DownBusy"_s));
    EXPECT_TRUE(g_listed.isEmpty());
}

TEST_F(DriverTest, DownloadsEachChosenAlbumInOrder)
{
    const int a = AddAlbum(u"Alpha"_s, {Picture(1100, 0, u"a1"_s), Picture(1200), Picture(1300)});
    const int b = AddAlbum(u"Beta"_s, {Picture(2100), Picture(2200)});
    AddAlbum(u"Gamma"_s, {Picture(1)});
    window.SetChosen({b, a});
    // Blanks around a path without a final separator, then the folders of
    // the last list run.
    window.SetSavePath(u"  "_s + dir.Path() + u"save  "_s);
    core.m_userFolder = u"user"_s + QDir::separator();
    core.m_subFolder = u"sub"_s + QDir::separator();
    Rules().flags = kOpenFolderWhenDone | kFixOrder;

    Run();

    const QString base = dir.Path() + u"save/user/sub/"_s;
    EXPECT_EQ(g_listed, (QList<int>{b, a}));
    EXPECT_EQ(core.m_albums.selectedCount, 2);
    EXPECT_EQ(Entries(base + u"Beta"_s), (QStringList{u"1.jpg"_s, u"2.jpg"_s, u"pic.orv"_s}));
    EXPECT_EQ(Entries(base + u"Alpha"_s), (QStringList{u"1.jpg"_s, u"2.jpg"_s, u"3.jpg"_s, u"pic.orv"_s}));
    EXPECT_EQ(QFileInfo(base + u"Alpha/3.jpg"_s).size(), 1300);
    QString first;
    ReadLastFirstUrl(first, base + u"Alpha/"_s);
    EXPECT_EQ(first, Picture(1100, 0, u"a1"_s));
    // The order fix-up dates later pictures earlier.
    EXPECT_GT(QFileInfo(base + u"Alpha/1.jpg"_s).lastModified(),
              QFileInfo(base + u"Alpha/2.jpg"_s).lastModified());

    const QStringList events = window.Events();
    ASSERT_FALSE(events.isEmpty());
    EXPECT_EQ(events.first(), u"DownBusy"_s);
    EXPECT_EQ(events.last(), u"OpenFolder:"_s + base + u"Alpha/"_s);
    EXPECT_EQ(events[events.size() - 2], u"DownIdle"_s);
    EXPECT_EQ(window.Texts(1009), (QStringList{u"正在下载第1/2个图集"_s, u"正在下载第2/2个图集"_s, u"下载完毕"_s}));
    const QStringList beta = window.Texts(1006).mid(0, 6);
    EXPECT_EQ(beta, (QStringList{u"......"_s, u"已获取到1张图片信息"_s, u"已获取到2张图片信息"_s,
                                 u"已开始下载图片"_s, u"已下载1/2......"_s, u"已下载2/2......"_s}));
    EXPECT_EQ(window.LastText(1006), QString());
}

TEST_F(DriverTest, PicturesDownloadWhileTheAlbumIsListed)
{
    auto &a = g_fakeAlbums[AddAlbum(u"A"_s, {Picture(100), Picture(200), Picture(300), Picture(400)})];
    a.onePerPage = true;
    window.SetChosen({0});

    const DownloadSummary summary = Run();

    // Each picture was on disk before the next was listed, under its number
    // in listing order; the count's total grew with the listing.
    EXPECT_EQ(g_savedWhileListed, 4);
    EXPECT_EQ(Entries(Folder(u"A"_s)), (QStringList{u"1.jpg"_s, u"2.jpg"_s, u"3.jpg"_s, u"4.jpg"_s, u"pic.orv"_s}));
    EXPECT_EQ(QFileInfo(Folder(u"A"_s) + u"4.jpg"_s).size(), 400);
    EXPECT_EQ(summary.pictures.saved, 4u);
    const QStringList counts = window.Texts(1006).filter(u"已下载"_s);
    EXPECT_EQ(counts.first(), u"已下载1/1......"_s);
    EXPECT_EQ(counts.last(), u"已下载4/4......"_s);
}

TEST_F(DriverTest, HostileUserFoldersStayInsideTheSaveFolder)
{
    AddAlbum(u"A"_s, {Picture(10)});
    window.SetChosen({0});
    core.m_userFolder = u"../../escape/"_s;
    core.m_subFolder = u"/abs/./"_s;

    Run();

    EXPECT_EQ(Entries(), QStringList{u"escape"_s});
    EXPECT_TRUE(QFileInfo::exists(dir.Path() + u"escape/abs/A/1.jpg"_s));
}

TEST_F(DriverTest, ListOnlyWritesTheListAndFetchesNothing)
{
    AddAlbum(u"相册"_s, {Picture(10, 0, u"lo1"_s), Picture(20, 0, u"lo2"_s) + u"\r\nhttp://fallback/x"_s,
                        Picture(30, 0, u"lo3"_s)});
    window.SetChosen({0});
    Rules().flags = kListOnly | kOpenFolderWhenDone | kWriteTitles;

    Run();

    EXPECT_EQ(Entries(Folder(u"相册"_s)), (QStringList{u"相册.aria2.txt"_s, u"相册.lst"_s, u"相册.txt"_s}));
    QFile list(Folder(u"相册"_s) + u"相册.lst"_s);
    ASSERT_TRUE(list.open(QIODevice::ReadOnly));
    const QByteArray expected = (Picture(10, 0, u"lo1"_s) + u"\r\n"_s + Picture(20, 0, u"lo2"_s)
                                 + u"\r\nhttp://fallback/x\r\n"_s + Picture(30, 0, u"lo3"_s) + u"\r\n"_s).toLatin1();
    EXPECT_EQ(list.readAll(), expected);
    // The aria2 list keeps a fallback as a second source of the same file.
    QFile aria2(Folder(u"相册"_s) + u"相册.aria2.txt"_s);
    ASSERT_TRUE(aria2.open(QIODevice::ReadOnly));
    EXPECT_TRUE(aria2.readAll().contains((Picture(20, 0, u"lo2"_s) + u"\thttp://fallback/x\n  out="_s).toUtf8()));
    EXPECT_TRUE(fetches->Started().isEmpty());
    EXPECT_EQ(Hits(u"lo1"_s), 0);
    EXPECT_EQ(window.Events().last(), u"OpenFolder:"_s + Folder(u"相册"_s));
}

TEST_F(DriverTest, NoAlbumChosenAndAlbumsWithoutPictures)
{
    Rules().flags = kOpenFolderWhenDone;
    Run();
    ASSERT_EQ(window.Messages().size(), 1);
    EXPECT_FALSE(StoredText(kTextNoAlbumChosen).isEmpty());
    EXPECT_EQ(window.Messages().first(), StoredText(kTextNoAlbumChosen));
    EXPECT_EQ(window.Events().last(), u"DownIdle"_s);

    AddAlbum(u"Empty"_s, {});
    window.SetChosen({0});
    Run();
    EXPECT_EQ(window.Messages().size(), 1);
    EXPECT_EQ(g_listed, QList<int>{0});
    EXPECT_FALSE(window.Events().contains(u"OpenFolder:"_s + dir.Path()));
    EXPECT_EQ(window.Events().last(), u"DownIdle"_s);
}

TEST_F(DriverTest, ExtractorDispatch)
{
    AddAlbum(u"A"_s, {Picture(10)});
    AddAlbum(u"B"_s, {Picture(10)});
    window.SetChosen({0, 1});

    core.m_subMode = 1; // no extractor registered
    Run();
    core.m_subMode = 0;
    core.m_listType = 5; // a site without extractors
    Run();
    EXPECT_TRUE(g_listed.isEmpty());
    EXPECT_TRUE(window.Messages().isEmpty());

    core.m_listType = 17;
    Run();
    EXPECT_EQ(window.Messages(), (QStringList{u"Error ListType Code."_s, u"Error ListType Code."_s}));
    EXPECT_TRUE(g_listed.isEmpty());
    EXPECT_TRUE(fetches->Started().isEmpty());
}

TEST_F(DriverTest, StopWhileListingDownloadsNothingOfTheAlbum)
{
    auto &a = g_fakeAlbums[AddAlbum(u"A"_s, {Picture(10), Picture(20), Picture(30)})];
    a.stopBefore = 2;
    AddAlbum(u"B"_s, {Picture(10)});
    window.SetChosen({0, 1});

    Run();

    EXPECT_EQ(g_listed, QList<int>{0});
    EXPECT_TRUE(fetches->Started().isEmpty());
    EXPECT_TRUE(Entries(Folder(u"A"_s)).isEmpty());
    EXPECT_EQ(window.Events().last(), u"DownIdle"_s);
}

TEST_F(DriverTest, StopWhileThePoolRunsWritesNoRecord)
{
    core.m_settings.downParams[kSina].threads = 2;
    QStringList urls{Picture(500, 100)};
    for (int i = 1; i < 8; ++i)
        urls << Picture(4000, 1200);
    AddAlbum(u"A"_s, urls);
    AddAlbum(u"B"_s, {Picture(10)});
    window.SetChosen({0, 1});
    Rules().flags = kFixFormat;

    std::thread stopper([this] {
        while (fetches->StartedCount() < 2)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        RequestDownloadStop(core);
    });
    Run();
    stopper.join();

    EXPECT_EQ(g_listed, QList<int>{0});
    EXPECT_EQ(fetches->Started().size(), 2);
    // The picture still on its way when the pool stopped was finished, and
    // the format fix-up ran over it: pattern bytes are no known format. The
    // six never begun are listed for a retry.
    EXPECT_EQ(Entries(Folder(u"A"_s)), (QStringList{u"1.jpg"_s, u"2.jpg"_s, u"failed.txt"_s}));
    EXPECT_EQ(ReadFailedList(Folder(u"A"_s)).size(), 6);
    EXPECT_EQ(ReadFailedList(Folder(u"A"_s)).first().reason, u"stopped"_s);
    EXPECT_EQ(QFileInfo(Folder(u"A"_s) + u"2.jpg"_s).size(), 4000);
    EXPECT_EQ(fetches->Running(), 0);
}

TEST_F(DriverTest, ParametersGivenForOneRunOverrideTheSite)
{
    AddAlbum(u"A"_s, {Picture(1024), Picture(3 * 1024, 200), Picture(4 * 1024, 200)});
    window.SetChosen({0});
    core.m_downState = 1;
    RunDownload(core, {DownParams{2, 0, 1, 10}});

    EXPECT_EQ(fetches->MaxRunning(), 1);
    // The first picture was below the limit: no record names it.
    EXPECT_EQ(Entries(Folder(u"A"_s)), (QStringList{u"2.jpg"_s, u"3.jpg"_s}));
    EXPECT_EQ(core.m_settings.downParams[kSina].minKb, 0);
    EXPECT_EQ(core.m_settings.downParams[kSina].threads, 2);
}

TEST_F(DriverTest, SkipRuleAcrossThreeRuns)
{
    Rules().flags = kSkipDownloaded;
    const int album = AddAlbum(u"A"_s, {Picture(11, 0, u"s1"_s), Picture(12, 0, u"s2"_s)});
    window.SetChosen({album});
    Run();
    EXPECT_EQ(Entries(Folder(u"A"_s)), (QStringList{u"1.jpg"_s, u"2.jpg"_s, u"pic.orv"_s}));

    // Two new pictures appeared before the old first one.
    g_fakeAlbums[album].urls.prepend(Picture(14, 0, u"s4"_s));
    g_fakeAlbums[album].urls.prepend(Picture(13, 0, u"s3"_s));
    for (int run = 0; run < 2; ++run) {
        Run();
        EXPECT_EQ(Hits(u"s1"_s), 1) << run;
        EXPECT_EQ(Hits(u"s3"_s), run + 1);
        QString first;
        ReadLastFirstUrl(first, Folder(u"A"_s));
        EXPECT_EQ(first, Picture(11, 0, u"s1"_s));
    }
}

TEST_F(DriverTest, PostTimesAndReportsFollowTheFixUps)
{
    const std::int64_t posted = 1614054527; // Tue Feb 23 12:28:47 +0800 2021
    const int a = AddAlbum(u"A"_s, {Url(u"/body?hex=89504e470d0a1a0a"_s), Picture(300), Url(u"/body?status=404"_s)});
    g_fakeAlbums[a].postTimes = {posted, 0, posted};
    window.SetChosen({a});
    Rules().flags = kFixFormat | kFixOrder | kSkipDownloaded;
    QStringList reports;
    g_jobs.report = [&](const PictureReport &r) {
        reports.append(u"%1 %2 %3 %4 %5"_s.arg(int(r.kind)).arg(r.path, r.reason).arg(r.bytes).arg(r.pictures));
    };
    const auto mtime = [&](const QString &name) {
        return QFileInfo(Folder(u"A"_s) + name).lastModified().toSecsSinceEpoch();
    };

    DownloadSummary summary = Run();
    ASSERT_EQ(reports.size(), 4) << reports.join(u'|').toStdString();
    // The saved path is the one the format fix-up gave.
    EXPECT_EQ(reports.mid(0, 3), (QStringList{u"0   0 3"_s, u"1 %1 %2 8 0"_s.arg(Folder(u"A"_s) + u"1.png"_s, QString()),
                                              u"1 %1  300 0"_s.arg(Folder(u"A"_s) + u"2.jpg"_s)}));
    EXPECT_TRUE(reports[3].startsWith(u"3 3.jpg HTTP 404"_s)) << reports[3].toStdString();
    // A known post time wins over the order's; the others keep the order's.
    EXPECT_EQ(mtime(u"1.png"_s), posted);
    EXPECT_NEAR(mtime(u"2.jpg"_s), QDateTime::currentSecsSinceEpoch() - 60, 5);
    EXPECT_EQ(summary.ruleSkips, 0u);

    // Switched off, a post time is not used. A new picture ahead of the old
    // first one, then the skip rule ends the listing in the album's folder.
    dir.Write(u"下载器扩展设置.ini"_s, "[下载]\n文件时间用发布时间=0\n");
    Rules().flags = kSkipDownloaded;
    g_fakeAlbums[a].urls.prepend(Picture(400));
    g_fakeAlbums[a].postTimes.prepend(posted);
    reports.clear();
    summary = Run();
    EXPECT_EQ(reports, (QStringList{u"0   0 1"_s, u"2 %1 skip-rule 0 0"_s.arg(Folder(u"A"_s)),
                                    u"1 %1  400 0"_s.arg(Folder(u"A"_s) + u"1.jpg"_s)}));
    EXPECT_NEAR(mtime(u"1.jpg"_s), QDateTime::currentSecsSinceEpoch(), 5);
    EXPECT_EQ(summary.ruleSkips, 1u);
}

TEST_F(DriverTest, AnAlbumWhosePicturesAllFailIsListedAndNotSkippedNextTime)
{
    Rules().flags = kSkipDownloaded;
    // A 503 is tried three times in all, a 404 once.
    const QStringList urls{FailingFirst(u"all1"_s, 3), FailingFirst(u"all2"_s, 1, 404), FailingFirst(u"all3"_s, 3)};
    const int a = AddAlbum(u"A"_s, urls);
    const int b = AddAlbum(u"B"_s, {Picture(20)});
    window.SetChosen({a, b});

    DownloadSummary first = Run();
    // No record names a picture that never arrived, so the skip rule cannot
    // pass the album by next time.
    EXPECT_EQ(Entries(Folder(u"A"_s)), QStringList{u"failed.txt"_s});
    const QList<FailedPicture> failed = ReadFailedList(Folder(u"A"_s));
    ASSERT_EQ(failed.size(), 3);
    EXPECT_EQ(failed[1].url, urls[1]);
    EXPECT_EQ(failed[1].fileName, u"2.jpg"_s);
    EXPECT_TRUE(failed[1].reason.startsWith(u"HTTP 404 from 127.0.0.1"_s)) << failed[1].reason.toStdString();
    EXPECT_EQ(first.pictures.failed, 3u);
    EXPECT_EQ(first.pictures.saved, 1u);
    EXPECT_EQ(first.failedLists, QStringList{Folder(u"A"_s) + u"failed.txt"_s});
    EXPECT_EQ(window.Texts(1009).last(), u"下载完毕"_s);
    EXPECT_EQ(window.LastText(1006), u"3张图片下载失败，见 failed.txt"_s);

    DownloadSummary second = Run();
    EXPECT_EQ(Entries(Folder(u"A"_s)), (QStringList{u"1.jpg"_s, u"2.jpg"_s, u"3.jpg"_s, u"pic.orv"_s}));
    EXPECT_EQ(second.pictures.failed, 0u);
    EXPECT_TRUE(second.failedLists.isEmpty());
    EXPECT_EQ(window.LastText(1006), QString());
}

TEST_F(DriverTest, ARetryFetchesExactlyTheListedPicturesUnderTheirNames)
{
    const int a = AddAlbum(u"A"_s, {Picture(10, 0, u"walk"_s)});
    window.SetChosen({a});
    ASSERT_TRUE(QDir().mkpath(Folder(u"A"_s)));
    // A clip's line, as older versions wrote it (no post): outside the
    // size limits, as its first run had it.
    ASSERT_TRUE(WriteFailedList(Folder(u"A"_s), {{Picture(300, 0, u"r1"_s), u"one.png"_s, u"x"_s},
                                                 {FailingFirst(u"r2"_s, 5), u"two.jpg"_s, u"x"_s},
                                                 {Picture(500, 0, u"r3"_s), u"three.gif"_s, u"x"_s},
                                                 {Picture(3000, 0, u"r4"_s), u"four.mov"_s, u"x"_s}}));

    const DownloadSummary summary = Run({DownParams{0, 1, 2, 10}, true});

    // No page was walked, nothing else fetched; what failed again stays listed.
    EXPECT_TRUE(g_listed.isEmpty());
    // The failing one three times: its second and third tries.
    EXPECT_EQ(fetches->Started().size(), 6);
    EXPECT_EQ(Entries(Folder(u"A"_s)), (QStringList{u"failed.txt"_s, u"four.mov"_s, u"one.png"_s, u"three.gif"_s}));
    EXPECT_EQ(QFileInfo(Folder(u"A"_s) + u"one.png"_s).size(), 300);
    const QList<FailedPicture> left = ReadFailedList(Folder(u"A"_s));
    ASSERT_EQ(left.size(), 1);
    EXPECT_EQ(left[0].fileName, u"two.jpg"_s);
    EXPECT_EQ(summary.pictures.saved, 3u);
    EXPECT_EQ(summary.pictures.failed, 1u);
}

TEST_F(DriverTest, AnAlbumFolderThatCannotHoldFilesFailsItsPictures)
{
    // A file where the album folder belongs (a read-only folder would not
    // stop a test run as root).
    dir.Write(u"A"_s, "not a folder");
    AddAlbum(u"A"_s, {Picture(10), Picture(20)});
    window.SetChosen({0});

    const DownloadSummary summary = Run();

    EXPECT_EQ(summary.pictures.failed, 2u);
    EXPECT_EQ(summary.pictures.saved, 0u);
    EXPECT_TRUE(summary.failedLists.isEmpty()); // nowhere to write it
    // Said once, naming the folder; nothing fetched that could not be kept.
    EXPECT_EQ(summary.foldersNotMade, QStringList{Folder(u"A"_s)});
    EXPECT_EQ(window.Messages(), QStringList{u"无法创建相册文件夹："_s + Folder(u"A"_s)});
    EXPECT_EQ(fetches->StartedCount(), 0);
    EXPECT_EQ(window.LastText(1006), u"2张图片下载失败（failed.txt 无法写入）"_s);
    EXPECT_EQ(dir.Read(u"A"_s), QByteArray("not a folder"));
}

TEST_F(DriverTest, BelowTheSaveFolderNoLinkIsWrittenThrough)
{
    // The save folder itself may be a link (to another disk).
    ASSERT_TRUE(QDir().mkpath(dir.File(u"disk"_s)));
    ASSERT_TRUE(QFile::link(dir.File(u"disk"_s), dir.File(u"save"_s)));
    window.SetSavePath(dir.File(u"save"_s));
    // Below it, B's folder is a link planted to a place outside.
    ASSERT_TRUE(QDir().mkpath(dir.File(u"disk/outside"_s)));
    ASSERT_TRUE(QFile::link(dir.File(u"disk/outside"_s), dir.File(u"disk/B"_s)));
    AddAlbum(u"A"_s, {Picture(10)});
    AddAlbum(u"B"_s, {Picture(20, 0, u"b20"_s), Picture(30, 0, u"b30"_s)});
    window.SetChosen({0, 1});

    const DownloadSummary summary = Run();

    EXPECT_EQ(Entries(dir.File(u"disk/A/"_s)), (QStringList{u"1.jpg"_s, u"pic.orv"_s}));
    const QString link = dir.File(u"save/B"_s);
    EXPECT_EQ(window.Messages(), QStringList{u"文件夹是链接，不写入："_s + link});
    EXPECT_EQ(summary.folderLinks, QStringList{link});
    EXPECT_EQ(summary.pictures.saved, 1u);
    EXPECT_EQ(summary.pictures.failed, 2u);
    EXPECT_EQ(Hits(u"b20"_s) + Hits(u"b30"_s), 0);
    EXPECT_TRUE(Entries(dir.File(u"disk/outside/"_s)).isEmpty());
}

TEST_F(DriverTest, LossesAreReportedNotPassedOffAsSuccess)
{
    const int empty = AddAlbum(u"E"_s, {}); // an unknown count, no picture
    const int none = AddAlbum(u"Z"_s, {});
    core.m_albums.items[std::size_t(none)]->count = 0; // said to be empty: fine
    const int unlisted = AddAlbum(u"L"_s, {Url(u"/body?status=404&text=x"_s)});
    // Something in the way of L's failed.txt, as a full disk would be.
    ASSERT_TRUE(QDir().mkpath(Folder(u"L"_s) + u"failed.txt"_s));
    window.SetChosen({empty, none, unlisted});

    const DownloadSummary first = Run();
    EXPECT_EQ(first.emptyAlbums, QStringList{u"E"_s});
    EXPECT_EQ(first.failedListsNotWritten, QStringList{Folder(u"L"_s) + u"failed.txt"_s});
    ASSERT_EQ(first.unrecordedFailures.size(), 1);
    EXPECT_TRUE(first.unrecordedFailures[0].startsWith(Url(u"/body?status=404&text=x"_s) + u"\t1.jpg\tHTTP 404"_s));
    EXPECT_TRUE(first.failedLists.isEmpty());
    EXPECT_EQ(window.LastText(1006), u"1张图片下载失败（failed.txt 无法写入）；1个相册没有获取到图片"_s);

    // A retry has nothing to go by for L and says so; E was never listed.
    window.SetChosen({unlisted});
    const DownloadSummary retry = Run({std::nullopt, true});
    EXPECT_EQ(retry.nothingToRetry, QStringList{u"L"_s});
    EXPECT_TRUE(retry.emptyAlbums.isEmpty());

    // Once L's list can be written again, the mark goes with the next run.
    ASSERT_TRUE(QDir(Folder(u"L"_s) + u"failed.txt"_s).removeRecursively());
    Run();
    EXPECT_EQ(ReadFailedList(Folder(u"L"_s)).size(), 1);
    EXPECT_TRUE(Run({std::nullopt, true}).nothingToRetry.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dir.File(u"failed-unrecorded.txt"_s)));
}

TEST_F(DriverTest, OptionBitsAreReadForEachAlbum)
{
    AddAlbum(u"A"_s, {Picture(10)});
    const int b = AddAlbum(u"B"_s, {Picture(20)});
    // The menu turns list-only on while B is being listed.
    g_fakeAlbums[b].whileListed = [this] { Rules().flags |= kListOnly; };
    window.SetChosen({0, b});

    Run();

    EXPECT_EQ(Entries(Folder(u"A"_s)), (QStringList{u"1.jpg"_s, u"pic.orv"_s}));
    EXPECT_EQ(Entries(Folder(u"B"_s)), (QStringList{u"B.aria2.txt"_s, u"B.lst"_s}));
}

TEST_F(DriverTest, ButtonStartsAndStopsARun)
{
    AddAlbum(u"A"_s, {Picture(10, 800), Picture(10, 800), Picture(10, 800)});
    window.SetChosen({0});
    core.m_settings.downParams[kSina].threads = 1;

    std::optional<std::thread> run = PressDownloadButton(core);
    ASSERT_TRUE(run.has_value());
    EXPECT_NE(core.m_downState, 0);
    while (fetches->StartedCount() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(PressDownloadButton(core).has_value());
    EXPECT_TRUE(g_stopDownload);
    run->join();

    EXPECT_EQ(core.m_downState, 0);
    EXPECT_EQ(fetches->Started().size(), 1);
    EXPECT_FALSE(QFileInfo::exists(Folder(u"A"_s) + u"pic.orv"_s));
}

} // namespace

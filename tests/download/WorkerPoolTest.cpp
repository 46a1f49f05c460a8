#include "WorkerPoolTestSupport.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

using namespace tamblin;
using namespace tamblin::test;
using namespace Qt::StringLiterals;

namespace {

class PoolTest : public PoolTestBase {
protected:
    void RunPool()
    {
        std::optional<std::thread> pool = StartDownloadPool();
        ASSERT_TRUE(pool.has_value());
        pool->join();
    }

    qint64 Size(const QString &name) const { return QFileInfo(dir.File(name)).size(); }

    // Fails with `status` for its first `failures` requests, then answers.
    static QString FailingFirst(const QString &key, int failures, int status)
    {
        return Url(u"/count?key=%1&fail=%2&failstatus=%3&text=picture-%1"_s.arg(key).arg(failures).arg(status));
    }
};

TEST_F(PoolTest, ThreeJobsFiveThreadsRunAtOnceAndReportEachCount)
{
    for (int i = 0; i < 3; ++i)
        AddJob(Picture(2000 + i, 300), u"%1.jpg"_s.arg(i));
    g_jobs.progressWindow = &window;
    std::int64_t doneTotal = -1;
    g_jobs.poolDone = [&doneTotal](std::int64_t, std::uint32_t total) { doneTotal = total; };

    RunPool();

    EXPECT_EQ(fetches->MaxRunning(), 3);
    EXPECT_EQ(PoolFolder(), QString());
    EXPECT_EQ(Entries(), (QStringList{u"0.jpg"_s, u"1.jpg"_s, u"2.jpg"_s}));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Size(u"%1.jpg"_s.arg(i)), 2000 + i);
    EXPECT_EQ(window.Texts(1006),
              (QStringList{u"已下载1/3......"_s, u"已下载2/3......"_s, u"已下载3/3......"_s}));
    EXPECT_EQ(doneTotal, 3);
    EXPECT_EQ(g_jobsDone, 3u);
    EXPECT_EQ(g_jobsTotal, 3u);
    EXPECT_FALSE(g_poolRunning);
}

TEST_F(PoolTest, TenJobsTwoThreadsStartInIndexOrder)
{
    QStringList urls;
    for (int i = 0; i < 10; ++i) {
        // Uneven holds, so that the two slots free up in changing order.
        urls << Picture(1000 + i, (i % 3) * 60);
        AddJob(urls.last(), u"p%1.png"_s.arg(i));
    }
    g_threadCount = 2;
    g_jobs.progressWindow = &window;
    // Records the order in which the supervisor hands the jobs out, and how
    // many fetches had ended by then.
    QList<std::uint32_t> handedOut;
    QList<int> endedBefore;
    auto log = fetches;
    SetWorkerStarter([&, log](std::uint32_t job, std::function<void()> body) {
        handedOut.append(job);
        endedBefore.append(log->Ended());
        return std::thread(std::move(body));
    });

    RunPool();

    EXPECT_EQ(handedOut, (QList<std::uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    // Jobs 0 and 1 at once; each later one in the slot of an ended worker.
    EXPECT_EQ(endedBefore[0], 0);
    EXPECT_EQ(endedBefore[1], 0);
    for (int k = 2; k < 10; ++k)
        EXPECT_GE(endedBefore[k], k - 1) << k;
    QStringList started = fetches->Started();
    started.sort();
    EXPECT_EQ(started, urls);
    EXPECT_EQ(fetches->MaxRunning(), 2);
    EXPECT_EQ(Entries().size(), 10);
    QStringList expected;
    for (int i = 1; i <= 10; ++i)
        expected << u"已下载%1/10......"_s.arg(i);
    EXPECT_EQ(window.Texts(1006), expected);
}

TEST_F(PoolTest, FallbackAddressAndFullPaths)
{
    TempDir elsewhere;
    // An empty answer from the first address: the second is fetched into
    // the same file.
    AddJob(Url(u"/body?size=0&key=fbA"_s) + u"\r\n"_s + Picture(3000, 0, u"fbB"_s), u"a.jpg"_s);
    // A first address that delivers: the fallback is never asked.
    AddJob(Picture(1500, 0, u"fbC"_s) + u"\r\n"_s + Picture(10, 0, u"fbD"_s), u"b.jpg"_s);
    // No fallback: one fetch only.
    AddJob(Url(u"/body?size=0&key=fbE"_s), u"c.jpg"_s);
    AddJob(Picture(700), elsewhere.File(u"full.gif"_s));
    g_jobs.headers = QStringList{u"X-A: 1"_s, QString(), QString(), QString()};

    RunPool();

    EXPECT_EQ(Size(u"a.jpg"_s), 3000);
    EXPECT_EQ(Size(u"b.jpg"_s), 1500);
    EXPECT_EQ(Hits(u"fbA"_s), 1);
    EXPECT_EQ(Hits(u"fbB"_s), 1);
    EXPECT_EQ(Hits(u"fbD"_s), 0);
    EXPECT_EQ(Hits(u"fbE"_s), 1);
    EXPECT_EQ(QFileInfo(elsewhere.File(u"full.gif"_s)).size(), 700);
    EXPECT_FALSE(QFileInfo::exists(dir.File(elsewhere.File(u"full.gif"_s))));
    EXPECT_EQ(fetches->Started().size(), 5);
}

TEST_F(PoolTest, SizeLimitsLeaveNoFileAndNoPartialFile)
{
    g_minKb = 2;
    g_maxKb = 4;
    AddJob(Picture(1 * 1024), u"small.jpg"_s);
    AddJob(Picture(3 * 1024), u"fits.jpg"_s);
    AddJob(Picture(5 * 1024), u"large.jpg"_s);
    AddJob(Url(u"/body?size=6000&len=none"_s), u"large-unannounced.jpg"_s);
    AddJob(Picture(4 * 1024), u"edge.jpg"_s);

    RunPool();

    EXPECT_EQ(Entries(), (QStringList{u"edge.jpg"_s, u"fits.jpg"_s}));
    EXPECT_EQ(g_jobsDone, 5u);
}

TEST_F(PoolTest, EveryPictureEndsSavedSkippedOrFailedWithAReason)
{
    g_maxKb = 1;
    struct Case {
        QString url;
        PictureOutcome outcome;
        QString reason; // the start of it
    };
    const QList<Case> cases{
        {Picture(800), PictureOutcome::Saved, QString()},
        {Url(u"/body?status=404&text=gone"_s), PictureOutcome::Failed, u"HTTP 404 from 127.0.0.1"_s},
        {Url(u"/body?status=503&size=100"_s), PictureOutcome::Failed, u"HTTP 503 from 127.0.0.1"_s},
        {u"http://127.0.0.1:1/refused.jpg"_s, PictureOutcome::Failed, u"could not reach 127.0.0.1"_s},
        {Url(u"/body?size=0"_s), PictureOutcome::Failed, u"empty answer from 127.0.0.1"_s},
        {Picture(2000), PictureOutcome::SkippedBySize, u"size outside the limits"_s},
        {Url(u"/body?status=404&text=x"_s) + u"\r\n"_s + Picture(700), PictureOutcome::Saved, QString()},
    };
    for (int i = 0; i < cases.size(); ++i)
        AddJob(cases[i].url, u"%1.jpg"_s.arg(i));

    RunPool();

    const std::vector<PictureResult> results = PoolResults();
    ASSERT_EQ(results.size(), std::size_t(cases.size()));
    for (int i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].url.toStdString());
        EXPECT_EQ(results[std::size_t(i)].outcome, cases[i].outcome);
        EXPECT_TRUE(results[std::size_t(i)].reason.startsWith(cases[i].reason))
            << results[std::size_t(i)].reason.toStdString();
    }
    // Only saved pictures are on disk: no error page, no empty file.
    EXPECT_EQ(Entries(), (QStringList{u"0.jpg"_s, u"6.jpg"_s}));
    const PictureCounts counts = PoolCounts();
    EXPECT_EQ(counts.saved, 2u);
    EXPECT_EQ(counts.skipped, 1u);
    EXPECT_EQ(counts.failed, 4u);
}

TEST_F(PoolTest, FailuresOnTheWayAreTriedAgainAndRateLimitsPauseEveryWorker)
{
    struct Case {
        QString key;
        int failures;
        int status;
        PictureOutcome outcome;
        int hits;
    };
    const QList<Case> cases{
        {u"t503"_s, 2, 503, PictureOutcome::Saved, 3},  // saved at the third try
        {u"f503"_s, 3, 503, PictureOutcome::Failed, 3}, // three tries in all
        {u"t500"_s, 1, 500, PictureOutcome::Saved, 2},
        {u"f404"_s, 1, 404, PictureOutcome::Failed, 1}, // not retried
        {u"r432"_s, 2, 432, PictureOutcome::Saved, 3},  // rate limits are waited out
    };
    for (const Case &c : cases)
        AddJob(FailingFirst(c.key, c.failures, c.status), c.key + u".jpg"_s);
    // A refused connection is tried three times too.
    AddJob(u"http://127.0.0.1:1/refused.jpg"_s, u"refused.jpg"_s);

    RunPool();

    const std::vector<PictureResult> results = PoolResults();
    for (int i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].key.toStdString());
        EXPECT_EQ(results[std::size_t(i)].outcome, cases[i].outcome);
        EXPECT_EQ(Hits(cases[i].key), cases[i].hits);
    }
    EXPECT_EQ(fetches->Started().count(u"http://127.0.0.1:1/refused.jpg"_s), 3);
    EXPECT_FALSE(PictureRateLimitGaveUp());

    // A host that never stops: six pauses in the run, then every picture
    // left fails as rate limited, without a fetch.
    g_jobs.Clear();
    ResetPictureRateLimit(); // as a new run does
    SetServiceWaitScale(0.001);
    AddJob(FailingFirst(u"never"_s, 1000, 429), u"never.jpg"_s);
    AddJob(Picture(100, 0, u"after"_s), u"after.jpg"_s);
    g_threadCount = 1;
    RunPool();
    EXPECT_EQ(Hits(u"never"_s), 7);
    EXPECT_EQ(Hits(u"after"_s), 0);
    for (const PictureResult &result : PoolResults())
        EXPECT_TRUE(result.reason.startsWith(u"rate limited"_s)) << result.reason.toStdString();
    EXPECT_TRUE(PictureRateLimitGaveUp());
}

TEST_F(PoolTest, AStopEndsARateLimitPauseAtOnceAndTheLineCountsItDown)
{
    SetServiceWaitScale(1.0); // a real pause of about 5 s
    AddJob(FailingFirst(u"stop432"_s, 1000, 432), u"a.jpg"_s);
    g_jobs.progressWindow = &window;
    std::optional<std::thread> pool = StartDownloadPool();
    ASSERT_TRUE(pool.has_value());
    while (Hits(u"stop432"_s) < 1)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const auto stopped = std::chrono::steady_clock::now();
    g_stopDownload = true;
    pool->join();
    JoinAbandonedWorkers();
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(1));
    EXPECT_EQ(Hits(u"stop432"_s), 1);
    EXPECT_EQ(PoolResults().at(0).reason, u"stopped"_s);
    const QStringList texts = window.Texts(1006);
    // 5 s with a jitter of up to a fifth either way: the first second shown
    // is 4, 5 or 6.
    ASSERT_FALSE(texts.isEmpty());
    EXPECT_TRUE(texts.first() == u"请求过于频繁，4秒后重试"_s || texts.first() == u"请求过于频繁，5秒后重试"_s
                || texts.first() == u"请求过于频繁，6秒后重试"_s)
        << texts.join(u'|').toStdString();
}

TEST_F(PoolTest, StopTakesEffectWhenTheNextWorkerEnds)
{
    g_threadCount = 4;
    AddJob(Picture(1000, 200), u"0.jpg"_s);
    for (int i = 1; i < 12; ++i)
        AddJob(Picture(4000, 1500), u"%1.jpg"_s.arg(i));
    g_jobs.progressWindow = &window;
    bool notified = false;
    g_jobs.poolDone = [&notified](std::int64_t, std::uint32_t) { notified = true; };

    std::optional<std::thread> pool = StartDownloadPool();
    ASSERT_TRUE(pool.has_value());
    while (fetches->StartedCount() < 4)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(g_poolRunning);
    EXPECT_EQ(PoolFolder(), dir.Path());
    g_stopDownload = true;
    pool->join();

    // No job after the stop; three pictures still on their way.
    EXPECT_EQ(fetches->Started().size(), 4);
    EXPECT_EQ(fetches->Running(), 3);
    EXPECT_FALSE(g_poolRunning);
    EXPECT_TRUE(notified);
    EXPECT_TRUE(window.Texts(1006).isEmpty());

    // The job list may be reused at once: the stragglers hold copies.
    g_jobs.Clear();
    g_jobs.folder = u"/nonexistent/"_s;
    JoinAbandonedWorkers();
    EXPECT_EQ(fetches->Running(), 0);
    EXPECT_EQ(Entries(), (QStringList{u"0.jpg"_s, u"1.jpg"_s, u"2.jpg"_s, u"3.jpg"_s}));
    EXPECT_EQ(Size(u"3.jpg"_s), 4000);
    // The stragglers counted as they ended; the jobs never begun failed.
    EXPECT_EQ(PoolCounts().saved, 4u);
    EXPECT_EQ(PoolCounts().failed, 8u);
    EXPECT_EQ(PoolResults().back().reason, u"stopped"_s);
}

TEST_F(PoolTest, AStoppedRunGivesUpAPictureThatNeverEnds)
{
    // 500 bytes a second for ever: above the client's floor for slow
    // answers, so only the stop can end it.
    g_threadCount = 2;
    SetStragglerGrace(std::chrono::milliseconds(300));
    AddJob(Picture(100), u"quick.jpg"_s);
    AddJob(Url(u"/trickle?ms=2"_s), u"endless.jpg"_s);
    std::optional<std::thread> pool = StartDownloadPool();
    ASSERT_TRUE(pool.has_value());
    while (fetches->StartedCount() < 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    g_stopDownload = true;
    pool->join();

    // Without giving up, the pool and this would wait for ever (and the test
    // time out).
    JoinAbandonedWorkers();
    SetStragglerGrace(kStragglerGrace);
    EXPECT_EQ(fetches->Running(), 0);
    // Neither the picture nor its temporary file is left.
    EXPECT_EQ(Entries(), QStringList{u"quick.jpg"_s});
}

TEST_F(PoolTest, StragglersOfAStoppedPoolDoNotCountInTheNext)
{
    g_threadCount = 3;
    AddJob(Picture(100, 50), u"old0.jpg"_s);
    AddJob(Picture(2000, 900), u"old1.jpg"_s);
    AddJob(Picture(2000, 900), u"old2.jpg"_s);
    std::optional<std::thread> first = StartDownloadPool();
    ASSERT_TRUE(first.has_value());
    while (fetches->StartedCount() < 3)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    g_stopDownload = true;
    first->join();
    ASSERT_EQ(fetches->Running(), 2);

    // The next album: one slot, two slow pictures; the two old workers end
    // while it runs.
    g_jobs.Clear();
    g_jobs.progressWindow = &window;
    g_threadCount = 1;
    AddJob(Picture(3000, 600), u"new0.jpg"_s);
    AddJob(Picture(3001, 600), u"new1.jpg"_s);
    RunPool();

    EXPECT_EQ(Size(u"new0.jpg"_s), 3000);
    EXPECT_EQ(Size(u"new1.jpg"_s), 3001);
    EXPECT_EQ(window.Texts(1006), (QStringList{u"已下载1/2......"_s, u"已下载2/2......"_s}));
    EXPECT_EQ(g_jobsDone, 2u);
    JoinAbandonedWorkers();
    EXPECT_EQ(Size(u"old1.jpg"_s), 2000);
}

TEST_F(PoolTest, WorkersThatCannotStartOrThrowCountAsDone)
{
    int starts = 0;
    SetWorkerStarter([&starts](std::uint32_t job, std::function<void()> body) {
        ++starts;
        if (job % 2 == 1)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        return std::thread(std::move(body));
    });
    auto log = fetches;
    SetPictureFetcher([log](const UrlRequest &request) -> PictureFetch {
        if (request.url.contains(u"boom"))
            throw std::runtime_error("boom");
        return log->Fetch(request);
    });
    g_threadCount = 2;
    g_jobs.progressWindow = &window;
    for (int i = 0; i < 6; ++i)
        AddJob(Picture(100 + i) + (i == 2 ? u"&boom=1"_s : QString()), u"%1.jpg"_s.arg(i));

    RunPool();

    EXPECT_EQ(g_jobsDone, 6u);
    EXPECT_EQ(window.LastText(1006), u"已下载6/6......"_s);
    // Every second start failed; of the rest one threw.
    EXPECT_EQ(starts, 6);
    EXPECT_EQ(Entries().size(), 2);
    const std::vector<PictureResult> results = PoolResults();
    ASSERT_EQ(results.size(), 6u);
    EXPECT_EQ(results[1].reason, u"could not start a thread"_s);
    EXPECT_EQ(results[2].reason, u"internal error"_s);
    EXPECT_EQ(PoolCounts().failed, 4u);
}

TEST_F(PoolTest, ARunFetchesEachPictureOnceAndCopiesItAfterwards)
{
    TrackRunPictures(true);
    // Saved earlier in the run: a plain file, and one now a link elsewhere.
    TempDir other;
    other.Write(u"earlier.jpg"_s, "earlier bytes");
    other.Write(u"secret"_s, "secret");
    ASSERT_TRUE(QFile::link(other.File(u"secret"_s), other.File(u"link.jpg"_s)));
    NoteSavedPicture(Picture(10, 0, u"copied"_s), other.File(u"earlier.jpg"_s));
    NoteSavedPicture(Picture(20, 0, u"linked"_s), other.File(u"link.jpg"_s));
    // The same picture twice at once: one fetch, the other waits for it.
    AddJob(Picture(3000, 300, u"twice"_s), u"a.jpg"_s);
    AddJob(Picture(3000, 300, u"twice"_s), u"b.jpg"_s);
    AddJob(Picture(10, 0, u"copied"_s), u"c.jpg"_s);
    AddJob(Picture(20, 0, u"linked"_s), u"d.jpg"_s);

    RunPool();
    TrackRunPictures(false);

    EXPECT_EQ(Hits(u"twice"_s), 1);
    EXPECT_EQ(Size(u"a.jpg"_s), 3000);
    EXPECT_EQ(dir.Read(u"b.jpg"_s), dir.Read(u"a.jpg"_s));
    EXPECT_EQ(Hits(u"copied"_s), 0);
    EXPECT_EQ(dir.Read(u"c.jpg"_s), QByteArray("earlier bytes"));
    // A link is not followed: the picture is fetched instead.
    EXPECT_EQ(Hits(u"linked"_s), 1);
    EXPECT_EQ(Size(u"d.jpg"_s), 20);
    EXPECT_EQ(other.Read(u"secret"_s), QByteArray("secret"));
    // Copies count as saved; no temporary file is left.
    const std::vector<PictureResult> results = PoolResults();
    ASSERT_EQ(results.size(), 4u);
    EXPECT_NE(results[0].copied, results[1].copied);
    EXPECT_TRUE(results[2].copied);
    EXPECT_FALSE(results[3].copied);
    EXPECT_EQ(PoolCounts().saved, 4u);
    EXPECT_EQ(Entries(), (QStringList{u"a.jpg"_s, u"b.jpg"_s, u"c.jpg"_s, u"d.jpg"_s}));

    // Outside a run every job is fetched.
    g_jobs.Clear();
    AddJob(Picture(10, 0, u"copied"_s), u"e.jpg"_s);
    RunPool();
    EXPECT_EQ(Hits(u"copied"_s), 1);
}

TEST(PictureKey, SinaPicturesByIdAndSizeOtherAddressesAsTheyStand)
{
    const struct {
        QString a;
        QString b;
        bool same;
    } kCases[] = {
        // Host number, scheme, extension and signature do not matter.
        {u"https://wx1.sinaimg.cn/large/006pid.jpg"_s, u"http://ww3.sinaimg.cn/large/006pid.gif?Expires=1"_s, true},
        {u"https://wx1.sinaimg.cn/large/006pid.jpg"_s, u"https://wx1.sinaimg.cn/mw690/006pid.jpg"_s, false},
        {u"https://wx1.sinaimg.cn/large/006pid.jpg"_s, u"https://wx1.sinaimg.cn/large/006other.jpg"_s, false},
        {u"https://wx1.sinaimg.cn/large/"_s, u"https://wx2.sinaimg.cn/large/"_s, false},
        {u"http://example.com/a.jpg"_s, u"https://example.com/a.jpg"_s, false},
        {u"http://example.com/a.jpg?x=1"_s, u"http://example.com/a.jpg?x=2"_s, false},
    };
    for (const auto &c : kCases)
        EXPECT_EQ(PictureKey(c.a) == PictureKey(c.b), c.same) << c.a.toStdString() << " " << c.b.toStdString();
}

TEST_F(PoolTest, NoProgressReceiverNoTextsAndEmptyListEndsAtOnce)
{
    bool notified = false;
    g_jobs.poolDone = [&notified](std::int64_t, std::uint32_t) { notified = true; };
    RunPool();
    EXPECT_FALSE(g_poolRunning);
    EXPECT_TRUE(fetches->Started().isEmpty());

    AddJob(Picture(10), u"a.jpg"_s);
    g_threadCount = 0; // taken as one worker, never as none
    RunPool();
    EXPECT_EQ(Size(u"a.jpg"_s), 10);
    EXPECT_FALSE(notified);
    EXPECT_TRUE(window.Events().isEmpty());
}

} // namespace

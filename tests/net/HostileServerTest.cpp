// Answers meant to hang or exhaust the client: every exchange must fail, in
// bounded time and without holding the answer in memory.
#include "NetTestSupport.h"

#include "download/WorkerPool.h"
#include "net/RateLimit.h"

#include <QDir>

#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace tamblin::test {
namespace {

using HostileServerTest = NetTest;

[[maybe_unused]] qint64 PeakResidentMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// AddressSanitizer's allocator copies on every reallocation and holds what
// was freed: there the process's peak says nothing of the client.
#ifdef __SANITIZE_ADDRESS__
#define EXPECT_PEAK_BELOW(mib) (void)(mib)
#else
#define EXPECT_PEAK_BELOW(mib) EXPECT_LT(PeakResidentMiB(), (mib))
#endif

TEST_F(HostileServerTest, EndlessBodyHitsTheCeiling)
{
    // A page is refused once it passes 64 MiB, naming the host, and costs
    // about that much memory, not twice.
    UrlSource source;
    UrlRequest request = Request(Url(u"/endless"_s));
    request.readPauseMs = 0;
    EXPECT_FALSE(source.Fetch(request, 0));
    EXPECT_EQ(source.error, FetchError::TooLarge);
    EXPECT_EQ(source.errorText, u"answer of 127.0.0.1 larger than 64 MiB, more than a page may be"_s);
    EXPECT_LE(source.body.size(), (64 << 20) + kReadChunkBytes);
    EXPECT_PEAK_BELOW(64 + 64);
    source.body = QByteArray();

    request = Request(Url(u"/endless"_s));
    request.maxTextBytes = 4 << 20;
    bool ok = true;
    const qint64 ms = TimeMs([&] { ok = source.Fetch(request, 0); });
    EXPECT_FALSE(ok);
    EXPECT_LT(ms, 5000);
    EXPECT_LE(source.body.size(), (4 << 20) + kReadChunkBytes);

    // Into a file: the same, and nothing is left behind.
    request = Request(Url(u"/endless"_s), m_dir.File(u"pic.jpg"_s));
    request.maxFileBytes = 4 << 20;
    EXPECT_FALSE(source.Fetch(request, 3));
    EXPECT_TRUE(QDir(m_dir.Path()).entryList(QDir::Files | QDir::Hidden).filter(u"pic"_s).isEmpty());
    EXPECT_PEAK_BELOW(128);
}

TEST_F(HostileServerTest, GzipBombIsRefusedWithoutInflatingIntoMemory)
{
    UrlSource source;
    // 300 MiB of zeros in about 300 KiB: past the default ceiling.
    UrlRequest request = Request(Url(u"/bomb?mb=300"_s));
    request.readTimeoutMs = 10000;
    EXPECT_FALSE(source.Fetch(request, 0));
    EXPECT_EQ(source.error, FetchError::TooLarge);
    EXPECT_TRUE(source.errorText.startsWith(u"answer of 127.0.0.1 larger than 64 MiB"_s)) << source.errorText.toStdString();
    EXPECT_LT(source.body.size(), 1 << 20);
    EXPECT_PEAK_BELOW(128);

    // A lower ceiling: the content check and GetText stop at it too.
    request = Request(Url(u"/bomb?mb=16"_s));
    request.maxTextBytes = 4 << 20;
    request.minLength = 1;
    EXPECT_FALSE(source.Fetch(request, kFetchKeepInCache));
    request.maxTextBytes = 32 << 20;
    ASSERT_TRUE(source.Fetch(request, 0));
    source.maxTextBytes = 4 << 20;
    EXPECT_LE(source.GetText(kTextInflate | kTextUtf8).size(), 4 << 20);
    QByteArray out;
    EXPECT_FALSE(InflateBody(source.body.constData(), source.body.size(), out, 1 << 20));
    EXPECT_LE(out.size(), 1 << 20);
    EXPECT_PEAK_BELOW(128);
}

TEST_F(HostileServerTest, SlowTrickleFails)
{
    UrlSource source;
    // A byte about every read, and one now and then.
    for (const QString &path : {u"/trickle?ms=8"_s, u"/trickle?ms=50"_s}) {
        UrlRequest request = Request(Url(path));
        request.readTimeoutMs = 1000;
        bool ok = true;
        const qint64 ms = TimeMs([&] { ok = source.Fetch(request, 0); });
        EXPECT_FALSE(ok) << path.toStdString();
        EXPECT_LT(ms, 3000) << path.toStdString();
    }
    UrlRequest request = Request(Url(u"/trickle?ms=8"_s));
    bool ok = true;

    // The same with a bound on the whole exchange instead.
    request.minBytesPerSec = 0;
    request.totalTimeoutMs = 800;
    const qint64 bounded = TimeMs([&] { ok = source.Fetch(request, 0); });
    EXPECT_FALSE(ok);
    EXPECT_LT(bounded, 2000);
}

// A re-run meets a picture host that misbehaves: whatever it answers, a
// picture saved before keeps its bytes unless a whole picture replaces it,
// and the picture fails with a reason for failed.txt. Pages are refused;
// clips and formats the program does not know are not.
TEST_F(HostileServerTest, BadAnswersNeverReplaceASavedPicture)
{
    const double scale = ServiceWaitScale();
    SetServiceWaitScale(0.01);
    const QString file = m_dir.File(u"pic.jpg"_s);
    const QByteArray saved = QByteArray::fromHex("ffd8ffe000104a464946") + "saved earlier";
    const QByteArray clip = QByteArray::fromHex("0000001c6674797069736f6d");
    const struct {
        QString path;
        QString reason; // empty: saved, the answer's body replaces the picture
        QByteArray body;
    } rows[] = {
        {u"/body?size=0&type=image/jpeg"_s, u"empty answer from 127.0.0.1"_s, {}},
        {u"/body?type=text/html&text=<html><body>log in</body></html>"_s, u"not a picture: a page from 127.0.0.1"_s, {}},
        {u"/body?type=image/jpeg&text="_s + Q("\r\n \t<!DOCTYPE html>"), u"not a picture: a page from 127.0.0.1"_s, {}},
        {u"/body?type=image/jpeg&text="_s + Q("\xEF\xBB\xBF{\"error\": \"gone\"}"), u"not a picture: a page from 127.0.0.1"_s, {}},
        {u"/body?type=image/png&text=[1,2]"_s, u"not a picture: a page from 127.0.0.1"_s, {}},
        {u"/body?hex=ffd8ffe0&type="_s + Q("Application/JSON; charset=utf-8"), u"not a picture: a page from 127.0.0.1"_s, {}},
        // 600 bytes a second: given up after the time-out, and tried again.
        {u"/trickle?key=trickle&bytes=60&ms=100&for=5"_s,
         u"answer of 127.0.0.1 too slow: under 1024 bytes a second for 1 s"_s, {}},
        {u"/body?type=video/mp4&hex="_s + QString::fromLatin1(clip.toHex()), QString(), clip},
        {u"/body?type=application/octet-stream&text=RIFF%20unknown"_s, QString(), "RIFF unknown"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.path.toStdString());
        m_dir.Write(u"pic.jpg"_s, saved);
        PictureJob job;
        job.url = Url(row.path);
        job.filePath = file;
        job.timeoutSec = 1;
        const PictureResult result = DownloadWorker(job, FetchPicture);
        EXPECT_EQ(result.outcome, row.reason.isEmpty() ? PictureOutcome::Saved : PictureOutcome::Failed);
        EXPECT_EQ(result.reason, row.reason);
        EXPECT_EQ(m_dir.Read(u"pic.jpg"_s), row.reason.isEmpty() ? row.body : saved);
        EXPECT_EQ(QDir(m_dir.Path()).entryList(QDir::Files | QDir::Hidden).filter(u"pic"_s), QStringList{u"pic.jpg"_s});
    }
    EXPECT_EQ(Hits(u"trickle"_s), 3);
    SetServiceWaitScale(scale);
}

TEST_F(HostileServerTest, HeaderFloodFails)
{
    UrlSource source;
    bool ok = true;
    const qint64 ms = TimeMs([&] { ok = source.Fetch(Request(Url(u"/flood"_s)), 0); });
    EXPECT_FALSE(ok);
    EXPECT_LT(ms, 5000);
    EXPECT_TRUE(source.responseHeaders.isEmpty());
    EXPECT_PEAK_BELOW(128);
}

TEST_F(HostileServerTest, RedirectLoopAndRedirectToLocalFilesFail)
{
    UrlSource source;
    EXPECT_FALSE(source.Fetch(Request(Url(u"/loop?key=loop"_s)), 0));
    // The first request and ten redirects, then no more.
    UrlSource counter;
    ASSERT_TRUE(counter.Fetch(Request(Url(u"/hits?key=loop"_s)), 0));
    EXPECT_EQ(counter.body, QByteArray("11"));

    for (const QByteArray &target : {QByteArray("file:///etc/passwd"), QByteArray("file:///proc/self/environ"),
                                     QByteArray("dict://127.0.0.1:1/"), QByteArray("gopher://127.0.0.1:1/")}) {
        EXPECT_FALSE(source.Fetch(Request(Url(u"/redirect?to="_s + Q(target))), 0)) << target.toStdString();
        EXPECT_TRUE(source.body.isEmpty()) << target.toStdString();
    }
}

} // namespace
} // namespace tamblin::test

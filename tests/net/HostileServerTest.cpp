// Answers meant to hang or exhaust the client: every exchange must fail, in
// bounded time and without holding the answer in memory.
#include "NetTestSupport.h"

#include <QDir>

#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace tamblin::test {
namespace {

using HostileServerTest = NetTest;

qint64 PeakResidentMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

TEST_F(HostileServerTest, EndlessBodyHitsTheCeiling)
{
    UrlSource source;
    UrlRequest request = Request(Url(u"/endless"_s));
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
    EXPECT_LT(PeakResidentMiB(), 128);
}

TEST_F(HostileServerTest, GzipBombIsRefusedWithoutInflatingIntoMemory)
{
    UrlSource source;
    // 300 MiB of zeros in about 300 KiB: past the default ceiling.
    UrlRequest request = Request(Url(u"/bomb?mb=300"_s));
    request.readTimeoutMs = 10000;
    EXPECT_FALSE(source.Fetch(request, 0));
    EXPECT_LT(source.body.size(), 1 << 20);
    EXPECT_LT(PeakResidentMiB(), 128);

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
    EXPECT_LT(PeakResidentMiB(), 128);
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

TEST_F(HostileServerTest, HeaderFloodFails)
{
    UrlSource source;
    bool ok = true;
    const qint64 ms = TimeMs([&] { ok = source.Fetch(Request(Url(u"/flood"_s)), 0); });
    EXPECT_FALSE(ok);
    EXPECT_LT(ms, 5000);
    EXPECT_TRUE(source.responseHeaders.isEmpty());
    EXPECT_LT(PeakResidentMiB(), 128);
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

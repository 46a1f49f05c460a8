// Connections kept alive between exchanges: counted on the server side, which
// numbers its connections and tells over how many the requests of a key came.
#include "NetTestSupport.h" // TimeMs
#include "WorkerPoolTestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <chrono>
#include <functional>
#include <thread>

using namespace Qt::StringLiterals;

namespace tamblin::test {
namespace {

class ConnectionTest : public PoolTestBase {
protected:
    void SetUp() override
    {
        PoolTestBase::SetUp();
        CookieStore::Instance().SetFilePath(dir.File(u"cookies.txt"_s));
    }

    static int Conns(const QString &key)
    {
        UrlSource source;
        if (!source.Fetch(UrlRequest(Url(u"/conns?of="_s + key)), 0))
            return -1;
        return source.body.toInt();
    }

    static UrlRequest Request(const QString &pathAndQuery, const QString &file = QString())
    {
        UrlRequest request(Url(pathAndQuery), file);
        request.retryDelaySec = 0;
        return request;
    }

    // Offsets every 1,000 bytes below `size`: a body sent in pieces.
    static QString Pieces(int size)
    {
        QStringList at;
        for (int offset = 1000; offset < size; offset += 1000)
            at << QString::number(offset);
        return at.join(u',');
    }

    void RunPool()
    {
        std::optional<std::thread> pool = StartDownloadPool();
        ASSERT_TRUE(pool.has_value());
        pool->join();
    }
};

TEST_F(ConnectionTest, APoolKeepsAFewConnectionsAndSurvivesServersThatClose)
{
    // What the server does with its connections.
    const QString servers[] = {
        u"keep=1"_s,
        QString(),           // closes after every answer
        u"keep=1&drop=1"_s,  // closes each kept connection when the next request comes
    };
    int row = 0;
    for (const QString &server : servers) {
        const QString key = u"pool%1"_s.arg(row++);
        g_jobs.Clear();
        g_jobs.folder = dir.Path();
        const QString folder = dir.File(key) + u'/';
        ASSERT_TRUE(QDir().mkpath(folder));
        for (int i = 0; i < 50; ++i) {
            AddJob(Url(u"/body?size=%1&key=%2&%3"_s.arg(20000 + i * 977).arg(key, server)),
                   folder + u"%1.jpg"_s.arg(i));
        }
        RunPool();
        for (int i = 0; i < 50; ++i) {
            QFile file(folder + u"%1.jpg"_s.arg(i));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << server.toStdString() << " picture " << i;
            const QByteArray bytes = file.readAll();
            ASSERT_EQ(bytes.size(), 20000 + i * 977) << server.toStdString() << " picture " << i;
            EXPECT_EQ(quint8(bytes.back()), quint8((bytes.size() - 1) % 256));
        }
        // Five workers at once keep about five connections; ten at most.
        const int conns = Conns(key);
        if (server == u"keep=1"_s) {
            EXPECT_GE(conns, 1);
            EXPECT_LE(conns, 10);
        } else {
            EXPECT_EQ(conns, 50) << server.toStdString();
        }
        // Every kept connection was tried again, found closed and the
        // picture asked again on a new one.
        if (server.contains(u"drop"_s)) {
            EXPECT_GT(Hits(key), 50);
        }
    }
}

TEST_F(ConnectionTest, RedirectedPicturesKeepTheConnectionsOfBothHosts)
{
    // Every picture asked at one host that sends it to another, as a clip's
    // stable address does: both connections serve the next pictures.
    g_jobs.Clear();
    g_jobs.folder = dir.Path();
    QString target = Url(u"/body?size=3000&keep=1&key=to"_s);
    target.replace(u"127.0.0.1"_s, u"localhost"_s);
    for (int i = 0; i < 40; ++i) {
        AddJob(Url(u"/redirect?keep=1&key=via&n=%1&to="_s.arg(i)) + QString::fromLatin1(QUrl::toPercentEncoding(target)),
               dir.File(u"r%1.jpg"_s.arg(i)));
    }
    RunPool();
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(QFileInfo(dir.File(u"r%1.jpg"_s.arg(i))).size(), 3000) << i;
    EXPECT_LE(Conns(u"via"_s), 10);
    EXPECT_LE(Conns(u"to"_s), 10);
}

TEST_F(ConnectionTest, AConnectionLeftMidAnswerIsNeverReused)
{
    // Each kind of cut-short exchange runs on a kept connection; the server
    // goes on sending the rest, which the next exchange would read as its
    // answer if it got that connection.
    const std::atomic<bool> stopped{true};
    const struct {
        const char *what;
        QString path;
        std::function<void(UrlRequest &)> setUp;
        FetchError error;
    } rows[] = {
        {"end marker", u"/body?text=abc%3Ce%3Erest&pieces=6&gap=300"_s,
         [](UrlRequest &r) { r.endMarker = "<e>"; }, FetchError::None},
        {"announced size", u"/body?size=50000"_s, [](UrlRequest &r) { r.maxSizeKb = 10; }, FetchError::SizeLimit},
        {"size while reading", u"/body?size=40000&chunked=1&gap=100&pieces="_s + Pieces(40000),
         [](UrlRequest &r) { r.maxSizeKb = 10; }, FetchError::SizeLimit},
        {"time-out", u"/body?size=100&hold=1500"_s, [](UrlRequest &r) { r.readTimeoutMs = 400; },
         FetchError::TimedOut},
        {"stop", u"/body?size=100&hold=300"_s, [&](UrlRequest &r) { r.cancel = &stopped; }, FetchError::Stopped},
        {"error page into a file", u"/body?status=404&size=5000"_s,
         [&](UrlRequest &r) { r.filePath = dir.File(u"404.jpg"_s); }, FetchError::HttpStatus},
    };
    int row = 0;
    for (const auto &r : rows) {
        const QString key = u"&keep=1&key=cut%1"_s.arg(row++);
        UrlSource source;
        ASSERT_TRUE(source.Fetch(Request(u"/body?text=warm"_s + key), 0)) << r.what;

        UrlRequest cut = Request(r.path + key);
        r.setUp(cut);
        bool ok = false;
        const qint64 ms = TimeMs([&] { ok = source.Fetch(cut, 0); });
        EXPECT_EQ(ok, r.error == FetchError::None) << r.what;
        EXPECT_EQ(source.error, r.error) << r.what;
        if (r.error == FetchError::TimedOut) {
            // As on a new connection.
            EXPECT_GE(ms, 400);
            EXPECT_LT(ms, 1300);
        }

        ASSERT_TRUE(source.Fetch(Request(u"/body?text=after"_s + key), 0)) << r.what;
        EXPECT_EQ(source.body, QByteArray("after")) << r.what;
        // The first two shared a connection; the third had a new one.
        EXPECT_EQ(Conns(u"cut%1"_s.arg(row - 1)), 2) << r.what;
    }
    EXPECT_FALSE(QFile::exists(dir.File(u"404.jpg"_s)));
}

TEST_F(ConnectionTest, AStopEndsPicturesOnKeptConnectionsAndLeavesNoPartialFile)
{
    // Kept connections first, then pictures that take minutes on them.
    for (int i = 0; i < 5; ++i)
        AddJob(Url(u"/body?size=1000&keep=1"_s), u"warm%1.jpg"_s.arg(i));
    RunPool();
    g_jobs.Clear();
    g_jobs.folder = dir.Path();
    for (int i = 0; i < 5; ++i)
        AddJob(Url(u"/body?size=100000&keep=1&gap=1000&pieces="_s + Pieces(100000)), u"slow%1.jpg"_s.arg(i));
    SetStragglerGrace(std::chrono::milliseconds(300));
    std::optional<std::thread> pool = StartDownloadPool();
    ASSERT_TRUE(pool.has_value());
    while (fetches->StartedCount() < 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    g_stopDownload = true;
    pool->join();
    JoinAbandonedWorkers();
    SetStragglerGrace(kStragglerGrace);

    EXPECT_EQ(fetches->Running(), 0);
    QStringList left = Entries();
    left.removeAll(u"cookies.txt"_s);
    EXPECT_EQ(left, (QStringList{u"warm0.jpg"_s, u"warm1.jpg"_s, u"warm2.jpg"_s, u"warm3.jpg"_s, u"warm4.jpg"_s}));
    UrlSource source;
    ASSERT_TRUE(source.Fetch(Request(u"/body?text=next&keep=1"_s), 0));
    EXPECT_EQ(source.body, QByteArray("next"));
}

TEST_F(ConnectionTest, RequestsOnOneConnectionCarryOnlyTheirOwnCookies)
{
    UrlSource source;
    // The store's cookie goes with a request that has no cookie line; it
    // must not stay behind for the next request on the same connection.
    ASSERT_TRUE(source.Fetch(Request(u"/body?text=x&keep=1&key=cookies&cookie=sid%3Dabc"_s), 0));
    const struct {
        QString headers;
        QByteArray carried;
    } rows[] = {
        {QString(), "\r\nCookie: sid=abc\r\n"},
        {u"cookie: a=1"_s, "\r\ncookie: a=1\r\n"},
        {u"Cookie: b=2"_s, "\r\nCookie: b=2\r\n"},
        {QString(), "\r\nCookie: sid=abc\r\n"},
    };
    for (const auto &r : rows) {
        UrlRequest request = Request(u"/echo?keep=1&key=cookies"_s);
        request.headers = r.headers;
        ASSERT_TRUE(source.Fetch(request, 0));
        EXPECT_TRUE(source.body.contains(r.carried)) << source.body.toStdString();
        EXPECT_EQ(source.body.count("ookie:"), 1) << source.body.toStdString();
    }
    EXPECT_EQ(Conns(u"cookies"_s), 1);
}

} // namespace
} // namespace tamblin::test

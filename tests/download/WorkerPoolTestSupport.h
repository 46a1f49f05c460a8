// Set-up shared by the pool and driver tests: the scripted loopback server,
// a clean job list and pool state, and a fetch that records what the pool
// asked for before it fetches for real.
#pragma once

#include "LoopbackServer.h" // NoProxyEnvironment
#include "RecordingWindow.h"
#include "TestSupport.h"
#include "download/WorkerPool.h"
#include "download/DownloadJobList.h"
#include "net/HttpClient.h"
#include "net/RateLimit.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace tamblin::test {

// What the pool's fetches did, in the order they started.
class FetchLog {
public:
    PictureFetch Fetch(const UrlRequest &request)
    {
        {
            std::lock_guard lock(m_mutex);
            m_started.push_back(request.url);
        }
        const int running = ++m_running;
        int max = m_maxRunning;
        while (running > max && !m_maxRunning.compare_exchange_weak(max, running)) {
        }
        ++m_startedCount;
        PictureFetch got = FetchPicture(request);
        --m_running;
        ++m_ended;
        return got;
    }

    // The addresses in the order their fetches began.
    QStringList Started() const
    {
        std::lock_guard lock(m_mutex);
        return QStringList(m_started.begin(), m_started.end());
    }
    int StartedCount() const { return m_startedCount; }
    int Running() const { return m_running; }
    int MaxRunning() const { return m_maxRunning; }
    int Ended() const { return m_ended; }

private:
    mutable std::mutex m_mutex;
    std::vector<QString> m_started;
    std::atomic<int> m_startedCount{0};
    std::atomic<int> m_running{0};
    std::atomic<int> m_maxRunning{0};
    std::atomic<int> m_ended{0};
};

// The HTTP client's scripted loopback server (tests/net/loopback_server.py).
// Once a QProcess has started a child, ThreadSanitizer no longer sees the
// starting thread's locking and reports properly locked accesses as races;
// a child made by fork() and exec() keeps it seeing clearly.
class PoolServer {
public:
    PoolServer()
    {
        const QByteArray script =
            QDir(SourceDir()).filePath(QStringLiteral("tests/net/loopback_server.py")).toLocal8Bit();
        int toServer[2];
        int fromServer[2];
        if (pipe(toServer) != 0)
            return;
        if (pipe(fromServer) != 0) {
            close(toServer[0]);
            close(toServer[1]);
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            dup2(toServer[0], 0);
            dup2(fromServer[1], 1);
            close(toServer[1]);
            close(fromServer[0]);
            execlp("python3", "python3", script.constData(), static_cast<char *>(nullptr));
            _exit(127);
        }
        close(toServer[0]);
        close(fromServer[1]);
        m_input = toServer[1];
        if (m_pid < 0) {
            close(fromServer[0]);
            return;
        }
        // The first line is "PORT <n>".
        QByteArray line;
        char c = 0;
        while (line.size() < 64 && read(fromServer[0], &c, 1) == 1 && c != '\n')
            line += c;
        close(fromServer[0]);
        if (line.startsWith("PORT "))
            m_port = quint16(line.mid(5).toUInt());
    }

    ~PoolServer()
    {
        // The server ends when its input closes.
        if (m_input >= 0)
            close(m_input);
        if (m_pid > 0) {
            int status = 0;
            waitpid(m_pid, &status, 0);
        }
    }

    PoolServer(const PoolServer &) = delete;
    PoolServer &operator=(const PoolServer &) = delete;

    bool IsRunning() const { return m_port != 0; }
    QString Url(const QString &pathAndQuery) const
    {
        return QStringLiteral("http://127.0.0.1:%1").arg(m_port) + pathAndQuery;
    }

private:
    pid_t m_pid = -1;
    int m_input = -1;
    quint16 m_port = 0;
};

class PoolTestBase : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_server = std::make_unique<PoolServer>(); }
    static void TearDownTestSuite() { s_server.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(s_server && s_server->IsRunning()) << "the loopback server did not start";
        g_jobs.Clear();
        g_jobs.folder = dir.Path();
        g_jobs.progressWindow = nullptr;
        g_jobs.progressControlId = 1006;
        g_jobs.poolDone = nullptr;
        g_stopDownload = false;
        g_minKb = 0;
        g_maxKb = 0;
        g_threadCount = 5;
        g_timeoutSec = 10;
        auto log = std::make_shared<FetchLog>();
        fetches = log;
        SetPictureFetcher([log](const UrlRequest &request) { return log->Fetch(request); });
        SetWorkerStarter(nullptr);
        // Second tries and rate-limit pauses in hundredths of their time.
        SetServiceWaitScale(0.01);
        ResetPictureRateLimit();
    }

    void TearDown() override
    {
        SetServiceWaitScale(1.0);
        ResetPictureRateLimit();
        TrackRunPictures(false);
        JoinAbandonedWorkers();
        SetPictureFetcher(nullptr);
        SetWorkerStarter(nullptr);
        g_jobs.Clear();
        g_jobs.progressWindow = nullptr;
        g_jobs.poolDone = nullptr;
    }

    static QString Url(const QString &pathAndQuery) { return s_server->Url(pathAndQuery); }
    // A picture of `size` pattern bytes answered after `holdMs`.
    static QString Picture(int size, int holdMs = 0, const QString &key = QString())
    {
        QString url = Url(QStringLiteral("/body?size=%1&hold=%2").arg(size).arg(holdMs));
        if (!key.isEmpty())
            url += QStringLiteral("&key=") + key;
        return url;
    }
    static int Hits(const QString &key)
    {
        UrlSource source;
        UrlRequest request(Url(QStringLiteral("/hits?key=") + key));
        if (!source.Fetch(request, 0))
            return -1;
        return source.body.toInt();
    }

    void AddJob(const QString &url, const QString &name)
    {
        g_jobs.urls.append(url);
        g_jobs.fileNames.append(name);
    }

    // Entries of the folder, temporary files of the HTTP client included.
    QStringList Entries(const QString &folder = QString()) const;

    static inline std::unique_ptr<PoolServer> s_server;
    NoProxyEnvironment noProxy;
    TempDir dir;
    RecordingWindow window;
    std::shared_ptr<FetchLog> fetches;
};

inline QStringList PoolTestBase::Entries(const QString &folder) const
{
    QDir d(folder.isEmpty() ? dir.Path() : folder);
    return d.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

} // namespace tamblin::test

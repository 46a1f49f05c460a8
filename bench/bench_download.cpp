// Runs the download pool over a list of picture addresses, as the download
// driver runs it over one album, and prints the wall time, the pictures
// written and the peak resident memory.
//
//   bench_download [-j threads] <out-dir> <file with one url a line>
#include "download/WorkerPool.h"
#include "download/DownloadJobList.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

using namespace tamblin;

int main(int argc, char **argv)
{
    int threads = 15;
    int arg = 1;
    if (arg + 1 < argc && std::strcmp(argv[arg], "-j") == 0) {
        threads = std::atoi(argv[arg + 1]);
        arg += 2;
    }
    if (argc - arg != 2 || threads < 1 || threads > 15) {
        std::fprintf(stderr, "usage: bench_download [-j 1..15] <out-dir> <url-file>\n");
        return 2;
    }
    QString folder = QDir(QString::fromLocal8Bit(argv[arg])).absolutePath() + QDir::separator();
    QFile list(QString::fromLocal8Bit(argv[arg + 1]));
    if (!list.open(QIODevice::ReadOnly))
        return 2;

    // The job list as AddPictureJob leaves it: names relative to the album
    // folder, no extra headers.
    g_jobs.Clear();
    g_jobs.folder = folder;
    for (const QByteArray &line : list.readAll().split('\n')) {
        const QByteArray url = line.trimmed();
        if (url.isEmpty())
            continue;
        g_jobs.urls.append(QString::fromUtf8(url));
        g_jobs.fileNames.append(QString::number(g_jobs.urls.size()) + QStringLiteral(".jpg"));
        g_jobs.headers.append(QString());
    }
    g_threadCount = std::uint32_t(threads);
    g_timeoutSec = 30;
    g_minKb = 0;
    g_maxKb = 0;

    const auto start = std::chrono::steady_clock::now();
    std::optional<std::thread> pool = StartDownloadPool();
    if (!pool)
        return 1;
    pool->join();
    JoinAbandonedWorkers();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    qint64 bytes = 0;
    int written = 0;
    for (qsizetype i = 0; i < g_jobs.fileNames.size(); ++i) {
        const QFileInfo file(folder + g_jobs.fileNames[i]);
        if (file.exists()) {
            ++written;
            bytes += file.size();
        }
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%.3f s, %d of %lld pictures, %lld bytes, peak RSS %.1f MiB\n", seconds, written,
                static_cast<long long>(g_jobs.urls.size()), static_cast<long long>(bytes), usage.ru_maxrss / 1024.0);
    return written == g_jobs.urls.size() ? 0 : 1;
}

// Fetches addresses into files the way a download worker does and prints
// the time taken, the bytes written and the peak resident memory.
//
//   bench_http [-j threads] [-p pause-ms] <out-dir> <url>...
//   bench_http [-j threads] [-p pause-ms] <out-dir> @<file with one url a line>
#include "net/HttpClient.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

using namespace tamblin;

int main(int argc, char **argv)
{
    int threads = 1;
    int pauseMs = 10;
    int arg = 1;
    for (; arg + 1 < argc && argv[arg][0] == '-'; arg += 2) {
        if (std::strcmp(argv[arg], "-j") == 0)
            threads = std::max(1, std::atoi(argv[arg + 1]));
        else if (std::strcmp(argv[arg], "-p") == 0)
            pauseMs = std::max(0, std::atoi(argv[arg + 1]));
    }
    if (argc - arg < 2) {
        std::fprintf(stderr, "usage: bench_http [-j threads] [-p pause-ms] <out-dir> <url>... | @<url-file>\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[arg++]);
    QStringList urls;
    for (; arg < argc; ++arg) {
        if (argv[arg][0] == '@') {
            QFile list(QString::fromLocal8Bit(argv[arg] + 1));
            if (!list.open(QIODevice::ReadOnly))
                return 2;
            for (const QByteArray &line : list.readAll().split('\n')) {
                if (!line.trimmed().isEmpty())
                    urls.append(QString::fromUtf8(line.trimmed()));
            }
        } else {
            urls.append(QString::fromLocal8Bit(argv[arg]));
        }
    }

    std::atomic<int> next{0};
    std::atomic<int> failed{0};
    std::atomic<qint64> bytes{0};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            UrlSource source;
            UrlRequest request(QString(), QString(), 20000);
            request.readPauseMs = std::uint32_t(pauseMs);
            for (int i = next++; i < urls.size(); i = next++) {
                request.url = urls[i];
                request.filePath = outDir + QStringLiteral("/%1.bin").arg(i, 4, 10, QLatin1Char('0'));
                if (source.Fetch(request, kFetchKeepInCache | kFetchAllowCached))
                    bytes += source.bodyBytes;
                else
                    ++failed;
            }
        });
    }
    for (std::thread &worker : workers)
        worker.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("files %lld failed %d bytes %lld seconds %.3f MiB/s %.2f peak_rss_kib %ld\n",
                static_cast<long long>(urls.size()), failed.load(), static_cast<long long>(bytes.load()), seconds,
                double(bytes.load()) / (1 << 20) / seconds, usage.ru_maxrss);
    return failed.load() == 0 ? 0 : 1;
}

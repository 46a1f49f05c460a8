// Lists the 65,535 Weibo albums of a generated user from the fake service
// into the main window, offscreen, as a user's press of 获取相册 does, and
// reports the time until the last row is in the grid, the peak resident
// memory, and the longest stall of the GUI thread's event loop (a 1 ms timer
// measuring how late it fires). On a busy machine the stall also holds the
// time other processes took the GUI thread's core; the CPU time the GUI
// thread itself spent between two ticks is reported beside it.
//
//   build/bench/bench_window
#include "FakeService.h"

#include "app/ComboBox2.h"
#include "app/StartFolder.h"
#include "app/TamblinDlg.h"
#include "grid/MyGridCtrl.h"
#include "net/CookieStore.h"
#include "sources/Endpoints.h"
#include "sources/SourceSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QEventLoop>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

#include <sys/resource.h>
#include <ctime>

using namespace Qt::StringLiterals;
using namespace tamblin;

namespace {

constexpr int kAlbums = 65535;

// CPU time of the calling thread: what the GUI thread itself spent, as
// against the time the machine's other work took it away.
qint64 ThreadCpuNs()
{
    timespec cpu{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
    return qint64(cpu.tv_sec) * 1'000'000'000 + cpu.tv_nsec;
}

double PeakRssMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    CookieStore::Instance().SetFilePath(QString());

    test::FakeService service(uR"({"weibo_users": [{"uid": "65535", "nickname": "large", "needs_login": false,
        "generate_albums": %1, "generate_distinct": 1000}]})"_s.arg(kAlbums).toUtf8());
    if (!service.IsRunning()) {
        std::fprintf(stderr, "the fake service did not start\n");
        return 1;
    }
    // The service builds and compresses its answer before anything is timed.
    // A second fetch tells how much of the run is the page's transfer alone.
    qint64 fetchMs = 0;
    for (int i = 0; i < 2; ++i) {
        QElapsedTimer fetch;
        fetch.start();
        UrlSource source;
        UrlRequest request = PageRequest();
        request.url = endpoints::WeiboAlbumListUrl(u"65535"_s);
        source.Fetch(request, 0);
        fetchMs = fetch.elapsed();
    }

    QTemporaryDir start;
    const QString folder = start.path() + u"/"_s;
    // The run makes two Weibo page requests; the one-second pacing between
    // them is the service's due, not the window's work, and is left out.
    QFile ini(folder + u"下载器扩展设置.ini"_s);
    if (!ini.open(QIODevice::WriteOnly) || ini.write("[微博]\r\n请求间隔毫秒=0\r\n") < 0)
        return 1;
    ini.close();
    CTamblinDlg window(StartFolders{folder, folder});
    window.Start();
    QElapsedTimer wait;
    wait.start();
    while (window.Core().m_ready != 1 && wait.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    window.findChild<CComboBox2 *>(u"1001"_s)->setEditText(u"http://weibo.com/u/65535"_s);
    const double rssBefore = PeakRssMiB();

    CMyGridCtrl *grid = window.Grid();
    QEventLoop loop;
    QElapsedTimer run;
    QElapsedTimer tick;
    qint64 longestStallNs = 0;
    qint64 lastRowMs = -1;
    qint64 longestBusyNs = 0;
    qint64 lastCpuNs = 0;
    QTimer meter;
    meter.setTimerType(Qt::PreciseTimer);
    meter.setInterval(1);
    QObject::connect(&meter, &QTimer::timeout, [&] {
        const qint64 cpuNs = ThreadCpuNs();
        longestStallNs = std::max(longestStallNs, tick.nsecsElapsed() - 1'000'000);
        longestBusyNs = std::max(longestBusyNs, cpuNs - lastCpuNs);
        lastCpuNs = cpuNs;
        tick.restart();
        if (lastRowMs < 0 && grid->GetRowCount() - grid->GetFixedRowCount() >= kAlbums)
            lastRowMs = run.elapsed();
        if (lastRowMs >= 0 && window.Core().m_listState == 0)
            loop.quit();
        if (run.elapsed() > 120000)
            loop.quit();
    });

    run.start();
    tick.start();
    lastCpuNs = ThreadCpuNs();
    meter.start();
    window.findChild<QPushButton *>(u"1004"_s)->click();
    loop.exec();
    meter.stop();

    const int rows = grid->GetRowCount() - grid->GetFixedRowCount();
    std::printf("list %d Weibo albums into the window (offscreen), fake service on loopback, no Weibo pacing:\n", kAlbums);
    std::printf("  rows shown:                 %d\n", rows);
    std::printf("  time to the last row shown: %.0f ms\n", double(lastRowMs));
    std::printf("  whole run (idle again):     %.0f ms\n", double(run.elapsed()));
    std::printf("  the album list page alone:  %.0f ms (one fetch, before the run)\n", double(fetchMs));
    std::printf("  longest event-loop stall:   %.1f ms (how late the 1 ms timer fired)\n", double(longestStallNs) / 1e6);
    std::printf("  longest GUI-thread work between two timer ticks: %.1f ms of CPU\n", double(longestBusyNs) / 1e6);
    std::printf("  peak RSS:                   %.1f MiB (%.1f MiB before the run)\n", PeakRssMiB(), rssBefore);
    window.Shutdown();
    return rows == kAlbums ? 0 : 1;
}

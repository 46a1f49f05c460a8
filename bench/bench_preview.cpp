// Driver of bench_preview.sh: switches the album grid of N albums into the
// preview view twice and prints how long each switch took until every
// thumbnail was shown, and how many requests the second one made.
//
//   bench_preview ALBUMS PARALLEL COVER_URL_PATTERN REQUEST_LOG
// COVER_URL_PATTERN holds %1 for the album position; REQUEST_LOG is the fake
// service's log (one line per request). Run offscreen.
#include "app/TamblinCore.h"
#include "grid/MyGridCtrl.h"
#include "preview/AlbumPreview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

qsizetype LogLines(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().count('\n') : -1;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: bench_preview ALBUMS PARALLEL COVER_URL_PATTERN REQUEST_LOG\n");
        return 2;
    }
    const int albums = QString::fromLocal8Bit(argv[1]).toInt();
    const int parallel = QString::fromLocal8Bit(argv[2]).toInt();
    const QString pattern = QString::fromLocal8Bit(argv[3]);
    const QString log = QString::fromLocal8Bit(argv[4]);

    QTemporaryDir start;
    tamblin::TamblinCore core;
    core.m_appDir = start.path() + u'/';
    for (int i = 0; i < albums; ++i) {
        tamblin::ST_PERLISTRECORD album;
        album.name = u"相册%1"_s.arg(i + 1);
        album.coverUrl = pattern.arg(i);
        core.m_albums.AddAlbum(album);
    }
    CMyGridCtrl grid;
    QList<QPixmap> thumbs;
    grid.SetImageList(&thumbs);
    tamblin::AlbumPreview preview(core, &grid, &thumbs);
    preview.SetMaxParallelFetches(parallel);

    const auto runSwitch = [&](bool toPreview) {
        core.m_previewMode = toPreview ? 1 : 0;
        core.m_previewState = 1;
        grid.DeleteAllItems();
        if (toPreview)
            tamblin::ResetPreviewGrid(grid, core);
        else
            grid.SetupGrid(1, 1, 6, true);
        QEventLoop loop;
        QObject::connect(&preview, &tamblin::AlbumPreview::RebuildFinished, &loop, &QEventLoop::quit);
        QElapsedTimer timer;
        timer.start();
        if (!preview.StartRebuild())
            return -1.0;
        loop.exec();
        return timer.elapsed() / 1000.0;
    };
    const auto shown = [&] {
        int count = 0;
        for (int i = 0; i < albums; ++i)
            count += grid.GetItemImage(i / 6, i % 6) >= 0;
        return count;
    };

    const qsizetype before = LogLines(log);
    const double first = runSwitch(true);
    const int firstShown = shown();
    runSwitch(false);
    const qsizetype between = LogLines(log);
    const double second = runSwitch(true);
    const qsizetype after = LogLines(log);
    std::printf("%d albums, %d cover(s) at a time\n", albums, parallel);
    std::printf("first switch : %7.2f s until every thumbnail was shown (%d of %d shown, %lld requests)\n", first,
                firstShown, albums, static_cast<long long>(between - before));
    std::printf("second switch: %7.2f s, %lld requests, %d thumbnails shown\n", second,
                static_cast<long long>(after - between), shown());
    return firstShown == albums && after == between ? 0 : 1;
}

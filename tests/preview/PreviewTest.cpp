// The preview view against the fake service: covers fetched into the cover
// cache and shown as thumbnails, the rebuild thread, its interruption, and
// covers that must not be trusted.
#include "FakeService.h"
#include "TestSupport.h"
#include "app/TamblinCore.h"
#include "grid/MyGridCtrl.h"
#include "preview/AlbumPreview.h"
#include "preview/CoverThumbnail.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <zlib.h>

#include <numeric>

using namespace Qt::StringLiterals;

namespace tamblin {
namespace {

QString CoverUrl(int i)
{
    return u"http://ww1.sinaimg.cn/thumb300/cover%1.jpg"_s.arg(i);
}

// A JPEG cover of its own colour with its number on it.
QByteArray CoverJpeg(int i, QSize size = QSize(300, 200))
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor::fromHsv((i * 47) % 360, 160, 230));
    QPainter painter(&image);
    painter.setPen(Qt::black);
    QFont font;
    font.setPixelSize(size.height() / 2);
    painter.setFont(font);
    painter.drawText(image.rect(), Qt::AlignCenter, QString::number(i + 1));
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return bytes;
}

// A PNG that declares width x height pixels in its header and holds almost
// nothing: what a decompression bomb looks like before it is decoded.
QByteArray PngHeaderClaiming(quint32 width, quint32 height)
{
    const auto chunk = [](const QByteArray &type, const QByteArray &data) {
        QByteArray out;
        const auto be32 = [&](quint32 v) {
            for (int shift = 24; shift >= 0; shift -= 8)
                out.append(char((v >> shift) & 0xff));
        };
        be32(quint32(data.size()));
        out += type + data;
        const QByteArray crcInput = type + data;
        be32(quint32(crc32(0, reinterpret_cast<const Bytef *>(crcInput.constData()), uInt(crcInput.size()))));
        return out;
    };
    QByteArray ihdr;
    for (quint32 v : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8)
            ihdr.append(char((v >> shift) & 0xff));
    ihdr += QByteArray::fromHex("0802000000"); // 8-bit RGB
    return QByteArray::fromHex("89504e470d0a1a0a") + chunk("IHDR", ihdr) + chunk("IDAT", QByteArray(64, '\0'))
        + chunk("IEND", {});
}

QJsonObject Page(const QByteArray &body, const QString &type = u"image/jpeg"_s)
{
    return {{u"body_base64"_s, QString::fromLatin1(body.toBase64())}, {u"content_type"_s, type}};
}

class PreviewTest : public ::testing::Test {
protected:
    PreviewTest()
    {
        m_core.m_appDir = m_dir.Path();
        m_core.m_previewMode = 1;
        m_grid.SetImageList(&m_thumbs);
        ResetPreviewGrid(m_grid, m_core);
    }

    // Albums "相册1".."相册n" whose covers are CoverUrl(i), unless `covers`
    // gives other addresses.
    void AddAlbums(int count, const QStringList &covers = {})
    {
        for (int i = 0; i < count; ++i) {
            ST_PERLISTRECORD album;
            album.name = u"相册%1"_s.arg(i + 1);
            album.coverUrl = i < covers.size() ? covers[i] : CoverUrl(i);
            m_core.m_albums.AddAlbum(album);
        }
    }

    // Starts the fake service with `pages`, plus a good cover for every
    // CoverUrl(i) below `goodCovers`.
    void Serve(int goodCovers, QJsonObject pages = {}, const QJsonArray &faults = {},
               const QJsonObject &pictures = {})
    {
        for (int i = 0; i < goodCovers; ++i)
            pages.insert(CoverUrl(i), Page(CoverJpeg(i)));
        const QJsonObject data{{u"pages"_s, pages}, {u"faults"_s, faults}, {u"pictures"_s, pictures}};
        m_service = std::make_unique<test::FakeService>(QJsonDocument(data).toJson());
        ASSERT_TRUE(m_service->IsRunning());
    }

    // One view switch as the window makes it, then waits for its end.
    void Switch(bool preview)
    {
        StartSwitch(preview);
        WaitForEnd();
    }
    void StartSwitch(bool preview)
    {
        m_core.m_previewMode = preview ? 1 : 0;
        m_core.m_previewState = 1;
        m_grid.DeleteAllItems();
        if (preview)
            ResetPreviewGrid(m_grid, m_core);
        else
            m_grid.SetupGrid(1, 1, 6, true);
        m_finished = false;
        ASSERT_TRUE(m_preview.StartRebuild());
    }
    void WaitForEnd(int timeoutMs = 60000)
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return m_finished; }, timeoutMs));
        EXPECT_EQ(m_core.m_previewState, 0);
    }

    // Cell texts in reading order, up to the first empty cell.
    QStringList Captions() const
    {
        QStringList texts;
        for (int r = 0; r < m_grid.GetRowCount(); ++r)
            for (int c = 0; c < m_grid.GetColumnCount(); ++c)
                texts << m_grid.GetItemText(r, c);
        while (!texts.isEmpty() && texts.last().isEmpty())
            texts.removeLast();
        return texts;
    }
    int Image(int index) const { return m_grid.GetItemImage(index / 6, index % 6); }
    qsizetype CoverRequests() const
    {
        const QStringList urls = m_service->RequestedUrls();
        return std::count_if(urls.begin(), urls.end(), [](const QString &u) { return u.contains(u"sinaimg"_s); });
    }

    test::TempDir m_dir;
    TamblinCore m_core;
    CMyGridCtrl m_grid;
    QList<QPixmap> m_thumbs;
    AlbumPreview m_preview{m_core, &m_grid, &m_thumbs};
    bool m_finished = false;
    QMetaObject::Connection m_done = QObject::connect(&m_preview, &AlbumPreview::RebuildFinished, [this] { m_finished = true; });
    std::unique_ptr<test::FakeService> m_service;
};

TEST_F(PreviewTest, FourteenAlbumsFillThreeRowsAndASecondSwitchFetchesNothing)
{
    Serve(14);
    AddAlbums(14);
    Switch(true);

    ASSERT_EQ(m_grid.GetRowCount(), 3);
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(m_grid.GetRowHeight(r), 130) << r;
    QStringList expected;
    for (int i = 0; i < 14; ++i)
        expected << u"%1.相册%1"_s.arg(i + 1);
    EXPECT_EQ(Captions(), expected); // 6, 6 and 2 cells
    EXPECT_EQ(m_grid.GetItemText(2, 2), QString());
    for (int i = 0; i < 14; ++i) {
        EXPECT_EQ(m_grid.GetItemData(i / 6, i % 6), i);
        EXPECT_EQ(Image(i), m_core.m_albums.At(i)->thumbIndex);
        ASSERT_GE(Image(i), 0) << i;
        EXPECT_EQ(m_thumbs[Image(i)].size(), QSize(113, 120));
        EXPECT_TRUE(QFileInfo::exists(m_dir.File(u"tmp/%1.jpg"_s.arg(i)))) << i;
    }
    // The cover is stretched whole, not cropped: the corners keep its colour.
    const QColor corner = m_thumbs[Image(0)].toImage().pixelColor(1, 1);
    const QColor fill = QColor::fromHsv(0, 160, 230);
    EXPECT_LT(std::abs(corner.red() - fill.red()) + std::abs(corner.green() - fill.green())
                  + std::abs(corner.blue() - fill.blue()),
              30);

    m_grid.resize(6 * m_grid.GetColumnWidth(0) + 24, 3 * 130 + 4);
    m_grid.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_grid));
    EXPECT_TRUE(m_grid.grab().save(QDir(test::TestOutputDir()).filePath(u"preview-grid.png"_s)));

    // Cells beyond the last album are never chosen, even when selected.
    m_grid.SelectAllCells();
    QList<int> all(14);
    std::iota(all.begin(), all.end(), 0);
    EXPECT_EQ(ChosenPreviewAlbums(m_grid, 14), all);
    m_grid.ResetSelectedRange();
    m_grid.SetSelectedRange(1, 4, 2, 5);
    EXPECT_EQ(ChosenPreviewAlbums(m_grid, 14), (QList<int>{10, 11}));

    // Back and forth again: the thumbnails are kept, nothing is fetched.
    const qsizetype requests = CoverRequests();
    EXPECT_EQ(requests, 14);
    Switch(false);
    Switch(true);
    EXPECT_EQ(CoverRequests(), requests);
    EXPECT_EQ(m_thumbs.size(), 14);
    EXPECT_EQ(Captions(), expected);
    for (int i = 0; i < 14; ++i)
        EXPECT_EQ(Image(i), m_core.m_albums.At(i)->thumbIndex);
}

TEST_F(PreviewTest, CoversThatFailShowTheCaptionOnlyAndAreTriedAgain)
{
    const QString html = u"http://ww1.sinaimg.cn/thumb300/html.jpg"_s;
    const QString empty = u"http://ww1.sinaimg.cn/thumb300/empty.jpg"_s;
    const QString truncated = u"http://ww1.sinaimg.cn/thumb300/truncated.jpg"_s;
    const QString bomb = u"http://ww1.sinaimg.cn/thumb300/bomb.png"_s;
    const QString endless = u"http://ww1.sinaimg.cn/thumb300/endless.jpg"_s;
    const QString missing = u"http://ww1.sinaimg.cn/thumb300/missing.jpg"_s;
    const QJsonObject pages{
        {html, Page("<html><body>not a picture</body></html>", u"image/jpeg"_s)},
        {empty, Page({})},
        {truncated, Page(CoverJpeg(3))},
        {bomb, Page(PngHeaderClaiming(30000, 30000), u"image/png"_s)},
    };
    // Cut short after 500 bytes of the length announced; and a body that never ends.
    const QJsonArray faults{QJsonObject{{u"match"_s, truncated}, {u"truncate"_s, 500}}};
    const QJsonObject pictures{{endless, QJsonObject{{u"hostile"_s, u"endless"_s}, {u"seconds"_s, 30}}}};
    Serve(1, pages, faults, pictures);
    const QStringList covers{CoverUrl(0), html, empty, truncated, bomb, endless, missing, QString()};
    AddAlbums(int(covers.size()), covers);

    Switch(true);
    EXPECT_EQ(Captions().size(), covers.size());
    EXPECT_GE(Image(0), 0);
    for (int i = 1; i < covers.size(); ++i) {
        EXPECT_EQ(Image(i), -1) << covers[i].toStdString();
        EXPECT_EQ(m_core.m_albums.At(i)->thumbIndex, -1);
        EXPECT_EQ(m_grid.GetItemText(i / 6, i % 6), u"%1.相册%1"_s.arg(i + 1));
    }
    EXPECT_EQ(m_thumbs.size(), 1);
    // A page or an empty answer standing in for a cover leaves no file in
    // the cover cache.
    for (int i : {1, 2})
        EXPECT_FALSE(QFileInfo::exists(CoverFilePath(m_core.m_appDir, i))) << covers[i].toStdString();

    // The next switch asks again for every cover that failed, and only those.
    const QStringList before = m_service->RequestedUrls();
    Switch(false);
    Switch(true);
    QStringList again = m_service->RequestedUrls().mid(before.size());
    again.sort();
    QStringList failed = covers.mid(1, 6);
    failed.sort();
    EXPECT_EQ(again, failed);
}

// Answers the next message box that opens with Yes, and keeps its text.
class QuestionAnswerer : public QObject {
public:
    QuestionAnswerer()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(w);
                if (box && box->isVisible()) {
                    title = box->windowTitle();
                    text = box->text();
                    box->button(QMessageBox::Yes)->click();
                }
            }
        });
        m_timer.start(20);
    }
    QString title;
    QString text;

private:
    QTimer m_timer;
};

TEST_F(PreviewTest, AnInterruptedSwitchKeepsTheCellsAddedAndTheNextStartsOver)
{
    const int count = 40;
    Serve(count, {}, {QJsonObject{{u"match"_s, u"http://ww1.sinaimg.cn/"_s}, {u"delay"_s, 0.2}}});
    AddAlbums(count);
    m_preview.SetMaxParallelFetches(2);
    StartSwitch(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_grid.GetItemText(0, 1).size() > 0; }, 30000));

    // A click on the box while the rebuild runs asks, and Yes stops it.
    {
        QuestionAnswerer answerer;
        EXPECT_TRUE(m_preview.RefuseSwitchWhileBusy(nullptr));
        EXPECT_EQ(answerer.title, u"提示"_s);
        EXPECT_EQ(answerer.text, u"模式转换未完成,是否中断?"_s);
    }
    WaitForEnd();
    const QStringList shown = Captions();
    EXPECT_GE(shown.size(), 2);
    EXPECT_LT(shown.size(), count);
    for (int i = 0; i < shown.size(); ++i)
        EXPECT_EQ(shown[i], u"%1.相册%1"_s.arg(i + 1)); // a run from the first album, no gaps
    EXPECT_FALSE(m_preview.RefuseSwitchWhileBusy(nullptr)); // idle: no question

    // The next switch starts again from the first album and completes.
    m_preview.SetMaxParallelFetches(kMaxParallelCoverFetches);
    Switch(true);
    EXPECT_EQ(Captions().size(), count);
    for (int i = 0; i < count; ++i)
        EXPECT_GE(Image(i), 0) << i;
}

TEST_F(PreviewTest, CoversAreFetchedSeveralAtATimeWhileCellsFillInOrder)
{
    // The first cover is slow, the others are not.
    const int count = 20;
    Serve(count, {}, {QJsonObject{{u"match"_s, CoverUrl(0)}, {u"delay"_s, 2.0}}});
    AddAlbums(count);
    // Watch the grid at every turn of the event loop: filled cells always
    // form a run from the first album.
    bool inOrder = true;
    qsizetype requestsAtFirstCell = -1;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const QStringList shown = Captions();
        for (int i = 0; i < shown.size(); ++i)
            inOrder = inOrder && !shown[i].isEmpty();
        if (!shown.isEmpty() && requestsAtFirstCell < 0)
            requestsAtFirstCell = CoverRequests();
    });
    watch.start(0);
    Switch(true);
    watch.stop();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(Captions().size(), count);
    // While the first cover took its time, the next ones were fetched
    // beside it, but their cells waited for the first.
    EXPECT_GE(requestsAtFirstCell, kMaxParallelCoverFetches);
}

TEST_F(PreviewTest, BackToTheListViewAppliesTheFilterOnce)
{
    AddAlbums(5);
    m_core.m_albums.At(1)->name = u"海边"_s;
    m_core.m_albums.At(3)->name = u"海岛"_s;
    // The window's list-view branch: rows of albums whose name holds the filter.
    QList<int> rows;
    m_preview.SetListRowAdder([&](int index) {
        if (m_core.m_filterText.isEmpty() || m_core.m_albums.At(index)->name.contains(m_core.m_filterText))
            rows << index;
    });
    m_core.m_filterText = u"海"_s;
    Switch(false);
    EXPECT_EQ(rows, (QList<int>{1, 3}));
    EXPECT_TRUE(m_core.m_filterText.isEmpty());

    rows.clear();
    m_core.m_previewState = 1;
    m_preview.RebuildAlbumView(); // on the GUI thread, as the filter runs it
    EXPECT_EQ(rows, (QList<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(m_core.m_previewState, 0);
}

} // namespace
} // namespace tamblin

// The download run: for each chosen album in turn, the picture extractor of
// the current sub-mode fills g_jobs (through AddPictureJob), and the album
// is either written as a list for an external download manager or downloaded
// by the worker pool, followed by the optional fix-up passes. The pool
// starts with the first pictures listed and is fed while later pages are
// read (FeedListedPictures).
//
// The extractors live with the album sources; they register themselves here
// (SetPictureExtractor) so that the engine does not depend on them.
#pragma once

#include "app/SoftSettings.h"
#include "download/DateRange.h"
#include "download/ListFiles.h"
#include "download/WorkerPool.h"

#include <QHash>
#include <QStringList>

#include <functional>
#include <optional>
#include <thread>

namespace tamblin {

class TamblinCore;

// Lists the pictures of album `albumIndex` of core.m_albums by calling
// AddPictureJob once per picture, on the download thread; ends its listing
// when core.m_downState becomes 2 or 3.
using PictureExtractor = void (*)(TamblinCore &core, int albumIndex);

// Hands the pictures the album's listing has named so far to its pool,
// which starts with the first ones. The sources call it before each wait
// of a picture listing (a page request, a pause), the driver once more when
// the listing ends. Does nothing on any thread but the download run's, or
// while no album is listed for download.
void FeedListedPictures();

// Sub-modes of Sina (m_subMode): photo albums, blog articles, Weibo albums.
inline constexpr int kSubModeCount = 3;

// Registers the extractor of a sub-mode (0 to 2); null removes it. A
// sub-mode without an extractor yields no pictures.
void SetPictureExtractor(int subMode, PictureExtractor extractor);
PictureExtractor GetPictureExtractor(int subMode);

// Serves a retry's failed.txt lines of album `albumIndex` that name a post
// (their fourth field) by reading the post again, on the download thread:
// adds the jobs of what it now gives (g_jobs.Add, under the recorded names),
// records what it still cannot give in g_jobs.unavailable, and names in
// g_jobs.settledFailures the lines it answered under other names. Without
// one, such a line is retried as any other.
using PostLineRetry = void (*)(TamblinCore &core, int albumIndex, const QList<FailedPicture> &lines);
void SetPostLineRetry(PostLineRetry retry);

// Keeps the posts of a Weibo user whose albums a run downloaded: reads
// them, lists the pictures of the posts it reposted, and writes them to
// posts.jsonl. One run at a time uses it, on the download thread.
class PostKeeper {
public:
    virtual ~PostKeeper() = default;
    // Reads the posts of the user of the run's list, within `range`;
    // false when they could not all be read (`why` says why).
    virtual bool Read(TamblinCore &core, const DateRange &range, QString &why) = 0;
    // Lists the pictures of the reposted posts of the posts read, through
    // AddPictureJob with album kRepostsAlbum.
    virtual void ListReposts(TamblinCore &core) = 0;
    // Writes the posts read to posts.jsonl in `userFolder`, merged with
    // the lines there; `saved` maps what a post names a file by
    // (PictureExtras::mediaKey) to the file, relative to `userFolder`.
    // False when the file could not be written.
    virtual bool Write(const QString &userFolder, const QHash<QString, QString> &saved) = 0;
};
// Registers the keeper of the Weibo room; null removes it.
void SetPostKeeper(PostKeeper *keeper);

struct DownloadOptions {
    // Stands for the site's download parameters for this run only (the
    // command line's options); the settings stay untouched.
    std::optional<DownParams> params;
    // Instead of listing each album's pictures, download the lines of the
    // album folder's failed.txt under their recorded names. A retry writes
    // no "pic.orv" and no list file.
    bool retryFailed = false;
    // Every picture of a Sina blog article rather than its first, for this
    // run, whatever the extension settings say.
    bool allArticlePictures = false;
    // The post days to download, for this run, in place of the extension
    // settings' range; none: theirs.
    std::optional<DateRange> range{};
    // A Weibo user's posts kept in posts.jsonl, and the pictures of the
    // posts it reposted downloaded too, for this run, whatever the extension
    // settings say.
    bool savePosts = false;
    bool withReposts = false;
};

// What became of a run.
struct DownloadSummary {
    bool started = false; // the save path checks passed
    bool stopped = false; // a stop was asked
    std::uint32_t albums = 0; // albums chosen
    PictureCounts pictures;   // over all albums of the run
    QStringList failedLists;  // the failed.txt files the run left
    // "album: reason" for each album whose listing broke off (a page that
    // could not be fetched, a walk that was cut short).
    QStringList brokenListings;
    // Albums listed with pictures (or an unknown count) that gave none,
    // though the walk ended as an album's does.
    QStringList emptyAlbums;
    // Album folders that could not be made, or that are links (below the
    // save folder nothing is written through a link); their pictures count
    // as failed and were not fetched.
    QStringList foldersNotMade;
    QStringList folderLinks;
    // List files (.lst, .aria2.txt, title files) that could not be written.
    QStringList listsNotWritten;
    // Album folders an earlier version named, kept as today's names have
    // none.
    QStringList oldFolders;
    // The failed.txt files that could not be written, and the failures they
    // should have held ("address\tfile name\treason").
    QStringList failedListsNotWritten;
    QStringList unrecordedFailures;
    // A retry found nothing to retry in an album whose last failures could
    // not be recorded.
    QStringList nothingToRetry;
    // The picture hosts kept answering "too many requests"; the pictures left
    // failed ("rate limited").
    bool rateLimited = false;
    // Albums whose listing the skip rule ended at a picture an earlier run
    // saved (their pictures from there on were not listed).
    std::uint32_t ruleSkips = 0;
    // Clips, videos and posts' pictures that could not be had because their
    // post cannot be read (followers only, deleted): listed in failed.txt
    // with their post for a later retry, but no failure of the run.
    std::uint32_t unavailable = 0;
    // Pictures left out by the run's date range: neither saved nor failed.
    std::uint32_t outOfRange = 0;
    // Albums whose pages give no picture times, downloaded whole though a
    // range was asked.
    QStringList rangeNotApplied;
};

// The whole run, on its own thread: save path checks, album folders, the
// per-album loop, the idle state at the end. Call with m_downState 1.
DownloadSummary RunDownload(TamblinCore &core, const DownloadOptions &options = {});

// What did not download, as the picture line says it after 下载完毕 ("N张图片
// 下载失败，见 failed.txt；..."); empty when nothing was lost.
QString DownloadLossesText(const DownloadSummary &summary);

// The download button: with no run busy, sets m_downState to 1 and starts
// RunDownload with `options` on a new thread, which the caller owns and
// joins; with a run busy, asks it to stop and returns no thread. A thread
// that cannot be created is reported through the window and leaves the
// state idle. `ended`, when given, gets the run's summary on that thread
// once the run has ended.
std::optional<std::thread> PressDownloadButton(TamblinCore &core, const DownloadOptions &options = {},
                                               std::function<void(const DownloadSummary &)> ended = {});

// Asks a busy run to stop: the listing ends at the next picture, the pool
// after its next worker, the album loop before the next album.
void RequestDownloadStop(TamblinCore &core);

} // namespace tamblin

#include "download/DownloadDriver.h"

#include "app/StoredTexts.h"
#include "app/TamblinCore.h"
#include "app/WindowPort.h"
#include "download/WorkerPool.h"
#include "download/DownloadJobList.h"
#include "download/DownloadTexts.h"
#include "download/FileUtils.h"
#include "download/ListFiles.h"
#include "download/NamingRules.h"
#include "net/SafeFile.h"
#include "sources/SourceSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <array>
#include <atomic>
#include <system_error>
#include <thread>

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

constexpr int kSiteSina = 4;
constexpr int kLastSiteIndex = 16;

std::array<std::atomic<PictureExtractor>, kSubModeCount> g_extractors{};
std::atomic<PostLineRetry> g_postLineRetry{nullptr};
std::atomic<PostKeeper *> g_postKeeper{nullptr};

void Message(TamblinCore &core, const QString &text)
{
    if (core.m_window)
        core.m_window->ShowMessage(text);
}

void Text(TamblinCore &core, int controlId, const QString &text)
{
    if (core.m_window)
        core.m_window->SetItemText(controlId, text);
}

bool IsSeparator(QChar c)
{
    return c == u'/' || c == QDir::separator();
}

// The user and sub folders come from the list run, that is from names a
// service sent: keep them below the save folder whatever they hold. Empty
// parts and parts made of dots are dropped, each part is fitted to the
// file system's limit, and the result ends in the native separator.
QString SafeRelativeFolder(const QString &folder)
{
    QString result;
    QString part;
    auto flush = [&] {
        bool dots = true;
        for (QChar c : part)
            dots = dots && (c == u'.' || c == u' ');
        if (!dots)
            result += FitName(part) + QDir::separator();
        part.clear();
    };
    for (QChar c : folder) {
        if (IsSeparator(c) || c == u'\\')
            flush();
#ifdef Q_OS_WIN
        else if (c == u':')
            continue;
#endif
        else
            part += c;
    }
    flush();
    return result;
}

// The option bits in force now: read per album, so that a bit changed from
// the menu during a run applies from the next album on.
std::uint16_t FlagsNow(const TamblinCore &core)
{
    return core.SiteRulesNow().flags;
}

QString PrimaryAddress(const QString &address)
{
    const qsizetype split = address.indexOf(u"\r\n");
    return split < 0 ? address : address.first(split);
}

// A list file that could not be written: said at once, counted as a loss.
void ListNotWritten(TamblinCore &core, const QString &path, DownloadSummary &summary)
{
    summary.listsNotWritten.append(path);
    Text(core, kIdStatusMain, QString::fromUtf16(texts::kListNotWritten).arg(QDir::toNativeSeparators(path)));
}

// The jobs of a retry: the lines of the album folder's failed.txt, under
// their recorded names.
void LoadFailedJobs(TamblinCore &core, int albumIndex, const QString &base)
{
    g_jobs.folder = AlbumFolderFor(core, albumIndex, base, &g_jobs.oldFolderKept);
    // The picture hosts want the Referer the album's listing would have set.
    g_jobs.referer = PictureReferer(core.m_subMode);
    const PostLineRetry postRetry = g_postLineRetry;
    QList<FailedPicture> postLines;
    for (const FailedPicture &picture : ReadFailedList(g_jobs.folder)) {
        if (postRetry && !picture.postId.isEmpty()) {
            postLines.append(picture);
            continue;
        }
        // A line named as a clip (one an older version recorded without its
        // post) is wanted whatever its size, as in the run that listed it.
        PictureExtras extras;
        const QString ext = QFileInfo(picture.fileName).suffix().toLower();
        if (ext == u"mov"_s || ext == u"mp4"_s)
            extras.clipExtension = u'.' + ext;
        g_jobs.Append(picture.url, picture.fileName, QString(), extras);
    }
    if (!postLines.isEmpty())
        postRetry(core, albumIndex, postLines);
    if (!g_jobs.urls.isEmpty())
        Text(core, kIdStatusPicture, u"已获取到%1张图片信息"_s.arg(g_jobs.urls.size()));
}

void ListPictures(TamblinCore &core, int albumIndex)
{
    const int t = core.m_listType;
    if (t < 0 || t > kLastSiteIndex) {
        Message(core, QString::fromUtf16(texts::kBadListType));
        return;
    }
    if (t != kSiteSina)
        return;
    const int mode = core.m_subMode;
    if (mode < 0 || mode >= kSubModeCount)
        return;
    if (PictureExtractor extractor = g_extractors[mode].load())
        extractor(core, albumIndex);
}

// Gives each saved picture of the album whose post time is known that time.
void SetPostTimes(const std::vector<PictureResult> &results)
{
    for (qsizetype i = 0; i < g_jobs.fileNames.size() && std::size_t(i) < results.size(); ++i) {
        const std::int64_t posted = g_jobs.Extras(i).postTime;
        if (posted > 0 && results[std::size_t(i)].outcome == PictureOutcome::Saved)
            SetFileTimes(g_jobs.FilePath(i), posted);
    }
}

void Report(const PictureReport &report)
{
    if (g_jobs.report)
        g_jobs.report(report);
}

// Tells the report receiver what became of each picture of the album, under
// the names the fix-ups left.
void ReportPictures(const std::vector<PictureResult> &results)
{
    if (!g_jobs.report)
        return;
    for (qsizetype i = 0; i < g_jobs.urls.size(); ++i) {
        const PictureResult result = std::size_t(i) < results.size() ? results[std::size_t(i)] : PictureResult{};
        PictureReport report;
        report.url = PrimaryAddress(g_jobs.urls[i]);
        report.path = g_jobs.FilePath(i);
        switch (result.outcome) {
        case PictureOutcome::Saved:
            report.kind = PictureReport::Kind::Saved;
            report.bytes = QFileInfo(report.path).size();
            break;
        case PictureOutcome::SkippedBySize:
            report.kind = PictureReport::Kind::Skipped;
            report.reason = u"size"_s;
            break;
        case PictureOutcome::NotRun:
        case PictureOutcome::Failed:
            report.kind = PictureReport::Kind::Failed;
            report.path = g_jobs.fileNames[i];
            report.reason = result.reason.isEmpty() ? u"stopped"_s : result.reason;
            break;
        }
        Report(report);
    }
}

// Tells the report receiver of the album's pictures that are unavailable.
void ReportUnavailable()
{
    for (const FailedPicture &lost : std::as_const(g_jobs.unavailable)) {
        PictureReport report;
        report.kind = PictureReport::Kind::Unavailable;
        report.url = lost.url;
        report.path = lost.fileName;
        report.reason = lost.reason;
        report.postId = lost.postId;
        Report(report);
    }
}

// Records in the album's failed.txt the pictures of `failed` and those the
// listing found unavailable, after the lines of earlier runs that this run
// did not answer for: a line is answered by a job of its file name (`tried`,
// as FailedListKey gives names), by an unavailable picture of that name, or
// by the listing settling it. Counts the unavailable pictures.
void RecordFailures(TamblinCore &core, const QList<FailedPicture> &failed, QSet<QString> tried,
                    DownloadSummary &summary)
{
    const QString &folder = g_jobs.folder;
    for (const FailedPicture &lost : std::as_const(g_jobs.unavailable))
        tried.insert(FailedListKey(lost.fileName, folder));
    for (const QString &name : std::as_const(g_jobs.settledFailures))
        tried.insert(FailedListKey(name, folder));
    summary.unavailable += std::uint32_t(g_jobs.unavailable.size());
    // Failures of earlier runs that this one did not try again stay listed
    // (the skip rule may have ended the listing before them).
    QList<FailedPicture> listed;
    for (const FailedPicture &old : ReadFailedList(folder)) {
        if (!tried.contains(FailedListKey(old.fileName, folder)))
            listed.append(old);
    }
    listed += failed;
    listed += g_jobs.unavailable;
    if (WriteFailedList(folder, listed)) {
        if (!listed.isEmpty())
            summary.failedLists.append(FailedListPath(folder));
        MarkFailuresUnrecorded(core.m_appDir, folder, false);
    } else {
        // A full disk: the user learns what failed here and now, and a retry
        // later that finds no list says it has nothing to go by.
        summary.failedListsNotWritten.append(FailedListPath(folder));
        for (const FailedPicture &picture : failed + g_jobs.unavailable)
            summary.unrecordedFailures.append(picture.url + u'\t' + picture.fileName + u'\t' + picture.reason);
        MarkFailuresUnrecorded(core.m_appDir, folder, true);
    }
}

// The pool of the album being listed. It starts with the first pictures the
// listing hands over (FeedListedPictures: before each page the listing
// waits for, and at its end), so that pictures download while later pages
// are read. Lives on the download thread, for one album.
class AlbumFeed {
public:
    // `retry`: the jobs are a failed.txt's, downloaded in any mode.
    AlbumFeed(TamblinCore &core, bool retry) : m_core(core), m_retry(retry)
    {
        g_jobs.OpenListing();
        s_current = this;
        s_thread = std::this_thread::get_id();
    }
    ~AlbumFeed() { Close(); }
    AlbumFeed(const AlbumFeed &) = delete;
    AlbumFeed &operator=(const AlbumFeed &) = delete;

    static AlbumFeed *OnThisThread() { return s_thread.load() == std::this_thread::get_id() ? s_current : nullptr; }

    // Hands the pictures listed so far to the pool. The first ones decide
    // the album's course: with the option bits then in force, a list for a
    // download manager, or a pool, unless a file stands where the album
    // folder belongs (then nothing is fetched that could not be kept; the
    // driver says so once the album is listed). After a stop nothing more is
    // handed over.
    void Feed()
    {
        if (m_closed || DownStopAsked(m_core) || g_jobs.urls.isEmpty())
            return;
        if (!m_decided) {
            m_decided = true;
            m_listOnly = !m_retry && (FlagsNow(m_core) & kListOnly);
            if (m_listOnly || Folder().kind != FolderResult::Kind::Ok)
                return;
            Text(m_core, kIdStatusPicture, QString::fromUtf16(texts::kDownloadStarted));
            m_pool = StartDownloadPool();
            if (!m_pool) {
                Message(m_core, QString::fromUtf16(texts::kPoolThreadFailed));
                return;
            }
            // A stop asked between the state check and the pool's start must
            // not be lost when the pool clears the flag.
            if (m_core.m_downState == 3)
                g_stopDownload = true;
        }
        if (m_pool)
            g_jobs.Publish();
    }

    // The listing ended: the last pictures go to the pool (after a stop,
    // those it never got are dropped), and the pool is waited for.
    void Close()
    {
        if (m_closed)
            return;
        if (DownStopAsked(m_core))
            g_jobs.DropUnpublished();
        else
            Feed();
        m_closed = true;
        s_thread = std::thread::id();
        s_current = nullptr;
        g_jobs.CloseListing();
        if (m_pool) {
            m_pool->join();
            // Workers a stop left running finish their picture before
            // anything else looks at the album's files.
            JoinAbandonedWorkers();
        }
    }

    bool ListOnly() const { return m_listOnly; }
    bool PoolRan() const { return m_pool.has_value(); }

    // Whether the album folder is there to write into (made, not a link),
    // as it was found when the first pictures were handed over.
    const FolderResult &Folder()
    {
        if (!m_folder)
            m_folder = MakeFolders(g_jobs.folder);
        return *m_folder;
    }

private:
    TamblinCore &m_core;
    const bool m_retry;
    bool m_closed = false;
    bool m_decided = false;
    bool m_listOnly = false;
    std::optional<FolderResult> m_folder;
    std::optional<std::thread> m_pool;

    static inline std::atomic<std::thread::id> s_thread{};
    static inline AlbumFeed *s_current = nullptr; // read on s_thread only
};

// Records what became of the jobs of the album the pool downloaded: the
// run's counts, the album's failed.txt, and "pic.orv" when the picture it
// names was saved; then the fix-ups and the reports.
void RecordAlbum(TamblinCore &core, std::uint16_t flags, const DownloadOptions &options, DownloadSummary &summary,
                 const QString &userFolder, QHash<QString, QString> &savedMedia)
{
    const std::vector<PictureResult> results = PoolResults();
    QList<FailedPicture> failed;
    QSet<QString> tried;
    for (qsizetype i = 0; i < g_jobs.urls.size(); ++i) {
        const QString address = PrimaryAddress(g_jobs.urls[i]);
        tried.insert(FailedListKey(g_jobs.fileNames[i], g_jobs.folder));
        const PictureResult result = std::size_t(i) < results.size() ? results[std::size_t(i)] : PictureResult{};
        switch (result.outcome) {
        case PictureOutcome::Saved:
            ++summary.pictures.saved;
            break;
        case PictureOutcome::SkippedBySize:
            ++summary.pictures.skipped;
            break;
        case PictureOutcome::NotRun:
        case PictureOutcome::Failed:
            ++summary.pictures.failed;
            failed.append({address, g_jobs.fileNames[i], result.reason.isEmpty() ? u"stopped"_s : result.reason,
                           g_jobs.Extras(i).postId});
            break;
        }
    }
    RecordFailures(core, failed, tried, summary);

    const bool firstSaved = !results.empty() && results.front().outcome == PictureOutcome::Saved;
    if (core.m_downState != 3 && !options.retryFailed && firstSaved && !g_jobs.range.IsSet())
        WriteLastFirstUrl(g_jobs.urls.at(0), g_jobs.folder);
    // Pictures whose address does not tell their format follow their bytes
    // even without the fix-up bit; so does a copy of a picture saved earlier
    // in the run, as its source did.
    g_jobs.extras.resize(g_jobs.urls.size());
    for (std::size_t i = 0; i < results.size() && qsizetype(i) < g_jobs.extras.size(); ++i) {
        if (results[i].copied)
            g_jobs.extras[qsizetype(i)].extensionFromBytes = true;
    }
    FixPictureFormats(g_jobs, !(flags & kFixFormat));
    if (flags & kFixOrder)
        FixPictureOrder(g_jobs);
    // After the order's made-up times: a time the service gave is the truer.
    if (core.m_postTimeAsFileTime)
        SetPostTimes(results);
    // Later copies of these pictures are made from their final names, and
    // the kept posts name them so.
    for (std::size_t i = 0; i < results.size() && qsizetype(i) < g_jobs.urls.size(); ++i) {
        if (results[i].outcome != PictureOutcome::Saved)
            continue;
        const QString path = g_jobs.FilePath(qsizetype(i));
        NoteSavedPicture(PrimaryAddress(g_jobs.urls[qsizetype(i)]), path);
        const QString key = g_jobs.Extras(qsizetype(i)).mediaKey;
        if (!key.isEmpty() && !savedMedia.contains(key) && path.startsWith(userFolder))
            savedMedia.insert(key, QDir::fromNativeSeparators(path.sliced(userFolder.size())));
    }
    ReportPictures(results);
    ReportUnavailable();
}

} // namespace

void FeedListedPictures()
{
    if (AlbumFeed *feed = AlbumFeed::OnThisThread())
        feed->Feed();
}

void SetPostKeeper(PostKeeper *keeper)
{
    g_postKeeper = keeper;
}

void SetPostLineRetry(PostLineRetry retry)
{
    g_postLineRetry = retry;
}

void SetPictureExtractor(int subMode, PictureExtractor extractor)
{
    if (subMode >= 0 && subMode < kSubModeCount)
        g_extractors[subMode] = extractor;
}

PictureExtractor GetPictureExtractor(int subMode)
{
    if (subMode < 0 || subMode >= kSubModeCount)
        return nullptr;
    return g_extractors[subMode];
}

QString DownloadLossesText(const DownloadSummary &summary)
{
    QStringList losses;
    if (summary.pictures.failed > 0) {
        const bool unlisted = !summary.failedListsNotWritten.isEmpty() || !summary.foldersNotMade.isEmpty()
            || !summary.folderLinks.isEmpty();
        losses.append(QString::fromUtf16(unlisted ? texts::kPicturesFailedUnlisted : texts::kPicturesFailed)
                          .arg(summary.pictures.failed));
    }
    if (summary.unavailable > 0)
        losses.append(QString::fromUtf16(texts::kPicturesUnavailable).arg(summary.unavailable));
    if (!summary.emptyAlbums.isEmpty())
        losses.append(QString::fromUtf16(texts::kAlbumsEmpty).arg(summary.emptyAlbums.size()));
    if (!summary.brokenListings.isEmpty())
        losses.append(QString::fromUtf16(texts::kAlbumsBroken).arg(summary.brokenListings.size()));
    if (!summary.nothingToRetry.isEmpty())
        losses.append(QString::fromUtf16(texts::kNothingToRetry).arg(summary.nothingToRetry.size()));
    if (!summary.listsNotWritten.isEmpty())
        losses.append(QString::fromUtf16(texts::kListsNotWritten).arg(summary.listsNotWritten.size()));
    if (!summary.oldFolders.isEmpty())
        losses.append(QString::fromUtf16(texts::kOldFoldersKept).arg(summary.oldFolders.size()));
    if (!summary.rangeNotApplied.isEmpty())
        losses.append(QString::fromUtf16(texts::kRangeNotApplied).arg(summary.rangeNotApplied.size()));
    return losses.join(u"；"_s);
}

DownloadSummary RunDownload(TamblinCore &core, const DownloadOptions &options)
{
    DownloadSummary summary;
    WindowPort *const window = core.m_window;
    core.ReadExtensionSettings();
    if (options.allArticlePictures)
        core.m_blogAllPictures = true;
    if (options.savePosts)
        core.m_savePosts = true;
    if (options.withReposts)
        core.m_withReposts = true;

    QString save = window ? window->SavePathText().trimmed() : QString();
    if (save.isEmpty()) {
        Message(core, QString::fromUtf16(texts::kSetSavePath));
        core.m_downState = 0;
        return summary;
    }
    // The save folder is the user's (it may be a link to another disk);
    // below it nothing is written through a link.
    bool saveMade = CreateDirectoryPath(save, window);
    const WriteRoot root(save, {core.m_appDir, core.m_appDir + u"tmp"_s});
    const QString base = save + SafeRelativeFolder(core.m_userFolder) + SafeRelativeFolder(core.m_subFolder);
    if (saveMade && base != save) {
        const FolderResult made = MakeFolders(base);
        if (made.kind != FolderResult::Kind::Ok) {
            const bool link = made.kind == FolderResult::Kind::Link;
            Message(core, link ? QString::fromUtf16(texts::kFolderIsLink).arg(made.where) : made.where);
            saveMade = false;
        }
    }
    if (!saveMade) {
        Message(core, QString::fromUtf16(texts::kCheckSavePath));
        core.m_downState = 0;
        return summary;
    }
    summary.started = true;

    // Running, unless a stop was asked since the button was pressed.
    std::uint8_t idle = 0;
    core.m_downState.compare_exchange_strong(idle, 1);
    // The run's count starts before the window shows it busy (and reads it).
    g_runJobsDone = 0;
    g_runJobsTotal = 0;
    if (window)
        window->SetDownBusyUi();
    g_jobs.folder = base;
    g_jobs.range = options.range ? *options.range : core.RangeNow();
    ResetPictureRateLimit();
    TrackRunPictures(true);

    const DownParams params = options.params ? *options.params : core.DownParamsNow();
    g_minKb = params.minKb;
    g_maxKb = params.maxKb;
    g_threadCount = params.threads;
    g_timeoutSec = params.timeoutSec;

    const QList<int> chosen = window ? window->ChosenAlbums() : QList<int>();
    core.m_albums.selectedCount = std::int32_t(chosen.size());
    if (chosen.isEmpty())
        Message(core, StoredText(kTextNoAlbumChosen));

    std::uint32_t runTotal = 0;
    // What the run saved of the pictures posts name, for posts.jsonl.
    QHash<QString, QString> savedMedia;
    PostKeeper *const keeper = core.m_subMode == kSubModeWeibo ? g_postKeeper.load() : nullptr;
    // One album (or a user's reposts), listed and downloaded.
    auto downloadAlbum = [&](int albumIndex, int k, int n) {
        g_jobs.Clear();
        g_jobs.folder = base;

        // Back from the skip rule's 2 to running; a stop asked meanwhile stays.
        std::uint8_t skipped = 2;
        core.m_downState.compare_exchange_strong(skipped, 1);
        Text(core, kIdStatusMain, QString::fromUtf16(texts::kDownloadingAlbum).arg(k + 1).arg(n));
        Text(core, kIdStatusPicture, QString::fromUtf16(texts::kEllipsis));

        AlbumFeed feed(core, options.retryFailed);
        if (options.retryFailed)
            LoadFailedJobs(core, albumIndex, base);
        else if (albumIndex == kRepostsAlbum)
            keeper->ListReposts(core);
        else
            ListPictures(core, albumIndex);
        feed.Close();
        const ST_PERLISTRECORD *album = AlbumAt(core, albumIndex);
        const QString albumName = album ? album->name : QString();
        summary.outOfRange += g_jobs.outOfRange;
        if (g_jobs.range.IsSet() && g_jobs.untimed > 0 && !options.retryFailed)
            summary.rangeNotApplied.append(albumName);
        if (!g_jobs.listingError.isEmpty())
            summary.brokenListings.append(albumName + u": "_s + g_jobs.listingError);
        if (g_jobs.oldFolderKept) {
            summary.oldFolders.append(g_jobs.folder);
            Text(core, kIdStatusMain,
                 QString::fromUtf16(texts::kOldFolderKept).arg(QDir::toNativeSeparators(g_jobs.folder)));
        }
        // The titles of the pictures listed, a stopped listing's too.
        auto writeTitles = [&] {
            if (!WriteTitleFile(g_jobs, albumName))
                ListNotWritten(core, TitleFilePath(g_jobs, albumName), summary);
        };

        const qsizetype m = g_jobs.urls.size();
        // A stop before any picture went to the pool leaves the album as it
        // was; once some did, what became of them is recorded.
        if (core.m_downState == 3 && !feed.PoolRan()) {
            writeTitles();
            return;
        }
        Report({PictureReport::Kind::Album, albumIndex, m, {}, {}, {}, 0});
        if (!g_jobs.ruleStopUrl.isEmpty()) {
            ++summary.ruleSkips;
            Report({PictureReport::Kind::Skipped, albumIndex, 0, g_jobs.ruleStopUrl, g_jobs.folder, u"skip-rule"_s, 0});
        }
        if (m == 0 && (!g_jobs.unavailable.isEmpty() || !g_jobs.settledFailures.isEmpty())) {
            // Nothing to fetch, but what cannot be had is still recorded (in
            // the album's folder, made here as its first picture would).
            g_jobs.folder = AlbumFolderFor(core, albumIndex, base, &g_jobs.oldFolderKept);
            MakeFolders(g_jobs.folder);
            RecordFailures(core, {}, {}, summary);
            ReportUnavailable();
            return;
        }
        if (m == 0) {
            // An album said to hold pictures (or not saying) whose walk ended
            // as an album's does, yet gave none, is a loss to report; the
            // skip rule ending the listing at once is not.
            if (options.retryFailed) {
                // A list left empty by a full disk says as much as the mark.
                const bool emptyList = QFileInfo(FailedListPath(g_jobs.folder)).size() == 0
                    && QFileInfo::exists(FailedListPath(g_jobs.folder));
                if (emptyList || FailuresUnrecorded(core.m_appDir, g_jobs.folder))
                    summary.nothingToRetry.append(albumName);
            } else if (core.m_downState != 2 && g_jobs.listingError.isEmpty() && album && album->count != 0
                       && core.m_subMode != kSubModeSinaBlog && g_jobs.outOfRange == 0
                       && albumIndex != kRepostsAlbum) {
                // (A blog article is no album: one without a picture is an
                // ordinary article.)
                summary.emptyAlbums.append(albumName);
            }
            return;
        }
        runTotal += std::uint32_t(m);

        // A file in the way of the album folder, or a link: said once, and
        // no picture was fetched that could not be kept.
        const FolderResult folder = feed.Folder();
        if (folder.kind != FolderResult::Kind::Ok) {
            const bool link = folder.kind == FolderResult::Kind::Link;
            const QString where = QDir::toNativeSeparators(link ? folder.where : g_jobs.folder);
            Message(core, QString::fromUtf16(link ? texts::kFolderIsLink : texts::kAlbumFolderNotMade).arg(where));
            (link ? summary.folderLinks : summary.foldersNotMade).append(link ? folder.where : g_jobs.folder);
            summary.pictures.failed += std::uint32_t(m);
            const QString reason = link ? u"a folder on the way is a link: "_s + where
                                        : u"the album folder cannot be made"_s;
            ReportPictures(std::vector<PictureResult>(std::size_t(m), {PictureOutcome::Failed, reason}));
            return;
        }
        writeTitles();

        if (feed.ListOnly()) {
            const QString thunder = AlbumFilePath(g_jobs.folder, albumName, u".lst");
            if (!WriteThunderList(thunder, g_jobs.urls))
                ListNotWritten(core, thunder, summary);
            const QString aria2 = AlbumFilePath(g_jobs.folder, albumName, u".aria2.txt");
            if (!WriteAria2List(aria2, g_jobs))
                ListNotWritten(core, aria2, summary);
            // What no list can fetch is recorded as a download would.
            if (!g_jobs.unavailable.isEmpty()) {
                RecordFailures(core, {}, {}, summary);
                ReportUnavailable();
            }
            return;
        }
        // Not without a pool (its thread could not be made: said).
        if (feed.PoolRan())
            RecordAlbum(core, FlagsNow(core), options, summary, base, savedMedia);
    };
    // Every chosen album: a user with more albums than a 16-bit counter
    // holds loses none of them.
    const int n = int(chosen.size());
    summary.albums = std::uint32_t(n);
    for (int k = 0; k < n && core.m_downState != 3; ++k)
        downloadAlbum(chosen[k], k, n);
    // A Weibo user's posts, after its albums, whose files they name; the
    // pictures of its reposts in their own folder (a retry retries theirs).
    const bool reposts = keeper && core.m_withReposts;
    if (keeper && !options.retryFailed && (core.m_savePosts || reposts) && n > 0 && core.m_downState != 3) {
        QString why;
        Text(core, kIdStatusMain, QString::fromUtf16(texts::kReadingPosts));
        if (!keeper->Read(core, g_jobs.range, why))
            summary.brokenListings.append(QString::fromUtf16(kPostsFileName) + u": "_s + why);
        if (reposts && core.m_downState != 3)
            downloadAlbum(kRepostsAlbum, n, n + 1);
        if (core.m_savePosts && !keeper->Write(base, savedMedia))
            ListNotWritten(core, base + QString::fromUtf16(kPostsFileName), summary);
    } else if (reposts && options.retryFailed && n > 0 && core.m_downState != 3
               && QFileInfo::exists(AlbumFolderFor(core, kRepostsAlbum, base))) {
        downloadAlbum(kRepostsAlbum, n, n + 1);
    }
    g_jobs.range = DateRange();
    TrackRunPictures(false);
    summary.stopped = core.m_downState == 3;
    summary.rateLimited = PictureRateLimitGaveUp();

    const QString lastFolder = g_jobs.folder;
    // Read while still busy: once idle, a list run may set the site.
    const bool openFolder = runTotal > 0 && (FlagsNow(core) & kOpenFolderWhenDone);
    Text(core, kIdStatusMain, QString::fromUtf16(texts::kDownloadFinished));
    // The picture line says what did not download, and where it is listed.
    Text(core, kIdStatusPicture, DownloadLossesText(summary));
    core.m_downState = 0;
    if (window)
        window->SetDownIdleUi();

    if (openFolder && window)
        window->OpenFolder(lastFolder);
    return summary;
}

std::optional<std::thread> PressDownloadButton(TamblinCore &core, const DownloadOptions &options,
                                               std::function<void(const DownloadSummary &)> ended)
{
    std::uint8_t idle = 0;
    if (!core.m_downState.compare_exchange_strong(idle, 1)) {
        RequestDownloadStop(core);
        return std::nullopt;
    }
    try {
        return std::thread([&core, options, ended = std::move(ended)] {
            const DownloadSummary summary = RunDownload(core, options);
            if (ended)
                ended(summary);
        });
    } catch (const std::system_error &) {
        Message(core, QString::fromUtf16(texts::kThreadFailed));
        core.m_downState = 0;
        return std::nullopt;
    }
}

void RequestDownloadStop(TamblinCore &core)
{
    core.m_downState = 3;
    g_stopDownload = true;
}

} // namespace tamblin

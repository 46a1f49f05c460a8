// The picture jobs of the album being downloaded.
//
// Entry i of urls, fileNames and headers together is one job. The list is
// filled by the naming rules, one picture at a time, read by the pool while it
// runs and by the fix-up passes afterwards; the driver empties it before each
// album.
//
// It is also the queue between the album's listing and its pool: while a
// listing is open, the pool takes only the jobs published so far and waits
// for more, or for the close. Appends (Append) and the pool's reads go under
// `mutex`; the listing's thread, the only writer, reads without it.
#pragma once

#include "download/DateRange.h"
#include "download/ListFiles.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace tamblin {

class WindowPort;

// What an extractor knows of a picture beyond its address and title.
struct PictureExtras {
    // A clip (the motion of a Live Photo, a video) rather than a picture: it
    // is saved under this extension (".mov", ".mp4") and the size limits,
    // which are meant for pictures, do not apply to it. Empty: a picture.
    QString clipExtension;
    // When the service says the picture was posted, seconds since 1970; 0
    // when it does not say.
    std::int64_t postTime = 0;
    // The address does not tell the picture's format: once saved, the file
    // takes the extension its first bytes call for (a clip's: ".mov" for a
    // QuickTime file, ".mp4" for another of that family).
    bool extensionFromBytes = false;
    // The address this one stands for, when a name taken from an address is
    // to be taken from it: a clip's stable address names no file of its own
    // (".../media/play?livephoto=<the clip's address>"). Empty: the address.
    QString namingAddress = {};
    // The post to read again for a fresh address should the job fail (a
    // clip whose address expires): failed.txt records it with the line.
    QString postId = {};
    // What the kept posts (posts.jsonl) know the file by: a Weibo picture's
    // id, "clip:" and the id of the picture or post whose clip it is. Empty:
    // no post names it.
    QString mediaKey = {};
};

// What became of a picture of the run, or that an album's pictures are
// listed; what a front end reports to a script.
struct PictureReport {
    enum class Kind : std::uint8_t { Album, Saved, Skipped, Failed, Unavailable };
    Kind kind = Kind::Album;
    int albumIndex = -1;
    qsizetype pictures = 0; // Album: the pictures listed
    QString url;            // the picture's address
    // Where the file is (Saved), would have been (Skipped by size), or its
    // name as failed.txt records it (Failed, Unavailable). Skipped by the
    // skip rule: the
    // album folder, where an earlier run saved the pictures from there on
    // (under names that may differ from today's).
    QString path;
    // Skipped: "size" or "skip-rule"; Failed, Unavailable: why.
    QString reason;
    std::int64_t bytes = 0; // Saved: the file's size
    QString postId = {};    // Unavailable: the post that could not be read
};

struct DownloadJobList {
    // The picture's address; a fallback address may follow the first "\r\n".
    QStringList urls;
    // The file name relative to `folder`, or an absolute path.
    QStringList fileNames;
    // Extra request header lines; as long as `urls`, or empty.
    QStringList headers;
    // What the extractor knew of each picture; as long as `urls`, or empty.
    QList<PictureExtras> extras;
    // Folder of the current album, ending in the native separator.
    QString folder;
    // Why the picture listing of the album broke off (a page that could not
    // be fetched); empty when it ended as the album does.
    QString listingError;
    // The Referer of the album's pictures (the page they are shown on), set
    // by the picture extractor; the picture hosts refuse requests without
    // one. Empty: none is sent.
    QString referer;
    // Receives the progress text and the end of each pool; none = no progress.
    WindowPort *progressWindow = nullptr;
    int progressControlId = 0;
    // Told when a pool ends (only when progressWindow is set): the seconds
    // the pool ran and its number of jobs.
    std::function<void(std::int64_t seconds, std::uint32_t total)> poolDone;
    // Told by the driver, on the download thread, of each album once it is
    // listed and of each of its pictures once the album's fix-ups are done,
    // so that a path is the file's final name. None: nothing is told.
    std::function<void(const PictureReport &)> report;
    // The address of the picture at which the skip rule ended the album's
    // listing (saved by an earlier run); empty when it did not.
    QString ruleStopUrl;
    // The title lines of the album's pictures (AppendTitleLine), written
    // once the album is listed.
    QStringList titles;
    // The album kept the folder an earlier version named it, as today's
    // name has none (AlbumFolderFor).
    bool oldFolderKept = false;
    // What the listing knows of but cannot get, because the post holding it
    // cannot be read (followers only, deleted): a clip, a video, or the
    // pictures of a post (named by the post's id). failed.txt keeps each
    // with its reason and post, so that a retry asks the post again; they
    // count as unavailable, not as failed.
    QList<FailedPicture> unavailable;
    // failed.txt lines, by file name, that the listing answered for without
    // a job of that name: a retry that read the post behind a line and
    // listed its pictures under their own names.
    QStringList settledFailures;
    // The run's range of post days (set by the driver for a run; Clear
    // keeps it), the album's pictures it left out, which still count in the
    // sequence numbers so that a picture has the same number in every
    // range, and the pictures listed under a range whose time is unknown
    // (kept: the range could not be applied to them).
    DateRange range;
    std::uint32_t outOfRange = 0;
    std::uint32_t untimed = 0;

    // Lookup of the file names for the naming rules: case-folded name -> the
    // first job bearing it, and per (folded base, extension) the next number
    // worth trying for a "(n)" name. Names are only appended between two
    // Clear() calls (the fix-ups rename afterwards), so the index is rebuilt
    // only when the number of names differs from the number indexed.
    QHash<QString, qsizetype> nameIndex;
    QHash<QString, unsigned> nextNumber;
    qsizetype indexedNames = 0;

    // Guards the arrays and the two fields below while a pool reads them;
    // `fed` wakes the pool (jobs published, the listing closed, a worker
    // ended).
    std::mutex mutex;
    std::condition_variable fed;
    // A listing is open: more jobs may come, and the pool takes only the
    // first `published`. Closed (the default), every job is the pool's.
    bool listing = false;
    qsizetype published = 0;

    // Empties the four arrays, the listing error, the Referer, the skip
    // rule's stop, the title lines, the old-folder mark, the unavailable
    // pictures, the range's counts and the name lookup, and closes the
    // listing; keeps the folder, the range and the receivers.
    void Clear();

    // Whether the run's range leaves out a picture posted at `postTime` (0:
    // unknown): counted as left out when it does; an unknown time under a
    // range counts as untimed, and the picture is kept.
    bool LeaveOut(std::int64_t postTime);
    // The number of the next picture in the album: the jobs listed and the
    // pictures the range left out before it.
    qsizetype NextSequence() const { return urls.size() + qsizetype(outOfRange) + 1; }

    // Appends one job, under the lock.
    void Append(const QString &url, const QString &fileName, const QString &headerLines,
                const PictureExtras &pictureExtras);
    // A listing begins: nothing is the pool's until published.
    void OpenListing();
    // Every job listed so far is the pool's.
    void Publish();
    // Drops the jobs not yet published (a stop ended the listing).
    void DropUnpublished();
    // No more jobs will come.
    void CloseListing();
    // The jobs the pool may take now; call with `mutex` held.
    qsizetype Available() const { return listing ? published : urls.size(); }
    // Wakes a pool waiting on `fed`.
    void Wake();

    // Where job `i` is written: its name when that is an absolute path,
    // otherwise `folder` followed by the name.
    QString FilePath(qsizetype i) const;
    // The header lines of job `i`'s request: its own, then the album's
    // Referer unless they name one.
    QString RequestHeaders(qsizetype i) const;
    // The extras of job `i` (none given: a picture of unknown time).
    PictureExtras Extras(qsizetype i) const;
};

// The one job list of the program.
extern DownloadJobList g_jobs;

} // namespace tamblin

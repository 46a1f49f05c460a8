// The small files written into an album's folder beside the pictures: the
// address list for an external download manager, the file of the pictures'
// original titles, "pic.orv", the record of the album's first picture
// address that the rule skipping pictures downloaded before reads back, and
// "failed.txt", the pictures that did not download.
#pragma once

#include <QString>
#include <QList>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace tamblin {

struct DownloadJobList;

// When a signed address stops working: the time, in seconds since 1970,
// that the "Expires=" field of its query names (of its first address, when
// a fallback follows after CR LF). None for an address that names none.
std::optional<std::int64_t> AddressExpiry(const QString &address);

// Both lists below write the addresses that expire (AddressExpiry) after
// all others, each group in job order, so that a download manager working
// down the list is not still busy with pictures that keep while the signed
// addresses run out.

// Writes one GBK line, ended by CR LF, per address of `urls` to `path`,
// replacing the file; an address holding a fallback after CR LF gives two
// lines. Returns false (and leaves the old file, if any) when the file cannot
// be written whole.
bool WriteThunderList(const QString &path, const QStringList &urls);

// Writes the jobs of `jobs` as an input file of the aria2 download manager
// (UTF-8): per job its address (and its fallback, tab-separated), then
// indented "out=" with the file name the pool would have used ("dir=" too
// when that name is a full path), "referer=" with the Referer the pool would
// have sent and "header=" per other header line; before the addresses that
// expire, a comment line saying when the first of them does (local time).
// So an external manager fetches what the program would, where it would.
// Returns false when the file cannot be written whole.
bool WriteAria2List(const QString &path, const DownloadJobList &jobs);

// The file of an album named after it in `folder`: the album's name and
// `ext` (".txt", ".lst", ".aria2.txt"), fitted as any name is.
QString AlbumFilePath(const QString &folder, const QString &albumName, QStringView ext);

// The album's title file, "<folder><album name>.txt".
QString TitleFilePath(const DownloadJobList &jobs, const QString &albumName);

// Keeps `description` as the title line of the picture just added to
// `jobs`; WriteTitleFile writes the album's lines once it is listed.
void AppendTitleLine(DownloadJobList &jobs, const QString &description);

// Writes the album's title file anew: the byte-order mark FF FE, then per
// kept line the description and CR LF, as UTF-16LE. Nothing when no line was
// kept (a retry keeps none, and leaves the file of the listing run). False
// when the file could not be written whole.
bool WriteTitleFile(const DownloadJobList &jobs, const QString &albumName);

// Records `address` as UTF-16LE in "<folder>pic.orv" unless that file
// exists already: the record keeps the first address of the first completed
// download into the folder. Written through a temporary file published
// without replacing anything (not even a link), so the record is whole or
// absent. Hidden where the platform has the attribute.
void WriteLastFirstUrl(const QString &address, const QString &folder);

// The recorded address, up to its first line feed; empty when there is none.
void ReadLastFirstUrl(QString &out, const QString &folder);

// "failed.txt" in an album folder lists the pictures that did not download:
// one UTF-8 line each, the address, a tab, the file name (below the folder,
// '/' between folders), a tab and the reason, and, for a picture of a post
// that a retry must read again (one that could not be read, a clip whose
// address expires), a tab and the post's id.
inline constexpr char16_t kFailedListName[] = u"failed.txt";

// A Weibo user's kept posts, one JSON object a line, in the user's folder;
// and the folder beside the albums that holds the pictures of its reposts.
inline constexpr char16_t kPostsFileName[] = u"posts.jsonl";
inline constexpr char16_t kRepostsFolderName[] = u"转发";

// True when `albumName` names its folder, title file or list files with a
// name the program keeps for itself, letter case ignored: "failed.txt",
// "pic.orv", "posts.jsonl" and the folder "转发". Such an album is numbered
// as a duplicate is.
bool TakesReservedName(const QString &albumName);

struct FailedPicture {
    QString url;
    QString fileName; // as a job names it: plain, or a full path in the folder
    QString reason;
    QString postId = {}; // digits, or empty
    bool operator==(const FailedPicture &) const = default;
};

QString FailedListPath(const QString &folder);

// The lines of the folder's list; lines of fewer than three fields, and
// names that would leave the folder, are skipped (fields past the fourth are
// ignored, a fourth that is not a post id is dropped). Empty when there is
// no list.
QList<FailedPicture> ReadFailedList(const QString &folder);

// The file name of a line or a job as failed.txt compares them: below
// `folder`, '/' between folders. A line is replaced by the outcome of the
// job (or the line) of the same name.
QString FailedListKey(const QString &fileName, const QString &folder);

// Replaces the folder's list as a whole (never a half-written one), or
// removes it when `pictures` is empty. False when that failed.
bool WriteFailedList(const QString &folder, const QList<FailedPicture> &pictures);

// The album folders whose failures could not be recorded in their own list
// (a full disk), one UTF-8 line each in "<startFolder>failed-unrecorded.txt":
// a retry of such an album has nothing to go by and must say so. Marking
// adds a folder, clearing removes it (and the file with its last line).
inline constexpr char16_t kUnrecordedListName[] = u"failed-unrecorded.txt";
void MarkFailuresUnrecorded(const QString &startFolder, const QString &albumFolder, bool unrecorded);
bool FailuresUnrecorded(const QString &startFolder, const QString &albumFolder);

} // namespace tamblin

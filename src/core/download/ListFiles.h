// The small files written into an album's folder beside the pictures: the
// address list for an external download manager, the file of the pictures'
// original titles, and "pic.orv", the record of the album's first picture
// address that the rule skipping pictures downloaded before reads back.
#pragma once

#include <QString>
#include <QStringList>

namespace tamblin {

struct DownloadJobList;

// Writes one GBK line, ended by CR LF, per address of `urls` to `path`,
// replacing the file; an address holding a fallback after CR LF gives two
// lines. Returns false (and writes nothing) when the file cannot be created.
bool WriteThunderList(const QString &path, const QStringList &urls);

// Writes the jobs of `jobs` as an input file of the aria2 download manager
// (UTF-8): per job its address (and its fallback, tab-separated), then
// indented "out=" with the file name the pool would have used ("dir=" too
// when that name is a full path), "referer=" with the Referer the pool would
// have sent and "header=" per other header line. So an external manager
// fetches what the program would, where it would. Returns false when the
// file cannot be created.
bool WriteAria2List(const QString &path, const DownloadJobList &jobs);

// The album's title file, "<folder><album name>.txt".
QString TitleFilePath(const DownloadJobList &jobs, const QString &albumName);

// Appends `description` and CR LF, as UTF-16LE, to the album's title file.
// With fewer than 2 jobs in `jobs` (the album's first picture) the file is
// created anew with a byte-order mark; otherwise it must exist, and a line
// that cannot be written is dropped.
void AppendTitleLine(const DownloadJobList &jobs, const QString &albumName,
                     const QString &description);

// Records `address` as UTF-16LE in "<folder>pic.orv" unless that file
// exists already: the record keeps the first address of the first completed
// download into the folder. Hidden where the platform has the attribute.
void WriteLastFirstUrl(const QString &address, const QString &folder);

// The recorded address, up to its first line feed; empty when there is none.
void ReadLastFirstUrl(QString &out, const QString &folder);

} // namespace tamblin

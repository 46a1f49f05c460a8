// The picture jobs of the album being downloaded.
//
// Entry i of urls, fileNames and headers together is one job. The list is
// filled by the naming rules, one picture at a time, read by the pool while it
// runs and by the fix-up passes afterwards; the driver empties it before each
// album.
#pragma once

#include <QString>
#include <QStringList>

namespace tamblin {

class WindowPort;

struct DownloadJobList {
    // The picture's address; a fallback address may follow the first "\r\n".
    QStringList urls;
    // The file name relative to `folder`, or an absolute path.
    QStringList fileNames;
    // Extra request header lines; as long as `urls`, or empty.
    QStringList headers;
    // Folder of the current album, ending in the native separator.
    QString folder;
    // Receives the progress text and the end of each pool; none = no progress.
    WindowPort *progressWindow = nullptr;
    int progressControlId = 0;

    // Where job `i` is written: its name when that is an absolute path,
    // otherwise `folder` followed by the name.
    QString FilePath(qsizetype i) const;
};

// The one job list of the program.
extern DownloadJobList g_jobs;

} // namespace tamblin

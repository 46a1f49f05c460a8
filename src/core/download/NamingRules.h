// The naming rules: every picture an extractor finds goes through
// AddPictureJob, which names its file by the current site's rules, creates
// the album's folder at the album's first picture, applies the rule that
// skips pictures downloaded before, and appends the job to g_jobs.
//
// Whatever a service sends as album names, titles or addresses, the files and
// folders named here stay inside the save folder, and every name fits the
// file system's limit on one path component.
#pragma once

#include <QString>

namespace tamblin {

class TamblinCore;
struct DownloadJobList;
struct ST_PERLISTRECORD;
struct SiteRules;
struct PictureExtras;

// The album index of the pictures of a Weibo user's reposts, downloaded
// into the folder "转发" beside the user's albums (a name no album takes).
inline constexpr int kRepostsAlbum = -2;

// The record of album `albumIndex`: one of core.m_albums, or the reposts'
// own; null when there is none.
const ST_PERLISTRECORD *AlbumAt(const TamblinCore &core, int albumIndex);

// Called by a picture extractor on the download thread, once per picture in
// the order found. `headers` are extra request lines for the fetch (may be
// empty), `albumIndex` the album's index in core.m_albums, `extras` what
// else the extractor knows of the picture (a clip is named with its own
// extension). Afterwards the extractor ends its listing when
// core.m_downState is 2 or 3.
void AddPictureJob(TamblinCore &core, const QString &address, const QString &description,
                   const QString &headers, int albumIndex);
void AddPictureJob(TamblinCore &core, const QString &address, const QString &description,
                   const QString &headers, int albumIndex, const PictureExtras &extras);

// Index of the first entry of jobs.fileNames that names the same file as
// `name` (a plain name and a full path below jobs.folder compare by the
// file they name) when letter case is ignored, or -1.
qsizetype FindFileName(DownloadJobList &jobs, const QString &name);

// The folder album `albumIndex` gets below `base` (which ends in the
// separator) by the current site's rules; `base` itself when its folder name
// comes out empty. Where the folder an earlier version gave the album
// exists and today's does not, that one, and `oldKept` (when given) is set.
QString AlbumFolderFor(const TamblinCore &core, int albumIndex, const QString &base, bool *oldKept = nullptr);

} // namespace tamblin

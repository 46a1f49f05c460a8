// A list run followed by a download run on the same core, as the two buttons
// do, for the end-to-end download tests.
#pragma once

#include "ListRun.h"

#include "download/WorkerPool.h"
#include "download/DownloadDriver.h"
#include "download/DownloadJobList.h"
#include "sources/SourceSupport.h"

#include <QDirIterator>
#include <QFileInfo>

#include <optional>

namespace tamblin::test {

// Every file below `folder`, as paths relative to it with '/' separators,
// sorted; folders end in '/'.
inline QStringList TreeOf(const QString &folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    const QDir base(folder);
    while (it.hasNext()) {
        const QString path = it.next();
        QString relative = base.relativeFilePath(path);
        if (it.fileInfo().isDir())
            relative += u'/';
        entries.append(relative);
    }
    entries.sort();
    return entries;
}

struct DownloadRun : ListRun {
    DownloadRun()
    {
        RegisterPictureExtractors();
        g_jobs.progressWindow = window;
        g_jobs.progressControlId = kIdStatusPicture;
        g_jobs.poolDone = {};
        save = dir.Path() + u"save"_s + kSep;
        window->SetSavePath(save);
        core.m_settings.downParams[kSina] = DownParams{0, 0, 5, 10};
    }

    ~DownloadRun()
    {
        g_jobs.progressWindow = nullptr;
        g_jobs.Clear();
    }

    SiteRules &Rules() { return core.m_settings.siteRules[kSina]; }

    // Lists `address`, chooses `albums` (every album when empty) and
    // downloads them on this thread.
    void ListAndDownload(const QString &address, QList<int> albums = {},
                         std::optional<DownParams> params = std::nullopt)
    {
        Run(address);
        Download(albums, params);
    }

    void Download(QList<int> albums = {}, std::optional<DownParams> params = std::nullopt)
    {
        if (albums.isEmpty()) {
            for (int i = 0; i < core.m_albums.Size(); ++i)
                albums.append(i);
        }
        window->SetChosen(albums);
        core.m_downState = 1;
        DownloadOptions run = options;
        run.params = params;
        summary = RunDownload(core, run);
    }

    // The save folder's content, relative to it.
    QStringList SavedTree() const { return TreeOf(save); }

    static constexpr int kSina = 4;
    QString save;
    DownloadOptions options; // of every Download (its params aside)
    DownloadSummary summary; // of the last Download

};

} // namespace tamblin::test

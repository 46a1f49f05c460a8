#include "download/DownloadJobList.h"

#include "download/FileUtils.h"

namespace tamblin {

DownloadJobList g_jobs;

QString DownloadJobList::FilePath(qsizetype i) const
{
    const QString &name = fileNames.at(i);
    if (IsFullPath(name))
        return name;
    return folder + name;
}

} // namespace tamblin

#include "download/DownloadJobList.h"

#include "download/FileUtils.h"

namespace tamblin {

DownloadJobList g_jobs;

void DownloadJobList::Clear()
{
    urls.clear();
    fileNames.clear();
    headers.clear();
    listingError.clear();
    nameIndex.clear();
    nextNumber.clear();
    indexedNames = 0;
}

QString DownloadJobList::FilePath(qsizetype i) const
{
    const QString &name = fileNames.at(i);
    if (IsFullPath(name))
        return name;
    return folder + name;
}

} // namespace tamblin

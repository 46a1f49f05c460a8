#include "download/DownloadJobList.h"

#include "download/FileUtils.h"

namespace tamblin {

using namespace Qt::StringLiterals;

DownloadJobList g_jobs;

void DownloadJobList::Clear()
{
    urls.clear();
    fileNames.clear();
    headers.clear();
    extras.clear();
    listingError.clear();
    referer.clear();
    ruleStopUrl.clear();
    unavailable.clear();
    settledFailures.clear();
    nameIndex.clear();
    nextNumber.clear();
    indexedNames = 0;
}

void DownloadJobList::Add(const QString &url, const QString &fileName, const PictureExtras &pictureExtras)
{
    urls.append(url);
    fileNames.append(fileName);
    headers.resize(urls.size() - 1);
    headers.append(QString());
    extras.resize(urls.size() - 1);
    extras.append(pictureExtras);
}

QString DownloadJobList::FilePath(qsizetype i) const
{
    const QString &name = fileNames.at(i);
    if (IsFullPath(name))
        return name;
    return folder + name;
}

QString DownloadJobList::RequestHeaders(qsizetype i) const
{
    QString lines = headers.isEmpty() ? QString() : headers.at(i);
    if (referer.isEmpty() || lines.contains(u"Referer:", Qt::CaseInsensitive))
        return lines;
    if (!lines.isEmpty() && !lines.endsWith(u"\r\n"))
        lines += u"\r\n"_s;
    return lines + u"Referer: "_s + referer;
}

PictureExtras DownloadJobList::Extras(qsizetype i) const
{
    return i < extras.size() ? extras.at(i) : PictureExtras();
}

} // namespace tamblin

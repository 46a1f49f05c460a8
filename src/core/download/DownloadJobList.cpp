#include "download/DownloadJobList.h"

#include "download/FileUtils.h"

namespace tamblin {

using namespace Qt::StringLiterals;

DownloadJobList g_jobs;

void DownloadJobList::Clear()
{
    std::lock_guard lock(mutex);
    listing = false;
    published = 0;
    urls.clear();
    fileNames.clear();
    headers.clear();
    extras.clear();
    listingError.clear();
    referer.clear();
    ruleStopUrl.clear();
    titles.clear();
    oldFolderKept = false;
    unavailable.clear();
    settledFailures.clear();
    outOfRange = 0;
    untimed = 0;
    nameIndex.clear();
    nextNumber.clear();
    indexedNames = 0;
}

void DownloadJobList::Append(const QString &url, const QString &fileName, const QString &headerLines,
                             const PictureExtras &pictureExtras)
{
    std::lock_guard lock(mutex);
    urls.append(url);
    fileNames.append(fileName);
    headers.append(headerLines);
    extras.resize(urls.size() - 1);
    extras.append(pictureExtras);
}

bool DownloadJobList::LeaveOut(std::int64_t postTime)
{
    if (!range.IsSet())
        return false;
    if (postTime <= 0) {
        ++untimed;
        return false;
    }
    if (range.Contains(postTime))
        return false;
    ++outOfRange;
    return true;
}

void DownloadJobList::OpenListing()
{
    std::lock_guard lock(mutex);
    listing = true;
    published = 0;
}

void DownloadJobList::Publish()
{
    {
        std::lock_guard lock(mutex);
        published = urls.size();
    }
    fed.notify_all();
}

void DownloadJobList::DropUnpublished()
{
    std::lock_guard lock(mutex);
    for (QStringList *list : {&urls, &fileNames, &headers}) {
        if (list->size() > published)
            list->resize(published);
    }
    if (extras.size() > published)
        extras.resize(published);
}

void DownloadJobList::CloseListing()
{
    {
        std::lock_guard lock(mutex);
        listing = false;
    }
    fed.notify_all();
}

void DownloadJobList::Wake()
{
    // Taking the lock orders this wake after a waiter's last look at what
    // it waits for, so that the wake is not lost.
    { std::lock_guard lock(mutex); }
    fed.notify_all();
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

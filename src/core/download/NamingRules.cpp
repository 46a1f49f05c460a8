#include "download/NamingRules.h"

#include "app/TamblinCore.h"
#include "app/WindowPort.h"
#include "download/DownloadJobList.h"
#include "download/FileUtils.h"
#include "download/ListFiles.h"
#include "text/TextUtils.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <optional>

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

// Longest path (in UTF-16 units) the rules let a file name reach.
constexpr qsizetype kMaxPathLength = 250;

// The lookup key of a job's name: the file it names below the album folder,
// case folded, so "c.jpg" and "<album folder>c.jpg" are one file.
QString NameKey(const DownloadJobList &jobs, const QString &name)
{
    if (!jobs.folder.isEmpty() && IsFullPath(name) && name.startsWith(jobs.folder))
        return FoldedName(QStringView(name).sliced(jobs.folder.size()));
    return FoldedName(name);
}

void RefreshNameIndex(DownloadJobList &jobs)
{
    if (jobs.indexedNames == jobs.fileNames.size())
        return;
    jobs.nameIndex.clear();
    jobs.nextNumber.clear();
    // Walk backwards so that the first job of a name is the one kept.
    for (qsizetype i = jobs.fileNames.size() - 1; i >= 0; --i)
        jobs.nameIndex.insert(NameKey(jobs, jobs.fileNames[i]), i);
    jobs.indexedNames = jobs.fileNames.size();
}

// Cuts `name` to `limit` UTF-16 units without splitting a surrogate pair.
void CutToLength(QString &name, qsizetype limit)
{
    if (name.size() <= limit)
        return;
    if (limit <= 0) {
        name.clear();
        return;
    }
    if (name[limit - 1].isHighSurrogate())
        --limit;
    name.truncate(limit);
}

struct EscapeValues {
    QString albumName;
    QString sequence;
    QString position;
    QString value1;
    QString value2;
    QString selected;
    QString albums;
    QString userFolder;
    QString position4;
    QString postDate;
};

// The escape values of a picture of `album` with `count` pictures before it
// (those the range left out included), posted at `postTime` (0: unknown).
EscapeValues ValuesFor(const TamblinCore &core, const ST_PERLISTRECORD &album, qsizetype count,
                       std::int64_t postTime = 0)
{
    EscapeValues values;
    values.albumName = album.name;
    values.sequence = QString::number(count + 1);
    values.position = QString::number(album.index + 1);
    values.value1 = QString::number(album.value1);
    values.value2 = QString::number(album.value2);
    values.selected = QString::number(core.m_albums.selectedCount);
    values.albums = QString::number(core.m_albums.Size());
    values.userFolder = core.m_userFolder;
    values.position4 = u"%1"_s.arg(album.index + 1, 4, 10, QChar(u'0'));
    if (postTime > 0)
        values.postDate = DateRange::DayOf(postTime).toString(u"yyyyMMdd"_s);
    return values;
}

void ReplaceFileEscapes(QString &name, const EscapeValues &v)
{
    name.replace(u"?1"_s, v.albumName);
    name.replace(u"?2"_s, v.sequence);
    name.replace(u"?3"_s, v.position);
    name.replace(u"?4"_s, v.value1);
    name.replace(u"?5"_s, v.value2);
    name.replace(u"?6"_s, v.selected);
    name.replace(u"?7"_s, v.albums);
    name.replace(u"?8"_s, v.userFolder);
    name.replace(u"?9"_s, v.position4);
    name.replace(u"?0"_s, v.postDate);
}

void ReplaceFolderEscapes(QString &name, const EscapeValues &v)
{
    name.replace(u"?1"_s, v.albumName);
    name.replace(u"?3"_s, v.position);
    name.replace(u"?9"_s, v.position4);
}

// The album's folder name, cleaned and fitted; empty when the album gets
// none and shares the save folder.
QString AlbumFolderName(const SiteRules &rules, const EscapeValues &values)
{
    QString name = rules.folderPrefix.Get() + (rules.folderNameMode == 0 ? values.albumName : QString())
        + rules.folderSuffix.Get();
    ReplaceFolderEscapes(name, values);
    SanitizeName(name, 0, false);
    if (name.isEmpty())
        return name;
    // A cut must not take the number that keeps two albums of one name
    // apart.
    QString number;
    if (Utf8Length(name) > kMaxComponentBytes && rules.folderNameMode == 0) {
        static const QRegularExpression numbered(u" \\(\\d+\\)$"_s);
        number = numbered.match(values.albumName).captured();
    }
    return FitName(name, number);
}

// The folder name the rules of earlier versions gave the album named
// `oldName`: entities decoded once more, cut to the limit without a guard.
QString OldAlbumFolderName(const SiteRules &rules, EscapeValues values, const QString &oldName)
{
    values.albumName = oldName;
    QString name = rules.folderPrefix.Get() + (rules.folderNameMode == 0 ? values.albumName : QString())
        + rules.folderSuffix.Get();
    ReplaceFolderEscapes(name, values);
    HtmlDecode(name);
    SanitizeName(name, 0, false);
    name = CutToUtf8Bytes(name, kMaxComponentBytes);
    while (name.endsWith(u'.') || name.endsWith(u' '))
        name.chop(1);
    return name;
}

// True when `path` names something strictly inside `folder`.
bool LiesInside(const QString &path, const QString &folder)
{
    if (!IsFullPath(path) || folder.isEmpty())
        return false;
    const QString cleanPath = QDir::cleanPath(QDir::fromNativeSeparators(path));
    QString cleanFolder = QDir::cleanPath(QDir::fromNativeSeparators(folder));
    if (!cleanFolder.endsWith(u'/'))
        cleanFolder += u'/';
#ifdef Q_OS_WIN
    const Qt::CaseSensitivity cs = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity cs = Qt::CaseSensitive;
#endif
    return cleanPath.size() > cleanFolder.size() && cleanPath.startsWith(cleanFolder, cs)
        && !cleanPath.endsWith(u'/');
}

// A description naming a path inside the album folder: that path, each of
// its components below the folder cleaned and fitted like any other name,
// the file name cut so that the whole path keeps to `maxLength` units (the
// folders are never cut). None when it does not lie inside, or nothing of it
// is left once cleaned.
std::optional<QString> InnerPath(const QString &description, const QString &albumFolder, qsizetype maxLength)
{
    if (!LiesInside(description, albumFolder))
        return std::nullopt;
    const QString clean = QDir::cleanPath(QDir::fromNativeSeparators(description));
    QString folder = QDir::cleanPath(QDir::fromNativeSeparators(albumFolder));
    if (!folder.endsWith(u'/'))
        folder += u'/';
    QStringList parts = clean.sliced(folder.size()).split(u'/', Qt::SkipEmptyParts);
    for (QString &part : parts)
        SanitizeName(part, 0, false);
    parts.removeAll(QString());
    if (parts.isEmpty())
        return std::nullopt;
    // The file name is fitted with its extension later, as any name is.
    QString fileName = parts.takeLast();
    QString path = albumFolder;
    for (const QString &part : std::as_const(parts))
        path += FitName(part) + QDir::separator();
    CutToLength(fileName, maxLength - path.size());
    path += fileName;
    if (!LiesInside(path, albumFolder))
        return std::nullopt;
    return path;
}

// The file name from the site's mode, before prefix, suffix and escapes.
QString NameFromMode(const SiteRules &rules, const QString &address, const QString &description,
                     const QString &albumName, const QString &sequence)
{
    switch (rules.fileNameMode) {
    case 0: {
        QString name = description;
        SanitizeName(name, 0, false);
        return name.isEmpty() ? albumName : name;
    }
    case 2: {
        const qsizetype slash = address.lastIndexOf(u'/');
        return slash > 0 ? address.mid(slash + 1) : sequence;
    }
    default:
        return sequence;
    }
}

} // namespace

qsizetype FindFileName(DownloadJobList &jobs, const QString &name)
{
    RefreshNameIndex(jobs);
    return jobs.nameIndex.value(NameKey(jobs, name), -1);
}

const ST_PERLISTRECORD *AlbumAt(const TamblinCore &core, int albumIndex)
{
    if (albumIndex != kRepostsAlbum)
        return core.m_albums.At(albumIndex);
    static const ST_PERLISTRECORD reposts = [] {
        ST_PERLISTRECORD album;
        album.name = QString::fromUtf16(kRepostsFolderName);
        album.index = -1;
        return album;
    }();
    return &reposts;
}

QString AlbumFolderFor(const TamblinCore &core, int albumIndex, const QString &base, bool *oldKept)
{
    if (oldKept)
        *oldKept = false;
    // Beside the albums, whatever the folder rules make of album names.
    if (albumIndex == kRepostsAlbum)
        return base + QString::fromUtf16(kRepostsFolderName) + QDir::separator();
    const ST_PERLISTRECORD *album = core.m_albums.At(albumIndex);
    if (!album)
        return base;
    const SiteRules rules = core.SiteRulesNow();
    const EscapeValues values = ValuesFor(core, *album, 0);
    const QString folderName = AlbumFolderName(rules, values);
    if (folderName.isEmpty())
        return base;
    const QString folder = base + folderName + QDir::separator();
    // An archive of an earlier version: its folder is kept while today's
    // name has none, unless another album of the list now bears the old
    // name (the folder was shared on a case-insensitive disk).
    if (album->oldName.isEmpty() || QFileInfo::exists(folder))
        return folder;
    const QString oldName = OldAlbumFolderName(rules, values, album->oldName);
    if (oldName.isEmpty() || oldName == folderName || !QFileInfo(base + oldName).isDir())
        return folder;
    const int other = core.m_albums.FindName(album->oldName);
    if (other >= 0 && other != albumIndex)
        return folder;
    if (oldKept)
        *oldKept = true;
    return base + oldName + QDir::separator();
}

void AddPictureJob(TamblinCore &core, const QString &address, const QString &description,
                   const QString &headers, int albumIndex)
{
    AddPictureJob(core, address, description, headers, albumIndex, PictureExtras());
}

void AddPictureJob(TamblinCore &core, const QString &address, const QString &description,
                   const QString &headers, int albumIndex, const PictureExtras &extras)
{
    DownloadJobList &jobs = g_jobs;
    const ST_PERLISTRECORD *album = AlbumAt(core, albumIndex);
    if (!album)
        return;
    // Outside the run's range: neither fetched nor named, only counted.
    if (jobs.LeaveOut(extras.postTime))
        return;
    // A copy: the window may change the rules while a run lists pictures.
    const SiteRules rules = core.SiteRulesNow();
    const qsizetype count = jobs.urls.size();
    const EscapeValues values = ValuesFor(core, *album, jobs.NextSequence() - 1, extras.postTime);

    // The album's folder is settled at its first picture; a description may
    // only name a full path inside it.
    bool oldKept = false;
    const QString albumFolder = count == 0 ? AlbumFolderFor(core, albumIndex, jobs.folder, &oldKept) : jobs.folder;

    QString name;
    // A full path is cut to length already, in its file name only.
    const std::optional<QString> inner = InnerPath(description, albumFolder, kMaxPathLength);
    if (inner) {
        name = *inner;
    } else {
        // A clip's address carries its signature as a query, which is no
        // part of its name.
        const QString &from = extras.namingAddress.isEmpty() ? address : extras.namingAddress;
        const QString named = extras.clipExtension.isEmpty() ? from : from.section(u'?', 0, 0);
        name = rules.filePrefix.Get()
            + NameFromMode(rules, named, description, album->name, values.sequence)
            + rules.fileSuffix.Get();
        ReplaceFileEscapes(name, values);
        ReplaceEach(name, rules.replaceFrom.Get(), rules.replaceTo.Get());
        SanitizeName(name, kTimeStampFallback, true);
    }
    const QString base = name;

    if (count == 0) {
        jobs.folder = albumFolder;
        jobs.oldFolderKept = oldKept;
        // A failure (a file or a link in the way) is the driver's to report.
        MakeFolders(jobs.folder);
        // A ranged run's first picture is not the album's newest: the
        // record is neither read nor written.
        if (jobs.range.IsSet())
            core.m_lastFirstUrl.clear();
        else
            ReadLastFirstUrl(core.m_lastFirstUrl, jobs.folder);
    }

    if (!inner)
        CutToLength(name, kMaxPathLength - jobs.folder.size());

    QString ext = u".jpg"_s;
    if (!extras.clipExtension.isEmpty()) {
        // A clip keeps the base name of its still, with its own extension.
        ext = extras.clipExtension;
        if (name.endsWith(ext, Qt::CaseInsensitive))
            name.chop(ext.size());
    } else if (HasImageExtension(name)) {
        const qsizetype dot = name.lastIndexOf(u'.');
        ext = name.mid(dot);
        name.truncate(dot);
    }

    name = FitName(name, {}, ext);
    if (count > 0 && FindFileName(jobs, name) >= 0) {
        // Numbered names are built from the name before the length limit and
        // the extension split: a second a.png becomes a.png(1).png. The hint
        // remembers where the last search for this base ended, since every
        // number below it is taken and names are never removed.
        const QString hintKey = base + QChar(0) + ext;
        unsigned n = std::max(1u, jobs.nextNumber.value(hintKey, 1));
        for (;; ++n) {
            name = FitName(base, u"(%1)"_s.arg(n), ext);
            if (FindFileName(jobs, name) < 0)
                break;
        }
        jobs.nextNumber.insert(hintKey, n);
    }

    if ((rules.flags & kSkipDownloaded) && !jobs.range.IsSet() && !address.isEmpty()
        && address == core.m_lastFirstUrl) {
        jobs.ruleStopUrl = address;
        std::uint8_t state = core.m_downState;
        if (state != 3)
            core.m_downState.compare_exchange_strong(state, 2);
        return;
    }

    RefreshNameIndex(jobs);
    // Under the list's lock: the album's pool may be reading it.
    jobs.Append(address, name, headers, extras);
    const QString key = NameKey(jobs, name);
    if (!jobs.nameIndex.contains(key))
        jobs.nameIndex.insert(key, jobs.fileNames.size() - 1);
    jobs.indexedNames = jobs.fileNames.size();

    if (core.m_window)
        core.m_window->SetItemText(kIdStatusPicture, u"已获取到%1张图片信息"_s.arg(jobs.urls.size()));

    if (rules.flags & kWriteTitles)
        AppendTitleLine(jobs, description);
}

} // namespace tamblin

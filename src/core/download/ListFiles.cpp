#include "download/ListFiles.h"

#include "download/DownloadJobList.h"
#include "download/DownloadTexts.h"
#include "download/FileUtils.h"
#include "net/SafeFile.h"
#include "text/TextUtils.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdlib>
#include <optional>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

const QString kRecordName = u"pic.orv"_s;
// An address is far shorter; the cap only guards against a stray big file.
constexpr qint64 kMaxRecordBytes = qint64(1) << 20;

QByteArray Utf16LeBytes(QStringView text)
{
    QByteArray bytes;
    bytes.reserve(text.size() * 2);
    for (QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

bool WriteWhole(const QString &path, const QByteArray &bytes)
{
    SafeFile file(path);
    return file.Open() && file.Write(bytes) && file.Commit();
}

} // namespace

std::optional<std::int64_t> AddressExpiry(const QString &address)
{
    const qsizetype split = address.indexOf(u"\r\n");
    const QStringView first = QStringView(address).first(split < 0 ? address.size() : split);
    const qsizetype query = first.indexOf(u'?');
    if (query < 0)
        return std::nullopt;
    QStringView rest = first.sliced(query + 1);
    rest = rest.first(rest.indexOf(u'#') < 0 ? rest.size() : rest.indexOf(u'#'));
    for (QStringView field : rest.split(u'&')) {
        const qsizetype eq = field.indexOf(u'=');
        if (eq < 0 || field.first(eq).compare(u"Expires", Qt::CaseInsensitive) != 0)
            continue;
        const QStringView value = field.sliced(eq + 1);
        // Seconds since 1970; anything longer is no time of this era.
        if (value.isEmpty() || value.size() > 12
            || std::any_of(value.begin(), value.end(), [](QChar c) { return c < u'0' || c > u'9'; }))
            continue;
        return value.toLongLong();
    }
    return std::nullopt;
}

namespace {

// The order in which the lists write `urls`: the addresses that expire
// after the others, and the first time one of them does.
struct ListOrder {
    QList<qsizetype> order;
    qsizetype firstExpiring = -1; // place in `order`; -1: none expires
    std::int64_t earliest = 0;
};

ListOrder ExpiringLast(const QStringList &urls)
{
    ListOrder list;
    QList<qsizetype> expiring;
    for (qsizetype i = 0; i < urls.size(); ++i) {
        const std::optional<std::int64_t> expires = AddressExpiry(urls[i]);
        if (!expires) {
            list.order.append(i);
            continue;
        }
        list.earliest = expiring.isEmpty() ? *expires : std::min(list.earliest, *expires);
        expiring.append(i);
    }
    if (!expiring.isEmpty())
        list.firstExpiring = list.order.size();
    list.order += expiring;
    return list;
}

} // namespace

bool WriteThunderList(const QString &path, const QStringList &urls)
{
    // The format has no comments: the addresses that expire only come last.
    QByteArray bytes;
    for (const qsizetype i : ExpiringLast(urls).order) {
        bytes += WideToGbk(urls[i]);
        bytes += "\r\n";
    }
    return WriteWhole(path, bytes);
}

namespace {

// One value of an aria2 input line: a line break or tab would start another
// entry or option.
QByteArray Aria2Value(QString text)
{
    text.remove(u'\r');
    text.remove(u'\n');
    text.remove(u'\t');
    return text.toUtf8();
}

// What the comment before the `count` addresses that expire says: when the
// first of them does, in local time with its offset from UTC (a list may be
// read on another machine).
QString ExpiryNote(qsizetype count, std::int64_t earliest)
{
    const QDateTime when = QDateTime::fromSecsSinceEpoch(earliest);
    const int offset = when.offsetFromUtc();
    const QString zone = u"UTC%1%2:%3"_s.arg(QChar(offset < 0 ? u'-' : u'+'))
                             .arg(std::abs(offset) / 3600, 2, 10, QChar(u'0'))
                             .arg(std::abs(offset) % 3600 / 60, 2, 10, QChar(u'0'));
    return QString::fromUtf16(texts::kExpiringAddresses)
        .arg(count)
        .arg(when.toString(u"yyyy-MM-dd HH:mm:ss"_s) + u" ("_s + zone + u')');
}

} // namespace

bool WriteAria2List(const QString &path, const DownloadJobList &jobs)
{
    QByteArray bytes;
    const ListOrder list = ExpiringLast(jobs.urls);
    for (qsizetype k = 0; k < list.order.size(); ++k) {
        const qsizetype i = list.order[k];
        if (k == list.firstExpiring)
            bytes += "# " + ExpiryNote(list.order.size() - k, list.earliest).toUtf8() + '\n';
        const QString &address = jobs.urls[i];
        const qsizetype split = address.indexOf(u"\r\n");
        bytes += Aria2Value(address.left(split));
        if (split >= 0)
            bytes += '\t' + Aria2Value(address.mid(split + 2));
        bytes += '\n';
        const QString name = jobs.fileNames.value(i);
        if (IsFullPath(name)) {
            const QFileInfo where(name);
            bytes += "  dir=" + Aria2Value(QDir::toNativeSeparators(where.path())) + '\n';
            bytes += "  out=" + Aria2Value(where.fileName()) + '\n';
        } else {
            bytes += "  out=" + Aria2Value(name) + '\n';
        }
        for (const QString &line : jobs.RequestHeaders(i).split(u"\r\n"_s, Qt::SkipEmptyParts)) {
            if (line.startsWith(u"Referer:"_s, Qt::CaseInsensitive))
                bytes += "  referer=" + Aria2Value(line.mid(8).trimmed()) + '\n';
            else
                bytes += "  header=" + Aria2Value(line) + '\n';
        }
    }
    return WriteWhole(path, bytes);
}

QString AlbumFilePath(const QString &folder, const QString &albumName, QStringView ext)
{
    return folder + FitName(albumName, {}, ext);
}

QString TitleFilePath(const DownloadJobList &jobs, const QString &albumName)
{
    return AlbumFilePath(jobs.folder, albumName, u".txt");
}

void AppendTitleLine(DownloadJobList &jobs, const QString &description)
{
    jobs.titles.append(description);
}

bool WriteTitleFile(const DownloadJobList &jobs, const QString &albumName)
{
    if (jobs.titles.isEmpty())
        return true;
    QByteArray bytes("\xFF\xFE", 2);
    for (const QString &line : jobs.titles)
        bytes += Utf16LeBytes(line + u"\r\n"_s);
    return WriteWhole(TitleFilePath(jobs, albumName), bytes);
}

void WriteLastFirstUrl(const QString &address, const QString &folder)
{
    const QString path = folder + kRecordName;
    if (QFileInfo::exists(path))
        return;
    // Written whole beside the record, then given its name only where none
    // is: a full disk leaves no short record that would stand for good, and
    // a record (or a link) that appeared meanwhile stays.
    SafeFile file(path);
    if (!file.Open() || !file.Write(Utf16LeBytes(address)) || !file.Commit(SafeFile::Publish::NoReplace))
        return;
#ifdef Q_OS_WIN
    const std::wstring native = path.toStdWString();
    const DWORD attributes = GetFileAttributesW(native.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(native.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN);
#endif
}

void ReadLastFirstUrl(QString &out, const QString &folder)
{
    out.clear();
    QFile file(folder + kRecordName);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.read(kMaxRecordBytes);
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t unit = char16_t(uchar(bytes[i]) | (uchar(bytes[i + 1]) << 8));
        if (unit == u'\n')
            break;
        out.append(QChar(unit));
    }
}

namespace {

// A field of failed.txt: tabs and line breaks would split it.
QString Field(QString text)
{
    for (QChar &c : text) {
        if (c == u'\t' || c == u'\r' || c == u'\n')
            c = u' ';
    }
    return text;
}

// The job's name as failed.txt keeps it: below the folder, '/' between
// folders.
QString RelativeName(const QString &name, const QString &folder)
{
    QString relative = name;
    if (IsFullPath(name) && name.startsWith(folder))
        relative = name.sliced(folder.size());
    return QDir::fromNativeSeparators(relative);
}

// A recorded name as a job's name, when it stays below the folder: no
// absolute path, no empty, "." or ".." part, no control character.
std::optional<QString> JobName(const QString &recorded)
{
    if (recorded.isEmpty() || IsFullPath(recorded) || QDir::isAbsolutePath(recorded))
        return std::nullopt;
    for (const QString &part : recorded.split(u'/')) {
        if (part.isEmpty() || part == u"."_s || part == u".."_s || part.contains(u'\\')
            || std::any_of(part.begin(), part.end(), [](QChar c) { return c.unicode() < 0x20; }))
            return std::nullopt;
    }
    return QDir::toNativeSeparators(recorded);
}

} // namespace

bool TakesReservedName(const QString &albumName)
{
    static const QStringList reserved = {QString::fromUtf16(kFailedListName), u"pic.orv"_s,
                                         QString::fromUtf16(kPostsFileName), QString::fromUtf16(kRepostsFolderName)};
    const QString name = FoldedName(albumName);
    for (QStringView ext : {u"", u".txt", u".lst", u".aria2.txt"}) {
        if (reserved.contains(name + ext.toString()))
            return true;
    }
    return false;
}

QString FailedListKey(const QString &fileName, const QString &folder)
{
    return RelativeName(fileName, folder);
}

QString FailedListPath(const QString &folder)
{
    return folder + QString::fromUtf16(kFailedListName);
}

QList<FailedPicture> ReadFailedList(const QString &folder)
{
    QList<FailedPicture> pictures;
    QFile file(FailedListPath(folder));
    if (!file.open(QIODevice::ReadOnly))
        return pictures;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QStringList fields = QString::fromUtf8(line).remove(u'\r').split(u'\t');
        if (fields.size() < 3 || fields[0].trimmed().isEmpty())
            continue;
        const std::optional<QString> name = JobName(fields[1]);
        if (!name)
            continue;
        QString post = fields.value(3).trimmed();
        if (post.size() > 24 || std::any_of(post.begin(), post.end(), [](QChar c) { return c < u'0' || c > u'9'; }))
            post.clear();
        pictures.append({fields[0].trimmed(), *name, fields[2], post});
    }
    return pictures;
}

bool WriteFailedList(const QString &folder, const QList<FailedPicture> &pictures)
{
    const QString path = FailedListPath(folder);
    if (pictures.isEmpty())
        return !QFileInfo::exists(path) || QFile::remove(path);
    QByteArray text;
    for (const FailedPicture &picture : pictures)
        text += (Field(picture.url) + u'\t' + Field(RelativeName(picture.fileName, folder)) + u'\t'
                 + Field(picture.reason) + (picture.postId.isEmpty() ? QString() : u'\t' + Field(picture.postId))
                 + u'\n').toUtf8();
    return WriteWhole(path, text);
}

namespace {

QStringList UnrecordedFolders(const QString &startFolder)
{
    QFile file(startFolder + QString::fromUtf16(kUnrecordedListName));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList folders = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    for (QString &folder : folders)
        folder.remove(u'\r');
    return folders;
}

} // namespace

void MarkFailuresUnrecorded(const QString &startFolder, const QString &albumFolder, bool unrecorded)
{
    if (startFolder.isEmpty())
        return;
    QStringList folders = UnrecordedFolders(startFolder);
    if (folders.contains(albumFolder) == unrecorded)
        return;
    if (unrecorded)
        folders.append(albumFolder);
    else
        folders.removeAll(albumFolder);
    const QString path = startFolder + QString::fromUtf16(kUnrecordedListName);
    if (folders.isEmpty()) {
        QFile::remove(path);
        return;
    }
    SafeFile file(path);
    if (file.Open() && file.Write((folders.join(u'\n') + u'\n').toUtf8()))
        file.Commit();
}

bool FailuresUnrecorded(const QString &startFolder, const QString &albumFolder)
{
    return !startFolder.isEmpty() && UnrecordedFolders(startFolder).contains(albumFolder);
}

} // namespace tamblin

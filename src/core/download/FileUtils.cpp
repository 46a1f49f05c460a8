#include "download/FileUtils.h"

#include "app/WindowPort.h"
#include "download/DownloadJobList.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

constexpr QChar kIdeographicFullStop(0x3002);
constexpr qsizetype kMaxNameLength = 1000;

bool IsAllDots(const QString &name)
{
    if (name.isEmpty())
        return false;
    for (QChar c : name) {
        if (c != u'.')
            return false;
    }
    return true;
}

// A name made of dots alone would mean this folder or its parent.
void ReplaceDots(QString &name)
{
    if (IsAllDots(name))
        name.fill(kIdeographicFullStop);
}

bool IsForbiddenInName(QChar c)
{
    switch (c.unicode()) {
    case u'\r': case u'\n': case u'\\': case u'/': case u':':
    case u'*': case u'?': case u'"': case u'<': case u'>': case u'|':
        return true;
    default:
        return false;
    }
}

} // namespace

void SanitizeName(QString &name, int number, bool fallback)
{
    while (name.contains(u"  "_s))
        name.replace(u"  "_s, u" "_s);
    name = name.trimmed();
    ReplaceDots(name);
    name.removeIf(IsForbiddenInName);
    name.replace(u'\t', u'_');
    // Bell and every other control character (NUL included): no file system
    // wants them in a name.
    name.removeIf([](QChar c) { return c.unicode() < 0x20; });
    while (name.endsWith(u'.'))
        name.chop(1);
    qsizetype lead = 0;
    while (lead < name.size() && name[lead] == u'.')
        ++lead;
    name.remove(0, lead);
    name = name.trimmed();
    // Removing characters above can leave dots between blanks, as in "* .. *".
    ReplaceDots(name);

    if (fallback && (name.isEmpty() || name.size() >= kMaxNameLength)) {
        if (number == kTimeStampFallback)
            name = MakeTimeStampName(QDateTime::currentSecsSinceEpoch());
        else
            name = u"pic%1"_s.arg(number);
    }
}

namespace {

// UTF-8 bytes of the code point starting at `text[i]`; `units` gets the
// number of UTF-16 units it takes.
qsizetype CodePointBytes(QStringView text, qsizetype i, qsizetype &units)
{
    const char16_t c = text[i].unicode();
    units = 1;
    if (c < 0x80)
        return 1;
    if (c < 0x800)
        return 2;
    if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
        units = 2;
        return 4;
    }
    return 3;
}

// Longest extension FitFileName keeps apart from the name.
constexpr qsizetype kMaxKeptExtension = 16;

} // namespace

qsizetype Utf8Length(QStringView text)
{
    qsizetype bytes = 0;
    for (qsizetype i = 0, units = 0; i < text.size(); i += units)
        bytes += CodePointBytes(text, i, units);
    return bytes;
}

QString CutToUtf8Bytes(QStringView text, qsizetype maxBytes)
{
    qsizetype bytes = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        qsizetype units = 0;
        const qsizetype more = CodePointBytes(text, i, units);
        if (bytes + more > maxBytes)
            break;
        bytes += more;
        i += units;
    }
    return text.left(i).toString();
}

namespace {

qsizetype SeparatorBefore(QStringView path)
{
    qsizetype at = path.lastIndexOf(u'/');
#ifdef Q_OS_WIN
    at = std::max(at, path.lastIndexOf(u'\\'));
#endif
    return at;
}

bool IsDeviceName(QStringView base)
{
    while (base.endsWith(u' '))
        base.chop(1);
    for (QStringView device : {u"CON", u"PRN", u"AUX", u"NUL"}) {
        if (base.compare(device, Qt::CaseInsensitive) == 0)
            return true;
    }
    const bool port = base.startsWith(u"COM", Qt::CaseInsensitive) || base.startsWith(u"LPT", Qt::CaseInsensitive);
    return port && base.size() == 4 && base[3] >= u'1' && base[3] <= u'9';
}

// Where a name Windows could not create takes its "_": behind a device name
// (before the first dot), or at the end of a name ending in a dot or blank;
// -1 when it needs none.
qsizetype GuardAt(QStringView name)
{
    if (name.isEmpty())
        return -1;
    qsizetype dot = name.indexOf(u'.');
    if (dot < 0)
        dot = name.size();
    if (IsDeviceName(name.first(dot)))
        return dot;
    if (name.endsWith(u'.') || name.endsWith(u' '))
        return name.size();
    return -1;
}

} // namespace

QString FitName(QStringView stem, QStringView keep, QStringView ext)
{
    const qsizetype cut = SeparatorBefore(stem) + 1;
    const QStringView last = stem.sliced(cut);
    const qsizetype room = kMaxComponentBytes - Utf8Length(keep) - Utf8Length(ext);
    auto build = [&](qsizetype bytes) {
        QString name = Utf8Length(last) <= bytes ? last.toString()
                                                 : CutToUtf8Bytes(last, std::max<qsizetype>(bytes, 0));
        name += keep;
        name += ext;
        return name;
    };
    QString name = build(room);
    qsizetype guard = GuardAt(name);
    if (guard >= 0 && Utf8Length(name) >= kMaxComponentBytes) {
        // No room left for the "_": one character less of the stem.
        name = build(room - 1);
        guard = GuardAt(name);
    }
    if (guard >= 0)
        name.insert(guard, u'_');
    return stem.first(cut).toString() + name;
}

QString FitFileName(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0 || name.size() - dot > kMaxKeptExtension)
        return FitName(name);
    return FitName(QStringView(name).first(dot), {}, QStringView(name).sliced(dot));
}

QString FoldedName(QStringView text)
{
    QString key;
    key.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        const char32_t folded = QChar::toCaseFolded(c);
        if (QChar::requiresSurrogates(folded)) {
            key.append(QChar(QChar::highSurrogate(folded)));
            key.append(QChar(QChar::lowSurrogate(folded)));
        } else {
            key.append(QChar(char16_t(folded)));
        }
    }
    return key;
}

QString MakeTimeStampName(std::int64_t time)
{
    const QDateTime local = QDateTime::fromSecsSinceEpoch(time, Qt::LocalTime);
    if (!local.isValid())
        return {};
    const int year = local.date().year();
    if (year < 1 || year > 9999)
        return {};
    return local.toString(u"yyyyMMddhhmmss"_s);
}

bool IsFullPath(QStringView path)
{
#ifdef Q_OS_WIN
    if (path.size() >= 3 && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/'))
        return true;
    return path.startsWith(u"\\\\");
#else
    return path.startsWith(u'/');
#endif
}

bool CreateDirectoryPath(QString &path, WindowPort *window)
{
    const QChar sep = QDir::separator();
    path = path.trimmed();
    if (path.isEmpty())
        return true; // the current folder
    if (!path.endsWith(sep))
        path += sep;

    qsizetype scan = 0;
#ifdef Q_OS_WIN
    if (path.startsWith(sep))
        path.remove(0, 1);
    const qsizetype drive = path.indexOf(u":\\");
    if (drive >= 1)
        scan = drive + 2;
#else
    // The root of an absolute path exists.
    while (scan < path.size() && path[scan] == sep)
        ++scan;
#endif

    for (;;) {
        const qsizetype at = path.indexOf(sep, scan);
        if (at <= 0)
            return true;
        const QString folder = path.left(at);
        // A file of that name is no folder: the level is missing, not there.
        if (!QFileInfo(folder).isDir() && !QDir().mkdir(folder) && !QFileInfo(folder).isDir()) {
            if (window)
                window->ShowMessage(folder);
            return false;
        }
        scan = at + 1;
    }
}

bool HasImageExtension(QStringView name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0)
        return false;
    const QString ext = name.mid(dot).toString().toLower();
    for (QStringView known : {u".jpeg", u".jpg", u".bmp", u".gif", u".png", u".tif"}) {
        if (ext == known)
            return true;
    }
    return false;
}

namespace {

// The extension the first bytes of a picture (or of a clip: an ISO media
// file, its "ftyp" box first) call for; empty when none does.
QString ExtensionForHeader(const unsigned char (&b)[12], bool clip)
{
    if (clip) {
        if (b[4] != 'f' || b[5] != 't' || b[6] != 'y' || b[7] != 'p')
            return {};
        // The major brand: QuickTime's "qt  ", or one of the MP4 family.
        return b[8] == 'q' && b[9] == 't' && b[10] == ' ' && b[11] == ' ' ? u".mov"_s : u".mp4"_s;
    }
    if (b[0] == 'R' && b[1] == 'I' && b[2] == 'F' && b[3] == 'F' && b[8] == 'W' && b[9] == 'E' && b[10] == 'B'
        && b[11] == 'P')
        return u".webp"_s;
    if (b[0] == 0xFF && b[1] == 0xD8)
        return u".jpg"_s;
    if (b[0] == 0x89 && b[1] == 0x50)
        return u".png"_s;
    if (b[0] == 0x47 && b[1] == 0x49 && b[2] == 0x46)
        return u".gif"_s;
    if (b[0] == 0x42 && b[1] == 0x4D)
        return u".bmp"_s;
    if (b[0] == 0 && b[1] == 0) {
        if ((b[2] == 0x02 || b[2] == 0x10) && b[3] == 0 && b[4] == 0)
            return u".tga"_s;
        if (b[2] == 0x01 && b[3] == 0 && b[4] == 0x01)
            return u".ico"_s;
        if (b[2] == 0x02 && b[3] == 0 && b[4] == 0x01)
            return u".cur"_s;
    }
    if ((b[0] == 0x4D && b[1] == 0x4D) || (b[0] == 0x49 && b[1] == 0x49))
        return u".tiff"_s;
    return {};
}

} // namespace

bool FixImageFormat(QString &path, bool clip)
{
    if (!QFileInfo(path).isFile())
        return false;

    // A dot in a folder name is no extension: the name then has none.
    qsizetype dot = path.lastIndexOf(u'.');
    if (dot <= path.lastIndexOf(QDir::separator()))
        dot = path.size();
    const QString oldPath = path;

    unsigned char head[12] = {};
    QFile file(oldPath);
    if (file.open(QIODevice::ReadOnly))
        file.read(reinterpret_cast<char *>(head), sizeof head);
    file.close();

    const QString ext = ExtensionForHeader(head, clip);
    if (ext.isEmpty())
        return true; // the file keeps its name
    path = oldPath.left(dot) + ext;
    if (path == oldPath)
        return true;
    // QFile::rename never replaces an existing file, so a picture that
    // already bears the new name survives.
    return QFile::rename(oldPath, path);
}

void FixPictureFormats(DownloadJobList &jobs, bool flaggedOnly)
{
    const QChar sep = QDir::separator();
    for (qsizetype i = 0; i < jobs.fileNames.size(); ++i) {
        const PictureExtras extras = jobs.Extras(i);
        // A clip keeps the extension its address gave it.
        const bool clip = !extras.clipExtension.isEmpty();
        if ((flaggedOnly || clip) && !extras.extensionFromBytes)
            continue;
        QString path = jobs.FilePath(i);
        if (!FixImageFormat(path, clip))
            continue;
        QString &entry = jobs.fileNames[i];
        entry = entry.left(entry.lastIndexOf(sep) + 1) + path.mid(path.lastIndexOf(sep) + 1);
    }
}

void FixPictureOrder(DownloadJobList &jobs)
{
    const std::int64_t now = QDateTime::currentSecsSinceEpoch();
    for (qsizetype i = 0; i < jobs.fileNames.size(); ++i)
        SetFileTimes(jobs.FilePath(i), now - 60 * std::int64_t(i));
}

void SetFileTimes(const QString &path, std::int64_t time)
{
    if (time <= 0)
        return;
    const QDateTime when = QDateTime::fromSecsSinceEpoch(time, Qt::UTC);
    if (!when.isValid())
        return;
#ifdef Q_OS_WIN
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        return;
    file.setFileTime(when, QFileDevice::FileModificationTime);
    file.setFileTime(when, QFileDevice::FileAccessTime);
    file.setFileTime(when, QFileDevice::FileBirthTime);
#else
    // Not through a link: a file is never opened for writing by a name
    // another user may have pointed elsewhere.
    const struct timespec times[2] = {{time_t(time), 0}, {time_t(time), 0}};
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW);
#endif
}

void WriteUnicodeTextFile(const QString &name, QByteArrayView bytes)
{
    SafeFile file(name.isEmpty() ? u"1.txt"_s : name);
    if (file.Open() && file.Write("\xFF\xFE", 2) && file.Write(bytes.data(), bytes.size()))
        file.Commit();
}

} // namespace tamblin

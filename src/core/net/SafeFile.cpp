#include "net/SafeFile.h"

#include "net/TempFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

std::mutex g_writerMutex;
SafeFileWriter g_writer;

std::mutex g_rootsMutex;
QStringList g_roots;      // absolute and clean
QStringList g_ownFolders; // of the roots, absolute and clean

// The room a temporary name takes behind the name: "." and six characters.
constexpr qsizetype kTempSuffixBytes = 7;

qint64 SystemWrite(int fd, const char *data, qint64 size)
{
#ifdef Q_OS_WIN
    return _write(fd, data, unsigned(std::min<qint64>(size, 1 << 30)));
#else
    return ::write(fd, data, std::size_t(size));
#endif
}

int SyncFile(int fd)
{
#ifdef Q_OS_WIN
    return _commit(fd);
#elif defined(Q_OS_LINUX)
    return ::fdatasync(fd);
#else
    return ::fsync(fd);
#endif
}

QString Absolute(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// The write root that holds `folder` (the longest), or empty.
[[maybe_unused]] QString RootOf(const QString &folder)
{
    std::lock_guard lock(g_rootsMutex);
    if (g_ownFolders.contains(folder))
        return {};
    QString best;
    for (const QString &root : std::as_const(g_roots)) {
        const bool inside = folder == root
            || (folder.startsWith(root) && (root.endsWith(u'/') || folder[root.size()] == u'/'));
        if (inside && root.size() > best.size())
            best = root;
    }
    return best;
}

// The temporary name of `leaf`: the name, cut at a character so that the
// suffix fits the file system's limit too, a dot and six random characters.
QByteArray TempLeaf(const QByteArray &leaf)
{
    qsizetype keep = std::min(leaf.size(), kMaxComponentBytes - kTempSuffixBytes);
    while (keep > 0 && keep < leaf.size() && (uchar(leaf[keep]) & 0xC0) == 0x80)
        --keep;
    const QString suffix
        = QString::number(QRandomGenerator::global()->bounded(0x1000000), 36).rightJustified(6, u'0').right(6);
    return leaf.first(keep) + '.' + suffix.toLatin1();
}

#ifndef Q_OS_WIN

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// Opens folder `folder` (absolute and clean); with `make`, missing levels are
// made. Below a write root every level is opened without following a link,
// unless `own`. -1 on failure, with `error` and the level at fault (`linkAt`
// when it is a link) set.
int OpenFolder(const QString &folder, bool make, int &error, QString &failedAt, QString &linkAt, bool own = false)
{
    const QString root = own ? QString() : RootOf(folder);
    if (root.isEmpty()) {
        if (make)
            QDir().mkpath(folder);
        const int fd = ::open(QFile::encodeName(folder).constData(), kFolderFlags);
        if (fd < 0) {
            error = errno;
            failedAt = folder;
        }
        return fd;
    }
    int fd = ::open(QFile::encodeName(root).constData(), kFolderFlags);
    if (fd < 0) {
        error = errno;
        failedAt = root;
        return -1;
    }
    QString at = root;
    for (const QString &part : QStringView(folder).sliced(root.size()).toString().split(u'/', Qt::SkipEmptyParts)) {
        if (!at.endsWith(u'/'))
            at += u'/';
        at += part;
        const QByteArray name = QFile::encodeName(part);
        int next = ::openat(fd, name.constData(), kFolderFlags | O_NOFOLLOW);
        if (next < 0 && errno == ENOENT && make) {
            if (::mkdirat(fd, name.constData(), 0777) == 0 || errno == EEXIST)
                next = ::openat(fd, name.constData(), kFolderFlags | O_NOFOLLOW);
        }
        if (next < 0) {
            error = errno;
            failedAt = at;
            struct stat st {};
            if (::fstatat(fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
                linkAt = at;
            ::close(fd);
            return -1;
        }
        ::close(fd);
        fd = next;
    }
    return fd;
}

// Gives the file `temp` of folder `dir` the name `leaf` unless something
// bears it: 0, EEXIST or another errno.
int PublishNew(int dir, const char *temp, const char *leaf)
{
#ifdef RENAME_NOREPLACE
    if (::renameat2(dir, temp, dir, leaf, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
#endif
    if (::linkat(dir, temp, dir, leaf, 0) == 0) {
        ::unlinkat(dir, temp, 0);
        return 0;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP)
        return errno;
    // A file system with neither (FAT): look, then rename.
    struct stat st {};
    if (::fstatat(dir, leaf, &st, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    return ::renameat(dir, temp, dir, leaf) == 0 ? 0 : errno;
}

#endif

} // namespace

SafeFile::SafeFile(QString path, Access access) : m_path(std::move(path)), m_access(access) {}

SafeFile::~SafeFile()
{
    Cancel();
}

bool SafeFile::Failed(int error)
{
    m_failed = true;
    m_diskFull = error == ENOSPC
#ifdef EDQUOT
        || error == EDQUOT
#endif
        ;
    return false;
}

QString SafeFile::ErrorText() const
{
    if (m_diskFull)
        return QString::fromUtf16(kDiskFullText);
    if (!m_linkAt.isEmpty())
        return u"a folder on the way is a link: "_s + QDir::toNativeSeparators(m_linkAt);
    return u"could not write the file"_s;
}

bool SafeFile::Open()
{
    Cancel();
    m_failed = false;
    m_diskFull = false;
    m_exists = false;
    m_linkAt.clear();
    m_written = 0;
    const int mode = m_access == Access::Private ? 0600 : 0666;
    const QString path = Absolute(m_path);
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString folder = slash == 0 ? u"/"_s : path.first(slash);
    m_leaf = QFile::encodeName(path.sliced(slash + 1));
#ifndef Q_OS_WIN
    int error = 0;
    QString failedAt;
    m_folderFd = OpenFolder(folder, false, error, failedAt, m_linkAt, m_access == Access::Private);
    if (m_folderFd < 0)
        return Failed(error);
#endif
    for (int attempt = 0; attempt < 16; ++attempt) {
        m_tempLeaf = TempLeaf(m_leaf);
        m_tempPath = QDir(folder).filePath(QFile::decodeName(m_tempLeaf));
#ifdef Q_OS_WIN
        m_fd = ::open(QFile::encodeName(m_tempPath).constData(), O_WRONLY | O_CREAT | O_EXCL | O_BINARY, mode);
#else
        // Recorded, so that a quick quit removes it.
        m_fd = OpenTempFile(m_folderFd, m_tempLeaf.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            mode, m_tempSlot);
#endif
        if (m_fd >= 0)
            break;
        if (errno != EEXIST) {
            const int why = errno;
            m_tempPath.clear();
            Cancel();
            return Failed(why);
        }
    }
    if (m_fd < 0) {
        m_tempPath.clear();
        Cancel();
        return Failed(EEXIST);
    }
#ifndef Q_OS_WIN
    // The umask only takes bits away; the owner's are set as they are.
    if (m_access == Access::Private && ::fchmod(m_fd, mode_t(mode)) != 0) {
        Failed(errno);
        Cancel();
        return false;
    }
#endif
    return true;
}

bool SafeFile::Write(const char *data, qint64 size)
{
    if (m_fd < 0 || m_failed)
        return false;
    SafeFileWriter writer;
    {
        std::lock_guard lock(g_writerMutex);
        writer = g_writer;
    }
    while (size > 0) {
        errno = 0;
        const qint64 n = writer ? writer(m_fd, data, size, m_written) : SystemWrite(m_fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Failed(n == 0 ? ENOSPC : errno);
        data += n;
        size -= n;
        m_written += n;
    }
    return true;
}

bool SafeFile::WriteFrom(int source)
{
    if (m_fd < 0 || m_failed)
        return false;
#if defined(Q_OS_LINUX) && defined(FICLONE)
    struct stat st {};
    if (m_written == 0 && ::ioctl(m_fd, FICLONE, source) == 0) {
        if (::fstat(m_fd, &st) != 0)
            return Failed(errno);
        m_written = qint64(st.st_size);
        return true;
    }
#endif
    char buffer[65536];
    for (;;) {
#ifdef Q_OS_WIN
        const qint64 n = _read(source, buffer, unsigned(sizeof buffer));
#else
        const qint64 n = ::read(source, buffer, sizeof buffer);
#endif
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Failed(errno);
        if (n == 0)
            return true;
        if (!Write(buffer, n))
            return false;
    }
}

bool SafeFile::Commit(Publish publish)
{
    if (m_fd < 0 || m_failed) {
        Cancel();
        return false;
    }
    bool ok = SyncFile(m_fd) == 0 || Failed(errno);
    struct stat st {};
    if (ok && (::fstat(m_fd, &st) != 0 || qint64(st.st_size) != m_written))
        ok = Failed(ENOSPC);
    const int fd = std::exchange(m_fd, -1);
    if (::close(fd) != 0 && ok)
        ok = Failed(errno);
    if (ok) {
#ifdef Q_OS_WIN
        const QString path = QDir(QFileInfo(m_tempPath).path()).filePath(QFile::decodeName(m_leaf));
        if (publish == Publish::NoReplace) {
            // QFile::rename never replaces an existing file.
            m_exists = QFileInfo::exists(path);
            if (m_exists || !QFile::rename(m_tempPath, path))
                ok = Failed(EEXIST);
        } else {
            std::error_code error;
            std::filesystem::rename(std::filesystem::path(m_tempPath.toStdWString()),
                                    std::filesystem::path(path.toStdWString()), error);
            if (error)
                ok = Failed(error.value());
        }
#else
        const int error = publish == Publish::NoReplace
            ? PublishNew(m_folderFd, m_tempLeaf.constData(), m_leaf.constData())
            : (::renameat(m_folderFd, m_tempLeaf.constData(), m_folderFd, m_leaf.constData()) == 0 ? 0 : errno);
        if (error != 0) {
            m_exists = error == EEXIST;
            ok = Failed(error);
        }
#endif
    }
    if (!ok) {
        Cancel();
        return false;
    }
    m_tempPath.clear();
    Cancel();
    return true;
}

void SafeFile::Cancel()
{
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
#ifdef Q_OS_WIN
    if (!m_tempPath.isEmpty())
        QFile::remove(m_tempPath);
#else
    if (!m_tempPath.isEmpty() && m_folderFd >= 0)
        ::unlinkat(m_folderFd, m_tempLeaf.constData(), 0);
    // Forgotten while its folder is still open: the record names the file
    // by that folder.
    ForgetTempFile(std::exchange(m_tempSlot, -1));
    if (m_folderFd >= 0)
        ::close(std::exchange(m_folderFd, -1));
#endif
    m_tempPath.clear();
}

void SetSafeFileWriter(SafeFileWriter writer)
{
    std::lock_guard lock(g_writerMutex);
    g_writer = std::move(writer);
}

bool CopyFileSafely(const QString &source, const QString &target)
{
#ifdef Q_OS_WIN
    // No O_NOFOLLOW here: a link is refused by name, and Qt reads the file.
    if (QFileInfo(source).isSymLink() || !QFileInfo(source).isFile())
        return false;
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    SafeFile out(target);
    if (!out.Open())
        return false;
    QByteArray buffer(65536, Qt::Uninitialized);
    for (;;) {
        const qint64 n = in.read(buffer.data(), buffer.size());
        if (n < 0)
            return false;
        if (n == 0)
            break;
        if (!out.Write(buffer.constData(), n))
            return false;
    }
    return out.Commit();
#else
    const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(in, &st) == 0 && S_ISREG(st.st_mode);
    if (ok) {
        SafeFile out(target);
        ok = out.Open() && out.WriteFrom(in) && out.Commit();
    }
    ::close(in);
    return ok;
#endif
}

bool MakePrivateFolder(const QString &folder)
{
    if (!QDir().mkpath(folder))
        return false;
    return QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

WriteRoot::WriteRoot(const QString &folder, const QStringList &ownFolders) : m_folder(Absolute(folder))
{
    for (const QString &own : ownFolders) {
        if (!own.isEmpty())
            m_ownFolders.append(Absolute(own));
    }
    std::lock_guard lock(g_rootsMutex);
    g_roots.append(m_folder);
    g_ownFolders.append(m_ownFolders);
}

WriteRoot::~WriteRoot()
{
    std::lock_guard lock(g_rootsMutex);
    g_roots.removeOne(m_folder);
    for (const QString &own : std::as_const(m_ownFolders))
        g_ownFolders.removeOne(own);
}

FolderResult MakeFolders(const QString &folder)
{
    FolderResult result;
    const QString path = Absolute(folder);
#ifdef Q_OS_WIN
    if (!QDir().mkpath(path)) {
        result.kind = FolderResult::Kind::NotMade;
        result.where = QDir::toNativeSeparators(path);
    }
#else
    int error = 0;
    QString linkAt;
    const int fd = OpenFolder(path, true, error, result.where, linkAt);
    if (fd >= 0) {
        ::close(fd);
        result.where.clear();
        return result;
    }
    result.kind = linkAt.isEmpty() ? FolderResult::Kind::NotMade : FolderResult::Kind::Link;
#endif
    return result;
}

} // namespace tamblin

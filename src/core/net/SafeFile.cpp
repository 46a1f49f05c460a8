#include "net/SafeFile.h"

#include "net/TempFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
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

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

std::mutex g_writerMutex;
SafeFileWriter g_writer;

std::filesystem::path FsPath(const QString &path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

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
    return m_diskFull ? QString::fromUtf16(kDiskFullText) : u"could not write the file"_s;
}

bool SafeFile::Open()
{
    Cancel();
    m_failed = false;
    m_diskFull = false;
    m_written = 0;
    // The same suffix length as before: names are fitted to the file
    // system's limit with room for it.
    int mode = 0666;
    struct stat old {};
    if (m_access == Access::Private)
        mode = 0600;
    else if (::stat(QFile::encodeName(m_path).constData(), &old) == 0 && S_ISREG(old.st_mode))
        mode = int(old.st_mode & 07777);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString suffix = QString::number(QRandomGenerator::global()->bounded(0x1000000), 36)
                                   .rightJustified(6, u'0')
                                   .right(6);
        m_tempPath = m_path + u'.' + suffix;
        int flags = O_WRONLY | O_CREAT | O_EXCL;
#ifdef O_CLOEXEC
        flags |= O_CLOEXEC;
#endif
#ifdef Q_OS_WIN
        flags |= O_BINARY;
#endif
#ifdef Q_OS_WIN
        const int here = -1;
#else
        const int here = AT_FDCWD;
#endif
        // Recorded, so that a quick quit removes it.
        m_fd = OpenTempFile(here, QFile::encodeName(m_tempPath).constData(), flags, mode, m_tempSlot);
        if (m_fd >= 0)
            break;
        if (errno != EEXIST) {
            m_tempPath.clear();
            return Failed(errno);
        }
    }
    if (m_fd < 0) {
        m_tempPath.clear();
        return Failed(EEXIST);
    }
#ifndef Q_OS_WIN
    // The umask only takes bits away; an old file's bits, or the owner-only
    // ones, are set as they are.
    if ((m_access == Access::Private || mode != 0666) && ::fchmod(m_fd, mode_t(mode)) != 0) {
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

bool SafeFile::Commit()
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
        std::error_code error;
        std::filesystem::rename(FsPath(m_tempPath), FsPath(m_path), error);
        if (error)
            ok = Failed(error.value());
    }
    if (!ok) {
        Cancel();
        return false;
    }
    m_tempPath.clear();
    ForgetTempFile(std::exchange(m_tempSlot, -1));
    return true;
}

void SafeFile::Cancel()
{
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
    if (!m_tempPath.isEmpty())
        QFile::remove(std::exchange(m_tempPath, QString()));
    ForgetTempFile(std::exchange(m_tempSlot, -1));
}

void SetSafeFileWriter(SafeFileWriter writer)
{
    std::lock_guard lock(g_writerMutex);
    g_writer = std::move(writer);
}

bool MakePrivateFolder(const QString &folder)
{
    if (!QDir().mkpath(folder))
        return false;
    return QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace tamblin

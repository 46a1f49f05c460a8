// A file written beside its final name and published under it (renamed over
// any older one) only when every write, the flush and the sync succeeded and
// the file on disk holds every byte handed to it. Until then the older file
// stays as it was, and a file that is not committed leaves nothing behind:
// a full disk can cost a new picture or a new settings image, never an old
// one, and never leaves a short file under the real name.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

namespace tamblin {

class SafeFile {
public:
    enum class Access : std::uint8_t {
        Shared,  // the umask's permissions, or those of the file it replaces
        Private, // owner only (0600), whatever the umask and the old file
    };

    explicit SafeFile(QString path, Access access = Access::Shared);
    ~SafeFile(); // cancels an uncommitted file
    SafeFile(const SafeFile &) = delete;
    SafeFile &operator=(const SafeFile &) = delete;

    // Creates the temporary file; false when it cannot.
    bool Open();
    // False once any write failed; the file is then never published.
    bool Write(const char *data, qint64 size);
    bool Write(const QByteArray &bytes) { return Write(bytes.constData(), bytes.size()); }
    // Syncs, checks the size and publishes; false (and nothing left) when
    // any step failed.
    bool Commit();
    // Drops the temporary file.
    void Cancel();

    qint64 Written() const { return m_written; }
    // The last failure was a full disk (or a full quota).
    bool DiskFull() const { return m_diskFull; }
    // Why the file could not be written, as a user reads it.
    QString ErrorText() const;

private:
    bool Failed(int error);

    QString m_path;
    QString m_tempPath;
    Access m_access;
    int m_fd = -1;
    int m_tempSlot = -1; // see TempFiles.h
    qint64 m_written = 0;
    bool m_failed = false;
    bool m_diskFull = false;
};

// Stands for write(2) under every SafeFile, for tests that make a disk fill
// up at a chosen byte: gets the descriptor, the bytes and how many bytes the
// file held before, returns what write(2) would (setting errno). An empty
// function restores write(2).
using SafeFileWriter = std::function<qint64(int fd, const char *data, qint64 size, qint64 offset)>;
void SetSafeFileWriter(SafeFileWriter writer);

// The reason a picture or a list names for a full disk.
inline constexpr char16_t kDiskFullText[] = u"磁盘空间不足";

// Makes `folder` (and its parents) and leaves it readable by its owner only.
bool MakePrivateFolder(const QString &folder);

} // namespace tamblin

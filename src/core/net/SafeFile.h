// A file written beside its final name and published under it (renamed over
// any older one) only when every write, the flush and the sync succeeded and
// the file on disk holds every byte handed to it. Until then the older file
// stays as it was, and a file that is not committed leaves nothing behind:
// a full disk can cost a new picture or a new settings image, never an old
// one, and never leaves a short file under the real name.
//
// The file is always a new one: whatever bears the name (a file, a link
// planted by another user of a shared folder) is replaced, never opened or
// followed, and no mode is taken from it. Below a write root (WriteRoot) the
// folders on the way are opened level by level from the root down without
// following links, and the file is made relative to the folder so opened, so
// that a folder swapped for a link cannot send the bytes elsewhere.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

namespace tamblin {

// The most bytes a file system takes for one path component (file or folder
// name) in UTF-8. A name within it also keeps to Windows' 255 UTF-16 units.
inline constexpr qsizetype kMaxComponentBytes = 255;

class SafeFile {
public:
    enum class Access : std::uint8_t {
        Shared,  // the permissions the umask gives a new file
        Private, // owner only (0600), whatever the umask
    };
    enum class Publish : std::uint8_t {
        Replace,   // over whatever bears the name
        NoReplace, // only where nothing does (AlreadyThere() tells)
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
    // any step failed, or, with NoReplace, when the name was taken.
    bool Commit(Publish publish = Publish::Replace);
    // Drops the temporary file.
    void Cancel();

    // Writes the rest of the open plain file `source` from where it stands:
    // a copy-on-write clone sharing its blocks where the file system offers
    // one (only into a file still empty), else its bytes read and written.
    bool WriteFrom(int source);

    qint64 Written() const { return m_written; }
    // The last failure was a full disk (or a full quota).
    bool DiskFull() const { return m_diskFull; }
    // A NoReplace commit found the name taken.
    bool AlreadyThere() const { return m_exists; }
    // Why the file could not be written, as a user reads it.
    QString ErrorText() const;

private:
    bool Failed(int error);

    QString m_path;
    QString m_tempPath;
    Access m_access;
    int m_fd = -1;
    int m_folderFd = -1; // the folder the file is made in (not on Windows)
    QByteArray m_leaf;     // the name in that folder
    QByteArray m_tempLeaf; // the temporary name in it
    QString m_linkAt;      // a folder on the way that is a link
    int m_tempSlot = -1;   // see TempFiles.h (not on Windows)
    qint64 m_written = 0;
    bool m_failed = false;
    bool m_diskFull = false;
    bool m_exists = false;
};

// Stands for write(2) under every SafeFile, for tests that make a disk fill
// up at a chosen byte: gets the descriptor, the bytes and how many bytes the
// file held before, returns what write(2) would (setting errno). An empty
// function restores write(2).
using SafeFileWriter = std::function<qint64(int fd, const char *data, qint64 size, qint64 offset)>;
void SetSafeFileWriter(SafeFileWriter writer);

// The reason a picture or a list names for a full disk.
inline constexpr char16_t kDiskFullText[] = u"磁盘空间不足";

// Copies the plain file `source` to `target` the way every file is written
// (SafeFile: a new file beside the target, synced, renamed over its name).
// The source is opened without following a link. False, leaving nothing
// behind, when it is no plain file or any step fails.
bool CopyFileSafely(const QString &source, const QString &target);

// Makes `folder` (and its parents) and leaves it readable by its owner only.
bool MakePrivateFolder(const QString &folder);

// While one lives, `folder` is a write root: the folders below it are only
// opened, made and written into without following links (the root itself
// may be one: users point a save folder at another disk). The download run
// makes its save folder one. Files directly in one of `ownFolders` (the
// program's start folder, which a save folder may hold), and the private
// files (the cookie store), are the program's own, at paths the user chose:
// they are written as elsewhere.
class WriteRoot {
public:
    explicit WriteRoot(const QString &folder, const QStringList &ownFolders = {});
    ~WriteRoot();
    WriteRoot(const WriteRoot &) = delete;
    WriteRoot &operator=(const WriteRoot &) = delete;

private:
    QString m_folder;
    QStringList m_ownFolders;
};

// What became of making a folder.
struct FolderResult {
    enum class Kind : std::uint8_t {
        Ok,
        NotMade, // a level could not be made (a file in its way, no right)
        Link,    // a level below the write root is a link: not written into
    };
    Kind kind = Kind::Ok;
    QString where; // the level at fault
};

// Makes `folder` and every missing level above it. Below a write root the
// levels are opened and made without following links; elsewhere as any
// program makes a path.
FolderResult MakeFolders(const QString &folder);

} // namespace tamblin

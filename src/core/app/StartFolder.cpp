#include "app/StartFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

QString WithSeparator(const QString &folder)
{
    QString path = QDir::toNativeSeparators(QDir::cleanPath(folder));
    if (!path.isEmpty() && !path.endsWith(QDir::separator()))
        path += QDir::separator();
    return path;
}

bool SameFolder(const QString &a, const QString &b)
{
    return !a.isEmpty() && !b.isEmpty() && QFileInfo(a).canonicalFilePath() == QFileInfo(b).canonicalFilePath();
}

// Permission bits do not say it for root or for read-only mounts: try it.
bool CanWriteIn(const QString &folder)
{
    if (!QFileInfo(folder).isDir())
        return false;
    QTemporaryFile probe(folder + u".tamblin-probe-XXXXXX"_s);
    return probe.open();
}

bool IsRoot(const QString &folder)
{
    return QDir(folder).isRoot();
}

// "Morvane" in the documents folder, created; empty when that fails.
QString MorvaneFolder(const QString &documentsDir)
{
    if (documentsDir.isEmpty())
        return {};
    const QString folder = WithSeparator(documentsDir) + u"Morvane"_s + QDir::separator();
    return QDir().mkpath(folder) ? folder : QString();
}

} // namespace

StartFolders ChooseStartFolders(const QString &currentDir, const QString &homeDir, const QString &appDataDir,
                                const QString &documentsDir)
{
    StartFolders folders;
    const QString current = WithSeparator(currentDir);
    const bool usable = !current.isEmpty() && !IsRoot(current) && !SameFolder(current, homeDir) && CanWriteIn(current);
    const QString data = WithSeparator(appDataDir);
    if (usable || data.isEmpty() || !QDir().mkpath(data)) {
        folders.appDir = current;
        folders.savePath = current;
        // A program run from inside an archive or a temporary folder saves
        // into the documents folder instead.
        const QString lower = current.toLower();
        const QString sep = QDir::separator();
        if (lower.contains(sep + u"temp"_s + sep) || lower.contains(sep + u"locals"_s)) {
            const QString morvane = MorvaneFolder(documentsDir);
            if (!morvane.isEmpty())
                folders.savePath = morvane;
        }
        return folders;
    }
    folders.appDir = data;
    const QString morvane = MorvaneFolder(documentsDir);
    folders.savePath = morvane.isEmpty() ? WithSeparator(homeDir) : morvane;
    return folders;
}

StartFolders StartFolder()
{
    return ChooseStartFolders(QDir::currentPath(), QDir::homePath(),
                              QStandardPaths::writableLocation(QStandardPaths::AppDataLocation),
                              QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
}

} // namespace tamblin

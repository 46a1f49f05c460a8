#include "app/StartFolder.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

using namespace tamblin;
using namespace tamblin::test;
using namespace Qt::StringLiterals;

namespace {

TEST(StartFolder, CurrentFolderUnlessItIsHomeRootOrUnwritable)
{
    TempDir dir;
    const QString sep = QDir::separator();
    const QString home = dir.Path() + u"home"_s;
    const QString data = dir.Path() + u"data"_s;
    const QString docs = dir.Path() + u"docs"_s;
    const QString work = dir.Path() + u"work"_s;
    const QString temp = dir.Path() + u"x"_s + sep + u"Temp"_s + sep + u"app"_s;
    for (const QString &folder : {home, work, temp})
        ASSERT_TRUE(QDir().mkpath(folder));
    const QString morvane = docs + sep + u"Morvane"_s + sep;

    const struct {
        QString current;
        QString appDir;
        QString savePath;
    } cases[] = {
        {work, work + sep, work + sep},
        {work + sep, work + sep, work + sep},
        // Run from a temporary folder or an archive: save into the documents.
        {temp, temp + sep, morvane},
        {home, data + sep, morvane},
        {QDir::rootPath(), data + sep, morvane},
        {dir.Path() + u"missing"_s, data + sep, morvane},
#ifdef Q_OS_LINUX
        {u"/proc"_s, data + sep, morvane}, // not writable, not even for root
#endif
    };
    for (const auto &c : cases) {
        const StartFolders folders = ChooseStartFolders(c.current, home, data, docs);
        EXPECT_EQ(folders.appDir, c.appDir) << c.current.toStdString();
        EXPECT_EQ(folders.savePath, c.savePath) << c.current.toStdString();
    }
    EXPECT_TRUE(QFileInfo(data).isDir());
    EXPECT_TRUE(QFileInfo(morvane).isDir());
    // The probe leaves nothing behind.
    EXPECT_TRUE(QDir(work).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));

    // Without a data folder the current folder has to do.
    EXPECT_EQ(ChooseStartFolders(home, home, QString(), docs).appDir, home + sep);
}

} // namespace

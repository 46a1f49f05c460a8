// tamblin-cli download, run as a program in a temporary start folder,
// through http_proxy against the fake service.
#include "FakeService.h"
#include "TestSupport.h"

#include "app/SoftSettings.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

using namespace Qt::StringLiterals;

namespace tamblin::test {
namespace {

struct CliResult {
    int exitCode = -1;
    QString out;
    QString err;
};

void Prepare(QProcess &cli, const QString &startFolder)
{
    cli.setWorkingDirectory(startFolder);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"TAMBLIN_COOKIE_FILE"_s, startFolder + u"cookie-store.txt"_s);
    cli.setProcessEnvironment(env);
}

CliResult Finish(QProcess &cli)
{
    CliResult result;
    if (!cli.waitForFinished(120000) || cli.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = cli.exitCode();
    result.out = QString::fromUtf8(cli.readAllStandardOutput());
    result.err += QString::fromUtf8(cli.readAllStandardError());
    return result;
}

CliResult RunCli(const QStringList &args, const QString &startFolder)
{
    QProcess cli;
    Prepare(cli, startFolder);
    cli.start(QString::fromUtf8(TAMBLIN_CLI_PATH), args);
    return Finish(cli);
}

// Files below `folder` (relative, sorted).
QStringList FilesIn(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(folder).relativeFilePath(it.next()));
    files.sort();
    return files;
}

const QString kUser = u"http://photo.blog.sina.com.cn/u/1"_s;

// Albums 甲 (2 pictures), 乙 (1) and 丙 (1).
QByteArray Data(const QString &faults = u"[]"_s)
{
    return uR"j({"sina_photo_users": [{"uid": "1", "title": "相册", "albums": [
      {"name": "甲", "ctg_id": "1", "photos": [
        {"src": "http://static.photo.sina.com.cn/small/a1", "title": "一"},
        {"src": "http://static.photo.sina.com.cn/small/a2", "title": "二"}]},
      {"name": "乙", "ctg_id": "2", "photos": [{"src": "http://static.photo.sina.com.cn/small/b1", "title": "三"}]},
      {"name": "丙", "ctg_id": "3", "photos": [{"src": "http://static.photo.sina.com.cn/small/c1", "title": "四"}]}]}],
    "pictures": {
      "http://static.photo.sina.com.cn/orignal/a1": {"size": 30000},
      "http://static.photo.sina.com.cn/orignal/a2": {"format": "png", "size": 60000},
      "http://static.photo.sina.com.cn/orignal/b1": {"size": 3000},
      "http://static.photo.sina.com.cn/orignal/c1": {"size": 4000}},
    "faults": %1})j"_s.arg(faults).toUtf8();
}

TEST(CliDownload, DownloadsTheChosenRowsIntoTheSaveFolderAndRemembersIt)
{
    FakeService service(Data());
    ASSERT_TRUE(service.IsRunning());
    TempDir start;
    const QString save = start.Path() + u"out"_s;
    const CliResult result = RunCli({u"download"_s, kUser, u"--albums"_s, u"1,3-3"_s, u"--save"_s, save,
                                     u"--threads=2"_s, u"--min-kb"_s, u"10"_s},
                                    start.Path());
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    // 丙's only picture is under 10 KiB (its album still ran, so it has its
    // record); 乙 was not chosen.
    EXPECT_EQ(FilesIn(save), (QStringList{u"相册/丙/pic.orv"_s, u"相册/甲/pic.orv"_s, u"相册/甲/一.jpg"_s,
                                          u"相册/甲/二.jpg"_s}));
    EXPECT_TRUE(result.err.contains(u"正在下载第1/2个图集"_s)) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains(u"正在下载第2/2个图集"_s));
    EXPECT_TRUE(result.err.contains(u"下载完毕"_s));
    EXPECT_TRUE(result.out.isEmpty());
    const SoftSettings saved = SoftSettings::FromBytes(start.Read(u"soft.dat"_s));
    EXPECT_EQ(saved.savePathHistory[0].Get(), save + QDir::separator());
    // The option's limit was for that run only.
    EXPECT_EQ(saved.downParams[4].minKb, 0);

    // Without --save the remembered folder is used.
    const CliResult again = RunCli({u"download"_s, kUser, u"--albums"_s, u"2"_s}, start.Path());
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(save + u"/相册/乙/三.jpg"_s));
}

TEST(CliDownload, RunsThatCannotStartExitWithOneAndUsageErrorsWithTwo)
{
    FakeService service(Data());
    ASSERT_TRUE(service.IsRunning());
    TempDir start;
    start.Write(u"file"_s, "x");
    struct Case {
        QStringList args;
        int exit;
    };
    const QList<Case> cases{
        {{u"download"_s, u"http://photo.blog.sina.com.cn/u/404"_s}, 1},       // no albums
        {{u"download"_s, kUser, u"--albums"_s, u"4"_s}, 1},                   // no such row
        {{u"download"_s, kUser, u"--save"_s, start.File(u"file/sub"_s)}, 1}, // not a folder
        {{u"download"_s, kUser, u"--albums"_s, u"x"_s}, 2},
        {{u"download"_s, kUser, u"--albums"_s, u"3-1"_s}, 2},
        {{u"download"_s, kUser, u"--threads"_s, u"16"_s}, 2},
        {{u"download"_s, kUser, u"--timeout"_s, u"0"_s}, 2},
        {{u"download"_s, kUser, u"--max-kb"_s}, 2},
        {{u"download"_s}, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        const CliResult result = RunCli(c.args, start.Path());
        EXPECT_EQ(result.exitCode, c.exit) << result.err.toStdString();
        EXPECT_FALSE(result.err.isEmpty());
    }
    EXPECT_FALSE(QFileInfo::exists(start.File(u"file/sub"_s)));
    // Nothing was downloaded into the start folder.
    for (const QString &file : FilesIn(start.Path()))
        EXPECT_TRUE(file == u"soft.dat"_s || file == u"file"_s) << file.toStdString();

    const CliResult help = RunCli({u"--help"_s}, start.Path());
    for (const QString &topic : {u"download URL"_s, u"--albums LIST"_s, u"--save DIR"_s, u"--threads N"_s,
                                 u"--timeout S"_s, u"--min-kb N"_s, u"--max-kb N"_s, u"Ctrl+C"_s})
        EXPECT_TRUE(help.out.contains(topic)) << topic.toStdString();
}

TEST(CliDownload, CtrlCStopsTheDownloadAndTheProgramEndsCleanly)
{
    // Each picture takes a while, one at a time.
    FakeService service(Data(u"[{\"match\": \"http://static.photo.sina.com.cn/orignal/\", \"delay\": 0.6}]"_s));
    ASSERT_TRUE(service.IsRunning());
    TempDir start;
    QProcess cli;
    Prepare(cli, start.Path());
    cli.start(QString::fromUtf8(TAMBLIN_CLI_PATH),
              {u"download"_s, kUser, u"--save"_s, start.Path() + u"out"_s, u"--threads"_s, u"1"_s});
    ASSERT_TRUE(cli.waitForStarted(10000));
    QString err;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!err.contains(u"已开始下载图片"_s) && std::chrono::steady_clock::now() < deadline) {
        cli.waitForReadyRead(200);
        err += QString::fromUtf8(cli.readAllStandardError());
    }
    ASSERT_TRUE(err.contains(u"已开始下载图片"_s)) << err.toStdString();
    ::kill(pid_t(cli.processId()), SIGINT);
    const CliResult result = Finish(cli);
    EXPECT_EQ(result.exitCode, 0) << (err + result.err).toStdString();
    // The picture being fetched may finish; nothing else is fetched, no
    // record is written, no other album begins.
    const QStringList files = FilesIn(start.Path() + u"out"_s);
    EXPECT_LE(files.size(), 1) << files.join(u'|').toStdString();
    for (const QString &file : files)
        EXPECT_EQ(file, u"相册/甲/一.jpg"_s);
    EXPECT_FALSE((err + result.err).contains(u"正在下载第2/3个图集"_s));
}

} // namespace
} // namespace tamblin::test

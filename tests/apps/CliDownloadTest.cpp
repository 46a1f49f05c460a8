// tamblin-cli download, run as a program in a temporary start folder,
// through http_proxy against the fake service.
#include "FakeService.h"
#include "TestSupport.h"

#include "app/SoftSettings.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

#include <sys/mount.h>

using namespace Qt::StringLiterals;

namespace tamblin::test {
namespace {

struct CliResult {
    int exitCode = -1;
    QString out;
    QString err;
};

void Prepare(QProcess &cli, const QString &startFolder, double waitScale = 0.01)
{
    cli.setWorkingDirectory(startFolder);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"TAMBLIN_COOKIE_FILE"_s, startFolder + u"cookie-store.txt"_s);
    // Second tries and rate-limit pauses in a fraction of their time.
    env.insert(u"TAMBLIN_WAIT_SCALE"_s, QString::number(waitScale));
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

CliResult RunCli(const QStringList &args, const QString &startFolder, double waitScale = 0.01)
{
    QProcess cli;
    Prepare(cli, startFolder, waitScale);
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

// A soft.dat in `start` whose Sina rules carry the option bits `flags`.
void WriteSinaFlags(const TempDir &start, std::uint16_t flags)
{
    SoftSettings settings;
    settings.siteRules[4].flags = flags;
    start.Write(u"soft.dat"_s, settings.ToBytes());
}

// User 1: albums 甲 (2 pictures), 乙 (1) and 丙 (1); user 2: 丁 (2).
QByteArray Data(const QString &faults = u"[]"_s)
{
    return uR"j({"sina_photo_users": [{"uid": "1", "title": "相册", "albums": [
      {"name": "甲", "ctg_id": "1", "photos": [
        {"src": "http://static.photo.sina.com.cn/small/a1", "title": "一"},
        {"src": "http://static.photo.sina.com.cn/small/a2", "title": "二"}]},
      {"name": "乙", "ctg_id": "2", "photos": [{"src": "http://static.photo.sina.com.cn/small/b1", "title": "三"}]},
      {"name": "丙", "ctg_id": "3", "photos": [{"src": "http://static.photo.sina.com.cn/small/c1", "title": "四"}]}]},
     {"uid": "2", "title": "另一个", "albums": [
      {"name": "丁", "ctg_id": "4", "photos": [{"src": "http://static.photo.sina.com.cn/small/d1", "title": "五"},
                                             {"src": "http://static.photo.sina.com.cn/small/d2", "title": "六"}]}]}],
    "pictures": {
      "http://static.photo.sina.com.cn/orignal/a1": {"size": 30000},
      "http://static.photo.sina.com.cn/orignal/a2": {"format": "png", "size": 60000},
      "http://static.photo.sina.com.cn/orignal/b1": {"size": 3000},
      "http://static.photo.sina.com.cn/orignal/c1": {"size": 4000},
      "http://static.photo.sina.com.cn/orignal/d1": {"size": 20000}},
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
    // 丙's only picture is under 10 KiB: skipped by the rule, so no record
    // names it; 乙 was not chosen.
    EXPECT_EQ(FilesIn(save), (QStringList{u"相册/甲/pic.orv"_s, u"相册/甲/一.jpg"_s, u"相册/甲/二.jpg"_s}));
    EXPECT_TRUE(result.err.contains(u"2 saved, 1 skipped by the size limits, 0 failed"_s)) << result.err.toStdString();
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

TEST(CliDownload, LongTitlesDeviceNamesAndAlbumsOfOneNameAllSaveApart)
{
    const QString title = QString(100, QChar(0x957F));
    FakeService service(uR"j({"sina_photo_users": [{"uid": "1", "title": "相册", "albums": [
      {"name": "x&amp;amp;y", "ctg_id": "1", "photos": [
        {"src": "http://static.photo.sina.com.cn/small/a1", "title": "%1"},
        {"src": "http://static.photo.sina.com.cn/small/a2", "title": "%1"}]},
      {"name": "Album", "ctg_id": "2", "photos": [{"src": "http://static.photo.sina.com.cn/small/b1", "title": "CON"}]},
      {"name": "album", "ctg_id": "3", "photos": [{"src": "http://static.photo.sina.com.cn/small/c1", "title": "c"}]},
      {"name": "failed", "ctg_id": "4", "photos": [{"src": "http://static.photo.sina.com.cn/small/d1", "title": "d"}]}]}],
    "pictures": {"http://static.photo.sina.com.cn/orignal/a1": {}, "http://static.photo.sina.com.cn/orignal/a2": {},
                 "http://static.photo.sina.com.cn/orignal/b1": {}, "http://static.photo.sina.com.cn/orignal/c1": {},
                 "http://static.photo.sina.com.cn/orignal/d1": {}}})j"_s.arg(title).toUtf8());
    ASSERT_TRUE(service.IsRunning());
    TempDir start;
    WriteSinaFlags(start, kWriteTitles);
    const QString save = start.Path() + u"out"_s;
    // An earlier version's folder of "failed", whose title file took the
    // name of the failure list.
    ASSERT_TRUE(QDir().mkpath(save + u"/相册/failed"_s));

    const CliResult result = RunCli({u"download"_s, kUser, u"--save"_s, save}, start.Path());

    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(FilesIn(save), (QStringList{u"相册/Album/Album.txt"_s, u"相册/Album/CON_.jpg"_s, u"相册/Album/pic.orv"_s,
                                          u"相册/album (1)/album (1).txt"_s, u"相册/album (1)/c.jpg"_s,
                                          u"相册/album (1)/pic.orv"_s, u"相册/failed/d.jpg"_s,
                                          u"相册/failed/failed (1).txt"_s, u"相册/failed/pic.orv"_s,
                                          u"相册/x&amp;y/pic.orv"_s, u"相册/x&amp;y/x&amp;y.txt"_s,
                                          u"相册/x&amp;y/"_s + title.left(82) + u"(1).jpg"_s,
                                          u"相册/x&amp;y/"_s + title.left(83) + u".jpg"_s}))
        << result.err.toStdString();
    EXPECT_EQ(result.err.count(u"沿用旧版的相册文件夹："_s + save + u"/相册/failed/"_s), 1) << result.err.toStdString();
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
        {{u"download"_s, kUser, u"--albums"_s, u"2-65536"_s}, 1},             // any row list prints is taken
        {{u"download"_s, kUser, u"--cookies"_s, start.File(u"file"_s)}, 2},  // no cookie in it
        {{u"download"_s, kUser, u"--save"_s, start.File(u"file/sub"_s)}, 1}, // not a folder
        {{u"download"_s, kUser, u"--albums"_s, u"x"_s}, 2},
        {{u"download"_s, kUser, u"--albums"_s, u"3-1"_s}, 2},
        {{u"download"_s, kUser, u"--threads"_s, u"16"_s}, 2},
        {{u"download"_s, kUser, u"--timeout"_s, u"9"_s}, 2},
        {{u"download"_s, kUser, u"--min-kb"_s, u"20"_s, u"--max-kb"_s, u"10"_s}, 2},
        {{u"download"_s, kUser, u"--max-kb"_s}, 2},
        {{u"download"_s, kUser, u"--since"_s, u"2023-4-1"_s}, 2},
        {{u"download"_s, kUser, u"--until=2023-02-30"_s}, 2},
        {{u"download"_s, kUser, u"--since"_s, u"2023-05-01"_s, u"--until"_s, u"2023-04-30"_s}, 2},
        {{u"download"_s}, 2},
        {{u"download"_s, u"--input-file"_s, start.File(u"none"_s)}, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        const CliResult result = RunCli(c.args, start.Path());
        EXPECT_EQ(result.exitCode, c.exit) << result.err.toStdString();
        EXPECT_FALSE(result.err.isEmpty());
    }
    EXPECT_FALSE(QFileInfo::exists(start.File(u"file/sub"_s)));
    // The folder that could not be made never became a save-path default.
    EXPECT_TRUE(SoftSettings::FromBytes(start.Read(u"soft.dat"_s)).savePathHistory[0].Get().isEmpty());
    EXPECT_TRUE(RunCli({u"download"_s, kUser, u"--albums"_s, u"65536"_s}, start.Path())
                    .err.contains(u"there is no album 65536; the list has 3"_s));
    EXPECT_TRUE(RunCli({u"download"_s, kUser, u"--cookies"_s, start.File(u"file"_s)}, start.Path())
                    .err.contains(u"no cookie found in "_s + start.File(u"file"_s)));
    // Nothing was downloaded into the start folder.
    for (const QString &file : FilesIn(start.Path()))
        EXPECT_TRUE(file == u"soft.dat"_s || file == u"file"_s) << file.toStdString();

    const CliResult help = RunCli({u"--help"_s}, start.Path());
    for (const QString &topic : {u"download URL"_s, u"--albums LIST"_s, u"--save DIR"_s, u"--threads N"_s,
                                 u"--timeout S"_s, u"--min-kb N"_s, u"--max-kb N"_s, u"Ctrl+C"_s, u"--retry-failed"_s,
                                 u"failed.txt"_s, u"  3  download"_s, u"  4  stopped by Ctrl+C"_s, u"--input-file FILE"_s,
                                 u"\"event\": \"saved\""_s, u"文件时间用发布时间"_s,
                                 u"--since YYYY-MM-DD"_s, u"起始日期"_s, u"out_of_range"_s, u"--save-posts"_s,
                                 u"posts.jsonl"_s, u"--with-reposts"_s, u"?0"_s})
        EXPECT_TRUE(help.out.contains(topic)) << topic.toStdString();
}

TEST(CliDownload, SeveralUsersInOneRunWithJsonEventsThatAddUpToTheSummaries)
{
    FakeService service(Data(u"[{\"match\": \"http://static.photo.sina.com.cn/orignal/d2\", \"close\": true}]"_s));
    ASSERT_TRUE(service.IsRunning());
    TempDir start;
    const QString save = start.Path() + u"out"_s;
    const QString other = u"http://photo.blog.sina.com.cn/u/2"_s;
    const QString none = u"http://photo.blog.sina.com.cn/u/404"_s;
    // A user that cannot be listed does not stop the one after it.
    const CliResult result = RunCli({u"download"_s, kUser, none, other, u"--json"_s, u"--save"_s, save,
                                     u"--min-kb"_s, u"4"_s},
                                    start.Path());
    EXPECT_EQ(result.exitCode, 3) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains(u"Total of 3 users: 3 saved, 2 skipped, 1 failed"_s)) << result.err.toStdString();

    // Per user: the events counted, and the summary's counts.
    struct Tally {
        int saved = 0, skipped = 0, failed = 0, albums = 0;
    };
    QMap<QString, Tally> events;
    QMap<QString, Tally> summaries;
    QString user;
    QJsonObject total;
    for (const QString &line : result.out.split(u'\n', Qt::SkipEmptyParts)) {
        QJsonParseError error;
        const QJsonObject event = QJsonDocument::fromJson(line.toUtf8(), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        const QString kind = event.value(u"event"_s).toString();
        if (kind == u"album"_s) {
            user = event.value(u"user"_s).toString();
            ++events[user].albums;
        } else if (kind == u"saved"_s) {
            ++events[user].saved;
            const QFileInfo file(event.value(u"path"_s).toString());
            EXPECT_TRUE(file.exists()) << line.toStdString();
            EXPECT_EQ(file.size(), event.value(u"bytes"_s).toInteger());
        } else if (kind == u"skipped"_s) {
            ++events[user].skipped;
            EXPECT_EQ(event.value(u"reason"_s).toString(), u"size"_s);
        } else if (kind == u"failed"_s) {
            ++events[user].failed;
            EXPECT_FALSE(event.value(u"reason"_s).toString().isEmpty());
        } else if (kind == u"summary"_s) {
            summaries[event.value(u"user"_s).toString()] = {event.value(u"saved"_s).toInt(), event.value(u"skipped"_s).toInt(),
                                                            event.value(u"failed"_s).toInt(), event.value(u"albums"_s).toInt()};
        } else {
            EXPECT_EQ(kind, u"total"_s);
            total = event;
        }
    }
    ASSERT_EQ(summaries.keys(), (QStringList{kUser, other, none}));
    for (const QString &u : summaries.keys()) {
        SCOPED_TRACE(u.toStdString());
        EXPECT_EQ(events[u].saved, summaries[u].saved);
        EXPECT_EQ(events[u].skipped, summaries[u].skipped);
        EXPECT_EQ(events[u].failed, summaries[u].failed);
        EXPECT_EQ(events[u].albums, summaries[u].albums);
    }
    // 甲's two pictures, 乙 and 丙 under the limit; 丁's one of two.
    EXPECT_EQ(summaries[kUser].saved, 2);
    EXPECT_EQ(summaries[kUser].skipped, 2);
    EXPECT_EQ(summaries[other].failed, 1);
    EXPECT_EQ(summaries[none].albums, 0);
    EXPECT_EQ(total.value(u"users"_s).toInt(), 3);
    EXPECT_EQ(total.value(u"saved"_s).toInt(), 3);
    EXPECT_EQ(total.value(u"status"_s).toInt(), 3);

    // The addresses from standard input, with a comment and a blank line.
    QProcess cli;
    Prepare(cli, start.Path());
    cli.start(QString::fromUtf8(TAMBLIN_CLI_PATH),
              {u"download"_s, u"--input-file"_s, u"-"_s, u"--save"_s, start.Path() + u"again"_s, u"--albums"_s, u"1"_s});
    ASSERT_TRUE(cli.waitForStarted(10000));
    cli.write((u"# users\n\n  "_s + kUser + u"\n"_s + other + u"\n"_s).toUtf8());
    cli.closeWriteChannel();
    const CliResult piped = Finish(cli);
    EXPECT_EQ(piped.exitCode, 3) << piped.err.toStdString();
    EXPECT_TRUE(piped.err.contains(u"Total of 2 users: 3 saved, 0 skipped, 1 failed"_s)) << piped.err.toStdString();
    EXPECT_EQ(FilesIn(start.Path() + u"again"_s),
              (QStringList{u"另一个/丁/failed.txt"_s, u"另一个/丁/pic.orv"_s, u"另一个/丁/五.jpg"_s, u"相册/甲/pic.orv"_s, u"相册/甲/一.jpg"_s,
                           u"相册/甲/二.jpg"_s}));
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
    EXPECT_EQ(result.exitCode, 4) << (err + result.err).toStdString();
    EXPECT_TRUE((err + result.err).contains(u"Stopping: the pictures in progress finish"_s));
    // The picture being fetched may finish; nothing else is fetched, no
    // record is written, no other album begins; what was not fetched is
    // listed for a retry.
    QStringList files = FilesIn(start.Path() + u"out"_s);
    EXPECT_TRUE(files.removeOne(u"相册/甲/failed.txt"_s)) << files.join(u'|').toStdString();
    EXPECT_LE(files.size(), 1) << files.join(u'|').toStdString();
    for (const QString &file : files)
        EXPECT_EQ(file, u"相册/甲/一.jpg"_s);
    EXPECT_FALSE((err + result.err).contains(u"正在下载第2/3个图集"_s));

    // A second Ctrl+C quits at once, with the status of a stop.
    QProcess again;
    Prepare(again, start.Path());
    again.start(QString::fromUtf8(TAMBLIN_CLI_PATH),
                {u"download"_s, kUser, u"--save"_s, start.Path() + u"out"_s, u"--threads"_s, u"1"_s});
    ASSERT_TRUE(again.waitForStarted(10000));
    const pid_t pid = pid_t(again.processId());
    ASSERT_GT(pid, 0);
    QString started;
    while (!started.contains(u"已开始下载图片"_s) && again.state() == QProcess::Running) {
        again.waitForReadyRead(200);
        started += QString::fromUtf8(again.readAllStandardError());
    }
    ASSERT_TRUE(started.contains(u"已开始下载图片"_s)) << started.toStdString();
    ::kill(pid, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::kill(pid, SIGINT);
    const CliResult quit = Finish(again);
    EXPECT_EQ(quit.exitCode, 4) << (started + quit.err).toStdString();

    // Quitting at once while a picture is half written leaves no temporary
    // file (name.jpg.xxxxxx) beside it.
    QByteArray trickling = Data();
    trickling.replace(R"(orignal/a1": {"size": 30000})", R"(orignal/a1": {"size": 30000, "hostile": "trickle"})");
    FakeService slow(trickling);
    ASSERT_TRUE(slow.IsRunning());
    QProcess half;
    Prepare(half, start.Path());
    half.start(QString::fromUtf8(TAMBLIN_CLI_PATH),
               {u"download"_s, kUser, u"--save"_s, start.Path() + u"half"_s, u"--threads"_s, u"1"_s});
    ASSERT_TRUE(half.waitForStarted(10000));
    const QRegularExpression temporary(u"\\.jpg\\.[0-9a-z]{6}$"_s);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (FilesIn(start.Path() + u"half"_s).filter(temporary).isEmpty() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_FALSE(FilesIn(start.Path() + u"half"_s).filter(temporary).isEmpty());
    ::kill(pid_t(half.processId()), SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::kill(pid_t(half.processId()), SIGINT);
    EXPECT_EQ(Finish(half).exitCode, 4);
    EXPECT_EQ(FilesIn(start.Path() + u"half"_s).filter(temporary), QStringList());
}

TEST(CliDownload, FailedPicturesExitWithThreeAndARetryFetchesExactlyThem)
{
    // Three pictures fail: an error page once, a busy service and a gateway
    // time-out at each of their three tries.
    const QString original = u"http://static.photo.sina.com.cn/orignal/"_s;
    FakeService service(Data(uR"j([{"match": "%1a2", "status": 404, "times": 1},
                                   {"match": "%1b1", "status": 503, "times": 3},
                                   {"match": "%1c1", "status": 504, "times": 3}])j"_s.arg(original)));
    ASSERT_TRUE(service.IsRunning());
    TempDir start;
    const QString save = start.Path() + u"out"_s;
    const CliResult first = RunCli({u"download"_s, kUser, u"--save"_s, save}, start.Path());
    EXPECT_EQ(first.exitCode, 3) << first.err.toStdString();
    EXPECT_TRUE(first.err.contains(u"3 pictures failed; they are listed in:"_s)) << first.err.toStdString();
    for (const QString &album : {u"甲"_s, u"乙"_s, u"丙"_s})
        EXPECT_TRUE(first.err.contains(save + u"/相册/"_s + album + u"/failed.txt"_s)) << album.toStdString();
    EXPECT_EQ(FilesIn(save), (QStringList{u"相册/丙/failed.txt"_s, u"相册/乙/failed.txt"_s, u"相册/甲/failed.txt"_s,
                                          u"相册/甲/pic.orv"_s, u"相册/甲/一.jpg"_s}));
    EXPECT_EQ(start.Read(u"out/相册/甲/failed.txt"_s),
              (original + u"a2\t二.jpg\tHTTP 404 from static.photo.sina.com.cn\n"_s).toUtf8());

    const qsizetype before = service.RequestedUrls().size();
    const CliResult retry = RunCli({u"download"_s, kUser, u"--retry-failed"_s}, start.Path());
    EXPECT_EQ(retry.exitCode, 0) << retry.err.toStdString();
    // The user page, the album list, then the three pictures: no album page.
    const QStringList asked = service.RequestedUrls().mid(before);
    EXPECT_EQ(asked.mid(2), (QStringList{original + u"a2"_s, original + u"b1"_s, original + u"c1"_s}))
        << asked.join(u' ').toStdString();
    EXPECT_EQ(FilesIn(save), (QStringList{u"相册/丙/四.jpg"_s, u"相册/乙/三.jpg"_s, u"相册/甲/pic.orv"_s,
                                          u"相册/甲/一.jpg"_s, u"相册/甲/二.jpg"_s}));
}

TEST(CliDownload, PostsThatCannotBeReadAreUnavailableAndARetryWithALoginFetchesThem)
{
    // A guest's wall: a picture, a Live Photo whose clip only its post
    // gives, and a post named by its id alone; both posts for followers.
    const QString pic = u"006FaNsOnxly1h00000000pic1"_s;
    const QString live = u"006FaNsOnxly1h0000000live1"_s;
    const QString a = u"006FaNsOnxly1h000000000pa1"_s;
    const QString b = u"006FaNsOnxly1h000000000pb2"_s;
    FakeService service(uR"j({"login_cookie": "SUB=login", "weibo_users": [{"uid": "6600000001", "nickname": "粉丝",
      "guest": true, "image_wall": {"pictures": ["%1",
        {"pid": "%2", "mid": "4900000000000041", "type": "livephoto", "wall_clip": false, "followers_only": true},
        {"mid": "4900000000000042", "pics": ["%3", "%4"], "followers_only": true}]}}]})j"_s
                            .arg(pic, live, a, b)
                            .toUtf8());
    ASSERT_TRUE(service.IsRunning());
    TempDir start;
    const QString user = u"https://weibo.com/u/6600000001"_s;
    const CliResult first = RunCli({u"download"_s, user, u"--json"_s, u"--save"_s, start.Path() + u"out"_s}, start.Path());
    // Unavailable, not failed: the run is whole.
    EXPECT_EQ(first.exitCode, 0) << first.err.toStdString();
    EXPECT_TRUE(first.err.contains(u"2 saved, 0 skipped by the size limits, 0 failed, 2 unavailable"_s))
        << first.err.toStdString();
    QStringList lost;
    QJsonObject summary;
    QJsonObject total;
    for (const QString &line : first.out.split(u'\n', Qt::SkipEmptyParts)) {
        const QJsonObject event = QJsonDocument::fromJson(line.toUtf8()).object();
        const QString kind = event.value(u"event"_s).toString();
        if (kind == u"unavailable"_s)
            lost.append(event.value(u"name"_s).toString() + u' ' + event.value(u"post"_s).toString());
        else if (kind == u"summary"_s)
            summary = event;
        else if (kind == u"total"_s)
            total = event;
    }
    EXPECT_EQ(lost, (QStringList{live + u".mov 4900000000000041"_s, u"4900000000000042 4900000000000042"_s}));
    EXPECT_EQ(summary.value(u"unavailable"_s).toInt(), 2);
    EXPECT_EQ(total.value(u"unavailable"_s).toInt(), 2);
    EXPECT_EQ(total.value(u"status"_s).toInt(), 0);
    const QString reason = u"微博返回错误：仅粉丝可见（20112）"_s;
    EXPECT_EQ(QString::fromUtf8(start.Read(u"out/粉丝/全部图片/failed.txt"_s)),
              u"https://weibo.com/ajax/statuses/show?id=4900000000000041&isGetLongText=true\t%1.mov\t%2\t4900000000000041\n"
              u"https://weibo.com/ajax/statuses/show?id=4900000000000042&isGetLongText=true\t4900000000000042\t%2\t"
              u"4900000000000042\n"_s.arg(live, reason));

    // A retry with a login that may read them reads the posts again.
    start.Write(u"cookies.txt"_s, ".weibo.com\tTRUE\t/\tTRUE\t2147483647\tSUB\tlogin\n");
    const qsizetype before = service.RequestedUrls().size();
    const CliResult retry =
        RunCli({u"download"_s, user, u"--retry-failed"_s, u"--cookies"_s, start.Path() + u"cookies.txt"_s}, start.Path());
    EXPECT_EQ(retry.exitCode, 0) << retry.err.toStdString();
    EXPECT_EQ(FilesIn(start.Path() + u"out/粉丝/全部图片"_s),
              (QStringList{a + u".jpg"_s, b + u".jpg"_s, pic + u".jpg"_s, live + u".jpg"_s, live + u".mov"_s, u"pic.orv"_s}));
    const QStringList asked = service.RequestedUrls().mid(before);
    EXPECT_EQ(asked.filter(u"statuses/show"_s).size(), 2) << asked.join(u' ').toStdString();
    EXPECT_TRUE(asked.filter(u"getImageWall?"_s).filter(u"sinceid=1"_s).isEmpty());
}

TEST(CliDownload, AClipIsRetriedByItsAddressWhileItHoldsElseByItsPostReadAgain)
{
    // Four Live Photos whose clips fail the first run: E's post signs its
    // clip to have expired already (the retry's answer signs it for an
    // hour), F's clip is refused once, H's and G's (the wall's stable
    // address) answer a 404 once.
    const QString e = u"006SiGnEdxly1h0000000000e1"_s;
    const QString f = u"006SiGnEdxly1h0000000000f2"_s;
    const QString g = u"006SiGnEdxly1h0000000000g3"_s;
    const QString h = u"006SiGnEdxly1h0000000000h4"_s;
    FakeService service(uR"j({"weibo_users": [{"uid": "6600000002", "nickname": "签名", "needs_login": false,
      "album_service": "empty", "image_wall": {"pictures": [
        {"pid": "%1", "mid": "4900000000000051", "type": "livephoto", "wall_clip": false, "clip_lifetime": [0, 3600]},
        {"pid": "%2", "mid": "4900000000000052", "type": "livephoto", "wall_clip": false},
        {"pid": "%4", "mid": "4900000000000054", "type": "livephoto", "wall_clip": false},
        {"pid": "%3", "mid": "4900000000000053", "type": "livephoto"}]}}],
      "faults": [{"match": "https://livephoto.us.sinaimg.cn/%2.mov", "status": 403, "times": 1},
                 {"match": "https://livephoto.us.sinaimg.cn/%4.mov", "status": 404, "times": 1},
                 {"match": "https://us.sinaimg.cn/%3.mov", "status": 404, "times": 1}]})j"_s
                            .arg(e, f, g, h)
                            .toUtf8());
    ASSERT_TRUE(service.IsRunning());
    TempDir start;
    const QString user = u"https://weibo.com/u/6600000002"_s;
    const QString album = start.Path() + u"out/签名/全部图片/"_s;
    // Stills are 2 KiB, clips 4 KiB: the size limits are for pictures.
    const CliResult first =
        RunCli({u"download"_s, user, u"--max-kb"_s, u"3"_s, u"--save"_s, start.Path() + u"out"_s}, start.Path());
    EXPECT_EQ(first.exitCode, 3) << first.err.toStdString();
    const QString failed = QString::fromUtf8(start.Read(u"out/签名/全部图片/failed.txt"_s));
    QStringList lines;
    for (const QString &line : failed.split(u'\n', Qt::SkipEmptyParts))
        lines.append(line.section(u'\t', 1));
    EXPECT_EQ(lines, (QStringList{e + u".mov\tHTTP 403 from livephoto.us.sinaimg.cn\t4900000000000051"_s,
                                  f + u".mov\tHTTP 403 from livephoto.us.sinaimg.cn\t4900000000000052"_s,
                                  h + u".mov\tHTTP 404 from livephoto.us.sinaimg.cn\t4900000000000054"_s,
                                  g + u".mov\tHTTP 404 from video.weibo.com\t4900000000000053"_s}));
    // E's address expired whatever ended its try (here a time-out).
    const QString expired = u".mov\tHTTP 403 from livephoto.us.sinaimg.cn\t4900000000000051"_s;
    start.Write(u"out/签名/全部图片/failed.txt"_s,
                QString(failed).replace(expired, u".mov\ttimed out\t4900000000000051"_s).toUtf8());

    // Expired or refused addresses are fetched afresh from their post, the
    // others as recorded; each clip with its post's time, whatever its size.
    const qsizetype before = service.RequestedUrls().size();
    const CliResult retry = RunCli({u"download"_s, user, u"--retry-failed"_s, u"--max-kb"_s, u"3"_s}, start.Path());
    EXPECT_EQ(retry.exitCode, 0) << retry.err.toStdString();
    EXPECT_EQ(FilesIn(album), (QStringList{e + u".jpg"_s, e + u".mov"_s, f + u".jpg"_s, f + u".mov"_s, g + u".jpg"_s,
                                           g + u".mov"_s, h + u".jpg"_s, h + u".mov"_s, u"pic.orv"_s}));
    const QStringList asked = service.RequestedUrls().mid(before).filter(u"statuses/show"_s);
    EXPECT_EQ(asked, (QStringList{u"https://weibo.com/ajax/statuses/show?id=4900000000000051&isGetLongText=true"_s,
                                  u"https://weibo.com/ajax/statuses/show?id=4900000000000052&isGetLongText=true"_s}));
    // The post's created_at, or the time its id says.
    for (const QString &clip : {e, f})
        EXPECT_EQ(QFileInfo(album + clip + u".mov"_s).lastModified().toSecsSinceEpoch(), 1614054527) << clip.toStdString();
    for (const QString &clip : {g, h})
        EXPECT_EQ(QFileInfo(album + clip + u".mov"_s).lastModified().toSecsSinceEpoch(), 1683734500) << clip.toStdString();
}

// Seconds between the requests of `url`.
QList<double> Gaps(const FakeService &service, const QString &url)
{
    QList<double> times;
    for (const QJsonValue &request : service.Requests()) {
        if (request[u"url"_s].toString() == url)
            times.append(request[u"time"_s].toDouble());
    }
    QList<double> gaps;
    for (qsizetype i = 1; i < times.size(); ++i)
        gaps.append(times[i] - times[i - 1]);
    return gaps;
}

TEST(CliDownload, PictureHostsThatRateLimitAreWaitedOutAndGivenUpOn)
{
    const QString original = u"http://static.photo.sina.com.cn/orignal/"_s;
    FakeService service(Data(uR"j([{"match": "%1a1", "status": 432, "times": 3},
                                   {"match": "%1b1", "status": 429, "times": 1, "headers": {"Retry-After": "2"}},
                                   {"match": "%1c1", "status": 432, "times": 1000}])j"_s.arg(original)));
    ASSERT_TRUE(service.IsRunning());
    TempDir start;
    const QString save = start.Path() + u"out"_s;

    // Three pauses of 5, 10 and 20 s (jittered), here a tenth of that.
    const CliResult a = RunCli({u"download"_s, kUser, u"--albums"_s, u"1"_s, u"--save"_s, save}, start.Path(), 0.1);
    EXPECT_EQ(a.exitCode, 0) << a.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(save + u"/相册/甲/一.jpg"_s));
    const QList<double> gaps = Gaps(service, original + u"a1"_s);
    ASSERT_EQ(gaps.size(), 3);
    EXPECT_GE(gaps[0], 0.35);
    EXPECT_GT(gaps[1], gaps[0]);
    EXPECT_GT(gaps[2], gaps[1]);
    EXPECT_TRUE(a.err.contains(u"请求过于频繁，"_s)) << a.err.toStdString();

    // Retry-After wins, unscaled here.
    const CliResult b = RunCli({u"download"_s, kUser, u"--albums"_s, u"2"_s, u"--save"_s, save}, start.Path(), 1.0);
    EXPECT_EQ(b.exitCode, 0) << b.err.toStdString();
    const QList<double> after = Gaps(service, original + u"b1"_s);
    ASSERT_EQ(after.size(), 1);
    EXPECT_GE(after[0], 1.9);
    EXPECT_LT(after[0], 3.5);

    // A host that never stops: the picture is listed for a later retry.
    const CliResult c = RunCli({u"download"_s, kUser, u"--albums"_s, u"3"_s, u"--save"_s, save}, start.Path(), 0.001);
    EXPECT_EQ(c.exitCode, 3) << c.err.toStdString();
    EXPECT_TRUE(start.Read(u"out/相册/丙/failed.txt"_s).startsWith((original + u"c1\t四.jpg\trate limited"_s).toUtf8()));
    EXPECT_TRUE(c.err.contains(u"--retry-failed later"_s));

    // Ctrl+C during a pause ends the run at once.
    QProcess cli;
    Prepare(cli, start.Path(), 1.0);
    cli.start(QString::fromUtf8(TAMBLIN_CLI_PATH), {u"download"_s, kUser, u"--albums"_s, u"3"_s, u"--save"_s, save});
    ASSERT_TRUE(cli.waitForStarted(10000));
    // Taken now: once the process has ended it reads 0, which kill() takes
    // for the whole process group.
    const pid_t pid = pid_t(cli.processId());
    ASSERT_GT(pid, 0);
    QString err;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!err.contains(u"秒后重试"_s) && std::chrono::steady_clock::now() < deadline) {
        cli.waitForReadyRead(100);
        err += QString::fromUtf8(cli.readAllStandardError());
    }
    ASSERT_TRUE(err.contains(u"秒后重试"_s)) << err.toStdString();
    const auto interrupted = std::chrono::steady_clock::now();
    ::kill(pid, SIGINT);
    const CliResult d = Finish(cli);
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, std::chrono::seconds(1));
    EXPECT_EQ(d.exitCode, 4) << (err + d.err).toStdString();
}

TEST(CliDownload, DiskTroubleLosesNoPictureWithoutAWord)
{
    FakeService service(Data());
    ASSERT_TRUE(service.IsRunning());

    // A file in the way of album 甲's folder: said once, its pictures count
    // as failed unfetched, and the next album goes on.
    {
        TempDir start;
        const QString save = start.Path() + u"out"_s;
        ASSERT_TRUE(QDir().mkpath(save + u"/相册"_s));
        start.Write(u"out/相册/甲"_s, "in the way");
        const qsizetype before = service.RequestedUrls().size();
        const CliResult result = RunCli({u"download"_s, kUser, u"--albums"_s, u"1-2"_s, u"--save"_s, save}, start.Path());
        EXPECT_EQ(result.exitCode, 3) << result.err.toStdString();
        EXPECT_EQ(result.err.count(u"无法创建相册文件夹："_s + save + u"/相册/甲/"_s), 1) << result.err.toStdString();
        EXPECT_FALSE(result.err.contains(u"listed in:"_s));
        EXPECT_TRUE(result.err.contains(u"1 saved, 0 skipped by the size limits, 2 failed"_s));
        EXPECT_FALSE(service.RequestedUrls().mid(before).contains(u"http://static.photo.sina.com.cn/orignal/a1"_s))
            << result.err.toStdString();
        EXPECT_TRUE(QFileInfo::exists(save + u"/相册/乙/三.jpg"_s));
    }

    // Only the lists are written, and one cannot be: said, naming it, and
    // the run is no success.
    {
        TempDir start;
        WriteSinaFlags(start, kListOnly);
        const QString save = start.Path() + u"out"_s;
        ASSERT_TRUE(QDir().mkpath(save + u"/相册/甲/甲.lst"_s));
        const CliResult result = RunCli({u"download"_s, kUser, u"--albums"_s, u"1-2"_s, u"--save"_s, save}, start.Path());
        EXPECT_EQ(result.exitCode, 3) << result.err.toStdString();
        EXPECT_TRUE(result.err.contains(u"无法写入列表文件："_s + save + u"/相册/甲/甲.lst"_s)) << result.err.toStdString();
        EXPECT_TRUE(result.err.contains(u"These list files could not be written"_s));
        EXPECT_TRUE(QFileInfo::exists(save + u"/相册/甲/甲.aria2.txt"_s));
        EXPECT_TRUE(QFileInfo::exists(save + u"/相册/乙/乙.lst"_s));
    }

    // A disk that fills up: pictures are whole or absent.
    TempDir start;
    const QString disk = start.Path() + u"disk"_s;
    ASSERT_TRUE(QDir().mkpath(disk));
    const QByteArray mountPoint = QFile::encodeName(disk);
    if (::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    const CliResult result = RunCli({u"download"_s, kUser, u"--save"_s, disk, u"--threads"_s, u"1"_s}, start.Path());
    QStringList pictures;
    for (const QString &file : FilesIn(disk)) {
        if (file.endsWith(u".jpg"_s))
            pictures.append(file);
    }
    const qint64 a1Size = QFileInfo(disk + u"/相册/甲/一.jpg"_s).size();
    const qint64 a2Size = QFileInfo(disk + u"/相册/甲/二.jpg"_s).size();
    const QByteArray failed = start.Read(u"disk/相册/甲/failed.txt"_s);
    ::umount(mountPoint.constData());
    EXPECT_EQ(result.exitCode, 3) << result.err.toStdString();
    // 30 000 and 60 000 bytes do not both fit in 64 KiB.
    EXPECT_EQ(a1Size, 30000);
    EXPECT_FALSE(pictures.contains(u"相册/甲/二.jpg"_s)) << a2Size;
    EXPECT_TRUE(failed.endsWith(u"a2\t二.jpg\t磁盘空间不足\n"_s.toUtf8())) << failed.toStdString();
}

} // namespace
} // namespace tamblin::test

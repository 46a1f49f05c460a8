#include "download/DownloadJobList.h"
#include "download/FileUtils.h"
#include "download/ListFiles.h"
#include "net/SafeFile.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <functional>

#include <sys/stat.h>

using namespace tamblin;
using namespace tamblin::test;
using namespace Qt::StringLiterals;

namespace {

TEST(ListFilesTest, ThunderListIsGbkWithCrLfAndFallbackLines)
{
    TempDir dir;
    dir.Write(u"a.lst"_s, QByteArray(100, 'x')); // replaced, not appended to
    const QStringList urls{u"http://p.example/1.jpg"_s,
                           u"http://p.example/图.jpg\r\nhttp://q.example/2.jpg"_s,
                           u"http://p.example/\U0001F600"_s};
    ASSERT_TRUE(WriteThunderList(dir.File(u"a.lst"_s), urls));
    EXPECT_EQ(dir.Read(u"a.lst"_s),
              QByteArray("http://p.example/1.jpg\r\n"
                         "http://p.example/\xCD\xBC.jpg\r\nhttp://q.example/2.jpg\r\n"
                         "http://p.example/?\r\n"));

    EXPECT_FALSE(WriteThunderList(dir.File(u"missing/a.lst"_s), urls));
    EXPECT_FALSE(QFileInfo::exists(dir.File(u"missing"_s)));

    // Signed addresses that expire come last, in job order, in both lists;
    // the aria2 list says first when the earliest of them expires, in local
    // time. An "Expires" that is no time is no signature.
    const QByteArray tz = qgetenv("TZ");
    qputenv("TZ", "CST-8");
    DownloadJobList jobs;
    jobs.urls = QStringList{u"https://v.example/a.mov?Expires=1700000600&ssig=x"_s, u"http://p.example/1.jpg"_s,
                            u"https://v.example/b.mp4?label=hd&expires=1700000000\r\nhttps://w.example/b.mp4"_s,
                            u"http://p.example/2.jpg?Expires=soon"_s};
    jobs.fileNames = QStringList{u"a.mov"_s, u"1.jpg"_s, u"b.mp4"_s, u"2.jpg"_s};
    ASSERT_TRUE(WriteThunderList(dir.File(u"b.lst"_s), jobs.urls));
    ASSERT_TRUE(WriteAria2List(dir.File(u"b.aria2.txt"_s), jobs));
    tz.isNull() ? qunsetenv("TZ") : qputenv("TZ", tz);
    EXPECT_EQ(dir.Read(u"b.lst"_s), QByteArray("http://p.example/1.jpg\r\nhttp://p.example/2.jpg?Expires=soon\r\n"
                                               "https://v.example/a.mov?Expires=1700000600&ssig=x\r\n"
                                               "https://v.example/b.mp4?label=hd&expires=1700000000\r\n"
                                               "https://w.example/b.mp4\r\n"));
    EXPECT_EQ(QString::fromUtf8(dir.Read(u"b.aria2.txt"_s)),
              u"http://p.example/1.jpg\n  out=1.jpg\n"
              u"http://p.example/2.jpg?Expires=soon\n  out=2.jpg\n"
              u"# 以下2个地址带有签名，2023-11-15 06:13:20 (UTC+08:00) 起失效：请在此之前下载，失效后请重新生成列表\n"
              u"https://v.example/a.mov?Expires=1700000600&ssig=x\n  out=a.mov\n"
              u"https://v.example/b.mp4?label=hd&expires=1700000000\thttps://w.example/b.mp4\n  out=b.mp4\n"_s);
}

TEST(ListFilesTest, TitleLinesAreUtf16WithOneByteOrderMark)
{
    TempDir dir;
    DownloadJobList jobs;
    jobs.folder = dir.Path();
    AppendTitleLine(jobs, u"A"_s);
    AppendTitleLine(jobs, u"\r"_s);
    EXPECT_EQ(TitleFilePath(jobs, u"相册"_s), dir.File(u"相册.txt"_s));
    ASSERT_TRUE(WriteTitleFile(jobs, u"相册"_s));
    EXPECT_EQ(dir.Read(u"相册.txt"_s), QByteArray("\xFF\xFE" "A\0\r\0\n\0\r\0\r\0\n\0", 14));

    // The next album's lines replace the file; a retry keeps no line and
    // leaves it.
    jobs.Clear();
    AppendTitleLine(jobs, u"B"_s);
    ASSERT_TRUE(WriteTitleFile(jobs, u"相册"_s));
    EXPECT_EQ(dir.Read(u"相册.txt"_s), QByteArray("\xFF\xFE" "B\0\r\0\n\0", 8));
    jobs.Clear();
    EXPECT_TRUE(WriteTitleFile(jobs, u"相册"_s));
    EXPECT_EQ(dir.Read(u"相册.txt"_s), QByteArray("\xFF\xFE" "B\0\r\0\n\0", 8));
}

TEST(ListFilesTest, RecordIsWrittenOnceAndReadToTheFirstLineFeed)
{
    TempDir dir;
    QString read = u"stale"_s;
    ReadLastFirstUrl(read, dir.Path());
    EXPECT_TRUE(read.isEmpty());

    WriteLastFirstUrl(u"http://p/图\r\nhttp://q/2"_s, dir.Path());
    EXPECT_EQ(dir.Read(u"pic.orv"_s),
              QByteArray("h\0t\0t\0p\0:\0/\0/\0p\0/\0\xFE\x56\r\0\n\0h\0t\0t\0p\0:\0/\0/\0q\0/\0" "2\0", 44));
    ReadLastFirstUrl(read, dir.Path());
    EXPECT_EQ(read, u"http://p/图\r"_s); // the CR stays: it never equals an address

    // An existing record is never replaced, and no temporary file is left.
    WriteLastFirstUrl(u"http://other"_s, dir.Path());
    ReadLastFirstUrl(read, dir.Path());
    EXPECT_EQ(read, u"http://p/图\r"_s);
    EXPECT_EQ(QDir(dir.Path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"pic.orv"_s});

    // An odd last byte is no code unit.
    TempDir odd;
    odd.Write(u"pic.orv"_s, QByteArray("a\0b", 3));
    ReadLastFirstUrl(read, odd.Path());
    EXPECT_EQ(read, u"a"_s);
}

TEST(ListFilesTest, ALinkAtTheNameIsReplacedNeverFollowedAndNoModeIsCopied)
{
    // Another user of a shared save folder plants links at the names.
    TempDir dir;
    dir.Write(u"victim"_s, "victim");
    const QString folder = dir.Path() + u"album"_s + QDir::separator();
    ASSERT_TRUE(QDir().mkpath(folder));
    DownloadJobList jobs;
    jobs.folder = folder;
    jobs.urls = QStringList{u"http://p/1.jpg"_s};
    jobs.fileNames = QStringList{u"1.jpg"_s};
    AppendTitleLine(jobs, u"一"_s);
    struct Row {
        QString name;
        std::function<bool()> write;
    };
    const QList<Row> rows{
        {u"a.txt"_s, [&] { return WriteTitleFile(jobs, u"a"_s); }},
        {u"a.lst"_s, [&] { return WriteThunderList(folder + u"a.lst"_s, jobs.urls); }},
        {u"a.aria2.txt"_s, [&] { return WriteAria2List(folder + u"a.aria2.txt"_s, jobs); }},
        {u"failed.txt"_s, [&] { return WriteFailedList(folder, {{u"http://p/1.jpg"_s, u"1.jpg"_s, u"x"_s}}); }},
        {u"sinawb.tmp"_s, [&] { WriteUnicodeTextFile(folder + u"sinawb.tmp"_s, "x"); return true; }},
    };
    for (const Row &row : rows) {
        ASSERT_TRUE(QFile::link(dir.File(u"victim"_s), folder + row.name));
        EXPECT_TRUE(row.write()) << row.name.toStdString();
        const QFileInfo written(folder + row.name);
        EXPECT_FALSE(written.isSymLink()) << row.name.toStdString();
        EXPECT_GT(written.size(), 0) << row.name.toStdString();
    }
    // pic.orv is never replaced, not even a link: it stays, unfollowed.
    ASSERT_TRUE(QFile::link(dir.File(u"victim"_s), folder + u"pic.orv"_s));
    WriteLastFirstUrl(u"http://p/1.jpg"_s, folder);
    EXPECT_TRUE(QFileInfo(folder + u"pic.orv"_s).isSymLink());
    EXPECT_EQ(dir.Read(u"victim"_s), QByteArray("victim"));
    EXPECT_EQ(QFileInfo(dir.File(u"victim"_s)).size(), 6);

    // A file replacing a setuid one gets the umask's mode, not the old one.
    dir.Write(u"album/1.jpg"_s, "old");
    ASSERT_EQ(::chmod(QFile::encodeName(folder + u"1.jpg"_s).constData(), 04755), 0);
    const mode_t old = ::umask(027);
    SafeFile picture(folder + u"1.jpg"_s);
    const bool written = picture.Open() && picture.Write("new", 3) && picture.Commit();
    ::umask(old);
    ASSERT_TRUE(written);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(folder + u"1.jpg"_s).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(dir.Read(u"album/1.jpg"_s), QByteArray("new"));
    // Nothing temporary is left beside them.
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::System | QDir::Hidden).size(), rows.size() + 2);
}

TEST(ListFilesTest, FailedListRoundTripsAndKeepsNamesInTheFolder)
{
    TempDir dir;
    const QString folder = dir.Path();
    const QList<FailedPicture> pictures{
        {u"http://p/1.jpg"_s, u"一.jpg"_s, u"HTTP 404 from p"_s},
        {u"http://p/2\t.jpg"_s, folder + u"sub/2.jpg"_s, u"could not reach p:\nrefused"_s},
        {u"https://weibo.com/ajax/statuses/show?id=49"_s, u"p3.mov"_s, u"仅粉丝可见"_s, u"49"_s},
    };
    ASSERT_TRUE(WriteFailedList(folder, pictures));
    EXPECT_EQ(dir.Read(u"failed.txt"_s), QByteArray("http://p/1.jpg\t\xE4\xB8\x80.jpg\tHTTP 404 from p\n"
                                                   "http://p/2 .jpg\tsub/2.jpg\tcould not reach p: refused\n"
                                                   "https://weibo.com/ajax/statuses/show?id=49\tp3.mov\t"
                                                   "\xE4\xBB\x85\xE7\xB2\x89\xE4\xB8\x9D\xE5\x8F\xAF\xE8\xA7\x81\t49\n"));
    EXPECT_EQ(ReadFailedList(folder),
              (QList<FailedPicture>{pictures[0], {u"http://p/2 .jpg"_s, u"sub/2.jpg"_s, u"could not reach p: refused"_s},
                                    pictures[2]}));

    // Lines whose name would leave the folder, or of fewer than three
    // fields, are not taken; CR LF line ends are; a fourth field is a post
    // id or nothing, and fields after it are no matter.
    dir.Write(u"failed.txt"_s, "http://p/a\t../a.jpg\tx\n"
                               "http://p/b\t/etc/b.jpg\tx\n"
                               "http://p/c\tsub//c.jpg\tx\n"
                               "http://p/d\td.jpg\n"
                               "\tnourl.jpg\tx\n"
                               "http://p/e\te.jpg\tok\r\n"
                               "http://p/f\tf.mov\tgone\t4900\tlater\n"
                               "http://p/g\tg.mov\tgone\t../4900\n");
    EXPECT_EQ(ReadFailedList(folder),
              (QList<FailedPicture>{{u"http://p/e"_s, u"e.jpg"_s, u"ok"_s},
                                    {u"http://p/f"_s, u"f.mov"_s, u"gone"_s, u"4900"_s},
                                    {u"http://p/g"_s, u"g.mov"_s, u"gone"_s}}));

    ASSERT_TRUE(WriteFailedList(folder, {}));
    EXPECT_FALSE(QFileInfo::exists(dir.File(u"failed.txt"_s)));
    EXPECT_TRUE(WriteFailedList(folder, {}));
}

} // namespace

#include "download/DownloadJobList.h"
#include "download/ListFiles.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

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
}

TEST(ListFilesTest, TitleLinesAreUtf16WithOneByteOrderMark)
{
    TempDir dir;
    DownloadJobList jobs;
    jobs.folder = dir.Path();
    jobs.urls = QStringList{u"u1"_s};
    AppendTitleLine(jobs, u"相册"_s, u"A"_s);
    jobs.urls.append(u"u2"_s);
    AppendTitleLine(jobs, u"相册"_s, u"\r"_s);
    EXPECT_EQ(TitleFilePath(jobs, u"相册"_s), dir.File(u"相册.txt"_s));
    EXPECT_EQ(dir.Read(u"相册.txt"_s), QByteArray("\xFF\xFE" "A\0\r\0\n\0\r\0\r\0\n\0", 14));

    // The next album's first line starts the file again.
    jobs.urls = QStringList{u"u3"_s};
    AppendTitleLine(jobs, u"相册"_s, u"B"_s);
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

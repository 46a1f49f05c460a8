#include "app/WindowPort.h"
#include "download/DownloadJobList.h"
#include "download/FileUtils.h"

#include "RecordingWindow.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <random>

using namespace tamblin;
using namespace tamblin::test;
using namespace Qt::StringLiterals;

namespace {

QString Sanitized(QString name, int number = 0, bool fallback = false)
{
    SanitizeName(name, number, fallback);
    return name;
}

bool IsTimeStamp(const QString &text)
{
    if (text.size() != 14)
        return false;
    for (QChar c : text) {
        if (!c.isDigit())
            return false;
    }
    return true;
}

QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray bytes;
    for (int v : values)
        bytes.append(char(v));
    return bytes;
}

qint64 ModifiedSecs(const QString &path)
{
    return QFileInfo(path).lastModified().toSecsSinceEpoch();
}

} // namespace

TEST(SanitizeName, CleansTheDocumentedCases)
{
    EXPECT_EQ(Sanitized(u"  a:b*c?.jpg  "_s), u"abc.jpg"_s);
    EXPECT_EQ(Sanitized(u"..."_s), u"。。。"_s);
    EXPECT_EQ(Sanitized(u".hidden."_s), u"hidden"_s);
    EXPECT_EQ(Sanitized(u"two\twords"_s), u"two_words"_s);
    EXPECT_EQ(Sanitized(u"a     b"_s), u"a b"_s);
    EXPECT_EQ(Sanitized(u"x\\y/z<>|\"w\r\n"_s), u"xyzw"_s);
    // Entities were decoded with the page the name comes from: a second
    // decoding would lose the name's own "&amp;".
    EXPECT_EQ(Sanitized(u"Tom &amp; Jerry&#39;s"_s), u"Tom &amp; Jerry&#39;s"_s);
    // Blanks around removed characters collapse only before the removal.
    EXPECT_EQ(Sanitized(u" . name . "_s), u"name"_s);
    EXPECT_EQ(Sanitized(u"相册 2014"_s), u"相册 2014"_s);
}

TEST(SanitizeName, NeverLeavesControlCharactersOrDotNames)
{
    EXPECT_EQ(Sanitized(QString::fromUtf16(u"a\u0000b\u0007c\u001fd", 7)), u"abcd"_s);
    // Removing characters must not expose a name that means this folder or
    // its parent.
    EXPECT_EQ(Sanitized(u"* .. *"_s), u"。。"_s);
    EXPECT_EQ(Sanitized(u"\a . \a"_s), u"。"_s);
    EXPECT_EQ(Sanitized(u"../../etc"_s), u"etc"_s);
    EXPECT_EQ(Sanitized(u"/"_s), QString());

    // Whatever the input, the result is one harmless name.
    std::mt19937 random(7);
    const QString alphabet = u"ab. /\\:*?\"<>|\t\r\n\a&amp;相"_s + QChar(0) + QChar(0x1F);
    for (int round = 0; round < 2000; ++round) {
        QString name;
        const int length = int(random() % 12);
        for (int i = 0; i < length; ++i)
            name += alphabet[qsizetype(random() % alphabet.size())];
        const QString input = name;
        SanitizeName(name, 3, round % 2 == 0);
        EXPECT_NE(name, u"."_s) << input.toStdString();
        EXPECT_NE(name, u".."_s) << input.toStdString();
        for (QChar c : name) {
            EXPECT_TRUE(c.unicode() >= 0x20 && !u"\\/:*?\"<>|"_s.contains(c))
                << input.toStdString() << " -> " << name.toStdString();
        }
        EXPECT_EQ(name, name.trimmed());
        if (round % 2 == 0) {
            EXPECT_FALSE(name.isEmpty()) << input.toStdString();
        }
    }
}

TEST(SanitizeName, FallbackReplacesEmptyAndOverlongNames)
{
    EXPECT_EQ(Sanitized(u"***"_s, 7, true), u"pic7"_s);
    EXPECT_EQ(Sanitized(u"***"_s, 7, false), QString());
    const QString stamp = Sanitized(u"?"_s, kTimeStampFallback, true);
    EXPECT_TRUE(IsTimeStamp(stamp)) << stamp.toStdString();

    const QString longName(999, u'x');
    EXPECT_EQ(Sanitized(longName, 1, true), longName);
    EXPECT_EQ(Sanitized(QString(1000, u'x'), 1, true), u"pic1"_s);
    EXPECT_EQ(Sanitized(QString(1000, u'x'), 1, false), QString(1000, u'x'));
}

TEST(FitName, CutsBeforeTheExtensionAndTheNumberAndGuardsWhatWindowsRefuses)
{
    const QString han = QString(100, QChar(0x957F)); // 300 bytes of UTF-8
    const QString emoji = QString::fromUtf16(u"\U0001F600").repeated(70); // 280 bytes
    struct Row {
        QString stem, keep, ext, expected;
    };
    const QList<Row> rows{
        {u"title"_s, {}, u".jpg"_s, u"title.jpg"_s},
        // Cut at a character, before the number and the extension: the
        // duplicates of a long title stay apart.
        {han, {}, u".jpg"_s, han.left(83) + u".jpg"_s},
        {han, u"(1)"_s, u".jpg"_s, han.left(82) + u"(1).jpg"_s},
        {han, u"(2)"_s, u".jpg"_s, han.left(82) + u"(2).jpg"_s},
        {emoji, {}, u".png"_s, emoji.left(2 * 62) + u".png"_s},
        {u"a/b/"_s + han, {}, {}, u"a/b/"_s + han.left(85)},
        // Device names in any case, with or without an extension, and a
        // trailing dot or blank: a "_" before the extension or at the end.
        {u"CON"_s, {}, u".jpg"_s, u"CON_.jpg"_s},
        {u"nul"_s, {}, {}, u"nul_"_s},
        {u"Lpt9.tar"_s, {}, u".gz"_s, u"Lpt9_.tar.gz"_s},
        {u"com1"_s, u"(1)"_s, u".jpg"_s, u"com1(1).jpg"_s},
        {u"COM0"_s, {}, u".jpg"_s, u"COM0.jpg"_s},
        {u"CONSOLE"_s, {}, {}, u"CONSOLE"_s},
        {u"aux "_s, {}, u".txt"_s, u"aux _.txt"_s},
        {u"a."_s, {}, {}, u"a._"_s},
        {u"a "_s, {}, {}, u"a _"_s},
        // A cut that ends in a blank, with no room for the "_": one
        // character less.
        {QString(254, u'x') + u" yy"_s, {}, {}, QString(254, u'x')},
    };
    for (const Row &row : rows) {
        const QString name = FitName(row.stem, row.keep, row.ext);
        EXPECT_EQ(name, row.expected) << row.stem.toStdString();
        EXPECT_LE(Utf8Length(QStringView(name).sliced(name.lastIndexOf(u'/') + 1)), kMaxComponentBytes);
        EXPECT_TRUE(name.isValidUtf16());
    }
    // The extension of a name fitted whole is kept whole.
    EXPECT_EQ(FitFileName(han + u".txt"_s), han.left(83) + u".txt"_s);
}

TEST(MakeTimeStampName, LocalTimeAsFourteenDigits)
{
    const std::int64_t t = 1401436800 + 3 * 3600 + 4 * 60 + 5; // a day in 2014, no DST edge
    const QString stamp = MakeTimeStampName(t);
    ASSERT_TRUE(IsTimeStamp(stamp)) << stamp.toStdString();
    const QDateTime back = QDateTime::fromString(stamp, u"yyyyMMddhhmmss"_s);
    EXPECT_EQ(back.toSecsSinceEpoch(), t);
    EXPECT_TRUE(stamp.startsWith(u"2014"_s));

    EXPECT_EQ(MakeTimeStampName(std::int64_t(1) << 60), QString());
}

TEST(CreateDirectoryPath, CreatesEachLevelAndEndsInSeparator)
{
    TempDir dir;
    RecordingWindow window;
    const QChar sep = QDir::separator();
    QString path = u"  "_s + dir.Path() + u"a"_s + sep + u"b  "_s;
    EXPECT_TRUE(CreateDirectoryPath(path, &window));
    EXPECT_EQ(path, dir.Path() + u"a"_s + sep + u"b"_s + sep);
    EXPECT_TRUE(QFileInfo(dir.File(u"a"_s)).isDir());
    EXPECT_TRUE(QFileInfo(dir.File(u"a/b"_s)).isDir());

    // Existing folders are no error; the path keeps its one separator.
    EXPECT_TRUE(CreateDirectoryPath(path, &window));
    EXPECT_EQ(path, dir.Path() + u"a"_s + sep + u"b"_s + sep);
    EXPECT_TRUE(window.Messages().isEmpty());

    QString empty;
    EXPECT_TRUE(CreateDirectoryPath(empty, &window));
    EXPECT_EQ(empty, QString());
}

TEST(CreateDirectoryPath, ReportsTheFirstFolderThatCannotBeMade)
{
    TempDir dir;
    RecordingWindow window;
    dir.Write(u"file"_s, "not a folder");

    QString below = dir.File(u"file/sub/deeper"_s);
    EXPECT_FALSE(CreateDirectoryPath(below, &window));
    EXPECT_EQ(window.Messages(), QStringList{dir.File(u"file"_s)});

    // A file standing where the last folder should be is a failure too.
    QString last = dir.File(u"file"_s);
    EXPECT_FALSE(CreateDirectoryPath(last, &window));
    EXPECT_EQ(window.Messages().size(), 2);

    // Folders made before the failure stay: a name over the file system's
    // limit cannot be created, whoever runs the test.
    const QString tooLong(300, u'n');
    QString deeper = dir.File(u"made/"_s + tooLong + u"/more"_s);
    EXPECT_FALSE(CreateDirectoryPath(deeper, &window));
    EXPECT_TRUE(QFileInfo(dir.File(u"made"_s)).isDir());
    EXPECT_EQ(window.Messages().last(), dir.File(u"made/"_s + tooLong));
}

TEST(HasImageExtension, KnownExtensionsInAnyCase)
{
    EXPECT_TRUE(HasImageExtension(u"a.JPG"));
    EXPECT_TRUE(HasImageExtension(u"a.tif"));
    EXPECT_TRUE(HasImageExtension(u"x.y.Jpeg"));
    EXPECT_TRUE(HasImageExtension(u".png"));
    EXPECT_FALSE(HasImageExtension(u"a.tiff"));
    EXPECT_FALSE(HasImageExtension(u"a.webp"));
    EXPECT_FALSE(HasImageExtension(u"jpg"));
    EXPECT_FALSE(HasImageExtension(u"a.jpg.txt"));
    EXPECT_FALSE(HasImageExtension(u""));
}

TEST(FixImageFormat, ExtensionFollowsTheFirstBytes)
{
    TempDir dir;
    const struct {
        QByteArray head;
        QString ext;
        bool clip = false; // named ".mp4" until its bytes say
    } cases[] = {
        {Bytes({0xFF, 0xD8, 0xFF}), u".jpg"_s},
        {Bytes({0x89, 0x50, 0x4E, 0x47}), u".png"_s},
        {QByteArray("GIF89a"), u".gif"_s},
        {QByteArray("BM\x10\0", 4), u".bmp"_s},
        {Bytes({0, 0, 2, 0, 0, 0, 0}), u".tga"_s},
        {Bytes({0, 0, 0x10, 0, 0, 0, 0}), u".tga"_s},
        {Bytes({0, 0, 1, 0, 1, 0}), u".ico"_s},
        {Bytes({0, 0, 2, 0, 1, 0}), u".cur"_s},
        {QByteArray("MM\0*", 4), u".tiff"_s},
        {QByteArray("II*\0", 4), u".tiff"_s},
        {QByteArray("RIFF\0\0\0\0WEBP", 12), u".webp"_s},
        {QByteArray("RIFF\0\0\0\0WAVE", 12), u".jpg"_s}, // nothing matches: keeps ".jpg"
        {Bytes({0xFF}), u".jpg"_s},                      // too short for any rule
        {Bytes({0, 0, 2, 0}), u".tga"_s},                // missing bytes count as 0
        // ISO media: a clip's brand decides; a picture's name stays.
        {QByteArray("\0\0\0\x14" "ftypqt  ", 12), u".mov"_s, true},
        {QByteArray("\0\0\0\x18" "ftypisom", 12), u".mp4"_s, true},
        {QByteArray("\0\0\0\x18" "ftypmp42", 12), u".mp4"_s, true},
        {QByteArray("\0\0\0\x14" "ftypqt  ", 12), u".jpg"_s},
        {Bytes({0xFF, 0xD8, 0xFF}), u".mp4"_s, true},
        {QByteArray("\0\0\0\x14" "moovqt  ", 12), u".mp4"_s, true},
    };
    int n = 0;
    for (const auto &c : cases) {
        const QString name = u"p%1%2"_s.arg(n++).arg(c.clip ? u".mp4"_s : u".jpg"_s);
        dir.Write(name, c.head);
        QString path = dir.File(name);
        EXPECT_TRUE(FixImageFormat(path, c.clip)) << name.toStdString();
        const QString expected = dir.File(name.chopped(4) + c.ext);
        EXPECT_EQ(path, expected);
        EXPECT_TRUE(QFileInfo::exists(expected));
        if (!name.endsWith(c.ext)) {
            EXPECT_FALSE(QFileInfo::exists(dir.File(name)));
        }
        EXPECT_EQ(dir.Read(QFileInfo(expected).fileName()), c.head);
    }
}

TEST(FixImageFormat, MissingFilesAndExistingTargets)
{
    TempDir dir;
    QString missing = dir.File(u"gone.jpg"_s);
    EXPECT_FALSE(FixImageFormat(missing));
    EXPECT_EQ(missing, dir.File(u"gone.jpg"_s));

    // A picture already bearing the new name is never replaced.
    dir.Write(u"a.jpg"_s, Bytes({0x89, 0x50, 0x4E, 0x47}));
    dir.Write(u"a.png"_s, "the other picture");
    QString path = dir.File(u"a.jpg"_s);
    EXPECT_FALSE(FixImageFormat(path));
    EXPECT_EQ(path, dir.File(u"a.png"_s));
    EXPECT_EQ(dir.Read(u"a.png"_s), QByteArray("the other picture"));
    EXPECT_EQ(dir.Read(u"a.jpg"_s), Bytes({0x89, 0x50, 0x4E, 0x47}));

    // A dot in a folder name is no extension.
    ASSERT_TRUE(QDir().mkdir(dir.File(u"album.v2"_s)));
    dir.Write(u"album.v2/pic"_s, Bytes({0xFF, 0xD8}));
    QString plain = dir.File(u"album.v2/pic"_s);
    EXPECT_TRUE(FixImageFormat(plain));
    EXPECT_EQ(plain, dir.File(u"album.v2/pic.jpg"_s));
    EXPECT_TRUE(QFileInfo::exists(plain));
}

TEST(FixPictureFormats, RenamesDownloadedJobsAndFollowsTheirNames)
{
    TempDir dir;
    TempDir other;
    dir.Write(u"1.jpg"_s, Bytes({0x89, 0x50, 0x4E, 0x47}));
    dir.Write(u"3.gif"_s, Bytes({0xFF, 0xD8, 0xFF}));
    other.Write(u"full.jpg"_s, QByteArray("GIF87a"));

    // Clips: one named by its address keeps that name, one whose address
    // said nothing follows its bytes.
    dir.Write(u"4.mov"_s, QByteArray("\0\0\0\x18" "ftypisom", 12));
    dir.Write(u"5.mp4"_s, QByteArray("\0\0\0\x14" "ftypqt  ", 12));

    DownloadJobList jobs;
    jobs.folder = dir.Path();
    jobs.fileNames = {u"1.jpg"_s, u"2.jpg"_s, u"3.gif"_s, other.File(u"full.jpg"_s), u"4.mov"_s, u"5.mp4"_s};
    jobs.extras.resize(4);
    jobs.extras.append({u".mov"_s, 0, false});
    jobs.extras.append({u".mp4"_s, 0, true});
    FixPictureFormats(jobs);
    EXPECT_EQ(jobs.fileNames,
              (QStringList{u"1.png"_s, u"2.jpg"_s, u"3.jpg"_s, other.File(u"full.gif"_s), u"4.mov"_s, u"5.mov"_s}));
    EXPECT_TRUE(QFileInfo::exists(dir.File(u"1.png"_s)));
    EXPECT_TRUE(QFileInfo::exists(dir.File(u"3.jpg"_s)));
    EXPECT_FALSE(QFileInfo::exists(dir.File(u"2.jpg"_s)));
    EXPECT_TRUE(QFileInfo::exists(other.File(u"full.gif"_s)));
}

TEST(FixPictureOrder, FilesOneMinuteApartInAlbumOrder)
{
    TempDir dir;
    DownloadJobList jobs;
    jobs.folder = dir.Path();
    jobs.fileNames = {u"a.jpg"_s, u"missing.jpg"_s, u"b.jpg"_s, u"c.jpg"_s};
    for (const QString &name : {u"a.jpg"_s, u"b.jpg"_s, u"c.jpg"_s})
        dir.Write(name, "x");

    const qint64 before = QDateTime::currentSecsSinceEpoch();
    FixPictureOrder(jobs);
    const qint64 after = QDateTime::currentSecsSinceEpoch();

    const qint64 t = ModifiedSecs(dir.File(u"a.jpg"_s));
    EXPECT_GE(t, before);
    EXPECT_LE(t, after);
    // Times follow the job index, so the missing job leaves a gap.
    EXPECT_EQ(ModifiedSecs(dir.File(u"b.jpg"_s)), t - 120);
    EXPECT_EQ(ModifiedSecs(dir.File(u"c.jpg"_s)), t - 180);
    EXPECT_EQ(QFileInfo(dir.File(u"c.jpg"_s)).lastRead().toSecsSinceEpoch(), t - 180);
    EXPECT_FALSE(QFileInfo::exists(dir.File(u"missing.jpg"_s)));
}

TEST(SetFileTimes, OnlyExistingFilesAndPositiveTimes)
{
    TempDir dir;
    dir.Write(u"f"_s, "x");
    const QString path = dir.File(u"f"_s);
    SetFileTimes(path, 1000000000);
    EXPECT_EQ(ModifiedSecs(path), 1000000000);
    EXPECT_EQ(QFileInfo(path).lastRead().toSecsSinceEpoch(), 1000000000);
    SetFileTimes(path, 0);
    EXPECT_EQ(ModifiedSecs(path), 1000000000);
    EXPECT_EQ(dir.Read(u"f"_s), QByteArray("x"));

    SetFileTimes(dir.File(u"nothing"_s), 1000000000);
    EXPECT_FALSE(QFileInfo::exists(dir.File(u"nothing"_s)));
}

TEST(WriteUnicodeTextFile, ByteOrderMarkThenTheBytes)
{
    TempDir dir;
    dir.Write(u"t.tmp"_s, QByteArray(100, 'z'));
    const QByteArray text("a\0b\0", 4);
    WriteUnicodeTextFile(dir.File(u"t.tmp"_s), text);
    EXPECT_EQ(dir.Read(u"t.tmp"_s), QByteArray("\xFF\xFE" "a\0b\0", 6));

    WriteUnicodeTextFile(dir.File(u"no/such/folder.txt"_s), text);
    EXPECT_FALSE(QFileInfo::exists(dir.File(u"no"_s)));
}

TEST(DownloadJobList, FilePathPlacesPlainNamesInTheFolder)
{
    DownloadJobList jobs;
    jobs.folder = QDir::toNativeSeparators(u"/save/album/"_s);
    jobs.fileNames = {u"1.jpg"_s, QDir::rootPath() + u"elsewhere/2.jpg"_s};
    EXPECT_EQ(jobs.FilePath(0), jobs.folder + u"1.jpg"_s);
    EXPECT_EQ(jobs.FilePath(1), jobs.fileNames[1]);
}

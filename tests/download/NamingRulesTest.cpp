#include "app/TamblinCore.h"
#include "download/DateRange.h"
#include "download/DownloadJobList.h"
#include "download/FileUtils.h"
#include "download/ListFiles.h"
#include "download/NamingRules.h"
#include "download/WorkerPool.h"
#include "net/SafeFile.h"

#include "RecordingWindow.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <random>

using namespace tamblin;
using namespace tamblin::test;
using namespace Qt::StringLiterals;

namespace {

constexpr int kSina = 4;

class NamingRulesTest : public ::testing::Test {
protected:
    NamingRulesTest() : core(&window)
    {
        core.m_listType = kSina;
        g_jobs.Clear();
        g_jobs.folder = save.Path();
    }
    ~NamingRulesTest() override { g_jobs.Clear(); }

    SiteRules &Rules() { return core.m_settings.siteRules[kSina]; }

    int AddAlbum(const QString &name, int value1 = 0, int value2 = 0)
    {
        ST_PERLISTRECORD album;
        album.name = name;
        album.value1 = value1;
        album.value2 = value2;
        return core.m_albums.AddAlbum(album) - 1;
    }

    // Starts an album as the driver does.
    void NextAlbum()
    {
        g_jobs.Clear();
        g_jobs.folder = save.Path();
    }

    void Add(const QString &address, const QString &description = {}, int album = 0)
    {
        AddPictureJob(core, address, description, QString(), album);
    }

    TempDir save;
    RecordingWindow window;
    TamblinCore core;
};

// The naming steps as literally described, with a scan of the list per
// candidate: the reference the indexed uniqueness must agree with.
QString LiteralName(const QStringList &names, QString name, qsizetype folderLength)
{
    const QString base = name;
    const qsizetype limit = 250 - folderLength;
    if (name.size() > limit)
        name.truncate(qMax<qsizetype>(limit, 0));
    QString ext = u".jpg"_s;
    if (HasImageExtension(name)) {
        const qsizetype dot = name.lastIndexOf(u'.');
        ext = name.mid(dot);
        name.truncate(dot);
    }
    auto find = [&names](const QString &candidate) {
        for (qsizetype i = 0; i < names.size(); ++i) {
            if (names[i].size() == candidate.size()
                && QString::compare(names[i], candidate, Qt::CaseInsensitive) == 0)
                return i;
        }
        return qsizetype(-1);
    };
    if (!names.isEmpty()) {
        unsigned n = 0;
        while (find(name + ext) >= 0)
            name = u"%1(%2)"_s.arg(base).arg(++n);
    }
    return name + ext;
}

TEST_F(NamingRulesTest, SequenceNamesFolderAndStatus)
{
    AddAlbum(u"春天"_s);
    Rules().fileNameMode = 1;
    for (int i = 0; i < 3; ++i)
        Add(u"http://p.example/%1.png"_s.arg(i), u"title"_s);

    EXPECT_EQ(g_jobs.fileNames, (QStringList{u"1.jpg"_s, u"2.jpg"_s, u"3.jpg"_s}));
    EXPECT_EQ(g_jobs.folder, save.Path() + u"春天"_s + QDir::separator());
    EXPECT_TRUE(QFileInfo(g_jobs.folder).isDir());
    EXPECT_EQ(g_jobs.headers, (QStringList{QString(), QString(), QString()}));
    EXPECT_EQ(window.Texts(1006),
              (QStringList{u"已获取到1张图片信息"_s, u"已获取到2张图片信息"_s, u"已获取到3张图片信息"_s}));
    EXPECT_EQ(g_jobs.FilePath(2), g_jobs.folder + u"3.jpg"_s);
    EXPECT_EQ(core.m_downState, 0);
}

TEST_F(NamingRulesTest, DescriptionNamesAreMadeUniqueFromTheirBase)
{
    AddAlbum(u"Album"_s);
    Rules().fileNameMode = 0;
    Add(u"http://p/1"_s, u"<>*"_s);     // cleans to nothing: the album's name
    Add(u"http://p/2"_s, u""_s);
    Add(u"http://p/3"_s, u"  "_s);
    Add(u"http://p/4"_s, u"a.png"_s);
    Add(u"http://p/5"_s, u"A.PNG"_s);   // same name in another case
    Add(u"http://p/6"_s, u"a.png"_s);
    Add(u"http://p/7"_s, u"photo &amp; co"_s); // decoded with its page already
    Add(u"http://p/8"_s, u"x.gif.txt"_s);

    EXPECT_EQ(g_jobs.fileNames,
              (QStringList{u"Album.jpg"_s, u"Album(1).jpg"_s, u"Album(2).jpg"_s, u"a.png"_s,
                           u"A.PNG(1).PNG"_s, u"a.png(2).png"_s, u"photo &amp; co.jpg"_s,
                           u"x.gif.txt.jpg"_s}));
    EXPECT_EQ(FindFileName(g_jobs, u"ALBUM(1).JPG"_s), 1);
    EXPECT_EQ(FindFileName(g_jobs, u"a.png"_s), 3);
    EXPECT_EQ(FindFileName(g_jobs, u"Album(3).jpg"_s), -1);
}

TEST_F(NamingRulesTest, ClipsKeepTheirOwnExtensionBesideTheirStillAndEscapeTheSizeLimits)
{
    AddAlbum(u"Wall"_s);
    Rules().fileNameMode = 0;
    PictureExtras mov;
    mov.clipExtension = u".mov"_s;
    PictureExtras mp4;
    mp4.clipExtension = u".mp4"_s;
    mp4.postTime = 1614054527;
    Add(u"http://p/a.jpg"_s, u"abc.jpg"_s);
    AddPictureJob(core, u"http://v/abc.mov"_s, u"abc.mov"_s, QString(), 0, mov);
    AddPictureJob(core, u"http://v/m.mp4"_s, u"4999"_s, QString(), 0, mp4);
    // Numbered as pictures are, from the name before its extension was split.
    AddPictureJob(core, u"http://v/again.mov"_s, u"abc.mov"_s, QString(), 0, mov);

    EXPECT_EQ(g_jobs.fileNames, (QStringList{u"abc.jpg"_s, u"abc.mov"_s, u"4999.mp4"_s, u"abc.mov(1).mov"_s}));
    // Named from the address, a clip leaves its signature out.
    Rules().fileNameMode = 2;
    AddPictureJob(core, u"https://livephoto.us.sinaimg.cn/xyz.mov?Expires=1&ssig=a%2Fb&KID=unistore,video"_s,
                  u"xyz.mov"_s, QString(), 0, mov);
    EXPECT_EQ(g_jobs.fileNames.last(), u"xyz.mov"_s);
    g_minKb = 50;
    g_maxKb = 60;
    const PictureJob still = MakePictureJob(g_jobs, 0);
    const PictureJob clip = MakePictureJob(g_jobs, 2);
    g_minKb = 0;
    g_maxKb = 0;
    EXPECT_EQ(still.minKb, 50u);
    EXPECT_EQ(still.maxKb, 60u);
    EXPECT_EQ(clip.minKb, 0u);
    EXPECT_EQ(clip.maxKb, 0u);
    EXPECT_EQ(clip.postTime, 1614054527);
    EXPECT_EQ(still.postTime, 0);
}

TEST_F(NamingRulesTest, AddressNames)
{
    AddAlbum(u"A"_s);
    Rules().fileNameMode = 2;
    Add(u"http://p.example/dir/abc.PNG"_s);
    Add(u"http://p.example/show?id=5&s=1"_s);
    Add(u"/lonely.png"_s);  // the only slash at index 0: the sequence number
    Add(u"http://p.example/a.jpg\r\nhttp://q.example/b.gif"_s); // the fallback's part counts

    EXPECT_EQ(g_jobs.fileNames,
              (QStringList{u"abc.PNG"_s, u"showid=5&s=1.jpg"_s, u"3.jpg"_s, u"b.gif"_s}));
}

TEST_F(NamingRulesTest, EscapesPrefixSuffixAndReplacements)
{
    for (int i = 0; i < 11; ++i)
        AddAlbum(u"other%1"_s.arg(i));
    const int album = AddAlbum(u"Trip"_s, 7, -3);
    core.m_albums.selectedCount = 2;
    core.m_userFolder = u"someone"_s + QDir::separator();
    Rules().fileNameMode = 1;
    Rules().filePrefix.Set(u"?3_");
    Rules().fileSuffix.Set(u"-?1?2?4?5?6?7?8?9");
    Rules().folderPrefix.Set(u"?2?4[");
    Rules().folderSuffix.Set(u"]_?9");
    Rules().replaceFrom.Set(u"Trip|someone");
    Rules().replaceTo.Set(u"Tour|me");

    Add(u"http://p/1.jpg"_s, {}, album);
    Add(u"http://p/2.jpg"_s, {}, album);

    // Folder names know only ?1, ?3 and ?9; replacements touch file names only.
    EXPECT_EQ(g_jobs.folder, save.Path() + u"?2?4[Trip]_0012"_s.remove(u'?') + QDir::separator());
    EXPECT_EQ(g_jobs.fileNames,
              (QStringList{u"12_1-Tour17-3212me0012.jpg"_s, u"12_2-Tour27-3212me0012.jpg"_s}));
}

TEST_F(NamingRulesTest, FolderNameModeOneSharesTheSaveFolder)
{
    AddAlbum(u"one"_s);
    AddAlbum(u"two"_s);
    Rules().fileNameMode = 1;
    Rules().folderNameMode = 1;
    Add(u"http://p/1"_s, {}, 0);
    Add(u"http://p/2"_s, {}, 0);
    EXPECT_EQ(g_jobs.folder, save.Path());
    NextAlbum();
    Add(u"http://p/3"_s, {}, 1);
    EXPECT_EQ(g_jobs.folder, save.Path());
    // Unique only within the album.
    EXPECT_EQ(g_jobs.fileNames, QStringList{u"1.jpg"_s});
}

TEST_F(NamingRulesTest, LengthLimitCutsTheNameButNumbersFromTheBase)
{
    // A save folder of 240 characters leaves 10 for the name.
    QString deep = save.Path();
    while (deep.size() < 240 - 51)
        deep += QString(50, u'd') + QDir::separator();
    deep += QString(240 - 1 - deep.size(), u'e') + QDir::separator();
    ASSERT_EQ(deep.size(), 240);
    ASSERT_TRUE(QDir().mkpath(deep));
    g_jobs.folder = deep;
    AddAlbum(u"z"_s);
    Rules().folderNameMode = 1;

    Add(u"http://p/1"_s, u"abcdefghijklmnop.png"_s);
    Add(u"http://p/2"_s, u"abcdefghijklmnop.png"_s);
    Add(u"http://p/3"_s, u"abcdefghijklmnop.png"_s);
    // The cut lost ".png": the extension rule then adds ".jpg".
    EXPECT_EQ(g_jobs.fileNames,
              (QStringList{u"abcdefghij.jpg"_s, u"abcdefghijklmnop.png(1).jpg"_s,
                           u"abcdefghijklmnop.png(2).jpg"_s}));
}

TEST_F(NamingRulesTest, EveryComponentFitsTheFileSystem)
{
    // 80 Chinese characters with a 39-character prefix and suffix: far
    // beyond 255 bytes of UTF-8 for the folder, and for the files.
    const QString longName = QString(80, QChar(0x6625));
    AddAlbum(longName);
    Rules().folderPrefix.Set(QString(39, QChar(0x524D)));
    Rules().folderSuffix.Set(QString(39, QChar(0x540E)));
    Rules().fileNameMode = 0;
    const QString title = QString(120, QChar(0x56FE)) + u".png"_s;
    // Emoji take two UTF-16 units: the cut must not split one.
    QString emoji;
    for (int i = 0; i < 100; ++i)
        emoji += QString::fromUcs4(U"\U0001F600", 1);
    Add(u"http://p/1"_s, title);
    Add(u"http://p/2"_s, title);
    Add(u"http://p/3"_s, emoji);

    const QString folderName = QDir(g_jobs.folder).dirName();
    EXPECT_LE(Utf8Length(folderName), 255);
    EXPECT_GE(Utf8Length(folderName), 253); // cut to the longest fitting prefix
    EXPECT_TRUE(folderName.startsWith(QString(39, QChar(0x524D)) + QChar(0x6625)));
    ASSERT_TRUE(QFileInfo(g_jobs.folder).isDir());
    ASSERT_EQ(g_jobs.fileNames.size(), 3);
    EXPECT_TRUE(g_jobs.fileNames[0].endsWith(u".png"_s));
    EXPECT_TRUE(g_jobs.fileNames[1].endsWith(u"(1).png"_s));
    EXPECT_NE(g_jobs.fileNames[0], g_jobs.fileNames[1]);
    // Written as the pool writes: the temporary name beside each fits too.
    QStringList paths;
    for (qsizetype i = 0; i < g_jobs.fileNames.size(); ++i)
        paths.append(g_jobs.FilePath(i));
    // The list files named after the album keep their whole extension.
    for (QStringView ext : {u".txt", u".lst", u".aria2.txt"}) {
        paths.append(AlbumFilePath(g_jobs.folder, g_jobs.fileNames[0].chopped(4), ext));
        EXPECT_TRUE(paths.last().endsWith(ext));
    }
    for (const QString &path : std::as_const(paths)) {
        const QString name = QFileInfo(path).fileName();
        EXPECT_LE(Utf8Length(name), 255) << name.toStdString();
        EXPECT_TRUE(name.isValidUtf16()) << name.toStdString();
        SafeFile file(path);
        EXPECT_TRUE(file.Open() && file.Write("x", 1) && file.Commit()) << name.toStdString();
        EXPECT_TRUE(QFileInfo::exists(path)) << name.toStdString();
    }
}

TEST_F(NamingRulesTest, AlbumsKeepTheFolderAnEarlierVersionGaveThem)
{
    Rules().fileNameMode = 1;
    struct Row {
        QString album;     // as the page gave it, decoded once
        QString oldFolder; // made by an earlier version, or none
        QString expected;  // the folder used
        bool kept;
    };
    const QList<Row> rows{
        {u"x&amp;amp;y"_s, u"x&y"_s, u"x&y"_s, true},
        {u"CON"_s, u"CON"_s, u"CON"_s, true},
        {u"failed"_s, u"failed"_s, u"failed"_s, true},
        // Today's folder exists: it is used.
        {u"a&amp;b"_s, u"a&b"_s, u"a&amp;b"_s, false},
        {u"AUX"_s, {}, u"AUX_"_s, false},
        // "album" and "Album" were one folder on a case-insensitive disk:
        // today's "album (1)" is made rather than mixing them again.
        {u"Album"_s, u"album"_s, u"Album"_s, false},
        {u"album"_s, {}, u"album (1)"_s, false},
    };
    ASSERT_TRUE(QDir().mkpath(save.File(u"a&amp;b"_s)));
    for (const Row &row : rows) {
        if (!row.oldFolder.isEmpty()) {
            ASSERT_TRUE(QDir().mkpath(save.File(row.oldFolder)));
        }
        const int album = AddAlbum(row.album);
        NextAlbum();
        Add(u"http://p/"_s + row.album, {}, album);
        EXPECT_EQ(g_jobs.folder, save.File(row.expected) + QDir::separator()) << row.album.toStdString();
        EXPECT_EQ(g_jobs.oldFolderKept, row.kept) << row.album.toStdString();
        bool kept = !row.kept;
        EXPECT_EQ(AlbumFolderFor(core, album, save.Path(), &kept), g_jobs.folder);
        EXPECT_EQ(kept, row.kept);
    }
}

TEST_F(NamingRulesTest, HostileDescriptionsStayInsideTheAlbumFolder)
{
    AddAlbum(u"../../evil"_s);
    AddAlbum(u".."_s);
    Rules().fileNameMode = 0;
    const QStringList hostile{u"/etc/passwd"_s, u"C:\\Windows\\x"_s, u"../../x"_s, u"..."_s,
                              u"."_s, u"\\\\server\\share\\y.png"_s, u"~/.bashrc"_s,
                              save.Path() + u"outside.png"_s};
    for (int album = 0; album < 2; ++album) {
        NextAlbum();
        for (const QString &description : hostile)
            Add(u"http://p/x"_s, description, album);
        const QString folder = g_jobs.folder;
        EXPECT_TRUE(folder.startsWith(save.Path()));
        EXPECT_EQ(QFileInfo(QDir::cleanPath(folder)).absolutePath(), QDir::cleanPath(save.Path()))
            << folder.toStdString();
        for (qsizetype i = 0; i < g_jobs.fileNames.size(); ++i) {
            EXPECT_EQ(QFileInfo(g_jobs.FilePath(i)).absolutePath(), QDir::cleanPath(folder))
                << g_jobs.fileNames[i].toStdString();
        }
        EXPECT_EQ(g_jobs.fileNames.first(), u"etcpasswd.jpg"_s);
    }
    // Only the two album folders were made.
    QStringList made;
    QDirIterator it(save.Path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        made << it.next();
    EXPECT_EQ(made.size(), 2) << made.join(u' ').toStdString();

    // A full path inside the album's folder is taken as it stands.
    NextAlbum();
    Add(u"http://p/1"_s, u"first"_s, 0);
    const QString inside = g_jobs.folder + u"chosen.png"_s;
    Add(u"http://p/2"_s, inside, 0);
    EXPECT_EQ(g_jobs.fileNames.last(), inside);
    EXPECT_EQ(g_jobs.FilePath(1), inside);
}

TEST_F(NamingRulesTest, FullPathDescriptionsAreCutInTheirFileNameOnly)
{
    // An album folder above 125 characters: cutting the whole path to 250
    // minus its length used to land inside the folder path itself.
    QString deep = save.Path();
    while (deep.size() < 96)
        deep += QString(40, u'd') + QDir::separator();
    ASSERT_TRUE(QDir().mkpath(deep));
    g_jobs.folder = deep;
    AddAlbum(QString(30, u'a'));
    Rules().fileNameMode = 0;
    Add(u"http://p/0"_s, u"first"_s);
    const QString folder = g_jobs.folder;
    ASSERT_GT(folder.size(), 125);

    const QString longName = QString(300, u'n') + u".png"_s;
    struct Case {
        QString description;
        QString expected; // below the album folder
    };
    const QList<Case> cases{
        {folder + longName, QString(250 - folder.size(), u'n') + u".jpg"_s},
        // Inner folders are cleaned and fitted like any name, never cut.
        {folder + u"s\tu\x01" "b*/x.png"_s, u"s_ub/x.png"_s},
        // ... and a device name among them gets its "_".
        {folder + QString::fromUtf16(u"n\0ul/f\0.png", 11), u"nul_/f.png"_s},
        // Another description resolving to a file already taken.
        {folder + u"sub/../s\tub/./x.png"_s, u"s_ub/x.png(1).png"_s},
        {folder + QString(300, QChar(0x56FE)) + u"/y.gif"_s, QString(85, QChar(0x56FE)) + u"/y.gif"_s},
        // The same file as a plain name already taken: numbered from the
        // name before its extension was split off.
        {folder + u"first.jpg"_s, u"first.jpg(1).jpg"_s},
    };
    for (const Case &c : cases) {
        Add(u"http://p/x"_s, c.description);
        const QString name = g_jobs.fileNames.last();
        EXPECT_EQ(name, folder + c.expected) << c.description.toStdString();
        EXPECT_TRUE(QFileInfo(g_jobs.FilePath(g_jobs.fileNames.size() - 1)).absoluteFilePath().startsWith(folder));
    }
    // And a plain name after the full path of the same file.
    Add(u"http://p/y"_s, u"x"_s);
    Add(u"http://p/z"_s, folder + u"x.jpg"_s);
    EXPECT_EQ(g_jobs.fileNames.last(), folder + u"x.jpg(1).jpg"_s);
    // Nothing was made outside the album folder.
    EXPECT_EQ(QDir(deep).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{QString(30, u'a')});
}

TEST_F(NamingRulesTest, SkipRuleStopsAtThePreviousFirstPicture)
{
    AddAlbum(u"Album"_s);
    Rules().fileNameMode = 1;
    Rules().flags = kSkipDownloaded;
    const QString folder = save.Path() + u"Album"_s + QDir::separator();
    ASSERT_TRUE(QDir().mkpath(folder));
    WriteLastFirstUrl(u"http://p/old1"_s, folder);
    core.m_downState = 1;

    Add(u"http://p/new1"_s);
    Add(u"http://p/new2"_s);
    EXPECT_EQ(core.m_lastFirstUrl, u"http://p/old1"_s);
    EXPECT_EQ(core.m_downState, 1);
    Add(u"http://p/old1"_s);
    EXPECT_EQ(core.m_downState, 2);
    EXPECT_EQ(g_jobs.urls, (QStringList{u"http://p/new1"_s, u"http://p/new2"_s}));

    // The first picture being the recorded one: nothing added, folder there.
    NextAlbum();
    core.m_downState = 1;
    Add(u"http://p/old1"_s);
    EXPECT_TRUE(g_jobs.urls.isEmpty());
    EXPECT_EQ(g_jobs.folder, folder);
    EXPECT_EQ(core.m_downState, 2);

    // A stop asked is never turned into the skip state.
    NextAlbum();
    core.m_downState = 3;
    Add(u"http://p/old1"_s);
    EXPECT_EQ(core.m_downState, 3);

    // Without the bit the recorded address is just another picture.
    NextAlbum();
    core.m_downState = 1;
    Rules().flags = 0;
    Add(u"http://p/old1"_s);
    EXPECT_EQ(g_jobs.urls.size(), 1);
    EXPECT_EQ(core.m_downState, 1);

    // A ranged run neither reads the record nor stops at it.
    NextAlbum();
    Rules().flags = kSkipDownloaded;
    g_jobs.range.until = QDate(2030, 1, 1);
    Add(u"http://p/old1"_s);
    Add(u"http://p/new1"_s);
    g_jobs.range = DateRange();
    EXPECT_EQ(g_jobs.urls.size(), 2);
    EXPECT_TRUE(core.m_lastFirstUrl.isEmpty());
    EXPECT_EQ(core.m_downState, 1);
}

TEST_F(NamingRulesTest, PostDatesInFileNamesAndPicturesOutsideTheRangeKeepTheirNumbers)
{
    AddAlbum(u"?0Wall"_s);
    Rules().fileNameMode = 1;
    Rules().filePrefix.Set(u"?0_");
    Rules().folderSuffix.Set(u"?0");
    // Days of China: 2023-04-16 21:13 there; 2023-04-16 01:30 there (the
    // 15th in UTC); 2023-04-01 00:37 there (March 31st in UTC); unknown.
    const std::int64_t posted[] = {1681650804, 1681579800, 1680280666, 0};
    auto add = [this](std::int64_t time) {
        PictureExtras extras;
        extras.postTime = time;
        AddPictureJob(core, u"http://p/%1.jpg"_s.arg(time), QString(), QString(), 0, extras);
    };
    for (std::int64_t time : posted)
        add(time);
    // File names only; none known: empty.
    EXPECT_EQ(g_jobs.folder, save.Path() + u"0Wall0"_s + QDir::separator());
    EXPECT_EQ(g_jobs.fileNames,
              (QStringList{u"20230416_1.jpg"_s, u"20230416_2.jpg"_s, u"20230401_3.jpg"_s, u"_4.jpg"_s}));

    // The 16th alone: the others are left out but keep counting, and the
    // picture of unknown time is kept.
    NextAlbum();
    g_jobs.range = DateRange{QDate(2023, 4, 16), QDate(2023, 4, 16)};
    for (std::int64_t time : {posted[2], posted[1], posted[2], posted[3], posted[0]})
        add(time);
    g_jobs.range = DateRange();
    EXPECT_EQ(g_jobs.fileNames, (QStringList{u"20230416_2.jpg"_s, u"_4.jpg"_s, u"20230416_5.jpg"_s}));
    EXPECT_EQ(g_jobs.outOfRange, 2u);
    EXPECT_EQ(g_jobs.untimed, 1u);
}

TEST_F(NamingRulesTest, TitleFileHoldsTheRawDescriptionsOfAcceptedPictures)
{
    AddAlbum(u"Album"_s);
    Rules().fileNameMode = 1;
    Rules().flags = kWriteTitles | kSkipDownloaded;
    const QString folder = save.Path() + u"Album"_s + QDir::separator();
    ASSERT_TRUE(QDir().mkpath(folder));
    WriteLastFirstUrl(u"http://p/3"_s, folder);
    save.Write(u"Album/Album.txt"_s, "old"); // an old file is replaced

    Add(u"http://p/1"_s, u"a &amp; <b>"_s);
    Add(u"http://p/2"_s, u"图"_s);
    Add(u"http://p/3"_s, u"skipped"_s);

    // The lines are written once the album is listed.
    EXPECT_EQ(save.Read(u"Album/Album.txt"_s), "old");
    ASSERT_TRUE(WriteTitleFile(g_jobs, u"Album"_s));
    EXPECT_EQ(save.Read(u"Album/Album.txt"_s), QByteArray("\xFF\xFE" "a\0 \0&\0a\0m\0p\0;\0 \0<\0b\0>\0\r\0\n\0"
                                                        "\xFE\x56\r\0\n\0", 2 + 13 * 2 + 3 * 2));
}

TEST_F(NamingRulesTest, IndexedUniquenessMatchesTheLiteralLoop)
{
    AddAlbum(u"Base"_s);
    Rules().fileNameMode = 0;
    Rules().folderNameMode = 1;
    // Pieces that collide in letter case (the Kelvin sign folds to k, sigma
    // has three forms), mimic numbered names, and carry extensions.
    const QStringList pieces{u"a"_s, u"A"_s, u"k"_s, u"K"_s, u"\u212A"_s, u"σ"_s, u"ς"_s,
                             u"Σ"_s, u"ß"_s, u"(1)"_s, u"(2)"_s, u".png"_s, u".PNG"_s,
                             u".jpg"_s, u"(1).png"_s, u""_s};
    std::mt19937 random(20240605);
    for (int round = 0; round < 20; ++round) {
        NextAlbum();
        QStringList expected;
        for (int i = 0; i < 300; ++i) {
            QString description;
            const int count = int(random() % 4);
            for (int p = 0; p < count; ++p)
                description += pieces[random() % pieces.size()];
            Add(u"http://p/%1"_s.arg(i), description);

            QString name = description;
            SanitizeName(name, 0, false);
            if (name.isEmpty())
                name = u"Base"_s;
            SanitizeName(name, kTimeStampFallback, true);
            expected.append(LiteralName(expected, name, g_jobs.folder.size()));
        }
        ASSERT_EQ(g_jobs.fileNames, expected) << "round " << round;
    }
}

TEST_F(NamingRulesTest, ManyPicturesNamedAfterTheAlbum)
{
    AddAlbum(u"Album"_s);
    Rules().fileNameMode = 0;
    for (int i = 0; i < 5000; ++i)
        Add(u"http://p/%1"_s.arg(i));
    ASSERT_EQ(g_jobs.fileNames.size(), 5000);
    EXPECT_EQ(g_jobs.fileNames[0], u"Album.jpg"_s);
    EXPECT_EQ(g_jobs.fileNames[1], u"Album(1).jpg"_s);
    EXPECT_EQ(g_jobs.fileNames[4999], u"Album(4999).jpg"_s);
}

} // namespace

#include "app/AlbumList.h"
#include "app/TamblinCore.h"

#include "RecordingWindow.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QSet>

#include <atomic>
#include <random>
#include <thread>

using namespace tamblin;
using namespace tamblin::test;
using namespace Qt::StringLiterals;

namespace {

ST_PERLISTRECORD Album(const QString &name)
{
    ST_PERLISTRECORD r;
    r.name = name;
    return r;
}

QStringList Names(const AlbumList &list)
{
    QStringList names;
    for (const auto &item : list.items)
        names.append(item->name);
    return names;
}

// The naming loop at its plainest: try n = 1, 2, ... against every name.
QString LiteralUniqueName(const QStringList &taken, const QString &name)
{
    QString candidate = name;
    for (unsigned n = 1; taken.contains(candidate); ++n)
        candidate = QString::asprintf("%s (%u)", name.toUtf8().constData(), n);
    return candidate;
}

} // namespace

TEST(AddAlbum, CopiesTheRecordAndNumbersIt)
{
    AlbumList list;
    ST_PERLISTRECORD r = Album(u"  旅行:2014  "_s);
    r.albumUrl = u"http://a/1"_s;
    r.coverUrl = u"http://a/1.jpg"_s;
    r.text3 = u"t3"_s;
    r.text4 = u"t4"_s;
    r.count = 12;
    r.flags = -5;
    r.value1 = 3;
    r.value2 = 4;
    r.index = 99;
    r.thumbIndex = 7;
    EXPECT_EQ(list.AddAlbum(r), 1);
    EXPECT_EQ(list.AddAlbum(r), 2);
    const ST_PERLISTRECORD &a = *list.items[1];
    EXPECT_EQ(a.name, u"旅行2014 (1)"_s);
    EXPECT_EQ(a.albumUrl, r.albumUrl);
    EXPECT_EQ(a.coverUrl, r.coverUrl);
    EXPECT_EQ(a.text3, u"t3"_s);
    EXPECT_EQ(a.text4, u"t4"_s);
    EXPECT_EQ(a.count, 12);
    EXPECT_EQ(a.flags, -5);
    EXPECT_EQ(a.value1, 3);
    EXPECT_EQ(a.value2, 4);
    EXPECT_EQ(a.index, 1);
    EXPECT_EQ(a.thumbIndex, -1);
    EXPECT_EQ(list.At(0)->name, u"旅行2014"_s);
    EXPECT_EQ(list.At(2), nullptr);
    EXPECT_EQ(list.At(-1), nullptr);

    // A name that cleans to nothing becomes a time stamp.
    list.AddAlbum(Album(u"???"_s));
    EXPECT_EQ(list.items[2]->name.size(), 14);
}

TEST(AddAlbum, UniqueNames)
{
    AlbumList list;
    for (int i = 0; i < 3; ++i)
        list.AddAlbum(Album(u"N"_s));
    EXPECT_EQ(Names(list), (QStringList{u"N"_s, u"N (1)"_s, u"N (2)"_s}));

    AlbumList first;
    first.AddAlbum(Album(u"N (1)"_s));
    first.AddAlbum(Album(u"N"_s));
    first.AddAlbum(Album(u"N"_s));
    EXPECT_EQ(Names(first), (QStringList{u"N (1)"_s, u"N"_s, u"N (2)"_s}));

    // Case does not count (the folders would be one on a case-insensitive
    // disk); cleaning happens before the comparison.
    AlbumList mixed;
    mixed.AddAlbum(Album(u"abc"_s));
    mixed.AddAlbum(Album(u"ABC"_s));
    mixed.AddAlbum(Album(u"a*bc"_s));
    EXPECT_EQ(Names(mixed), (QStringList{u"abc"_s, u"ABC (1)"_s, u"abc (2)"_s}));

    mixed.Clear();
    EXPECT_EQ(mixed.Size(), 0);
    mixed.AddAlbum(Album(u"abc"_s));
    EXPECT_EQ(Names(mixed), QStringList{u"abc"_s});
}

TEST(AddAlbum, NamesStayApartOnEveryDiskAndTheOldRuleIsRemembered)
{
    struct Row {
        QString given, name, oldName;
    };
    const QList<Row> rows{
        {u"Album"_s, u"Album"_s, u"Album"_s},
        // One folder on a case-insensitive disk.
        {u"album"_s, u"album (1)"_s, u"album"_s},
        {u"ALBUM (1)"_s, u"ALBUM (1) (1)"_s, u"ALBUM (1)"_s},
        // Names the program keeps for itself: the title file of "failed"
        // would be failed.txt.
        {u"failed"_s, u"failed (1)"_s, u"failed"_s},
        {u"Failed.TXT"_s, u"Failed.TXT (1)"_s, u"Failed.TXT"_s},
        {u"PIC.orv"_s, u"PIC.orv (1)"_s, u"PIC.orv"_s},
        {u"posts.jsonl"_s, u"posts.jsonl (1)"_s, u"posts.jsonl"_s},
        {u"转发"_s, u"转发 (1)"_s, u"转发"_s},
        {u"posts"_s, u"posts"_s, u"posts"_s},
        // Windows device names.
        {u"CON"_s, u"CON_"_s, u"CON"_s},
        {u"con_"_s, u"con_ (1)"_s, u"con_"_s},
        {u"lpt1.x"_s, u"lpt1_.x"_s, u"lpt1.x"_s},
        // Decoded with its page already; the old rule decoded it again.
        {u"x&amp;amp;y"_s, u"x&amp;amp;y"_s, u"x&amp;y"_s},
    };
    AlbumList list;
    for (const Row &row : rows)
        list.AddAlbum(Album(row.given));
    for (qsizetype i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(list.items[size_t(i)]->name, rows[i].name) << i;
        EXPECT_EQ(list.items[size_t(i)]->oldName, rows[i].oldName) << i;
    }
    EXPECT_EQ(list.FindName(u"ALBUM"_s), 0);
    EXPECT_EQ(list.FindName(u"CON"_s), -1);
}

TEST(AddAlbum, SameNamesAsTheLiteralLoopWhateverTheOrder)
{
    const QStringList pool = {u"N"_s, u"N (1)"_s, u"N (2)"_s, u"N (1) (1)"_s, u"M"_s, u"N (3)"_s};
    std::mt19937 random(11);
    AlbumList list;
    QStringList expected;
    for (int i = 0; i < 400; ++i) {
        const QString name = pool[qsizetype(random() % pool.size())];
        expected.append(LiteralUniqueName(expected, name));
        list.AddAlbum(Album(name));
    }
    EXPECT_EQ(Names(list), expected);
}

TEST(AddAlbum, LongNamesStayWithinEightyCharactersAndUnique)
{
    AlbumList list;
    const QString longName = QString(100, u'x');
    list.AddAlbum(Album(longName));
    list.AddAlbum(Album(longName));
    list.AddAlbum(Album(longName + u"y"_s));
    EXPECT_EQ(list.items[0]->name, QString(80, u'x'));
    EXPECT_EQ(list.items[1]->name, QString(76, u'x') + u" (1)"_s);
    EXPECT_EQ(list.items[2]->name, QString(76, u'x') + u" (2)"_s);

    // No half of a surrogate pair, no blank or dot left at the cut.
    const QString emoji = QString::fromUtf16(u"\U0001F600");
    list.AddAlbum(Album(QString(79, u'a') + emoji + u"b"_s));
    EXPECT_EQ(list.items[3]->name, QString(79, u'a'));
    list.AddAlbum(Album(QString(78, u'c') + u" .d"_s));
    EXPECT_EQ(list.items[4]->name, QString(78, u'c'));

    // When the part kept is dots and blanks alone, its dots become
    // ideographic full stops instead of leaving no name.
    AlbumList dots;
    dots.AddAlbum(Album(u". "_s + QString(90, u'.') + u"x"_s));
    dots.AddAlbum(Album(u". "_s + QString(90, u'.') + u"x"_s));
    const QString blankDots = u". "_s.repeated(40) + u"x"_s;
    dots.AddAlbum(Album(blankDots));
    dots.AddAlbum(Album(blankDots));
    EXPECT_EQ(Names(dots), (QStringList{QString(80, QChar(0x3002)), QString(76, QChar(0x3002)) + u" (1)"_s,
                                        blankDots.sliced(2),
                                        u"\u3002 "_s.repeated(38).trimmed() + u" (1)"_s}));
}

TEST(AddAlbum, SixtyFiveThousandAlbumsOfOneName)
{
    AlbumList list;
    constexpr int kCount = 65535;
    for (int i = 0; i < kCount; ++i)
        ASSERT_EQ(list.AddAlbum(Album(u"相册"_s)), i + 1);
    const QStringList names = Names(list);
    EXPECT_EQ(QSet<QString>(names.begin(), names.end()).size(), kCount);
    EXPECT_EQ(names.last(), u"相册 (65534)"_s);
}

TEST(AlbumColumns, RemarkAndCountTexts)
{
    EXPECT_EQ(RemarkText(0), QString());
    EXPECT_EQ(RemarkText(1), u"加密相册"_s);
    EXPECT_EQ(RemarkText(3), u"加密相册"_s);
    EXPECT_EQ(RemarkText(2), u"私密相册"_s);
    EXPECT_EQ(RemarkText(6), u"私密相册"_s);
    EXPECT_EQ(RemarkText(4), u"好友可见"_s);
    EXPECT_EQ(RemarkText(8), QString());
    EXPECT_EQ(RemarkText(std::int32_t(0x80000005u)), u"00000005"_s);
    EXPECT_EQ(RemarkText(-1), u"2147483647"_s);

    EXPECT_EQ(CountText(-1), u"未知"_s);
    EXPECT_EQ(CountText(7), u"   7"_s);
    EXPECT_EQ(CountText(0), u"   0"_s);
    EXPECT_EQ(CountText(12345), u"12345"_s);
    EXPECT_EQ(CountText(-2), u"4294967294"_s);
}

TEST(OnAlbumAdded, AddsAndShowsOnlyOnceReady)
{
    RecordingWindow window;
    TamblinCore core(&window);
    core.OnAlbumAdded(Album(u"early"_s));
    EXPECT_EQ(core.m_albums.Size(), 0);
    EXPECT_TRUE(window.Events().isEmpty());

    core.m_ready = 1;
    core.OnAlbumAdded(Album(u"a"_s));
    core.OnAlbumAdded(Album(u"a"_s));
    EXPECT_EQ(Names(core.m_albums), (QStringList{u"a"_s, u"a (1)"_s}));
    EXPECT_EQ(window.Events(), (QStringList{u"AlbumAdded:0"_s, u"AlbumAdded:1"_s}));
}

TEST(OnAlbumAdded, RowsCanBeReadWhileTheListWorkerAdds)
{
    // The window reads records on its own thread while the worker appends.
    TamblinCore core;
    core.m_ready = 1;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 3000; ++i)
            core.OnAlbumAdded(Album(u"album"_s));
        done = true;
    });
    int seen = 0;
    while (!done || seen < core.m_albums.Size()) {
        const int size = core.m_albums.Size();
        if (size > seen) {
            const ST_PERLISTRECORD *last = core.m_albums.At(size - 1);
            ASSERT_NE(last, nullptr);
            EXPECT_EQ(last->index, size - 1);
            seen = size;
        }
    }
    worker.join();
    EXPECT_EQ(core.m_albums.Size(), 3000);
    EXPECT_EQ(core.m_albums.At(2999)->name, u"album (2999)"_s);
}

// Hostile and broken answers: the list run ends normally with what could be
// found, never crashes or hangs, and no name escapes SanitizeName.
#include "FakeService.h"
#include "ListRun.h"

#include <QSet>

#include <gtest/gtest.h>

namespace tamblin::test {
namespace {

// The run went through to its end: counted, idle, state back to 0.
void ExpectFinished(const ListRun &run)
{
    EXPECT_TRUE(run.window->Events().contains(u"ListIdle"_s)) << run.window->Events().join(u'\n').toStdString();
    EXPECT_EQ(run.core.m_listState.load(), 0);
    EXPECT_EQ(run.window->LastText(kIdAlbumFrame), u"相册列表(共%1个)"_s.arg(run.core.m_albums.Size()));
    for (const QString &name : run.Names())
        EXPECT_TRUE(IsSafeName(name)) << name.left(200).toStdString();
    for (const QString &folder : {run.core.m_userFolder, run.core.m_subFolder}) {
        if (folder.isEmpty())
            continue;
        EXPECT_TRUE(folder.endsWith(kSep));
        EXPECT_TRUE(IsSafeName(folder.chopped(1))) << folder.toStdString();
    }
}

TEST(BadInput, HostileNamesAreCleanedIntoSafeUniqueFolderNames)
{
    const QString longName(10000, u'长');
    FakeService service(uR"j({
      "sina_photo_users": [{"uid": "1", "title": "../../../tmp/evil", "albums": [
        {"name": ""}, {"name": "..."}, {"name": "%1"}, {"name": "../../etc/passwd"},
        {"name": "a\\b:c*d?e\"f<g>h|i"}, {"name": "\t tab \n newline \r"}, {"name": ". hidden ."},
        {"name": "&lt;script&gt;"}, {"name": "\u0007"}, {"name": "\/"}
      ]}],
      "weibo_users": [{"uid": "2", "nickname": "..\\/..", "needs_login": false, "albums": [
        {"album_id": "1", "caption": ""}, {"album_id": "2", "caption": ""}, {"album_id": "3", "caption": "/"},
        {"album_id": "4", "caption": "%1"}
      ]}]
    })j"_s.arg(longName).toUtf8());
    ASSERT_TRUE(service.IsRunning());

    ListRun photo;
    photo.Run(u"http://photo.blog.sina.com.cn/u/1"_s);
    ExpectFinished(photo);
    // Only the empty name is skipped by the extractor; every other album is
    // kept under a safe name.
    EXPECT_EQ(photo.core.m_albums.Size(), 9);
    EXPECT_EQ(photo.core.m_userFolder, u"tmpevil"_s + kSep);
    EXPECT_TRUE(photo.Names().contains(u"。。。"_s));
    EXPECT_TRUE(photo.Names().contains(u"etcpasswd"_s));
    EXPECT_TRUE(photo.Names().contains(u"abcdefghi"_s));
    EXPECT_TRUE(photo.Names().contains(u"script"_s));
    EXPECT_FALSE(photo.Names().contains(longName));

    ListRun weibo;
    weibo.Run(u"http://weibo.com/u/2"_s);
    ExpectFinished(weibo);
    EXPECT_EQ(weibo.core.m_albums.Size(), 4);
    const QStringList names = weibo.Names();
    EXPECT_EQ(QSet<QString>(names.begin(), names.end()).size(), 4);
}

struct BrokenCase {
    const char *what;
    QByteArray data;
    QString address;
    int albums;       // -1: any number
    QString said = {}; // the message when nothing was found; empty: the login hint
};

TEST(BadInput, BrokenAnswersEndTheRunWithWhatCouldBeFound)
{
    const QByteArray user = R"j("sina_photo_users": [{"uid": "1", "title": "t", "albums": [
        {"name": "一", "pic_cnt": 1}, {"name": "二", "pic_cnt": 2}, {"name": "三", "pic_cnt": 3}]}])j";
    const QByteArray weibo = R"j("weibo_users": [{"uid": "2", "nickname": "n", "needs_login": false, "generate_albums": 2000}])j";
    const QString photoPage = u"http://photo.blog.sina.com.cn/u/1"_s;
    const QString weiboPage = u"http://weibo.com/u/2"_s;
    const QByteArray categories = "http://photo.blog.sina.com.cn/services/ctg_list_ctg.php";
    const QByteArray albums = "http://photo.weibo.com/albums/get_all";

    const std::vector<BrokenCase> cases = {
        {"empty user page", "{" + user + R"j(, "faults": [{"match": "http://photo.blog.sina.com.cn/u/", "empty": true}]})j", photoPage, 0},
        {"empty category list", "{" + user + R"j(, "faults": [{"match": ")j" + categories + R"j(", "empty": true}]})j", photoPage, 0},
        // A network failure is said as such: a login would not help.
        {"connection closed", "{" + weibo + R"j(, "faults": [{"match": "http://weibo.com/", "close": true}]})j", weiboPage, 0,
         u"could not reach weibo.com"_s},
        {"transfer cut short", "{" + weibo + R"j(, "faults": [{"match": ")j" + albums + R"j(", "truncate": 3000}]})j", weiboPage, -1,
         u"answer of photo.weibo.com cut short"_s},
        {"corrupt gzip", "{" + weibo + R"j(, "faults": [{"match": ")j" + albums + R"j(", "corrupt_gzip": true}]})j", weiboPage, -1},
        {"user page cut inside the title marker",
         "{" + user + R"j(, "pages": {"http://photo.blog.sina.com.cn/u/1": {"body": "<html><h1 class=\"blogti"}}})j", photoPage, 0},
        {"category list cut inside the second item",
         "{" + user + R"j(, "pages": {")j" + categories + R"j(?format=gsonv&uid=1": {"body":
           "{\"data\":[{\"category\":\"one\",\"pic_cnt\":\"2\",\"ctg_url\":\"http:\\/\\/x\\/1\"},{\"categ"}}})j", photoPage, 1},
        {"unterminated category name",
         "{" + user + R"j(, "pages": {")j" + categories + R"j(?format=gsonv&uid=1": {"body": "{\"data\":[{\"category\":\"unterminated"}}})j",
         photoPage, 0},
        {"album list with missing, reordered and unterminated keys",
         R"j({"weibo_users": [{"uid": "2", "nickname": "n", "needs_login": false}], "pages": {")j" + albums
             + R"j(?uid=2&count=65535": {"body":
           "{\"album_list\":[{\"album_id\":\"1\",\"caption\":\"no type\"},{\"album_id\":\"2\",\"type\":3},{\"album_id\":\"3\",\"type\":1,\"caption\":\"unterminated"}}})j",
         weiboPage, 3},
        {"50 MB of noise as the user page",
         "{" + user + R"j(, "pages": {"http://photo.blog.sina.com.cn/u/1": {"repeat": "<p>噪声 noise \"category\": ctg_url big_url articlelist blogtitle</p>\n", "size": 52428800}}})j",
         photoPage, 0},
        {"50 MB of noise as the album list",
         "{" + weibo + R"j(, "pages": {")j" + albums + R"j(?uid=2&count=65535": {"repeat": "\"album_id\" caption photos \"type\": 1 noise 噪声\n", "size": 52428800}}})j",
         weiboPage, 0},
    };
    for (const BrokenCase &broken : cases) {
        SCOPED_TRACE(broken.what);
        FakeService service(broken.data);
        ASSERT_TRUE(service.IsRunning());
        ListRun run;
        run.Run(broken.address);
        ExpectFinished(run);
        if (broken.albums >= 0) {
            EXPECT_EQ(run.core.m_albums.Size(), broken.albums);
        }
        if (run.core.m_albums.Size() == 0) {
            const QStringList messages = run.window->Messages();
            ASSERT_EQ(messages.size(), 1);
            if (broken.said.isEmpty())
                EXPECT_EQ(messages[0], kLoginHint);
            else
                EXPECT_TRUE(messages[0].startsWith(broken.said)) << messages[0].toStdString();
        }
    }
}

TEST(BadInput, PagesInTheWrongEncodingStillGiveSafeNames)
{
    // A blog list page in GBK that claims UTF-8: the Chinese titles decode to
    // replacement characters, the markers (ASCII) still work.
    const QByteArray gbkPage = R"j(<html><h1 class=\"blogtitle\">博客标题</h1>)j"
                               R"j(<span class=\"atc_title\"><a title=\"第一篇文章\" href=\"http://blog.sina.com.cn/s/blog_1.html\">x</a></span>)j"
                               R"j(<span class=\"atc_title\"><a title=\"第二篇\" href=\"http://blog.sina.com.cn/s/blog_2.html\">y</a></span></html>)j";
    FakeService service(R"j({"pages": {"http://blog.sina.com.cn/s/articlelist_3_0_1.html":
        {"body": ")j" + gbkPage + R"j(", "encoding": "gbk", "content_type": "text/html; charset=utf-8"}}})j");
    ASSERT_TRUE(service.IsRunning());
    ListRun run;
    run.Run(u"http://blog.sina.com.cn/s/articlelist_3_0_1.html"_s);
    ExpectFinished(run);
    ASSERT_EQ(run.core.m_albums.Size(), 2);
    EXPECT_NE(run.Album(0).name, u"第一篇文章"_s);
    EXPECT_EQ(run.Album(1).albumUrl, u"http://blog.sina.com.cn/s/blog_2.html"_s);
}

TEST(BadInput, ABlogThatRepeatsItsLastPageForEverEnds)
{
    // Every page number answers with the same page and its next-page link.
    const QByteArray page = R"j(<h1 class=\"blogtitle\">b</h1><span class=\"atc_title\"><a title=\"同一篇\" href=\"u\">x</a></span><a href=\"n\">下一页</a>)j";
    QByteArray pages = "{";
    for (int i = 1; i <= 40; ++i) {
        pages += (i > 1 ? "," : "") + QByteArray("\"http://blog.sina.com.cn/s/articlelist_4_0_") + QByteArray::number(i)
            + ".html\": {\"body\": \"" + page + "\"}";
    }
    pages += "}";
    FakeService service("{\"pages\": " + pages + "}");
    ASSERT_TRUE(service.IsRunning());
    ListRun run;
    run.Run(u"http://blog.sina.com.cn/s/articlelist_4_0_1.html"_s);
    ExpectFinished(run);
    EXPECT_EQ(run.Names(), QStringList{u"同一篇"_s});
    EXPECT_EQ(service.RequestedUrls().size(), 2);
}

} // namespace
} // namespace tamblin::test

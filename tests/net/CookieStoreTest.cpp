#include "TestSupport.h"
#include "net/CookieStore.h"
#include "net/HttpClient.h"
#include "net/SafeFile.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <cerrno>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace tamblin::test {
namespace {

class CookieStoreTest : public ::testing::Test {
protected:
    void SetUp() override { Store().SetFilePath(m_dir.File(u"cookies.txt"_s)); }

    static CookieStore &Store() { return CookieStore::Instance(); }

    static Cookie Make(const QString &domain, bool hostOnly, const QString &path, const QString &name,
                       const QString &value, bool secure = false, std::int64_t expires = 0)
    {
        Cookie c;
        c.domain = domain;
        c.hostOnly = hostOnly;
        c.path = path;
        c.name = name;
        c.value = value;
        c.secure = secure;
        c.expires = expires;
        return c;
    }

    static std::int64_t InAnHour() { return QDateTime::currentSecsSinceEpoch() + 3600; }

    TempDir m_dir;
};

TEST_F(CookieStoreTest, MatchesByDomainPathSecureFlagAndExpiry)
{
    Store().AddCookie(Make(u"weibo.com"_s, false, u"/"_s, u"SUB"_s, u"s1"_s));
    Store().AddCookie(Make(u"photo.weibo.com"_s, true, u"/"_s, u"host"_s, u"h"_s));
    Store().AddCookie(Make(u"weibo.com"_s, false, u"/p"_s, u"deep"_s, u"d"_s));
    Store().AddCookie(Make(u"weibo.com"_s, false, u"/"_s, u"safe"_s, u"x"_s, true));
    Store().AddCookie(Make(u"weibo.com"_s, false, u"/"_s, u"old"_s, u"o"_s, false, 1000));

    EXPECT_EQ(GetUrlCookies(u"http://weibo.com/"_s), u"SUB=s1"_s);
    EXPECT_EQ(GetUrlCookies(u"https://weibo.com/"_s), u"SUB=s1; safe=x"_s);
    // Host-only cookies stay on their host; domain cookies reach subdomains.
    EXPECT_EQ(GetUrlCookies(u"http://photo.weibo.com/x"_s), u"SUB=s1; host=h"_s);
    EXPECT_EQ(GetUrlCookies(u"http://a.photo.weibo.com/"_s), u"SUB=s1"_s);
    EXPECT_EQ(GetUrlCookies(u"http://notweibo.com/"_s), QString());
    EXPECT_EQ(GetUrlCookies(u"http://WEIBO.COM/"_s), u"SUB=s1"_s);
    // Path "/p" matches "/p" and "/p/..." but not "/photos"; longest path first.
    EXPECT_EQ(GetUrlCookies(u"http://weibo.com/p/1"_s), u"deep=d; SUB=s1"_s);
    EXPECT_EQ(GetUrlCookies(u"http://weibo.com/p"_s), u"deep=d; SUB=s1"_s);
    EXPECT_EQ(GetUrlCookies(u"http://weibo.com/photos"_s), u"SUB=s1"_s);
    EXPECT_EQ(GetUrlCookies(u"not a url"_s), QString());

    // Same name, domain and path: replaced. Expired: removed.
    Store().AddCookie(Make(u"weibo.com"_s, false, u"/"_s, u"SUB"_s, u"s2"_s));
    EXPECT_EQ(GetUrlCookies(u"http://weibo.com/"_s), u"SUB=s2"_s);
    Store().AddCookie(Make(u"weibo.com"_s, false, u"/"_s, u"SUB"_s, u"s2"_s, false, 1));
    EXPECT_EQ(GetUrlCookies(u"http://weibo.com/"_s), QString());
    EXPECT_TRUE(Store().RemoveCookie(u".weibo.com"_s, u"/"_s, u"safe"_s));
    EXPECT_FALSE(Store().RemoveCookie(u"weibo.com"_s, u"/"_s, u"safe"_s));
    EXPECT_EQ(GetUrlCookies(u"https://weibo.com/"_s), QString());
}

TEST_F(CookieStoreTest, SurvivesARestartThroughItsFile)
{
    const std::int64_t later = InAnHour();
    Store().AddCookie(Make(u"weibo.com"_s, false, u"/"_s, u"SUB"_s, u"login"_s, false, later));
    Cookie session = Make(u"login.sina.com.cn"_s, true, u"/sso"_s, u"ALF"_s, u"a b\tc"_s, true);
    session.httpOnly = true;
    Store().AddCookie(session);

    const QByteArray file = m_dir.Read(u"cookies.txt"_s);
    EXPECT_TRUE(file.startsWith("# Netscape HTTP Cookie File\n"));
    EXPECT_TRUE(file.contains(".weibo.com\tTRUE\t/\tFALSE\t" + QByteArray::number(qlonglong(later)) + "\tSUB\tlogin\n"));
    EXPECT_TRUE(file.contains("#HttpOnly_login.sina.com.cn\tFALSE\t/sso\tTRUE\t0\tALF\ta b\tc\n"));

    // A fresh load of the same file gives the same cookies back.
    Store().SetFilePath(QString());
    EXPECT_TRUE(Store().AllCookies().isEmpty());
    Store().SetFilePath(m_dir.File(u"cookies.txt"_s));
    const QList<Cookie> back = Store().AllCookies();
    ASSERT_EQ(back.size(), 2);
    EXPECT_EQ(back[0], Make(u"weibo.com"_s, false, u"/"_s, u"SUB"_s, u"login"_s, false, later));
    EXPECT_EQ(back[1], session);

    // An unwritable place keeps the store working in memory.
    Store().SetFilePath(m_dir.File(u"cookies.txt/inside"_s));
    Store().AddCookie(Make(u"a.example"_s, true, u"/"_s, u"k"_s, u"v"_s));
    EXPECT_EQ(GetUrlCookies(u"http://a.example/"_s), u"k=v"_s);
}

TEST_F(CookieStoreTest, TheFileIsPrivateAndAFullDiskLeavesItAsItWas)
{
    const auto mode = [](const QString &path) {
        struct stat st {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0u;
    };
    // A looser file from before, in a folder the store did not make (a
    // home or shared folder that TAMBLIN_COOKIE_FILE names), under a
    // permissive umask: the file is tightened, the folder keeps its mode.
    const QString folder = m_dir.File(u"data"_s);
    const QString path = folder + u"/cookies.txt"_s;
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                                  | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    m_dir.Write(u"data/cookies.txt"_s, "# Netscape HTTP Cookie File\n");
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    const mode_t umaskBefore = ::umask(0);
    Store().SetFilePath(path);
    Store().AddCookie(Make(u"weibo.com"_s, false, u"/"_s, u"SUB"_s, u"login"_s, false, InAnHour()));
    EXPECT_EQ(mode(path), 0600u);
    EXPECT_EQ(mode(folder), 0755u);
    // A folder the store makes is the owner's alone.
    const QString made = m_dir.File(u"made/deeper"_s);
    Store().SetFilePath(made + u"/cookies.txt"_s);
    Store().AddCookie(Make(u"weibo.com"_s, false, u"/"_s, u"SUB"_s, u"login"_s, false, InAnHour()));
    EXPECT_EQ(mode(made), 0700u);
    EXPECT_EQ(mode(made + u"/cookies.txt"_s), 0600u);
    ::umask(umaskBefore);
    Store().SetFilePath(path);
    const QByteArray saved = m_dir.Read(u"data/cookies.txt"_s);
    ASSERT_TRUE(saved.contains("\tSUB\tlogin\n"));

    // The disk is full at once, after 10 bytes, and a few bytes short.
    for (const qint64 room : {qint64(0), qint64(10), qint64(saved.size() + 5)}) {
        SCOPED_TRACE(room);
        SetSafeFileWriter([room](int fd, const char *data, qint64 size, qint64 offset) -> qint64 {
            if (offset + size <= room)
                return ::write(fd, data, std::size_t(size));
            if (offset < room)
                return ::write(fd, data, std::size_t(room - offset));
            errno = ENOSPC;
            return -1;
        });
        Store().AddCookie(Make(u"weibo.com"_s, false, u"/"_s, u"SUB"_s, u"a longer login %1"_s.arg(room), false,
                               InAnHour()));
        SetSafeFileWriter(nullptr);
        EXPECT_EQ(m_dir.Read(u"data/cookies.txt"_s), saved);
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{u"cookies.txt"_s});
    }
}

// A login cookie that ran out is kept a while, never sent, so that the
// program can say the login has ended; one that ended long ago, or was
// deleted, is forgotten, and a new login takes its place.
TEST_F(CookieStoreTest, RemembersALoginThatRanOutForAWhile)
{
    const std::int64_t now = QDateTime::currentSecsSinceEpoch();
    const QByteArray yesterday = QByteArray::number(qlonglong(now - 86400));
    const QByteArray lastYear = QByteArray::number(qlonglong(now - 365 * 86400));
    m_dir.Write(u"cookies.txt"_s, ".weibo.com\tTRUE\t/\tFALSE\t" + yesterday + "\tSUB\tended\n"
                                  ".weibo.com\tTRUE\t/\tFALSE\t" + lastYear + "\tSUBP\tlong-ago\n"
                                  "passport.weibo.com\tFALSE\t/\tTRUE\t" + QByteArray::number(qlonglong(InAnHour()))
                                  + "\tALF\tpassport\n");
    Store().SetFilePath(m_dir.File(u"cookies.txt"_s));
    EXPECT_EQ(GetUrlCookies(u"https://weibo.com/"_s), QString());
    EXPECT_TRUE(Store().HasExpired(u"https://weibo.com/"_s, u"SUB"_s));
    EXPECT_FALSE(Store().HasExpired(u"https://weibo.com/"_s, u"SUBP"_s));
    EXPECT_FALSE(Store().HasExpired(u"https://passport.weibo.com/"_s, u"ALF"_s));
    EXPECT_FALSE(Store().HasExpired(u"https://sina.com.cn/"_s, u"SUB"_s));

    // A save keeps the ended login's line and drops the old one.
    Store().AddCookie(Make(u"a.example"_s, true, u"/"_s, u"k"_s, u"v"_s));
    const QByteArray file = m_dir.Read(u"cookies.txt"_s);
    EXPECT_TRUE(file.contains("\tSUB\tended\n"));
    EXPECT_FALSE(file.contains("long-ago"));

    Store().AddCookie(Make(u"weibo.com"_s, false, u"/"_s, u"SUB"_s, u"renewed"_s, false, InAnHour()));
    EXPECT_FALSE(Store().HasExpired(u"https://weibo.com/"_s, u"SUB"_s));
    EXPECT_EQ(GetUrlCookies(u"https://weibo.com/"_s), u"SUB=renewed"_s);
    // Deleted (a logout) is not ended.
    Store().AddCookie(Make(u"weibo.com"_s, false, u"/"_s, u"SUB"_s, QString(), false, 1000));
    EXPECT_FALSE(Store().HasExpired(u"https://weibo.com/"_s, u"SUB"_s));
}

TEST_F(CookieStoreTest, ImportsBrowserExtensionExports)
{
    const QByteArray later = QByteArray::number(qlonglong(InAnHour()));
    const QByteArray exported = "# Netscape HTTP Cookie File\r\n"
                                "# This file was generated by an extension\r\n"
                                "\r\n"
                                ".weibo.com\tTRUE\t/\tFALSE\t" + later + ".5\tSUB\t_2A25abc\r\n"
                                "#HttpOnly_.sina.com.cn\tTRUE\t/\tTRUE\t" + later + "\tSUE\tes%3D1\r\n"
                                "weibo.com\tFALSE\t/\tFALSE\t0\tsession\t\r\n"
                                "weibo.com\tFALSE\t/\tFALSE\t1000\texpired\tx\r\n"
                                "broken line without tabs\r\n";
    m_dir.Write(u"export.txt"_s, exported);
    EXPECT_EQ(Store().ImportFile(m_dir.File(u"export.txt"_s)), 3);
    EXPECT_EQ(Store().ImportFile(m_dir.File(u"missing.txt"_s)), -1);

    EXPECT_EQ(GetUrlCookies(u"http://weibo.com/u/1"_s), u"SUB=_2A25abc; session="_s);
    EXPECT_EQ(GetUrlCookies(u"http://photo.weibo.com/"_s), u"SUB=_2A25abc"_s);
    EXPECT_EQ(GetUrlCookies(u"https://login.sina.com.cn/"_s), u"SUE=es%3D1"_s);
    EXPECT_EQ(GetUrlCookies(u"http://login.sina.com.cn/"_s), QString());
    const QList<Cookie> all = Store().AllCookies();
    ASSERT_EQ(all.size(), 3);
    EXPECT_TRUE(all[1].httpOnly);
}

TEST_F(CookieStoreTest, MalformedAndDamagedLinesAreNeverStored)
{
    const QByteArray later = QByteArray::number(qlonglong(InAnHour()));
    ASSERT_EQ(Store().ImportText("weibo.com\tFALSE\t/\tFALSE\t" + later + "\tSUB\tlogin\n"), 1);
    const QByteArray text = "\xEF\xBB\xBF" "a.example\tFALSE\t/\tFALSE\t0\tbom\t1\n" // mark ignored
                            "   #a\tFALSE\t/\tFALSE\t0\tblank\tcomment\n"               // a comment
                            "\r#a\tFALSE\t/\tFALSE\t0\tcr\tcomment\n"                   // and after a CR
                            "b.example\tFALSE\t/\tFALSE\t0\tcr\tx\ry\n"                 // bare CR
                            "b.example\tFALSE\t/\tFALSE\t0\tn\x01\tv\n"                 // control in name
                            "b.example\tMAYBE\t/\tFALSE\t0\tflag\tv\n"
                            "b.example\tFALSE\t/\tFALSE\tnan\tnan\tv\n"
                            // Far beyond an int64 of seconds: clamped, so the
                            // login it replaces is kept, not deleted as expired.
                            "weibo.com\tFALSE\t/\tFALSE\t1e19\tSUB\tlogin2\n";
    EXPECT_EQ(Store().ImportText(text), 2);
    const QList<Cookie> all = Store().AllCookies();
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(all[0].value, u"login2"_s);
    EXPECT_EQ(all[0].expires, kMaxCookieExpiry);
    EXPECT_EQ(all[1].name, u"bom"_s);
    EXPECT_FALSE(m_dir.Read(u"cookies.txt"_s).contains("#a"));

    Store().AddCookie(Make(u"c.example"_s, true, u"/"_s, u"k"_s, u"a\rb"_s));
    EXPECT_EQ(Store().AllCookies().size(), 2);
}

TEST_F(CookieStoreTest, ConcurrentUseKeepsEveryCookie)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i) {
                CookieStore::Instance().AddCookie(
                    Make(u"t%1.example"_s.arg(t), true, u"/"_s, u"c%1"_s.arg(i), u"v"_s));
                (void)GetUrlCookies(u"http://t%1.example/"_s.arg((t + 1) % 4));
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(Store().AllCookies().size(), 200);
    EXPECT_EQ(GetUrlCookies(u"http://t2.example/"_s).count(u"=v"_s), 50);
    Store().SetFilePath(m_dir.File(u"cookies.txt"_s));
    EXPECT_EQ(Store().AllCookies().size(), 200);
}

// Picture hosts that set many cookies evict their own, never a login's nor
// those of a small site beside them.
TEST_F(CookieStoreTest, PictureHostsNeverEvictTheLogin)
{
    Store().AddCookie(Make(u"weibo.com"_s, false, u"/"_s, u"SUB"_s, u"_2A2login"_s, false, InAnHour()));
    Store().AddCookie(Make(u"passport.weibo.com"_s, true, u"/"_s, u"ALF"_s, u"renew"_s, true, InAnHour()));
    Store().AddCookie(Make(u"blog.example.org"_s, true, u"/"_s, u"pref"_s, u"1"_s));
    QByteArray flood;
    for (int host = 0; host < 40; ++host) {
        for (int i = 0; i < 120; ++i)
            flood += "ww" + QByteArray::number(host) + ".sinaimg.cn\tFALSE\t/\tFALSE\t0\tc" + QByteArray::number(i) + "\tv\n";
    }
    EXPECT_EQ(Store().ImportText(flood), 4800);
    const QList<Cookie> all = Store().AllCookies();
    EXPECT_EQ(all.size(), CookieStore::kMaxCookies);
    EXPECT_EQ(GetUrlCookies(u"https://weibo.com/"_s), u"SUB=_2A2login"_s);
    EXPECT_EQ(GetUrlCookies(u"https://passport.weibo.com/"_s), u"SUB=_2A2login; ALF=renew"_s);
    EXPECT_EQ(GetUrlCookies(u"http://blog.example.org/"_s), u"pref=1"_s);
    // The flood's oldest went; its newest stay.
    EXPECT_EQ(GetUrlCookies(u"http://ww0.sinaimg.cn/"_s), QString());
    EXPECT_EQ(GetUrlCookies(u"http://ww39.sinaimg.cn/"_s).count(u"=v"_s), 120);
    // Only a login's own sites may push a login's cookies out.
    EXPECT_TRUE(m_dir.Read(u"cookies.txt"_s).contains("\tSUB\t_2A2login\n"));
}

// Another process keeping the same file (the window beside tamblin-cli):
// forked at once, with this process's cookies and view of the file, it runs
// `run` only when told to.
class OtherProcess {
public:
    explicit OtherProcess(const std::function<void()> &run)
    {
        if (::pipe(m_go) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(m_go[1]);
            char go = 0;
            if (::read(m_go[0], &go, 1) == 1)
                run();
            ::_exit(0);
        }
        ::close(m_go[0]);
    }
    // Lets it run and waits for its end; true when it ended well.
    bool Run()
    {
        if (m_pid <= 0 || ::write(m_go[1], "g", 1) != 1)
            return false;
        ::close(m_go[1]);
        int status = -1;
        return ::waitpid(m_pid, &status, 0) == m_pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

private:
    int m_go[2] = {-1, -1};
    pid_t m_pid = -1;
};

// The window and tamblin-cli keep one file: each save merges what the other
// saved since, so that neither wipes the other's login.
TEST_F(CookieStoreTest, SavesOfTwoProcessesMergeAndKeepTheLogin)
{
    const auto add = [](const QString &name, const QString &value) {
        Store().AddCookie(Make(u"weibo.com"_s, false, u"/"_s, name, value, false, InAnHour()));
    };
    Store().AddCookie(Make(u"sinaimg.cn"_s, false, u"/"_s, u"pic"_s, u"1"_s));

    // The other logs in meanwhile: this one's next save keeps the login and
    // learns it.
    OtherProcess login([&] {
        add(u"SUB"_s, u"_2A2login"_s);
        add(u"SUBP"_s, u"login-p"_s);
    });
    ASSERT_TRUE(login.Run());
    Store().AddCookie(Make(u"sinaimg.cn"_s, false, u"/"_s, u"pic"_s, u"2"_s));
    EXPECT_EQ(GetUrlCookies(u"https://weibo.com/"_s), u"SUB=_2A2login; SUBP=login-p"_s);
    EXPECT_EQ(GetUrlCookies(u"https://sinaimg.cn/"_s), u"pic=2"_s);

    // One that never saw the login gets a visitor's SUB and SUBP after it
    // (in one answer, as the passport gives them), and a newer value of
    // another cookie: the login stays whole, the newer value wins.
    Store().SetFilePath(m_dir.File(u"fresh.txt"_s));
    add(u"X"_s, u"first"_s);
    OtherProcess guest([&] {
        Store().MergeExchange({}, {Make(u"weibo.com"_s, false, u"/"_s, u"SUB"_s, u"_2Akvisitor"_s, false, InAnHour()),
                                   Make(u"weibo.com"_s, false, u"/"_s, u"SUBP"_s, u"visitor-p"_s, false, InAnHour())});
        add(u"X"_s, u"newer"_s);
    });
    add(u"SUB"_s, u"_2A2login"_s);
    add(u"SUBP"_s, u"login-p"_s);
    add(u"X"_s, u"older"_s);
    ASSERT_TRUE(guest.Run());
    const QByteArray file = m_dir.Read(u"fresh.txt"_s);
    EXPECT_TRUE(file.contains("\tSUB\t_2A2login\n") && file.contains("\tSUBP\tlogin-p\n")) << file.toStdString();
    Store().AddCookie(Make(u"sinaimg.cn"_s, false, u"/"_s, u"pic"_s, u"3"_s));
    EXPECT_EQ(GetUrlCookies(u"https://weibo.com/"_s), u"X=newer; SUB=_2A2login; SUBP=login-p"_s);

    // A logout in the other stays a logout, though this one still held the
    // login and saves after it.
    OtherProcess logout([] { Store().RemoveCookie(u"weibo.com"_s, u"/"_s, u"SUB"_s); });
    ASSERT_TRUE(logout.Run());
    Store().AddCookie(Make(u"sinaimg.cn"_s, false, u"/"_s, u"pic"_s, u"4"_s));
    EXPECT_EQ(GetUrlCookies(u"https://weibo.com/"_s), u"X=newer; SUBP=login-p"_s);
    EXPECT_FALSE(m_dir.Read(u"fresh.txt"_s).contains("\tSUB\t")) << m_dir.Read(u"fresh.txt"_s).toStdString();
}

TEST(CookieLineTest, ParsesWhatItWritesAndRejectsNonCookies)
{
    Cookie c;
    c.domain = u"sina.com.cn"_s;
    c.hostOnly = false;
    c.path = u"/a"_s;
    c.name = u"n"_s;
    c.value = u"v=1"_s;
    c.expires = 1999999999;
    EXPECT_EQ(CookieLine(c), QByteArray(".sina.com.cn\tTRUE\t/a\tFALSE\t1999999999\tn\tv=1"));
    EXPECT_EQ(ParseCookieLine(CookieLine(c)), c);
    // Byte-order marks are kept, so a domain cookie never turns host-only
    // or the other way round.
    for (const QByteArray &line : {QByteArray("\xEF\xBB\xBF.a.com\tFALSE\t/\tFALSE\t0\t\xEF\xBB\xBFn\t\xEF\xBB\xBFv"),
                                   QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF" "a.com\tFALSE\t/\tFALSE\t0\tn\tv")}) {
        const std::optional<Cookie> parsed = ParseCookieLine(line);
        ASSERT_TRUE(parsed.has_value());
        EXPECT_TRUE(parsed->hostOnly);
        EXPECT_EQ(CookieLine(*parsed), line);
    }
    EXPECT_FALSE(ParseCookieLine("# comment").has_value());
    EXPECT_FALSE(ParseCookieLine("").has_value());
    EXPECT_FALSE(ParseCookieLine("a\tb\tc").has_value());
    EXPECT_FALSE(ParseCookieLine("x.com\tFALSE\t/\tFALSE\tsoon\tn\tv").has_value());
}

} // namespace
} // namespace tamblin::test

// What the cookie store refuses, how far it grows, and what its observers hear.
#include "net/CookieStore.h"

#include <gtest/gtest.h>

#include <QStringList>

using namespace Qt::StringLiterals;

namespace tamblin {
namespace {

Cookie Make(const QString &domain, bool hostOnly, const QString &name, const QString &value = u"v"_s)
{
    Cookie c;
    c.domain = domain;
    c.hostOnly = hostOnly;
    c.name = name;
    c.value = value;
    return c;
}

class CookieBoundsTest : public ::testing::Test {
protected:
    CookieBoundsTest()
    {
        Store().SetFilePath(QString());
        m_id = Store().AddObserver([this](const Cookie &c, bool removed) { heard << (removed ? u"-"_s : u"+"_s) + c.name; });
    }
    ~CookieBoundsTest() override
    {
        Store().RemoveObserver(m_id);
        Store().Clear();
    }
    static CookieStore &Store() { return CookieStore::Instance(); }

    QStringList heard;
    int m_id = 0;
};

TEST_F(CookieBoundsTest, KeepsOnlyWhatABrowserWouldSend)
{
    const Cookie refused[] = {
        Make(u"com"_s, false, u"tld"_s),                  // every .com host would get it
        Make(u"10.0.0.1"_s, false, u"ip"_s),              // a domain cookie on an address
        Make(u"weibo.com"_s, false, u"crlf"_s, u"a\r\nb"_s), // would break the file
        Make(u"weibo.com"_s, false, u"bell\a"_s),
        Make(u"weibo.com"_s, false, u"big"_s, QString(4094, u'x')),
        Make(QString(), true, u"nodomain"_s),
    };
    for (const Cookie &cookie : refused)
        Store().AddCookie(cookie);
    EXPECT_TRUE(Store().AllCookies().isEmpty());
    EXPECT_TRUE(heard.isEmpty());

    const Cookie kept[] = {
        Make(u"10.0.0.1"_s, true, u"ip"_s),
        Make(u"localhost"_s, true, u"local"_s),
        Make(u"weibo.com"_s, false, u"tab"_s, u"a\tb"_s),
        Make(u"weibo.com"_s, false, u"big"_s, QString(4093, u'x')),
    };
    for (const Cookie &cookie : kept)
        Store().AddCookie(cookie);
    EXPECT_EQ(Store().AllCookies().size(), std::size(kept));
}

TEST_F(CookieBoundsTest, ObserversHearChangesAndTheOldestGoFirstPastTheLimits)
{
    Store().AddCookie(Make(u"weibo.com"_s, false, u"SUB"_s));
    Store().AddCookie(Make(u"weibo.com"_s, false, u"SUB"_s)); // no change
    Store().AddCookie(Make(u"weibo.com"_s, false, u"SUB"_s, u"w"_s));
    Store().RemoveCookie(u"weibo.com"_s, u"/"_s, u"SUB"_s);
    EXPECT_EQ(heard, (QStringList{u"+SUB"_s, u"+SUB"_s, u"-SUB"_s}));

    heard.clear();
    const int extra = 5;
    for (int i = 0; i < CookieStore::kMaxCookiesPerDomain + extra; ++i)
        Store().AddCookie(Make(u"flood.example"_s, true, u"c%1"_s.arg(i)));
    const QList<Cookie> all = Store().AllCookies();
    ASSERT_EQ(all.size(), CookieStore::kMaxCookiesPerDomain);
    EXPECT_EQ(all.first().name, u"c%1"_s.arg(extra));
    EXPECT_EQ(heard.filter(u"-"_s), (QStringList{u"-c0"_s, u"-c1"_s, u"-c2"_s, u"-c3"_s, u"-c4"_s}));

    // The whole store is bounded too, across domains.
    for (int i = 0; i < CookieStore::kMaxCookies; ++i)
        Store().AddCookie(Make(u"d%1.example"_s.arg(i), true, u"n"_s));
    EXPECT_EQ(Store().AllCookies().size(), CookieStore::kMaxCookies);
    EXPECT_EQ(Store().AllCookies().first().domain, u"d0.example"_s); // the flood went first

    heard.clear();
    Store().RemoveObserver(m_id);
    Store().Clear();
    EXPECT_TRUE(heard.isEmpty());
}

} // namespace
} // namespace tamblin

// The login browser on a display (run under xvfb-run): a login in it reaches
// the engine's cookie store, another process, and back; the store's cookies
// reach the browser; a hostile page cannot swell the store.
#include "FakeService.h"
#include "TestSupport.h"
#include "WidgetTestHelpers.h"
#include "app/ComboBox2.h"
#include "app/TamblinDlg.h"
#include "grid/MyGridCtrl.h"
#include "login/BrowserSetup.h"
#include "login/DlgWebOpen.h"
#include "net/CookieStore.h"
#include "net/HttpClient.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QAction>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWebEngineView>

#include <atomic>
#include <thread>

using namespace Qt::StringLiterals;

namespace tamblin::test {
namespace {

constexpr char kData[] = R"j({
  "faults": [{"match": "http://weibo.com/fake/login?slow", "delay": 3}],
  "weibo_users": [{"uid": "2000000001", "nickname": "旅行的小鹿", "albums": [
    {"album_id": "3550001", "type": 3, "caption": "微博配图", "cover_pic": "http://ww1.sinaimg.cn/a1.jpg", "photos": 2}]},
    {"uid": "2000000003", "nickname": "山间小屋", "album_service": "502", "image_wall": {
      "pictures": ["006sHj2wly1h0000000000000a1"],
      "albums": [{"pic_title": "猫", "containerid": "107803_2000000003_1", "pictures": ["006sHj2wly1h000000000cat01"]}]}},
    {"uid": "2000000004", "nickname": "要验证", "needs_login": false, "album_service": "empty", "verify": "redirect",
     "image_wall": {"pictures": ["006sHj2wly1h0000000000000b1"],
      "albums": [{"pic_title": "狗", "containerid": "107803_2000000004_1", "pictures": ["006sHj2wly1h000000000dog01"]}]}}]
})j";

const QString kWeiboRoot = u"http://weibo.com/"_s;

// One service and one store file for the whole program: Chromium takes its
// proxy once, when the profile is first made.
class LoginBrowserTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new TempDir;
        s_service = new FakeService(kData);
        CookieStore::Instance().SetFilePath(s_dir->File(u"cookies.txt"_s));
        // Chromium trusts the certificates of its HOME's NSS database: one
        // that trusts the service, read when the browser first starts.
        const QString home = s_dir->Path() + u"home"_s;
        s_trusted = s_service->IsRunning() && s_service->TrustInBrowser(home);
        qputenv("HOME", QFile::encodeName(home));
    }
    static void TearDownTestSuite()
    {
        delete s_service;
        s_service = nullptr;
    }

    void TearDown() override
    {
        // Pages go before the profile does, at the end of the program.
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<CDlgWebOpen *>(w))
                delete w;
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_service->IsRunning());
        ASSERT_TRUE(s_trusted) << "certutil (libnss3-tools) could not make the browser's certificate store";
        QString why;
        ASSERT_TRUE(LoginBrowserAvailable(&why)) << why.toStdString();
    }

    static bool HasCookies(const QStringList &pairs)
    {
        const QStringList sent = GetUrlCookies(kWeiboRoot).split(u"; "_s);
        return std::all_of(pairs.begin(), pairs.end(), [&](const QString &p) { return sent.contains(p); });
    }
    static bool HasNone(const QStringList &pairs)
    {
        const QStringList sent = GetUrlCookies(kWeiboRoot).split(u"; "_s);
        return std::none_of(pairs.begin(), pairs.end(), [&](const QString &p) { return sent.contains(p); });
    }
    // The Cookie header of the last request of `url`.
    static QString LastCookieHeader(const QString &url)
    {
        QString header;
        for (const QJsonValue &request : s_service->Requests()) {
            if (request[u"url"_s].toString() != url)
                continue;
            header.clear();
            for (const QJsonValue &pair : request[u"headers"_s].toArray()) {
                if (pair[0].toString().compare(u"Cookie"_s, Qt::CaseInsensitive) == 0)
                    header = pair[1].toString();
            }
        }
        return header;
    }
    static bool PageDone(CDlgWebOpen *dialog)
    {
        return dialog && dialog->View() && dialog->View()->title() == u"done"_s;
    }

    static inline bool s_trusted = false;
    static inline TempDir *s_dir = nullptr;
    static inline FakeService *s_service = nullptr;
};

const QStringList kLogin{u"SUB=fake-login"_s, u"SUBP=script-login"_s};
// The passport login page, over https, as the real one: it also leaves the
// passport cookie that renews the login.
const QString kPassportLogin = u"https://passport.weibo.com/fake/login"_s;

TEST_F(LoginBrowserTest, ALoginReachesTheStoreAndTheNextProcessAndALogoutRemovesIt)
{
    // A worker asks the main window for a login: the browser runs modally on
    // the GUI thread, and is closed by hand once the page has loaded and the
    // cookies are in.
    CTamblinDlg gui(StartFolders{s_dir->Path(), s_dir->Path()});
    std::atomic<bool> returned = false;
    bool shown = false;
    std::thread worker([&] {
        shown = gui.OpenLogin(kPassportLogin);
        returned = true;
    });
    bool loggedIn = false;
    QElapsedTimer clock;
    clock.start();
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *dialog = qobject_cast<CDlgWebOpen *>(w);
            if (!dialog || !dialog->isVisible())
                continue;
            loggedIn = PageDone(dialog) && HasCookies(kLogin);
            if (loggedIn) {
                dialog->grab().save(QDir(TestOutputDir()).filePath(u"login-https.png"_s));
                // Both keep their scope: domain cookies, the one the answer set HttpOnly.
                for (const Cookie &cookie : CookieStore::Instance().CookiesForUrl(kWeiboRoot)) {
                    EXPECT_FALSE(cookie.hostOnly) << cookie.name.toStdString();
                    EXPECT_EQ(cookie.httpOnly, cookie.name == u"SUB"_s);
                }
            }
            if (loggedIn || clock.elapsed() > 30000)
                dialog->reject();
        }
    });
    user.start(50);
    ASSERT_TRUE(QTest::qWaitFor([&] { return returned.load(); }, 40000));
    worker.join();
    user.stop();
    EXPECT_TRUE(shown);
    ASSERT_TRUE(loggedIn) << GetUrlCookies(kWeiboRoot).toStdString();
    const QList<Cookie> passport = CookieStore::Instance().CookiesForUrl(u"https://passport.weibo.com/"_s);
    const auto alf = std::find_if(passport.begin(), passport.end(), [](const Cookie &c) { return c.name == u"ALF"_s; });
    ASSERT_NE(alf, passport.end());
    EXPECT_TRUE(alf->hostOnly && alf->secure && alf->domain == u"passport.weibo.com"_s);

    // A new process sends the login from the store's file.
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"TAMBLIN_COOKIE_FILE"_s, CookieStore::Instance().FilePath());
    cli.setProcessEnvironment(env);
    cli.setWorkingDirectory(s_dir->Path());
    cli.start(QString::fromUtf8(TAMBLIN_CLI_PATH), {u"list"_s, u"http://weibo.com/u/2000000001"_s});
    ASSERT_TRUE(cli.waitForFinished(60000));
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    EXPECT_TRUE(cli.readAllStandardOutput().contains("微博配图"));
    // The engine asks the Weibo hosts over https, where the login may go.
    const QStringList sent = LastCookieHeader(u"https://weibo.com/u/2000000001"_s).split(u"; "_s);
    for (const QString &pair : kLogin)
        EXPECT_TRUE(sent.contains(pair)) << sent.join(u"; "_s).toStdString();

    // Logging out in the browser removes both from the store.
    QPointer<CDlgWebOpen> current;
    CDlgWebOpen *window = CDlgWebOpen::OpenModeless(nullptr, current, u"http://weibo.com/fake/logout"_s);
    EXPECT_TRUE(QTest::qWaitFor([&] { return PageDone(window) && HasNone(kLogin); }, 30000))
        << GetUrlCookies(kWeiboRoot).toStdString();
    window->resize(700, 420);
    QTest::qWait(500);
    EXPECT_TRUE(window->grab().save(QDir(TestOutputDir()).filePath(u"login-browser.png"_s)));

    // Replacing the window while its page still loads.
    CDlgWebOpen::OpenModeless(nullptr, current, u"http://weibo.com/fake/login?slow"_s);
    QTest::qWait(300);
    QPointer<CDlgWebOpen> loading = current;
    CDlgWebOpen::OpenModeless(nullptr, current, QString());
    EXPECT_TRUE(loading.isNull());
    delete current.data();
}

TEST_F(LoginBrowserTest, CookiesThatReachTheStoreAnotherWayGoToTheBrowserInTheirScope)
{
    // As from an imported cookies.txt: a domain cookie, HttpOnly, and a
    // cookie of weibo.com alone.
    Cookie domain;
    domain.domain = u"weibo.com"_s;
    domain.hostOnly = false;
    // Not ALF: Chromium refuses a cookie over http that shares its name with
    // a Secure one of the domain, such as the passport's ALF of the login.
    domain.name = u"SCF"_s;
    domain.value = u"from-file"_s;
    domain.httpOnly = true;
    Cookie host = domain;
    host.hostOnly = true;
    host.name = u"HOST"_s;
    CookieStore::Instance().AddCookie(domain);
    CookieStore::Instance().AddCookie(host);

    QPointer<CDlgWebOpen> current;
    const QString page = u"http://weibo.com/u/2000000001"_s;
    CDlgWebOpen *window = CDlgWebOpen::OpenModeless(nullptr, current, page);
    EXPECT_TRUE(QTest::qWaitFor([&] { return LastCookieHeader(page).contains(u"HOST=from-file"_s); }, 30000))
        << LastCookieHeader(page).toStdString();
    EXPECT_TRUE(LastCookieHeader(page).contains(u"SCF=from-file"_s));
    const QString below = u"http://photo.weibo.com/albums/get_all?uid=2000000001&count=1"_s;
    window->Navigate(below);
    EXPECT_TRUE(QTest::qWaitFor([&] { return LastCookieHeader(below).contains(u"SCF=from-file"_s); }, 30000));
    EXPECT_FALSE(LastCookieHeader(below).contains(u"HOST="_s));
    for (const QString &name : {u"SCF"_s, u"HOST"_s})
        EXPECT_TRUE(CookieStore::Instance().RemoveCookie(u"weibo.com"_s, u"/"_s, name));
}

TEST_F(LoginBrowserTest, APageSettingThousandsOfCookiesLeavesTheStoreBoundedAndLoadable)
{
    QPointer<CDlgWebOpen> current;
    CDlgWebOpen *window = CDlgWebOpen::OpenModeless(nullptr, current, u"http://weibo.com/fake/cookie-flood?n=1000"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return PageDone(window); }, 150000))
        << window->View()->title().toStdString() << " " << window->View()->url().toString().toStdString()
        << " cookies " << CookieStore::Instance().AllCookies().size();
    // Let the last changes arrive.
    QTest::qWait(1500);
    delete current.data();

    const QList<Cookie> all = CookieStore::Instance().AllCookies();
    EXPECT_LE(all.size(), CookieStore::kMaxCookiesPerDomain);
    EXPECT_GT(all.size(), 20);
    for (const Cookie &cookie : all) {
        EXPECT_NE(cookie.domain, u"com"_s);
        EXPECT_NE(cookie.name, u"long"_s);
        EXPECT_NE(cookie.name, u"tld"_s);
    }
    // The file holds the same cookies and reads back.
    QFile file(CookieStore::Instance().FilePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    int lines = 0;
    for (const QByteArray &line : file.readAll().split('\n'))
        lines += ParseCookieLine(line).has_value();
    EXPECT_EQ(lines, all.size());
    // Not left to the next test: libcurl sends 150 cookies at most.
    for (const Cookie &cookie : all) {
        bool flood = false;
        cookie.name.mid(1).toUInt(&flood);
        if (flood && cookie.name.startsWith(u'f'))
            CookieStore::Instance().RemoveCookie(cookie.domain, cookie.path, cookie.name);
    }
}

TEST_F(LoginBrowserTest, ALoginFromTheWindowsMenuListsTheWeiboAlbumsAtTheNextRun)
{
    CookieStore::Instance().RemoveCookie(u"weibo.com"_s, u"/"_s, u"SUB"_s);
    TempDir start;
    auto owned = std::make_unique<CTamblinDlg>(StartFolders{start.Path(), start.Path()});
    CTamblinDlg &window = *owned;
    window.Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.Core().m_ready == 1 && window.isVisible(); }, 10000));

    // 登录 → 新浪微博; there the user opens the login page and logs in.
    QAction *weibo = window.findChild<QAction *>(u"32794"_s);
    ASSERT_NE(weibo, nullptr);
    EXPECT_TRUE(weibo->text().startsWith(u"新浪微博"_s));
    weibo->trigger();
    auto *browser = window.findChild<CDlgWebOpen *>();
    ASSERT_NE(browser, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(browser));
    // Its start page over https, sent on to the passport's login page, as
    // the real site does; a certificate the browser refused would show an
    // error page instead.
    EXPECT_TRUE(QTest::qWaitFor([&] { return browser->View()->title() == u"Sina Visitor System"_s; }, 30000))
        << browser->View()->title().toStdString();
    EXPECT_TRUE(browser->View()->url().toString().startsWith(u"https://passport.weibo.com/"_s));
    TypeInto(browser->findChild<QLineEdit *>(QString::number(CDlgWebOpen::kIdAddress)), kPassportLogin);
    QTest::mouseClick(browser->findChild<QPushButton *>(QString::number(CDlgWebOpen::kIdOpen)), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return PageDone(browser) && HasCookies(kLogin); }, 30000))
        << GetUrlCookies(kWeiboRoot).toStdString();
    browser->close();

    // The next run lists the albums; no login window, no message on the way.
    bool interrupted = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] { interrupted = interrupted || QApplication::activeModalWidget(); });
    watch.start(10);
    TypeInto(window.findChild<CComboBox2 *>(QString::number(CTamblinDlg::kIdAddressBox))->lineEdit(),
             u"http://weibo.com/u/2000000001"_s);
    QTest::mouseClick(window.findChild<QPushButton *>(QString::number(CTamblinDlg::kIdGetAlbums)), Qt::LeftButton);
    const auto *status = window.findChild<QLabel *>(QString::number(kIdStatusMain));
    ASSERT_TRUE(QTest::qWaitFor([&] { return status->text().startsWith(u"获取相册列表完成"_s); }, 30000))
        << status->text().toStdString();
    watch.stop();
    EXPECT_FALSE(interrupted);
    EXPECT_EQ(window.Grid()->GetItemText(1, 1), u"微博配图"_s);

    // Closing the window while a browser is open keeps the login.
    weibo->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.findChild<CDlgWebOpen *>()));
    QSignalSpy closed(&window, &CTamblinDlg::closed);
    window.close();
    ASSERT_TRUE(closed.wait(10000));
    owned.reset();
    EXPECT_TRUE(HasCookies(kLogin));
}

// A login cookie that has run out, with the passport cookie of a login made
// with 下次自动登录: the command line says so; the window renews it in a hidden
// page and lists the albums without a login window; a passport cookie the
// service no longer takes ends at the login window.
TEST_F(LoginBrowserTest, AnExpiredWeiboLoginIsRenewedWithoutTheLoginWindow)
{
    const QString address = u"https://weibo.com/u/2000000003"_s;
    QPointer<CDlgWebOpen> current;
    CDlgWebOpen *browser = CDlgWebOpen::OpenModeless(nullptr, current, kPassportLogin + u"?sub_max_age=8"_s);
    // The login's SUB reaches the store (Chromium can take seconds to tell
    // of a cookie), then runs out there.
    ASSERT_TRUE(QTest::qWaitFor([&] { return PageDone(browser) && HasCookies(kLogin); }, 30000));
    delete current.data();
    ASSERT_TRUE(QTest::qWaitFor([&] { return CookieStore::Instance().HasExpired(kWeiboRoot, u"SUB"_s); }, 15000));
    EXPECT_FALSE(HasCookies({u"SUB=fake-login"_s}));

    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"TAMBLIN_COOKIE_FILE"_s, CookieStore::Instance().FilePath());
    cli.setProcessEnvironment(env);
    cli.setWorkingDirectory(s_dir->Path());
    cli.start(QString::fromUtf8(TAMBLIN_CLI_PATH), {u"list"_s, address});
    ASSERT_TRUE(cli.waitForFinished(60000));
    EXPECT_NE(cli.exitCode(), 0);
    EXPECT_TRUE(QString::fromUtf8(cli.readAllStandardError()).contains(u"微博登录已过期"_s));

    TempDir start;
    auto window = std::make_unique<CTamblinDlg>(StartFolders{start.Path(), start.Path()});
    window->Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->Core().m_ready == 1 && window->isVisible(); }, 10000));
    const auto *status = window->findChild<QLabel *>(QString::number(kIdStatusMain));
    bool loginWindow = false;
    bool renewing = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!renewing && status->text() == u"正在刷新微博登录..."_s) {
            renewing = true;
            window->grab().save(QDir(TestOutputDir()).filePath(u"login-renewing.png"_s));
        }
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (qobject_cast<CDlgWebOpen *>(w) && w->isVisible()) {
                loginWindow = true;
                static_cast<QDialog *>(w)->reject();
            } else if (qobject_cast<QMessageBox *>(w) && w->isVisible()) {
                static_cast<QDialog *>(w)->accept(); // "no album found"
            }
        }
    });
    watch.start(10);
    const auto list = [&] {
        TypeInto(window->findChild<CComboBox2 *>(QString::number(CTamblinDlg::kIdAddressBox))->lineEdit(), address);
        QTest::mouseClick(window->findChild<QPushButton *>(QString::number(CTamblinDlg::kIdGetAlbums)), Qt::LeftButton);
        return QTest::qWaitFor([&] { return status->text().startsWith(u"获取相册列表完成"_s) && window->Core().m_albums.Size() > 0; }, 40000);
    };
    ASSERT_TRUE(list()) << status->text().toStdString();
    EXPECT_TRUE(renewing);
    EXPECT_FALSE(loginWindow);
    EXPECT_EQ(window->Grid()->GetItemText(1, 1), u"猫"_s);
    window->grab().save(QDir(TestOutputDir()).filePath(u"login-renewed.png"_s));
    // Over https only, as passport set it.
    EXPECT_TRUE(GetUrlCookies(u"https://weibo.com/"_s).contains(u"SUB=renewed-"_s));
    EXPECT_TRUE(s_service->RequestedUrls().contains(u"https://weibo.com/"_s));

    // A passport cookie the service does not take: the login window.
    Cookie revoked = CookieStore::Instance().CookiesForUrl(u"https://passport.weibo.com/"_s).value(0);
    ASSERT_EQ(revoked.name, u"ALF"_s);
    revoked.value = u"revoked"_s;
    CookieStore::Instance().AddCookie(revoked);
    CookieStore::Instance().RemoveCookie(u"weibo.com"_s, u"/"_s, u"SUB"_s);
    TypeInto(window->findChild<CComboBox2 *>(QString::number(CTamblinDlg::kIdAddressBox))->lineEdit(), address);
    QTest::mouseClick(window->findChild<QPushButton *>(QString::number(CTamblinDlg::kIdGetAlbums)), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return loginWindow; }, 40000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->Core().m_listState == 0; }, 40000));
    EXPECT_EQ(window->Core().m_albums.Size(), 0);
    watch.stop();
}

// Weibo sends the list to a verification page: the window opens its login
// browser there, saying so on its status line; once the person has passed
// and closed it, the list goes on with the cookies the browser left.
TEST_F(LoginBrowserTest, AWeiboDemandToVerifyOpensTheLoginBrowserThereAndTheListGoesOn)
{
    TempDir start;
    start.Write(u"下载器扩展设置.ini"_s, "[微博]\r\n请求间隔毫秒=0\r\n");
    auto window = std::make_unique<CTamblinDlg>(StartFolders{start.Path(), start.Path()});
    window->Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->Core().m_ready == 1 && window->isVisible(); }, 10000));
    const auto *status = window->findChild<QLabel *>(QString::number(kIdStatusMain));
    const auto *pictureStatus = window->findChild<QLabel *>(QString::number(kIdStatusPicture));
    QString statusWhileOpen;
    QString openedAt;
    bool passed = false;
    QTimer person;
    QObject::connect(&person, &QTimer::timeout, [&] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *dialog = qobject_cast<CDlgWebOpen *>(w);
            if (!dialog || !dialog->isVisible() || passed)
                continue;
            statusWhileOpen = pictureStatus->text();
            openedAt = dialog->StartPage();
            if (PageDone(dialog) && HasCookies({u"VF=passed"_s})) {
                passed = true;
                window->grab().save(QDir(TestOutputDir()).filePath(u"verify-window.png"_s));
                dialog->grab().save(QDir(TestOutputDir()).filePath(u"verify-browser.png"_s));
                dialog->reject();
            }
        }
    });
    person.start(50);
    TypeInto(window->findChild<CComboBox2 *>(QString::number(CTamblinDlg::kIdAddressBox))->lineEdit(),
             u"https://weibo.com/u/2000000004"_s);
    QTest::mouseClick(window->findChild<QPushButton *>(QString::number(CTamblinDlg::kIdGetAlbums)), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return status->text().startsWith(u"获取相册列表完成"_s); }, 60000))
        << status->text().toStdString();
    person.stop();
    EXPECT_TRUE(passed);
    EXPECT_EQ(statusWhileOpen, u"微博要求验证，请在打开的窗口中完成验证"_s);
    EXPECT_EQ(openedAt, u"https://security.weibo.com/captcha/verify?entry=miniblog"_s);
    EXPECT_EQ(window->Grid()->GetItemText(1, 1), u"狗"_s);
    EXPECT_EQ(pictureStatus->text(), QString());
    CookieStore::Instance().RemoveCookie(u"weibo.com"_s, u"/"_s, u"VF"_s);
}

} // namespace
} // namespace tamblin::test

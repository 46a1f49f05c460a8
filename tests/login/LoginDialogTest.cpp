// The login window's layout rules, start page and replacement, and the
// browser's proxy flags. Offscreen the window shows its notice in place of
// the browser; the browser itself is tested under a display (LoginBrowserTest).
#include "TestSupport.h"
#include "login/BrowserSetup.h"
#include "login/DlgWebOpen.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

using namespace Qt::StringLiterals;

namespace tamblin {
namespace {

template <typename W>
W *Control(const QWidget &dialog, int id)
{
    return dialog.findChild<W *>(QString::number(id));
}

// The offscreen platform has one screen (800 x 800 here). The login window
// is centred on its parent, then moved where it would stand off the screen:
// a window taller than the screen keeps its top (the title bar) on it.
TEST(DlgWebOpen, OpensCentredOnItsParentAndOnTheScreen)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_EQ(screen.topLeft(), QPoint(0, 0));
    ASSERT_GE(screen.width(), 800);
    ASSERT_GE(screen.height(), 600);
    const int w = screen.width();
    const int h = screen.height();
    // Where the window's frame ends up on each axis: centred on the parent's
    // frame, or at the screen's first or last pixel.
    enum Place { Centred, Low, High };
    struct Row {
        QRect parent;
        QSize dialog;
        Place x, y;
    } rows[] = {
        {{100, 100, 600, 400}, {400, 200}, Centred, Centred}, // fits
        {{0, 0, 700, h + 109}, {560, h + 210}, Centred, Low}, // taller than the screen
        {{0, 0, 300, 200}, {400, 300}, Low, Low},             // off the top-left
        {{w - 200, h - 150, 200, 150}, {300, 200}, High, High},
        {{-300, 100, 200, 200}, {100, 100}, Low, Centred}, // a parent half off screen
    };
    for (const Row &row : rows) {
        QWidget parent;
        parent.setGeometry(row.parent);
        parent.show();
        CDlgWebOpen dialog(&parent);
        dialog.setMinimumSize(0, 0);
        dialog.resize(row.dialog);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        const QRect frame = dialog.frameGeometry();
        const QRect around = parent.frameGeometry();
        const auto check = [](Place place, int at, int centre, int aroundCentre, int low, int high) {
            return place == Centred ? std::abs(centre - aroundCentre) <= 1 : at == (place == Low ? low : high);
        };
        EXPECT_TRUE(check(row.x, row.x == High ? frame.right() : frame.left(), frame.center().x(), around.center().x(),
                          screen.left(), screen.right()))
            << row.parent.x() << " " << frame.x();
        EXPECT_TRUE(check(row.y, row.y == High ? frame.bottom() : frame.top(), frame.center().y(), around.center().y(),
                          screen.top(), screen.bottom()))
            << row.parent.y() << " " << frame.y();
    }
}

TEST(DlgWebOpen, ButtonStaysFlushRightAndTheEditStretchesUpToIt)
{
    QGuiApplication::clipboard()->setText(u"http://weibo.com/u/2000000001 "_s);
    CDlgWebOpen dialog;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_EQ(dialog.windowTitle(), u"登录成功后手动关闭对话框"_s);
    auto *edit = Control<QLineEdit>(dialog, CDlgWebOpen::kIdAddress);
    auto *open = Control<QPushButton>(dialog, CDlgWebOpen::kIdOpen);
    QWidget *browser = Control<QWidget>(dialog, CDlgWebOpen::kIdBrowser);
    ASSERT_TRUE(edit && open && browser);
    // No start page: the clipboard text as it is, and nothing loaded.
    EXPECT_EQ(edit->text(), u"http://weibo.com/u/2000000001 "_s);
    EXPECT_EQ(open->text(), u"打开"_s);
    if (!dialog.BrowserAvailable()) {
        EXPECT_TRUE(static_cast<QLabel *>(browser)->text().contains(u"cookies.txt"_s));
        dialog.grab().save(QDir(test::TestOutputDir()).filePath(u"login-unavailable.png"_s));
    }

    const int editLeft = edit->x();
    const QSize buttonSize = open->size();
    for (const QSize size : {QSize(1100, 700), QSize(500, 300), dialog.size() + QSize(1, 1)}) {
        dialog.resize(size);
        EXPECT_EQ(open->geometry().right() + 1, dialog.width());
        EXPECT_EQ(open->size(), buttonSize);
        EXPECT_EQ(edit->x(), editLeft);
        EXPECT_EQ(edit->geometry().right() + 1 + 5, open->x());
        EXPECT_EQ(browser->geometry().right() + 1, dialog.width());
        EXPECT_EQ(browser->geometry().bottom() + 1, dialog.height());
        EXPECT_GT(browser->y(), edit->geometry().bottom());
    }
}

TEST(DlgWebOpen, AStartPageGoesIntoTheEditAndALaterLoginReplacesTheWindow)
{
    QWidget main;
    main.show();
    QPointer<CDlgWebOpen> current;
    CDlgWebOpen *first = CDlgWebOpen::OpenModeless(&main, current, u"https://weibo.com/login.php"_s);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(first));
    EXPECT_EQ(Control<QLineEdit>(*first, CDlgWebOpen::kIdAddress)->text(), u"https://weibo.com/login.php"_s);
    // Escape only hides the modeless window.
    QTest::keyClick(first, Qt::Key_Escape);
    EXPECT_FALSE(first->isVisible());
    EXPECT_EQ(current.data(), first);

    QPointer<CDlgWebOpen> old = first;
    CDlgWebOpen *second = CDlgWebOpen::OpenModeless(&main, current, QString());
    EXPECT_TRUE(old.isNull());
    EXPECT_EQ(current.data(), second);
    EXPECT_TRUE(second->isVisible());
}

TEST(BrowserSetup, ProxyFlagsFollowTheVariablesCurlReads)
{
    struct Case {
        const char *http;
        const char *https;
        const char *noProxy;
        QString flags;
    };
    const Case cases[] = {
        {"", "", "", QString()},
        {"127.0.0.1:3128", "", "", u"--proxy-server=http=http://127.0.0.1:3128"_s},
        {"http://p:8080/", "http://q", "weibo.com, .sina.com.cn",
         u"--proxy-server=http=http://p:8080;https=http://q:1080 --proxy-bypass-list=weibo.com;*.weibo.com;*.sina.com.cn"_s},
        {"http://p:8080", "", "*", QString()},
    };
    for (const Case &c : cases) {
        qputenv("http_proxy", c.http);
        qputenv("https_proxy", c.https);
        qputenv("no_proxy", c.noProxy);
        qunsetenv("HTTPS_PROXY");
        qunsetenv("NO_PROXY");
        qunsetenv("all_proxy");
        qunsetenv("ALL_PROXY");
        EXPECT_EQ(ChromiumProxyFlags(), c.flags) << c.http << " " << c.https << " " << c.noProxy;
    }
    qunsetenv("http_proxy");
    qunsetenv("https_proxy");
    qunsetenv("no_proxy");
}

} // namespace
} // namespace tamblin

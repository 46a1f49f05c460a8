#include "dialogs/Resources.h"
#include "splash/SplashScreenEx.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPointer>
#include <QPropertyAnimation>
#include <QScreen>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace tamblin {
namespace {

constexpr QRgb kKey = qRgb(212, 120, 120);

// Deleted objects are deleted by the event loop; let it run.
bool GoneWithin(const QPointer<CSplashScreenEx> &splash, int ms)
{
    return QTest::qWaitFor(
        [&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return splash.isNull();
        },
        ms);
}

QImage Plain(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(qRgb(30, 60, 110));
    return image;
}

TEST(SplashRegion, FollowsThePictureMinusTheTransparentColour)
{
    // No transparent pixel: the full rectangle, as one rectangle.
    EXPECT_EQ(CSplashScreenEx::RegionFromPicture(Plain(300, 167)), QRegion(0, 0, 300, 167));
    EXPECT_EQ(CSplashScreenEx::RegionFromPicture(Plain(300, 167)).rectCount(), 1);
    // A colour one step away from the key is opaque.
    QImage nearly = Plain(4, 3);
    nearly.setPixel(1, 1, qRgb(212, 120, 121));
    EXPECT_EQ(CSplashScreenEx::RegionFromPicture(nearly), QRegion(0, 0, 4, 3));

    // Runs on one row are split by key pixels; rows are independent.
    QImage image = Plain(6, 3);
    image.setPixel(0, 0, kKey);
    image.setPixel(3, 0, kKey);
    for (int x = 0; x < 6; ++x)
        image.setPixel(x, 1, kKey);
    image.setPixel(5, 2, kKey);
    QRegion expected;
    expected += QRect(1, 0, 2, 1);
    expected += QRect(4, 0, 2, 1);
    expected += QRect(0, 2, 5, 1);
    EXPECT_EQ(CSplashScreenEx::RegionFromPicture(image), expected);

    // The key is matched on colour alone, whatever the alpha channel says.
    QImage withAlpha(2, 1, QImage::Format_ARGB32);
    withAlpha.setPixel(0, 0, qRgba(212, 120, 120, 255));
    withAlpha.setPixel(1, 0, qRgba(0, 0, 0, 255));
    EXPECT_EQ(CSplashScreenEx::RegionFromPicture(withAlpha), QRegion(1, 0, 1, 1));

    // The program's own picture is cut at its corners but whole in the middle.
    const QImage picture = SplashPicture();
    ASSERT_EQ(picture.size(), QSize(300, 167));
    const QRegion shape = CSplashScreenEx::RegionFromPicture(picture);
    EXPECT_FALSE(shape.contains(QPoint(0, 166)));
    EXPECT_FALSE(shape.contains(QPoint(299, 0)));
    EXPECT_TRUE(shape.contains(QRect(30, 50, 261, 110)));
    EXPECT_EQ(shape.boundingRect(), QRect(0, 0, 300, 167));
}

TEST(Splash, CreateNeedsAParentAndCentresOnScreenOrParent)
{
    CSplashScreenEx orphan;
    EXPECT_FALSE(orphan.Create(nullptr, u"x"_s, 0, 0));

    QWidget owner;
    owner.setGeometry(200, 150, 600, 400);
    auto *onScreen = new CSplashScreenEx;
    ASSERT_TRUE(onScreen->Create(&owner, u"正在启动"_s, 0, CSplashScreenEx::kCenterScreen));
    ASSERT_TRUE(onScreen->SetBitmap(Plain(300, 167)));
    const QRect screen = owner.screen()->geometry();
    EXPECT_EQ(onScreen->Position(), QPoint(screen.left() + (screen.width() - 300) / 2,
                                           screen.top() + (screen.height() - 167) / 2));
    onScreen->Show();
    EXPECT_EQ(onScreen->geometry(), QRect(onScreen->Position(), QSize(300, 167)));
    EXPECT_TRUE(onScreen->isWindow());
    EXPECT_TRUE(onScreen->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(onScreen->windowType(), Qt::Tool);
    onScreen->Hide();

    auto *onParent = new CSplashScreenEx;
    ASSERT_TRUE(onParent->Create(&owner, u"正在启动"_s, 0, CSplashScreenEx::kCenterParent));
    ASSERT_TRUE(onParent->SetBitmap(Plain(300, 167)));
    const QRect frame = owner.frameGeometry();
    EXPECT_EQ(onParent->Position(), QPoint(frame.left() + (frame.width() - 300) / 2,
                                           frame.top() + (frame.height() - 167) / 2));
    EXPECT_EQ(onParent->mask(), QRegion(0, 0, 300, 167));
    onParent->Hide();
}

TEST(Splash, WithoutBlendingShowsAndHidesAtOnce)
{
    QWidget owner;
    QPointer<CSplashScreenEx> splash = new CSplashScreenEx;
    splash->SetCanAnimate(false);
    ASSERT_TRUE(splash->Create(&owner, u"正在启动"_s, 0, 0x0B));
    ASSERT_TRUE(splash->SetBitmap(SplashPicture()));
    splash->Show();
    EXPECT_TRUE(splash->isVisible());
    EXPECT_EQ(splash->Fade(), nullptr);
    EXPECT_DOUBLE_EQ(splash->windowOpacity(), 1.0);
    // Time-out 0: no timer, the splash stays until it is told to go.
    EXPECT_FALSE(splash->TimerActive());
    QTest::qWait(100);
    ASSERT_FALSE(splash.isNull());
    EXPECT_TRUE(splash->isVisible());
    splash->Hide();
    EXPECT_FALSE(splash->isVisible());
    EXPECT_TRUE(GoneWithin(splash, 1000));
}

TEST(Splash, BlendsInOverHalfASecondAndOutOverAFifth)
{
    QWidget owner;
    QPointer<CSplashScreenEx> splash = new CSplashScreenEx;
    splash->SetCanAnimate(true);
    ASSERT_TRUE(splash->Create(&owner, u"正在启动"_s, 0, 0x0B));
    ASSERT_TRUE(splash->SetBitmap(SplashPicture()));
    splash->Show();
    ASSERT_NE(splash->Fade(), nullptr);
    EXPECT_EQ(splash->Fade()->duration(), 500);
    EXPECT_LT(splash->windowOpacity(), 0.5);
    EXPECT_TRUE(QTest::qWaitFor([&] { return splash->Fade() == nullptr; }, 2000));
    EXPECT_DOUBLE_EQ(splash->windowOpacity(), 1.0);

    splash->Hide();
    ASSERT_NE(splash->Fade(), nullptr);
    EXPECT_EQ(splash->Fade()->duration(), 200);
    EXPECT_TRUE(splash->isVisible()); // still fading
    EXPECT_TRUE(GoneWithin(splash, 2000));
}

TEST(Splash, TimeOutHidesIt)
{
    QWidget owner;
    QPointer<CSplashScreenEx> splash = new CSplashScreenEx;
    ASSERT_TRUE(splash->Create(&owner, u"正在启动"_s, 50, 0));
    ASSERT_TRUE(splash->SetBitmap(Plain(40, 30)));
    splash->Show();
    EXPECT_TRUE(splash->TimerActive());
    EXPECT_TRUE(GoneWithin(splash, 2000));
}

TEST(Splash, FirstClickOrKeyHidesItWithStyle0x20)
{
    QWidget owner;
    QPointer<CSplashScreenEx> clicked = new CSplashScreenEx;
    ASSERT_TRUE(clicked->Create(&owner, u"正在启动"_s, 0, CSplashScreenEx::kHideOnInput));
    ASSERT_TRUE(clicked->SetBitmap(Plain(40, 30)));
    clicked->Show();
    QTest::mouseClick(clicked.data(), Qt::RightButton, Qt::NoModifier, QPoint(10, 10));
    EXPECT_TRUE(GoneWithin(clicked, 1000));

    QPointer<CSplashScreenEx> keyed = new CSplashScreenEx;
    ASSERT_TRUE(keyed->Create(&owner, u"正在启动"_s, 0, CSplashScreenEx::kHideOnInput));
    ASSERT_TRUE(keyed->SetBitmap(Plain(40, 30)));
    keyed->Show();
    QTest::keyClick(keyed.data(), Qt::Key_Escape); // hides; does not end the program
    EXPECT_TRUE(GoneWithin(keyed, 1000));

    // Without the style a click does nothing.
    QPointer<CSplashScreenEx> kept = new CSplashScreenEx;
    ASSERT_TRUE(kept->Create(&owner, u"正在启动"_s, 0, 0));
    ASSERT_TRUE(kept->SetBitmap(Plain(40, 30)));
    kept->Show();
    QTest::mouseClick(kept.data(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QTest::keyClick(kept.data(), Qt::Key_A);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(kept.isNull());
    EXPECT_TRUE(kept->isVisible());
    kept->Hide();
}

TEST(Splash, EscapeEndsTheProgramWithExitCodeZero)
{
    QWidget owner;
    auto *splash = new CSplashScreenEx;
    ASSERT_TRUE(splash->Create(&owner, u"正在启动"_s, 0, 0x0B));
    ASSERT_TRUE(splash->SetBitmap(Plain(40, 30)));
    splash->Show();
    QEventLoop program;
    QTimer::singleShot(0, splash, [splash] { QTest::keyClick(splash, Qt::Key_Escape); });
    QTimer::singleShot(3000, &program, [&program] { program.exit(42); });
    EXPECT_EQ(program.exec(), 0);
    // Let the application's own loop run once, which clears its quit state
    // for the tests after this one.
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

} // namespace
} // namespace tamblin

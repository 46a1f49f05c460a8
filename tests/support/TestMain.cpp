// main() of every test program: the environment first, then GoogleTest.
#include <gtest/gtest.h>

#include "sources/SourceSupport.h"

#include <QByteArray>
#include <QtGlobal>

#ifdef TAMBLIN_TEST_GUI
#include <QApplication>
#endif

int main(int argc, char **argv)
{
    // Widgets draw offscreen, and cookies stay in memory instead of the
    // user's data folder. A value set by the caller wins.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    if (!qEnvironmentVariableIsSet("TAMBLIN_COOKIE_FILE"))
        qputenv("TAMBLIN_COOKIE_FILE", QByteArray());
#ifdef TAMBLIN_TEST_GUI
    // Widget tests need an application object before the first widget.
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Tamblin"));
#endif
    // The services' pacing and back-off waits take no time unless a test
    // sets its own scale.
    tamblin::SetServiceWaitScale(0.0);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

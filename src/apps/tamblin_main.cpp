// tamblin: the desktop window.
#include "app/TamblinDlg.h"
#include "dialogs/DialogUnits.h"
#include "dialogs/Resources.h"
#include "login/BrowserSetup.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;

int main(int argc, char **argv)
{
    // The login browser's engine takes part of its set-up only before the
    // application object exists.
    tamblin::PrepareLoginBrowser();
    QApplication app(argc, argv);
    // The name of the per-user data folder, shared with tamblin-cli.
    QCoreApplication::setApplicationName(u"tamblin"_s);
    QGuiApplication::setApplicationDisplayName(QString::fromUtf16(tamblin::CTamblinDlg::kTitle));
    QApplication::setFont(tamblin::DialogFont(9));
    QApplication::setWindowIcon(tamblin::ProgramIcon());
    // The program ends when the main window has finished closing, not when
    // it is hidden while its workers stop.
    QApplication::setQuitOnLastWindowClosed(false);

    tamblin::CTamblinDlg window;
    QObject::connect(&window, &tamblin::CTamblinDlg::closed, &app, &QCoreApplication::quit);
    window.Start();
    const int status = QApplication::exec();
    if (!window.Shutdown()) {
        // A worker that would not stop in time may still use the window:
        // end without destroying anything. Pictures in flight were given up
        // and the settings file is only ever replaced whole.
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}

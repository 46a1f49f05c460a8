// tamblin: the desktop window.
#include "app/TamblinDlg.h"
#include "dialogs/DialogUnits.h"
#include "dialogs/Resources.h"
#include "login/BrowserSetup.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

const char kUsage[] =
    "Usage: tamblin [--help] [--version]\n"
    "\n"
    "Opens the window of Tamblin, the bulk downloader of the photo albums of\n"
    "one user of Sina's services (Sina photo, Sina blog, Weibo). tamblin-cli\n"
    "drives the same engine from scripts.\n"
    "\n"
    "--help     Show this text.\n"
    "--version  Show the program's version.\n";

} // namespace

int main(int argc, char **argv)
{
    // Answered before anything needs a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("tamblin " TAMBLIN_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
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

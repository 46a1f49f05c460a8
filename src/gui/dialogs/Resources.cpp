#include "dialogs/Resources.h"

using namespace Qt::StringLiterals;

namespace tamblin {

QIcon ProgramIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 256})
        icon.addFile(u":/tamblin/tamblin-%1.png"_s.arg(size), QSize(size, size));
    return icon;
}

QImage SplashPicture()
{
    return QImage(u":/tamblin/splash.png"_s);
}

} // namespace tamblin

// The program's resources, compiled in from res/ through Qt's resource
// system: the program icon and the splash picture. The stored texts are in
// app/StoredTexts.h.
#pragma once

#include "app/StoredTexts.h"

#include <QIcon>
#include <QImage>
#include <QString>

namespace tamblin {


// The program icon in all its sizes.
QIcon ProgramIcon();

// The splash picture: 300 x 167, opaque, cut where it holds
// RGB(212, 120, 120).
QImage SplashPicture();

} // namespace tamblin

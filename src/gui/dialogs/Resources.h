// The program's resources, compiled in from res/ through Qt's resource
// system: the program icon, the splash picture and the table of stored texts.
#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

namespace tamblin {

// Numbers of the stored texts (res/StoredTexts.txt).
enum StoredTextId : int {
    kTextAboutMenu = 101,       // system menu item of the About box
    kTextBanner = 201,          // banner line of the main window
    kTextSplash = 202,          // start-up text on the splash
    kTextAboutInfo = 203,       // information line of the About box
    kTextHomeLink = 204,        // caption of the main window's home link
    kTextHomeAddress = 205,     // address opened by the home link
    kTextToolsAddress = 206,    // "文件处理"
    kTextHelpAddress = 207,     // "使用说明"
    kTextContactAddress = 208,  // "软件咨询"
    kTextBadAddress = 209,      // empty address or one without "http://"
    kTextNoAlbumChosen = 210,   // download pressed with no album chosen
    kTextSourceNames = 300,     // 300 + site index: display names of the source selector
};

// The stored text with that number; empty when the table has none.
QString StoredText(int id);

// The program icon in all its sizes.
QIcon ProgramIcon();

// The splash picture: 300 x 167, opaque, cut where it holds
// RGB(212, 120, 120).
QImage SplashPicture();

} // namespace tamblin

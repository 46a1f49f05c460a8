// The program's table of stored texts (res/StoredTexts.txt, compiled in):
// messages, the banner, addresses and the names of the source selector, in
// one place for the window, tamblin-cli and the engine.
#pragma once

#include <QString>
#include <QStringList>

namespace tamblin {

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
    kTextBadAddress = 209,      // empty address or one without "http://" or "https://"
    kTextNoAlbumChosen = 210,   // download pressed with no album chosen
    kTextFeedbackAddress = 211, // "问题反馈"
    kTextSourceNames = 300,     // 300 + site index: display names of the source selector
};

// The stored text with that number; empty when the table has none.
QString StoredText(int id);

// Display names of the source selector, in site-index order (16 entries).
QStringList SiteNames();

namespace texts {
// Shown by either button when its worker thread cannot be started.
inline constexpr char16_t kThreadFailed[] = u"Create thread:GetListFunc failed.";
} // namespace texts

} // namespace tamblin

// What the engine's workers ask of the window they serve.
//
// The desktop window implements it by marshalling every call to its GUI
// thread, the command-line program by writing to the terminal, and the tests
// by recording the calls. Workers call it from their own threads.
#pragma once

#include <QList>
#include <QString>

namespace tamblin {

// Controls whose text the workers set.
enum ControlId : int {
    kIdStatusMain = 1009,    // main status line
    kIdStatusPicture = 1006, // progress of single pictures
    kIdAlbumFrame = 1011,    // frame of the grid; its caption shows the album count
};

// What a list run that found no album advises.
enum class NoAlbumAdvice {
    None,   // nothing a login changes: the cause alone
    LogIn,  // a login may show albums: the login hint
    Verify, // the service wants the person to verify (the cause names where)
};

class WindowPort {
public:
    virtual ~WindowPort() = default;

    // Text of a status line or the grid frame (ControlId).
    virtual void SetItemText(int controlId, const QString &text) = 0;
    // A plain OK message box; returns when the user has closed it.
    virtual void ShowMessage(const QString &text) = 0;

    // Album `index` of the core's album list was added: show its row.
    virtual void AlbumAdded(int index) = 0;
    // Album indices chosen for download, in grid order.
    virtual QList<int> ChosenAlbums() = 0;

    virtual void SetListBusyUi() = 0;
    virtual void SetListIdleUi() = 0;
    virtual void SetDownBusyUi() = 0;
    virtual void SetDownIdleUi() = 0;

    virtual QString AddressText() = 0;
    virtual QString SavePathText() = 0;
    // Offers `text` in the address box (which 0) or save-path box (which 1).
    virtual void AddHistoryItem(int which, const QString &text) = 0;
    // Empties the item list of a box before the histories are loaded.
    virtual void ClearHistoryItems(int which) = 0;

    // Opens a folder in the platform's file browser.
    virtual void OpenFolder(const QString &path) = 0;

    // A worker needs a login: shows the login browser modally at `startUrl`
    // (empty: no page loaded) and returns once the user has closed it; true
    // when a browser was shown. Front ends without one return false and the
    // worker tells the user another way.
    virtual bool OpenLogin(const QString &startUrl)
    {
        Q_UNUSED(startUrl);
        return false;
    }

    // The service wants the person to verify (a captcha, a security check)
    // at `url`, an https page of Weibo or Sina: shows the login browser
    // modally there and returns once the user has closed it; true when a
    // browser was shown (the caller then asks again with the cookies it
    // left). Front ends without one say what to do and return false.
    virtual bool OpenVerification(const QString &url)
    {
        Q_UNUSED(url);
        return false;
    }

    // A list run found no album. `cause` is why (a page that could not be
    // fetched, naming the host; the service's error; where it wants the
    // person to verify), empty when the pages came and held no album;
    // `advice` what the user may do about it. A front end with a better
    // word than the window's (a terminal cannot log in) says it and returns
    // true; otherwise the window's text is shown (NoAlbumText).
    virtual bool ExplainNoAlbums(int subMode, const QString &cause, NoAlbumAdvice advice)
    {
        Q_UNUSED(subMode);
        Q_UNUSED(cause);
        Q_UNUSED(advice);
        return false;
    }
};

} // namespace tamblin

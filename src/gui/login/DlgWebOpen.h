// "登录成功后手动关闭对话框": the login browser. The user logs in to a site
// inside it and closes it by hand; the cookies of the login reach the
// engine's cookie store through the shared profile (BrowserSetup.h).
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

class QLineEdit;
class QObject;
class QPushButton;
class QWebEngineView;

namespace tamblin {

class CDlgWebOpen : public QDialog {
    Q_OBJECT

public:
    enum ControlId : int {
        kIdAddress = 1001,
        kIdBrowser = 1025,
        kIdOpen = 1026,
    };

    explicit CDlgWebOpen(QWidget *parent = nullptr);

    // Set before the window is first shown; may be empty: then the clipboard
    // text goes into the address edit and nothing is loaded.
    void SetStartPage(const QString &url) { m_startPage = url; }
    QString StartPage() const { return m_startPage; }

    // Loads `url` as it stands (no trimming, no scheme added).
    void Navigate(const QString &url);

    // The browser, or the notice shown in its place when the browser cannot
    // run here (control 1025 either way).
    QWidget *BrowserControl() const { return m_browser; }
    // Null when the browser cannot run here.
    QWebEngineView *View() const { return m_view; }
    bool BrowserAvailable() const { return m_view != nullptr; }

    // From the login menu: destroys the window `current` points to, builds a
    // new one owned by `mainWindow` at `startUrl`, shows it modeless and
    // stores it in `current`. Closing it only hides it.
    static CDlgWebOpen *OpenModeless(QWidget *mainWindow, QPointer<CDlgWebOpen> &current, const QString &startUrl);
    // A login that a task needs now: the window without a parent, shown
    // application-modal on the GUI thread; it deletes itself when closed,
    // after its cookies have reached the store (finished() tells).
    static CDlgWebOpen *OpenModal(const QString &startUrl);

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void OpenStartPage();
    void OnOpen();

    QString m_startPage;
    bool m_opened = false;
    QLineEdit *m_address;
    QPushButton *m_open;
    QWidget *m_browser = nullptr;
    QWebEngineView *m_view = nullptr;
};

} // namespace tamblin

#include "login/DlgWebOpen.h"

#include "app/ClipboardText.h"
#include "dialogs/DialogUnits.h"
#include "login/BrowserSetup.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#ifdef TAMBLIN_HAVE_WEBENGINE
#include <QWebEnginePage>
#include <QWebEngineView>
#endif

#include <algorithm>

using namespace Qt::StringLiterals;

namespace tamblin {

namespace {

// Gap between the address edit and the button once the window is resized.
constexpr int kEditButtonGap = 5;

} // namespace

CDlgWebOpen::CDlgWebOpen(QWidget *parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint
                          | Qt::WindowCloseButtonHint)
{
    DialogTemplate dlg(this, u"登录成功后手动关闭对话框"_s, 9, 470, 381);
    // Unlike the other templates, this frame can be resized.
    const QSize initial = size();
    setMinimumSize(dlg.Units().X(100), dlg.Units().Y(40));
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(initial);

    QString why;
    if (LoginBrowserAvailable(&why)) {
#ifdef TAMBLIN_HAVE_WEBENGINE
        m_view = new QWebEngineView(this);
        m_view->setPage(new QWebEnginePage(LoginProfile(), m_view));
        m_browser = m_view;
#endif
    }
    if (!m_view) {
        auto *notice = new QLabel(LoginBrowserUnavailableText(why), this);
        notice->setWordWrap(true);
        notice->setAlignment(Qt::AlignCenter);
        notice->setMargin(dlg.Units().X(8));
        notice->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_browser = notice;
    }
    dlg.Place(m_browser, kIdBrowser, 0, 17, 470, 364);
    dlg.Place(new QLabel(u"网址："_s, this), 0, 2, 4, 24, 9);
    auto *address = dlg.Place(new QLineEdit(this), kIdAddress, 27, 2, 410, 12);
    auto *open = dlg.Place(new QPushButton(u"打开"_s, this), kIdOpen, 438, 1, 32, 14);
    dlg.FitTexts();
    // Enter in the address edit opens the address rather than closing the window.
    open->setDefault(true);
    connect(open, &QPushButton::clicked, this, &CDlgWebOpen::OnOpen);
    // Set last: the resize rules apply once every control exists.
    m_address = address;
    m_open = open;
}

void CDlgWebOpen::Navigate(const QString &url)
{
#ifdef TAMBLIN_HAVE_WEBENGINE
    if (m_view)
        m_view->load(QUrl(url));
#else
    Q_UNUSED(url);
#endif
}

void CDlgWebOpen::OnOpen()
{
    Navigate(m_address->text());
}

void CDlgWebOpen::OpenStartPage()
{
    if (m_startPage.isEmpty()) {
        m_address->setText(ReadClipboardText());
        return;
    }
    m_address->setText(m_startPage);
    Navigate(m_startPage);
}

bool CDlgWebOpen::event(QEvent *event)
{
    // The first page turns the window into an OpenGL one; on X11 Qt makes
    // it anew without its place among the modal windows, and the main
    // window would take clicks again. Shown once more, it is modal again.
    if (event->type() == QEvent::WinIdChange && isModal()) {
        QTimer::singleShot(0, this, [this] {
            if (isVisible() && !QGuiApplication::modalWindow()) {
                hide();
                show();
            }
        });
    }
    return QDialog::event(event);
}

void CDlgWebOpen::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_opened)
        return;
    m_opened = true;
    CentreOnParent(this);
    OpenStartPage();
}

void CDlgWebOpen::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    if (!m_open)
        return;
    const int cx = width();
    const int cy = height();
    const QRect browser = m_browser->geometry();
    m_browser->setGeometry(browser.left(), browser.top(), std::max(0, cx - browser.left()),
                           std::max(0, cy - browser.top()));
    QRect button = m_open->geometry();
    button.moveLeft(cx - button.width());
    m_open->setGeometry(button);
    const QRect edit = m_address->geometry();
    m_address->setGeometry(edit.left(), edit.top(), std::max(0, button.left() - kEditButtonGap - edit.left()),
                           edit.height());
}

CDlgWebOpen *CDlgWebOpen::OpenModeless(QWidget *mainWindow, QPointer<CDlgWebOpen> &current, const QString &startUrl)
{
    delete current.data();
    auto *dialog = new CDlgWebOpen(mainWindow);
    dialog->SetStartPage(startUrl);
    current = dialog;
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    return dialog;
}

CDlgWebOpen *CDlgWebOpen::OpenModal(const QString &startUrl)
{
    auto *dialog = new CDlgWebOpen;
    dialog->SetStartPage(startUrl);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::ApplicationModal);
    // The task goes on once the login's cookies are in the store, not only
    // in the browser.
    connect(dialog, &QDialog::finished, dialog, [] { FlushLoginCookies(); });
    dialog->show();
    return dialog;
}

} // namespace tamblin

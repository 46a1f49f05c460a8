#include "ConsoleWindow.h"

#include "app/AlbumList.h"
#include "app/TamblinCore.h"
#include "download/WorkerPool.h"
#include "net/CookieStore.h"
#include "sources/ListTexts.h"
#include "sources/SourceSupport.h"

#include <algorithm>
#include <utility>

namespace tamblin {

using namespace Qt::StringLiterals;

ConsoleWindow::ConsoleWindow(std::FILE *rows, std::FILE *messages)
    : m_rows(rows)
    , m_messages(messages)
{
}

void ConsoleWindow::WriteLine(std::FILE *stream, const QString &text)
{
    ClearBarLocked();
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
    DrawBarLocked();
}

void ConsoleWindow::ClearBarLocked()
{
    if (!m_barShown)
        return;
    std::fputs("\r\033[K", m_messages);
    m_barShown = false;
}

void ConsoleWindow::DrawBarLocked()
{
    if (!m_bar)
        return;
    QString line;
    if (m_barActive && m_barTotal != 0)
        line = BarText(m_barDone, m_barTotal, 30) + u"  "_s;
    line += m_barText;
    if (line.isEmpty())
        return;
    const QByteArray bytes = (u"\r\033[K"_s + line).toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), m_messages);
    std::fflush(m_messages);
    m_barShown = true;
}

QString ConsoleWindow::BarText(std::uint32_t done, std::uint32_t total, int width)
{
    const std::uint32_t shown = std::min(done, total);
    const int filled = total == 0 ? 0 : int(std::uint64_t(shown) * std::uint64_t(width) / total);
    return u"[%1%2] %3/%4"_s.arg(QString(filled, u'#'), QString(width - filled, u'.')).arg(shown).arg(total);
}

void ConsoleWindow::SetChosen(const QList<int> &albums)
{
    std::lock_guard lock(m_mutex);
    m_chooseAll = false;
    m_chosen = albums;
}

void ConsoleWindow::SetProgressBar(bool on)
{
    std::lock_guard lock(m_mutex);
    m_bar = on;
}

void ConsoleWindow::DrawProgress(std::uint32_t done, std::uint32_t total)
{
    std::lock_guard lock(m_mutex);
    // The full count comes with the pool's own last text; a late tick must
    // not bring back the bar of a pool that has ended.
    if (!m_bar || total == 0 || done >= total)
        return;
    if (m_barActive && done == m_barDone && total == m_barTotal)
        return;
    m_barActive = true;
    m_barDone = done;
    m_barTotal = total;
    DrawBarLocked();
}

void ConsoleWindow::FinishProgress()
{
    std::lock_guard lock(m_mutex);
    if (!m_barActive)
        return;
    ClearBarLocked();
    m_barActive = false;
    m_barTotal = 0;
    // The pool's last word stays on the terminal.
    if (!m_barText.isEmpty()) {
        const QString last = std::exchange(m_barText, QString());
        WriteLine(m_messages, last);
    }
}

QString ConsoleWindow::RowText(int rowNumber, const QString &name, int count, int flags)
{
    return u"%1\t%2\t%3\t%4"_s.arg(rowNumber, 4, 10, QChar(u'0')).arg(name, CountText(count), RemarkText(flags));
}

void ConsoleWindow::SetItemText(int controlId, const QString &text)
{
    std::lock_guard lock(m_mutex);
    // With the bar, the picture status rides on its line instead of filling
    // the terminal with a line per picture.
    if (m_bar && controlId == kIdStatusPicture) {
        m_barText = text;
        if (g_poolRunning) {
            m_barActive = true;
            m_barDone = g_jobsDone;
            m_barTotal = g_jobsTotal;
        }
        ClearBarLocked();
        DrawBarLocked();
        return;
    }
    if (text.isEmpty())
        return;
    WriteLine(m_messages, text);
}

bool ConsoleWindow::OpenLogin(const QString &startUrl)
{
    // A login the store held and that has ended since: the window's login
    // browser renews it by itself, a terminal cannot. A login is needed, so
    // any SUB left is no live login; the passport's ALF outlives the login
    // it made, also when a visitor's SUB has since taken the ended one's
    // place.
    CookieStore &store = CookieStore::Instance();
    const QList<Cookie> passport = store.CookiesForUrl(u"https://passport.weibo.com/"_s);
    const bool expired = store.HasExpired(u"https://weibo.com/"_s, u"SUB"_s)
        || std::any_of(passport.begin(), passport.end(), [](const Cookie &c) { return c.name == u"ALF"_s; });
    std::lock_guard lock(m_mutex);
    if (expired)
        WriteLine(m_messages, u"tamblin-cli: 微博登录已过期 (the Weibo login in the cookie store has expired): open "
                              u"the window once and log in with <登录> 新浪微博 (a login made there with "
                              u"下次自动登录 renews itself), or pass fresh cookies with --cookies FILE"_s);
    else
        WriteLine(m_messages, u"tamblin-cli: this needs a Weibo login: log in at %1 in a browser, export its cookies "
                              u"as cookies.txt and pass them with --cookies FILE"_s.arg(startUrl));
    return false;
}

void ConsoleWindow::ShowMessage(const QString &text)
{
    std::lock_guard lock(m_mutex);
    WriteLine(m_messages, text);
}

void ConsoleWindow::AlbumAdded(int index)
{
    const ST_PERLISTRECORD *album = m_core ? m_core->m_albums.At(index) : nullptr;
    if (!album)
        return;
    std::lock_guard lock(m_mutex);
    ++m_shownRows;
    if (m_printRows)
        WriteLine(m_rows, RowText(m_shownRows, album->name, album->count, album->flags));
}

QList<int> ConsoleWindow::ChosenAlbums()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_chooseAll)
            return m_chosen;
    }
    QList<int> all;
    if (m_core) {
        for (int i = 0; i < m_core->m_albums.Size(); ++i)
            all.append(i);
    }
    return all;
}

void ConsoleWindow::SetListBusyUi()
{
    std::lock_guard lock(m_mutex);
    m_shownRows = 0;
    WriteLine(m_messages, QString::fromUtf16(texts::kListBusy));
}

void ConsoleWindow::SetListIdleUi()
{
    std::lock_guard lock(m_mutex);
    std::fflush(m_rows);
    std::fflush(m_messages);
}

void ConsoleWindow::SetDownBusyUi()
{
    m_downStarted = true;
}

void ConsoleWindow::SetDownIdleUi()
{
    std::lock_guard lock(m_mutex);
    ClearBarLocked();
    m_barActive = false;
    m_barTotal = 0;
    m_barText.clear();
    std::fflush(m_messages);
}

QString ConsoleWindow::AddressText()
{
    return m_address;
}

QString ConsoleWindow::SavePathText()
{
    return m_savePath;
}

void ConsoleWindow::AddHistoryItem(int, const QString &) {}

void ConsoleWindow::ClearHistoryItems(int) {}

void ConsoleWindow::OpenFolder(const QString &) {}

bool ConsoleWindow::ExplainNoAlbums(int subMode, const QString &cause, NoAlbumAdvice advice)
{
    const QString shown = ShownAddress(cause);
    const QString cookies = u"log in with a browser, export its cookies as a cookies.txt file and pass it with "
                            u"--cookies FILE."_s;
    QString text;
    if (cause == QStringView(texts::kWeiboNoUser))
        text = cause + u": the address names no Weibo user; give the address of a user's page, such as "
                       u"https://weibo.com/u/<uid> or https://weibo.com/<name>."_s;
    else if (advice == NoAlbumAdvice::Verify)
        text = u"No album found: %1. Complete the verification in the window (tamblin opens that page by itself), "
               u"or in a browser, then pass that browser's cookies with --cookies FILE."_s.arg(shown);
    else if (subMode == kSubModeWeibo && advice == NoAlbumAdvice::LogIn && !cause.isEmpty())
        text = u"No Weibo album found: %1. A Weibo login may show them: "_s.arg(shown) + cookies;
    else if (subMode == kSubModeWeibo && advice == NoAlbumAdvice::LogIn)
        text = u"No Weibo album found. Weibo shows albums only to a logged-in visitor: "_s + cookies;
    else if (!cause.isEmpty())
        text = u"No album found: %1."_s.arg(shown);
    else
        text = u"No album found at this address."_s;
    ShowMessage(text);
    return true;
}

bool ConsoleWindow::OpenVerification(const QString &url)
{
    std::lock_guard lock(m_mutex);
    WriteLine(m_messages, u"tamblin-cli: 微博要求验证 (Weibo wants a person to verify at %1): list this user in "
                          u"the window (tamblin), which opens that page for you, or complete it in a browser, "
                          u"export that browser's cookies as cookies.txt and pass them with --cookies FILE"_s
                              .arg(ShownAddress(url)));
    return false;
}

} // namespace tamblin

#include "ConsoleWindow.h"

#include "app/AlbumList.h"
#include "app/TamblinCore.h"
#include "sources/Texts.h"

namespace tamblin {

using namespace Qt::StringLiterals;

ConsoleWindow::ConsoleWindow(std::FILE *rows, std::FILE *messages)
    : m_rows(rows)
    , m_messages(messages)
{
}

void ConsoleWindow::WriteLine(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
}

QString ConsoleWindow::RowText(int rowNumber, const QString &name, int count, int flags)
{
    return u"%1\t%2\t%3\t%4"_s.arg(rowNumber, 4, 10, QChar(u'0')).arg(name, CountText(count), RemarkText(flags));
}

void ConsoleWindow::SetItemText(int, const QString &text)
{
    if (text.isEmpty())
        return;
    std::lock_guard lock(m_mutex);
    WriteLine(m_messages, text);
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

void ConsoleWindow::SetDownBusyUi() {}

void ConsoleWindow::SetDownIdleUi()
{
    std::lock_guard lock(m_mutex);
    WriteLine(m_messages, u"下载完毕"_s);
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

} // namespace tamblin

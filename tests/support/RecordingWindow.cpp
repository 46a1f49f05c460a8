#include "RecordingWindow.h"

namespace tamblin::test {

using namespace Qt::StringLiterals;

void RecordingWindow::Record(const QString &event)
{
    m_events.append(event);
}

void RecordingWindow::SetItemText(int controlId, const QString &text)
{
    std::lock_guard lock(m_mutex);
    m_texts[controlId].append(text);
    Record(u"Text%1:%2"_s.arg(controlId).arg(text));
}

void RecordingWindow::ShowMessage(const QString &text)
{
    std::lock_guard lock(m_mutex);
    m_messages.append(text);
    Record(u"Message:"_s + text);
}

void RecordingWindow::AlbumAdded(int index)
{
    std::lock_guard lock(m_mutex);
    Record(u"AlbumAdded:%1"_s.arg(index));
}

QList<int> RecordingWindow::ChosenAlbums()
{
    std::lock_guard lock(m_mutex);
    return m_chosen;
}

void RecordingWindow::SetListBusyUi()
{
    std::lock_guard lock(m_mutex);
    Record(u"ListBusy"_s);
}

void RecordingWindow::SetListIdleUi()
{
    std::lock_guard lock(m_mutex);
    Record(u"ListIdle"_s);
}

void RecordingWindow::SetDownBusyUi()
{
    std::lock_guard lock(m_mutex);
    Record(u"DownBusy"_s);
}

void RecordingWindow::SetDownIdleUi()
{
    std::lock_guard lock(m_mutex);
    Record(u"DownIdle"_s);
}

QString RecordingWindow::AddressText()
{
    std::lock_guard lock(m_mutex);
    return m_address;
}

QString RecordingWindow::SavePathText()
{
    std::lock_guard lock(m_mutex);
    return m_savePath;
}

void RecordingWindow::AddHistoryItem(int which, const QString &text)
{
    std::lock_guard lock(m_mutex);
    m_history[which ? 1 : 0].append(text);
    Record(u"History%1:%2"_s.arg(which).arg(text));
}

void RecordingWindow::ClearHistoryItems(int which)
{
    std::lock_guard lock(m_mutex);
    m_history[which ? 1 : 0].clear();
}

void RecordingWindow::OpenFolder(const QString &path)
{
    std::lock_guard lock(m_mutex);
    Record(u"OpenFolder:"_s + path);
}

void RecordingWindow::SetAddress(const QString &text)
{
    std::lock_guard lock(m_mutex);
    m_address = text;
}

void RecordingWindow::SetSavePath(const QString &text)
{
    std::lock_guard lock(m_mutex);
    m_savePath = text;
}

void RecordingWindow::SetChosen(const QList<int> &albums)
{
    std::lock_guard lock(m_mutex);
    m_chosen = albums;
}

QStringList RecordingWindow::Events() const
{
    std::lock_guard lock(m_mutex);
    return m_events;
}

QStringList RecordingWindow::Messages() const
{
    std::lock_guard lock(m_mutex);
    return m_messages;
}

QStringList RecordingWindow::Texts(int controlId) const
{
    std::lock_guard lock(m_mutex);
    return m_texts.value(controlId);
}

QString RecordingWindow::LastText(int controlId) const
{
    std::lock_guard lock(m_mutex);
    const QStringList texts = m_texts.value(controlId);
    return texts.isEmpty() ? QString() : texts.last();
}

QStringList RecordingWindow::HistoryItems(int which) const
{
    std::lock_guard lock(m_mutex);
    return m_history[which ? 1 : 0];
}

} // namespace tamblin::test

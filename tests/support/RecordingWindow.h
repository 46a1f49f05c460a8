// A WindowPort that records what the workers asked of the window.
#pragma once

#include "app/WindowPort.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <mutex>

namespace tamblin::test {

class RecordingWindow : public WindowPort {
public:
    void SetItemText(int controlId, const QString &text) override;
    void ShowMessage(const QString &text) override;
    void AlbumAdded(int index) override;
    QList<int> ChosenAlbums() override;
    void SetListBusyUi() override;
    void SetListIdleUi() override;
    void SetDownBusyUi() override;
    void SetDownIdleUi() override;
    QString AddressText() override;
    QString SavePathText() override;
    void AddHistoryItem(int which, const QString &text) override;
    void ClearHistoryItems(int which) override;
    void OpenFolder(const QString &path) override;

    // What the test sets up.
    void SetAddress(const QString &text);
    void SetSavePath(const QString &text);
    void SetChosen(const QList<int> &albums);

    // What happened, in order. Each event is "Name" or "Name:argument".
    QStringList Events() const;
    QStringList Messages() const;
    // The texts a control was given, in order.
    QStringList Texts(int controlId) const;
    QString LastText(int controlId) const;
    QStringList HistoryItems(int which) const;

private:
    void Record(const QString &event);

    mutable std::mutex m_mutex;
    QStringList m_events;
    QStringList m_messages;
    QMap<int, QStringList> m_texts;
    QStringList m_history[2];
    QString m_address;
    QString m_savePath;
    QList<int> m_chosen;
};

} // namespace tamblin::test

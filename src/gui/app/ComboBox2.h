// The address and save-path boxes: an editable combo box whose drop-down list
// offers the box's item list (the history and what was added since), sorted,
// and which suggests, in lower case, the items containing the typed text.
#pragma once

#include <QComboBox>
#include <QStringList>

class QCompleter;
class QStringListModel;

namespace tamblin {

class CComboBox2 : public QComboBox {
    Q_OBJECT

public:
    // An item holding this text is suggested only up to it.
    static constexpr QStringView kMarker = u"orv?!oxff";

    explicit CComboBox2(QWidget *parent = nullptr);

    // Appends to the item list; the drop-down shows it from its next opening.
    void AddItem(const QString &text);
    void ClearItems();
    const QStringList &Items() const { return m_items; }
    // What the suggestion list offers for the text typed last.
    QStringList Suggestions() const;
    bool SuggestionsShown() const;

    // The drop-down lists the item list, sorted, and keeps the typed text.
    void showPopup() override;

Q_SIGNALS:
    // The user changed the edit text by typing, after the suggestions followed.
    void editChanged(const QString &text);
    // The user picked an entry of the drop-down or of the suggestions; the
    // edit holds its text.
    void itemPicked(const QString &text);

private:
    void OnTextEdited(const QString &text);

    QStringList m_items;
    QStringListModel *m_suggestions;
    QCompleter *m_completer;
};

} // namespace tamblin

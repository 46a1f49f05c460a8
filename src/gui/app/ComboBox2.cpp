#include "app/ComboBox2.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QStringListModel>

namespace tamblin {

CComboBox2::CComboBox2(QWidget *parent)
    : QComboBox(parent)
    , m_suggestions(new QStringListModel(this))
    , m_completer(new QCompleter(this))
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    // The box's own completer would complete inline while typing; ours
    // offers a list under the edit and leaves the typed text alone.
    setCompleter(nullptr);
    m_completer->setModel(m_suggestions);
    m_completer->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    m_completer->setWidget(lineEdit());
    connect(lineEdit(), &QLineEdit::textEdited, this, &CComboBox2::OnTextEdited);
    connect(m_completer, qOverload<const QString &>(&QCompleter::activated), this, [this](const QString &text) {
        setEditText(text);
        emit itemPicked(text);
    });
    connect(this, &QComboBox::activated, this, [this](int index) {
        if (index >= 0)
            emit itemPicked(itemText(index));
    });
}

void CComboBox2::AddItem(const QString &text)
{
    m_items.append(text);
}

void CComboBox2::ClearItems()
{
    m_items.clear();
    const QSignalBlocker block(this);
    const QString kept = currentText();
    clear();
    setEditText(kept);
}

QStringList CComboBox2::Suggestions() const
{
    return m_suggestions->stringList();
}

bool CComboBox2::SuggestionsShown() const
{
    return m_completer->popup()->isVisible();
}

void CComboBox2::showPopup()
{
    m_completer->popup()->hide();
    const QString kept = currentText();
    QStringList sorted = m_items;
    sorted.sort(Qt::CaseInsensitive);
    {
        const QSignalBlocker block(this);
        clear();
        addItems(sorted);
        setCurrentIndex(-1);
        setEditText(kept);
    }
    QComboBox::showPopup();
}

void CComboBox2::OnTextEdited(const QString &text)
{
    QStringList matches;
    if (!text.isEmpty()) {
        const QString typed = text.toLower();
        for (const QString &item : std::as_const(m_items)) {
            QString copy = item.toLower();
            if (!copy.contains(typed))
                continue;
            const qsizetype marker = copy.indexOf(kMarker);
            if (marker >= 0)
                copy.truncate(marker);
            matches.append(copy);
        }
    }
    m_suggestions->setStringList(matches);
    if (matches.isEmpty()) {
        m_completer->popup()->hide();
    } else {
        m_completer->complete();
        m_completer->popup()->setCurrentIndex(QModelIndex());
        m_completer->popup()->setCursor(Qt::ArrowCursor);
    }
    emit editChanged(text);
}

} // namespace tamblin

#include "grid/InPlaceEdit.h"

#include <QKeyEvent>

CInPlaceEdit::CInPlaceEdit(QWidget *parent, const QRect &rect, const QString &text,
                           std::function<void(bool)> done)
    : QLineEdit(text, parent), m_done(std::move(done))
{
    setFrame(false);
    setGeometry(rect);
    selectAll();
    show();
    setFocus(Qt::OtherFocusReason);
}

void CInPlaceEdit::Finish(bool accept)
{
    if (!m_done)
        return;
    auto done = std::move(m_done);
    m_done = nullptr;
    done(accept);
}

void CInPlaceEdit::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Tab:
        Finish(true);
        return;
    case Qt::Key_Escape:
        Finish(false);
        return;
    default:
        QLineEdit::keyPressEvent(event);
    }
}

void CInPlaceEdit::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    Finish(true);
}

#include "WidgetTestHelpers.h"

#include <QAbstractButton>
#include <QApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QTest>

namespace tamblin::test {

MessageBoxAnswerer::MessageBoxAnswerer(const QString &screenshotPath) : m_screenshotPath(screenshotPath)
{
    connect(&m_timer, &QTimer::timeout, this, &MessageBoxAnswerer::Poll);
    m_timer.start(5);
}

void MessageBoxAnswerer::Poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    if (m_texts.isEmpty() && !m_screenshotPath.isEmpty())
        box->grab().save(m_screenshotPath, "PNG");
    m_texts.append(box->text());
    QAbstractButton *ok = box->button(QMessageBox::Ok);
    if (ok)
        QTest::mouseClick(ok, Qt::LeftButton);
    else
        box->close();
}

void TypeInto(QLineEdit *edit, const QString &text)
{
    QTest::mouseClick(edit, Qt::LeftButton);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Delete);
    // Latin text comes as key presses; anything else the way an input
    // method commits it.
    qsizetype i = 0;
    while (i < text.size()) {
        const QChar c = text[i];
        if (c.unicode() >= 0x20 && c.unicode() < 0x7F) {
            QTest::keyClick(edit, c.toLatin1());
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < text.size() && !(text[end].unicode() >= 0x20 && text[end].unicode() < 0x7F))
            ++end;
        QInputMethodEvent commit;
        commit.setCommitString(text.mid(i, end - i));
        QApplication::sendEvent(edit, &commit);
        i = end;
    }
}

void Click(QAbstractButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

void Drag(QWidget *widget, QPoint from, QPoint to)
{
    QTest::mousePress(widget, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(widget, to);
    QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, to);
}

} // namespace tamblin::test

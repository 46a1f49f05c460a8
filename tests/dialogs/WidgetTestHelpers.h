// Driving widgets the way a user does, and answering the message boxes they open.
#pragma once

#include <QObject>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTimer>

class QAbstractButton;
class QLineEdit;
class QWidget;

namespace tamblin::test {

// While it lives, every message box that opens is read and closed with a
// mouse click on its OK button.
class MessageBoxAnswerer : public QObject {
public:
    // With a path, the first box is also saved there as a PNG before it is closed.
    explicit MessageBoxAnswerer(const QString &screenshotPath = QString());
    QStringList Texts() const { return m_texts; }

private:
    void Poll();

    QTimer m_timer;
    QStringList m_texts;
    QString m_screenshotPath;
};

// Clicks into the edit, selects all and types `text` over it (empty text
// deletes the contents).
void TypeInto(QLineEdit *edit, const QString &text);
// A left click in the middle of a button.
void Click(QAbstractButton *button);
// Left press, move and release on the widget's own body.
void Drag(QWidget *widget, QPoint from, QPoint to);

} // namespace tamblin::test

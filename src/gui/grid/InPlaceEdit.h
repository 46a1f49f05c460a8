// The editor laid over a cell while its text is edited in place.
#pragma once

#include <QLineEdit>

#include <functional>

class CInPlaceEdit : public QLineEdit {
    Q_OBJECT

public:
    // `done` is called once, with true when the text is to be kept.
    CInPlaceEdit(QWidget *parent, const QRect &rect, const QString &text, std::function<void(bool)> done);

    void Finish(bool accept);
    // Ends without calling back.
    void Disarm() { m_done = nullptr; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    std::function<void(bool)> m_done;
};

// The main window in a temporary start folder, and what a test does with it
// as a user would: typing, clicking, waiting for the runs.
#pragma once

#include "TestSupport.h"

#include "app/SoftSettings.h"
#include "app/TamblinDlg.h"

#include <gtest/gtest.h>

#include <QList>
#include <QPushButton>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QLabel;

namespace tamblin::test {

class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes "soft.dat" into the start folder before the window reads it.
    void WriteSettings(const std::function<void(SoftSettings &)> &change) const;
    SoftSettings SavedSettings() const;

    // Creates the window (save folder proposed: `save`); with `startUp` it
    // also runs the start-up and waits until the window is shown and ready.
    void OpenWindow(bool startUp = true);

    template <typename T>
    T *Find(int id) const
    {
        return window->findChild<T *>(QString::number(id));
    }
    QPushButton *Button(int id) const { return Find<QPushButton>(id); }
    QString LabelText(int id) const;
    void Click(int id);
    void TypeAddress(const QString &text);
    void TypeSavePath(const QString &text);
    // A mouse click on row `row` of the grid (1 = the first album).
    void ClickRow(int row, Qt::KeyboardModifiers mods = Qt::NoModifier);

    // Waits until the run has ended and the window shows its end.
    bool WaitListIdle(int ms = 30000) const;
    bool WaitDownIdle(int ms = 60000) const;
    int Rows() const;
    QStringList Column(int col) const;

    static bool WaitFor(const std::function<bool()> &condition, int ms);

    TempDir start;
    QString save; // the proposed save folder, below the start folder
    std::unique_ptr<CTamblinDlg> window;
};

// Once a modal window of type T opens (within 20 s), runs `answer` on it.
void WhenModalOpens(const char *type, const std::function<bool(QWidget *)> &isIt, std::function<void(QWidget *)> answer);
template <typename T>
void WhenModalOpens(std::function<void(T *)> answer)
{
    WhenModalOpens(
        T::staticMetaObject.className(), [](QWidget *w) { return qobject_cast<T *>(w) != nullptr; },
        [answer](QWidget *w) { answer(qobject_cast<T *>(w)); });
}

// Files below `folder`, relative and sorted, with their contents.
QList<std::pair<QString, QByteArray>> FilesWithContents(const QString &folder);
QStringList FilesIn(const QString &folder);

} // namespace tamblin::test

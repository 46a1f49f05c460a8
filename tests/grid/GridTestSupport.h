// A grid on screen (offscreen), filled the way the album list fills it, and
// helpers that drive it with real mouse events.
#pragma once

#include "grid/MyGridCtrl.h"

#include <gtest/gtest.h>

#include <QList>
#include <QString>
#include <QStringList>

#include <tuple>
#include <vector>

namespace tamblin::test {

// CMyGridCtrl without modal windows: messages are recorded, the save dialog
// answers with `saveName`.
class TestGrid : public CMyGridCtrl {
public:
    QStringList messages;
    QString saveName;
    int saveAsked = 0;

    void ShowMessage(const QString &text) override { messages << text; }
    QString AskSaveFileName() override
    {
        ++saveAsked;
        return saveName;
    }
};

struct Album {
    QString name;
    int count;
    QString remark;
};

// One album row as the main window adds it (the grid is laid out by
// ResetAlbumGrid), with the remark text given.
int AddAlbumRow(CMyGridCtrl &grid, int index, const Album &album);

class GridFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Shows the grid and waits until it has been painted.
    void ShowGrid(int width = 900, int height = 400);
    // Fills the album grid with `albums`; row r (from 1) shows albums[r - 1].
    void Fill(const std::vector<Album> &albums);

    QPoint CellCenter(int row, int col) const;
    void Click(int row, int col, Qt::KeyboardModifiers mods = Qt::NoModifier);
    void Press(QPoint point, Qt::KeyboardModifiers mods = Qt::NoModifier);
    void Move(QPoint point, Qt::MouseButtons buttons = Qt::LeftButton);
    void Release(QPoint point, Qt::KeyboardModifiers mods = Qt::NoModifier);
    // Rows with a selected cell, top to bottom, through GetNextSelectedRow.
    QList<int> SelectedRows() const;
    QStringList Column(int col) const;

    TestGrid *grid = nullptr;
    std::vector<std::tuple<int, int, int>> notes; // code, row, column
    int commands = 0;
};

} // namespace tamblin::test

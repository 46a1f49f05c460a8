// "相册搜索": the small captionless box that finds albums in the grid (find
// mode, modeless) or asks for the keyword of the name filter (filter mode,
// modal).
#pragma once

#include <QDialog>
#include <QPoint>
#include <QString>

class CMyGridCtrl;
class QCheckBox;
class QLineEdit;
class QPushButton;

namespace tamblin {

class CDlgFind : public QDialog {
    Q_OBJECT

public:
    enum Mode : int { kModeFilter = 0, kModeFind = 1 };
    enum ControlId : int {
        kIdMatchCase = 1033,
        kIdWholeCell = 1034,
        kIdNext = 1006,
        kIdKeyword = 1639,
        kIdClose = 1699,
        kIdPrevious = 1701,
    };

    explicit CDlgFind(QWidget *parent = nullptr);

    // Shows or hides the find-only controls and names button 1006 for `mode`.
    void SetMode(int mode);
    int Mode() const { return m_mode; }
    void SetGrid(CMyGridCtrl *grid) { m_grid = grid; }

    // Find mode as the main window opens it from its find link: search
    // `grid`, switch its exclusive selection on, show the box centred on the
    // parent.
    void OpenFind(CMyGridCtrl *grid);

    // The keyword, trimmed, once filter mode ended with Accepted.
    QString Keyword() const { return m_keyword; }

    void reject() override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QString TrimmedKeyword() const;
    int StartRow() const;
    void OnNext();
    void OnPrevious();
    void OnClose();

    int m_mode = kModeFind;
    CMyGridCtrl *m_grid = nullptr;
    QString m_keyword;
    QLineEdit *m_edit;
    QCheckBox *m_matchCase;
    QCheckBox *m_wholeCell;
    QPushButton *m_previous;
    QPushButton *m_next;
    bool m_dragging = false;
    QPoint m_dragOffset;
};

} // namespace tamblin

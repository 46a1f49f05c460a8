#include "dialogs/DlgFind.h"

#include "dialogs/DialogUnits.h"
#include "grid/MyGridCtrl.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QWindow>

using namespace Qt::StringLiterals;

namespace tamblin {

CDlgFind::CDlgFind(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    DialogTemplate dlg(this, u"相册搜索"_s, 8, 130, 71);
    dlg.Place(new QLabel(u"相册搜索"_s, this), 0, 1, 1, 116, 10)->setContentsMargins(2, 0, 0, 0);
    // A push button's margins leave no room for "×" in 11 x 10 units.
    auto *close = dlg.Place(new QToolButton(this), kIdClose, 119, 0, 11, 10);
    close->setText(u"×"_s);
    close->setAutoRaise(true);
    dlg.Place(new QLabel(u"关键字:"_s, this), 0, 1, 16, 29, 9)->setContentsMargins(2, 0, 0, 0);
    m_edit = dlg.Place(new QLineEdit(this), kIdKeyword, 34, 15, 83, 14);
    m_matchCase = dlg.Place(new QCheckBox(u"区分大小写"_s, this), kIdMatchCase, 3, 34, 53, 11);
    m_wholeCell = dlg.Place(new QCheckBox(u"全字匹配"_s, this), kIdWholeCell, 77, 33, 45, 11);
    m_previous = dlg.Place(new QPushButton(u"上一个"_s, this), kIdPrevious, 4, 50, 41, 17);
    m_next = dlg.Place(new QPushButton(u"下一个"_s, this), kIdNext, 75, 50, 41, 17);
    dlg.FitTexts();

    close->setFocusPolicy(Qt::NoFocus);
    // Enter searches onwards in find mode and confirms the filter in filter mode.
    m_previous->setAutoDefault(false);
    m_next->setDefault(true);
    connect(close, &QToolButton::clicked, this, &CDlgFind::OnClose);
    connect(m_previous, &QPushButton::clicked, this, &CDlgFind::OnPrevious);
    connect(m_next, &QPushButton::clicked, this, &CDlgFind::OnNext);
    SetMode(kModeFind);
}

void CDlgFind::SetMode(int mode)
{
    m_mode = mode;
    const bool find = mode == kModeFind;
    m_matchCase->setVisible(find);
    m_wholeCell->setVisible(find);
    m_previous->setVisible(find);
    m_next->setText(find ? u"下一个"_s : u"筛选"_s);
}

void CDlgFind::OpenFind(CMyGridCtrl *grid)
{
    m_grid = grid;
    if (m_grid)
        m_grid->SetExclusiveSelection(true);
    SetMode(kModeFind);
    show();
    CentreOnParent(this);
    raise();
    activateWindow();
    m_edit->setFocus();
}

QString CDlgFind::TrimmedKeyword() const
{
    return m_edit->text().trimmed();
}

int CDlgFind::StartRow() const
{
    // The grid reports its row count as the smallest row when nothing is selected.
    return m_grid->GetSelectedCellRange().GetMinRow();
}

void CDlgFind::OnNext()
{
    if (m_mode != kModeFind) {
        m_keyword = TrimmedKeyword();
        accept();
        return;
    }
    if (!m_grid)
        return;
    QString keyword = TrimmedKeyword();
    const bool ignoreCase = !m_matchCase->isChecked();
    const bool wholeCell = m_wholeCell->isChecked();
    if (!m_grid->FindRow(StartRow(), keyword, 1, ignoreCase, wholeCell)) {
        // Wrap around: from just above the first album row.
        m_grid->FindRow(m_grid->GetFixedRowCount() - 1, keyword, 1, ignoreCase, wholeCell);
    }
}

void CDlgFind::OnPrevious()
{
    if (m_mode != kModeFind || !m_grid)
        return;
    QString keyword = TrimmedKeyword();
    const bool ignoreCase = !m_matchCase->isChecked();
    const bool wholeCell = m_wholeCell->isChecked();
    if (!m_grid->FindRow(StartRow(), keyword, 0, ignoreCase, wholeCell)) {
        // Wrap around: from just below the last row.
        m_grid->FindRow(m_grid->GetRowCount(), keyword, 0, ignoreCase, wholeCell);
    }
}

void CDlgFind::OnClose()
{
    if (m_mode != kModeFind) {
        QDialog::reject();
        return;
    }
    // The box is kept, hidden, for the next use.
    if (m_grid)
        m_grid->SetExclusiveSelection(false);
    hide();
}

void CDlgFind::reject()
{
    // Escape and the window system's close request end the box as its own
    // close button does.
    OnClose();
}

void CDlgFind::paintEvent(QPaintEvent *event)
{
    QDialog::paintEvent(event);
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void CDlgFind::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QDialog::mousePressEvent(event);
        return;
    }
    // The box has no caption bar: a press anywhere on its body drags it, by
    // the window system where it can move windows, by hand otherwise.
    if (windowHandle() && windowHandle()->startSystemMove())
        return;
    m_dragging = true;
    m_dragOffset = event->globalPosition().toPoint() - pos();
}

void CDlgFind::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging && (event->buttons() & Qt::LeftButton))
        move(event->globalPosition().toPoint() - m_dragOffset);
    else
        QDialog::mouseMoveEvent(event);
}

void CDlgFind::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_dragging && event->button() == Qt::LeftButton) {
        m_dragging = false;
        return;
    }
    QDialog::mouseReleaseEvent(event);
}

} // namespace tamblin

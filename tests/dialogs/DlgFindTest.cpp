#include "WidgetTestHelpers.h"

#include "dialogs/DlgFind.h"
#include "grid/MyGridCtrl.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace tamblin {
namespace {

class DlgFindTest : public ::testing::Test {
protected:
    // The album grid: a header row and five albums.
    DlgFindTest()
    {
        const QList<QStringList> rows = {{u"序号"_s, u"相册名"_s, u"张数"_s},
                                         {u"0001"_s, u"Summer abc"_s, u"12"_s},
                                         {u"0002"_s, u"旅行"_s, u"30"_s},
                                         {u"0003"_s, u"ABC"_s, u"7"_s},
                                         {u"0004"_s, u"家人"_s, u"abcd"_s},
                                         {u"0005"_s, u"其他"_s, u"1"_s}};
        m_grid.SetupGrid(1, int(rows.size()), 3, true);
        for (int r = 0; r < rows.size(); ++r)
            for (int c = 0; c < 3; ++c)
                m_grid.SetItemText(r, c, rows[r][c]);
        m_grid.resize(400, 300);
        m_grid.show();
    }
    void OpenFind()
    {
        m_box.OpenFind(&m_grid);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_box));
    }
    // The row the find box selected; the row count when none is.
    int Selected() const { return m_grid.GetSelectedCellRange().GetMinRow(); }
    void SelectNothing() { m_grid.ResetSelectedRange(); }
    template <typename W = QPushButton>
    W *Control(int id) { return m_box.findChild<W *>(QString::number(id)); }
    QLineEdit *Keyword() { return Control<QLineEdit>(CDlgFind::kIdKeyword); }
    QStringList Press(int id)
    {
        test::MessageBoxAnswerer answerer;
        test::Click(Control<QAbstractButton>(id));
        return answerer.Texts();
    }

    CMyGridCtrl m_grid;
    CDlgFind m_box;
};

TEST_F(DlgFindTest, NextWrapsAroundToTheFirstMatch)
{
    OpenFind();
    EXPECT_TRUE(m_grid.GetExclusiveSelection());
    EXPECT_TRUE(Control(CDlgFind::kIdPrevious)->isVisible());
    EXPECT_TRUE(Control<QCheckBox>(CDlgFind::kIdMatchCase)->isVisible());
    EXPECT_EQ(Control(CDlgFind::kIdNext)->text(), u"下一个"_s);

    test::TypeInto(Keyword(), u"  abc "_s); // trimmed; case ignored
    // Nothing selected: the search starts at the first album row.
    Press(CDlgFind::kIdNext);
    EXPECT_EQ(Selected(), 1);
    Press(CDlgFind::kIdNext);
    EXPECT_EQ(Selected(), 3);
    Press(CDlgFind::kIdNext);
    EXPECT_EQ(Selected(), 4);
    // On the last match: back to the first from the top.
    Press(CDlgFind::kIdNext);
    EXPECT_EQ(Selected(), 1);
    // Enter in the keyword searches onwards too.
    QTest::keyClick(Keyword(), Qt::Key_Return);
    EXPECT_EQ(Selected(), 3);
    // The search goes on from the row the user selected.
    m_grid.SelectRow(2);
    Press(CDlgFind::kIdNext);
    EXPECT_EQ(Selected(), 3);
    EXPECT_TRUE(m_box.isVisible());
}

TEST_F(DlgFindTest, PreviousStartsAtTheLastRowAndWraps)
{
    OpenFind();
    test::TypeInto(Keyword(), u"abc"_s);
    Press(CDlgFind::kIdPrevious);
    EXPECT_EQ(Selected(), 4);
    Press(CDlgFind::kIdPrevious);
    EXPECT_EQ(Selected(), 3);
    Press(CDlgFind::kIdPrevious);
    EXPECT_EQ(Selected(), 1);
    Press(CDlgFind::kIdPrevious);
    EXPECT_EQ(Selected(), 4);
}

TEST_F(DlgFindTest, MatchCaseAndWholeCellBoxes)
{
    OpenFind();
    test::TypeInto(Keyword(), u"ABC"_s);
    Press(CDlgFind::kIdNext);
    EXPECT_EQ(Selected(), 1); // "Summer abc" without match case

    SelectNothing();
    test::Click(Control<QCheckBox>(CDlgFind::kIdMatchCase));
    Press(CDlgFind::kIdNext);
    EXPECT_EQ(Selected(), 3);
    Press(CDlgFind::kIdNext);
    EXPECT_EQ(Selected(), 3); // the only match, found again after wrapping

    // Whole cell: a part of a cell's text does not match.
    test::Click(Control<QCheckBox>(CDlgFind::kIdMatchCase));
    test::Click(Control<QCheckBox>(CDlgFind::kIdWholeCell));
    SelectNothing();
    test::TypeInto(Keyword(), u"abc"_s);
    Press(CDlgFind::kIdNext);
    EXPECT_EQ(Selected(), 3); // "ABC", not "Summer abc" nor "abcd"
    test::TypeInto(Keyword(), u"旅"_s);
    SelectNothing();
    Press(CDlgFind::kIdNext);
    EXPECT_EQ(Selected(), m_grid.GetRowCount());
    test::Click(Control<QCheckBox>(CDlgFind::kIdWholeCell));
    Press(CDlgFind::kIdNext);
    EXPECT_EQ(Selected(), 2);
}

TEST_F(DlgFindTest, BlankKeywordIsReportedOnceAndSelectsNothing)
{
    OpenFind();
    test::TypeInto(Keyword(), u"   "_s);
    EXPECT_EQ(Press(CDlgFind::kIdNext), QStringList{u"关键字不能为空"_s});
    EXPECT_EQ(Press(CDlgFind::kIdPrevious), QStringList{u"关键字不能为空"_s});
    EXPECT_EQ(Selected(), m_grid.GetRowCount());
}

TEST_F(DlgFindTest, CloseHidesTheBoxAndKeepsItsContents)
{
    OpenFind();
    test::TypeInto(Keyword(), u"旅行"_s);
    test::Click(Control<QCheckBox>(CDlgFind::kIdWholeCell));
    test::Click(Control<QToolButton>(CDlgFind::kIdClose));
    EXPECT_FALSE(m_box.isVisible());
    EXPECT_FALSE(m_grid.GetExclusiveSelection());

    OpenFind();
    EXPECT_TRUE(m_grid.GetExclusiveSelection());
    EXPECT_EQ(Keyword()->text(), u"旅行"_s);
    EXPECT_TRUE(Control<QCheckBox>(CDlgFind::kIdWholeCell)->isChecked());
    // Escape closes it the same way.
    QTest::keyClick(Keyword(), Qt::Key_Escape);
    EXPECT_FALSE(m_box.isVisible());
    EXPECT_FALSE(m_grid.GetExclusiveSelection());
}

TEST_F(DlgFindTest, FilterModeAsksOnlyForTheKeyword)
{
    CDlgFind box;
    box.SetMode(CDlgFind::kModeFilter);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    auto *filter = box.findChild<QPushButton *>(u"1006"_s);
    EXPECT_EQ(filter->text(), u"筛选"_s);
    EXPECT_FALSE(box.findChild<QPushButton *>(u"1701"_s)->isVisible());
    EXPECT_FALSE(box.findChild<QCheckBox *>(u"1033"_s)->isVisible());
    EXPECT_FALSE(box.findChild<QCheckBox *>(u"1034"_s)->isVisible());
    test::TypeInto(box.findChild<QLineEdit *>(u"1639"_s), u"  家 人  "_s);
    test::Click(filter);
    EXPECT_EQ(box.result(), QDialog::Accepted);
    EXPECT_EQ(box.Keyword(), u"家 人"_s);

    // An empty keyword is handed back as it is: no filter.
    CDlgFind empty;
    empty.SetMode(CDlgFind::kModeFilter);
    empty.show();
    test::TypeInto(empty.findChild<QLineEdit *>(u"1639"_s), u" "_s);
    QTest::keyClick(empty.findChild<QLineEdit *>(u"1639"_s), Qt::Key_Return);
    EXPECT_EQ(empty.result(), QDialog::Accepted);
    EXPECT_EQ(empty.Keyword(), QString());

    CDlgFind closed;
    closed.SetMode(CDlgFind::kModeFilter);
    closed.show();
    test::TypeInto(closed.findChild<QLineEdit *>(u"1639"_s), u"x"_s);
    test::Click(closed.findChild<QToolButton *>(u"1699"_s));
    EXPECT_FALSE(closed.isVisible());
    EXPECT_EQ(closed.result(), QDialog::Rejected);
}

TEST_F(DlgFindTest, PressOnTheBodyDragsTheBox)
{
    OpenFind();
    m_box.move(100, 100);
    const QPoint before = m_box.pos();
    // Between the check boxes and the buttons, on no control.
    const QPoint body(m_box.width() / 2, m_box.findChild<QPushButton *>(u"1006"_s)->y() - 3);
    ASSERT_EQ(m_box.childAt(body), nullptr);
    test::Drag(&m_box, body, body + QPoint(40, 25));
    EXPECT_EQ(m_box.pos(), before + QPoint(40, 25));
    // A press on a control does not move the box.
    test::Drag(Keyword(), QPoint(5, 5), QPoint(60, 5));
    EXPECT_EQ(m_box.pos(), before + QPoint(40, 25));
}

} // namespace
} // namespace tamblin

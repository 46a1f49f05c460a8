#include "WidgetTestHelpers.h"

#include "dialogs/DialogUnits.h"
#include "dialogs/DlgFind.h"
#include "dialogs/FindTarget.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace tamblin {
namespace {

// A grid of text rows behind the find box: row 0 is the fixed header.
// FindRow behaves as the album grid's does.
class FakeGrid : public FindTarget {
public:
    explicit FakeGrid(QList<QStringList> rows) : m_rows(std::move(rows)) {}

    int FindRow(int startRow, QString &keyword, int direction, bool ignoreCase, bool wholeCell) override
    {
        m_calls.append({startRow, direction});
        if (keyword.isEmpty()) {
            ShowOkMessage(nullptr, u"关键字不能为空"_s);
            return 1;
        }
        if (ignoreCase)
            keyword = keyword.toLower();
        const int step = direction == 1 ? 1 : -1;
        for (int row = startRow + step; row >= GetFixedRowCount() && row < GetRowCount(); row += step) {
            for (QString cell : m_rows[row]) {
                if (ignoreCase)
                    cell = cell.toLower();
                if (wholeCell ? cell == keyword : cell.contains(keyword)) {
                    m_selected = row;
                    return 1;
                }
            }
        }
        return 0;
    }
    int GetRowCount() const override { return int(m_rows.size()); }
    int GetFixedRowCount() const override { return 1; }
    int GetSelectedMinRow() const override { return m_selected; }
    void SetExclusiveSelection(bool exclusive) override { m_exclusive = exclusive; }

    struct Call {
        int start, direction;
        bool operator==(const Call &) const = default;
    };
    QList<QStringList> m_rows;
    int m_selected = -1;
    bool m_exclusive = false;
    QList<Call> m_calls;
};

class DlgFindTest : public ::testing::Test {
protected:
    DlgFindTest()
        : m_grid({{u"序号"_s, u"相册名"_s, u"张数"_s},
                  {u"0001"_s, u"Summer abc"_s, u"12"_s},
                  {u"0002"_s, u"旅行"_s, u"30"_s},
                  {u"0003"_s, u"ABC"_s, u"7"_s},
                  {u"0004"_s, u"家人"_s, u"abcd"_s},
                  {u"0005"_s, u"其他"_s, u"1"_s}})
    {
    }
    void OpenFind()
    {
        m_box.OpenFind(&m_grid);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_box));
    }
    template <typename W = QPushButton>
    W *Control(int id) { return m_box.findChild<W *>(QString::number(id)); }
    QLineEdit *Keyword() { return Control<QLineEdit>(CDlgFind::kIdKeyword); }
    QStringList Press(int id)
    {
        test::MessageBoxAnswerer answerer;
        test::Click(Control<QAbstractButton>(id));
        return answerer.Texts();
    }

    FakeGrid m_grid;
    CDlgFind m_box;
};

TEST_F(DlgFindTest, NextWrapsAroundToTheFirstMatch)
{
    OpenFind();
    EXPECT_TRUE(m_grid.m_exclusive);
    EXPECT_TRUE(Control(CDlgFind::kIdPrevious)->isVisible());
    EXPECT_TRUE(Control<QCheckBox>(CDlgFind::kIdMatchCase)->isVisible());
    EXPECT_EQ(Control(CDlgFind::kIdNext)->text(), u"下一个"_s);

    test::TypeInto(Keyword(), u"  abc "_s); // trimmed; case ignored
    // Nothing selected: the search starts at the first album row.
    Press(CDlgFind::kIdNext);
    EXPECT_EQ(m_grid.m_selected, 1);
    EXPECT_EQ(m_grid.m_calls, (QList<FakeGrid::Call>{{6, 1}, {0, 1}}));
    Press(CDlgFind::kIdNext);
    EXPECT_EQ(m_grid.m_selected, 3);
    Press(CDlgFind::kIdNext);
    EXPECT_EQ(m_grid.m_selected, 4);
    // On the last match: back to the first from the top.
    m_grid.m_calls.clear();
    Press(CDlgFind::kIdNext);
    EXPECT_EQ(m_grid.m_selected, 1);
    EXPECT_EQ(m_grid.m_calls, (QList<FakeGrid::Call>{{4, 1}, {0, 1}}));
    // Enter in the keyword searches onwards too.
    QTest::keyClick(Keyword(), Qt::Key_Return);
    EXPECT_EQ(m_grid.m_selected, 3);
    EXPECT_TRUE(m_box.isVisible());
}

TEST_F(DlgFindTest, PreviousStartsAtTheLastRowAndWraps)
{
    OpenFind();
    test::TypeInto(Keyword(), u"abc"_s);
    Press(CDlgFind::kIdPrevious);
    EXPECT_EQ(m_grid.m_selected, 4);
    Press(CDlgFind::kIdPrevious);
    EXPECT_EQ(m_grid.m_selected, 3);
    Press(CDlgFind::kIdPrevious);
    EXPECT_EQ(m_grid.m_selected, 1);
    m_grid.m_calls.clear();
    Press(CDlgFind::kIdPrevious);
    EXPECT_EQ(m_grid.m_selected, 4);
    EXPECT_EQ(m_grid.m_calls, (QList<FakeGrid::Call>{{1, 0}, {6, 0}}));
}

TEST_F(DlgFindTest, MatchCaseAndWholeCellBoxes)
{
    OpenFind();
    test::TypeInto(Keyword(), u"ABC"_s);
    Press(CDlgFind::kIdNext);
    EXPECT_EQ(m_grid.m_selected, 1); // "Summer abc" without match case

    m_grid.m_selected = -1;
    test::Click(Control<QCheckBox>(CDlgFind::kIdMatchCase));
    Press(CDlgFind::kIdNext);
    EXPECT_EQ(m_grid.m_selected, 3);
    Press(CDlgFind::kIdNext);
    EXPECT_EQ(m_grid.m_selected, 3); // the only match, found again after wrapping

    // Whole cell: a part of a cell's text does not match.
    test::Click(Control<QCheckBox>(CDlgFind::kIdMatchCase));
    test::Click(Control<QCheckBox>(CDlgFind::kIdWholeCell));
    m_grid.m_selected = -1;
    test::TypeInto(Keyword(), u"abc"_s);
    Press(CDlgFind::kIdNext);
    EXPECT_EQ(m_grid.m_selected, 3); // "ABC", not "Summer abc" nor "abcd"
    test::TypeInto(Keyword(), u"旅"_s);
    m_grid.m_selected = -1;
    Press(CDlgFind::kIdNext);
    EXPECT_EQ(m_grid.m_selected, -1);
    test::Click(Control<QCheckBox>(CDlgFind::kIdWholeCell));
    Press(CDlgFind::kIdNext);
    EXPECT_EQ(m_grid.m_selected, 2);
}

TEST_F(DlgFindTest, BlankKeywordIsReportedOnceAndSelectsNothing)
{
    OpenFind();
    test::TypeInto(Keyword(), u"   "_s);
    EXPECT_EQ(Press(CDlgFind::kIdNext), QStringList{u"关键字不能为空"_s});
    EXPECT_EQ(m_grid.m_calls.size(), 1);
    EXPECT_EQ(Press(CDlgFind::kIdPrevious), QStringList{u"关键字不能为空"_s});
    EXPECT_EQ(m_grid.m_selected, -1);
}

TEST_F(DlgFindTest, CloseHidesTheBoxAndKeepsItsContents)
{
    OpenFind();
    test::TypeInto(Keyword(), u"旅行"_s);
    test::Click(Control<QCheckBox>(CDlgFind::kIdWholeCell));
    test::Click(Control<QToolButton>(CDlgFind::kIdClose));
    EXPECT_FALSE(m_box.isVisible());
    EXPECT_FALSE(m_grid.m_exclusive);

    OpenFind();
    EXPECT_TRUE(m_grid.m_exclusive);
    EXPECT_EQ(Keyword()->text(), u"旅行"_s);
    EXPECT_TRUE(Control<QCheckBox>(CDlgFind::kIdWholeCell)->isChecked());
    // Escape closes it the same way.
    QTest::keyClick(Keyword(), Qt::Key_Escape);
    EXPECT_FALSE(m_box.isVisible());
    EXPECT_FALSE(m_grid.m_exclusive);
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

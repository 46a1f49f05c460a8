#include "WidgetTestHelpers.h"

#include "TestSupport.h"

#include "app/SoftSettings.h"
#include "app/WindowSettings.h"
#include "dialogs/DlgDownSet.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

namespace tamblin {
namespace {

class DlgDownSetTest : public ::testing::Test {
protected:
    void Open(DateRange *range = nullptr)
    {
        m_dialog = std::make_unique<CDlgDownSet>(nullptr, &m_params, range);
        m_dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dialog.get()));
    }
    QLineEdit *Edit(int id) { return m_dialog->findChild<QLineEdit *>(QString::number(id)); }
    QPushButton *Ok() { return m_dialog->findChild<QPushButton *>(u"1023"_s); }
    QCheckBox *Box(int id) { return m_dialog->findChild<QCheckBox *>(QString::number(id)); }
    QDateEdit *Date(int id) { return m_dialog->findChild<QDateEdit *>(QString::number(id)); }
    // Types the four values and presses OK; returns the message boxes shown.
    QStringList Enter(const QString &threads, const QString &timeout, const QString &minKb, const QString &maxKb)
    {
        test::TypeInto(Edit(CDlgDownSet::kIdThreads), threads);
        test::TypeInto(Edit(CDlgDownSet::kIdTimeout), timeout);
        test::TypeInto(Edit(CDlgDownSet::kIdMinKb), minKb);
        test::TypeInto(Edit(CDlgDownSet::kIdMaxKb), maxKb);
        test::MessageBoxAnswerer answerer;
        test::Click(Ok());
        return answerer.Texts();
    }

    DownParams m_params{100, 4096, 5, 30};
    std::unique_ptr<CDlgDownSet> m_dialog;
};

TEST_F(DlgDownSetTest, OpensWithTheElementsValues)
{
    m_params = {0, 65535, 15, 600};
    Open();
    EXPECT_EQ(Edit(CDlgDownSet::kIdThreads)->text(), u"15"_s);
    EXPECT_EQ(Edit(CDlgDownSet::kIdTimeout)->text(), u"600"_s);
    EXPECT_EQ(Edit(CDlgDownSet::kIdMinKb)->text(), u"0"_s);
    EXPECT_EQ(Edit(CDlgDownSet::kIdMaxKb)->text(), u"65535"_s);
    EXPECT_EQ(m_dialog->windowTitle(), u"设置"_s);
    EXPECT_EQ(Ok()->text(), u"确 定"_s);
    // There is no Cancel button.
    EXPECT_EQ(m_dialog->findChildren<QPushButton *>().size(), 1);
}

TEST_F(DlgDownSetTest, OutOfRangeThreadsOrTimeOutAreRefusedButAlreadyStored)
{
    Open();
    struct Case {
        QString threads, timeout;
        std::uint16_t storedThreads, storedTimeout;
    };
    const Case refused[] = {
        {u"0"_s, u"30"_s, 0, 30},
        {u"16"_s, u"30"_s, 16, 30},
        {u"5"_s, u"9"_s, 5, 9},
        {u""_s, u"30"_s, 0, 30},      // empty reads as 0
        {u"abc"_s, u"30"_s, 0, 30},   // not a number reads as 0
        {u"-1"_s, u"30"_s, 65535, 30}, // cut to 16 bits, then out of range
        {u"65551"_s, u"5"_s, 15, 5},   // 65551 cut to 15 threads, the time-out still refuses
    };
    for (const Case &c : refused) {
        SCOPED_TRACE(c.threads.toStdString() + " / " + c.timeout.toStdString());
        const QStringList messages = Enter(c.threads, c.timeout, u"1"_s, u"2"_s);
        ASSERT_EQ(messages, QStringList{u"参数错误"_s});
        EXPECT_TRUE(m_dialog->isVisible());
        EXPECT_EQ(m_dialog->result(), 0);
        EXPECT_EQ(m_params.threads, c.storedThreads);
        EXPECT_EQ(m_params.timeoutSec, c.storedTimeout);
        EXPECT_EQ(m_params.minKb, 1);
        EXPECT_EQ(m_params.maxKb, 2);
    }
    // Escape after a refused OK cancels, but the element keeps the values
    // entered (the caller does not save them).
    QTest::keyClick(m_dialog.get(), Qt::Key_Escape);
    EXPECT_FALSE(m_dialog->isVisible());
    EXPECT_EQ(m_dialog->result(), QDialog::Rejected);
    EXPECT_EQ(m_params.threads, 15);
    EXPECT_EQ(m_params.timeoutSec, 5);
}

TEST_F(DlgDownSetTest, LimitsAreAccepted)
{
    Open();
    EXPECT_TRUE(Enter(u"15"_s, u"10"_s, u"0"_s, u"0"_s).isEmpty());
    EXPECT_FALSE(m_dialog->isVisible());
    EXPECT_EQ(m_dialog->result(), QDialog::Accepted);
    EXPECT_EQ(m_params.threads, 15);
    EXPECT_EQ(m_params.timeoutSec, 10);

    Open();
    EXPECT_TRUE(Enter(u"1"_s, u"-1"_s, u""_s, u""_s).isEmpty());
    EXPECT_EQ(m_dialog->result(), QDialog::Accepted);
    EXPECT_EQ(m_params.threads, 1);
    EXPECT_EQ(m_params.timeoutSec, 65535);
    // Empty size edits mean no limits; sizes are not checked against each other.
    EXPECT_EQ(m_params.minKb, 0);
    EXPECT_EQ(m_params.maxKb, 0);

    Open();
    EXPECT_TRUE(Enter(u"3"_s, u"20"_s, u"900"_s, u"100"_s).isEmpty());
    EXPECT_EQ(m_params.minKb, 900);
    EXPECT_EQ(m_params.maxKb, 100);
}

TEST_F(DlgDownSetTest, EscapeAndCloseBoxCancelWithoutStoring)
{
    Open();
    test::TypeInto(Edit(CDlgDownSet::kIdThreads), u"7"_s);
    QTest::keyClick(Edit(CDlgDownSet::kIdThreads), Qt::Key_Escape);
    EXPECT_FALSE(m_dialog->isVisible());
    EXPECT_EQ(m_dialog->result(), QDialog::Rejected);
    EXPECT_EQ(m_params.threads, 5);

    Open();
    test::TypeInto(Edit(CDlgDownSet::kIdTimeout), u"99"_s);
    m_dialog->close(); // what the caption bar's close box asks for
    EXPECT_EQ(m_dialog->result(), QDialog::Rejected);
    EXPECT_EQ(m_params.timeoutSec, 30);
}

TEST_F(DlgDownSetTest, EnterChecksTheValuesAsOkDoes)
{
    Open();
    test::TypeInto(Edit(CDlgDownSet::kIdThreads), u"0"_s);
    {
        test::MessageBoxAnswerer answerer;
        QTest::keyClick(Edit(CDlgDownSet::kIdThreads), Qt::Key_Return);
        EXPECT_EQ(answerer.Texts(), QStringList{u"参数错误"_s});
    }
    EXPECT_TRUE(m_dialog->isVisible());
    test::TypeInto(Edit(CDlgDownSet::kIdThreads), u"8"_s);
    QTest::keyClick(Edit(CDlgDownSet::kIdThreads), Qt::Key_Return);
    EXPECT_EQ(m_dialog->result(), QDialog::Accepted);
    EXPECT_EQ(m_params.threads, 8);
}

TEST_F(DlgDownSetTest, DateRangeEndsAreOnOrOffAndKeptInTheWindowsFile)
{
    const QDate jan1(2023, 1, 1);
    const QDate jan31(2023, 1, 31);
    DateRange range{QDate(2023, 3, 1), QDate()};
    Open(&range);
    EXPECT_TRUE(Box(CDlgDownSet::kIdSinceOn)->isChecked());
    EXPECT_EQ(Date(CDlgDownSet::kIdSince)->date(), QDate(2023, 3, 1));
    EXPECT_FALSE(Box(CDlgDownSet::kIdUntilOn)->isChecked());
    EXPECT_FALSE(Date(CDlgDownSet::kIdUntil)->isEnabled());

    struct Case {
        const char *what;
        bool sinceOn, untilOn;
        QDate since, until;
        QStringList messages;
        DateRange stored;
    };
    const Case cases[] = {
        {"both off", false, false, jan1, jan31, {}, {}},
        {"until only", false, true, jan31, jan1, {}, {QDate(), jan1}},
        {"one day", true, true, jan31, jan31, {}, {jan31, jan31}},
        // Refused: the range stays as it was.
        {"since after until", true, true, jan31, jan1, {u"起始日期不能晚于结束日期"_s}, {jan31, jan31}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Open(&range);
        if (Box(CDlgDownSet::kIdSinceOn)->isChecked() != c.sinceOn)
            test::Click(Box(CDlgDownSet::kIdSinceOn));
        if (Box(CDlgDownSet::kIdUntilOn)->isChecked() != c.untilOn)
            test::Click(Box(CDlgDownSet::kIdUntilOn));
        EXPECT_EQ(Date(CDlgDownSet::kIdSince)->isEnabled(), c.sinceOn);
        Date(CDlgDownSet::kIdSince)->setDate(c.since);
        Date(CDlgDownSet::kIdUntil)->setDate(c.until);
        test::MessageBoxAnswerer answerer;
        test::Click(Ok());
        EXPECT_EQ(answerer.Texts(), c.messages);
        EXPECT_EQ(m_dialog->result() == QDialog::Accepted, c.messages.isEmpty());
        EXPECT_EQ(range.since, c.stored.since);
        EXPECT_EQ(range.until, c.stored.until);
    }

    // The window's file: what it was given comes back; a date that is no
    // date is an open end.
    test::TempDir start;
    ASSERT_TRUE((WindowSettings{{jan1, jan31}, true, false}.Save(start.Path())));
    const WindowSettings read = WindowSettings::Load(start.Path());
    EXPECT_EQ(read.RangeText(), u"2023-01-01 至 2023-01-31"_s);
    EXPECT_TRUE(read.savePosts && !read.withReposts);
    start.Write(u"窗口设置.ini"_s, "[下载]\r\n起始日期=2023-13-45\r\n结束日期= 2023-02-01 \r\n[微博]\r\n下载转发图片=1\r\n");
    const WindowSettings edited = WindowSettings::Load(start.Path());
    EXPECT_EQ(edited.RangeText(), u"至 2023-02-01"_s);
    EXPECT_TRUE(!edited.savePosts && edited.withReposts);
}

} // namespace
} // namespace tamblin

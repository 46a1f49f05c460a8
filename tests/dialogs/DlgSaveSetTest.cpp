#include "WidgetTestHelpers.h"

#include "app/SoftSettings.h"
#include "dialogs/DlgSaveSet.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace Qt::StringLiterals;

namespace tamblin {
namespace {

constexpr int kEdits[] = {CDlgSaveSet::kIdFilePrefix, CDlgSaveSet::kIdFileSuffix, CDlgSaveSet::kIdReplaceFrom,
                          CDlgSaveSet::kIdReplaceTo, CDlgSaveSet::kIdFolderPrefix, CDlgSaveSet::kIdFolderSuffix};

class DlgSaveSetTest : public ::testing::Test {
protected:
    DlgSaveSetTest()
    {
        m_rules.filePrefix.Set(u"pre"_s);
        m_rules.fileSuffix.Set(u"suf"_s);
        m_rules.replaceFrom.Set(u"from"_s);
        m_rules.replaceTo.Set(u"to"_s);
        m_rules.folderPrefix.Set(u"相册_"_s);
        m_rules.folderSuffix.Set(u"_?3"_s);
        m_rules.flags = kSkipDownloaded | kWriteTitles;
        m_rules.fileNameMode = 1;
        m_rules.folderNameMode = 0;
    }
    void Open()
    {
        m_dialog = std::make_unique<CDlgSaveSet>(nullptr, &m_rules);
        m_dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dialog.get()));
    }
    QLineEdit *Edit(int id) { return m_dialog->findChild<QLineEdit *>(QString::number(id)); }
    QRadioButton *Radio(int id) { return m_dialog->findChild<QRadioButton *>(QString::number(id)); }
    void PressOk() { test::Click(m_dialog->findChild<QPushButton *>(u"1023"_s)); }
    QStringList Texts() const
    {
        return {m_rules.filePrefix.Get(), m_rules.fileSuffix.Get(), m_rules.replaceFrom.Get(),
                m_rules.replaceTo.Get(), m_rules.folderPrefix.Get(), m_rules.folderSuffix.Get()};
    }

    SiteRules m_rules;
    std::unique_ptr<CDlgSaveSet> m_dialog;
};

TEST_F(DlgSaveSetTest, OpensWithTheElementsTextsAndChoices)
{
    Open();
    QStringList shown;
    for (int id : kEdits)
        shown << Edit(id)->text();
    EXPECT_EQ(shown, Texts());
    EXPECT_TRUE(Radio(CDlgSaveSet::kIdNameNumber)->isChecked());
    EXPECT_FALSE(Radio(CDlgSaveSet::kIdNameDescription)->isChecked());
    // The folder choice is a group of its own, not part of the file-name group.
    EXPECT_TRUE(Radio(CDlgSaveSet::kIdFolderAlbumName)->isChecked());
}

TEST_F(DlgSaveSetTest, OkStoresTextsCutTo38UnitsAndBothChoices)
{
    Open();
    const QString fifty = u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWX"_s;
    ASSERT_EQ(fifty.size(), 50);
    test::TypeInto(Edit(CDlgSaveSet::kIdFilePrefix), fifty);
    test::TypeInto(Edit(CDlgSaveSet::kIdFileSuffix), u"_com"_s);
    test::TypeInto(Edit(CDlgSaveSet::kIdReplaceFrom), u"_"_s);
    test::TypeInto(Edit(CDlgSaveSet::kIdReplaceTo), u"-"_s);
    test::TypeInto(Edit(CDlgSaveSet::kIdFolderPrefix), u"?9_"_s);
    test::TypeInto(Edit(CDlgSaveSet::kIdFolderSuffix), u"（新浪）"_s);
    test::Click(Radio(CDlgSaveSet::kIdNameAddress));
    test::Click(Radio(CDlgSaveSet::kIdFolderNone));
    EXPECT_TRUE(Radio(CDlgSaveSet::kIdNameAddress)->isChecked());
    EXPECT_TRUE(Radio(CDlgSaveSet::kIdFolderNone)->isChecked());
    PressOk();
    EXPECT_FALSE(m_dialog->isVisible());
    EXPECT_EQ(m_dialog->result(), QDialog::Accepted);
    EXPECT_EQ(Texts(), (QStringList{fifty.left(38), u"_com"_s, u"_"_s, u"-"_s, u"?9_"_s, u"（新浪）"_s}));
    EXPECT_EQ(m_rules.fileNameMode, 2);
    EXPECT_EQ(m_rules.folderNameMode, 1);
    // The option bits belong to the menu, not to this dialog.
    EXPECT_EQ(m_rules.flags, kSkipDownloaded | kWriteTitles);
}

TEST_F(DlgSaveSetTest, EmptyEditsAreStoredEmpty)
{
    Open();
    for (int id : kEdits)
        test::TypeInto(Edit(id), QString());
    PressOk();
    EXPECT_EQ(m_dialog->result(), QDialog::Accepted);
    EXPECT_EQ(Texts(), QStringList(6, QString()));
    EXPECT_EQ(m_rules.fileNameMode, 1);
    EXPECT_EQ(m_rules.folderNameMode, 0);
}

TEST_F(DlgSaveSetTest, EscapeAndCloseBoxStoreNothing)
{
    const QStringList before = Texts();
    Open();
    test::TypeInto(Edit(CDlgSaveSet::kIdFilePrefix), u"changed"_s);
    test::Click(Radio(CDlgSaveSet::kIdNameDescription));
    QTest::keyClick(Edit(CDlgSaveSet::kIdFilePrefix), Qt::Key_Escape);
    EXPECT_FALSE(m_dialog->isVisible());
    EXPECT_EQ(m_dialog->result(), QDialog::Rejected);
    EXPECT_EQ(Texts(), before);
    EXPECT_EQ(m_rules.fileNameMode, 1);

    Open();
    test::TypeInto(Edit(CDlgSaveSet::kIdFolderSuffix), u"changed"_s);
    test::Click(Radio(CDlgSaveSet::kIdFolderNone));
    m_dialog->close();
    EXPECT_EQ(m_dialog->result(), QDialog::Rejected);
    EXPECT_EQ(Texts(), before);
    EXPECT_EQ(m_rules.folderNameMode, 0);
}

TEST_F(DlgSaveSetTest, HelpLinkShowsTheEscapeCodesAndLeavesTheDialogOpen)
{
    Open();
    auto *link = m_dialog->findChild<QLabel *>(u"1010"_s);
    ASSERT_NE(link, nullptr);
    QStringList shown;
    {
        test::MessageBoxAnswerer answerer;
        // On the link's first character.
        QTest::mouseClick(link, Qt::LeftButton, Qt::NoModifier, QPoint(4, link->height() / 2));
        shown = answerer.Texts();
    }
    ASSERT_EQ(shown.size(), 1);
    const QStringList lines = shown.front().split(u'\n');
    ASSERT_EQ(lines.size(), 17);
    EXPECT_EQ(lines.front(), u"设置前后缀，可以在图片本来的文件名前后加上指定的字符"_s);
    EXPECT_EQ(lines[4], u"则最后图片名将变为www_lumo41_com.jpg"_s);
    EXPECT_EQ(lines[8], u"?1:相册名称"_s);
    EXPECT_EQ(lines[13], u"?6:选中的相册数"_s);
    EXPECT_EQ(lines[15], u"?9:相册在列表中的序号(格式为：0001,0002,0003...)"_s);
    EXPECT_TRUE(lines.back().startsWith(u"?0:图片的发布日期"_s));
    for (const QString &line : lines)
        EXPECT_FALSE(line.isEmpty() || line.endsWith(u'\r'));
    EXPECT_TRUE(m_dialog->isVisible());
    EXPECT_EQ(m_dialog->result(), 0);
}

TEST_F(DlgSaveSetTest, DamagedChoicesAndSurrogatePairsSurviveOk)
{
    // Values no radio stands for (a damaged settings file) check no radio;
    // OK keeps them instead of storing 255.
    m_rules.fileNameMode = 7;
    m_rules.folderNameMode = 9;
    Open();
    EXPECT_FALSE(Radio(CDlgSaveSet::kIdNameDescription)->isChecked());
    EXPECT_FALSE(Radio(CDlgSaveSet::kIdNameNumber)->isChecked());
    EXPECT_FALSE(Radio(CDlgSaveSet::kIdNameAddress)->isChecked());
    EXPECT_FALSE(Radio(CDlgSaveSet::kIdFolderNone)->isChecked());
    // 37 units and a character outside the BMP: the cut at 38 units would
    // leave half of it.
    const QString text = QString(37, u'x') + u"😀"_s + u"y"_s;
    test::TypeInto(Edit(CDlgSaveSet::kIdFileSuffix), text);
    PressOk();
    EXPECT_EQ(m_rules.fileNameMode, 7);
    EXPECT_EQ(m_rules.folderNameMode, 9);
    EXPECT_EQ(m_rules.fileSuffix.Get(), QString(37, u'x'));
}

} // namespace
} // namespace tamblin

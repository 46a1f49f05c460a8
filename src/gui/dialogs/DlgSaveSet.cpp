#include "dialogs/DlgSaveSet.h"

#include "dialogs/DialogUnits.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

using namespace Qt::StringLiterals;

namespace tamblin {

namespace {

// At most kMaxTextUnits UTF-16 units, never ending in half a surrogate pair.
QString CutText(const QString &text)
{
    QString cut = text.left(CDlgSaveSet::kMaxTextUnits);
    if (cut.size() < text.size() && !cut.isEmpty() && cut.back().isHighSurrogate())
        cut.chop(1);
    return cut;
}

void StoreChoice(const QButtonGroup *group, std::uint8_t &field)
{
    // Nothing is checked only when the stored value was out of range; it is
    // then kept rather than replaced by a meaningless one.
    const int choice = group->checkedId();
    if (choice >= 0)
        field = static_cast<std::uint8_t>(choice);
}

} // namespace

CDlgSaveSet::CDlgSaveSet(QWidget *parent, SiteRules *rules)
    : QDialog(parent, kModalFrame),
      m_rules(rules)
{
    setModal(true);
    DialogTemplate dlg(this, u"设置"_s, 8, 265, 154);
    dlg.Place(new QGroupBox(u"文件名"_s, this), 0, 7, 7, 251, 77);
    dlg.Place(new QLabel(u"前缀"_s, this), 0, 11, 33, 20, 9);
    m_filePrefix = dlg.Place(new QLineEdit(this), kIdFilePrefix, 31, 31, 67, 12);
    auto *description = dlg.Place(new QRadioButton(u"描述"_s, this), kIdNameDescription, 118, 15, 35, 12);
    auto *number = dlg.Place(new QRadioButton(u"序号"_s, this), kIdNameNumber, 118, 31, 35, 12);
    auto *address = dlg.Place(new QRadioButton(u"网址"_s, this), kIdNameAddress, 118, 47, 35, 12);
    dlg.Place(new QLabel(u"后缀"_s, this), 0, 167, 33, 20, 9);
    m_fileSuffix = dlg.Place(new QLineEdit(this), kIdFileSuffix, 187, 31, 67, 12);
    m_replaceFrom = dlg.Place(new QLineEdit(this), kIdReplaceFrom, 11, 65, 87, 12);
    dlg.Place(new QLabel(u"替换为"_s, this), 0, 120, 67, 31, 10);
    m_replaceTo = dlg.Place(new QLineEdit(this), kIdReplaceTo, 167, 65, 87, 12);
    dlg.Place(new QGroupBox(u"相册路径(相册名)"_s, this), 0, 7, 89, 251, 39);
    dlg.Place(new QLabel(u"前缀"_s, this), 0, 11, 106, 20, 9);
    m_folderPrefix = dlg.Place(new QLineEdit(this), kIdFolderPrefix, 31, 103, 67, 12);
    auto *albumName = dlg.Place(new QRadioButton(u"相册名"_s, this), kIdFolderAlbumName, 118, 97, 35, 12);
    auto *none = dlg.Place(new QRadioButton(u"无"_s, this), kIdFolderNone, 118, 112, 35, 12);
    dlg.Place(new QLabel(u"后缀"_s, this), 0, 167, 106, 20, 9);
    m_folderSuffix = dlg.Place(new QLineEdit(this), kIdFolderSuffix, 187, 103, 67, 12);
    auto *help = dlg.Place(new QLabel(u"<a href=\"#\">前后缀说明</a>"_s, this), kIdHelpLink, 12, 134, 49, 9);
    auto *ok = dlg.Place(new QPushButton(u"确 定"_s, this), kIdOk, 206, 131, 49, 16);
    dlg.FitTexts();

    // The two choices are separate groups although their radios share the dialog.
    m_fileNameMode = new QButtonGroup(this);
    m_fileNameMode->addButton(description, 0);
    m_fileNameMode->addButton(number, 1);
    m_fileNameMode->addButton(address, 2);
    m_folderNameMode = new QButtonGroup(this);
    m_folderNameMode->addButton(albumName, 0);
    m_folderNameMode->addButton(none, 1);

    help->setTextFormat(Qt::RichText);
    help->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(help, &QLabel::linkActivated, this, [this] { ShowOkMessage(this, HelpText()); });
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CDlgSaveSet::OnOk);

    m_filePrefix->setText(m_rules->filePrefix.Get());
    m_fileSuffix->setText(m_rules->fileSuffix.Get());
    m_replaceFrom->setText(m_rules->replaceFrom.Get());
    m_replaceTo->setText(m_rules->replaceTo.Get());
    m_folderPrefix->setText(m_rules->folderPrefix.Get());
    m_folderSuffix->setText(m_rules->folderSuffix.Get());
    if (QAbstractButton *button = m_fileNameMode->button(m_rules->fileNameMode))
        button->setChecked(true);
    if (QAbstractButton *button = m_folderNameMode->button(m_rules->folderNameMode))
        button->setChecked(true);
}

void CDlgSaveSet::OnOk()
{
    m_rules->filePrefix.Set(CutText(m_filePrefix->text()));
    m_rules->fileSuffix.Set(CutText(m_fileSuffix->text()));
    m_rules->replaceFrom.Set(CutText(m_replaceFrom->text()));
    m_rules->replaceTo.Set(CutText(m_replaceTo->text()));
    m_rules->folderPrefix.Set(CutText(m_folderPrefix->text()));
    m_rules->folderSuffix.Set(CutText(m_folderSuffix->text()));
    StoreChoice(m_fileNameMode, m_rules->fileNameMode);
    StoreChoice(m_folderNameMode, m_rules->folderNameMode);
    accept();
}

QString CDlgSaveSet::HelpText()
{
    const QStringList lines = {
        u"设置前后缀，可以在图片本来的文件名前后加上指定的字符"_s,
        u"如：图片本来的文件名为：lumo41.jpg，如果前缀为空，后缀为_com"_s,
        u"则最后图片名将变为lumo41_com.jpg"_s,
        u"如果前缀为www_，后缀为_com"_s,
        u"则最后图片名将变为www_lumo41_com.jpg"_s,
        u"相册名那里前后缀一样"_s,
        u"同时，支持转义字符，当前后缀中含有转义字符时，程序会将转义字符转换为转义字符所表示的字符串"_s,
        u"转义字符如下（问号为英文的问号，相册名的转义字符只支持?1,?3,?9）："_s,
        u"?1:相册名称"_s,
        u"?2:图片在相册中的序号"_s,
        u"?3:相册在列表中的序号(格式为：1,2,3...)"_s,
        u"?4:未定义"_s,
        u"?5:未定义"_s,
        u"?6:选中的相册数"_s,
        u"?7:总共的相册数(选中的+未选中的)"_s,
        u"?9:相册在列表中的序号(格式为：0001,0002,0003...)"_s,
        u"?0:图片的发布日期(格式为：20230416，不知道时为空；只用于文件名)"_s,
    };
    return lines.join(u'\n');
}

} // namespace tamblin

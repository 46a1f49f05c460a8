#include "dialogs/DlgDownSet.h"

#include "dialogs/DialogUnits.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace tamblin {

namespace {

// An edit's text as a signed number; text that is no number reads as 0.
int ReadInt(const QLineEdit *edit)
{
    bool ok = false;
    const int value = edit->text().trimmed().toInt(&ok);
    return ok ? value : 0;
}

// One end of the date range: a check box that turns it on, and its day.
QDateEdit *NewDateEdit(QWidget *parent, QCheckBox *on, const QDate &date)
{
    auto *edit = new QDateEdit(date.isValid() ? date : QDate::currentDate(), parent);
    edit->setDisplayFormat(u"yyyy-MM-dd"_s);
    edit->setCalendarPopup(true);
    on->setChecked(date.isValid());
    edit->setEnabled(date.isValid());
    QObject::connect(on, &QCheckBox::toggled, edit, &QWidget::setEnabled);
    return edit;
}

} // namespace

CDlgDownSet::CDlgDownSet(QWidget *parent, DownParams *params, DateRange *range)
    : QDialog(parent, kModalFrame),
      m_params(params),
      m_range(range)
{
    setModal(true);
    // The date range below the parameters, the dialog taller by its group.
    DialogTemplate dlg(this, u"设置"_s, 8, 196, range ? 194 : 137);
    dlg.Place(new QGroupBox(u"下载参数设置"_s, this), 0, 7, 7, 182, 106);
    dlg.Place(new QLabel(u"线程数(1~15)："_s, this), 0, 34, 28, 57, 9);
    dlg.Place(new QLabel(u"超时(S, >=10)："_s, this), 0, 34, 48, 57, 9);
    dlg.Place(new QLabel(u"图片最小值(K)："_s, this), 0, 34, 68, 57, 9);
    dlg.Place(new QLabel(u"图片最大值(K)："_s, this), 0, 34, 89, 57, 9);
    m_threads = dlg.Place(new QLineEdit(this), kIdThreads, 100, 26, 61, 13);
    m_timeout = dlg.Place(new QLineEdit(this), kIdTimeout, 100, 46, 61, 13);
    m_minKb = dlg.Place(new QLineEdit(this), kIdMinKb, 100, 66, 61, 13);
    m_maxKb = dlg.Place(new QLineEdit(this), kIdMaxKb, 100, 86, 61, 13);
    auto *ok = dlg.Place(new QPushButton(u"确 定"_s, this), kIdOk, 143, 116, 46, 16);
    if (m_range) {
        auto *group = dlg.Place(new QGroupBox(u"发布日期范围（北京时间）"_s, this), 0, 7, 137, 182, 50);
        group->setToolTip(u"只下载这些日子发布的图片，两端的日子都算在内"_s);
        m_sinceOn = dlg.Place(new QCheckBox(u"起始日期"_s, this), kIdSinceOn, 34, 153, 57, 10);
        m_since = dlg.Place(NewDateEdit(this, m_sinceOn, m_range->since), kIdSince, 100, 151, 61, 13);
        m_untilOn = dlg.Place(new QCheckBox(u"结束日期"_s, this), kIdUntilOn, 34, 170, 57, 10);
        m_until = dlg.Place(NewDateEdit(this, m_untilOn, m_range->until), kIdUntil, 100, 168, 61, 13);
    }
    dlg.FitTexts();
    // Enter presses OK, so the values are checked whichever way the user confirms.
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CDlgDownSet::OnOk);

    m_threads->setText(QString::number(m_params->threads));
    m_timeout->setText(QString::number(m_params->timeoutSec));
    m_minKb->setText(QString::number(m_params->minKb));
    m_maxKb->setText(QString::number(m_params->maxKb));
}

void CDlgDownSet::OnOk()
{
    // Stored at once, cut to 16 bits, before they are checked.
    m_params->threads = static_cast<std::uint16_t>(ReadInt(m_threads));
    m_params->timeoutSec = static_cast<std::uint16_t>(ReadInt(m_timeout));
    m_params->minKb = static_cast<std::uint16_t>(ReadInt(m_minKb));
    m_params->maxKb = static_cast<std::uint16_t>(ReadInt(m_maxKb));
    if (m_params->threads < 1 || m_params->threads > 15 || m_params->timeoutSec < 10) {
        ShowOkMessage(this, u"参数错误"_s);
        return;
    }
    if (m_range) {
        DateRange range;
        if (m_sinceOn->isChecked())
            range.since = m_since->date();
        if (m_untilOn->isChecked())
            range.until = m_until->date();
        // Such a range would leave every picture out.
        if (range.since.isValid() && range.until.isValid() && range.since > range.until) {
            ShowOkMessage(this, u"起始日期不能晚于结束日期"_s);
            return;
        }
        *m_range = range;
    }
    accept();
}

} // namespace tamblin

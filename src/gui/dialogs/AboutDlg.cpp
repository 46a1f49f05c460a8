#include "dialogs/AboutDlg.h"

#include "dialogs/DialogUnits.h"
#include "dialogs/Resources.h"

#include <QLabel>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace tamblin {

CAboutDlg::CAboutDlg(QWidget *parent)
    : QDialog(parent, kModalFrame)
{
    setModal(true);
    // Template 100: the icon at the left, the two lines beside it, OK below.
    DialogTemplate dlg(this, u"关于"_s, 8, 230, 66);
    auto *icon = dlg.Place(new QLabel(this), 0, 14, 12, 21, 20);
    const int side = qMin(icon->width(), icon->height());
    icon->setPixmap(ProgramIcon().pixmap(side, side));
    icon->setAlignment(Qt::AlignCenter);
    dlg.Place(new QLabel(u"版本号：" TAMBLIN_VERSION_TEXT ""_s, this), kIdVersion, 42, 12, 180, 9);
    auto *info = dlg.Place(new QLabel(StoredText(kTextAboutInfo), this), kIdInfo, 42, 24, 180, 18);
    info->setWordWrap(true);
    info->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto *ok = dlg.Place(new QPushButton(u"确定"_s, this), kIdOk, 173, 46, 50, 14);
    dlg.FitTexts();
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    setWindowIcon(ProgramIcon());
}

} // namespace tamblin

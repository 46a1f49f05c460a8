// Renders every dialog and the splash offscreen into PNGs among the test
// outputs, for a person to look at, and checks what can be checked by
// machine: every text fits its control and the font has a glyph for it.
#include "TestSupport.h"
#include "WidgetTestHelpers.h"

#include "app/SoftSettings.h"
#include "dialogs/AboutDlg.h"
#include "dialogs/DialogUnits.h"
#include "dialogs/DlgDownSet.h"
#include "dialogs/DlgFind.h"
#include "dialogs/DlgSaveSet.h"
#include "dialogs/Resources.h"
#include "splash/SplashScreenEx.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QTest>
#include <QTextDocument>

using namespace Qt::StringLiterals;

namespace tamblin {
namespace {

QString Save(QWidget *widget, const QString &name)
{
    const QString path = QDir(test::TestOutputDir()).filePath(name);
    const QPixmap shot = widget->grab();
    EXPECT_FALSE(shot.isNull()) << name.toStdString();
    EXPECT_TRUE(shot.save(path, "PNG")) << path.toStdString();
    return path;
}

QString VisibleText(const QWidget *control)
{
    if (const auto *label = qobject_cast<const QLabel *>(control)) {
        QTextDocument doc;
        doc.setHtml(label->text());
        return label->textFormat() == Qt::PlainText ? label->text() : doc.toPlainText();
    }
    if (const auto *button = qobject_cast<const QAbstractButton *>(control))
        return button->text();
    if (const auto *group = qobject_cast<const QGroupBox *>(control))
        return group->title();
    return {};
}

// Every visible text of the dialog fits its control on one line (word-wrapped
// labels: within their height), lies inside the dialog, and has glyphs.
void ExpectTextsShown(QWidget *dialog, const char *name)
{
    SCOPED_TRACE(name);
    dialog->ensurePolished();
    const QRect inside = dialog->rect();
    for (QWidget *control : dialog->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        const QString text = VisibleText(control);
        if (text.isEmpty() || control->isHidden())
            continue;
        SCOPED_TRACE(text.toStdString());
        EXPECT_TRUE(inside.contains(control->geometry())) << "control outside the dialog";
        const QFontMetrics metrics(control->font());
        for (QChar c : text) {
            if (!c.isSpace()) {
                EXPECT_TRUE(metrics.inFont(c)) << "no glyph for U+" << std::hex << int(c.unicode());
            }
        }
        const auto *label = qobject_cast<const QLabel *>(control);
        if (label && label->wordWrap()) {
            const int height = metrics.boundingRect(label->contentsRect(), Qt::TextWordWrap, text).height();
            EXPECT_LE(height, label->contentsRect().height());
            continue;
        }
        EXPECT_LE(TextWidthNeeded(control), control->width());
        EXPECT_LE(metrics.height(), control->height());
    }
}

TEST(DialogScreenshots, EveryDialogIsDrawnWithItsWholeChineseText)
{
    DownParams params{0, 4096, 5, 30};
    DateRange range{QDate(2023, 1, 1), QDate()};
    CDlgDownSet downSet(nullptr, &params, &range);
    ExpectTextsShown(&downSet, "download settings");
    Save(&downSet, u"dialog-download-settings.png"_s);

    SiteRules rules;
    rules.filePrefix.Set(u"www_"_s);
    rules.fileSuffix.Set(u"_com"_s);
    rules.fileNameMode = 1;
    CDlgSaveSet saveSet(nullptr, &rules);
    ExpectTextsShown(&saveSet, "file-name settings");
    Save(&saveSet, u"dialog-file-name-settings.png"_s);
    saveSet.show();
    {
        const QString path = QDir(test::TestOutputDir()).filePath(u"dialog-file-name-help.png"_s);
        QFile::remove(path);
        test::MessageBoxAnswerer answerer(path);
        auto *link = saveSet.findChild<QLabel *>(u"1010"_s);
        QTest::mouseClick(link, Qt::LeftButton, Qt::NoModifier, QPoint(4, link->height() / 2));
        EXPECT_EQ(answerer.Texts().size(), 1);
        EXPECT_TRUE(QFile::exists(path));
    }
    saveSet.hide();

    CDlgFind find;
    find.SetMode(CDlgFind::kModeFind);
    ExpectTextsShown(&find, "find");
    Save(&find, u"dialog-find.png"_s);
    find.SetMode(CDlgFind::kModeFilter);
    ExpectTextsShown(&find, "filter");
    Save(&find, u"dialog-filter.png"_s);

    CAboutDlg about;
    ExpectTextsShown(&about, "about");
    Save(&about, u"dialog-about.png"_s);
    EXPECT_EQ(about.windowTitle(), u"关于"_s);
    EXPECT_EQ(about.findChild<QLabel *>(u"1014"_s)->text(), u"版本号：14.05.30.01"_s);
    EXPECT_EQ(about.findChild<QLabel *>(u"1015"_s)->text(), StoredText(kTextAboutInfo));
    EXPECT_FALSE(StoredText(kTextAboutInfo).isEmpty());
}

TEST(DialogScreenshots, SplashIsDrawnAndShapedByItsPicture)
{
    QWidget owner;
    CSplashScreenEx *splash = CSplashScreenEx::ShowStartup(&owner);
    ASSERT_NE(splash, nullptr);
    EXPECT_EQ(splash->size(), QSize(300, 167));
    EXPECT_EQ(splash->SplashStyle(), 0x0Bu);
    EXPECT_FALSE(splash->TimerActive());

    // The picture as drawn, and as the window shows it: cut by its region,
    // over a checkerboard that stands for whatever lies behind it.
    Save(splash, u"splash-picture.png"_s);
    QImage shaped(splash->size(), QImage::Format_RGB32);
    QPainter painter(&shaped);
    for (int y = 0; y < shaped.height(); y += 8)
        for (int x = 0; x < shaped.width(); x += 8)
            painter.fillRect(x, y, 8, 8, ((x + y) / 8) % 2 ? QColor(200, 200, 200) : QColor(255, 255, 255));
    painter.setClipRegion(splash->Shape());
    painter.drawPixmap(0, 0, splash->grab());
    painter.end();
    EXPECT_TRUE(shaped.save(QDir(test::TestOutputDir()).filePath(u"splash-window.png"_s), "PNG"));
    splash->Hide();
}

} // namespace
} // namespace tamblin

#include "dialogs/DialogUnits.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOption>
#include <QToolButton>

#include <cmath>

using namespace Qt::StringLiterals;

namespace tamblin {

namespace {

// Windows' MulDiv for the non-negative values of templates: a * b / c, rounded.
int MulDiv(int a, int b, int c)
{
    return static_cast<int>((static_cast<long long>(a) * b + c / 2) / c);
}

} // namespace

QFont DialogFont(int pointSize)
{
    QFont font;
    font.setFamilies({u"Noto Sans CJK SC"_s, u"Microsoft YaHei UI"_s, u"Microsoft YaHei"_s,
                      u"PingFang SC"_s, u"SimSun"_s, u"WenQuanYi Micro Hei"_s});
    font.setStyleHint(QFont::SansSerif);
    const QScreen *screen = QGuiApplication::primaryScreen();
    const qreal dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    // Windows asks for the character height MulDiv(points, dpi, 72).
    font.setPixelSize(qMax(1, static_cast<int>(std::lround(pointSize * dpi / 72.0))));
    font.setWeight(QFont::Normal);
    return font;
}

DialogUnits::DialogUnits(const QFont &font)
{
    const QFontMetrics metrics(font);
    // As Windows measures a dialog font: the rounded average width of the
    // Latin letters, and the full character height.
    const int alphabet = metrics.horizontalAdvance(u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"_s);
    m_baseX = qMax(1, (alphabet / 26 + 1) / 2);
    m_baseY = qMax(1, metrics.height());
}

int DialogUnits::X(int units) const
{
    return MulDiv(units, m_baseX, 4);
}

int DialogUnits::Y(int units) const
{
    return MulDiv(units, m_baseY, 8);
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const
{
    // Edges are converted, not sizes, so neighbouring controls stay flush.
    const int left = X(x);
    const int top = Y(y);
    return QRect(left, top, X(x + width) - left, Y(y + height) - top);
}

DialogTemplate::DialogTemplate(QWidget *dialog, const QString &caption, int pointSize, int width, int height)
    : m_dialog(dialog), m_units(DialogFont(pointSize))
{
    m_dialog->setWindowTitle(caption);
    m_dialog->setFont(DialogFont(pointSize));
    m_dialog->setFixedSize(m_units.X(width), m_units.Y(height));
}

void DialogTemplate::PlaceWidget(QWidget *control, int id, int x, int y, int width, int height)
{
    if (id != 0)
        control->setObjectName(ControlName(id));
    control->setGeometry(m_units.Rect(x, y, width, height));
}

void DialogTemplate::FitTexts()
{
    const int right = m_dialog->width() - 1;
    for (QWidget *control : m_dialog->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        const int needed = TextWidthNeeded(control);
        if (needed <= control->width())
            continue;
        QRect place = control->geometry();
        place.setWidth(qMin(needed, right - place.left()));
        control->setGeometry(place);
    }
}

int TextWidthNeeded(const QWidget *control)
{
    const QFontMetrics metrics(control->font());
    const QStyle *style = control->style();
    if (const auto *label = qobject_cast<const QLabel *>(control)) {
        if (label->wordWrap() || label->text().isEmpty())
            return 0;
        return label->sizeHint().width();
    }
    if (qobject_cast<const QCheckBox *>(control) || qobject_cast<const QRadioButton *>(control))
        return control->sizeHint().width();
    if (const auto *button = qobject_cast<const QPushButton *>(control)) {
        if (button->text().isEmpty())
            return 0;
        // The text and the button's margins; the style's minimum button width
        // is not a need of the text.
        return metrics.horizontalAdvance(button->text()) + 2 * style->pixelMetric(QStyle::PM_ButtonMargin)
            + 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth);
    }
    if (const auto *button = qobject_cast<const QToolButton *>(control)) {
        if (button->text().isEmpty())
            return 0;
        // Flat buttons draw their text with a pixel or two of room only.
        return metrics.horizontalAdvance(button->text()) + 4;
    }
    if (const auto *group = qobject_cast<const QGroupBox *>(control)) {
        if (group->title().isEmpty())
            return 0;
        return metrics.horizontalAdvance(group->title()) + 4 * metrics.averageCharWidth();
    }
    return 0;
}

QString ControlName(int id)
{
    return QString::number(id);
}

void ShowOkMessage(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), text, QMessageBox::Ok, parent);
    box.exec();
}

void CentreOnParent(QWidget *window)
{
    QRect area;
    const QWidget *parent = window->parentWidget();
    if (parent && parent->isVisible())
        area = parent->frameGeometry();
    else if (const QScreen *screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (!area.isValid())
        return;
    // The frame, title bar included, once the window system has given one.
    const QSize size = window->frameGeometry().size().expandedTo(window->size());
    QRect placed(QPoint(), size);
    placed.moveTopLeft(area.center() - placed.center());
    const QScreen *screen = QGuiApplication::screenAt(area.center());
    if (!screen)
        screen = window->screen();
    // A window taller or wider than its parent would hang off the screen:
    // it is pushed back in, and where it cannot fit, its title bar and its
    // top-left corner stay on screen, so that it can still be moved.
    if (screen) {
        const QRect free = screen->availableGeometry();
        if (placed.right() > free.right())
            placed.moveRight(free.right());
        if (placed.bottom() > free.bottom())
            placed.moveBottom(free.bottom());
        if (placed.left() < free.left())
            placed.moveLeft(free.left());
        if (placed.top() < free.top())
            placed.moveTop(free.top());
    }
    window->move(placed.topLeft());
}

} // namespace tamblin

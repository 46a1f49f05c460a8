// Dialog templates give positions in dialog units: a horizontal unit is a
// quarter of the dialog font's average character width, a vertical unit an
// eighth of its height. The dialogs convert them through their own font's
// metrics, as Windows does, so they keep their templates' proportions
// whatever font stands in for the template's.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>

class QWidget;

namespace tamblin {

// The font that stands in for a template's "MS Shell Dlg" or "MS Sans Serif":
// a face with Chinese glyphs, at the pixel height Windows gives the point size.
QFont DialogFont(int pointSize);

class DialogUnits {
public:
    explicit DialogUnits(const QFont &font);

    int BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }
    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;

private:
    int m_baseX;
    int m_baseY;
};

// Window flags of a template's modal frame: caption and close box, fixed size.
inline constexpr Qt::WindowFlags kModalFrame =
    Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;

// Lays a dialog out from its template: caption, font, a fixed client size,
// and every control placed in dialog units. The main window lays out its
// client area (below its menu bar) the same way.
class DialogTemplate {
public:
    DialogTemplate(QWidget *dialog, const QString &caption, int pointSize, int width, int height);

    const DialogUnits &Units() const { return m_units; }
    // Places `control` (a child of the dialog) and gives it `id` as its object
    // name ("1002"), so the dialog's code and its tests find it by number.
    template <typename W>
    W *Place(W *control, int id, int x, int y, int width, int height)
    {
        PlaceWidget(control, id, x, y, width, height);
        return control;
    }
    // Widens text controls whose text would be cut off in the stand-in font,
    // as far as the dialog's edge allows; call once all controls are placed.
    void FitTexts();

private:
    void PlaceWidget(QWidget *control, int id, int x, int y, int width, int height);

    QWidget *m_dialog;
    DialogUnits m_units;
};

// Width a control needs to show its whole text on one line, decoration
// included; 0 for controls without a single-line text.
int TextWidthNeeded(const QWidget *control);

// The object name a control of number `id` carries.
QString ControlName(int id);

// A plain message box with an OK button, as the dialogs report errors.
void ShowOkMessage(QWidget *parent, const QString &text);

// Moves `window` to the middle of its visible parent, or of the primary
// screen's free area when it has none, then as far as needed into that
// screen's free area; a window larger than it keeps its top-left corner (and
// its title bar) on screen.
void CentreOnParent(QWidget *window);

} // namespace tamblin

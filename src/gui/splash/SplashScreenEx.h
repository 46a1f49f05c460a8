// The window shown while the program starts: a picture, shaped by its
// transparent colour, with a text over it; it can fade in and out, centre
// itself, and go away after a time-out or on the first click or key.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRect>
#include <QRegion>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdint>

class QPropertyAnimation;

namespace tamblin {

class CSplashScreenEx : public QWidget {
    Q_OBJECT

public:
    // Style bits given to Create.
    enum Style : std::uint32_t {
        kFadeIn = 0x01,
        kFadeOut = 0x02,
        kShadow = 0x04,
        kCenterScreen = 0x08,
        kCenterParent = 0x10,
        kHideOnInput = 0x20,
    };
    // Text format bits, as the drawing flags of the design name them.
    enum TextFormat : std::uint32_t {
        kTextCenter = 0x01,
        kTextRight = 0x02,
        kTextVCenter = 0x04,
        kTextBottom = 0x08,
        kTextWordBreak = 0x10,
        kTextSingleLine = 0x20,
    };
    // The picture's colour where the window is cut away: RGB(212, 120, 120).
    static constexpr QRgb kTransparent = 0xFFD47878;
    static constexpr int kFadeInMs = 500;
    static constexpr int kFadeOutMs = 200;

    CSplashScreenEx();
    ~CSplashScreenEx() override;

    // The splash the main window shows while the program starts: the
    // start-up text in white over the program's picture, centred on the
    // screen, fading in and out, with no time-out. The main window ends it
    // with Hide() and shows itself. Null when it cannot be created.
    static CSplashScreenEx *ShowStartup(QWidget *mainWindow);

    // Parent is required; the splash is a tool window owned by it. False when
    // there is no parent.
    bool Create(QWidget *parent, const QString &text, int timeoutMs = 2000, std::uint32_t style = 0);
    // Takes the picture's size, works out the position and shapes the window.
    bool SetBitmap(const QImage &picture);
    void SetTextFont();
    void SetTextRect(const QRect &rect);
    void SetTextColor(const QColor &color);
    void SetTextFormat(std::uint32_t format);
    void Show();
    // Fades out where possible, hides, and deletes the object: it must not
    // be used afterwards.
    void Hide();

    // Whether windows can be blended on this platform; looked up at
    // construction, settable for platforms that cannot say.
    bool CanAnimate() const { return m_canAnimate; }
    void SetCanAnimate(bool canAnimate) { m_canAnimate = canAnimate; }
    std::uint32_t SplashStyle() const { return m_style; }
    QPoint Position() const { return QPoint(m_x, m_y); }
    const QRegion &Shape() const { return m_region; }
    bool TimerActive() const { return m_timer.isActive(); }
    // The fade running at the moment, if any.
    QPropertyAnimation *Fade() const { return m_fade; }

    // One rectangle per run of opaque pixels per row, bottom row first,
    // united; the full rectangle when no pixel has the transparent colour.
    static QRegion RegionFromPicture(const QImage &picture, QRgb transparent = kTransparent);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void Finish();

    bool m_canAnimate;
    QImage m_picture;
    QFont m_font;
    QRegion m_region;
    std::uint32_t m_style = 0;
    int m_timeoutMs = 2000;
    QString m_text;
    QRect m_textRect;
    std::uint32_t m_textFormat = kTextCenter | kTextVCenter | kTextWordBreak;
    QColor m_textColor = Qt::black;
    int m_x = 0;
    int m_y = 0;
    int m_width = 0;
    int m_height = 0;
    QTimer m_timer;
    QPropertyAnimation *m_fade = nullptr;
    bool m_hiding = false;
};

} // namespace tamblin

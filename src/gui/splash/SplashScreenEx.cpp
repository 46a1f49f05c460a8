#include "splash/SplashScreenEx.h"

#include "dialogs/DialogUnits.h"
#include "dialogs/Resources.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QList>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScreen>

using namespace Qt::StringLiterals;

namespace tamblin {

namespace {

// Platforms that draw no real windows cannot blend them.
bool PlatformCanBlend()
{
    const QString platform = QGuiApplication::platformName();
    return !platform.isEmpty() && platform != u"offscreen"_s && platform != u"minimal"_s
        && platform != u"minimalegl"_s && platform != u"linuxfb"_s && platform != u"vnc"_s;
}

Qt::WindowFlags SplashFlags(std::uint32_t style)
{
    Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint;
    if (!(style & CSplashScreenEx::kShadow))
        flags |= Qt::NoDropShadowWindowHint;
    return flags;
}

} // namespace

CSplashScreenEx::CSplashScreenEx()
    : QWidget(nullptr, SplashFlags(0)), m_canAnimate(PlatformCanBlend()), m_font(QGuiApplication::font())
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setCursor(Qt::ArrowCursor);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CSplashScreenEx::Hide);
}

CSplashScreenEx::~CSplashScreenEx()
{
    // A fade still running goes first, while its end can still reach this
    // object (the base class would delete it after this one is gone).
    delete m_fade;
}

CSplashScreenEx *CSplashScreenEx::ShowStartup(QWidget *mainWindow)
{
    auto *splash = new CSplashScreenEx;
    if (!splash->Create(mainWindow, StoredText(kTextSplash), 0, kFadeIn | kFadeOut | kCenterScreen)
        || !splash->SetBitmap(SplashPicture())) {
        delete splash;
        return nullptr;
    }
    splash->SetTextFont();
    splash->SetTextRect(QRect(30, 50, 291 - 30, 160 - 50));
    splash->SetTextColor(Qt::white);
    splash->SetTextFormat(kTextVCenter | kTextWordBreak);
    splash->Show();
    return splash;
}

bool CSplashScreenEx::Create(QWidget *parent, const QString &text, int timeoutMs, std::uint32_t style)
{
    if (!parent)
        return false;
    m_text = text;
    m_timeoutMs = timeoutMs;
    m_style = style;
    setParent(parent, SplashFlags(style));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(QString());
    setAutoFillBackground(false);
    return true;
}

bool CSplashScreenEx::SetBitmap(const QImage &picture)
{
    if (picture.isNull())
        return false;
    m_picture = picture.convertToFormat(QImage::Format_RGB32);
    m_width = m_picture.width();
    m_height = m_picture.height();
    if (m_style & kCenterScreen) {
        const QScreen *screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
        if (screen) {
            const QRect area = screen->geometry();
            m_x = area.left() + (area.width() - m_width) / 2;
            m_y = area.top() + (area.height() - m_height) / 2;
        }
    } else if ((m_style & kCenterParent) && parentWidget()) {
        const QRect area = parentWidget()->frameGeometry();
        m_x = area.left() + (area.width() - m_width) / 2;
        m_y = area.top() + (area.height() - m_height) / 2;
    }
    m_region = RegionFromPicture(m_picture);
    setFixedSize(m_width, m_height);
    setMask(m_region);
    return true;
}

void CSplashScreenEx::SetTextFont()
{
    m_font = DialogFont(10);
}

void CSplashScreenEx::SetTextRect(const QRect &rect)
{
    m_textRect = rect;
    if (isVisible())
        repaint();
}

void CSplashScreenEx::SetTextColor(const QColor &color)
{
    m_textColor = color;
    if (isVisible())
        repaint();
}

void CSplashScreenEx::SetTextFormat(std::uint32_t format)
{
    m_textFormat = format;
}

void CSplashScreenEx::Show()
{
    setGeometry(m_x, m_y, m_width, m_height);
    if ((m_style & kFadeIn) && m_canAnimate) {
        setWindowOpacity(0.0);
        show();
        m_fade = new QPropertyAnimation(this, "windowOpacity", this);
        m_fade->setDuration(kFadeInMs);
        m_fade->setStartValue(0.0);
        m_fade->setEndValue(1.0);
        connect(m_fade, &QObject::destroyed, this, [this] { m_fade = nullptr; });
        m_fade->start(QAbstractAnimation::DeleteWhenStopped);
    } else {
        show();
    }
    if (m_timeoutMs != 0)
        m_timer.start(m_timeoutMs);
}

void CSplashScreenEx::Hide()
{
    if (m_hiding)
        return;
    m_hiding = true;
    m_timer.stop();
    if (m_fade)
        m_fade->stop();
    if ((m_style & kFadeOut) && m_canAnimate && isVisible()) {
        m_fade = new QPropertyAnimation(this, "windowOpacity", this);
        m_fade->setDuration(kFadeOutMs);
        m_fade->setStartValue(windowOpacity());
        m_fade->setEndValue(0.0);
        connect(m_fade, &QAbstractAnimation::finished, this, &CSplashScreenEx::Finish);
        connect(m_fade, &QObject::destroyed, this, [this] { m_fade = nullptr; });
        m_fade->start(QAbstractAnimation::DeleteWhenStopped);
    } else {
        Finish();
    }
}

void CSplashScreenEx::Finish()
{
    hide();
    deleteLater();
}

QRegion CSplashScreenEx::RegionFromPicture(const QImage &picture, QRgb transparent)
{
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    const QRgb key = transparent & 0xFFFFFF;
    QList<QRect> runs;
    runs.reserve(40);
    for (int y = image.height() - 1; y >= 0; --y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        int x = 0;
        while (x < image.width()) {
            while (x < image.width() && (line[x] & 0xFFFFFF) == key)
                ++x;
            const int start = x;
            while (x < image.width() && (line[x] & 0xFFFFFF) != key)
                ++x;
            if (x > start)
                runs.append(QRect(start, y, x - start, 1));
        }
    }
    QRegion region;
    for (const QRect &run : runs)
        region += run;
    return region;
}

void CSplashScreenEx::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), m_picture, QRect(0, 0, width(), height()));
    painter.setFont(m_font);
    painter.setPen(m_textColor);
    painter.setBackgroundMode(Qt::TransparentMode);
    int flags = 0;
    if (m_textFormat & kTextCenter)
        flags |= Qt::AlignHCenter;
    else if (m_textFormat & kTextRight)
        flags |= Qt::AlignRight;
    else
        flags |= Qt::AlignLeft;
    if (m_textFormat & kTextVCenter)
        flags |= Qt::AlignVCenter;
    else if (m_textFormat & kTextBottom)
        flags |= Qt::AlignBottom;
    else
        flags |= Qt::AlignTop;
    if (m_textFormat & kTextSingleLine)
        flags |= Qt::TextSingleLine;
    else if (m_textFormat & kTextWordBreak)
        flags |= Qt::TextWordWrap;
    painter.drawText(m_textRect, flags, m_text);
}

void CSplashScreenEx::mousePressEvent(QMouseEvent *event)
{
    if (m_style & kHideOnInput) {
        event->accept();
        Hide();
        return;
    }
    QWidget::mousePressEvent(event);
}

void CSplashScreenEx::keyPressEvent(QKeyEvent *event)
{
    if (m_style & kHideOnInput) {
        event->accept();
        Hide();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        // Escape on the splash gives up the start of the program.
        event->accept();
        QCoreApplication::exit(0);
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace tamblin

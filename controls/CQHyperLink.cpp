#include "CQHyperLink.h"

#include "shell/GotoURL.h"

#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QTimerEvent>

namespace {

constexpr int HoverIntervalMs = 10;

std::function<bool(const QString&)>& Opener()
{
    static std::function<bool(const QString&)> opener;
    return opener;
}

// The link fonts: the menu font's face, italic flag and height at weight 400,
// at least 11 pixels high, plain or underlined.
QFont LinkFont(bool underline)
{
    QFont font = QApplication::font("QMenu");
    const int pixels =
        font.pixelSize() > 0 ? font.pixelSize() : qRound(font.pointSizeF() * 96.0 / 72.0);
    if (pixels < 11)
        font.setPixelSize(11);
    font.setWeight(QFont::Normal);
    font.setUnderline(underline);
    return font;
}

} // namespace

CCQHyperLink::CCQHyperLink(const QString& text, QWidget* parent)
    : QWidget(parent)
    , m_strText(text)
{
    setMouseTracking(true);
    setFont(LinkFont(m_bUnderline));
}

void CCQHyperLink::SetOpenerForTesting(std::function<bool(const QString&)> opener)
{
    Opener() = std::move(opener);
}

void CCQHyperLink::SetURL(const QString& url)
{
    m_strURL = url;
    if (!m_bSetupPending) {
        m_strTooltip = url;
        setToolTip(m_bTooltipActive ? m_strTooltip : QString());
    }
}

bool CCQHyperLink::GotoURL(const QString& url)
{
    const QString target = url.isEmpty() ? m_strURL : url;
    return Opener() ? Opener()(target) : ::GotoURL(target);
}

void CCQHyperLink::SetText(const QString& text)
{
    m_strText = text;
    updateGeometry();
    update();
}

void CCQHyperLink::SetAlignment(Qt::Alignment alignment)
{
    m_nAlignment = alignment & Qt::AlignHorizontal_Mask;
    update();
}

void CCQHyperLink::SetColours(const QColor& link, const QColor& visited, const QColor& hover)
{
    m_crLink = link;
    m_crVisited = visited;
    m_crHover = hover;
    update();
}

void CCQHyperLink::SetBackgroundColour(const QColor& colour)
{
    m_crBackground = colour;
    update();
}

void CCQHyperLink::SetVisited(bool visited)
{
    m_bVisited = visited;
    update();
}

void CCQHyperLink::SetUnderline(bool underline)
{
    m_bUnderline = underline;
    setFont(LinkFont(underline));
    update();
}

QSize CCQHyperLink::sizeHint() const
{
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(m_strText), metrics.height()};
}

bool CCQHyperLink::IsOnText(const QPoint& point) const
{
    const int textWidth = QFontMetrics(font()).horizontalAdvance(m_strText);
    QRect onText = rect();
    if (m_nAlignment & Qt::AlignRight)
        onText.setLeft(onText.right() + 1 - textWidth);
    else if (m_nAlignment & Qt::AlignHCenter)
        onText.adjust((width() - textWidth) / 2, 0, -((width() - textWidth) / 2), 0);
    else
        onText.setWidth(textWidth);
    return onText.contains(point);
}

void CCQHyperLink::Setup()
{
    m_bSetupPending = false;
    if (m_strURL.isEmpty())
        m_strURL = m_strText;
    if (m_strTooltip.isEmpty())
        m_strTooltip = m_strURL;
    setToolTip(m_bTooltipActive ? m_strTooltip : QString());
    setFont(LinkFont(m_bUnderline));
}

void CCQHyperLink::showEvent(QShowEvent* event)
{
    if (m_bSetupPending)
        Setup();
    QWidget::showEvent(event);
}

QColor CCQHyperLink::CurrentTextColour() const
{
    if (m_bHover)
        return m_crHover;
    return m_bVisited ? m_crVisited : m_crLink;
}

void CCQHyperLink::paintEvent(QPaintEvent*)
{
    // Drawn off-screen and copied in one go, so the colour changes of hovering
    // do not flicker.
    const qreal ratio = devicePixelRatioF();
    QImage buffer(size() * ratio, QImage::Format_ARGB32_Premultiplied);
    buffer.setDevicePixelRatio(ratio);
    buffer.fill(m_crBackground.isValid() ? m_crBackground
                                         : palette().color(QPalette::Active, QPalette::Button));
    {
        QPainter painter(&buffer);
        painter.setFont(font());
        painter.setPen(CurrentTextColour());
        painter.drawText(rect(), int(m_nAlignment) | Qt::AlignTop | Qt::TextWordWrap, m_strText);
    }
    QPainter(this).drawImage(0, 0, buffer);
}

void CCQHyperLink::UpdateCursor(const QPoint& point)
{
    if (IsOnText(point))
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();
}

void CCQHyperLink::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint point = event->position().toPoint();
    UpdateCursor(point);
    const bool onText = IsOnText(point);
    // While the cursor rests on the text the timer keeps checking, so that
    // the hover colour goes as soon as the cursor leaves without a move here.
    if (onText)
        m_hoverTimer.start(HoverIntervalMs, this);
    if (onText != m_bHover) {
        m_bHover = onText;
        repaint();
    }
    event->ignore();
}

void CCQHyperLink::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_hoverTimer.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    const bool onText = underMouse() && IsOnText(mapFromGlobal(QCursor::pos()));
    // Stopped when the cursor has left the text; each tick repaints.
    if (!onText)
        m_hoverTimer.stop();
    m_bHover = onText;
    repaint();
}

void CCQHyperLink::mousePressEvent(QMouseEvent* event)
{
    // A press beside the text belongs to the parent, and with it the release.
    if (event->button() == Qt::LeftButton && IsOnText(event->position().toPoint()))
        event->accept();
    else
        event->ignore();
}

void CCQHyperLink::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !IsOnText(event->position().toPoint())) {
        event->ignore();
        return;
    }
    if (m_bOpenOnClick) {
        // A failed open leaves the link as it was.
        if (GotoURL())
            SetVisited(true);
        event->accept();
    } else {
        SetVisited(true);
        event->ignore();
    }
}

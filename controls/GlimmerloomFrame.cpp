#include "GlimmerloomFrame.h"

#include "AppFonts.h"
#include "ResourceImages.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QWindow>

namespace {

constexpr int ButtonTop = 6;
constexpr int ButtonHitSize = 16; // both ends of the 15-pixel span respond
constexpr int TitleLeft = 30;
constexpr int TitleRightMargin = 70;
constexpr QColor FrameBody{74, 74, 74};
constexpr QColor HiddenAccent{250, 10, 10};

} // namespace

CGlimmerloomFrame::ButtonImages CGlimmerloomFrame::ButtonImages::Of(const ButtonPictures& ids)
{
    return {LoadResourceBitmap(ids.normal), LoadResourceBitmap(ids.pressed),
            LoadResourceBitmap(ids.hover)};
}

CGlimmerloomFrame::CGlimmerloomFrame(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
    , m_bmpCaption(LoadResourceBitmap(Pictures::Caption))
    , m_minimise(ButtonImages::Of(Pictures::Minimise))
    , m_middle(ButtonImages::Of(Pictures::Middle))
    , m_close(ButtonImages::Of(Pictures::Close))
    , m_fontCaption(CellHeightFont(QStringLiteral("Tahoma"), 15, QFont::Bold))
{
    setMouseTracking(true);
}

void CGlimmerloomFrame::SetClientWidget(QWidget* client)
{
    m_client = client;
    if (!client)
        return;
    client->setParent(this);
    client->setGeometry(ClientRect());
    client->show();
}

QRect CGlimmerloomFrame::ClientRect() const
{
    return QRect(LeftBorder, CaptionHeight, width() - LeftBorder - RightBorder,
                 height() - CaptionHeight - BottomBorder);
}

int CGlimmerloomFrame::ButtonLeft(CaptionButton button) const
{
    switch (button) {
    case MinimiseButton:
        return width() - 64;
    case MiddleButton:
        return width() - 48;
    case CloseButton:
        return width() - 32;
    case NoButton:
        break;
    }
    return 0;
}

CGlimmerloomFrame::CaptionButton CGlimmerloomFrame::CaptionButtonAt(const QPoint& point) const
{
    for (CaptionButton button : {MinimiseButton, MiddleButton, CloseButton}) {
        if (QRect(ButtonLeft(button), ButtonTop, ButtonHitSize, ButtonHitSize).contains(point))
            return button;
    }
    return NoButton;
}

bool CGlimmerloomFrame::InDragBand(const QPoint& point) const
{
    return point.y() < DragBandHeight && !ClientRect().contains(point) && rect().contains(point);
}

void CGlimmerloomFrame::paintEvent(QPaintEvent*)
{
    const int w = width();
    const int h = height();
    const qreal ratio = devicePixelRatioF();
    QImage buffer(size() * ratio, QImage::Format_RGB32);
    buffer.setDevicePixelRatio(ratio);
    buffer.fill(Qt::black);
    {
        QPainter painter(&buffer);
        // A black outline around a dark grey body: one pixel on the left and
        // top, two on the right and bottom.
        painter.fillRect(QRect(1, 1, w - 3, h - 3), FrameBody);
        painter.fillRect(QRect(10, 1, w - 21, 1), HiddenAccent);
        // The source rectangle counts the picture's own pixels, two per
        // logical pixel for the large picture.
        const qreal scale = m_bmpCaption.devicePixelRatio();
        painter.drawPixmap(QPointF(1, 1), m_bmpCaption, QRectF(0, 0, 791 * scale, 42 * scale));

        const auto drawButton = [&](CaptionButton button, const ButtonImages& images, bool hover) {
            const QPixmap& image = m_nPressedButton == button ? images.pressed
                                   : hover                    ? images.hover
                                                              : images.normal;
            painter.drawPixmap(ButtonLeft(button), ButtonTop, image);
        };
        drawButton(CloseButton, m_close, m_bCloseHover);
        drawButton(MiddleButton, m_middle, m_bMiddleHover);
        drawButton(MinimiseButton, m_minimise, m_bMinimiseHover);

        painter.setFont(m_fontCaption);
        painter.setPen(Qt::white);
        const QRect title(TitleLeft, 0, w - TitleRightMargin - TitleLeft, DragBandHeight);
        const QString text =
            painter.fontMetrics().elidedText(windowTitle(), Qt::ElideRight, title.width());
        painter.drawText(title, Qt::AlignCenter | Qt::TextSingleLine | Qt::TextDontClip, text);
    }
    // Only the frame: the client area belongs to the client widget.
    QPainter painter(this);
    painter.setClipRegion(QRegion(rect()).subtracted(QRegion(ClientRect())));
    painter.drawImage(0, 0, buffer);
}

void CGlimmerloomFrame::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    setMask(QRegion(0, 0, width(), height()));
    if (m_client)
        m_client->setGeometry(ClientRect());
}

bool CGlimmerloomFrame::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::WindowTitleChange:
        update();
        break;
    case QEvent::WindowDeactivate:
    case QEvent::Hide:
        // The press can no longer end in a release here.
        if (m_nPressedButton != NoButton) {
            m_nPressedButton = NoButton;
            update();
        }
        m_bDragging = false;
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

void CGlimmerloomFrame::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint point = event->position().toPoint();
    if (m_bDragging) {
        move(event->globalPosition().toPoint() - m_dragOffset);
        return;
    }
    if (m_nPressedButton != NoButton || ClientRect().contains(point))
        return;
    const CaptionButton over = CaptionButtonAt(point);
    m_bMinimiseHover = over == MinimiseButton;
    m_bMiddleHover = over == MiddleButton;
    m_bCloseHover = over == CloseButton;
    update();
}

void CGlimmerloomFrame::mousePressEvent(QMouseEvent* event)
{
    const QPoint point = event->position().toPoint();
    if (event->button() != Qt::LeftButton || !InDragBand(point))
        return;
    // Qt hands the release to the widget that got the press, so the matching
    // release comes back here wherever it happens.
    if (const CaptionButton button = CaptionButtonAt(point); button != NoButton) {
        m_nPressedButton = button;
        update();
        return;
    }
    if (windowHandle() && windowHandle()->startSystemMove())
        return;
    // Without a window manager (a bare X server) the window moves itself.
    m_bDragging = true;
    m_dragOffset = event->globalPosition().toPoint() - pos();
}

void CGlimmerloomFrame::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_bDragging = false;
    const CaptionButton pressed = m_nPressedButton;
    if (pressed == NoButton)
        return;
    m_nPressedButton = NoButton;
    update();
    if (CaptionButtonAt(event->position().toPoint()) != pressed)
        return;
    if (pressed == MinimiseButton)
        showMinimized();
    else if (pressed == CloseButton)
        close();
}

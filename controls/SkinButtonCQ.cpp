#include "SkinButtonCQ.h"

#include "ResourceImages.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {

// Posted to the other radio buttons of a group when one of them is checked.
QEvent::Type UncheckEventType()
{
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

} // namespace

CSkinButtonCQ::CSkinButtonCQ(QWidget* parent, Kind kind)
    : QAbstractButton(parent)
    , m_crText(palette().color(QPalette::Active, QPalette::ButtonText))
    , m_nKind(kind)
{
    // Hover starts at a mouse move without a button held.
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
}

void CSkinButtonCQ::SetSkin(quint16 normal, quint16 down, quint16 over, quint16 disabled,
                            quint16 focus)
{
    m_bmpNormal = LoadResourceBitmap(normal);
    m_bmpDown = LoadResourceBitmap(down);
    m_bmpOver = LoadResourceBitmap(over);
    m_bmpDisabled = LoadResourceBitmap(disabled);
    m_bmpFocus = LoadResourceBitmap(focus);
    updateGeometry();
    update();
}

void CSkinButtonCQ::SetSkin(const ButtonPictures& pictures)
{
    SetSkin(pictures.normal, pictures.pressed, pictures.hover, pictures.pressed, pictures.normal);
}

void CSkinButtonCQ::SetCheck(bool check)
{
    m_bChecked = check && m_nKind != Push;
    if (m_nKind == Radio && check)
        PostUncheckToGroup();
    update();
}

void CSkinButtonCQ::SetTextColor(const QColor& colour)
{
    m_crText = colour;
    update();
}

void CSkinButtonCQ::PostUncheckToGroup()
{
    if (!parentWidget())
        return;
    for (QObject* sibling : parentWidget()->children()) {
        auto* button = qobject_cast<CSkinButtonCQ*>(sibling);
        if (button && button != this && button->m_nKind == Radio)
            QCoreApplication::postEvent(button, new QEvent(UncheckEventType()));
    }
}

void CSkinButtonCQ::CheckByUser()
{
    if (m_nKind == CheckBox)
        SetCheck(!m_bChecked);
    else if (m_nKind == Radio)
        SetCheck(true);
}

bool CSkinButtonCQ::event(QEvent* event)
{
    if (event->type() == UncheckEventType()) {
        if (m_bChecked) {
            m_bChecked = false;
            update();
        }
        return true;
    }
    return QAbstractButton::event(event);
}

CSkinButtonCQ::Look CSkinButtonCQ::CurrentLook() const
{
    if (!isEnabled())
        return Look::Disabled;
    if (isDown() || m_bChecked)
        return Look::Down;
    return Look::Normal;
}

QPixmap CSkinButtonCQ::CurrentImage() const
{
    switch (CurrentLook()) {
    case Look::Disabled:
        return m_bmpDisabled;
    case Look::Down:
        return m_bmpDown;
    case Look::Normal:
        break;
    }
    if (m_bmpNormal.isNull())
        return {};
    if (m_bHovering && !m_bmpOver.isNull())
        return m_bmpOver;
    if (hasFocus() && !m_bmpFocus.isNull())
        return m_bmpFocus;
    return m_bmpNormal;
}

QSize CSkinButtonCQ::sizeHint() const
{
    if (!m_bmpNormal.isNull())
        return m_bmpNormal.deviceIndependentSize().toSize();
    return {66, 62};
}

void CSkinButtonCQ::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const Look look = CurrentLook();
    const QPixmap image = CurrentImage();
    if (image.isNull())
        painter.fillRect(rect(), palette().color(QPalette::Active, QPalette::Button));
    else
        painter.drawPixmap(0, 0, image);
    if (m_bKeyboardFocus && hasFocus() && look != Look::Disabled)
        PaintFocusLook(painter, image);

    const QString label = text();
    if (label.isEmpty())
        return;
    QRect textRect = rect().adjusted(2, 0, -2, 0);
    if (look == Look::Down)
        textRect.translate(1, 1);
    const int flags = Qt::AlignCenter | Qt::TextSingleLine;
    if (look == Look::Disabled) {
        // Engraved: a light copy, and the grey text one pixel up and left of it.
        painter.setPen(palette().color(QPalette::Active, QPalette::Light));
        painter.drawText(textRect, flags, label);
        painter.setPen(palette().color(QPalette::Disabled, QPalette::WindowText));
        painter.drawText(textRect.translated(-1, -1), flags, label);
    } else {
        painter.setPen(m_crText);
        painter.drawText(textRect, flags, label);
    }
}

void CSkinButtonCQ::PaintFocusLook(QPainter& painter, const QPixmap& image) const
{
    // Inside the picture's rounded frame (the part of it the button shows).
    QRect face = rect();
    if (!image.isNull())
        face &= QRect(QPoint(0, 0), image.deviceIndependentSize().toSize());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::Active, QPalette::Highlight), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(face).adjusted(4, 4, -4, -4), 4, 4);
}

void CSkinButtonCQ::mouseMoveEvent(QMouseEvent* event)
{
    // While the button is held, QAbstractButton sets and clears the pressed
    // state as the cursor leaves and comes back.
    if (!m_bMouseDown && !m_bHovering) {
        m_bHovering = true;
        update();
    }
    QAbstractButton::mouseMoveEvent(event);
}

void CSkinButtonCQ::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_bHovering = false;
        m_bMouseDown = true;
        m_bKeyboardFocus = false;
        update();
    }
    QAbstractButton::mousePressEvent(event);
}

void CSkinButtonCQ::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_bMouseDown) {
        if (rect().contains(event->position().toPoint()))
            CheckByUser();
        m_bMouseDown = false;
    }
    QAbstractButton::mouseReleaseEvent(event);
}

void CSkinButtonCQ::mouseDoubleClickEvent(QMouseEvent* event)
{
    mousePressEvent(event);
}

void CSkinButtonCQ::leaveEvent(QEvent* event)
{
    m_bHovering = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void CSkinButtonCQ::focusInEvent(QFocusEvent* event)
{
    m_bKeyboardFocus =
        event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    QAbstractButton::focusInEvent(event);
}

void CSkinButtonCQ::focusOutEvent(QFocusEvent* event)
{
    m_bKeyboardFocus = false;
    if (m_bMouseDown) {
        m_bMouseDown = false;
        setDown(false);
    }
    QAbstractButton::focusOutEvent(event);
}

void CSkinButtonCQ::keyPressEvent(QKeyEvent* event)
{
    if (!m_bKeyboardFocus) {
        m_bKeyboardFocus = true;
        update();
    }
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if ((event->key() == Qt::Key_Space || enter) && !event->isAutoRepeat())
        CheckByUser();
    if (enter && !event->isAutoRepeat()) {
        // Pressed for a moment, then clicked, as Space does on its release.
        animateClick();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

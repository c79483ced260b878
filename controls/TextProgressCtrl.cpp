#include "TextProgressCtrl.h"

#include <QGuiApplication>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>

CTextProgressCtrl::CTextProgressCtrl(QWidget* parent)
    : QWidget(parent)
    , m_crBar(palette().color(QPalette::Active, QPalette::Highlight))
    , m_crBackground(palette().color(QPalette::Active, QPalette::Base))
    , m_crTextOverBackground(m_crBar)
    , m_crTextOverBar(m_crBackground)
{
}

int CTextProgressCtrl::SetPos(int position)
{
    const int previous = m_nPos;
    m_nPos = position;
    const int fillWidth = FillWidth();
    if (fillWidth != m_nLastFillWidth) {
        m_nLastFillWidth = fillWidth;
        repaint();
    }
    return previous;
}

void CTextProgressCtrl::SetCaption(const QString& caption)
{
    if (caption == m_strCaption)
        return;
    m_strCaption = caption;
    update();
}

QSize CTextProgressCtrl::sizeHint() const
{
    return {182, 16};
}

double CTextProgressCtrl::Fraction() const
{
    return double(m_nPos - m_nLower) / double(m_nUpper - m_nLower);
}

int CTextProgressCtrl::FillWidth() const
{
    if (m_nLower >= m_nUpper)
        return 0;
    return int(double(width()) * Fraction());
}

QString CTextProgressCtrl::BarText() const
{
    if (!m_strCaption.isEmpty())
        return m_strCaption;
    return QStringLiteral("%1%").arg(int(Fraction() * 100.0));
}

void CTextProgressCtrl::paintEvent(QPaintEvent* event)
{
    if (m_nLower >= m_nUpper)
        return;
    const QRect client = rect();
    const QRect area = event->rect();
    const int edge = client.left() + FillWidth();

    // Everything goes into one image of the area to repaint, in the widget's
    // coordinates, which is then copied to the screen in one go: the bar never
    // flickers however often the position changes.
    const qreal ratio = devicePixelRatioF();
    QImage buffer(area.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    buffer.setDevicePixelRatio(ratio);
    {
        QPainter painter(&buffer);
        painter.translate(-area.topLeft());
        const QRect filled(client.left(), client.top(), edge - client.left(), client.height());
        const QRect empty(edge, client.top(), client.right() + 1 - edge, client.height());
        painter.fillRect(filled, m_crBar);
        painter.fillRect(empty, m_crBackground);
        if (m_bShowText) {
            painter.setFont(QGuiApplication::font());
            const QString text = BarText();
            const auto pass = [&](const QRect& clip, const QColor& colour) {
                painter.setClipRect(clip);
                painter.setPen(colour);
                painter.drawText(client, Qt::AlignCenter | Qt::TextSingleLine, text);
            };
            pass(filled, m_crTextOverBar);
            pass(empty, m_crTextOverBackground);
        }
    }
    QPainter(this).drawImage(area.topLeft(), buffer);
}

void CTextProgressCtrl::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_nLastFillWidth = -1;
}

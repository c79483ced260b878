#include "StaticCQ.h"

#include <QPainter>

CStaticCQ::CStaticCQ(const QString& text, Qt::Alignment alignment, bool singleCentredLine,
                     QWidget* parent)
    : QWidget(parent)
    , m_font(font())
    , m_crText(palette().color(QPalette::Active, QPalette::ButtonText))
    , m_crBackground(palette().color(QPalette::Active, QPalette::Button))
    , m_strText(text)
    , m_nFormat(int(alignment & Qt::AlignHorizontal_Mask) |
                (singleCentredLine ? Qt::AlignVCenter | Qt::TextSingleLine
                                   : Qt::AlignTop | Qt::TextWordWrap))
{
}

void CStaticCQ::SetText(const QString& text)
{
    m_strText = text;
    update();
}

void CStaticCQ::SetLogFont(const QFont* font)
{
    if (!font)
        return;
    m_font = *font;
    m_font.setWeight(m_bBold ? QFont::Bold : QFont::Normal);
}

void CStaticCQ::SetOffsets(int x, int y)
{
    m_nXOffset = x;
    m_nYOffset = y;
    update();
}

void CStaticCQ::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_crBackground);
    painter.setFont(m_font);
    painter.setPen(m_crText);
    painter.setBackground(m_crBackground);
    painter.setBackgroundMode(Qt::OpaqueMode);
    // Without Qt::TextDontClip the text is cut at the rectangle's edges.
    painter.drawText(rect().adjusted(m_nXOffset, m_nYOffset, 0, 0), m_nFormat, m_strText);
}

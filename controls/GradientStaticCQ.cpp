#include "GradientStaticCQ.h"

#include "AppFonts.h"

#include <algorithm>

#include <QPainter>

CGradientStaticCQ::CGradientStaticCQ(const QString& text, QWidget* parent)
    : QWidget(parent)
    , m_strText(text)
{
}

void CGradientStaticCQ::SetWindowText(const QString& text)
{
    m_strText = text;
    update();
}

QColor CGradientStaticCQ::GradientColumn(const QColor& start, const QColor& end, int i, int w)
{
    // Integer division in C++ truncates toward zero, as the gradient requires.
    const auto step = [i, w](int from, int to) { return from + (i * (to - from)) / w; };
    return QColor(step(start.red(), end.red()), step(start.green(), end.green()),
                  step(start.blue(), end.blue()));
}

void CGradientStaticCQ::MakeGradient()
{
    const int w = width();
    const int h = std::max(height(), 1);
    m_imgGradient = QImage(std::max(w, 1), h, QImage::Format_RGB32);
    m_imgGradient.fill(m_crStart);
    QPainter painter(&m_imgGradient);
    for (int i = 0; i < w; ++i)
        painter.fillRect(i, 0, 1, h, GradientColumn(m_crStart, m_crEnd, i, w));
}

QFont CGradientStaticCQ::HeadingFont()
{
    if (m_strFaceName.isEmpty())
        return parentWidget() ? parentWidget()->font() : font();
    if (!m_fontHeading) {
        QFont heading = CellHeightFont(m_strFaceName, m_nFontHeight, QFont::Weight(m_nFontWeight));
        heading.setItalic(false);
        heading.setUnderline(false);
        heading.setStrikeOut(false);
        m_fontHeading = heading;
    }
    return *m_fontHeading;
}

void CGradientStaticCQ::paintEvent(QPaintEvent*)
{
    if (m_imgGradient.isNull())
        MakeGradient();
    QPainter painter(this);
    // One to one: a heading that grew later shows no gradient beyond its first size.
    painter.drawImage(QPoint(0, 0), m_imgGradient);
    painter.setFont(HeadingFont());
    painter.setPen(m_crText);
    painter.drawText(rect().adjusted(5, 0, 0, 0),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_strText);
}

#pragma once

#include "controls/FormColours.h"

#include <optional>

#include <QColor>
#include <QFont>
#include <QImage>
#include <QString>
#include <QWidget>

// A section heading: a horizontal gradient from light grey at the left to dark
// grey at the right, with the text in bold "Tahoma" of 13 pixels, 5 pixels in
// from the left edge and centred vertically. The gradient is made once, at the
// size the heading has when it is first painted.
class CGradientStaticCQ final : public QWidget
{
    Q_OBJECT
public:
    explicit CGradientStaticCQ(const QString& text, QWidget* parent = nullptr);

    // Stores the text and repaints the heading.
    void SetWindowText(const QString& text);
    QString WindowText() const { return m_strText; }

    // The colour of column i of a gradient w columns wide: each component runs
    // from start toward end as start + i * (end - start) / w, the quotient
    // truncated toward zero, so the last column stops one step short of end.
    static QColor GradientColumn(const QColor& start, const QColor& end, int i, int w);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void MakeGradient();
    QFont HeadingFont();

    int m_nFontHeight = 13;
    int m_nFontWeight = 700;
    QString m_strFaceName = QStringLiteral("Tahoma"); // empty: the parent's font
    QImage m_imgGradient;
    std::optional<QFont> m_fontHeading;
    QColor m_crText{72, 72, 72};
    QColor m_crStart{237, 233, 235};
    QColor m_crEnd = FormColours::Background;
    QString m_strText;
};

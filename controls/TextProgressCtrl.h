#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

// A horizontal progress bar that paints itself completely and writes a text
// across the bar: the percentage reached ("37%"), or a caption when one is set.
// The text is drawn twice, each pass clipped to one side of the fill edge, so
// that a glyph the edge runs through changes colour exactly at the edge.
//
// The range is 0 to 100 and the colours are the palette's highlight (bar, and
// text over the empty part) and base (empty part, and text over the bar), read
// once at construction. The text is drawn in the application's default font;
// the widget's own font (inherited from the form) is not used.
class CTextProgressCtrl final : public QWidget
{
    Q_OBJECT
public:
    explicit CTextProgressCtrl(QWidget* parent = nullptr);

    // Stores the position (not clamped to the range) and returns the previous
    // one. Repaints at once, before returning, but only when the width of the
    // filled part in whole pixels differs from the width at the last repaint
    // made here (or the widget was resized since).
    int SetPos(int position);
    int GetPos() const { return m_nPos; }

    // A non-empty caption replaces the percentage; an empty one brings the
    // percentage back. Setting the caption it already has changes nothing.
    void SetCaption(const QString& caption);
    QString Caption() const { return m_strCaption; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    double Fraction() const;
    int FillWidth() const;
    QString BarText() const;

    int m_nPos = 0;
    int m_nUpper = 100;
    int m_nLower = 0;
    QString m_strCaption;
    bool m_bShowText = true;
    int m_nLastFillWidth = -1; // -1: repaint on the next SetPos whatever the width
    QColor m_crBar;
    QColor m_crBackground;
    QColor m_crTextOverBackground;
    QColor m_crTextOverBar;
};

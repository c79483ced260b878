#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>

// A label of the form's information panel: its own text, font, text and
// background colours, alignment and text offset. It paints its own text
// field; only SetText changes what is shown.
class CStaticCQ final : public QWidget
{
    Q_OBJECT
public:
    // alignment: Qt::AlignLeft, Qt::AlignHCenter or Qt::AlignRight.
    // singleCentredLine: one line centred vertically; otherwise the text is
    // word-wrapped from the top and cut off at the bottom. The font starts as
    // the widget's font at construction (the parent's, when there is one).
    CStaticCQ(const QString& text, Qt::Alignment alignment, bool singleCentredLine,
              QWidget* parent = nullptr);

    // Stores the text and repaints.
    void SetText(const QString& text);
    QString Text() const { return m_strText; }

    // The colour setters and SetLogFont take effect at the next repaint; they
    // do not repaint by themselves.
    void SetTextColor(const QColor& colour) { m_crText = colour; }
    void SetBkColor(const QColor& colour) { m_crBackground = colour; }
    QColor TextColor() const { return m_crText; }
    QColor BkColor() const { return m_crBackground; }

    // Replaces the font with a copy of *font, of weight 700 when bold is set
    // and 400 otherwise. A null pointer changes nothing.
    void SetLogFont(const QFont* font);
    QFont LogFont() const { return m_font; }

    // Whether fonts given later with SetLogFont are bold.
    void SetBold(bool bold) { m_bBold = bold; }

    // Moves the text's left edge right by x and its top edge down by y pixels.
    void SetOffsets(int x, int y);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont m_font;
    QColor m_crText;
    QColor m_crBackground;
    bool m_bBold = false;
    int m_nXOffset = 0;
    int m_nYOffset = 0;
    QString m_strText;
    int m_nFormat;
};

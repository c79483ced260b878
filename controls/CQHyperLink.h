#pragma once

#include <functional>

#include <QBasicTimer>
#include <QColor>
#include <QString>
#include <QWidget>

// A text link: the text in a link colour and an underlined font, a hand cursor
// and a hover colour while the cursor is on the text (not merely on the
// widget), a tooltip with the target, and a click on the text that opens the
// target with ::GotoURL and marks the link visited when that succeeds. A click
// beside the text is left to the parent widget.
//
// Set-up runs once, when the widget is first shown: a link without a target
// takes its own text as the target, and the tooltip shows the target. A link
// that is never shown can still open addresses with GotoURL.
class CCQHyperLink final : public QWidget
{
    Q_OBJECT
public:
    explicit CCQHyperLink(const QString& text = {}, QWidget* parent = nullptr);

    // What a click opens. After set-up the tooltip follows the new target.
    void SetURL(const QString& url);
    QString GetURL() const { return m_strURL; }

    // Opens url, or the stored target when url is empty, with the desktop's
    // default handler. True when the desktop accepted it.
    bool GotoURL(const QString& url = {});

    // Replaces what GotoURL calls to open an address (by default ::GotoURL),
    // for every hyperlink, until called again with an empty function. For
    // tests, which must never open a browser.
    static void SetOpenerForTesting(std::function<bool(const QString&)> opener);

    void SetText(const QString& text);
    QString Text() const { return m_strText; }
    // Qt::AlignLeft (the default), Qt::AlignHCenter or Qt::AlignRight.
    void SetAlignment(Qt::Alignment alignment);

    void SetColours(const QColor& link, const QColor& visited, const QColor& hover);
    QColor GetLinkColour() const { return m_crLink; }
    QColor GetVisitedColour() const { return m_crVisited; }
    QColor GetHoverColour() const { return m_crHover; }
    // Fill behind the text; an invalid colour (the default) means the
    // palette's button colour.
    void SetBackgroundColour(const QColor& colour);

    void SetVisited(bool visited);
    bool GetVisited() const { return m_bVisited; }
    void SetUnderline(bool underline);
    bool GetUnderline() const { return m_bUnderline; }
    // Whether a click on the text opens the target; when not, a click marks
    // the link visited and goes on to the parent.
    void SetAutoOpen(bool open) { m_bOpenOnClick = open; }

    // Whether the point (in widget coordinates) lies on the text: the full
    // height, and horizontally the text's width placed by the alignment.
    bool IsOnText(const QPoint& point) const;
    bool IsHovering() const { return m_bHover; }

    QSize sizeHint() const override;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void Setup();
    void UpdateCursor(const QPoint& point);
    QColor CurrentTextColour() const;

    bool m_bOpenOnClick = true;
    bool m_bSetupPending = true;
    bool m_bUnderline = true;
    bool m_bHover = false;
    bool m_bVisited = false;
    bool m_bTooltipActive = true;
    QString m_strURL;
    QString m_strTooltip;
    QString m_strText;
    Qt::Alignment m_nAlignment = Qt::AlignLeft;
    QColor m_crLink{0, 0, 128};
    QColor m_crHover{0, 0, 255};
    QColor m_crVisited{128, 0, 128};
    QColor m_crBackground; // invalid: the palette's button colour
    QBasicTimer m_hoverTimer;
};

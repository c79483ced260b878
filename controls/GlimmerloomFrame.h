#pragma once

#include <QFont>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QWidget>

struct ButtonPictures;

// A frameless top-level window that draws its own frame: a dark caption band
// 39 pixels high with the caption picture, the window title (windowTitle()) in
// white and three small picture buttons (minimise, a middle button that does
// nothing, close), and thin dark borders on the other sides. The client widget
// fills the rest: inset 39 from the top, 3 from the left and 4 from the right
// and bottom.
//
// A press and a release on the same caption button minimise (showMinimized())
// or close (close(), so closeEvent runs) the window; a release elsewhere does
// nothing. A press anywhere else in the top 40 pixels outside the client area
// drags the window. The window's mask is its full rectangle, renewed whenever
// its size changes.
class CGlimmerloomFrame : public QWidget
{
    Q_OBJECT
public:
    enum CaptionButton
    {
        NoButton = 0,
        MinimiseButton = 1,
        MiddleButton = 2,
        CloseButton = 3
    };

    explicit CGlimmerloomFrame(QWidget* parent = nullptr);

    // Makes client a child of the frame and keeps it on the client area.
    void SetClientWidget(QWidget* client);
    QWidget* ClientWidget() const { return m_client; }

    // The client area, in the frame's coordinates.
    QRect ClientRect() const;

    // The caption button that responds at the point (frame coordinates): each
    // responds on a 16 by 16 square, both ends included, at y 6 to 21 and x
    // from w - 64 (minimise), w - 48 (middle) and w - 32 (close).
    CaptionButton CaptionButtonAt(const QPoint& point) const;

    // The button pressed and not yet released; NoButton when none is.
    CaptionButton PressedButton() const { return m_nPressedButton; }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    struct ButtonImages
    {
        QPixmap normal;
        QPixmap pressed;
        QPixmap hover;

        static ButtonImages Of(const ButtonPictures& ids);
    };

    static constexpr int CaptionHeight = 39;
    static constexpr int DragBandHeight = 40;
    static constexpr int LeftBorder = 3;
    static constexpr int RightBorder = 4;
    static constexpr int BottomBorder = 4;

    // x of a caption button's picture and of its square's left edge.
    int ButtonLeft(CaptionButton button) const;
    bool InDragBand(const QPoint& point) const;

    QPixmap m_bmpCaption;
    ButtonImages m_minimise;
    ButtonImages m_middle;
    ButtonImages m_close;
    QFont m_fontCaption;
    CaptionButton m_nPressedButton = NoButton;
    bool m_bMiddleHover = false;
    bool m_bMinimiseHover = false;
    bool m_bCloseHover = false;
    // Moving the window by hand where the window system cannot move it.
    bool m_bDragging = false;
    QPoint m_dragOffset;
    QPointer<QWidget> m_client;
};

#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QPixmap>

struct ButtonPictures;
class QPainter;

// A button whose whole face is a picture chosen by its state: normal, pressed,
// hover, disabled and focused. The label is normally part of the pictures; a
// text given with setText() is drawn centred on top of them.
//
// Looks, first match wins: disabled; pressed (the left button is held and the
// cursor is over the button) or checked; hover; focused; normal. While the left
// button is held after a press on the button the pressed picture follows the
// cursor: dragged off it shows the normal picture, dragged back the pressed one.
// Hover starts at a mouse move over the button and ends when the cursor leaves
// it or the left button goes down, so right after a click the button shows its
// normal picture until the cursor moves again. A double click counts as a
// second press.
//
// The keyboard: Tab reaches the button; Space and Return press it. While the
// focus is the keyboard's (it came with Tab or Backtab, or a key was pressed on
// the button since), a ring in the palette's highlight colour is drawn inside
// the face on top of the picture, as the focus look; a focus taken with the
// mouse shows none, so a clicked button keeps its picture.
//
// The check-box kind toggles on each click released over it and on the space
// bar; the radio kind checks itself, and then posts an uncheck notification to
// the other buttons of its group, which change their look once the event loop
// has handled the notifications. A radio button's group is every radio-kind
// CSkinButtonCQ that has the same parent widget. The push kind is never checked.
// Clicks are reported through QAbstractButton::clicked(); the button is not
// checkable in Qt's sense (isChecked() stays false), use GetCheck().
class CSkinButtonCQ final : public QAbstractButton
{
    Q_OBJECT
public:
    enum Kind
    {
        Push = 0,
        CheckBox = 2,
        Radio = 4
    };

    explicit CSkinButtonCQ(QWidget* parent = nullptr, Kind kind = Push);

    // Replaces the five pictures with those of the given resource ids (see
    // ResourceImages.h); an id without a picture leaves its look empty. An empty
    // look falls back as described above; with no normal picture the face is
    // filled with the palette's button colour.
    void SetSkin(quint16 normal, quint16 down, quint16 over, quint16 disabled, quint16 focus);
    // The same with a button's three looks: the pressed look also shows when the
    // button is disabled, the normal look when it has the focus.
    void SetSkin(const ButtonPictures& pictures);

    // Checks or unchecks the check-box and radio kinds and repaints; a radio
    // button that becomes checked unchecks the rest of its group (posted).
    void SetCheck(bool check);
    bool GetCheck() const { return m_bChecked; }

    // Colour of a text set with setText() in every look but the disabled one.
    void SetTextColor(const QColor& colour);

    // The picture the button paints for its current state (null when that look
    // has no picture): what a user sees, for callers that check the look.
    QPixmap CurrentImage() const;

    QSize sizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum class Look
    {
        Disabled,
        Down,
        Normal
    };
    Look CurrentLook() const;
    // Flips a check box, checks a radio button; nothing for the push kind.
    void CheckByUser();
    void PostUncheckToGroup();
    void PaintFocusLook(QPainter& painter, const QPixmap& image) const;

    bool m_bMouseDown = false;
    bool m_bHovering = false;
    bool m_bChecked = false;
    bool m_bKeyboardFocus = false;
    QColor m_crText;
    Kind m_nKind;
    QPixmap m_bmpNormal;
    QPixmap m_bmpDown;
    QPixmap m_bmpDisabled;
    QPixmap m_bmpOver;
    QPixmap m_bmpFocus;
};

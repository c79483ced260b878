#pragma once

#include "controls/GlimmerloomFrame.h"

// The program's top-level window: the skinned frame around the main form, of a
// fixed size (set by the start-up), without sizing border or maximise button,
// never maximised, its caption exactly the window title.
class CMainFrame final : public CGlimmerloomFrame
{
    Q_OBJECT

public:
    explicit CMainFrame(QWidget* parent = nullptr);

    // Gives the window its one size and place.
    void SetFixedGeometry(const QRect& geometry);

protected:
    void changeEvent(QEvent* event) override;
};

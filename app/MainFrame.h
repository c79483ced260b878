#pragma once

#include "controls/GlimmerloomFrame.h"

#include <functional>

// The program's top-level window: the skinned frame around the main form, of a
// fixed size (set by the start-up), without sizing border or maximise button,
// never maximised, its caption exactly the window title. A close (its close
// button, the window manager's) first asks the close query, which may refuse.
class CMainFrame final : public CGlimmerloomFrame
{
    Q_OBJECT

public:
    explicit CMainFrame(QWidget* parent = nullptr);

    // Gives the window its one size and place.
    void SetFixedGeometry(const QRect& geometry);

    // Asked before the window closes; false keeps it open.
    void SetCloseQuery(std::function<bool()> query) { m_closeQuery = std::move(query); }

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    std::function<bool()> m_closeQuery;
};

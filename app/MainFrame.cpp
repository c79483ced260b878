#include "MainFrame.h"

#include "controls/ResourceImages.h"

#include <QCloseEvent>
#include <QEvent>

CMainFrame::CMainFrame(QWidget* parent)
    : CGlimmerloomFrame(parent)
{
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    setWindowIcon(ApplicationIcon());
}

void CMainFrame::SetFixedGeometry(const QRect& geometry)
{
    setFixedSize(geometry.size());
    move(geometry.topLeft());
}

void CMainFrame::changeEvent(QEvent* event)
{
    // A window manager's maximise command is undone: the form has one size.
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMaximized))
        setWindowState(windowState() & ~Qt::WindowMaximized);
    CGlimmerloomFrame::changeEvent(event);
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (m_closeQuery && !m_closeQuery()) {
        event->ignore();
        return;
    }
    CGlimmerloomFrame::closeEvent(event);
}

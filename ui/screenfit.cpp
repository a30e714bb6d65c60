#include "ui/screenfit.h"

#include <QApplication>
#include <QEvent>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace
{

// The window manager's frame is known only for a window it has framed: the window's own from
// an earlier opening, else that of another window on screen. Where none is known yet (the first
// window of the program), none is assumed.
QMargins frameOf(const QWidget* window)
{
    if (window->windowHandle() && !window->windowHandle()->frameMargins().isNull())
        return window->windowHandle()->frameMargins();
    for (const QWidget* other : QApplication::topLevelWidgets()) {
        if (other != window && other->isVisible() && other->windowHandle()) {
            const QMargins frame = other->windowHandle()->frameMargins();
            if (!frame.isNull())
                return frame;
        }
    }
    return {};
}

void fitOnScreen(QWidget* window)
{
    if (window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return;
    QScreen* screen = QGuiApplication::screenAt(window->geometry().center());
    if (!screen)
        screen = window->screen();
    if (!screen)
        return;
    const QRect placed = ScreenFit::fit(window->geometry(), window->minimumSize().expandedTo(window->minimumSizeHint()),
        screen->availableGeometry(), frameOf(window));
    if (placed.size() != window->size())
        window->resize(placed.size());
    // A top-level widget's position is its frame's.
    if (placed.topLeft() != window->geometry().topLeft())
        window->move(window->pos() + placed.topLeft() - window->geometry().topLeft());
}

} // namespace

ScreenFit::ScreenFit(QObject* parent)
    : QObject(parent)
{
}

void ScreenFit::watch(QWidget* window)
{
    if (window)
        window->installEventFilter(this);
}

QRect ScreenFit::fit(const QRect& window, const QSize& minimum, const QRect& available, const QMargins& frame)
{
    const QRect room = available.marginsRemoved(frame);
    const QSize size = window.size().boundedTo(room.size()).expandedTo(minimum);
    if (size == window.size() && room.contains(window))
        return window;
    QRect placed(QPoint(), size);
    placed.moveCenter(room.center());
    // A window whose minimum exceeds the room keeps its title bar on screen.
    placed.moveTopLeft(QPoint(qMax(placed.left(), room.left()), qMax(placed.top(), room.top())));
    return placed;
}

bool ScreenFit::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show && !event->spontaneous() && watched->isWidgetType())
        fitOnScreen(static_cast<QWidget*>(watched));
    return QObject::eventFilter(watched, event);
}

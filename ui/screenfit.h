#pragma once

#include <QMargins>
#include <QObject>
#include <QRect>

class QWidget;

// Keeps top-level windows within the free area of their screen (the screen less the panels):
// a window that opens larger than that area is shrunk, down to its minimum, and one that does
// not lie inside it is centred there, so that its title bar and its buttons can be reached on
// a laptop's screen too. A window that fits stays where it is and as large as it was.
class ScreenFit : public QObject
{
    Q_OBJECT
public:
    explicit ScreenFit(QObject* parent = nullptr);

    // Fits the window each time it is shown, before it reaches the screen.
    void watch(QWidget* window);

    // The geometry (without frame) a window of geometry `window` gets in the free area
    // `available`, given the window manager's `frame` around it.
    static QRect fit(const QRect& window, const QSize& minimum, const QRect& available, const QMargins& frame);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

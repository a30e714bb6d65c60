#pragma once

#include <QObject>
#include <QTimer>

// Holds a close request back until nothing it would delete is on the stack any more. A close
// can arrive inside a nested event loop (a modal dialog's exec() run from a menu, a message
// box) or inside a widget's own processEvents(); deleting the windows there would pull them
// from under the calls still running. The gate ends those loops first (closes popups, closes
// and rejects every visible dialog and box), and lets the close pass once control is back in
// the outermost event delivery with no modal window left. Dialogs and boxes that open on the
// way out are closed the same way.
//
// The depth is counted by the application object's notify() through `Delivery`.
class CloseGate : public QObject
{
    Q_OBJECT
public:
    explicit CloseGate(QObject* parent = nullptr);

    // From the GUI thread. Before `arm()` (start-up, which checks for a close after each of its
    // steps) the request passes at once; afterwards once it is safe. Later requests while one
    // waits change nothing.
    void request();
    // Called right before the main event loop starts.
    void arm() { m_armed = true; }
    bool waiting() const { return m_waiting; }

    // Closes every popup, dialog and message box of the application: each running exec() then
    // returns as soon as control comes back to it.
    static void endModalLoops();
    // Event deliveries of the calling thread that are under way.
    static int depth();

    // One event delivery: the application's notify() holds one for its whole call.
    class Delivery
    {
    public:
        Delivery();
        ~Delivery();
        Delivery(const Delivery&) = delete;
        Delivery& operator=(const Delivery&) = delete;
    };

    // After this long with only modal windows in the way that refuse to go (no nested loop of
    // theirs runs), the close passes all the same.
    int patienceMs = 3000;

signals:
    // Once: the close may run now.
    void passed();

private:
    void retry();
    bool clear() const;

    QTimer m_retry;
    int m_attempts = 0;
    bool m_armed = false;
    bool m_waiting = false;
};

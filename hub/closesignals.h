#pragma once

#include <QObject>

class QSocketNotifier;

// SIGINT and SIGTERM (Ctrl+C in a terminal, `kill`, a service manager stopping the program)
// close the program as closing its window does, so the view is saved and the database closed
// cleanly. The handlers only write the signal's number into a pipe that the GUI thread watches;
// everything else happens there. Elsewhere than on Unix the object does nothing.
// One at a time in a process.
class CloseSignals : public QObject
{
    Q_OBJECT
public:
    explicit CloseSignals(QObject* parent = nullptr);
    // Gives the signals back to the system's default, which ends the process.
    ~CloseSignals() override;

signals:
    // Once for every signal received.
    void received(int signal);

private:
    void readPipe();

    QSocketNotifier* notifier = nullptr;
};

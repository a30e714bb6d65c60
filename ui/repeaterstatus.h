#pragma once

#include <QObject>

class QLabel;
class QStatusBar;
class QSystemTrayIcon;

// The status bar's count of repeaters in the modem's network, read from the modem's node
// table when asked; a change is also told in the tray when the settings ask for tray messages.
class RepeaterStatus : public QObject
{
    Q_OBJECT
public:
    // `tray` may be null (no system tray).
    RepeaterStatus(QStatusBar* bar, QSystemTrayIcon* tray, QObject* parent = nullptr);

    void update();

private:
    QLabel* label;
    QSystemTrayIcon* tray;
    int count = 0;
};

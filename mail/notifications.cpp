#include "mail/notifications.h"

#include <QTimer>

Notifications::Notifications(QObject* parent)
    : QThread(parent)
{
}

Notifications::~Notifications() = default;

void Notifications::run()
{
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &Notifications::slotQueueSend);
    timer->start(30000);
    exec();
}

void Notifications::slotStopModule()
{
    if (timer) {
        timer->stop();
        delete timer;
        timer = nullptr;
    }
    exit(0);
}

void Notifications::slotAddMessage(NotificationsMessage message)
{
    queue.append(message);
}

void Notifications::slotSetEmailSettings(QString, int, QString, QString, QString)
{
}

void Notifications::slotSendTestLetter()
{
}

void Notifications::slotQueueSend()
{
}

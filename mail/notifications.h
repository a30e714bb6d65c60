#pragma once

#include <QList>
#include <QString>
#include <QThread>

#include "app/records.h"

class QTimer;

// Queue of alarm messages, sent as one letter every 30 s; runs in a thread of its own.
class Notifications : public QThread
{
    Q_OBJECT
public:
    explicit Notifications(QObject* parent = nullptr);
    ~Notifications() override;

    QList<NotificationsMessage> queue;
    QTimer* timer = nullptr;

public slots:
    void slotStopModule();
    void slotAddMessage(NotificationsMessage message);
    void slotSetEmailSettings(QString server, int port, QString login, QString password, QString address);
    void slotSendTestLetter();
    void slotQueueSend();

protected:
    void run() override;
};

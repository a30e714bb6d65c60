#pragma once

#include <QList>
#include <QSslConfiguration>
#include <QString>
#include <QThread>

#include "core/records.h"

class QTimer;
class Smtp;

// Queue of alarm messages, sent as one letter every 30 s; runs in a thread of its own
// (the object is moved into itself, and run() makes the timer and the SMTP client there).
class Notifications : public QThread
{
    Q_OBJECT
public:
    explicit Notifications(QObject* parent = nullptr);
    ~Notifications() override;

    // Texts of a letter; pure, so they can be checked without a thread or a server.
    static QString eventText(int type);
    static QString letterLine(const NotificationsMessage& message);
    static QString letterBody(const QList<NotificationsMessage>& messages);
    static QString letterSubject();

    // Set before start(): the queue interval, the SMTP client's time-out (both in ms) and
    // the trust settings of its connections (the system's CAs unless given).
    void setIntervals(int queueIntervalMs, int smtpTimeoutMs);
    void setSslConfiguration(const QSslConfiguration& configuration);

    QTimer* timer = nullptr;
    QList<NotificationsMessage> queue;
    QString smtpServer;
    int smtpPort = 0;
    QString smtpUser; // also the sender of every letter
    QString smtpPass;
    QString recipient;
    Smtp* smtp = nullptr;

public slots:
    void slotStopModule();
    void slotAddMessage(NotificationsMessage message);
    void slotSetEmailSettings(QString server, int port, QString login, QString password, QString address);
    void slotSendTestLetter();
    void slotQueueSend();

signals:
    // A letter the server did not accept; its lines stay queued for the next one.
    void signalSetStatusText(QString text);

protected:
    void run() override;

private:
    void ensureSmtp();
    void letterDone(bool accepted);

    // Lines at the head of the queue that the letter under way carries; they leave the
    // queue only when the server has accepted it.
    int sending = 0;

    int queueInterval = 30000;
    int smtpTimeout = 30000;
    QSslConfiguration sslConfiguration = QSslConfiguration::defaultConfiguration();
};

#include "mail/notifications.h"

#include <QTimer>

#include "mail/mailaccount.h"
#include "mail/smtp.h"

namespace
{

constexpr int kMaxQueuedLines = 1000;

} // namespace

Notifications::Notifications(QObject* parent)
    : QThread(parent)
{
}

Notifications::~Notifications() = default;

QString Notifications::eventText(int type)
{
    switch (type) {
    case NotifyTest:
        return tr("тестовое письмо с целью проверки настроек");
    case NotifyTemperatureMinCritical:
        return tr("минимально допустимая критическая температура");
    case NotifyTemperatureMinNoncritical:
        return tr("минимально допустимая некритическая температура");
    case NotifyTemperatureMaxNoncritical:
        return tr("максимально допустимая некритическая температура");
    case NotifyTemperatureMaxCritical:
        return tr("максимально допустимая критическая температура");
    case NotifyWetnessMinCritical:
        return tr("минимально допустимая критическая влажность");
    case NotifyWetnessMinNoncritical:
        return tr("минимально допустимая некритическая влажность");
    case NotifyWetnessMaxNoncritical:
        return tr("максимально допустимая некритическая влажность");
    case NotifyWetnessMaxCritical:
        return tr("максимально допустимая критическая влажность");
    case NotifyBatteryLow:
        return tr("необходимо заменить элементы питания");
    case NotifySensorLost:
        return tr("датчик на выходит на связь");
    default:
        return QString();
    }
}

QString Notifications::letterLine(const NotificationsMessage& message)
{
    // All placeholders are filled in one pass, so a sensor or room name that contains "%3"
    // stays as it is.
    const QString event = eventText(message.type);
    if (message.type == NotifyTest) {
        return tr("В датчике \"%1\" [EUI64=%2, Помещение=\"%3\"], сработало событие: %4 ")
            .arg(message.sensorName, message.EUI64, message.locationName, event);
    }
    if (message.type == NotifySensorLost) {
        return tr("В датчике \"%1\" [EUI64=%2, Помещение=\"%3\"], сработало событие: %4 %5")
            .arg(message.sensorName, message.EUI64, message.locationName, event, message.value.toString());
    }
    const QString value = QString::number(float(message.value.toDouble()), 'f', 2);
    return tr("В датчике \"%1\" [EUI64=%2, Помещение=\"%3\"], сработало событие: %4                             со "
              "значением %5")
        .arg(message.sensorName, message.EUI64, message.locationName, event, value);
}

QString Notifications::letterBody(const QList<NotificationsMessage>& messages)
{
    QString body;
    for (const NotificationsMessage& m : messages)
        body += letterLine(m) + QStringLiteral("\r\n");
    return body;
}

QString Notifications::letterSubject()
{
    return QStringLiteral("Уведомления Tarnel Ravok");
}

void Notifications::setIntervals(int queueIntervalMs, int smtpTimeoutMs)
{
    queueInterval = queueIntervalMs;
    smtpTimeout = smtpTimeoutMs;
}

void Notifications::setSslConfiguration(const QSslConfiguration& configuration)
{
    sslConfiguration = configuration;
}

void Notifications::run()
{
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &Notifications::slotQueueSend);
    timer->start(queueInterval);
    ensureSmtp();
    exec();
    // Whatever slotStopModule did not get to goes with the thread that owns it.
    delete timer;
    timer = nullptr;
    delete smtp;
    smtp = nullptr;
}

void Notifications::slotStopModule()
{
    if (timer) {
        timer->stop();
        delete timer;
        timer = nullptr;
    }
    if (smtp) {
        emit smtp->cloleConection();
        delete smtp;
        smtp = nullptr;
    }
    exit(0);
}

void Notifications::slotAddMessage(NotificationsMessage message)
{
    queue.append(message);
}

void Notifications::slotSetEmailSettings(QString server, int port, QString login, QString password, QString address)
{
    const MailAccount account = MailAccount::forAlarms(MailAccount::builtIn(), { server, port, login, password });
    smtpServer = account.host;
    smtpPort = account.port;
    smtpUser = account.login;
    smtpPass = account.password;
    recipient = address;
    ensureSmtp();
    smtp->setParams(smtpUser, smtpPass, smtpServer, smtpPort);
}

void Notifications::slotSendTestLetter()
{
    ensureSmtp();
    NotificationsMessage test;
    test.type = NotifyTest;
    test.value = QVariant(0.0);
    queue.append(test);
}

void Notifications::slotQueueSend()
{
    if (queue.isEmpty())
        return;
    ensureSmtp();
    // The previous letter is still on its way: this one waits for the next tick.
    if (smtp->isBusy())
        return;
    // A server that refuses for days must not make the queue (and the next letter) grow
    // without end: the oldest lines give way.
    if (queue.size() > kMaxQueuedLines) {
        qWarning("Alarm queue full: %d oldest lines dropped", int(queue.size() - kMaxQueuedLines));
        queue.erase(queue.begin(), queue.end() - kMaxQueuedLines);
    }
    sending = queue.size();
    if (!smtp->sendMail(smtpUser, recipient, letterSubject(), letterBody(queue), QStringList()))
        sending = 0;
}

void Notifications::letterDone(bool accepted)
{
    if (accepted) {
        queue.erase(queue.begin(), queue.begin() + qMin(sending, int(queue.size())));
    } else {
        emit signalSetStatusText(tr("Не удалось отправить уведомления по E-mail (%1), повтор через %2 сек.")
                                     .arg(smtp->lastError())
                                     .arg(queueInterval / 1000));
    }
    sending = 0;
}

void Notifications::ensureSmtp()
{
    if (smtp)
        return;
    smtp = new Smtp(smtpUser, smtpPass, smtpServer, smtpPort, smtpTimeout);
    smtp->setSslConfiguration(sslConfiguration);
    connect(smtp, &Smtp::done, this, &Notifications::letterDone);
}

#include "links/modemmodule.h"

#include <QLoggingCategory>
#include <QMutexLocker>
#include <QSerialPort>
#include <QTimer>

#include <chrono>

#include <unistd.h>

#include "core/threadscheduling.h"
#include "links/sensorpayload.h"
#include "links/serialportlock.h"

ModemModule* gModemModule = nullptr;

Q_LOGGING_CATEGORY(lcModem, "ostrivel.modem")

namespace
{

// Characters of a malformed sender shown in the status bar.
constexpr int kShownSender = 40;

qint64 steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

ModemModule::ModemModule(QObject* parent)
    : QThread(parent)
    , clock(steadyMs)
{
    qRegisterMetaType<QVector<ModemCast>>();
    gModemModule = this;
}

ModemModule::~ModemModule()
{
    if (gModemModule == this)
        gModemModule = nullptr;
}

ModemState ModemModule::state() const
{
    QMutexLocker lock(&stateLock);
    ModemState s;
    s.initialized = initialized;
    s.initState = initState;
    s.modemInfo = modemInfo;
    s.panInfo = panInfo;
    s.nodes = nodes;
    return s;
}

void ModemModule::run()
{
    // This thread answers the sensors: it goes first whenever a message arrives.
    if (!ThreadScheduling::answerPromptly())
        qCInfo(lcModem) << "the kernel keeps the default turns for the modem thread";
    {
        QMutexLocker lock(&stateLock);
        initialized = false;
        initState = 0;
        modemInfo.model.clear();
        panInfo.pan = false;
    }

    port = new QSerialPort(portName);
    port->setBaudRate(QSerialPort::Baud19200);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    if (SerialPortLock::clearAbandoned(portName))
        qCInfo(lcModem) << "removed the empty lock file of" << portName << "left by a killed process";
    if (!port->open(QIODevice::ReadWrite)) {
        // The port was made in this thread, so it is released here; no event loop will run to
        // do it later.
        delete port;
        port = nullptr;
        emit signalEndInitialization(tr("Последовательный порт ") + portName
            + tr(" не открыт!\nВозможно он уже открыт в другом приложении\nили его не существует")
            + tr("\nПопробуйте выбрать другой COM порт в настройках приложения\n"));
        return;
    }
    connect(port, &QSerialPort::readyRead, this, &ModemModule::slotReadyRead);
    connect(port, &QSerialPort::errorOccurred, this, &ModemModule::portError);
    // Qt SerialPort reports no DSR changes; slotDsrChanged stays for its callers and does nothing.

    emit signalSetInitInfoString(tr("Информация о модеме : ATI"));
    sendCommand("ATI\r");
    parser.lastChunkTime = clock();
    // A coarse timer of 15 s may fire most of a second early.
    watchdog = new QTimer;
    watchdog->setSingleShot(true);
    watchdog->setTimerType(Qt::PreciseTimer);
    connect(watchdog, &QTimer::timeout, this, &ModemModule::slotInitializeControl);
    watchdog->start(watchdogInterval);
    // Fires only where no later message has handed the earlier ones on: a little after the
    // limit, so that under a steady stream the message due then goes first.
    handOn = new QTimer;
    handOn->setSingleShot(true);
    handOn->setTimerType(Qt::PreciseTimer);
    handOn->setInterval(handOnMs + handOnMs / 4);
    connect(handOn, &QTimer::timeout, this, &ModemModule::handOnCasts);

    exec();

    // Every message answered goes on to be stored, those of the last moments too.
    handOnCasts();
    delete handOn;
    handOn = nullptr;
    delete watchdog;
    watchdog = nullptr;
    // A loop ended by other means than slotStopModule still leaves no port behind.
    delete port;
    port = nullptr;
}

void ModemModule::slotStopModule()
{
    if (port) {
        if (port->isOpen())
            port->close();
        delete port;
        port = nullptr;
    }
    exit(0);
}

void ModemModule::slotSendData(QByteArray data)
{
    if (!port || !port->isOpen())
        return;
    // Straight to the line when nothing waits before it. QSerialPort's own write arms its
    // write notifier and disarms it once the bytes are out, and in the glib loop each of the
    // two wakes this thread once more: twice the system calls of the answer itself.
    if (port->bytesToWrite() == 0) {
        const qint64 written = ::write(int(port->handle()), data.constData(), size_t(data.size()));
        if (written == data.size())
            return;
        // The rest, or an error, goes the port's way: it reports what it cannot write.
        if (written > 0)
            data.remove(0, int(written));
    }
    // The port writes it as soon as the line takes more. Flushing here would write into a full
    // line, and the port reports "resource temporarily unavailable" as a line gone.
    port->write(data);
}

void ModemModule::slotReadyRead()
{
    // What the port holds, read at its size: readAll sizes its buffer for 16 KiB and shrinks
    // it again, a copy per message.
    const QByteArray chunk = port ? port->read(port->bytesAvailable()) : QByteArray();
    const QVector<ModemReply> replies = parser.feed(chunk, clock(), initialized);
    for (const ModemReply& reply : replies)
        handleReply(reply);
    // The terminal's copy goes after the answers: waking the main thread first would let it
    // take the core before the sensor is answered.
    if (terminalShown)
        emit signalDataReaded(chunk);
}

void ModemModule::slotDsrChanged(bool) { }

void ModemModule::slotInitializeControl()
{
    if (initialized)
        return;
    emit signalEndInitialization(tr("Прошло много времени, но корректного ответа\nиз последовательного порта не "
                                    "поступило.\nСкорее всего это порт не ZigBee модема.")
        + tr("\nПопробуйте выбрать другой COM порт в настройках приложения"));
}

// Each reply of the initialisation script starts the next step. Once initialized, the same
// replies still update what they describe but drive nothing: the terminal may repeat commands.
void ModemModule::handleReply(const ModemReply& reply)
{
    static const int keep = -1;
    switch (reply.type) {
    case ModemReply::Identity:
        setModemInfo(reply.info);
        advanceScript(1, QT_TRANSLATE_NOOP("ModemModule", "Установка мощности передатчика"), "ATS01=-7,mirvasol\r");
        break;
    case ModemReply::PowerAccepted:
        clearPan();
        advanceScript(keep, QT_TRANSLATE_NOOP("ModemModule", "Информация о сети: AT+N"), "AT+N\r");
        break;
    case ModemReply::NoNetwork:
        clearPan();
        advanceScript(keep, QT_TRANSLATE_NOOP("ModemModule", "Создание сети (PAN): AT+EN"), "AT+EN\r");
        break;
    case ModemReply::NetworkCreated:
        clearPan();
        advanceScript(2, QT_TRANSLATE_NOOP("ModemModule", "Информация о сети: AT+N"), "AT+N\r");
        break;
    case ModemReply::NetworkInfo:
        setPan(reply.pan);
        // This step's text and the next one's name other values than the commands write; the
        // start-up window has always shown them so.
        advanceScript(
            3, QT_TRANSLATE_NOOP("ModemModule", "Удаление подтверждений (ACK,NACK): ATS0E=10C0"), "ATS0E=94C0\r");
        break;
    case ModemReply::S0EAccepted:
        advanceScript(4, QT_TRANSLATE_NOOP("ModemModule", "Режим снифера: ATS104=1"), "ATS10=0010\r");
        break;
    case ModemReply::S10Accepted:
        advanceScript(5, QT_TRANSLATE_NOOP("ModemModule", "Обновить список устройств: AT+SN"), "AT+SN\r");
        break;
    case ModemReply::DeviceListAccepted:
        // The main window's periodic "AT+SN" ends here too and is consumed silently.
        if (!initialized) {
            {
                QMutexLocker lock(&stateLock);
                initialized = true;
                initState = 6;
            }
            // A line lost from now on is no late answer.
            if (watchdog)
                watchdog->stop();
            emit signalEndInitialization(QString());
        }
        break;
    case ModemReply::NewNode:
        addNode(reply.node, QT_TRANSLATE_NOOP("ModemModule", "Подключено новое устройство. Тип:"));
        break;
    case ModemReply::NodeAnnounced:
        addNode(reply.node, QT_TRANSLATE_NOOP("ModemModule", "Устройство вышло на связь. Тип:"));
        break;
    case ModemReply::Cast: {
        // The sensor is answered here, first: it listens only briefly after sending. Once the
        // program closes, a message is neither answered nor taken.
        const int interval = intervals.replyFor(reply.sender);
        if (interval < 0)
            break;
        slotSendData(sensorReplyFrame(reply.sender, interval));
        keepCast(reply);
        break;
    }
    case ModemReply::BadSender: {
        // Neither answered nor stored: no sensor has such an address. The count stays in view.
        ++badSenders;
        const QString sender = reply.sender.left(kShownSender).simplified();
        qCInfo(lcModem) << "dropped" << reply.castKind << "from" << sender
                        << "- no EUI64; dropped so far:" << badSenders;
        emit signalSetStatusText(tr("Отброшено сообщений с неверным адресом датчика: %1 (последнее: %2 от \"%3\")")
                                     .arg(badSenders)
                                     .arg(reply.castKind, sender));
        break;
    }
    }
}

void ModemModule::keepCast(const ModemReply& reply)
{
    const qint64 now = clock();
    if (casts.isEmpty()) {
        firstCastAt = now;
        handOn->start();
    }
    casts.append({ reply.castKind, reply.sender, reply.payload });
    if (now - firstCastAt >= handOnMs)
        handOnCasts();
}

void ModemModule::handOnCasts()
{
    if (handOn)
        handOn->stop();
    if (casts.isEmpty())
        return;
    QVector<ModemCast> taken;
    taken.swap(casts);
    emit signalCastsReceived(taken);
}

void ModemModule::advanceScript(int newState, const char* progress, const QByteArray& command)
{
    if (initialized)
        return;
    if (newState >= 0) {
        QMutexLocker lock(&stateLock);
        initState = newState;
    }
    emit signalSetInitInfoString(tr(progress));
    sendCommand(command);
}

// A device keeps the entry of its first report; every report is still shown.
void ModemModule::addNode(const ModemNode& node, const char* statusText)
{
    bool known = false;
    for (const ModemNode& n : qAsConst(nodes))
        known = known || n.EUI64 == node.EUI64;
    if (!known) {
        QMutexLocker lock(&stateLock);
        nodes.append(node);
    }
    qCDebug(lcModem) << "node" << nodes.size() << node.EUI64 << node.DeviceType << (known ? "known" : "new");
    emit signalSetStatusText(tr(statusText) + node.DeviceType + QStringLiteral(" EUI64:") + node.EUI64);
}

void ModemModule::setModemInfo(const ModemInfo& info)
{
    QMutexLocker lock(&stateLock);
    modemInfo = info;
}

void ModemModule::setPan(const PanInfo& pan)
{
    QMutexLocker lock(&stateLock);
    panInfo = pan;
}

void ModemModule::clearPan()
{
    QMutexLocker lock(&stateLock);
    panInfo.pan = false;
}

// A line that has gone away (device removed, the other end of the line closed) is reported
// as a resource error, or as a read error at every turn of the event loop while the port stays
// readable with nothing to read. Either ends the line.
void ModemModule::portError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
        return;
    // The port is inside its own notification here; it is closed once that has returned.
    QMetaObject::invokeMethod(this, &ModemModule::loseLine, Qt::QueuedConnection);
}

// Closes the port for good: the windows show the modem as not connected, and the thread has
// nothing left to wait for but the stop request.
void ModemModule::loseLine()
{
    if (!port)
        return;
    qCWarning(lcModem) << "modem line" << portName << "lost:" << port->errorString();
    port->close();
    delete port;
    port = nullptr;
    {
        QMutexLocker lock(&stateLock);
        initialized = false;
    }
    emit signalSetStatusText(tr("Связь с модемом потеряна: порт ") + portName + tr(" закрыт"));
}

void ModemModule::sendCommand(const QByteArray& command)
{
    slotSendData(command);
}

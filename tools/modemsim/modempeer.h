#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QSocketNotifier;

// The modem's side of a pseudo-terminal. The program opens the other side as its serial port;
// this end echoes every command as the modem's AT firmware does, answers the initialisation
// script and sends whatever sensor traffic it is given. Tests and the simulator share it.
class ModemPeer : public QObject
{
    Q_OBJECT
public:
    enum class Network { Formed, None };

    explicit ModemPeer(QObject* parent = nullptr);
    ~ModemPeer() override;

    // Creates the pseudo-terminal; on failure returns false and says why.
    bool open(QString* error);
    // The name to give the program as its port.
    QString portName() const { return slaveName; }
    // Qt SerialPort marks the terminal exclusive while it has it open. A program killed with the
    // port open leaves the mark, and since the peer keeps its own end open, every later open is
    // refused as busy: once no live process holds the lock of any of the port's names, the mark
    // is taken off.
    void releaseIfAbandoned(const QStringList& names);

    void setNetwork(Network network) { formed = network == Network::Formed; }
    // While silent the peer answers nothing; turning it off answers what came in meanwhile.
    void setSilent(bool silent);
    // Bytes sent ahead of every answer, to exercise the program's recovery from line noise.
    void setNoise(const QByteArray& bytes) { noise = bytes; }
    // Lines the modem reports after a device-list request, such as "SED:<EUI64>,<node id>\r\n".
    void setDeviceReports(const QByteArray& lines) { deviceReports = lines; }

    // Tests read back the whole conversation; a long-running simulator turns this off.
    void setRecording(bool on) { recording = on; }

    void send(const QByteArray& bytes);
    void sendCast(const QString& kind, const QString& eui64, const QByteArray& payload);
    // A sensor message as the modem prints it: kind, sender, hex length, '=', payload, line end.
    static QByteArray castFrame(const QString& kind, const QString& eui64, const QByteArray& payload);

    static QByteArray identityEui64() { return QByteArrayLiteral("000D6F0000A1B2C3"); }
    static QByteArray identityReply();
    static QByteArray networkReply();

    // Everything the program has written, and the same cut into commands (each with its "\r";
    // a binary unicast with its data and final "\r").
    QByteArray received() const { return input; }
    QList<QByteArray> commands() const { return commandList; }
    // Everything this end has written to the line.
    QByteArray sent() const { return sentBytes; }

signals:
    void commandReceived(const QByteArray& command);
    // The program answered a sensor through a binary unicast.
    void unicastReceived(const QString& eui64, const QByteArray& data);
    // The device-list request of the initialisation script was answered.
    void scriptDone();

private:
    void readMaster();
    void writeMaster();
    void takeCommands();
    void answer(const QByteArray& command);

    int master = -1;
    int slave = -1;
    QString slaveName;
    QSocketNotifier* readNotifier = nullptr;
    QSocketNotifier* writeNotifier = nullptr;
    bool formed = true;
    bool silent = false;
    bool recording = true;
    QByteArray noise;
    QByteArray deviceReports;
    QByteArray input;
    QByteArray pendingInput;
    QByteArray output;
    QByteArray sentBytes;
    QList<QByteArray> commandList;
    QList<QByteArray> unanswered;
};

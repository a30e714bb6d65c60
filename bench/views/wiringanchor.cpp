// The floor under the program's cost per modem message: a bare Qt program with the program's
// wiring and nothing else. The serial port is read in a worker thread; each sensor message is
// handed to the main thread by a queued call, which answers it with the program's reply frame
// by a queued call back to the worker, which writes it to the port.
//   bench_wiring_anchor <serial port>
#include <QCoreApplication>
#include <QSerialPort>
#include <QThread>

#include <cstdio>

#include "bench/views/ucastframes.h"
#include "links/sensorpayload.h"

namespace
{

// Answers each modem line "UCAST:<EUI64>,<LL>=<LL bytes>\r\n", a sensor's message as the modem forwards it.
class Line : public QObject
{
public:
    // Opens the port in the calling thread, the one the line lives in.
    bool open(const QString& name)
    {
        port = new QSerialPort(name, this);
        port->setBaudRate(QSerialPort::Baud19200);
        if (!port->open(QIODevice::ReadWrite))
            return false;
        connect(port, &QSerialPort::readyRead, this, &Line::read);
        return true;
    }
    void write(const QByteArray& frame)
    {
        port->write(frame);
        port->flush();
    }
    QObject* answerer = nullptr;

private:
    void read()
    {
        buffer += port->readAll();
        for (QString eui = takeUcastSender(buffer); !eui.isEmpty(); eui = takeUcastSender(buffer))
            QMetaObject::invokeMethod(
                answerer,
                [this, eui] {
                    const QByteArray frame = sensorReplyFrame(eui, 60);
                    QMetaObject::invokeMethod(
                        this, [this, frame] { write(frame); }, Qt::QueuedConnection);
                },
                Qt::QueuedConnection);
    }

    QSerialPort* port = nullptr;
    QByteArray buffer;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_wiring_anchor <serial port>\n");
        return 2;
    }
    QThread worker;
    Line* line = new Line;
    line->answerer = &app;
    line->moveToThread(&worker);
    worker.start();
    bool opened = false;
    QMetaObject::invokeMethod(
        line, [&] { opened = line->open(QString::fromLocal8Bit(argv[1])); }, Qt::BlockingQueuedConnection);
    if (!opened) {
        std::fprintf(stderr, "bench_wiring_anchor: cannot open %s\n", argv[1]);
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    const int code = app.exec();
    QMetaObject::invokeMethod(
        line, [line] { delete line; }, Qt::BlockingQueuedConnection);
    worker.quit();
    worker.wait();
    return code;
}

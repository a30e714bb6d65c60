#include "bench/common/modemprobe.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>

ModemProbe::ModemProbe()
{
    clock.start();
}

ModemProbe::~ModemProbe()
{
    if (!thread.isRunning())
        return;
    stopTicking();
    run([this] { peer.moveToThread(QCoreApplication::instance()->thread()); });
    thread.quit();
    thread.wait();
}

bool ModemProbe::open()
{
    QString error;
    if (!peer.open(&error)) {
        std::fprintf(stderr, "cannot open a pseudo-terminal: %s\n", qPrintable(error));
        return false;
    }
    peer.setRecording(false);
    QObject::connect(&peer, &ModemPeer::unicastReceived, &peer, [this](const QString& eui, const QByteArray&) {
        QQueue<qint64>& q = sentAt[eui];
        if (!q.isEmpty())
            latencies.append((clock.nsecsElapsed() - q.dequeue()) / 1e6);
    });
    QObject::connect(
        &peer, &ModemPeer::scriptDone, &peer, [this] { script = true; }, Qt::DirectConnection);
    peer.moveToThread(&thread);
    thread.start();
    return true;
}

bool ModemProbe::waitForScript(int timeoutMs)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (script)
            loop.quit();
    });
    check.start(5);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (!script)
        loop.exec();
    return script;
}

void ModemProbe::send(const QString& eui64, const QByteArray& payload)
{
    sentAt[eui64].enqueue(clock.nsecsElapsed());
    peer.sendCast(QStringLiteral("UCAST"), eui64, payload);
}

void ModemProbe::startTicking(int intervalMs, const std::function<void()>& tick)
{
    run([this, intervalMs, tick] {
        delete ticker;
        ticker = new QTimer;
        ticker->setTimerType(Qt::PreciseTimer);
        ticker->setInterval(intervalMs);
        QObject::connect(ticker, &QTimer::timeout, &peer, tick);
        ticker->start();
    });
}

void ModemProbe::stopTicking()
{
    run([this] {
        delete ticker;
        ticker = nullptr;
    });
}

void ModemProbe::run(const std::function<void()>& f)
{
    QMetaObject::invokeMethod(&peer, f, Qt::BlockingQueuedConnection);
}

QVector<double> ModemProbe::takeLatencies()
{
    QVector<double> copy;
    run([&] {
        copy = latencies;
        latencies.clear();
    });
    return copy;
}

int ModemProbe::unanswered()
{
    int n = 0;
    run([&] {
        for (const QQueue<qint64>& q : qAsConst(sentAt))
            n += q.size();
    });
    return n;
}

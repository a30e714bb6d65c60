// The program as a process on MySQL, closed while its database writer is stuck in the driver.
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include "app/driverprocess.h"
#include "app/payloads.h"
#include "links/gatewaypeer.h"
#include "stallingproxy.h"
#include "storagetest.h"
#include "tools/gatewaysim/simulatedgateway.h"

class TestProgramClose : public StorageTest
{
    Q_OBJECT

private slots:
    // The program as its users run it, on MySQL, closed while its writer's connection is stuck
    // in the driver (the server's replies held back from that connection only): the close
    // ends within the 15 s given to the flush and the time its box is open, once, and the
    // process with its own exit code, the thread left behind untouched. A gateway goes on
    // sending readings of new sensors, also while the box is open: the close stops taking them
    // before the writer goes, so the box counts every reading whose sensor was answered.
    void programClosesWithinTheFlushTime_data() { only(1); }
    void programClosesWithinTheFlushTime()
    {
        StallingProxy proxy(quint16(f.server.port()));
        proxy.stallOn("lock_wait_timeout"); // only the writer's session sets it
        QVERIFY(proxy.listen());
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 gatewayPort = probe.serverPort();
        probe.close();
        QTemporaryDir work;
        QVERIFY(QDir(work.path()).mkdir(QStringLiteral("data")));
        QFile config(work.filePath(QStringLiteral("data/config.ini")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral("[Modem]\nPortName=/nonexistent/tty\nNetworkPort=%5\n[DB]\nDBType=1\n"
                                    "Hostname=127.0.0.1\nPort=%1\nDatabase=%2\nUsername=%3\nPassword=\"%4\"\n[Other]\nDaysSave=730\n")
                         .arg(proxy.port())
                         .arg(f.databaseName, f.server.user(), f.server.password())
                         .arg(gatewayPort)
                         .toUtf8());
        config.close();
        QFile(work.filePath(QStringLiteral("data/measurement.db3"))).open(QIODevice::WriteOnly);
        QProcess program;
        startDriver(program, work.path(), work.path(),
            { { "CLOSE_FILE", work.filePath("close") }, { "BOX_MS", "1500" } }, QProcess::MergedChannels);
        QTRY_COMPARE_WITH_TIMEOUT(proxy.connectionsHeld(), 1, 60000);
        GatewayPeer gateway;
        QVERIFY2(gateway.connectTo(gatewayPort), qPrintable(gateway.failure));
        QVERIFY(gateway.send(SimulatedGateway::connMessage(QStringLiteral("G"))
            + SimulatedGateway::statusMessage(true, QStringLiteral("000D6F0000AB0001"))));
        int sent = 0;
        const auto send = [&](int count) {
            for (const int end = sent + count; sent < end; ++sent)
                gateway.send(
                    SimulatedGateway::castMessage(QStringLiteral("000D6F00000E%1").arg(sent, 4, 10, QLatin1Char('0')),
                        payloads::measurement(1, 2, 3)));
        };
        send(5);
        QTRY_COMPARE_WITH_TIMEOUT(gateway.received().count("000D6F00000E"), 5, 30000);
        QElapsedTimer clock;
        clock.start();
        QFile(work.filePath(QStringLiteral("close"))).open(QIODevice::WriteOnly);
        QString output;
        const QString box = QStringLiteral("Не удалось записать в базу данных ");
        QTRY_VERIFY_WITH_TIMEOUT((output += QString::fromUtf8(program.readAll())).contains(box), 30000);
        send(10);
        QVERIFY(program.waitForFinished(60000));
        const qint64 closeMs = clock.elapsed();
        output += QString::fromUtf8(program.readAll());
        // The flush gives up after its 15 s, and a box stays 1.5 s (twice at most); the rest is
        // room for the close file's poll and a loaded sanitizer build, far below a second wait.
        QVERIFY2(closeMs < 15000 + 1500 + 1500 + 6000, qPrintable(QString::number(closeMs)));
        QVERIFY2(output.contains(box + QStringLiteral("%1 измерений").arg(gateway.received().count("000D6F00000E"))),
            qPrintable(output));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QVERIFY2(program.exitCode() == 0 && output.contains(QLatin1String("CONNECTIONS")), qPrintable(output));
        QVERIFY2(!output.contains(QLatin1String("Sanitizer")), qPrintable(output));
    }
};

QTEST_GUILESS_MAIN(TestProgramClose)
#include "tst_programclose.moc"

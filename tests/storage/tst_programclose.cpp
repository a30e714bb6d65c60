// The program as a process, closed while sensors report on both roads: on SQLite with its file
// in place, moved away or replaced by another program's file, and on MySQL while its database
// writer is stuck in the driver.
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

#include "app/driverprocess.h"
#include "app/payloads.h"
#include "links/gatewaypeer.h"
#include "stallingproxy.h"
#include "storagetest.h"
#include "tools/gatewaysim/simulatedgateway.h"
#include "tools/modemsim/modempeer.h"

class TestProgramClose : public StorageTest
{
    Q_OBJECT

private slots:
    // The program as its users run it, closed while a modem's sensors and a gateway's go on
    // reporting, until it has gone: every reading whose sensor was answered is stored or named
    // in the close box, never both, and the box gives the reason that held. The modem answers
    // a sensor before its reading reaches the main thread, so the last ones answered are still
    // on their way when the close begins. On MySQL the writer's connection is stuck in the
    // driver (the server's replies held back from that connection only): the close ends
    // within the 15 s given to the flush and the time its box is open, once, and the process
    // with its own exit code, the thread left behind untouched; readings that come while the
    // box is open are neither answered nor counted.
    void closeCountsEveryAnsweredReading_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("reason"); // of the close box; none expected when empty
        QTest::newRow("sqlite, file in place") << 0 << "in place" << QString();
        QTest::newRow("sqlite, file moved away")
            << 0 << "moved" << QStringLiteral("файл базы данных data/measurement.db3 удалён");
        QTest::newRow("sqlite, another program's file in its place")
            << 0 << "foreign" << QStringLiteral("файл базы данных data/measurement.db3 заменён другим файлом");
        QTest::newRow("mysql, writer stuck in the driver") << 1 << "stuck" << QStringLiteral("база данных недоступна");
    }
    void closeCountsEveryAnsweredReading()
    {
        QFETCH(int, type);
        QFETCH(QString, database);
        QFETCH(QString, reason);
        StallingProxy proxy(quint16(f.server.port()));
        proxy.stallOn("lock_wait_timeout"); // only the writer's session sets it
        QVERIFY(type == 0 || proxy.listen());
        const quint16 gatewayPort = portForAProgram();
        QVERIFY(gatewayPort);
        ModemPeer modem;
        QString error;
        QVERIFY2(modem.open(&error), qPrintable(error));
        modem.setRecording(false);
        QSignalSpy modemReady(&modem, &ModemPeer::scriptDone);
        int modemAnswered = 0;
        connect(&modem, &ModemPeer::unicastReceived, this, [&] { ++modemAnswered; });

        const QDir work(f.work->path());
        const QString path = work.filePath(QStringLiteral("data/measurement.db3"));
        QFile config(work.filePath(QStringLiteral("data/config.ini")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(
            QStringLiteral("[Modem]\nPortName=%1\nNetworkPort=%2\n[Other]\nDaysSave=730\n")
                .arg(modem.portName())
                .arg(gatewayPort)
                .toUtf8());
        if (type == 1)
            config.write(QStringLiteral("[DB]\nDBType=1\nHostname=127.0.0.1\nPort=%1\nDatabase=%2\nUsername=%3\n"
                                        "Password=\"%4\"\n")
                             .arg(proxy.port())
                             .arg(f.databaseName, f.server.user(), f.server.password())
                             .toUtf8());
        config.close();
        QFile(path).open(QIODevice::WriteOnly);
        QProcess program;
        startDriver(program, work.path(), work.path(),
            { { "CLOSE_FILE", work.filePath("close") }, { "BOX_MS", "1500" } }, QProcess::MergedChannels);
        QString output;
        const auto read = [&] { output += QString::fromUtf8(program.readAll()); };
        QVERIFY2(modemReady.wait(30000), qPrintable((read(), output)));
        if (type == 1)
            QTRY_COMPARE_WITH_TIMEOUT(proxy.connectionsHeld(), 1, 60000);
        GatewayPeer gateway;
        QVERIFY2(gateway.connectTo(gatewayPort), qPrintable(gateway.failure + "\n" + (read(), output)));
        QVERIFY(gateway.send(SimulatedGateway::connMessage(QStringLiteral("G"))
            + SimulatedGateway::statusMessage(true, QStringLiteral("000D6F0000AB0001"))));

        // Fifty modem sensors, a thousand readings a second among them, and now and then a
        // reading of a sensor new to the gateway, answered only once the program has taken
        // every message before it on the connection.
        int sent = 0, gatewaySent = 0;
        const auto send = [&](int ms) {
            QElapsedTimer clock;
            clock.start();
            while (clock.elapsed() < ms && program.state() == QProcess::Running) {
                for (int i = 0; i < 5; ++i, ++sent)
                    modem.sendCast(QStringLiteral("UCAST"),
                        QStringLiteral("000D6F00000C%1").arg(sent % 50, 4, 10, QLatin1Char('0')),
                        payloads::measurement(float(sent), 50, 3));
                if (sent % 50 == 0)
                    gateway.send(SimulatedGateway::castMessage(
                        QStringLiteral("000D6F00000E%1").arg(gatewaySent++, 4, 10, QLatin1Char('0')),
                        payloads::measurement(1, 2, 3)));
                QTest::qWait(5);
                read();
            }
        };
        const auto gatewayAnswered = [&] { return int(gateway.received().count("000D6F00000E")); };
        send(1000);

        const QString aside = work.filePath(QStringLiteral("aside.db3"));
        const QString other = work.filePath(QStringLiteral("other.db3"));
        // A database of the program's own kind, but of another installation: no row of this
        // program's sequence in it.
        if (database == "foreign") {
            QProcess python;
            python.start(QStringLiteral("/usr/bin/python3"),
                { QStringLiteral("-c"),
                    QStringLiteral("import sqlite3, sys\nd = sqlite3.connect(sys.argv[2])\n"
                                   "sqlite3.connect(sys.argv[1]).backup(d)\n"
                                   "d.execute('DELETE FROM write_sequence'); d.commit(); d.close()\n"),
                    path, other });
            QVERIFY(python.waitForFinished(30000) && python.exitCode() == 0);
        }
        if (database == "moved" || database == "foreign")
            QVERIFY(QFile::rename(path, aside));
        if (database == "foreign")
            QVERIFY(QFile::rename(other, path));
        send(200);

        QElapsedTimer closing;
        closing.start();
        QFile(work.filePath(QStringLiteral("close"))).open(QIODevice::WriteOnly);
        // Readings go on until the program has gone, through the boxes of the close too.
        send(60000);
        QVERIFY2(program.state() == QProcess::NotRunning || program.waitForFinished(60000), qPrintable(output));
        const qint64 closeMs = closing.elapsed();
        read();
        QTest::qWait(200); // the last replies on their way through the terminal
        if (type == 1) {
            // The flush gives up after its 15 s, and a box stays 1.5 s (twice at most); the rest
            // is room for the close file's poll and a loaded sanitizer build, far below a
            // second wait.
            QVERIFY2(closeMs < 15000 + 1500 + 1500 + 6000, qPrintable(QString::number(closeMs)));
        }
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QVERIFY2(program.exitCode() == 0 && output.contains(QLatin1String("CONNECTIONS")),
            qPrintable(QString::number(program.exitCode()) + output));
        QVERIFY2(!output.contains(QLatin1String("Sanitizer")), qPrintable(output));

        // The file is read as a user finds it once it is put back: its last writes may still
        // lie in the WAL beside the path.
        if (database == "moved" || database == "foreign") {
            QFile::remove(path);
            QVERIFY(QFile::rename(aside, path));
        }
        const int stored = f.sql(QStringLiteral("SELECT COUNT(*) FROM measure")).value(0).value(0).toInt();
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
        const QRegularExpressionMatch box
            = QRegularExpression(QStringLiteral("Не удалось записать в базу данных (\\d+) измерений: (.*)"))
                  .match(output);
        const int named = box.hasMatch() ? box.captured(1).toInt() : 0;
        qInfo("%d answered on the modem, %d on the gateway; %d stored, %d named in the box", modemAnswered,
            gatewayAnswered(), stored, named);
        QVERIFY(modemAnswered > 0 && gatewayAnswered() > 0);
        QCOMPARE(stored + named, modemAnswered + gatewayAnswered());
        QVERIFY2(box.hasMatch() == !reason.isEmpty() && box.captured(2).startsWith(reason), qPrintable(output));
    }
};

QTEST_GUILESS_MAIN(TestProgramClose)
#include "tst_programclose.moc"

// The program as a process on MySQL, closed while its database writer is stuck in the driver.
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "stallingproxy.h"
#include "storagetest.h"

class TestProgramClose : public StorageTest
{
    Q_OBJECT

private slots:
    // The program as its users run it, on MySQL, closed while its writer's connection is stuck
    // in the driver (the server's replies held back from that connection only): the close
    // ends within the 15 s given to the flush, once, and the process with its own exit code,
    // the thread left behind untouched.
    void programClosesWithinTheFlushTime_data()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("mysql") << 1;
    }
    void programClosesWithinTheFlushTime()
    {
        StallingProxy proxy(quint16(f.server.port()));
        proxy.stallOn("lock_wait_timeout"); // only the writer's session sets it
        QVERIFY(proxy.listen());
        QTemporaryDir work;
        QVERIFY(QDir(work.path()).mkdir(QStringLiteral("data")));
        QFile config(work.filePath(QStringLiteral("data/config.ini")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral("[Modem]\nPortName=/nonexistent/tty\nNetworkPort=0\n[DB]\nDBType=1\n"
                                    "Hostname=127.0.0.1\nPort=%1\nDatabase=%2\nUsername=%3\nPassword=\"%4\"\n")
                         .arg(proxy.port())
                         .arg(f.databaseName, f.server.user(), f.server.password())
                         .toUtf8());
        config.close();
        QFile(work.filePath(QStringLiteral("data/measurement.db3"))).open(QIODevice::WriteOnly);
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), work.path()); // the single-instance key lives there
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), work.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("DRIVER_CLOSE_FILE"), work.filePath(QStringLiteral("close")));
        env.insert(QStringLiteral("DRIVER_NETWORK_PORT"), QStringLiteral("any"));
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(work.path());
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(QStringLiteral(STARTUP_DRIVER), QStringList());
        QTRY_COMPARE_WITH_TIMEOUT(proxy.connectionsHeld(), 1, 60000);
        QTest::qWait(500);
        QElapsedTimer clock;
        clock.start();
        QFile(work.filePath(QStringLiteral("close"))).open(QIODevice::WriteOnly);
        QVERIFY(program.waitForFinished(60000));
        const qint64 closeMs = clock.elapsed();
        const QString output = QString::fromUtf8(program.readAll());
        QVERIFY2(closeMs < 15000 + 1500, qPrintable(QString::number(closeMs)));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QVERIFY2(program.exitCode() == 0 && output.contains(QLatin1String("CONNECTIONS")), qPrintable(output));
        QVERIFY2(!output.contains(QLatin1String("Sanitizer")), qPrintable(output));
    }
};

QTEST_GUILESS_MAIN(TestProgramClose)
#include "tst_programclose.moc"

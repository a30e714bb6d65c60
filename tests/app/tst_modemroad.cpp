// The whole program against a modem on a pseudo-terminal: every sensor message is answered
// on the line, registered, stored and checked against the thresholds.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cstring>
#include <thread>

#include "core/threadscheduling.h"
#include "links/sensorpayload.h"
#include "storage/sqlbasemodule.h"
#include "tools/modemsim/modempeer.h"

#include "driverprocess.h"
#include "payloads.h"

using namespace payloads;

namespace {

const QString kKnown = QStringLiteral("000D6F00000000AA");
const QString kUnknown = QStringLiteral("000D6F00000000BB");

}  // namespace

class TestModemRoad : public QObject
{
    Q_OBJECT
private slots:
    void sensorsAreAnsweredStoredAndChecked()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        ModemPeer peer;
        QString error;
        QVERIFY2(peer.open(&error), qPrintable(error));

        const QString work = dir.path() + QStringLiteral("/work");
        QVERIFY(QDir().mkpath(work + QStringLiteral("/data")));
        {
            QFile config(work + QStringLiteral("/data/config.ini"));
            QVERIFY(config.open(QIODevice::WriteOnly));
            config.write("[Modem]\nPortName=" + peer.portName().toUtf8() + "\nNetworkPort=0\n"
                         "[DataWarning]\nTemperatureMaxCritical=30\n"
                         "[EmailNotifications]\nisActive=true\nisMaxCriticalTemperature=true\n");
        }
        // A registered sensor that sleeps 13 s: its reply carries a carriage-return byte.
        {
            const QString previous = QDir::currentPath();
            QDir::setCurrent(work);
            {
                SQLBaseModule sql;
                sql.init(0, QString(), QString(), QString(), QString(), 0);
                QSqlQuery q;
                QVERIFY(q.prepare(QStringLiteral(
                    "INSERT INTO sensors (EUI64, name, location, sleepInterval, datecheck) VALUES (?, 'Склад', 0, 13, '2026.01.01')")));
                q.addBindValue(kKnown);
                QVERIFY(q.exec());
                sql.slotStopModule();
            }
            QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
            QDir::setCurrent(previous);
        }

        QProcess program;
        startDriver(program, work, dir.path(),
            { { "ANSWER", "yes" }, { "NETWORK_PORT", "any" }, { "CLOSE_FILE", dir.path() + "/close" } });
        QVERIFY(program.waitForStarted());

        QSignalSpy scriptDone(&peer, &ModemPeer::scriptDone);
        QVERIFY(scriptDone.wait(30000));
        QSignalSpy replies(&peer, &ModemPeer::unicastReceived);
        QTest::qWait(300);  // the main window is being built after the script's end

        peer.sendCast(QStringLiteral("UCAST"), kUnknown, measurement(31.5f, 45.0f, 3.0f));
        QTRY_COMPARE_WITH_TIMEOUT(replies.size(), 1, 10000);
        peer.sendCast(QStringLiteral("BCAST"), kKnown, measurement(21.0f, 40.0f, 2.9f));
        QTRY_COMPARE_WITH_TIMEOUT(replies.size(), 2, 10000);

        // The exact reply frames reached the line, the unknown sensor first with 20 s.
        const QList<QByteArray> commands = peer.commands();
        QVERIFY(commands.contains(sensorReplyFrame(kUnknown, 20)));
        QVERIFY(commands.contains(sensorReplyFrame(kKnown, 13)));
        QVERIFY(commands.indexOf(sensorReplyFrame(kUnknown, 20)) < commands.indexOf(sensorReplyFrame(kKnown, 13)));

        // The GUI thread answers the gateways: it runs in short turns, as the modem thread does.
        bool granted = false;
        std::thread([&granted] { granted = ThreadScheduling::answerPromptly(); }).join();
        if (granted)
            QCOMPARE(ThreadScheduling::turnNs(long(program.processId())), 100000ULL);

        QFile(dir.path() + QStringLiteral("/close")).open(QIODevice::WriteOnly);
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitCode(), 0);
        const QStringList lines = QString::fromUtf8(program.readAllStandardOutput()).split(QLatin1Char('\n'));

        // One alarm for the hot reading, then the status text; nothing for the other sensor.
        QStringList road;
        for (const QString& l : lines) {
            if (l.startsWith(QLatin1String("ALARM")) || l.startsWith(QLatin1String("STATUS")))
                road << l;
        }
        QCOMPARE(road,
            (QStringList{ QStringLiteral("ALARM 5 ") + kUnknown + QStringLiteral(" 31.5"),
                QStringLiteral("STATUS Получен UCAST от ") + kUnknown, QStringLiteral("STATUS Получен BCAST от ") + kKnown }));

        // The database read back after the program has ended.
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
            db.setDatabaseName(work + QStringLiteral("/data/measurement.db3"));
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral(
                "SELECT s.EUI64, s.name, s.location, s.sleepInterval, l.name, m.temperature, m.wetness, m.battery "
                "FROM measure m JOIN sensors s ON s.id = m.sensor_id JOIN locations l ON l.id = s.location ORDER BY m.id")));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toString(), kUnknown);
            QCOMPARE(q.value(1).toString(), QStringLiteral("Датчик2"));
            QCOMPARE(q.value(2).toInt(), 0);
            QCOMPARE(q.value(3).toInt(), 60);
            QCOMPARE(q.value(4).toString(), QStringLiteral("Новые датчики"));
            QCOMPARE(q.value(5).toDouble(), 31.5);
            QCOMPARE(q.value(6).toDouble(), 45.0);
            QCOMPARE(q.value(7).toDouble(), 3.0);
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toString(), kKnown);
            QCOMPARE(q.value(3).toInt(), 13);
            QCOMPARE(q.value(5).toDouble(), 21.0);
            QVERIFY(!q.next());
        }
        QSqlDatabase::removeDatabase(QStringLiteral("check"));
    }
};

QTEST_GUILESS_MAIN(TestModemRoad)
#include "tst_modemroad.moc"

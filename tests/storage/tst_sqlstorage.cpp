// Storing measurements and purging old ones, on SQLite and on MariaDB through ODBC.
#include <QDateTime>
#include <QtTest>

#include <cmath>
#include <limits>

#include "storagetest.h"

namespace
{

SensorData reading(double t, double w, double b, bool hasT = true, bool hasW = true, bool hasB = true)
{
    SensorData d;
    d.hasTemperature = hasT;
    d.hasWetness = hasW;
    d.hasBattery = hasB;
    d.temperature = t;
    d.wetness = w;
    d.battery = b;
    return d;
}

const QString kSensorA = QStringLiteral("00137A000004D2A1");
// A quote inside the key: it must reach the database as a value, not as SQL.
const QString kSensorQuote = QStringLiteral("00137A'0000'D2A2");

} // namespace

Q_DECLARE_METATYPE(SensorData)

class TestSqlStorage : public StorageTest
{
    Q_OBJECT

    void addSensors()
    {
        f.sql("INSERT INTO sensors (EUI64, name, location, sleepInterval, datecheck) VALUES "
              "('00137A000004D2A1', 'a', 0, 60, '2024.01.02');\n"
              "INSERT INTO sensors (EUI64, name, location, sleepInterval, datecheck) VALUES "
              "('00137A''0000''D2A2', 'q', 0, 60, '2024.01.02')");
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
    }
    QList<QStringList> rowsOf(const QString& table, const QString& eui64)
    {
        QString key = eui64.toUpper(); // as the sensors here are stored
        key.replace("'", "''");
        return f.sql(QStringLiteral("SELECT t.temperature, t.wetness, t.battery, t.timemeasure FROM %1 t "
                                    "JOIN sensors s ON s.id=t.sensor_id WHERE s.EUI64='%2' ORDER BY t.timemeasure")
                         .arg(table, key));
    }

private slots:
    void store_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("eui64");
        QTest::addColumn<SensorData>("data");
        QTest::addColumn<QStringList>("stored"); // empty: nothing stored
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        for (int type : { 0, 1 }) {
            const char* d = type == 0 ? "sqlite" : "mysql";
            QTest::addRow("%s: all three", d)
                << type << kSensorA << reading(21.456, 40.5, 3.456) << QStringList { "21.46", "40.5", "3.456" };
            QTest::addRow("%s: none", d) << type << kSensorA << reading(0, 0, 0, false, false, false)
                                         << QStringList { "NULL", "NULL", "NULL" };
            QTest::addRow("%s: whole and negative", d)
                << type << kSensorA << reading(20.0, -0.004, -1.234) << QStringList { "20", "0", "-1.234" };
            QTest::addRow("%s: rounding half up", d)
                << type << kSensorA << reading(-1.234, 55.996, 0, true, true, false)
                << QStringList { "-1.23", "56", "NULL" };
            QTest::addRow("%s: not finite", d)
                << type << kSensorA << reading(nan, inf, 3.1) << QStringList { "NULL", "NULL", "3.1" };
            QTest::addRow("%s: quote in EUI64", d)
                << type << kSensorQuote << reading(1.5, 2.5, 3.5) << QStringList { "1.5", "2.5", "3.5" };
            QTest::addRow("%s: address in another case", d)
                << type << kSensorA.toLower() << reading(1.5, 2.5, 3.5) << QStringList { "1.5", "2.5", "3.5" };
            QTest::addRow("%s: unknown sensor", d)
                << type << QStringLiteral("FFFFFFFFFFFFFFFF") << reading(1, 2, 3) << QStringList {};
        }
    }
    void store()
    {
        QFETCH(QString, eui64);
        QFETCH(SensorData, data);
        QFETCH(QStringList, stored);
        f.open();
        addSensors();
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        f.module->slotSensorDataReceived(arrived(eui64, data));
        const qint64 after = QDateTime::currentSecsSinceEpoch();

        if (stored.isEmpty()) {
            QCOMPARE(f.sql("SELECT COUNT(*) FROM measure"), QList<QStringList> { { "0" } });
            QCOMPARE(f.sql("SELECT COUNT(*) FROM last"), QList<QStringList> { { "0" } });
            return;
        }
        const QList<QStringList> measure = rowsOf("measure", eui64);
        QCOMPARE(measure.size(), 1);
        QCOMPARE(measure[0].mid(0, 3), stored);
        // The database's own clock, in Unix seconds.
        const qint64 time = measure[0][3].toLongLong();
        QVERIFY2(time >= before - 1 && time <= after + 1, qPrintable(measure[0][3]));
        QCOMPARE(rowsOf("last", eui64), measure);
    }

    // A file written before an address was one sensor in any case may hold it in two: a
    // reading lands on the row spelt as the registry, which loaded that row, hands it on.
    void twinsInAFileOfOld_data() { only(0); }
    void twinsInAFileOfOld()
    {
        f.open();
        f.sql("DROP INDEX sensors_eui64;\nINSERT INTO sensors (EUI64, name, location, datecheck) VALUES "
              "('00137A000004D2A1', 'upper', 0, '2024.01.02'), ('00137a000004d2a1', 'lower', 0, '2024.01.02')");
        f.module->slotSensorDataReceived(arrived(kSensorA.toLower(), reading(1, 2, 3)));
        QCOMPARE(f.sql("SELECT s.name FROM measure m JOIN sensors s ON s.id=m.sensor_id"),
            QList<QStringList> { { "lower" } });
    }

    void lastFollowsNewest_data() { dialects(); }
    void lastFollowsNewest()
    {
        f.open();
        addSensors();
        f.module->slotSensorDataReceived(arrived(kSensorA, reading(10.0, 50.0, 3.0)));
        QTest::qWait(1100);
        f.module->slotSensorDataReceived(arrived(kSensorA, reading(11.0, 0, 0, true, false, false)));
        f.module->slotSensorDataReceived(arrived(kSensorQuote, reading(1, 2, 3)));

        const QList<QStringList> measure = rowsOf("measure", kSensorA);
        QCOMPARE(measure.size(), 2);
        QVERIFY(measure[1][3].toLongLong() > measure[0][3].toLongLong());
        QCOMPARE(rowsOf("last", kSensorA), QList<QStringList> { measure[1] });
        QCOMPARE(measure[1].mid(0, 3), (QStringList { "11", "NULL", "NULL" }));
        QCOMPARE(f.sql("SELECT COUNT(*) FROM last"), QList<QStringList> { { "2" } });
    }

    void closedConnectionStoresNothing_data() { dialects(); }
    void closedConnectionStoresNothing()
    {
        f.open();
        addSensors();
        f.module->slotStopModule();
        f.module->slotSensorDataReceived(arrived(kSensorA, reading(1, 2, 3)));
        QCOMPARE(f.sql("SELECT COUNT(*) FROM measure"), QList<QStringList> { { "0" } });
    }

    void purge_data() { dialects(); }
    void purge()
    {
        const int days = 3;
        f.state->DaysSave = days;
        f.open();
        addSensors();
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        auto insertAged = [&](double ageDays, int tag) {
            f.sql(QStringLiteral("INSERT INTO measure (sensor_id, timemeasure, temperature) "
                                 "SELECT id, %1, %2 FROM sensors WHERE EUI64='00137A000004D2A1'")
                      .arg(now - qint64(ageDays * 86400))
                      .arg(tag));
        };
        insertAged(days - 1, 1);
        insertAged(days + 1, 2);
        f.module->slotSensorDataReceived(arrived(kSensorA, reading(3, 0, 0, true, false, false)));
        f.closeModule();

        // Once at start...
        f.open(20);
        QCOMPARE(
            f.sql("SELECT temperature FROM measure ORDER BY temperature"), (QList<QStringList> { { "1" }, { "3" } }));
        // ...then on every tick of the timer, with the setting read at each run.
        insertAged(days + 1, 4);
        QTRY_COMPARE_WITH_TIMEOUT(f.sql("SELECT COUNT(*) FROM measure"), QList<QStringList> { { "2" } }, 10000);
        f.state->DaysSave = days - 2;
        QTRY_COMPARE_WITH_TIMEOUT(f.sql("SELECT temperature FROM measure"), QList<QStringList> { { "3" } }, 10000);
        // Only measure is purged.
        QCOMPARE(f.sql("SELECT COUNT(*) FROM last"), QList<QStringList> { { "1" } });
    }

    // Readings are purged on a number of days the configuration file holds as its user wrote it:
    // a comment line or another case costs nothing, and days that fell back to a default purge
    // nothing until the user saves the settings.
    void purgeOnlyOnDaysTheFileHolds_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QString>("left");
        const auto row = [](const char* name, const char* config, const char* left) {
            QTest::newRow(name) << 0 << QByteArray(config) << QString::fromLatin1(left);
        };
        row("'#' comment", "# kept ten years, as the law asks\r\n[Other]\r\nDaysSave=3650\r\n", "2");
        row("another case", "[other]\ndaysSave=3650\n", "2");
        row("no DaysSave", "[Modem]\nPortName=COM1\n", "2");
        row("meaningless DaysSave", "[Other]\nDaysSave=ten years\n", "2");
        row("unreadable file", "\x01\x02\xff", "2");
        row("DaysSave 730", "[Other]\nDaysSave=730\n", "1");
    }
    void purgeOnlyOnDaysTheFileHolds()
    {
        QFETCH(QByteArray, config);
        QFETCH(QString, left);
        f.state->DaysSave = 36500;
        f.open();
        addSensors();
        f.sql(
            QStringLiteral("INSERT INTO measure (sensor_id, timemeasure, temperature) SELECT id, %1, 800 FROM sensors "
                           "WHERE EUI64='00137A000004D2A1'")
                .arg(QDateTime::currentSecsSinceEpoch() - 800 * 86400));
        f.module->slotSensorDataReceived(arrived(kSensorA, reading(1, 2, 3)));
        f.closeModule();
        QFile file(QStringLiteral("data/config.ini"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(config) == config.size());
        file.close();
        f.state->loadConfig();

        // At start and on every tick of the timer.
        f.open(20);
        QTest::qWait(300);
        QTRY_COMPARE_WITH_TIMEOUT(f.sql("SELECT COUNT(*) FROM measure"), QList<QStringList> { { left } }, 10000);
        if (!f.state->purgeWaits)
            return;
        // The user's own save starts the purge.
        f.state->saveConfig(true);
        QTRY_COMPARE_WITH_TIMEOUT(f.sql("SELECT COUNT(*) FROM measure"), QList<QStringList> { { "1" } }, 10000);
    }
};

QTEST_GUILESS_MAIN(TestSqlStorage)
#include "tst_sqlstorage.moc"

// The registry load at start and the rows of the DBF export, on SQLite and on MariaDB.
#include <QDateTime>
#include <QSqlError>
#include <QSqlRecord>
#include <QThread>
#include <QtTest>

#include "storagetest.h"

namespace
{

QList<QStringList> readExport(QSqlQuery& query)
{
    QList<QStringList> rows;
    while (query.next()) {
        // eui64, name, locName, tmMeasure, temperature
        rows.append({ query.value(0).toString(), query.value(1).toString(), query.value(2).toString(),
            query.value(4).toString(), query.value(5).toString() });
    }
    return rows;
}

} // namespace

class TestSqlRegistry : public StorageTest
{
    Q_OBJECT

private slots:
    void load_data() { dialects(); }
    void load()
    {
        f.open();
        f.closeModule();
        qDeleteAll(f.state->locations);
        f.state->locations.clear();
        // Locations written out of id order; one sensor in no location, one in a location
        // that has no row, and the two date forms the program has written over the years.
        f.sql("INSERT INTO locations VALUES (2, 'Склад', '00137A0000000001', '10.0.0.5');\n"
              "INSERT INTO locations VALUES (1, 'Цех ''А''', '', '');\n"
              "INSERT INTO sensors (id, EUI64, name, location, datecheck, sleepInterval, tMinNoncritical, "
              "tMaxNoncritical, tMinCritical, tMaxCritical, hMinNoncritical, hMaxNoncritical, hMinCritical, "
              "hMaxCritical, isLowBattery, isLostConnection, isEnabled) VALUES (1, '00000000000000A1', "
              "'Датчик ''кухня''', NULL, '2023.04.05', 120, 1.5, 2, 3, 4, 5, 6, 7, 8.25, 1, 0, 1);\n"
              "INSERT INTO sensors (id, EUI64, name, location, datecheck) VALUES (2, '00000000000000B2', 'b', 7, "
              "'2023-04-06');\n"
              "INSERT INTO sensors (id, EUI64, name, location, datecheck, sleepInterval) VALUES (3, "
              "'00000000000000C3', 'c', 2, '2024.12.31', 300)");
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));

        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        f.open();
        const qint64 after = QDateTime::currentMSecsSinceEpoch();
        QCOMPARE(f.closeCodes, QList<int>());

        const QVector<Location*>& locations = f.state->locations;
        QCOMPARE(locations.size(), 3);
        QCOMPARE(locations[0]->name, QStringLiteral("Новые датчики"));
        QCOMPARE(locations[1]->name, QStringLiteral("Цех 'А'"));
        QCOMPARE(locations[2]->name, QStringLiteral("Склад"));
        QCOMPARE(locations[2]->EUI64, QStringLiteral("00137A0000000001"));
        QCOMPARE(locations[2]->ip, QStringLiteral("10.0.0.5"));
        QVERIFY(!locations[2]->client && !locations[2]->treeItem);

        const QVector<Sensor*>& sensors = f.state->sensors;
        QCOMPARE(sensors.size(), 3);
        const Sensor* a = sensors[0];
        QCOMPARE(a->EUI64, QStringLiteral("00000000000000A1"));
        QCOMPARE(a->name, QStringLiteral("Датчик 'кухня'"));
        QCOMPARE(a->location, 0);
        QCOMPARE(a->datecheck, QDate(2023, 4, 5));
        QCOMPARE(a->sleepInterval, 120);
        const QVector<double> own { a->tMinNoncritical, a->tMaxNoncritical, a->tMinCritical, a->tMaxCritical,
            a->hMinNoncritical, a->hMaxNoncritical, a->hMinCritical, a->hMaxCritical };
        QCOMPARE(own, (QVector<double> { 1.5, 2, 3, 4, 5, 6, 7, 8.25 }));
        QCOMPARE(a->isLowBattery, true);
        QCOMPARE(a->isLostConnection, false);
        QCOMPARE(a->isEnabled, true);
        QCOMPARE(a->online, false);
        QVERIFY(!a->lastData.hasTemperature && !a->lastData.hasWetness && !a->lastData.hasBattery);
        QVERIFY(a->lastSeen >= before && a->lastSeen <= after);

        const Sensor* b = sensors[1];
        QCOMPARE(b->location, 0);
        QCOMPARE(b->datecheck, QDate(2023, 4, 6));
        QCOMPARE(b->tMaxCritical, 30.0);
        QCOMPARE(b->isEnabled, false);
        QCOMPARE(sensors[2]->location, 2);
        QCOMPARE(sensors[2]->sleepInterval, 300);
        // The dangling location is cleared in the database as well.
        QCOMPARE(f.sql("SELECT id, location FROM sensors ORDER BY id"),
            (QList<QStringList> { { "1", "NULL" }, { "2", "NULL" }, { "3", "2" } }));
    }

    void exportRows_data() { dialects(); }
    void exportRows()
    {
        f.open();
        QSqlQuery empty = f.module->slotExportDBF();
        QVERIFY(empty.isActive());
        QVERIFY(!empty.next());
        empty.finish();

        f.sql("INSERT INTO locations VALUES (1, 'Офис', '', '');\n"
              "INSERT INTO sensors (id, EUI64, name, location, datecheck) VALUES (1, '0000000000000001', 's1', 0, "
              "'2024.01.02');\n"
              "INSERT INTO sensors (id, EUI64, name, location, datecheck) VALUES (2, '0000000000000002', 's2', 1, "
              "'2024.01.02');\n"
              "INSERT INTO sensors (id, EUI64, name, location, datecheck) VALUES (3, '0000000000000003', 's3', 9, "
              "'2024.01.02');\n"
              "INSERT INTO measure (sensor_id, timemeasure, temperature) VALUES (2, 1000, 20.5);\n"
              "INSERT INTO measure (sensor_id, timemeasure, temperature) VALUES (1, 3000, 21.5);\n"
              "INSERT INTO measure (sensor_id, timemeasure, temperature) VALUES (3, 2000, 22.5);\n"
              "INSERT INTO measure (sensor_id, timemeasure, temperature) VALUES (1, 500, 23.5)");
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
        const QList<QStringList> expected { { "0000000000000001", "s1", QStringLiteral("Новые датчики"), "500",
                                                "23.5" },
            { "0000000000000002", "s2", QStringLiteral("Офис"), "1000", "20.5" },
            { "0000000000000001", "s1", QStringLiteral("Новые датчики"), "3000", "21.5" } };

        QSqlQuery query = f.module->slotExportDBF();
        const QSqlRecord record = query.record();
        QStringList columns;
        for (int i = 0; i < record.count(); ++i)
            columns << record.fieldName(i);
        QCOMPARE(columns,
            (QStringList {
                "eui64", "name", "locName", "dateCheck", "tmMeasure", "temperature", "humidity", "battery" }));
        QCOMPARE(readExport(query), expected);
        query.finish();

        // The export thread reads through a connection of its own.
        QList<QStringList> fromThread;
        QString threadError;
        QThread* thread = QThread::create([&] {
            {
                QSqlDatabase own = SQLBaseModule::openSeparateConnection("exportTest");
                QSqlQuery q = f.module->exportQuery(own);
                threadError = q.lastError().text();
                fromThread = readExport(q);
            }
            QSqlDatabase::removeDatabase("exportTest");
        });
        thread->start();
        QVERIFY(thread->wait(30000));
        delete thread;
        QVERIFY2(threadError.trimmed().isEmpty(), qPrintable(threadError));
        QCOMPARE(fromThread, expected);
    }
};

QTEST_GUILESS_MAIN(TestSqlRegistry)
#include "tst_sqlregistry.moc"

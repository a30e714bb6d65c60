// Opening the database: a new one gets its tables, indexes and first location, an existing
// one keeps its data, and a database that cannot be opened ends the program with 114 or 115.
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QtTest>

#include "storage/registrywriter.h"
#include "storagetest.h"

class TestSqlSchema : public StorageTest
{
    Q_OBJECT

private slots:
    void newDatabase_data() { dialects(); }
    void newDatabase()
    {
        QFETCH(int, type);
        SQLBaseModule* m = f.open();
        QCOMPARE(f.closeCodes, QList<int>());
        QCOMPARE(f.boxes.boxes, QStringList());
        QVERIFY(m->purgeTimerId != 0);
        QVERIFY(m->db.isOpen());

        const QString tables = type == 0
            ? QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name")
            : QStringLiteral("SELECT table_name FROM information_schema.tables WHERE table_schema=DATABASE() "
                             "ORDER BY table_name");
        QCOMPARE(f.sql(tables),
            (QList<QStringList> { { "last" }, { "locations" }, { "measure" }, { "measure_aggregates_state" },
                { "measure_daily" }, { "measure_hourly" }, { "removed" }, { "sensors" }, { "write_sequence" } }));
        QCOMPARE(f.sql("SELECT id, name, EUI64, ip FROM locations"),
            (QList<QStringList> { { "0", QStringLiteral("Новые датчики"), "", "" } }));
        QCOMPARE(f.state->locations.size(), 1);
        QCOMPARE(f.state->locations[0]->name, QStringLiteral("Новые датчики"));

        // A row written the way intake writes it takes the column defaults.
        QCOMPARE(f.sql("INSERT INTO sensors (EUI64, name, location, sleepInterval, datecheck) "
                       "VALUES ('0011223344556677', 'n', 0, 60, '2024.01.02');\n"
                       "SELECT tMinNoncritical, tMaxNoncritical, tMinCritical, tMaxCritical, hMinNoncritical, "
                       "hMaxNoncritical, hMinCritical, hMaxCritical, isLowBattery, isLostConnection, isEnabled "
                       "FROM sensors"),
            (QList<QStringList> { { "5", "5", "5", "30", "30", "30", "30", "99", "0", "0", "0" } }));
        // One row per address whatever its case: the key refuses a twin; a registration finds it.
        f.sql("INSERT INTO sensors (EUI64, name, location, sleepInterval, datecheck) "
              "VALUES ('001122334455667a', 'n', 0, 60, '2024.01.02');\n"
              "INSERT INTO sensors (EUI64, name, location, sleepInterval, datecheck) "
              "VALUES ('001122334455667A', 'n', 0, 60, '2024.01.02')");
        QList<bool> told;
        f.module->writer->enqueueJob(RegistryWriter::insertSensorJob("001122334455667A", "n", 0, 60, QDate(2024, 1, 2)),
            [&told](bool ok, const QString&) { told << ok; });
        QTRY_COMPARE(told, QList<bool> { true });
        QCOMPARE(f.sql("SELECT COUNT(*) FROM sensors"), QList<QStringList> { { "2" } });

        const QString indexes = type == 0
            ? QStringLiteral("SELECT name FROM sqlite_master WHERE type='index' AND tbl_name='measure' "
                             "AND sql IS NOT NULL ORDER BY name")
            : QStringLiteral("SELECT DISTINCT index_name FROM information_schema.statistics WHERE "
                             "table_schema=DATABASE() AND table_name='measure' AND index_name<>'PRIMARY' "
                             "ORDER BY index_name");
        QCOMPARE(f.sql(indexes), (QList<QStringList> { { "measure_sensor_time" }, { "measure_time" } }));

        if (type == 0) {
            QCOMPARE(f.sql("PRAGMA journal_mode"), QList<QStringList> { { "wal" } });
        } else {
            // The database defaults to latin1; the tables are utf8mb4 all the same.
            QCOMPARE(f.sql("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema=DATABASE() "
                           "AND table_collation LIKE 'utf8mb4%'"),
                QList<QStringList> { { "9" } });
            QCOMPARE(f.sql("INSERT INTO removed (EUI64, timemeasure) VALUES ('0011223344556677', 1);\n"
                           "SELECT id FROM removed"),
                QList<QStringList> { { "1" } });
        }
    }

    void reopen_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("locationRowsAfter");
        // The first location goes only into a new SQLite file; the MySQL statements run at
        // every start.
        QTest::newRow("sqlite") << 0 << 0;
        QTest::newRow("mysql") << 1 << 1;
    }
    void reopen()
    {
        QFETCH(int, locationRowsAfter);
        f.open();
        f.sql("INSERT INTO sensors (EUI64, name, location, sleepInterval, datecheck) "
              "VALUES ('0011223344556677', 'n', 0, 60, '2024.01.02')");
        SensorData d;
        d.hasTemperature = true;
        d.temperature = 22.5;
        f.module->slotSensorDataReceived(arrived(QStringLiteral("0011223344556677"), d));
        f.closeModule();
        f.forgetRegistry();

        f.open();
        QCOMPARE(f.closeCodes, QList<int>());
        QCOMPARE(f.sql("SELECT COUNT(*) FROM locations"), QList<QStringList> { { "1" } });
        QCOMPARE(f.sql("SELECT temperature FROM measure"), QList<QStringList> { { "22.5" } });
        QCOMPARE(f.state->sensors.size(), 1);
        QCOMPARE(f.state->locations.size(), 1);
        f.closeModule();

        // A table lost from an existing database comes back; a deleted first location only
        // where the statements run at every start.
        f.sql("DROP TABLE removed;\nDELETE FROM locations");
        f.open();
        QCOMPARE(f.closeCodes, QList<int>());
        QCOMPARE(f.sql("SELECT COUNT(*) FROM removed"), QList<QStringList> { { "0" } });
        QCOMPARE(
            f.sql("SELECT COUNT(*) FROM locations"), QList<QStringList> { { QString::number(locationRowsAfter) } });
    }

    // A file from before the graph read its periods from the index alone has the sensor and
    // time index on two columns. A start while another connection holds the file keeps the old
    // index and starts all the same; the next start widens it, keeping every row.
    void sensorTimeIndexWidened_data()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("sqlite") << 0;
    }
    void sensorTimeIndexWidened()
    {
        const QString columns
            = QStringLiteral("SELECT name FROM pragma_index_info('measure_sensor_time') ORDER BY seqno");
        f.open();
        f.closeModule();
        f.sql("DROP INDEX measure_sensor_time;\nCREATE INDEX measure_sensor_time ON measure (sensor_id, timemeasure);\n"
              "INSERT INTO sensors (id, EUI64, name, location, sleepInterval, datecheck) "
              "VALUES (1, '0011223344556677', 'n', 0, 60, '2024.01.02');\n"
              "INSERT INTO measure (sensor_id, timemeasure, temperature) "
              "VALUES (1, strftime('%s','now')-60, 20.5), (1, strftime('%s','now'), NULL)");
        f.forgetRegistry();

        f.expectedWarnings << QStringLiteral("measure_sensor_time kept as it was");
        QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        holder.setDatabaseName(f.work->filePath(QStringLiteral("data/measurement.db3")));
        QVERIFY(holder.open() && QSqlQuery(holder).exec(QStringLiteral("BEGIN IMMEDIATE")));
        f.open();
        QCOMPARE(f.closeCodes, QList<int>());
        QCOMPARE(f.sql(columns), (QList<QStringList> { { "sensor_id" }, { "timemeasure" } }));
        QSqlQuery(holder).exec(QStringLiteral("ROLLBACK"));
        holder.close();
        holder = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));

        f.closeModule();
        f.forgetRegistry();
        f.open();
        QCOMPARE(f.sql(columns),
            (QList<QStringList> { { "sensor_id" }, { "timemeasure" }, { "id" }, { "temperature" }, { "wetness" } }));
        QCOMPARE(f.sql("SELECT sensor_id, temperature FROM measure ORDER BY id"),
            (QList<QStringList> { { "1", "20.5" }, { "1", "NULL" } }));
    }

    void mysqlRemovedIdMended_data()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("mysql") << 1;
    }
    void mysqlRemovedIdMended()
    {
        f.sql("CREATE TABLE removed (id INTEGER PRIMARY KEY, EUI64 VARCHAR(16) NOT NULL, timemeasure integer not "
              "NULL, temperature REAL, wetness real, battery real);\n"
              "INSERT INTO removed VALUES (7, '0011223344556677', 1, 20.5, NULL, NULL)");
        f.open();
        QCOMPARE(f.closeCodes, QList<int>());
        QCOMPARE(f.sql("INSERT INTO removed (EUI64, timemeasure) VALUES ('0011223344556678', 2);\n"
                       "SELECT id, EUI64, temperature FROM removed ORDER BY id"),
            (QList<QStringList> { { "7", "0011223344556677", "20.5" }, { "8", "0011223344556678", "NULL" } }));
    }

    // A database with a table the program never makes, or with one of its tables laid out
    // otherwise, is refused before anything is written into it: the SQLite file keeps every
    // byte and gains no companion file, the MySQL database keeps its tables, columns and rows.
    void foreignSchemaRefusedUnchanged_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("tables");
        QTest::addColumn<QString>("rows"); // a query whose answer must stay the same
        QTest::addColumn<QString>("text");
        const QString other = QStringLiteral("CREATE TABLE readings (id INTEGER PRIMARY KEY, value REAL);\n"
                                             "INSERT INTO readings VALUES (1, 20.5)");
        const QString otherText = QStringLiteral("В базе данных есть таблица \"readings\", которой нет среди "
                                                 "таблиц программы: это база данных другой программы.");
        const QString sensors = QStringLiteral("CREATE TABLE sensors (num INTEGER PRIMARY KEY, EUI64 VARCHAR(16), "
                                               "name VARCHAR(40));\nINSERT INTO sensors VALUES (1, 'x', 'y')");
        const QString sensorsText = QStringLiteral("В таблице \"sensors\" нет столбца \"id\".");
        const QString hourly = QStringLiteral("CREATE TABLE measure_hourly (sensor_id INTEGER, hour INTEGER);\n"
                                              "INSERT INTO measure_hourly VALUES (1, 2)");
        const QString hourlyText = QStringLiteral("В таблице \"measure_hourly\" нет столбца \"bucket\".");
        for (int type : { 0, 1 }) {
            const char* name = type ? "mysql" : "sqlite";
            QTest::addRow("%s: a table not ours", name) << type << other << "SELECT * FROM readings" << otherText;
            QTest::addRow("%s: sensors laid out otherwise", name)
                << type << sensors << "SELECT * FROM sensors" << sensorsText;
            QTest::addRow("%s: an aggregate table laid out otherwise", name)
                << type << hourly << "SELECT * FROM measure_hourly" << hourlyText;
        }
    }
    void foreignSchemaRefusedUnchanged()
    {
        QFETCH(int, type);
        QFETCH(QString, tables);
        QFETCH(QString, rows);
        QFETCH(QString, text);
        f.sql(tables);
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
        const auto fingerprint = [&] {
            if (type == 1)
                return f.sql("SELECT table_name, column_name, column_type FROM information_schema.columns "
                             "WHERE table_schema=DATABASE() ORDER BY table_name, ordinal_position")
                    + f.sql("SELECT table_name, index_name FROM information_schema.statistics "
                            "WHERE table_schema=DATABASE() ORDER BY table_name, index_name")
                    + f.sql(rows);
            QFile file(QStringLiteral("data/measurement.db3"));
            file.open(QIODevice::ReadOnly);
            return QList<QStringList> { QDir(QStringLiteral("data")).entryList(QDir::Files),
                { QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex()) } };
        };
        const QList<QStringList> before = fingerprint();
        f.open();
        QCOMPARE(f.closeCodes, QList<int> { 115 });
        QCOMPARE(f.boxes.boxes.value(1).section(QStringLiteral(":\n"), 1), text);
        QVERIFY(!f.module->db.isOpen());
        f.closeModule();
        QCOMPARE(fingerprint(), before);
    }

    void openFailure_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text"); // empty: the driver's own
        QTest::newRow("sqlite file is a folder") << 0 << "folder" << 115 << QString();
        QTest::newRow("sqlite file is no database") << 0 << "garbage" << 115 << QString();
        QTest::newRow("sqlite data folder missing") << 0 << "nodata" << 114 << QString();
        QTest::newRow("mysql wrong password") << 1 << "password" << 114 << QString();
        // A table without a column the program writes would take no row and say nothing.
        const QString noBattery = QStringLiteral("В таблице \"measure\" нет столбца \"battery\".");
        QTest::newRow("sqlite measure without battery") << 0 << "column" << 115 << noBattery;
        QTest::newRow("mysql measure without battery") << 1 << "column" << 115 << noBattery;
    }
    void openFailure()
    {
        QFETCH(int, type);
        QFETCH(QString, damage);
        QFETCH(int, code);
        QFETCH(QString, text);
        if (damage == "column") {
            f.sql("CREATE TABLE measure (id INTEGER PRIMARY KEY, sensor_id integer NOT NULL, timemeasure integer "
                  "NOT NULL, temperature real, wetness real)");
        } else if (damage == "folder") {
            QVERIFY(QDir().mkpath("data/measurement.db3"));
        } else if (damage == "garbage") {
            QFile file("data/measurement.db3");
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(4096, 'x'));
        } else if (damage == "nodata") {
            QVERIFY(QDir().rmdir("data"));
        }
        if (damage == "password") {
            f.make();
            f.module->init(1, "127.0.0.1", f.server.user(), "wrong", f.databaseName, f.server.port());
        } else {
            f.open();
        }
        QCOMPARE(f.closeCodes, QList<int> { code });
        QCOMPARE(f.boxes.boxes.size(), 2);
        QCOMPARE(f.boxes.boxes[0], QStringLiteral("Ошибка"));
        // The box names the database before what went wrong.
        const QString place = type == 0 ? QStringLiteral("База данных data/measurement.db3:\n")
                                        : QStringLiteral("База данных \"%1\" на сервере 127.0.0.1, порт %2:\n")
                                              .arg(f.databaseName)
                                              .arg(f.server.port());
        QVERIFY2(f.boxes.boxes[1].startsWith(place), qPrintable(f.boxes.boxes[1]));
        if (text.isEmpty())
            QVERIFY(f.boxes.boxes[1].size() > place.size());
        else
            QCOMPARE(f.boxes.boxes[1].mid(place.size()), text);
        QCOMPARE(f.module->purgeTimerId, 0);
        QVERIFY(!f.module->db.isOpen());
        QVERIFY(f.state->sensors.isEmpty());
        QVERIFY(f.state->locations.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSqlSchema)
#include "tst_sqlschema.moc"

// The sensors dialog's registry edits against SQLite and the private MariaDB server: what
// the database holds afterwards, read by an independent client, and what memory holds.
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include "dialogs/registryeditor.h"
#include "links/zigbeeclient.h"
#include "storage/registrywriter.h"
#include "storagetest.h"

namespace
{

const QString kA = QStringLiteral("00000000000000A1");
const QString kB = QStringLiteral("00000000000000B2");
const QString kC = QStringLiteral("00000000000000C3");
const QString kE = QStringLiteral("00000000000000E5");
const QString kRow = QStringLiteral(
    "SELECT name, sleepInterval, location, REPLACE(datecheck, '-', '.'), isEnabled, tMinNoncritical, tMaxNoncritical, "
    "tMinCritical, "
    "tMaxCritical, hMinNoncritical, hMaxNoncritical, hMinCritical, hMaxCritical, isLowBattery, isLostConnection "
    "FROM sensors WHERE EUI64='00000000000000B2'");

} // namespace

class TestRegistryEditor : public StorageTest
{
    Q_OBJECT

    AnsweringPrompt answers;
    std::unique_ptr<RegistryEditor> editor;

    // Locations 0 (made by the module), 1 and 2 (a gateway's); sensors A, B, C in 0, 1, 2;
    // A has measurements stored out of time order.
    void seed()
    {
        f.open();
        f.closeModule();
        f.sql("INSERT INTO locations VALUES (1, 'Цех', '', '');\n"
              "INSERT INTO locations VALUES (2, 'Склад', '00137A0000000001', '10.0.0.5');\n"
              "INSERT INTO sensors (id, EUI64, name, location, datecheck) VALUES (1, '00000000000000B2', 'b', 1, "
              "'2023.04.05'), (2, '00000000000000C3', 'c', 2, '2023.04.05'), (3, '00000000000000A1', 'a', 0, "
              "'2023.04.05');\n"
              "INSERT INTO measure (sensor_id, timemeasure, temperature) VALUES (3, 2000000300, 3.5), "
              "(1, 2000000150, 1), (3, 2000000100, 1.5), (3, 2000000200, NULL);\n"
              "INSERT INTO last (sensor_id, timemeasure) VALUES (3, 2000000300), (1, 2000000150)");
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
        qDeleteAll(f.state->locations);
        f.state->locations.clear();
        f.open();
        QCOMPARE(f.state->sensors.size(), 3);
        setPrompt(&answers);
        answers.boxes.clear();
        answers.answer = true;
        answers.whileAsked = nullptr;
        editor = std::make_unique<RegistryEditor>(*f.state, RegistryEditor::writerOf(*f.state));
    }

    // Until the writer has committed everything queued, a follow-up job included, and told us.
    void settle()
    {
        for (int round = 0; round < 2; ++round) {
            QTRY_COMPARE(f.state->databaseWriter->queueLength(), 0);
            QCoreApplication::sendPostedEvents();
        }
    }

    QList<QStringList> snapshot()
    {
        QList<QStringList> all;
        for (const char* q :
            { "SELECT id, name FROM locations ORDER BY id", "SELECT EUI64, location FROM sensors ORDER BY id",
                "SELECT sensor_id, timemeasure FROM measure ORDER BY id",
                "SELECT sensor_id FROM last ORDER BY sensor_id",
                "SELECT EUI64, timemeasure, temperature FROM removed ORDER BY id" })
            all += f.sql(QString::fromLatin1(q)) << QStringList();
        return all;
    }

    // A gateway connects and a new sensor reports through it, as binding and intake do it.
    void registerGateway()
    {
        auto* gateway = new Location;
        gateway->name = QStringLiteral("Шлюз");
        gateway->ip = QStringLiteral("10.0.0.9");
        const int id = f.state->locations.size();
        f.state->locations.append(gateway);
        RegistryWriter::insertLocation(
            f.state->databaseWriter, id, gateway->name, QStringLiteral("00137A0000000002"), gateway->ip);
        auto* sensor = new Sensor;
        sensor->EUI64 = kE;
        sensor->location = id;
        f.state->sensors.append(sensor);
        RegistryWriter::insertSensor(
            f.state->databaseWriter, sensor->EUI64, QStringLiteral("e"), id, 60, QDate(2024, 1, 1));
    }

    QStringList memory() const
    {
        QStringList texts;
        for (const Location* l : f.state->locations)
            texts << l->name;
        for (const Sensor* s : f.state->sensors)
            texts << s->EUI64 + QLatin1Char('@') + QString::number(s->location);
        return texts;
    }

public:
    // Triggers that make the database refuse every DELETE and UPDATE of the table, as a
    // constraint would.
    void refuseChanges(const QString& table)
    {
        for (const char* event : { "DELETE", "UPDATE" })
            f.sql(QString::fromLatin1(f.type ? "CREATE TRIGGER refuse%2 BEFORE %2 ON %1 FOR EACH ROW SIGNAL SQLSTATE "
                                               "'45000' SET MESSAGE_TEXT='refused by a constraint'"
                                             : "CREATE TRIGGER refuse%2 BEFORE %2 ON %1 FOR EACH ROW BEGIN SELECT "
                                               "RAISE(ABORT, 'refused by a constraint'); END")
                      .arg(table, QLatin1String(event)));
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
    }

private slots:
    void cleanupTestCase() { setPrompt(nullptr); }

    void removeLocation_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("removed");
        QTest::addColumn<QStringList>("names");
        for (int type : { 0, 1 }) {
            const char* dialect = type ? "mysql" : "sqlite";
            QTest::addRow("%s middle", dialect) << type << 1 << QStringList { "Новые датчики", "Склад" };
            QTest::addRow("%s first", dialect) << type << 0 << QStringList { "Цех", "Склад" };
        }
    }
    void removeLocation()
    {
        QFETCH(int, removed);
        QFETCH(QStringList, names);
        seed();
        editor->removeLocation(removed);
        settle();
        // Either way, the sensors of 0 and 1 end in the first location and the gateway's one
        // follows its location down.
        const QStringList sensors { kB + "@0", kC + "@1", kA + "@0" };
        QCOMPARE(memory(), names + sensors);
        QCOMPARE(f.sql("SELECT id, name FROM locations ORDER BY id"),
            (QList<QStringList> { { "0", names[0] }, { "1", names[1] } }));
        QCOMPARE(f.sql("SELECT location FROM sensors ORDER BY id"), (QList<QStringList> { { "0" }, { "1" }, { "0" } }));
        QCOMPARE(answers.boxes.size(), 2); // the question about its sensors
    }

    // Memory changes when the user confirms: a gateway and a sensor that register while the
    // removal waits in the queue take ids in the new numbering, and their rows are written
    // behind the removal with them.
    void registrationDuringRemoval_data() { dialects(); }
    void registrationDuringRemoval()
    {
        seed();
        editor->removeLocation(1);
        QCOMPARE(memory(), (QStringList { "Новые датчики", "Склад", kB + "@0", kC + "@1", kA + "@0" }));
        registerGateway();
        settle();
        const QStringList registry { "Новые датчики", "Склад", "Шлюз", kB + "@0", kC + "@1", kA + "@0", kE + "@2" };
        QCOMPARE(memory(), registry);
        QCOMPARE(f.sql("SELECT id, name FROM locations ORDER BY id"),
            (QList<QStringList> { { "0", "Новые датчики" }, { "1", "Склад" }, { "2", "Шлюз" } }));
        QCOMPARE(f.sql("SELECT location FROM sensors ORDER BY id"),
            (QList<QStringList> { { "0" }, { "1" }, { "0" }, { "2" } }));
    }

    // A removal that fails is undone in memory, and what registered meanwhile in the numbering
    // it had made is written again as memory holds it: a sensor that registered anew is the
    // old one again, a gateway's location moves up behind the location that came back.
    void failedRemovalWithRegistrations_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("sensor");
        for (int type : { 0, 1 }) {
            QTest::addRow("%s sensor", type ? "mysql" : "sqlite") << type << true;
            QTest::addRow("%s location", type ? "mysql" : "sqlite") << type << false;
        }
    }
    void failedRemovalWithRegistrations()
    {
        QFETCH(bool, sensor);
        seed();
        // The gateway's row is first written with the id the removal had given it.
        f.expectedWarnings << QStringLiteral("Registry write failed");
        const QList<QStringList> before = snapshot();
        const QStringList inMemory = memory();
        // The database itself refuses the removal (a missing table would only make it wait).
        f.expectedWarnings << QStringLiteral("Database writer: registry change refused");
        refuseChanges(sensor ? QStringLiteral("last") : QStringLiteral("sensors"));
        if (sensor)
            editor->removeSensor(2);
        else
            editor->removeLocation(1);
        // Accepted again right behind the removal, before anything registered meanwhile is written.
        f.state->databaseWriter->enqueueJob([](QSqlDatabase& db, int, QString* error) {
            QSqlQuery q(db);
            for (const char* event : { "DELETE", "UPDATE" }) {
                if (!q.exec(QStringLiteral("DROP TRIGGER refuse%1").arg(QLatin1String(event)))) {
                    *error = q.lastError().text();
                    return false;
                }
            }
            return true;
        });
        if (sensor) {
            // It reports again, as the intake registers it.
            auto* again = new Sensor;
            again->EUI64 = kA;
            f.state->sensors.append(again);
            RegistryWriter::insertSensor(
                f.state->databaseWriter, kA, QStringLiteral("Датчик3"), 0, 60, QDate(2024, 1, 1));
        } else {
            registerGateway();
        }
        settle();
        QVERIFY2(answers.boxes.size() >= 2 && answers.boxes.last().startsWith("Изменение не записано в базу данных:"),
            qPrintable(answers.boxes.join('|')));
        if (sensor) {
            QCOMPARE(memory(), inMemory);
            QCOMPARE(snapshot(), before);
            return;
        }
        const QStringList registry { "Новые датчики", "Цех", "Склад", "Шлюз", kB + "@1", kC + "@2", kA + "@0",
            kE + "@3" };
        QCOMPARE(memory(), registry);
        QCOMPARE(f.sql("SELECT id, name FROM locations ORDER BY id"),
            (QList<QStringList> { { "0", "Новые датчики" }, { "1", "Цех" }, { "2", "Склад" }, { "3", "Шлюз" } }));
        QCOMPARE(f.sql("SELECT location FROM sensors ORDER BY id"),
            (QList<QStringList> { { "1" }, { "2" }, { "0" }, { "3" } }));
    }

    void removeSensor_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("keptTable");
        for (int type : { 0, 1 }) {
            QTest::addRow("%s", type ? "mysql" : "sqlite") << type << true;
            QTest::addRow("%s, no table removed", type ? "mysql" : "sqlite") << type << false;
        }
    }
    void removeSensor()
    {
        QFETCH(bool, keptTable);
        seed();
        if (!keptTable)
            f.sql("DROP TABLE removed");
        editor->removeSensor(2);
        // Out of memory at once: its next report registers it anew, behind the removal.
        QCOMPARE(f.state->indexOfSensor(kA), -1);
        settle();
        QCOMPARE(memory(), (QStringList { "Новые датчики", "Цех", "Склад", kB + "@1", kC + "@2" }));
        QCOMPARE(f.sql("SELECT EUI64, timemeasure, temperature FROM removed ORDER BY id"),
            (QList<QStringList> {
                { kA, "2000000100", "1.5" }, { kA, "2000000200", "NULL" }, { kA, "2000000300", "3.5" } }));
        // The next sensor may get the removed one's id: nothing may wait for it there.
        f.sql("INSERT INTO sensors (EUI64, name, location, datecheck) VALUES ('00000000000000D4', 'd', 0, "
              "'2023.04.05')");
        QCOMPARE(f.sql("SELECT COUNT(*) FROM measure WHERE sensor_id NOT IN (SELECT id FROM sensors WHERE "
                       "EUI64<>'00000000000000D4')"),
            QList<QStringList> { { "0" } });
        QCOMPARE(f.sql("SELECT sensor_id FROM last"), QList<QStringList> { { "1" } });
        QVERIFY(answers.boxes.isEmpty());
    }

    // Refusals and failures leave database and memory as they were; each says why.
    void nothingChanges_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("hidden");
        QTest::addColumn<QString>("box");
        const QString connected
            = QStringLiteral("Данный клиент сейчас подсоеденён к серверу.\nНевозможно удалить это помещение из списка");
        const QString failed = QStringLiteral("Изменение не записано в базу данных:");
        for (int type : { 0, 1 }) {
            auto row = [type](const char* name, const char* operation, const char* hidden, const QString& box) {
                QTest::addRow("%s %s", type ? "mysql" : "sqlite", name) << type << operation << hidden << box;
            };
            row("gateway sensor", "sensor 1", "", "Нельзя удалить датчик подключенный к удаленному клиенту");
            row("connected location", "client 1", "", connected);
            row("connected while asked", "asked 1", "", connected);
            row("cancelled", "location 1", "", "С данным помещением");
            row("sensor fails late", "sensor 2", "last", failed);
            row("location fails late", "location 0", "sensors", failed);
        }
    }
    void nothingChanges()
    {
        QFETCH(QString, operation);
        QFETCH(QString, hidden);
        QFETCH(QString, box);
        seed();
        const QList<QStringList> before = snapshot();
        const QStringList inMemory = memory();
        const int row = operation.section(' ', 1).toInt();
        answers.answer = !operation.startsWith("location 1");
        // The database itself refuses the change half-way through (a missing table would only
        // make it wait until the table is back).
        if (!hidden.isEmpty())
            refuseChanges(hidden);
        ZigBeeClient gateway;
        Location* location = f.state->locations[row];
        if (operation.startsWith("client"))
            location->client = &gateway;
        else if (operation.startsWith("asked"))
            answers.whileAsked = [location, &gateway]() { location->client = &gateway; };
        if (operation.startsWith("sensor"))
            editor->removeSensor(row);
        else
            editor->removeLocation(row);
        location->client = nullptr;
        settle();
        if (!hidden.isEmpty())
            f.sql(QStringLiteral("DROP TRIGGER refuseDELETE;\nDROP TRIGGER refuseUPDATE"));
        QCOMPARE(snapshot(), before);
        QCOMPARE(memory(), inMemory);
        QVERIFY2(
            answers.boxes.size() >= 2 && answers.boxes.last().startsWith(box), qPrintable(answers.boxes.join('|')));
        QCOMPARE(answers.boxes[answers.boxes.size() - 2], QStringLiteral("Внимание"));
    }

    // One column of sensor B written, exactly as meant, and no other column touched.
    void cellEdit_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("column");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        for (int type : { 0, 1 }) {
            auto row = [type](
                           const char* name, int column, const QVariant& value, const char* stored, const char* shown) {
                QTest::addRow("%s %s", type ? "mysql" : "sqlite", name) << type << column << value << stored << shown;
            };
            row("name with quotes", 1, "Д'ат\"чик'); --", "Д'ат\"чик'); --", "Д'ат\"чик'); --");
            row("interval", 2, "01:30", "5400", "01:30");
            row("location", 3, 2, "2", "Склад");
            row("date", 4, "2024.02.29", "2024.02.29", "2024.02.29");
            row("enabled", 5, 1, "1", "Вкл.");
            row("negative threshold", 8, -5.0, "-5", "-5.00");
            row("rounded threshold", 11, "22.456", "22.46", "22.46");
            row("lost connection", 15, 1, "1", "Вкл.");
        }
    }
    void cellEdit()
    {
        QFETCH(int, column);
        QFETCH(QVariant, value);
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        seed();
        QStringList expected = f.sql(kRow).value(0);
        expected[column - 1] = stored;
        QSignalSpy changed(editor.get(), &RegistryEditor::sensorChanged);
        QSignalSpy look(editor.get(), &RegistryEditor::lookChanged);
        editor->editSensor(0, column, value);
        settle();
        QCOMPARE(f.sql(kRow).value(0), expected);
        QCOMPARE(editor->sensorTexts(0).value(column), shown);
        QCOMPARE(changed.count(), 1);
        // Thresholds and flags colour the main window's cells: it draws them anew at once.
        QCOMPARE(look.count(), column >= RegistryEditor::ColumnEnabled ? 1 : 0);
        QVERIFY(answers.boxes.isEmpty());
    }

    void addLocation_data() { dialects(); }
    void addLocation()
    {
        seed();
        editor->addLocation();
        settle();
        QCOMPARE(f.sql("SELECT id, name, EUI64, ip FROM locations WHERE id=3"),
            (QList<QStringList> { { "3", "Помещение", "", "" } }));
        QCOMPARE(memory().mid(0, 4), (QStringList { "Новые датчики", "Цех", "Склад", "Помещение" }));
        // The next id is taken (a row written behind our back): nothing joins the list.
        f.sql("INSERT INTO locations VALUES (4, 'x', '', '')");
        editor->addLocation();
        settle();
        QCOMPARE(f.state->locations.size(), 4);
        QVERIFY(answers.boxes.last().startsWith("Изменение не записано в базу данных:"));
    }
};

QTEST_MAIN(TestRegistryEditor)
#include "tst_registryeditor.moc"

// A loading thread's query stops when the program closes: at once, on either database, and the
// rows read up to then never pass for the whole table. A table's statement, prepared once, reads
// at each load with that load's values the rows as they are by then.
#include <QThread>
#include <QtTest>

#include <memory>

#include "storagetest.h"
#include "storage/tablereader.h"

class TestLoaderStop : public StorageTest
{
    Q_OBJECT

private slots:
    void stopEndsTheLoad_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("beforeLoad");
        const QString numbers = QStringLiteral(
            "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c WHERE x < 1000000000) SELECT ");
        // Counting spends the whole load executing; the sparse rows come one at once and the next
        // after hundreds of millions, so the stop falls between rows.
        const QString counting = numbers + QStringLiteral("count(*) FROM c");
        QTest::newRow("sqlite, executing") << 0 << counting << false;
        QTest::newRow("sqlite, reading rows")
            << 0 << numbers + QStringLiteral("x FROM c WHERE x % 500000000 IN (0, 1)") << false;
        QTest::newRow("sqlite, stopped before the load") << 0 << counting << true;
        QTest::newRow("mysql, executing") << 1 << QStringLiteral("SELECT SLEEP(600)") << false;
    }
    void stopEndsTheLoad()
    {
        QFETCH(QString, text);
        QFETCH(bool, beforeLoad);
        QVERIFY(f.open()); // the default connection, which the reader copies
        TableReader reader(this);
        TableRows rows;
        // The loading thread: its connection opened, used and closed there.
        std::unique_ptr<QThread> thread(QThread::create([&] {
            rows = reader.run({ text, {} });
            reader.close();
        }));
        if (beforeLoad)
            reader.stop();
        thread->start();
        if (!beforeLoad) {
            QTest::qWait(300);
            reader.stop();
        }
        // Left alone, none of these loads would end within the wait.
        // Its end waited for, so that what it wrote is seen here (the thread checks too).
        QVERIFY(thread->wait(20000));
        QCOMPARE(rows.error, ThreadConnection::stoppedText());
        QCOMPARE(rows.rows.size(), 0);
    }

    void repeatedStatementReadsAnew_data() { dialects(); }
    void repeatedStatementReadsAnew()
    {
        QVERIFY(f.open());
        f.sql(QStringLiteral("INSERT INTO locations (id, name, EUI64, ip) VALUES (7, 'a', '', ''), (8, 'b', '', '')"));
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
        TableReader reader(this);
        auto names = [&](const char* statement, qint64 from) {
            const TableRows rows = reader.run({ QLatin1String(statement), { from } });
            QStringList shown(rows.error);
            for (const QVector<QVariant>& row : rows.rows)
                shown << row.value(0).toString();
            return shown.join(QLatin1Char(' '));
        };
        const char* const byId = "SELECT name FROM locations WHERE id >= ? ORDER BY id";
        QCOMPARE(names(byId, 7), QStringLiteral(" a b"));
        QCOMPARE(names(byId, 8), QStringLiteral(" b"));
        f.sql(QStringLiteral("INSERT INTO locations (id, name, EUI64, ip) VALUES (9, 'c', '', '')"));
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
        QCOMPARE(names(byId, 8), QStringLiteral(" b c"));
        QCOMPARE(names("SELECT name FROM locations WHERE id >= 7 AND id <= ? ORDER BY id DESC", 8), QStringLiteral(" b a"));
        QCOMPARE(names(byId, 9), QStringLiteral(" c"));
        reader.close();
    }
};

QTEST_GUILESS_MAIN(TestLoaderStop)
#include "tst_loaderstop.moc"

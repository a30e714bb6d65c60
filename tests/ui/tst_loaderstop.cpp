// A loading thread's query stops when the program closes: at once, on either database, and the
// rows read up to then never pass for the whole table. A table's statement, prepared once, reads
// at each load with that load's values the rows as they are by then.
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include "storagetest.h"
#include "ui/tableloader.h"

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
        QVERIFY(f.open()); // the default connection, which the loader copies
        QThread thread;
        TableLoader loader;
        loader.moveToThread(&thread);
        QSignalSpy loaded(&loader, &TableLoader::loaded);
        thread.start();
        if (beforeLoad)
            loader.stop();
        QMetaObject::invokeMethod(
            &loader, [&] { loader.load(0, 1, text, {}); }, Qt::QueuedConnection);
        if (!beforeLoad) {
            QTest::qWait(300);
            loader.stop();
        }
        // Left alone, none of these loads would end within the wait.
        QTRY_COMPARE_WITH_TIMEOUT(loaded.count(), 1, 20000);
        const TableRows rows = loaded.first().at(2).value<TableRows>();
        QCOMPARE(rows.error, ThreadConnection::stoppedText());
        QCOMPARE(rows.rows.size(), 0);
        QMetaObject::invokeMethod(&loader, &TableLoader::close, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }

    void repeatedStatementReadsAnew_data() { dialects(); }
    void repeatedStatementReadsAnew()
    {
        QVERIFY(f.open());
        f.sql(QStringLiteral("INSERT INTO locations (id, name, EUI64, ip) VALUES (7, 'a', '', ''), (8, 'b', '', '')"));
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
        QThread thread;
        TableLoader loader;
        loader.moveToThread(&thread);
        QSignalSpy loaded(&loader, &TableLoader::loaded);
        thread.start();
        auto names = [&](int table, qint64 from) {
            const int before = loaded.count();
            QMetaObject::invokeMethod(
                &loader,
                [&, table, from] {
                    loader.load(
                        table, 1, QStringLiteral("SELECT name FROM locations WHERE id >= ? ORDER BY id"), { from });
                },
                Qt::QueuedConnection);
            if (!QTest::qWaitFor([&] { return loaded.count() > before; }, 20000))
                return QStringLiteral("no load");
            QStringList shown;
            for (const QVector<QVariant>& row : loaded.last().at(2).value<TableRows>().rows)
                shown << row.value(0).toString();
            return shown.join(QLatin1Char(' '));
        };
        QCOMPARE(names(0, 7), QStringLiteral("a b"));
        QCOMPARE(names(0, 8), QStringLiteral("b"));
        f.sql(QStringLiteral("INSERT INTO locations (id, name, EUI64, ip) VALUES (9, 'c', '', '')"));
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
        QCOMPARE(names(0, 8), QStringLiteral("b c"));
        QCOMPARE(names(1, 9), QStringLiteral("c"));
        QMetaObject::invokeMethod(&loader, &TableLoader::close, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }
};

QTEST_GUILESS_MAIN(TestLoaderStop)
#include "tst_loaderstop.moc"

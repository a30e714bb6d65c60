// The data generator fills either database through the program's schema, and the program
// then opens what it wrote.
#include <QDateTime>
#include <QProcess>
#include <QtTest>

#include "storagetest.h"

class TestDatagen : public StorageTest
{
    Q_OBJECT

private slots:
    void fills_data() { dialects(); }
    void fills()
    {
        QFETCH(int, type);
        const qint64 end = QDateTime::currentSecsSinceEpoch() / 60 * 60 - 3600;
        QStringList args { "--type", QString::number(type), "--dir", f.work->path(), "-n", "3", "-m", "2", "-d", "2",
            "--end", QString::number(end) };
        if (type == 1)
            args << "--port" << QString::number(f.server.port()) << "--user" << f.server.user() << "--password"
                 << f.server.password() << "--database" << f.databaseName;
        QProcess tool;
        tool.start(DATAGEN_PATH, args);
        QVERIFY(tool.waitForFinished(120000));
        QVERIFY2(
            tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0, tool.readAllStandardError().constData());
        QVERIFY(tool.readAllStandardOutput().startsWith("8640 measurements"));

        QCOMPARE(f.sql("SELECT id, name FROM locations ORDER BY id"),
            (QList<QStringList> { { "0", QStringLiteral("Новые датчики") }, { "1", QStringLiteral("Помещение 1") },
                { "2", QStringLiteral("Помещение 2") } }));
        // One reading a minute for each sensor, ending at the requested time.
        QCOMPARE(f.sql("SELECT s.EUI64, s.location, COUNT(*), MIN(m.timemeasure), MAX(m.timemeasure), "
                       "COUNT(DISTINCT m.timemeasure) FROM sensors s JOIN measure m ON m.sensor_id=s.id "
                       "GROUP BY s.EUI64, s.location ORDER BY s.EUI64"),
            (QList<QStringList> {
                { "00137A0000000000", "1", "2880", QString::number(end - 2879 * 60), QString::number(end), "2880" },
                { "00137A0000000001", "2", "2880", QString::number(end - 2879 * 60), QString::number(end), "2880" },
                { "00137A0000000002", "1", "2880", QString::number(end - 2879 * 60), QString::number(end), "2880" } }));
        QCOMPARE(f.sql("SELECT COUNT(*) FROM last l JOIN measure m ON m.sensor_id=l.sensor_id AND "
                       "m.timemeasure=l.timemeasure AND m.temperature=l.temperature AND m.battery=l.battery"),
            QList<QStringList> { { "3" } });

        f.open();
        QCOMPARE(f.closeCodes, QList<int>());
        QCOMPARE(f.state->sensors.size(), 3);
        QCOMPARE(f.state->locations.size(), 3);
        QCOMPARE(f.state->sensors[1]->location, 2);
    }

    // Run before the program's first start, into a working folder that does not exist yet.
    void makesTheWorkingFolder_data()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("SQLite") << 0;
    }
    void makesTheWorkingFolder()
    {
        const QString work = f.work->filePath(QStringLiteral("new/work"));
        QProcess tool;
        tool.start(DATAGEN_PATH, { "--dir", work, "-n", "1", "-m", "1", "-d", "1" });
        QVERIFY(tool.waitForFinished(120000));
        QVERIFY2(
            tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0, tool.readAllStandardError().constData());
        QVERIFY(QFileInfo(work + QStringLiteral("/data/measurement.db3")).size() > 0);
    }
};

QTEST_GUILESS_MAIN(TestDatagen)
#include "tst_datagen.moc"

#include "storagetest.h"

#include <QtTest>

void StorageTest::dialects()
{
    QTest::addColumn<int>("type");
    QTest::newRow("sqlite") << 0;
    QTest::newRow("mysql") << 1;
}

void StorageTest::only(int type)
{
    QTest::addColumn<int>("type");
    QTest::newRow(type ? "mysql" : "sqlite") << type;
}

void StorageTest::addSensors(const QStringList& euis)
{
    QStringList rows;
    for (int i = 0; i < euis.size(); ++i)
        rows << QStringLiteral("('%1', '%2', 0, 60, '2024.01.02')").arg(euis[i], QChar('a' + i));
    f.sql(QStringLiteral("INSERT INTO sensors (EUI64, name, location, sleepInterval, datecheck) VALUES ")
        + rows.join(QStringLiteral(", ")));
    QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
}

void StorageTest::init()
{
    QFETCH(int, type);
    QString error;
    QVERIFY2(f.begin(type, &error), qPrintable(error));
}

void StorageTest::cleanup()
{
    const QStringList warnings = f.end();
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
}

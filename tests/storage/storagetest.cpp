#include "storagetest.h"

#include <QtTest>

void StorageTest::dialects()
{
    QTest::addColumn<int>("type");
    QTest::newRow("sqlite") << 0;
    QTest::newRow("mysql") << 1;
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

// What the storage module computes without a database: connection strings (SQL Server has
// no server here, so its text is checked as text), rounding and check dates.
#include <QtTest>

#include "storage/sqlbasemodule.h"
#include "storage/sqlquerybuilder.h"

class TestSqlQueryBuilder : public QObject
{
    Q_OBJECT

private slots:
    void databaseName_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("expected");
        QTest::newRow("sqlite") << 0 << "pw"
                                << "db"
                                << "data/measurement.db3";
        QTest::newRow("mysql") << 1 << "pw"
                               << "db"
                               << "DRIVER={MySQL ODBC 5.3 Unicode Driver};Server=db.local;PORT=3306;USER=user;"
                                  "PASSWORD=pw;Database=db;AUTO_RECONNECT=1";
        QTest::newRow("mysql braced values")
            << 1 << "a;b}c"
            << "{x}"
            << "DRIVER={MySQL ODBC 5.3 Unicode Driver};Server=db.local;PORT=3306;USER=user;"
               "PASSWORD={a;b}}c};Database={{x}}};AUTO_RECONNECT=1";
        // Markers inside a value are not markers.
        QTest::newRow("mysql marker in password")
            << 1 << "%5%1"
            << "db"
            << "DRIVER={MySQL ODBC 5.3 Unicode Driver};Server=db.local;PORT=3306;USER=user;"
               "PASSWORD=%5%1;Database=db;AUTO_RECONNECT=1";
        QTest::newRow("sql server") << 2 << "pw"
                                    << "db"
                                    << "DRIVER={SQL Server};Server=db.local;PORT=3306;UID=user;PWD=pw;DATABASE=db;"
                                       "Trusted_Connection=yes;";
    }
    void databaseName()
    {
        QFETCH(int, type);
        QFETCH(QString, password);
        QFETCH(QString, database);
        QFETCH(QString, expected);
        QCOMPARE(SqlQueryBuilder::databaseName(type, "db.local", "user", password, database, 3306), expected);
    }

    void sqlServerStatements()
    {
        const int sqlServer = SqlQueryBuilder::SQLServer;
        QVERIFY(SqlQueryBuilder::schemaStatements(sqlServer, true).isEmpty());
        QVERIFY(!SqlQueryBuilder::purgeSupported(sqlServer));
        QVERIFY(SqlQueryBuilder::locationCleanupStatement(sqlServer).isEmpty());
        QVERIFY(SqlQueryBuilder::exportStatement(sqlServer).isEmpty());
        // Every value is bound: sensor id, time, three values.
        const QString last = SqlQueryBuilder::lastUpsertById(sqlServer);
        QCOMPARE(last.count('?'), 5);
        QVERIFY(last.startsWith("MERGE INTO last "));
        QVERIFY(last.endsWith(";"));
    }

    void roundToHundredths_data()
    {
        QTest::addColumn<double>("x");
        QTest::addColumn<QString>("expected");
        QTest::newRow("up") << 21.456 << "21.46";
        QTest::newRow("negative") << -1.234 << "-1.23";
        QTest::newRow("tiny negative") << -0.004 << "0";
        QTest::newRow("whole") << 20.0 << "20";
        QTest::newRow("half up") << 0.125 << "0.13";
    }
    void roundToHundredths()
    {
        QFETCH(double, x);
        QFETCH(QString, expected);
        QCOMPARE(QString::number(SQLBaseModule::roundToHundredths(x), 'g', 6), expected);
    }

    void dateFromColumn_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QDate>("expected");
        QTest::newRow("dots") << QVariant("2023.04.05") << QDate(2023, 4, 5);
        QTest::newRow("dashes") << QVariant("2023-04-05") << QDate(2023, 4, 5);
        QTest::newRow("any separators") << QVariant("2023/04 05") << QDate(2023, 4, 5);
        QTest::newRow("date value") << QVariant(QDate(2022, 12, 31)) << QDate(2022, 12, 31);
        QTest::newRow("null") << QVariant() << QDate();
        QTest::newRow("short") << QVariant("2023.4.5") << QDate();
        QTest::newRow("digit separator") << QVariant("2023004005") << QDate();
        QTest::newRow("with time") << QVariant("2023-04-05 10:00") << QDate();
        QTest::newRow("no such day") << QVariant("2023.02.30") << QDate();
        QTest::newRow("other digits") << QVariant(QStringLiteral("٢٠٢٣.04.05")) << QDate();
    }
    void dateFromColumn()
    {
        QFETCH(QVariant, value);
        QFETCH(QDate, expected);
        QCOMPARE(SQLBaseModule::dateFromColumn(value), expected);
    }
};

QTEST_GUILESS_MAIN(TestSqlQueryBuilder)
#include "tst_sqlquerybuilder.moc"

// The row-to-record conversion of the DBF export, without a file (the layout itself is read
// back from a written file by tst_dbfexport).
#include <QtTest>

#include <limits>

#include "storage/dbfrecordformat.h"

namespace
{

QByteArray padded(const char* text, int width)
{
    return QByteArray(text).rightJustified(width, ' ');
}

} // namespace

class TestDbfRecordFormat : public QObject
{
    Q_OBJECT

private slots:
    void number_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QByteArray>("expected");
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("null double") << QVariant(QVariant::Double) << 10 << 2 << QByteArray();
        QTest::newRow("null integer") << QVariant(QVariant::LongLong) << 11 << 0 << QByteArray();
        QTest::newRow("zero is not blank") << QVariant(0.0) << 10 << 2 << padded("0.00", 10);
        QTest::newRow("two places") << QVariant(21.5) << 10 << 2 << padded("21.50", 10);
        QTest::newRow("negative") << QVariant(-12.34) << 10 << 2 << padded("-12.34", 10);
        QTest::newRow("half up as written") << QVariant(2.675) << 10 << 2 << padded("2.68", 10);
        QTest::newRow("exact half") << QVariant(21.125) << 10 << 2 << padded("21.13", 10);
        QTest::newRow("negative half away from zero") << QVariant(-1.005) << 10 << 2 << padded("-1.01", 10);
        QTest::newRow("six digits of a battery") << QVariant(3.04688) << 10 << 2 << padded("3.05", 10);
        QTest::newRow("negative zero") << QVariant(-0.004) << 10 << 2 << padded("0.00", 10);
        QTest::newRow("integer in a decimal field") << QVariant(qlonglong(20)) << 10 << 2 << padded("20.00", 10);
        QTest::newRow("numeric text") << QVariant(QStringLiteral("3.5")) << 10 << 2 << padded("3.50", 10);
        QTest::newRow("text that is no number") << QVariant(QStringLiteral("n/a")) << 10 << 2 << QByteArray();
        QTest::newRow("not a number") << QVariant(std::nan("")) << 10 << 2 << QByteArray();
        QTest::newRow("infinite") << QVariant(inf) << 10 << 2 << QByteArray();
        QTest::newRow("too wide is blank") << QVariant(1e12) << 10 << 2 << QByteArray();
        QTest::newRow("id past its field") << QVariant(qlonglong(10000000000)) << 10 << 0 << QByteArray();
        QTest::newRow("widest that fits") << QVariant(9999999.99) << 10 << 2 << QByteArray("9999999.99");
        QTest::newRow("unix seconds") << QVariant(qlonglong(1700000000)) << 11 << 0 << padded("1700000000", 11);
        QTest::newRow("seconds after 2038") << QVariant(qlonglong(4102444800)) << 11 << 0 << padded("4102444800", 11);
        QTest::newRow("seconds as a double") << QVariant(1700000000.0) << 11 << 0 << padded("1700000000", 11);
        QTest::newRow("seconds as text") << QVariant(QStringLiteral("1700000000")) << 11 << 0
                                         << padded("1700000000", 11);
        QTest::newRow("first id") << QVariant(qlonglong(0)) << 10 << 0 << padded("0", 10);
    }
    void number()
    {
        QFETCH(QVariant, value);
        QFETCH(int, width);
        QFETCH(int, decimals);
        QFETCH(QByteArray, expected);
        QCOMPARE(DbfRecordFormat::number(value, width, decimals), expected);
    }

    void text_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<int>("width");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("null") << QVariant(QVariant::String) << 20 << QByteArray();
        QTest::newRow("empty") << QVariant(QString()) << 20 << QByteArray();
        QTest::newRow("latin") << QVariant(QStringLiteral("00137A000004D2A1")) << 20 << QByteArray("00137A000004D2A1");
        QTest::newRow("cyrillic") << QVariant(QStringLiteral("Склад №2 ёЁ")) << 254
                                  << QByteArray("\xD1\xEA\xEB\xE0\xE4 \xB9\x32 \xB8\xA8");
        QTest::newRow("quotes and percent")
            << QVariant(QStringLiteral("O'Brien \"A\" 50% %1")) << 254 << QByteArray("O'Brien \"A\" 50% %1");
        QTest::newRow("not in the code page") << QVariant(QStringLiteral("a\u4E2Db")) << 254 << QByteArray("a?b");
        QTest::newRow("zero byte") << QVariant(QStringLiteral("a") + QChar(0) + QStringLiteral("b")) << 254
                                   << QByteArray("a b");
        QTest::newRow("cut to the field") << QVariant(QStringLiteral("Комната")) << 3 << QByteArray("\xCA\xEE\xEC");
        QTest::newRow("date value") << QVariant(QDate(2024, 1, 31)) << 11 << QByteArray("2024-01-31");
        QTest::newRow("date text") << QVariant(QStringLiteral("2024.01.31")) << 11 << QByteArray("2024.01.31");
    }
    void text()
    {
        QFETCH(QVariant, value);
        QFETCH(int, width);
        QFETCH(QByteArray, expected);
        QCOMPARE(DbfRecordFormat::text(value, width), expected);
    }

    void record_data()
    {
        QTest::addColumn<qlonglong>("id");
        QTest::addColumn<QVariantList>("columns");
        QTest::addColumn<QList<QByteArray>>("expected");
        QTest::newRow("all present") << 7LL
                                     << QVariantList { "00137A000004D2A1", QStringLiteral("Датчик"),
                                            QStringLiteral("Цех"), "2024.05.01", qlonglong(1700000123), 21.46, 40.5,
                                            3.046 }
                                     << QList<QByteArray> { padded("7", 10), "00137A000004D2A1",
                                            "\xC4\xE0\xF2\xF7\xE8\xEA", "\xD6\xE5\xF5", "2024.05.01",
                                            padded("1700000123", 11), padded("21.46", 10), padded("40.50", 10),
                                            padded("3.05", 10) };
        QTest::newRow("absent values") << 0LL
                                       << QVariantList { "00137A000004D2A1", "n", "l", QVariant(QVariant::String),
                                              qlonglong(5), QVariant(QVariant::Double), 0.0,
                                              QVariant(QVariant::Double) }
                                       << QList<QByteArray> { padded("0", 10), "00137A000004D2A1", "n", "l", "",
                                              padded("5", 11), "", padded("0.00", 10), "" };
        QTest::newRow("short row") << 1LL << QVariantList { "E" }
                                   << QList<QByteArray> { padded("1", 10), "E", "", "", "", "", "", "", "" };
    }
    void record()
    {
        QFETCH(qlonglong, id);
        QFETCH(QVariantList, columns);
        QFETCH(QList<QByteArray>, expected);
        QCOMPARE(DbfRecordFormat::record(id, columns).toList(), expected);
    }
};

QTEST_GUILESS_MAIN(TestDbfRecordFormat)
#include "tst_dbfrecordformat.moc"

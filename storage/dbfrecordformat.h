#pragma once

#include <QByteArray>
#include <QVariant>
#include <QVector>

// The layout of "export.dbf" and the conversion of one export row into the bytes of its
// fields. Nothing here touches a file or a connection.
class DbfRecordFormat
{
public:
    struct Field {
        QByteArray name; // at most the format's 10 characters
        char type; // 'N' numeric or 'C' character
        int width;
        int decimals;
    };

    // dBASE's language driver byte for Russian Windows (code page 1251).
    static constexpr int kLanguageDriver = 0xC9;

    // id, EUI64, name, locName, dateCheck, tmMeasure, temperature, humidity, battery.
    static const QVector<Field>& fields();

    // The nine field texts of one record: `id` followed by the eight columns of the export
    // query (eui64, name, locName, dateCheck, tmMeasure, temperature, humidity, battery).
    // An empty text stands for an absent value and is stored blank.
    static QVector<QByteArray> record(qint64 id, const QVariantList& columns);

    // A character field: the value's plain text in windows-1251, cut to `width` bytes;
    // empty for NULL. Characters the code page lacks become "?".
    static QByteArray text(const QVariant& value, int width);
    // A numeric field: right-aligned in `width`, `decimals` places rounded half away from
    // zero; empty for NULL, for anything that is not a finite number and for a number that
    // does not fit.
    static QByteArray number(const QVariant& value, int width, int decimals);
    // x rounded to `decimals` places as it reads in decimal (2.675 gives 2.68), halves away
    // from zero.
    static double rounded(double x, int decimals);
    // The field text for one value according to its field.
    static QByteArray fieldText(const Field& field, const QVariant& value);
};

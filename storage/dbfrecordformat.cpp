#include "storage/dbfrecordformat.h"

#include <QLocale>
#include <QString>
#include <QTextCodec>

#include <algorithm>
#include <cmath>

namespace
{

QTextCodec* windows1251()
{
    static QTextCodec* const codec = QTextCodec::codecForName("windows-1251");
    return codec;
}

// A number as plain decimal text: integers without a fraction, the rest with `decimals`
// places; a minus sign is dropped when every digit shown is zero.
QString numberText(double x, int decimals)
{
    QString text = QString::number(DbfRecordFormat::rounded(x, decimals), 'f', decimals);
    const bool zero
        = std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c < QLatin1Char('1') || c > QLatin1Char('9'); });
    if (zero && text.startsWith(QLatin1Char('-')))
        text.remove(0, 1);
    return text;
}

} // namespace

const QVector<DbfRecordFormat::Field>& DbfRecordFormat::fields()
{
    // "temperature" has eleven letters: the format keeps ten.
    static const QVector<Field> list { { "id", 'N', 10, 0 }, { "EUI64", 'C', 20, 0 }, { "name", 'C', 254, 0 },
        { "locName", 'C', 254, 0 }, { "dateCheck", 'C', 11, 0 }, { "tmMeasure", 'N', 11, 0 },
        { "temperatur", 'N', 10, 2 }, { "humidity", 'N', 10, 2 }, { "battery", 'N', 10, 2 } };
    return list;
}

QVector<QByteArray> DbfRecordFormat::record(qint64 id, const QVariantList& columns)
{
    const QVector<Field>& list = fields();
    QVector<QByteArray> values;
    values.reserve(list.size());
    values << fieldText(list.at(0), QVariant(id));
    for (int i = 1; i < list.size(); ++i)
        values << fieldText(list.at(i), i - 1 < columns.size() ? columns.at(i - 1) : QVariant());
    return values;
}

QByteArray DbfRecordFormat::fieldText(const Field& field, const QVariant& value)
{
    return field.type == 'N' ? number(value, field.width, field.decimals) : text(value, field.width);
}

QByteArray DbfRecordFormat::text(const QVariant& value, int width)
{
    if (value.isNull())
        return QByteArray();
    QByteArray bytes = windows1251()->fromUnicode(value.toString());
    // The record is copied as a C string: a zero byte would end the field early.
    bytes.replace('\0', ' ');
    return bytes.left(width);
}

QByteArray DbfRecordFormat::number(const QVariant& value, int width, int decimals)
{
    if (value.isNull())
        return QByteArray();
    QString text;
    bool ok = false;
    const bool integral = value.type() == QVariant::Int || value.type() == QVariant::LongLong
        || value.type() == QVariant::UInt || value.type() == QVariant::ULongLong;
    if (integral && decimals == 0) {
        const qlonglong whole = value.toLongLong(&ok);
        if (ok)
            text = QString::number(whole);
    }
    if (!ok) {
        const double x = value.toDouble(&ok);
        if (!ok || !std::isfinite(x))
            return QByteArray();
        text = numberText(x, decimals);
    }
    // The format's own overflow mark, a field of stars, reads as 0.00 in some readers.
    if (text.size() > width)
        return QByteArray();
    return text.rightJustified(width, QLatin1Char(' ')).toLatin1();
}

double DbfRecordFormat::rounded(double x, int decimals)
{
    if (!std::isfinite(x))
        return x;
    // Scaled on the shortest decimal text of x, not by a multiplication: 2.675 is stored as
    // a binary value just below it, and x * 100 would round that down.
    const QString shortest = QString::number(x, 'e', QLocale::FloatingPointShortest);
    const int e = shortest.indexOf(QLatin1Char('e'));
    const double scaled
        = (shortest.left(e) + QLatin1Char('e') + QString::number(shortest.midRef(e + 1).toInt() + decimals)).toDouble();
    return std::round(scaled) / std::pow(10.0, decimals);
}

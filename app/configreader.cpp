#include "app/configreader.h"

#include <QSettings>

#include <algorithm>
#include <cmath>

namespace
{

// A value longer than this is shown cut: the warning must stay readable.
constexpr int kShownLength = 40;

} // namespace

ConfigReader::ConfigReader(const QSettings& settings)
    : settings(settings)
{
}

bool ConfigReader::found(const char* key, QString* text) const
{
    const QVariant value = settings.value(QLatin1String(key));
    if (!value.isValid())
        return false;
    *text = value.toString();
    return true;
}

bool ConfigReader::readAsWritten(const char* key) const
{
    QString text;
    const QString name = QString::fromLatin1(key);
    return found(key, &text)
        && std::none_of(replaced.begin(), replaced.end(), [&](const Fallback& f) { return f.key == name; });
}

void ConfigReader::note(const char* key, const QString& found, const QString& used)
{
    const QString shown = found.size() > kShownLength ? found.left(kShownLength) + QChar(0x2026) : found;
    replaced.append({ QString::fromLatin1(key), shown, used });
}

QString ConfigReader::text(const char* key, const QString& loaderDefault) const
{
    return settings.value(QLatin1String(key), loaderDefault).toString();
}

bool ConfigReader::flagText(const QString& text, bool* value)
{
    *value = text == QLatin1String("1") || text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    return *value || text == QLatin1String("0") || text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0;
}

bool ConfigReader::flag(const char* key)
{
    QString text;
    bool value = false;
    if (!found(key, &text) || flagText(text.trimmed(), &value))
        return value;
    note(key, text, QStringLiteral("false"));
    return false;
}

int ConfigReader::integer(const char* key, int loaderDefault, int min, int max, int fallback)
{
    QString value;
    if (!found(key, &value))
        return loaderDefault;
    bool ok = false;
    const int number = value.trimmed().toInt(&ok);
    if (ok && number >= min && number <= max)
        return number;
    note(key, value, QString::number(fallback));
    return fallback;
}

double ConfigReader::real(const char* key, double loaderDefault, double min, double max)
{
    QString value;
    if (!found(key, &value))
        return loaderDefault;
    bool ok = false;
    const double number = value.trimmed().toDouble(&ok);
    if (ok && std::isfinite(number) && number >= min && number <= max)
        return number;
    note(key, value, QString::number(loaderDefault));
    return loaderDefault;
}

QColor ConfigReader::color(const char* key, const QColor& loaderDefault)
{
    QString value;
    if (!found(key, &value))
        return loaderDefault;
    QColor c;
    c.setNamedColor(value.trimmed());
    if (c.isValid())
        return c;
    note(key, value, loaderDefault.name());
    return loaderDefault;
}

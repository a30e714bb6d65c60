#include "app/configfile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#include <algorithm>
#include <cstring>
#include <tuple>

namespace
{

using Entries = QVector<QPair<QString, QString>>;

// A section or key name as the INI store writes it unescaped; it writes any other with "%XX".
bool plainName(const QString& name)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_.-]+$"));
    return plain.match(name).hasMatch();
}

int digitValue(char c, int base)
{
    const int lower = c | 0x20;
    const int d = c >= '0' && c <= '9' ? c - '0' : lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : 99;
    return d < base ? d : -1;
}

// A value as the INI store unescapes it, but whole: a comma stays in the text with the blanks
// around it. Quotes are dropped; "\x" and octal escapes run over every digit that follows and
// keep the low 16 bits; an unknown escape is dropped. Bytes outside escapes are UTF-8, as an
// editor writes them (the store's own writer escapes each of them).
QString valueText(const QByteArray& raw)
{
    static const char kNames[] = "abfnrtv\"?'\\";
    static const char kCodes[] = "\a\b\f\n\r\t\v\"?'\\";
    QString text;
    QByteArray run;
    for (int at = 0; at < raw.size();) {
        const char c = raw.at(at++);
        if (c != '\\' || at == raw.size()) {
            if (c != '"' && c != '\\')
                run += c;
            continue;
        }
        text += QString::fromUtf8(run);
        run.clear();
        const char e = raw.at(at++);
        const int base = e == 'x' ? 16 : e >= '0' && e <= '7' ? 8 : 0;
        const char* simple = e ? std::strchr(kNames, e) : nullptr;
        if (base) {
            uint value = base == 8 ? uint(e - '0') : 0;
            bool any = base == 8;
            for (int d; at < raw.size() && (d = digitValue(raw.at(at), base)) >= 0; ++at, any = true)
                value = value * uint(base) + uint(d);
            if (any)
                text += QChar(ushort(value));
        } else if (simple) {
            text += QLatin1Char(kCodes[simple - kNames]);
        }
    }
    text += QString::fromUtf8(run);
    // The store's writer doubles a leading '@': a single one marks a typed value there.
    return text.startsWith(QLatin1String("@@")) ? text.mid(1) : text;
}

// The entries of INI text in file order; false as readConfigText.
bool readEntries(QByteArray text, Entries* entries)
{
    bool ok = true;
    QString section;
    if (text.startsWith("\xef\xbb\xbf"))
        text.remove(0, 3);
    for (const QByteArray& raw : text.replace('\r', '\n').split('\n')) {
        const QByteArray line = raw.trimmed();
        const int equals = line.indexOf('=');
        if (line.isEmpty() || line.startsWith(';')) {
            continue;
        } else if (line.startsWith('[')) {
            const int close = line.indexOf(']');
            ok = ok && close > 0;
            section = QString::fromUtf8(line.mid(1, close < 0 ? -1 : close - 1)).trimmed();
            if (section.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0)
                section.clear();
        } else if (equals < 0) {
            ok = false;
        } else {
            const QString name = QString::fromUtf8(line.left(equals).trimmed());
            if (plainName(name) && (section.isEmpty() || plainName(section)))
                entries->append({ section.isEmpty() ? name : section + QLatin1Char('/') + name,
                    valueText(line.mid(equals + 1).trimmed()) });
        }
    }
    return ok;
}

} // namespace

QSettings::Format configFormat()
{
    static const QSettings::Format format
        = QSettings::registerFormat(QStringLiteral("ini"), &readConfigText, &writeConfigText);
    return format;
}

bool readConfigText(QIODevice& device, QSettings::SettingsMap& map)
{
    Entries entries;
    const bool ok = readEntries(device.readAll(), &entries);
    for (const auto& entry : qAsConst(entries))
        map.insert(entry.first, entry.second);
    return ok;
}

bool writeConfigText(QIODevice& device, const QSettings::SettingsMap& map)
{
    // Keys in the order of the default file, each section together: other keys after the known
    // ones of their section, other sections last. Keys without a section come first, since
    // after a section header they would belong to it.
    static const QStringList order = [] {
        Entries entries;
        readEntries(defaultConfigText(QString()), &entries);
        QStringList keys;
        for (const auto& entry : qAsConst(entries))
            keys << entry.first;
        return keys;
    }();
    const auto place = [](const QString& key) {
        const QString section = key.left(qMax(key.indexOf(QLatin1Char('/')), 0));
        const auto known = std::find_if(
            order.begin(), order.end(), [&](const QString& k) { return k.startsWith(section + QLatin1Char('/')); });
        const int keyAt = order.contains(key) ? order.indexOf(key) : order.size();
        return std::make_tuple(section.isEmpty() ? -1 : int(known - order.begin()), section, keyAt, key);
    };
    QStringList keys = map.keys();
    std::sort(keys.begin(), keys.end(), [&](const QString& a, const QString& b) { return place(a) < place(b); });

    QByteArray text;
    QString current;
    for (const QString& key : qAsConst(keys)) {
        const int slash = key.indexOf(QLatin1Char('/'));
        if (slash > 0 && key.left(slash) != current) {
            current = key.left(slash);
            text += (text.isEmpty() ? "[" : "\n[") + current.toUtf8() + "]\n";
        }
        text += key.mid(slash + 1).toUtf8() + '=' + iniValueText(map.value(key).toString()) + '\n';
    }
    return device.write(text) == text.size();
}

bool configUnreadable(const QSettings& settings)
{
    return settingsUnreadable(settings,
        { QStringLiteral("Modem/"), QStringLiteral("Other/"), QStringLiteral("Color/"), QStringLiteral("DB/"),
            QStringLiteral("DataWarning/"), QStringLiteral("EmailNotifications/") });
}

bool settingsUnreadable(const QSettings& settings, const QStringList& sections)
{
    if (!QFileInfo::exists(settings.fileName()))
        return false;
    if (settings.status() != QSettings::NoError)
        return true;
    const QStringList keys = settings.allKeys();
    for (const QString& key : keys) {
        for (const QString& section : sections) {
            if (key.startsWith(section))
                return false;
        }
    }
    return true;
}

QString keepConfigAside(const QString& path)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int n = 0; n < 100; ++n) {
        const QString copy = path + QStringLiteral(".bad-") + stamp + (n ? QStringLiteral("-%1").arg(n) : QString());
        if (QFileInfo::exists(copy))
            continue;
        // Trusted only once read back whole: a full disk or a size limit can leave it short.
        QFile original(path);
        QFile kept(copy);
        if (QFile::copy(path, copy) && original.open(QIODevice::ReadOnly) && kept.open(QIODevice::ReadOnly)
            && original.readAll() == kept.readAll())
            return copy;
        QFile::remove(copy);
        return QString();
    }
    return QString();
}

QByteArray iniValueText(const QString& input)
{
    // Same escaping as the settings store's own writer, so that a reader sees the value
    // exactly as written: a leading '@' would otherwise be taken for a typed value.
    const QString value = input.startsWith(QLatin1Char('@')) ? QLatin1Char('@') + input : input;
    QByteArray out;
    bool needsQuotes = false;
    bool escapeNextIfDigit = false;
    for (const QChar qc : value) {
        const uint ch = qc.unicode();
        if (ch == ';' || ch == ',' || ch == '=')
            needsQuotes = true;
        const bool hexDigit = (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
        if (escapeNextIfDigit && hexDigit) {
            out += "\\x" + QByteArray::number(ch, 16);
            continue;
        }
        escapeNextIfDigit = false;
        switch (ch) {
        case '\0': out += "\\0"; escapeNextIfDigit = true; break;
        case '\a': out += "\\a"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\v': out += "\\v"; break;
        case '"':
        case '\\':
            out += '\\';
            out += char(ch);
            break;
        default:
            if (ch <= 0x1F || ch >= 0x7F) {
                out += "\\x" + QByteArray::number(ch, 16);
                escapeNextIfDigit = true;
            } else {
                out += char(ch);
            }
        }
    }
    if (needsQuotes || (!out.isEmpty() && (out.startsWith(' ') || out.endsWith(' '))))
        out = '"' + out + '"';
    return out;
}

QByteArray defaultConfigText(const QString& currentDir)
{
    QByteArray text;
    text += "\n[Modem]\n"
            "PortName = COM1\n"
            "NetworkPort = 6238\n"
            "\n[Other]\n"
            "BreakInterval=120\n"
            "MaxTableRows=500\n"
            "DateTimeStyle=0\n"
            "DaysSave=365\n"
            "HideStart=false\n"
            "TrayMessages=false\n"
            "ViewVoltage=false\n"
            "ExportDBF=false\n"
            "IntervalExportDBF=5\n";
    text += "PathExportDBF=" + iniValueText(currentDir) + "\n";
    text += "\n[Color]\n"
            "maximalCriticalHumidity=#3232FF\n"
            "maximalCriticalTemperature=#FF3232\n"
            "maximalNonCriticalHumidity=#6EAAD2\n"
            "maximalNonCriticalTemperature=#F0BE0A\n"
            "minimalCriticalHumidity=#FF3232\n"
            "minimalCriticalTemperature=#3232FF\n"
            "minimalNonCriticalHumidity=#F0BE0A\n"
            "minimalNonCriticalTemperature=#6EAAD2\n"
            "node=#ff0000\n"
            "font=#ffffff\n"
            "line=#000000\n"
            "\n[DB]\n";
    // The backslash is escaped: the settings store would swallow "\S" otherwise.
    text += "Hostname=" + iniValueText(QStringLiteral("localhost\\SQLEXPRESS")) + "\n";
    text += "Database=Kestrum_ravok_1\n"
            "Username=\n"
            "Password=\n"
            "Port=1433\n"
            "DBType=0\n"
            "\n[DataWarning]\n"
            "TemperatureMinCritical=5\n"
            "TemperatureMinWarning=10\n"
            "TemperatureMaxWarning=25\n"
            "TemperatureMaxCritical=30\n"
            "WetnessMinCritical=60\n"
            "WetnessMinWarning=70\n"
            "WetnessMaxWarning=98\n"
            "WetnessMaxCritical=99\n"
            "BatteryMinCritical=100\n"
            "BatteryMinWarning=300\n"
            "\n[EmailNotifications]\n"
            "isActive=false\n"
            "serverSMTP=\n"
            "serverPort=25\n"
            "serverLogin=\n"
            "serverPassword=\n"
            "notificationEmail=\n"
            "isMinCriticalTemperature=false\n"
            "isMinNonCriticalTemperature=false\n"
            "isMaxNonCriticalTemperature=false\n"
            "isMaxCriticalTemperature=false\n"
            "isMinNonCriticalHumidity=false\n"
            "isMinCriticalHumidity=false\n"
            "isMaxNonCriticalHumidity=false\n"
            "isMaxCriticalHumidity=false\n"
            "isSensorLost=false\n"
            "isBatteryLow=false\n";
    return text;
}

bool createDefaultConfig()
{
    QFile file(QString::fromLatin1(kConfigPath));
    if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate))
        return false;
    const QByteArray text = defaultConfigText(QDir::currentPath());
    const bool written = file.write(text) == text.size();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

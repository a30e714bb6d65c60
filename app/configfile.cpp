#include "app/configfile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace
{

// The character a value's text starts with at `at`, after the store's escapes ("\x40", "\100",
// "\@"); `at` moves past it.
uint unescapedAt(const QByteArray& text, int& at)
{
    if (text.at(at) != '\\' || at + 1 >= text.size())
        return uchar(text.at(at++));
    const char kind = text.at(++at);
    const bool hex = kind == 'x';
    const bool octal = kind >= '0' && kind <= '7';
    if (!hex && !octal)
        return uchar(text.at(at++));
    if (hex)
        ++at;
    uint value = 0;
    for (; at < text.size() && value < 0x110000; ++at) {
        const char c = text.at(at);
        const int digit = c >= '0' && c <= '9'       ? c - '0'
            : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10
                                                     : -1;
        if (digit < 0 || digit >= (hex ? 16 : 8))
            break;
        value = value * (hex ? 16 : 8) + uint(digit);
    }
    return value;
}

} // namespace

bool carriesSerializedValue(const QByteArray& fileText)
{
    // A line that ends with a backslash goes on in the next one.
    QByteArray text = fileText;
    text.replace("\\\r\n", "").replace("\\\n", "").replace('\r', '\n');
    for (const QByteArray& raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        const int equals = line.indexOf('=');
        if (line.startsWith(';') || line.startsWith('[') || equals < 0)
            continue;
        // Each element of the value (a list splits at commas outside quotes) is looked at from
        // its first character: only there does "@Variant(" make it a serialized object.
        bool quoted = false;
        bool elementStart = true;
        for (int at = equals + 1; at < line.size();) {
            const char c = line.at(at);
            if (elementStart && (c == ' ' || c == '\t')) {
                ++at;
            } else if (c == '"') {
                quoted = !quoted;
                ++at;
            } else if (elementStart) {
                elementStart = false;
                const char* form = "@Variant(";
                for (int next = at; *form && next < line.size() && unescapedAt(line, next) == uchar(*form); at = next)
                    ++form;
                if (!*form)
                    return true;
            } else {
                elementStart = c == ',' && !quoted;
                at += c == '\\' ? 2 : 1;
            }
        }
    }
    return false;
}

QString setAsideSerializedConfig(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !carriesSerializedValue(file.readAll()))
        return QString();
    file.close();
    const QString copy = keepConfigAside(path);
    // Left in place, the file would be decoded at the first read of any key.
    QFile::remove(path);
    return copy;
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
        if (!QFileInfo::exists(copy))
            return QFile::copy(path, copy) ? copy : QString();
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

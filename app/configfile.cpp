#include "app/configfile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <cstring>

namespace
{

bool iniSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool hexDigit(char c)
{
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
}

// One entry of INI text from `pos`, cut where the settings store cuts it: at a line break or a
// ';' outside quotes. A backslash takes the next character (a line break too) with it, and a
// line that starts with ';' is a comment. `equals` is the first '=' outside quotes, or -1.
bool nextIniEntry(const QByteArray& text, int& pos, int& start, int& end, int& equals)
{
    const int size = text.size();
    bool quoted = false;
    equals = -1;
    start = pos;
    while (start < size && iniSpace(text.at(start)))
        ++start;
    int at = start;
    while (at < size) {
        const char c = text.at(at++);
        if (c == '=') {
            if (!quoted && equals < 0)
                equals = at - 1;
        } else if (c == '\n' || c == '\r') {
            if (at == start + 1)
                ++start;
            else if (!quoted) {
                --at;
                break;
            }
        } else if (c == '\\') {
            if (at < size) {
                const char escaped = text.at(at++);
                if (at < size && ((escaped == '\n' && text.at(at) == '\r') || (escaped == '\r' && text.at(at) == '\n')))
                    ++at;
            }
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ';') {
            if (at == start + 1) {
                while (at < size && text.at(at) != '\n' && text.at(at) != '\r')
                    ++at;
                while (at < size && iniSpace(text.at(at)))
                    ++at;
                start = at;
            } else if (!quoted) {
                --at;
                break;
            }
        }
    }
    pos = end = at;
    return end > start;
}

// The texts of a value as the settings store unescapes them before it decides what they are:
// a list splits at commas outside quotes, quotes are dropped, spaces are skipped at the start
// of a text and after a closing quote, and a "\x" or octal escape runs over every digit that
// follows and keeps the low 16 bits.
QStringList iniValueTexts(const QByteArray& text, int at, int to)
{
    QStringList texts;
    QString current;
    bool quoted = false;
    const auto skipSpaces = [&] {
        while (at < to && (text.at(at) == ' ' || text.at(at) == '\t'))
            ++at;
    };
    skipSpaces();
    while (at < to) {
        const char c = text.at(at++);
        if (c == '"') {
            quoted = !quoted;
            if (!quoted)
                skipSpaces();
        } else if (c == ',' && !quoted) {
            texts << current;
            current.clear();
            skipSpaces();
        } else if (c != '\\') {
            current += QChar(uchar(c));
        } else if (at < to) {
            static const char simple[] = "a\ab\bf\fn\nr\rt\tv\v\"\"?\?''\\\\";
            const char kind = text.at(at++);
            const char* found = std::strchr(simple, kind);
            const bool hex = kind == 'x' && at < to && hexDigit(text.at(at));
            const bool octal = kind >= '0' && kind <= '7';
            if (kind && found && (found - simple) % 2 == 0) {
                current += QLatin1Char(found[1]);
            } else if (hex || octal) {
                uint value = hex ? 0 : uint(kind - '0');
                for (; at < to && (hex ? hexDigit(text.at(at)) : text.at(at) >= '0' && text.at(at) <= '7'); ++at) {
                    const char d = text.at(at);
                    value = (value << (hex ? 4 : 3)) + uint(d <= '9' ? d - '0' : (d | 0x20) - 'a' + 10);
                }
                current += QChar(ushort(value & 0xffff));
            } else if ((kind == '\n' || kind == '\r') && at < to && (text.at(at) == '\n' || text.at(at) == '\r')
                && text.at(at) != kind) {
                ++at; // a line that goes on in the next one
            }
            // Any other escaped character is dropped.
        }
    }
    texts << current;
    return texts;
}

} // namespace

bool carriesSerializedValue(const QByteArray& fileText)
{
    int pos = 0;
    int start = 0;
    int end = 0;
    int equals = -1;
    while (nextIniEntry(fileText, pos, start, end, equals)) {
        if (fileText.at(start) == '[' || equals < 0)
            continue;
        // Each text of the value is looked at from its first character: only there does the
        // store take "@Variant(" or "@DateTime(" for a serialized object.
        for (const QString& value : iniValueTexts(fileText, equals + 1, end)) {
            if (value.startsWith(QLatin1String("@Variant(")) || value.startsWith(QLatin1String("@DateTime(")))
                return true;
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

#include "app/configfile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <tuple>

#include "app/configtext.h"

QSettings::Format configFormat()
{
    static const QSettings::Format format
        = QSettings::registerFormat(QStringLiteral("ini"), &readConfigText, &writeConfigText);
    return format;
}

const QStringList& configKeys()
{
    static const QStringList keys = [] {
        QStringList k;
        for (const auto& entry : ConfigText::parse(defaultConfigText(QString())).entries)
            k << entry.first;
        return k;
    }();
    return keys;
}

bool readConfigText(QIODevice& device, QSettings::SettingsMap& map)
{
    // Lines that cannot be used are skipped: the loader names them (configText), and the rest
    // of the file still counts.
    for (const auto& entry : ConfigText::parse(device.readAll(), configKeys()).entries)
        map.insert(entry.first, entry.second);
    return true;
}

ConfigText configText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? ConfigText::parse(file.readAll(), configKeys()) : ConfigText();
}

bool writeConfigText(QIODevice& device, const QSettings::SettingsMap& map)
{
    // Keys in the order of the default file, each section together: other keys after the known
    // ones of their section, other sections last. Keys without a section come first, since
    // after a section header they would belong to it.
    const QStringList& order = configKeys();
    const auto place = [&order](const QString& key) {
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

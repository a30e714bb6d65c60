// "data/config.ini" as anyone may have left it: whatever the loader makes of it, saving and
// loading again gives the same values, and the INI store reads what the configuration's format
// writes as the format read it. A text value written by iniValueText reads back as it was.
#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdio>

#include "app/appstate.h"
#include "app/configfile.h"
#include "fuzz/streamreads.h"

namespace
{

// Where the fuzzer was started: its corpus and findings paths may be relative to it.
QString startFolder;

// Names the property that broke before the fuzzer keeps the input.
void check(bool condition, int line)
{
    if (!condition) {
        QDir::setCurrent(startFolder);
        std::fprintf(stderr, "fuzz_configfile.cpp:%d: property broken\n", line);
    }
    require(condition);
}
#define check(condition) check((condition), __LINE__)

// Every value the configuration holds, as text; a number that is no number reads "nan".
QStringList values(const AppState& s)
{
    QStringList v { s.PortName, s.PathExportDBF, s.Hostname, s.Username, s.Password, s.Database, s.serverSMTP,
        s.serverLogin, s.serverPassword, s.notificationEmail };
    for (const double d : { s.TemperatureMinCritical, s.TemperatureMinWarning, s.TemperatureMaxWarning,
             s.TemperatureMaxCritical, s.WetnessMinCritical, s.WetnessMinWarning, s.WetnessMaxWarning,
             s.WetnessMaxCritical, s.BatteryMinCritical, s.BatteryMinWarning })
        v << QString::number(d, 'g', 17);
    for (const int i : { s.BreakInterval, s.MaxTableRows, s.DateTimeStyle, s.DaysSave, int(s.NetworkPort),
             s.IntervalExportDBF, s.Port, s.DBType, s.serverPort })
        v << QString::number(i);
    for (const bool b : { s.HideStart, s.TrayMessages, s.ViewVoltage, s.ExportDBF, s.isActive,
             s.isMinCriticalTemperature, s.isMinNonCriticalTemperature, s.isMaxNonCriticalTemperature,
             s.isMaxCriticalTemperature, s.isMinCriticalHumidity, s.isMinNonCriticalHumidity,
             s.isMaxNonCriticalHumidity, s.isMaxCriticalHumidity, s.isSensorLost, s.isBatteryLow })
        v << QString::number(b);
    for (unsigned i = 0; i < 11; ++i)
        v << s.colorByIndex(i).name();
    return v;
}

bool writeConfig(const QByteArray& text)
{
    QFile file(QString::fromLatin1(kConfigPath));
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    startFolder = QDir::currentPath();
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    // A folder of its own each time: the settings store caches what it read per file name.
    QTemporaryDir dir;
    check(dir.isValid() && QDir::setCurrent(dir.path()) && QDir().mkdir(QStringLiteral("data")));

    check(writeConfig(bytes));
    {
        AppState first;
        first.loadConfig();
        first.saveConfig();
        first.configSettings->sync();
        const QStringList loaded = values(first);
        AppState second;
        second.loadConfig();
        check(values(second) == loaded);
    }
    {
        // What the configuration's format writes, the INI store reads back as the same texts and
        // decodes no object from. The store never reads the fuzzed text itself.
        QBuffer in;
        in.setData(bytes);
        QSettings::SettingsMap map;
        check(in.open(QIODevice::ReadOnly));
        readConfigText(in, map);
        QFile out(QStringLiteral("written.ini"));
        check(out.open(QIODevice::WriteOnly) && writeConfigText(out, map));
        out.close();
        QSettings store(out.fileName(), QSettings::IniFormat);
        check(store.status() == QSettings::NoError && store.allKeys().size() == map.size());
        for (auto i = map.cbegin(); i != map.cend(); ++i)
            check(store.value(i.key()).type() == QVariant::String && store.value(i.key()) == i.value());
    }

    {
        // A file of the characters INI text is made of, read by the INI store and by the format:
        // the same values under the same keys. Keys the store reads outside "section/key" of
        // plain names are no settings, and the format skips their lines on purpose; slashes (a
        // key "a/b" before any section would look like one of a section), quotes,
        // backslashes, commas, '@' and bytes beyond ASCII are left out, since there the two
        // differ on purpose (a comma kept, a backslash typed by hand, Windows-1251, no object).
        static const char kAlphabet[] = "[]=;# \t\r\naAbB01_.-";
        static const QRegularExpression plainName(QStringLiteral("^[A-Za-z0-9_.-]+$"));
        QByteArray text = bytes;
        for (char& c : text)
            c = kAlphabet[uchar(c) % (sizeof kAlphabet - 1)];
        QFile store(QStringLiteral("store.ini"));
        QFile format(QStringLiteral("format.ini"));
        check(store.open(QIODevice::WriteOnly) && store.write(text) == text.size());
        check(format.open(QIODevice::WriteOnly) && format.write(text) == text.size());
        store.close();
        format.close();
        QMap<QString, QString> theirs;
        const QSettings storeReads(store.fileName(), QSettings::IniFormat);
        for (const QString& key : storeReads.allKeys()) {
            const QStringList names = key.split(QLatin1Char('/'));
            if (names.size() == 2 && plainName.match(names[0]).hasMatch() && plainName.match(names[1]).hasMatch())
                theirs.insert(key, storeReads.value(key).toString());
        }
        QMap<QString, QString> ours;
        const QSettings formatReads(format.fileName(), configFormat());
        for (const QString& key : formatReads.allKeys())
            ours.insert(key, formatReads.value(key).toString());
        check(ours == theirs);
    }

    // A file of another name: the store may keep serving what it read of a file that was
    // rewritten behind its back within the same process.
    const QString text = QString::fromUtf8(bytes);
    check(QDir().mkpath(QStringLiteral("value/data")) && QDir::setCurrent(QStringLiteral("value")));
    check(writeConfig("[Other]\nPathExportDBF=" + iniValueText(text) + "\n"));
    AppState state;
    state.loadConfig();
    check(state.PathExportDBF == text);
    QDir::setCurrent(startFolder);
    return 0;
}

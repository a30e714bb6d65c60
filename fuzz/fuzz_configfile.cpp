// "data/config.ini" as anyone may have left it: whatever the loader makes of it, saving and
// loading again gives the same values, and the INI store reads what the configuration's format
// writes as the format read it. A text value written by iniValueText reads back as it was.
#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
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

// ostrivel_datagen: fills data/measurement.db3 (or the MySQL database) with N sensors in M
// rooms over D days at one reading a minute. The tables are made by the program's own
// SQLBaseModule, so the result is what the program itself would open.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QTextStream>

#include <cstdio>

#include "app/appstate.h"
#include "datagenerator.h"
#include "storage/databasewriter.h"
#include "storage/sqlbasemodule.h"

namespace
{

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ostrivel_datagen"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Fills the Ostrivel database with generated sensors, rooms and one reading a minute per sensor."));
    parser.addHelpOption();
    const QCommandLineOption type({ "t", "type" }, "Database type: 0 SQLite file, 1 MySQL through ODBC.", "type", "0");
    const QCommandLineOption dir(
        { "C", "dir" }, "Working folder of the program (SQLite: its data/measurement.db3).", "folder", ".");
    const QCommandLineOption sensors({ "n", "sensors" }, "Number of sensors.", "N", "20");
    const QCommandLineOption locations({ "m", "locations" }, "Number of rooms the sensors are spread over.", "M", "4");
    const QCommandLineOption days({ "d", "days" }, "Days of readings, one a minute per sensor.", "D", "30");
    const QCommandLineOption end("end", "Unix time of the last reading (default: now).", "seconds", "0");
    const QCommandLineOption seed("seed", "Seed of the generated values.", "seed", "1");
    const QCommandLineOption host("host", "MySQL host.", "host", "127.0.0.1");
    const QCommandLineOption port("port", "MySQL port.", "port", "3306");
    const QCommandLineOption user("user", "MySQL login.", "user", "root");
    const QCommandLineOption password("password", "MySQL password.", "password", "");
    const QCommandLineOption database("database", "MySQL database.", "name", "ostrivel");
    parser.addOptions({ type, dir, sensors, locations, days, end, seed, host, port, user, password, database });
    parser.process(app);

    DataGenerator::Options options;
    bool ok = true;
    auto number = [&](const QCommandLineOption& option) {
        bool good = false;
        const qint64 value = parser.value(option).toLongLong(&good);
        if (!good || value < 0) {
            QTextStream(stderr) << "invalid --" << option.names().last() << "\n";
            ok = false;
        }
        return value;
    };
    options.type = int(number(type));
    options.sensors = int(number(sensors));
    options.locations = int(number(locations));
    options.days = int(number(days));
    options.end = number(end);
    options.seed = quint32(number(seed));
    const int serverPort = int(number(port));
    if (!ok || (options.type != 0 && options.type != 1)) {
        QTextStream(stderr) << "invalid options; see --help\n";
        return 2;
    }
    // The folder may be new: the generator runs before the program's first start there.
    if (!QDir().mkpath(parser.value(dir)) || !QDir::setCurrent(parser.value(dir))
        || !QDir().mkpath(QStringLiteral("data"))) {
        QTextStream(stderr) << "cannot use the folder " << parser.value(dir) << "\n";
        return 2;
    }

    AppState state;
    // The module purges at open; keep everything the generator is about to write.
    state.DaysSave = options.days + 1;
    int closeCode = 0;
    int generated = 0;
    {
        SQLBaseModule module;
        QObject::connect(&module, &SQLBaseModule::signalCloseApplication, [&](int code) { closeCode = code; });
        const auto print = [](const QString& text) { QTextStream(stderr) << text << "\n"; };
        QObject::connect(&module, &SQLBaseModule::signalWarning, print);
        QObject::connect(&module, &SQLBaseModule::signalStartFailed, print);
        module.init(options.type, parser.value(host), parser.value(user), parser.value(password),
            parser.value(database), serverPort);
        if (closeCode != 0)
            return closeCode;
        // The generator writes through the main connection: it begins once the writer has
        // finished its start-up writes, so that neither waits on the other's lock.
        if (DatabaseWriter* writer = module.writer) {
            QEventLoop settled;
            writer->enqueueJob([](QSqlDatabase&, int, QString*) { return true; },
                [&](bool, const QString&) {
                    QTimer* poll = new QTimer(&settled);
                    QObject::connect(poll, &QTimer::timeout, &settled, [&] {
                        if (!writer->purging())
                            settled.quit();
                    });
                    poll->start(10);
                });
            settled.exec();
        }

        QElapsedTimer timer;
        timer.start();
        DataGenerator generator(module.db, options);
        QString error;
        if (!generator.run(&error)) {
            QTextStream(stderr) << "generation failed: " << error << "\n";
            return 1;
        }
        const double seconds = timer.elapsed() / 1000.0;
        generated = int(generator.measurementsWritten());
        QTextStream(stdout) << generated << " measurements of " << options.sensors << " sensors in "
                            << options.locations << " rooms written in " << seconds << " s ("
                            << (seconds > 0 ? generated / seconds : 0) << " rows/s)\n";
        module.slotStopModule();
    }
    return 0;
}

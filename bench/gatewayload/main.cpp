// Many gateways at once, each sending as fast as the program takes the messages: how many
// measurements per second reach the database, and whether every one sent is stored.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <memory>

#include "app/appstate.h"
#include "gatewayhub.h"
#include "gatewaypeer.h"
#include "links/networkmodule.h"
#include "storage/sqlbasemodule.h"

namespace
{

qint64 storedRows()
{
    QSqlQuery q;
    return q.exec(QStringLiteral("SELECT COUNT(*) FROM measure")) && q.next() ? q.value(0).toLongLong() : -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QCommandLineParser options;
    options.addHelpOption();
    const QCommandLineOption gatewaysOption("gateways", "Gateways connected at once.", "count", "200");
    const QCommandLineOption sensorsOption("sensors", "Sensors per gateway.", "count", "2");
    const QCommandLineOption countOption("count", "Messages per sensor.", "count", "50");
    options.addOptions({ gatewaysOption, sensorsOption, countOption });
    options.process(app);

    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path()) || !QDir().mkdir(QStringLiteral("data"))) {
        out << "bench_gatewayload: no working folder\n";
        return 1;
    }
    AppState state;
    SQLBaseModule sql;
    state.followDatabase(sql);
    sql.init(0, QString(), QString(), QString(), QString(), 0);
    std::unique_ptr<NetworkModule> net = startGatewayServer();
    if (!sql.db.isOpen() || !net) {
        out << "bench_gatewayload: database or server did not start\n";
        return 1;
    }
    GatewayHub hub(state, *net, sql);

    const qint64 expected = options.value(gatewaysOption).toLongLong() * options.value(sensorsOption).toLongLong()
        * options.value(countOption).toLongLong();
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    // The gateways stay connected until the end: the count of rows says when all has arrived.
    sim.start(QStringLiteral(GATEWAYSIM),
        { "--port", QString::number(net->serverPort()), "--gateways", options.value(gatewaysOption), "--sensors",
            options.value(sensorsOption), "--count", options.value(countOption), "--burst", "--quiet", "--linger",
            "600000" });
    if (!sim.waitForStarted(5000)) {
        out << "bench_gatewayload: the simulator did not start\n";
        return 1;
    }
    qint64 stored = 0;
    qint64 lastProgress = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        const qint64 now = storedRows();
        if (now != stored)
            lastProgress = clock.elapsed();
        stored = now;
        // Done, or nothing new for 10 s: the rest is lost.
        if (stored >= expected || clock.elapsed() - lastProgress > 10000)
            app.quit();
    });
    QObject::connect(&sim, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), &app, &QCoreApplication::quit);
    poll.start(20);
    app.exec();
    const double seconds = lastProgress / 1000.0;
    const bool allSent = sim.readAllStandardOutput().contains("all sent");
    sim.kill();
    sim.waitForFinished(5000);

    const bool complete = allSent && stored == expected;
    out << "gateways " << options.value(gatewaysOption) << ", sent " << expected << ", stored " << stored << " in "
        << QString::number(seconds, 'f', 2) << " s: " << QString::number(stored / qMax(seconds, 0.001), 'f', 0)
        << " measurements/s" << (complete ? "" : "  LOST MESSAGES") << Qt::endl;
    sql.slotStopModule();
    return complete ? 0 : 1;
}

// Views under load.
//   bench_views --scenario refresh [--sensors N] [--refreshes K] [--tab 0|1]
//     GUI-thread CPU time of one refresh of the summary (or measurement) tab with N sensors,
//     the window shown.
//   bench_views --scenario graph [--seconds S] [--db cache.db3] [--tab T] [--rate R] [--program path]
//     The real program on the graph tab (or tab T), "1 год", a year of one-minute readings of
//     20 sensors, the same 20 sensors reporting R messages a second in all (200 by default; 0.33
//     is once a minute each) through the modem: message to reply latency beside a bare pty
//     ping-pong, the main thread's and the whole program's busy share, and the WAL file's size.
//   bench_views --scenario flood [--sensors N] [--program path]
//     The real program while one gateway connection brings N new sensor addresses; a probe
//     sensor on the modem every 10 ms: its longest wait for a reply is the longest stall.
//   bench_views --scenario register [--sensors N] [--rate R] [--tab T] [--program path]
//     The real program while N sensors it has never heard register through the modem, R
//     messages a second: their replies beside a bare pty ping-pong timed in the same run.
//   bench_views --scenario ratios [--sensors N] [--rate R] [--tab T] [--seconds S] [--program path]
//     The register scenario at 10, 1,000 and 10,000 sensors (or N), each followed by S seconds (20 by
//     default) of the same sensors reporting at R a second: reply p99 against the anchor's p99
//     of the same stretch, in a table at the end.
//   bench_views --scenario gateways [--gateways G] [--rate R] [--tab T] [--program path]
//     The real program while G gateways connect, each with a name of its own (a room each),
//     R a second, and 10 known sensors report through the modem 200 times a second in all.
//   bench_views --scenario cpu [--tab T] [--sensors N] [--rate R] [--seconds S] [--runs K] [--pin cores]
//     The real program on each tab (or T) with 20, 1,000 and 10,000 known sensors (or N), the
//     known sensors reporting R messages a second (200) through the modem for S seconds (15),
//     beside the bare wiring program (bench_wiring_anchor) under the same stream: CPU share of
//     a core and reply p99 of both, K runs (3), medians and ratios in a table. With --together
//     both are under their streams at once, so that a slow minute of the host slows both.
//   bench_views --scenario gatewaystream [--gateways G] [--seconds S] [--runs K] [--pin cores]
//     G gateways (1,600) connected, one reading a second each, and a modem sensor 200 times a
//     second: the program's CPU share and the modem replies' p99 beside an epoll server
//     (bench_epoll_anchor) under the same load, K runs (3), medians.
// --pin runs the program and the anchors on those cores (taskset), e.g. "6,7", and the
// benchmark's own probes and simulated peers on the others.
#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>
#include <cstdio>

#include "bench/views/programrun.h"
#include "bench/views/viewsbench.h"

namespace
{

QVector<int> intList(const QString& text, const QVector<int>& fallback)
{
    if (text.isEmpty())
        return fallback;
    QVector<int> values;
    for (const QString& part : text.split(QLatin1Char(',')))
        values << part.toInt();
    return values;
}

} // namespace

int main(int argc, char** argv)
{
    // Debug output of the program's own categories would only blur the timings.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser cli;
    cli.addHelpOption();
    cli.addOption(
        { "scenario", "refresh, graph, flood, register, ratios, gateways, cpu or gatewaystream.", "name", "refresh" });
    cli.addOption({ "sensors", "Sensors (refresh, cpu: a list) or new sensors (flood).", "N", "" });
    cli.addOption({ "refreshes", "Refreshes timed.", "K", "30" });
    cli.addOption({ "tab", "Tab: 0 summary, 1 measurements, 2 graph (cpu: a list).", "index", "" });
    cli.addOption({ "seconds", "Length of the stream.", "S", "" });
    cli.addOption({ "refresh",
        "Refresh action of the graph scenario (actRefr1min: no refresh on arrival, "
        "to tell the views' share from the intake's).",
        "name", "actRefrDirect" });
    cli.addOption({ "rate", "Messages (register, cpu) or gateways (gateways) a second.", "R", "200" });
    cli.addOption({ "gateways", "Gateways that connect (gateways, gatewaystream).", "G", "" });
    cli.addOption({ "runs", "Runs of each measurement (cpu, gatewaystream); the medians count.", "K", "3" });
    cli.addOption({ "together", "cpu: the anchor under its stream at the same time as the program, not after it." });
    cli.addOption({ "pin", "Cores for the program and the anchors (taskset -c); the probes run on the others.", "cores", "" });
    cli.addOption({ "db", "Keep the filled year database here and reuse it.", "file" });
    cli.addOption({ "program", "The program to run.", "path", QStringLiteral(OSTRIVEL_PROGRAM) });
    cli.process(app);
    if (!ProgramRun::pinTo(cli.value("pin"))) {
        std::fprintf(stderr, "cannot pin to %s\n", qPrintable(cli.value("pin")));
        return 2;
    }
    const QString scenario = cli.value("scenario");
    const QString db = cli.isSet("db") ? QFileInfo(cli.value("db")).absoluteFilePath() : QString();
    const QString program = QFileInfo(cli.value("program")).absoluteFilePath();
    const int tab = cli.value("tab").toInt();
    const int runs = std::max(1, cli.value("runs").toInt());
    auto seconds
        = [&](int fallback) { return cli.isSet("seconds") ? std::max(1, cli.value("seconds").toInt()) : fallback; };
    if (scenario == QLatin1String("refresh"))
        return refreshScenario(cli.value("sensors").isEmpty() ? 5000 : cli.value("sensors").toInt(),
            std::max(1, cli.value("refreshes").toInt()), tab);
    if (scenario == QLatin1String("graph"))
        return graphScenario(seconds(60), db, program, cli.value("refresh"), cli.isSet("tab") ? tab : 2,
            cli.isSet("rate") ? std::max(0.01, cli.value("rate").toDouble()) : 200.0);
    if (scenario == QLatin1String("flood"))
        return floodScenario(cli.value("sensors").isEmpty() ? 3000 : cli.value("sensors").toInt(), program);
    const int rate = std::max(1, cli.value("rate").toInt());
    if (scenario == QLatin1String("register"))
        return registerScenario(
            cli.value("sensors").isEmpty() ? 10000 : cli.value("sensors").toInt(), rate, tab, program);
    if (scenario == QLatin1String("ratios"))
        return ratiosScenario(intList(cli.value("sensors"), { 10, 1000, 10000 }), rate, tab, seconds(20), program);
    if (scenario == QLatin1String("gateways"))
        return gatewaysScenario(
            std::max(1, cli.value("gateways").isEmpty() ? 2000 : cli.value("gateways").toInt()), rate, tab, program);
    if (scenario == QLatin1String("cpu"))
        return cpuScenario(intList(cli.value("tab"), { 0, 1, 2 }), intList(cli.value("sensors"), { 20, 1000, 10000 }),
            rate, seconds(15), runs, cli.isSet("together"), program);
    if (scenario == QLatin1String("gatewaystream"))
        return gatewayStreamScenario(
            cli.value("gateways").isEmpty() ? 1600 : cli.value("gateways").toInt(), seconds(20), runs, tab, program);
    std::fprintf(stderr, "unknown scenario\n");
    return 2;
}

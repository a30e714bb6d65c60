// The real program on the graph tab (or another) under a modem stream, a year of readings stored.
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QThread>

#include <algorithm>
#include <cstdio>

#include "bench/common/modemprobe.h"
#include "bench/views/programrun.h"
#include "bench/views/ptyanchor.h"
#include "bench/views/viewsbench.h"
#include "storage/sqlbasemodule.h"
#include "tools/datagen/datagenerator.h"
#include "tools/modemsim/simulatedsensor.h"

using namespace ViewsBench;

namespace
{

bool makeYearDatabase(const QString& target, const QString& cache)
{
    if (!cache.isEmpty() && QFile::exists(cache))
        return QFile::copy(cache, target);
    QElapsedTimer t;
    t.start();
    {
        // The program's own schema, through its module, in the working folder of the target.
        const QString previous = QDir::currentPath();
        QDir::setCurrent(QFileInfo(target).absolutePath() + QStringLiteral("/.."));
        SQLBaseModule sql;
        sql.init(0, QString(), QString(), QString(), QString(), 0);
        DataGenerator::Options options;
        options.sensors = 20;
        options.locations = 4;
        options.days = 365;
        options.end = QDateTime::currentSecsSinceEpoch() - 60;
        DataGenerator gen(sql.db, options);
        QString error;
        const bool ok = gen.run(&error);
        sql.slotStopModule();
        QDir::setCurrent(previous);
        if (!ok) {
            std::fprintf(stderr, "filling failed: %s\n", qPrintable(error));
            return false;
        }
        std::printf("filled %lld readings in %.0f s\n", gen.measurementsWritten(), t.elapsed() / 1000.0);
    }
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    return cache.isEmpty() || QFile::copy(target, cache);
}

} // namespace

int graphScenario(
    int seconds, const QString& cache, const QString& program, const QString& refreshAction, int tab, double rate)
{
    ProgramRun run;
    if (!makeYearDatabase(run.path(QStringLiteral("data/measurement.db3")), cache))
        return 1;
    run.writeView(tab, 17, refreshAction);
    ModemProbe line;
    if (!line.open() || !startProgram(run, line, program, ProgramRun::freePort()))
        return 1;
    QThread::sleep(3); // the first load

    QRandomGenerator random(3);
    QVector<SimulatedSensor> sensors;
    for (int i = 0; i < 20; ++i)
        sensors.append(SimulatedSensor(i, &random));
    int next = 0;
    PtyAnchor anchor;
    if (!anchor.start(5)) {
        std::fprintf(stderr, "cannot open the anchor's pseudo-terminal\n");
        return 1;
    }
    const qint64 cpu0 = run.mainThreadCpuMs();
    const qint64 all0 = run.processCpuMs();
    QElapsedTimer wall;
    wall.start();
    line.startTicking(std::max(1, int(1000 / rate)), [&] {
        SimulatedSensor& s = sensors[next % 20];
        line.send(datagenKey(next % 20 + 1), s.nextPayload());
        ++next;
    });
    qint64 walMax = 0;
    while (wall.elapsed() < seconds * 1000LL) {
        waitFor([] { return false; }, 1000);
        walMax = std::max(walMax, run.fileSize(QStringLiteral("data/measurement.db3-wal")));
    }
    line.stopTicking();
    const double busy = double(run.mainThreadCpuMs() - cpu0) / double(wall.elapsed());
    const double all = double(run.processCpuMs() - all0) / double(wall.elapsed());
    waitFor([] { return false; }, 1000);
    const QVector<double> pings = anchor.stop();
    const QVector<double> l = line.takeLatencies();
    const qint64 walEnd = run.fileSize(QStringLiteral("data/measurement.db3-wal"));
    const QByteArray what = QStringLiteral("tab %1, \"1 год\", 20 sensors, %2 messages/s for %3 s (%4 sent)")
                                .arg(tab)
                                .arg(rate)
                                .arg(seconds)
                                .arg(next)
                                .toUtf8();
    reportReplies(what.constData(), l, pings, line.unanswered(), busy);
    std::printf("  the whole program busy %.1f %% of one core\n", all * 100);
    std::printf("  WAL file: %.1f MB at the end, %.1f MB at most\n", walEnd / 1e6, walMax / 1e6);
    run.stop();
    return 0;
}

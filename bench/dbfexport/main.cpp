// DBF export benchmark: one export of a generated database, its time and the process's peak
// memory before and after, to see that the export's memory does not grow with the rows.
//   bench_dbfexport [--sensors N] [--days D]   (rows = N * D * 1440)
#include <QCoreApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

#include "bench/peakmemory.h"
#include "storage/dbfexport.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser cli;
    cli.addHelpOption();
    cli.addOption({ "sensors", "Sensors.", "N", "100" });
    cli.addOption({ "days", "Days of one-minute readings.", "D", "7" });
    cli.process(app);

    QTemporaryDir dir;
    QProcess generator;
    generator.setProcessChannelMode(QProcess::ForwardedChannels);
    generator.start(QStringLiteral(DATAGEN_PATH),
        { QStringLiteral("--dir"), dir.path(), QStringLiteral("-n"), cli.value("sensors"), QStringLiteral("-m"),
            QStringLiteral("10"), QStringLiteral("-d"), cli.value("days") });
    if (!generator.waitForFinished(-1) || generator.exitCode() != 0) {
        std::fprintf(stderr, "data generation failed\n");
        return 1;
    }
    QDir::setCurrent(dir.path());

    DbfExport exporter;
    QString status;
    QObject::connect(&exporter, &DbfExport::signalUpdateStatus, [&](const QString& text) { status = text; });
    exporter.slotSetDatabase(0, QString(), QString(), QString(), QString(), 0);
    exporter.slotSetSettings(true, dir.path());
    const long before = peakKiB();
    QElapsedTimer t;
    t.start();
    exporter.slotExportDBF();
    const double seconds = t.elapsed() / 1000.0;
    const long after = peakKiB();
    std::printf("export: %.2f s, file %.0f MB, status \"%s\"\n", seconds,
        QFileInfo(dir.path() + QStringLiteral("/export.dbf")).size() / 1e6, qPrintable(status));
    std::printf("peak memory: %ld KiB before the export, %ld KiB after (+%ld KiB)\n", before, after, after - before);
    return 0;
}

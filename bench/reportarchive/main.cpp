// Problem-report archive benchmark: the archive of a data folder with a large database file,
// built the way the dialog builds it (in a thread of its own) while the GUI thread ticks every
// 10 ms. Prints the build rate, the longest pause between two ticks, the process's peak memory
// growth, and how soon a build stops after a cancel; --inline builds on the ticking thread
// instead, to show the pause the window would suffer that way.
//   bench_reportarchive [--mib N] [--inline]
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>

#include "bench/peakmemory.h"
#include "dialogs/reportarchive.h"

namespace
{

// Pages like a database file's: part data that does not compress, part zeros.
bool writeDatabase(const QString& path, int mib)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QByteArray page(4096, '\0');
    uint seed = 1;
    for (int p = 0; p < mib * 256; ++p) {
        for (int i = 0; i < 2500; ++i) {
            seed = seed * 1103515245u + 12345u;
            page[i] = char(seed >> 16);
        }
        if (f.write(page) != page.size())
            return false;
    }
    return true;
}

struct Run {
    qint64 ms = 0;
    qint64 longestGapMs = 0;
    ReportArchive::Outcome outcome;
};

// Builds the archive while a 10 ms timer on this thread records its longest gap; cancelAfterMs
// >= 0 cancels the build that long after its start.
Run build(const QString& folder, const QString& target, bool inlineBuild, int cancelAfterMs = -1)
{
    Run run;
    std::atomic_bool cancel { false };
    QElapsedTimer clock;
    QElapsedTimer sinceTick;
    QTimer tick;
    QObject::connect(
        &tick, &QTimer::timeout, [&] { run.longestGapMs = std::max(run.longestGapMs, sinceTick.restart()); });
    tick.start(10);
    sinceTick.start();
    clock.start();
    qint64 cancelledAt = -1;
    if (inlineBuild) {
        QTimer::singleShot(20, [&] {
            run.outcome = ReportArchive::write(folder, target, cancel);
            run.ms = clock.elapsed();
            run.longestGapMs = std::max(run.longestGapMs, sinceTick.elapsed());
            QCoreApplication::exit();
        });
        QCoreApplication::exec();
        return run;
    }
    QThread* thread = QThread::create([&] { run.outcome = ReportArchive::write(folder, target, cancel); });
    QObject::connect(thread, &QThread::finished, [&] {
        run.ms = cancelledAt >= 0 ? clock.elapsed() - cancelledAt : clock.elapsed();
        QCoreApplication::exit();
    });
    if (cancelAfterMs >= 0) {
        QTimer::singleShot(cancelAfterMs, [&] {
            cancelledAt = clock.elapsed();
            cancel = true;
        });
    }
    thread->start();
    QCoreApplication::exec();
    thread->wait();
    delete thread;
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser cli;
    cli.addHelpOption();
    cli.addOption({ "mib", "Size of the database file in MiB.", "N", "256" });
    cli.addOption({ "inline", "Build on the ticking thread, as a synchronous dialog would." });
    cli.process(app);
    const int mib = cli.value("mib").toInt();

    QTemporaryDir dir;
    const QString folder = dir.filePath("data");
    const QString target = dir.filePath("sent_data.zip");
    QFile config(dir.filePath("data/config.ini"));
    if (!QDir().mkpath(folder) || !config.open(QIODevice::WriteOnly) || config.write("[DB]\nPassword=x\n") <= 0
        || !writeDatabase(dir.filePath("data/measurement.db3"), mib)) {
        std::fprintf(stderr, "cannot prepare the data folder\n");
        return 1;
    }
    config.close();

    const long before = peakKiB();
    const Run full = build(folder, target, cli.isSet("inline"));
    if (!full.outcome.ok) {
        std::fprintf(stderr, "archive failed: %s\n", qPrintable(full.outcome.error));
        return 1;
    }
    std::printf("archive of %d MiB: %lld ms, %.1f MiB/s, archive %.1f MiB, %s\n", mib, full.ms,
        mib * 1000.0 / std::max<qint64>(full.ms, 1), QFileInfo(target).size() / 1048576.0,
        cli.isSet("inline") ? "built on the GUI thread" : "built in its own thread");
    std::printf("longest pause of the GUI thread's 10 ms timer: %lld ms\n", full.longestGapMs);
    std::printf("peak memory growth: %ld KiB\n", peakKiB() - before);
    if (!cli.isSet("inline")) {
        const Run cancelled = build(folder, target, false, 200);
        std::printf("cancel after 200 ms: the build stopped %lld ms later (%s)\n", cancelled.ms,
            cancelled.outcome.cancelled ? "cancelled" : "had already finished");
    }
    return 0;
}

// Information dialog benchmark: the dialog opened, and refreshed, over a database with a long
// history, while a 5 ms timer on the GUI thread records the longest gap between its ticks (the
// time the window could not answer), and the time until the number of measurements is shown.
//   bench_infodialog [--dir folder] [--sensors N] [--days D] [--repeat N] [--cold]
// The folder's database (data/measurement.db3) is kept between runs and made when missing;
// --cold has the system drop the file's cached pages before each opening.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

#include "app/appstate.h"
#include "dialogs/prompt.h"
#include "storage/sqlbasemodule.h"
#include "ui/dialoginfo.h"

namespace
{

class QuietPrompt : public Prompt
{
public:
    bool question(const QString&) override { return true; }
    void critical(const QString&, const QString&) override { }
    void warning(const QString&, const QString&) override { }
    void information(const QString&, const QString&) override { }
};

// The longest gap between the ticks of a 5 ms timer on the calling thread since start().
class StallProbe
{
public:
    StallProbe()
    {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.elapsed();
            longest = qMax(longest, now - previous);
            previous = now;
        });
    }
    void start()
    {
        clock.start();
        previous = 0;
        longest = 0;
        timer.start();
    }
    qint64 stop()
    {
        timer.stop();
        return qMax(longest, clock.elapsed() - previous);
    }
    QElapsedTimer clock;

private:
    QTimer timer;
    qint64 previous = 0;
    qint64 longest = 0;
};

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void dropCache(const QString& file)
{
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY);
    if (fd >= 0) {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

// Runs `act` and waits for the figure; returns the longest stall, and in `shownMs` when the
// figure was on the page.
qint64 timed(DialogInfo& dialog, StallProbe& probe, qint64* shownMs, const std::function<void()>& act)
{
    static const QRegularExpression figure(QStringLiteral("Количество записей: \\d+"));
    probe.start();
    act();
    while (!figure.match(dialog.pageText()).hasMatch())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    *shownMs = probe.clock.elapsed();
    wait(100);
    return probe.stop();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser cli;
    cli.addHelpOption();
    cli.addOption({ "dir", "Working folder, kept between runs.", "folder" });
    cli.addOption({ "sensors", "Sensors of a new database.", "N", "30" });
    cli.addOption({ "days", "Days of one-minute readings of a new database.", "D", "365" });
    cli.addOption({ "repeat", "Openings and refreshes timed.", "N", "3" });
    cli.addOption({ "cold", "Drop the database file's cached pages before each opening." });
    cli.process(app);

    QTemporaryDir temporary;
    const QString folder = cli.isSet("dir") ? cli.value("dir") : temporary.path();
    const QString file = QDir(folder).filePath(QStringLiteral("data/measurement.db3"));
    if (!QFile::exists(file)) {
        QProcess generator;
        generator.setProcessChannelMode(QProcess::ForwardedChannels);
        generator.start(QStringLiteral(DATAGEN_PATH),
            { QStringLiteral("--dir"), folder, QStringLiteral("-n"), cli.value("sensors"), QStringLiteral("-m"),
                QStringLiteral("4"), QStringLiteral("-d"), cli.value("days") });
        if (!generator.waitForFinished(-1) || generator.exitCode() != 0) {
            std::fprintf(stderr, "data generation failed\n");
            return 1;
        }
    }
    QDir::setCurrent(folder);
    QuietPrompt quiet;
    setPrompt(&quiet);
    AppState state;
    state.DaysSave = 100000;
    SQLBaseModule sql;
    state.followDatabase(sql);
    sql.init(0, QString(), QString(), QString(), QString(), 0);

    StallProbe probe;
    probe.start();
    wait(2000);
    std::printf("idle GUI thread over 2 s: longest stall %lld ms\n", probe.stop());
    DialogInfo dialog;
    auto* refresh = dialog.findChild<QPushButton*>(QStringLiteral("pushRefresh"));
    for (int i = 0; i < cli.value("repeat").toInt(); ++i) {
        if (cli.isSet("cold"))
            dropCache(file);
        qint64 shown = 0;
        const qint64 opened = timed(dialog, probe, &shown, [&] { dialog.show(); });
        std::printf("open: longest GUI stall %lld ms, figure shown after %lld ms\n", opened, shown);
        const qint64 refreshed = timed(dialog, probe, &shown, [&] { refresh->click(); });
        std::printf("refresh: longest GUI stall %lld ms, figure shown after %lld ms\n", refreshed, shown);
        dialog.hide();
        std::fflush(stdout);
    }
    sql.slotStopModule();
    setPrompt(nullptr);
    return 0;
}

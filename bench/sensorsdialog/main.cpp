// Sensors dialog benchmark: removing a sensor with a long history and removing a location
// with many sensors, as the dialog does it (memory at once, then a job of the ordered
// writer), while measurements of the other sensors keep arriving at a steady rate. Reports
// how long each removal takes until the dialog shows it and until the writer has committed
// it, and how long a measurement queued behind it waited for its commit.
//   bench_sensorsdialog [--sensors S] [--locations L] [--days D] [--rate R]
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>

#include "app/appstate.h"
#include "dialogs/prompt.h"
#include "dialogs/registryeditor.h"
#include "storage/databasewriter.h"
#include "storage/sqlbasemodule.h"
#include "tools/datagen/datagenerator.h"

namespace
{

// Answers every question with yes and keeps the texts of the boxes for the end.
class AnsweringPrompt : public Prompt
{
public:
    bool question(const QString&) override { return true; }
    bool confirm(const QString&, const QString&) override { return true; }
    void critical(const QString&, const QString& text) override { boxes << text; }
    void warning(const QString&, const QString& text) override { boxes << text; }
    void information(const QString&, const QString& text) override { boxes << text; }
    QStringList boxes;
};

qint64 count(const QString& sql)
{
    QSqlQuery q(sql);
    return q.next() ? q.value(0).toLongLong() : -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption sensorsOption("sensors", "Sensors.", "S", "20");
    const QCommandLineOption locationsOption("locations", "Rooms.", "L", "4");
    const QCommandLineOption daysOption("days", "Days of readings, one a minute per sensor.", "D", "365");
    const QCommandLineOption rateOption("rate", "Measurements a second meanwhile.", "R", "200");
    parser.addOptions({ sensorsOption, locationsOption, daysOption, rateOption });
    parser.process(app);

    AnsweringPrompt answers;
    setPrompt(&answers);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QDir().mkdir(QStringLiteral("data"));
    AppState state;
    state.DaysSave = 36500;
    auto module = std::make_unique<SQLBaseModule>();
    state.followDatabase(*module);
    module->init(0, QString(), QString(), QString(), QString(), 0);
    DataGenerator::Options options;
    options.sensors = parser.value(sensorsOption).toInt();
    options.locations = parser.value(locationsOption).toInt();
    options.days = parser.value(daysOption).toInt();
    options.end = QDateTime::currentSecsSinceEpoch();
    QString error;
    QElapsedTimer clock;
    clock.start();
    {
        DataGenerator generator(module->db, options);
        if (!generator.run(&error)) {
            std::fprintf(stderr, "generator: %s\n", qPrintable(error));
            return 1;
        }
        std::printf("database: %lld measurements of %d sensors in %d rooms (%lld ms)\n",
            generator.measurementsWritten(), options.sensors, options.locations, clock.elapsed());
    }
    // The registry as the program loads it at start.
    module->slotStopModule();
    qDeleteAll(state.locations);
    state.locations.clear();
    module = std::make_unique<SQLBaseModule>();
    state.followDatabase(*module);
    module->init(0, QString(), QString(), QString(), QString(), 0);
    DatabaseWriter* writer = state.databaseWriter;

    // Measurements of the last sensor keep arriving; each batch commit tells how long the
    // oldest one waited.
    const QString steady = state.sensors.last()->EUI64;
    QVector<qint64> queuedAt;
    qint64 longestWait = 0;
    QTimer intake;
    const int rate = parser.value(rateOption).toInt();
    QObject::connect(&intake, &QTimer::timeout, [&]() {
        for (int i = 0; i < rate / 100; ++i) {
            PendingMeasurement m;
            m.eui64 = steady;
            m.data.hasTemperature = true;
            m.data.temperature = 21.5;
            m.arrivedAt = QDateTime::currentSecsSinceEpoch();
            queuedAt << clock.elapsed();
            writer->enqueue(m);
        }
    });
    QObject::connect(writer, &DatabaseWriter::batchCommitted, [&](int n) {
        n = qMin(n, queuedAt.size());
        if (n > 0)
            longestWait = qMax(longestWait, clock.elapsed() - queuedAt.first());
        queuedAt.remove(0, n);
    });
    intake.start(10);

    RegistryEditor editor(state, RegistryEditor::writerOf(state));
    auto timed = [&](const char* what, const std::function<void()>& start) {
        QTimer::singleShot(500, [&]() {
            longestWait = 0;
            clock.restart();
            queuedAt.clear();
            start();
        });
        qint64 shown = -1;
        qint64 written = -1;
        QEventLoop loop;
        const QMetaObject::Connection showing = QObject::connect(&editor, &RegistryEditor::rowsRemoved, [&]() {
            shown = clock.elapsed();
            if (written >= 0)
                loop.quit();
        });
        const QMetaObject::Connection writing = QObject::connect(&editor, &RegistryEditor::busyChanged, [&](bool busy) {
            if (!busy)
                written = clock.elapsed();
            if (!busy && shown >= 0)
                loop.quit();
        });
        loop.exec();
        QObject::disconnect(showing);
        QObject::disconnect(writing);
        QEventLoop settle;
        QTimer::singleShot(500, &settle, &QEventLoop::quit);
        settle.exec();
        std::printf("%s: shown after %lld ms, written after %lld ms; a measurement queued meanwhile waited at most "
                    "%lld ms\n",
            what, shown, written, longestWait);
    };
    const qint64 rows = count(QStringLiteral("SELECT COUNT(*) FROM measure m JOIN sensors s ON s.id=m.sensor_id "
                                             "WHERE s.EUI64='%1'")
                                  .arg(state.sensors.first()->EUI64));
    timed(qPrintable(QStringLiteral("remove a sensor with %1 measurements").arg(rows)),
        [&]() { editor.removeSensor(0); });
    timed(qPrintable(QStringLiteral("remove a room (%1 sensors renumbered)").arg(state.sensors.size())),
        [&]() { editor.removeLocation(1); });
    intake.stop();
    const qint64 copied = count(QStringLiteral("SELECT COUNT(*) FROM removed"));
    module->slotStopModule();
    if (copied != rows || !answers.boxes.isEmpty()) {
        std::fprintf(
            stderr, "removed holds %lld rows of %lld; %s\n", copied, rows, qPrintable(answers.boxes.join('\n')));
        return 1;
    }
    return 0;
}

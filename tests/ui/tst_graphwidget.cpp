// The graph widget over a real SQLite database: what it loads, what it paints, the cursor,
// the context menu and the PNG export read back by an independent reader.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/appstate.h"
#include "app/sqliteworkspace.h"
#include "dialogs/prompt.h"
#include "mail/warningguard.h"
#include "storage/sqlbasemodule.h"
#include "ui/graphwidget.h"

namespace
{

const qint64 t0 = 1772363100; // 2026-03-01 14:05:00 in Moscow
const QString sensorA = QStringLiteral("000D6F0000000A01");
const QString sensorB = QStringLiteral("000D6F0000000B02");

class RecordingPrompt : public Prompt
{
public:
    QStringList warnings;
    bool question(const QString&) override { return true; }
    void critical(const QString& title, const QString& text) override { warnings << title + '|' + text; }
    void warning(const QString& title, const QString& text) override { warnings << title + '|' + text; }
    void information(const QString&, const QString&) override { }
};

QDateTime at(qint64 secs)
{
    return QDateTime::fromSecsSinceEpoch(secs);
}

bool isBackground(QRgb c)
{
    return qRed(c) > 245 && qGreen(c) > 245 && qBlue(c) > 245;
}

bool isDark(QRgb c)
{
    return qRed(c) < 170 && qGreen(c) < 170 && qBlue(c) < 170;
}

// Tinted by the threshold colour #00B000 (on white, antialiasing halves it).
bool isGreen(QRgb c)
{
    return qGreen(c) > qRed(c) + 40 && qGreen(c) > qBlue(c) + 40;
}

// A column of the chart that no grid line touches.
int awayFromGrid(const GraphModel& m, int x)
{
    for (int g : m.gridColumns())
        if (qAbs(g - x) < 3)
            return x + 6;
    return x;
}

} // namespace

class TestGraphWidget : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SqliteWorkspace> work;
    RecordingPrompt recorder;

    static void exec(const QString& statement, const QVariantList& values = {})
    {
        QSqlQuery q;
        QVERIFY2(q.prepare(statement), qPrintable(statement));
        for (const QVariant& v : values)
            q.addBindValue(v);
        QVERIFY2(q.exec(), qPrintable(statement));
    }
    static void measure(int sensorId, qint64 secs, QVariant t, QVariant w)
    {
        exec(QStringLiteral("INSERT INTO measure (sensor_id, timemeasure, temperature, wetness, battery) VALUES "
                            "(?,?,?,?,3.0)"),
            { sensorId, secs, t, w });
    }

    // Asks for a load and waits for its chart to come back from the loading thread.
    // The widget first takes `size` when one is given.
    static void load(GraphWidget& w, const QString& eui64, const QDateTime& from, const QDateTime& to, QSize size = {})
    {
        if (size.isValid())
            w.resize(size);
        QSignalSpy done(&w, &GraphWidget::measuresLoaded);
        w.loadMeasures(eui64, from, to);
        QVERIFY(done.wait(10000));
    }

private slots:
    void initTestCase() { WarningGuard::install(); }

    void init()
    {
        work = std::make_unique<SqliteWorkspace>([](AppState& state) {
            state.loadConfig(); // no file: the loader defaults
            state.maximalCriticalTemperature = QColor(0x00, 0xb0, 0x00);
        });
        QVERIFY(work->isOpen());
        exec(QStringLiteral("INSERT INTO sensors (id, EUI64, name, location, datecheck) VALUES "
                            "(1, ?, 'A', 0, '2026.01.01'), (2, ?, 'B', 0, '2026.01.01')"),
            { sensorA, sensorB });
        setPrompt(&recorder);
        recorder.warnings.clear();
    }

    void cleanup()
    {
        setPrompt(nullptr);
        work.reset();
        QCOMPARE(WarningGuard::take(), 0);
    }

    void loadsTheChosenSensorAndPeriod()
    {
        measure(1, t0 - 1, 1.0, 1.0);
        measure(1, t0, 20.5, QVariant());
        measure(1, t0 + 60, QVariant(), 80.25);
        measure(1, t0 + 120, 21.0, 81.0);
        measure(1, t0 + 121, 22.0, 82.0);
        measure(2, t0 + 30, 5.0, 5.0);

        GraphWidget w;
        load(w, sensorA, at(t0), at(t0 + 120), { 800, 600 });
        const QVector<GraphSample>& s = w.measures();
        QCOMPARE(s.size(), 3);
        QCOMPARE(s[0].msecs, t0 * 1000);
        QCOMPARE(s[0].time, at(t0));
        QVERIFY(s[0].hasTemperature && !s[0].hasWetness);
        QCOMPARE(s[0].temperature, 20.5);
        QVERIFY(!s[1].hasTemperature && s[1].hasWetness);
        QCOMPARE(s[1].wetness, 80.25);
        QCOMPARE(s[2].msecs, (t0 + 120) * 1000);
        QCOMPARE(w.model().startMs, t0 * 1000);
        QCOMPARE(w.model().endMs, (t0 + 120) * 1000);
        QCOMPARE(w.image().size(), QSize(800, 600));

        // The loading thread keeps no reader open: a truncating checkpoint goes through.
        QSqlQuery checkpoint(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        QVERIFY(checkpoint.next());
        QCOMPARE(checkpoint.value(0).toInt(), 0);
        QCOMPARE(QFileInfo(QStringLiteral("data/measurement.db3-wal")).size(), 0);
    }

    // Requests during a load are served by exactly one more load, for the latest of them.
    void requestsDuringALoadGiveOneMore()
    {
        measure(1, t0, 20.0, 50.0);
        measure(1, t0 + 60, 21.0, 51.0);
        measure(2, t0 + 30, 5.0, 5.0);
        GraphWidget w;
        w.resize(400, 300);
        QSignalSpy done(&w, &GraphWidget::measuresLoaded);
        w.loadMeasures(sensorA, at(t0), at(t0 + 60));
        w.loadMeasures(sensorB, at(t0), at(t0 + 60));
        w.loadMeasures(sensorA, at(t0), at(t0 + 30));
        QCOMPARE(w.loadsStarted(), 1);
        QVERIFY(w.loading());
        QTRY_VERIFY_WITH_TIMEOUT(!w.loading(), 10000);
        QCOMPARE(w.loadsStarted(), 2);
        QCOMPARE(done.size(), 2);
        QCOMPARE(w.measures().size(), 1);
        QCOMPARE(w.measures().first().temperature, 20.0);
    }

    void timesAfter2038()
    {
        const qint64 late = 2191741200LL; // 2039-06-15 09:00:00 UTC
        measure(1, late, 35.7, 50.0);
        measure(1, late + 60, -3.2, 50.0);
        GraphWidget w;
        load(w, sensorA, at(late - 60), at(late + 60), { 800, 600 });
        QCOMPARE(w.measures().size(), 2);
        QCOMPARE(w.measures().first().msecs, late * 1000);
        QCOMPARE(w.model().tempMax, 36);
        QCOMPARE(w.model().tempMin, -4);
        QCOMPARE(GraphModel::timeLabel(w.model().startMs, 0), QStringLiteral("2039-06-15 11:59:00"));
    }

    void noSensorChosenDrawsTheEmptyChart()
    {
        measure(1, t0, 20.0, 80.0);
        GraphWidget w;
        load(w, QString(), at(t0 - 60), at(t0 + 60), { 640, 480 });
        QVERIFY(w.measures().isEmpty());
        QCOMPARE(w.model().tempMin, 4);
        QCOMPARE(w.model().wetnessMax, 101);
        QVERIFY(isBackground(w.image().pixel(5, 5)));
        // The axes are there: the value axis of the temperature pane runs down x = 24.5.
        QVERIFY(isDark(w.image().pixel(24, 150)));
    }

    void thresholdsFollowTheSensorByAddress()
    {
        Sensor* own = new Sensor;
        own->EUI64 = sensorA;
        own->isEnabled = true;
        own->tMinCritical = -20;
        own->tMaxCritical = 50;
        work->state->sensors << new Sensor << own; // not at the position the tree would have used
        GraphWidget w;
        load(w, sensorA, at(t0), at(t0 + 60), { 640, 480 });
        QCOMPARE(w.model().thresholds[GraphModel::TMaxCritical], 50.0f);
        QCOMPARE(w.model().tempMin, -21);
        load(w, sensorB, at(t0), at(t0 + 60)); // in the database, not in the registry
        QCOMPARE(w.model().thresholds[GraphModel::TMaxCritical], 30.0f);
        own->isEnabled = false;
        load(w, sensorA, at(t0), at(t0 + 60));
        QCOMPARE(w.model().thresholds[GraphModel::TMaxCritical], 30.0f);
    }

    void paintsThresholdsJoinedAndBrokenSegments()
    {
        work->state->BreakInterval = 120;
        measure(1, t0, 20.0, 80.0);
        measure(1, t0 + 60, 20.0, 80.0); // joined to the first
        measure(1, t0 + 300, 20.0, 80.0); // after a break
        GraphWidget w;
        load(w, sensorA, at(t0 - 60), at(t0 + 420), { 800, 600 });
        const GraphModel& m = w.model();
        const QImage& img = w.image();

        QVERIFY(isBackground(img.pixel(5, 5)));
        QVERIFY(isBackground(img.pixel(795, 300)));

        // The critical maximum (30 °C) as a dashed line on its row, nothing of it elsewhere.
        const int row = int(m.thresholdY(GraphModel::TMaxCritical));
        auto greenIn = [&](int y) {
            int n = 0;
            for (int x = 100; x < 700; ++x)
                n += isGreen(img.pixel(x, y));
            return n;
        };
        QVERIFY(greenIn(row) + greenIn(row - 1) > 100);
        QCOMPARE(greenIn(row - 4), 0);
        QCOMPARE(greenIn(row + 3), 0);

        const int y = int(m.y(GraphPane::Temperature, 20.0));
        auto darkNear = [&](int x) { return isDark(img.pixel(x, y)) || isDark(img.pixel(x, y - 1)); };
        const int joined = awayFromGrid(m, int((m.x(t0 * 1000) + m.x((t0 + 60) * 1000)) / 2));
        QVERIFY(darkNear(joined));
        const int broken = awayFromGrid(m, int((m.x((t0 + 60) * 1000) + m.x((t0 + 300) * 1000)) / 2));
        QVERIFY(!darkNear(broken));
        for (int dy = -3; dy <= 3; ++dy)
            QVERIFY(isBackground(img.pixel(broken, y + dy)));

        // The mark of a sample, in Color/node (red).
        const QRgb mark = img.pixel(int(m.x(t0 * 1000) - 0.5), int(y - 0.5 + 0.5));
        QVERIFY2(qRed(mark) > 200 && qGreen(mark) < 120 && qBlue(mark) < 120, qPrintable(QString::number(mark, 16)));
    }

    void cursorFollowsTheLeftButton()
    {
        GraphWidget w;
        load(w, QString(), at(t0), at(t0 + 600), { 800, 600 });
        auto send = [&](QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
            QMouseEvent e(type, pos, w.mapToGlobal(pos), button, buttons, Qt::NoModifier);
            QApplication::sendEvent(&w, &e);
        };
        send(QEvent::MouseButtonPress, { 400, 100 }, Qt::LeftButton, Qt::LeftButton);
        QCOMPARE(w.cursorPositionX(), 400.0);
        QCOMPARE(w.cursorPositionY(), 100.0);

        // The overlay: a dotted dark grey line in the cursor's column, the value at the left.
        const QImage overlay = w.grab().toImage();
        int grey = 0;
        for (int y = 11; y < 287; ++y)
            grey += overlay.pixel(400, y) == QColor(Qt::darkGray).rgb();
        QVERIFY(grey > 50);
        QVERIFY(overlay != w.image().convertToFormat(overlay.format()));

        send(QEvent::MouseMove, { 410, 120 }, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(w.cursorPositionX(), 410.0);
        send(QEvent::MouseMove, { 420, 120 }, Qt::NoButton, Qt::LeftButton | Qt::RightButton);
        QCOMPARE(w.cursorPositionX(), -10.0);
        send(QEvent::MouseButtonPress, { 400, 100 }, Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseButtonPress, { 400, 100 }, Qt::MiddleButton, Qt::LeftButton | Qt::MiddleButton);
        QCOMPARE(w.cursorPositionX(), -10.0);
        send(QEvent::MouseButtonPress, { 400, 100 }, Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, { 400, 100 }, Qt::LeftButton, Qt::NoButton);
        QCOMPARE(w.cursorPositionX(), -10.0);
        // Without a cursor a paint is the chart alone.
        QCOMPARE(
            w.grab().toImage().convertToFormat(QImage::Format_RGB32), w.image().convertToFormat(QImage::Format_RGB32));
    }

    void rightReleaseOpensTheSaveMenu()
    {
        GraphWidget w;
        w.resize(400, 300);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QStringList seen;
        QTimer closer;
        closer.setInterval(20);
        connect(&closer, &QTimer::timeout, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                for (QAction* a : menu->actions())
                    seen << a->text();
                menu->close();
            }
        });
        closer.start();
        QMouseEvent e(QEvent::MouseButtonRelease, QPointF(100, 100), w.mapToGlobal(QPoint(100, 100)), Qt::RightButton,
            Qt::NoButton, Qt::NoModifier);
        // What the offscreen platform says about every popup; nothing of ours.
        QTest::ignoreMessage(QtWarningMsg, "This plugin does not support raise()");
        QTest::ignoreMessage(QtWarningMsg, "This plugin does not support grabbing the keyboard");
        QApplication::sendEvent(&w, &e);
        closer.stop();
        QCOMPARE(WarningGuard::take(), 2);
        QCOMPARE(seen, QStringList { QStringLiteral("&Сохранить график в PNG") });
        QCOMPARE(w.cursorPositionX(), -10.0);
    }

    void imageFollowsTheWidgetsSize()
    {
        GraphWidget w;
        w.resize(640, 480);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        load(w, QString(), at(t0), at(t0 + 60));
        w.resize(2600, 300); // wider than any screen the chart was once tied to
        QTRY_COMPARE(w.image().size(), QSize(2600, 300));
        QCOMPARE(w.model().tempPane.right(), 2600 - 18.0);
        QCOMPARE(w.model().gridColumns().last(), 9 * 260);
    }

    // More samples than the loading thread holds: the chart comes as its picture only; a resize
    // shows it stretched at once and the chart of the new size follows, the same as one loaded
    // at that size.
    void reducedChartFollowsAResize()
    {
        for (int i = 0; i < 40; ++i)
            measure(1, t0 + 30 * i, 20.0 + (i % 7), i % 5 ? QVariant(60.0 - i) : QVariant());
        GraphWidget held;
        held.setSampleCap(10);
        load(held, sensorA, at(t0), at(t0 + 1500), { 500, 300 });
        QVERIFY(held.measures().isEmpty());

        GraphWidget w;
        w.setSampleCap(10);
        load(w, sensorA, at(t0), at(t0 + 1500), { 640, 480 });
        QVERIFY(w.measures().isEmpty());
        QSignalSpy done(&w, &GraphWidget::measuresLoaded);
        const int started = w.loadsStarted();
        w.resize(500, 300);
        QCoreApplication::sendPostedEvents(&w);
        w.drawChart(); // as the resize does, whether or not the widget is shown
        QCOMPARE(w.image().size(), QSize(500, 300));
        QVERIFY(done.wait(10000));
        QCOMPARE(w.loadsStarted(), started + 1);
        QVERIFY(w.measures().isEmpty());
        QCOMPARE(w.image(), held.image());
        QCOMPARE(w.model().tempMax, held.model().tempMax);
        QCOMPARE(w.model().startMs, held.model().startMs);
    }

    void savesThePictureAsPng()
    {
        measure(1, t0, 20.0, 80.0);
        GraphWidget w;
        load(w, sensorA, at(t0 - 60), at(t0 + 60), { 320, 240 });
        const QString path = work->dir.filePath(QStringLiteral("chart.png"));
        int asked = 0;
        w.setSaveFileNameQuestion([&](QWidget* parent) {
            ++asked;
            return parent == &w ? path : QString();
        });
        w.saveAction()->trigger();
        QCOMPARE(asked, 1);
        QVERIFY(recorder.warnings.isEmpty());

        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"),
            { QStringLiteral(OSTRIVEL_SOURCE_DIR "/tests/ui/pngprobe.py"), path, "0,0", "1,1", "160,5", "320,240" });
        QVERIFY(python.waitForFinished(30000));
        QCOMPARE(python.exitCode(), 0);
        // One column and one row more than the widget; the first of each is transparent.
        QCOMPARE(QString::fromLatin1(python.readAllStandardOutput()).trimmed(),
            QStringLiteral("321 241 6 0,0=0,0,0,0 1,1=255,255,255,255 160,5=255,255,255,255 320,240=255,255,255,255"));
    }

    void cancelledSaveWritesNothing()
    {
        GraphWidget w;
        load(w, QString(), at(t0), at(t0 + 60), { 320, 240 });
        w.setSaveFileNameQuestion([](QWidget*) { return QString(); });
        w.slotSaveToPng();
        QVERIFY(recorder.warnings.isEmpty());
        QCOMPARE(QDir(work->dir.path()).entryList(QDir::Files), QStringList());
    }

    void failedSaveIsReported()
    {
        GraphWidget w;
        load(w, QString(), at(t0), at(t0 + 60), { 320, 240 });
        const QString path = work->dir.filePath(QStringLiteral("missing/chart.png"));
        w.setSaveFileNameQuestion([&](QWidget*) { return path; });
        w.slotSaveToPng();
        QCOMPARE(recorder.warnings.size(), 1);
        QVERIFY(recorder.warnings.first().startsWith(QStringLiteral("Внимание!|")));
        QVERIFY(recorder.warnings.first().endsWith(QDir::toNativeSeparators(path)));
        QVERIFY(!QFile::exists(path));
    }
};

QTEST_MAIN(TestGraphWidget)
#include "tst_graphwidget.moc"

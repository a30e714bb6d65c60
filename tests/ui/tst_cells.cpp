// What the table cells and the sensor tree show: texts, colours, silence and calibration.
#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QHeaderView>
#include <QStandardItemModel>
#include <QTableView>
#include <QtTest>

#include "app/appstate.h"
#include "links/modemmodule.h"
#include "links/zigbeeclient.h"
#include "ui/mymodel.h"
#include "ui/sensortreelook.h"
#include "ui/tablecolumns.h"

namespace
{

void defaults(AppState& c)
{
    c.TemperatureMinCritical = 5;
    c.TemperatureMinWarning = 10;
    c.TemperatureMaxWarning = 25;
    c.TemperatureMaxCritical = 30;
    c.WetnessMinCritical = 60;
    c.WetnessMinWarning = 70;
    c.WetnessMaxWarning = 98;
    c.WetnessMaxCritical = 99;
    c.BreakInterval = 120;
    c.maximalCriticalTemperature = QColor("#ff3232");
    c.maximalNonCriticalTemperature = QColor("#f0be0a");
    c.minimalCriticalTemperature = QColor("#3232ff");
    c.minimalNonCriticalTemperature = QColor("#6eaad2");
    c.maximalCriticalHumidity = QColor("#3232fe");
    c.maximalNonCriticalHumidity = QColor("#6eaad1");
    c.minimalCriticalHumidity = QColor("#ff3231");
    c.minimalNonCriticalHumidity = QColor("#f0be0b");
}

} // namespace

class TestCells : public QObject
{
    Q_OBJECT
private slots:
    void display_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("voltage");
        QTest::addColumn<QVariant>("shown");
        QTest::newRow("plain") << 0 << QVariant(QStringLiteral("Склад")) << false << QVariant(QStringLiteral("Склад"));
        QTest::newRow("temperature") << 1 << QVariant(25.5) << false << QVariant(QStringLiteral("25.50"));
        QTest::newRow("humidity rounds") << 2 << QVariant(45.456) << false << QVariant(QStringLiteral("45.46"));
        QTest::newRow("temperature NULL") << 1 << QVariant(QVariant::Double) << false << QVariant(QString());
        QTest::newRow("battery 3.61") << 3 << QVariant(3.61) << false << QVariant(QStringLiteral("Неверные данные"));
        QTest::newRow("battery 3.6") << 3 << QVariant(3.6) << false << QVariant(QStringLiteral("Заряжена"));
        QTest::newRow("battery 2.5") << 3 << QVariant(2.5) << false << QVariant(QStringLiteral("Заряжена"));
        QTest::newRow("battery 2.49") << 3 << QVariant(2.49) << false << QVariant(QStringLiteral("Требуется замена"));
        QTest::newRow("battery NULL") << 3 << QVariant(QVariant::Double) << false
                                      << QVariant(QStringLiteral("Разряжена"));
        QTest::newRow("voltage 3.61") << 3 << QVariant(3.61) << true << QVariant(QStringLiteral("3.61"));
        QTest::newRow("voltage 3.6") << 3 << QVariant(3.6) << true << QVariant(QStringLiteral("3.60"));
        QTest::newRow("voltage NULL") << 3 << QVariant(QVariant::Double) << true << QVariant(QStringLiteral("0.00"));
    }
    void display()
    {
        QFETCH(int, kind);
        QFETCH(QVariant, stored);
        QFETCH(bool, voltage);
        QFETCH(QVariant, shown);
        QCOMPARE(MyModel::displayText(kind, stored, voltage), shown);
    }

    void background_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("rowName");
        QTest::addColumn<QVariant>("colour");
        const QVariant none;
        QTest::newRow("25.5 above warning") << 1 << QVariant(25.5) << "Цех" << QVariant(QColor("#f0be0a"));
        QTest::newRow("25 on warning") << 1 << QVariant(25.0) << "Цех" << none;
        QTest::newRow("30.1 above critical") << 1 << QVariant(30.1) << "Цех" << QVariant(QColor("#ff3232"));
        QTest::newRow("4 below critical") << 1 << QVariant(4.0) << "Цех" << QVariant(QColor("#3232ff"));
        QTest::newRow("9 below warning") << 1 << QVariant(9.0) << "Цех" << QVariant(QColor("#6eaad2"));
        QTest::newRow("humidity NULL grey")
            << 2 << QVariant(QVariant::Double) << "Цех" << QVariant(QColor(200, 200, 200));
        QTest::newRow("humidity 99.5") << 2 << QVariant(99.5) << "Цех" << QVariant(QColor("#3232fe"));
        QTest::newRow("battery NULL red") << 3 << QVariant(QVariant::Double) << "Цех" << QVariant(QColor(255, 50, 50));
        QTest::newRow("battery fine") << 3 << QVariant(3.0) << "Цех" << none;
        // The second sensor named "Twin" has its own thresholds on: humidity above 80 warns.
        QTest::newRow("own thresholds by name") << 2 << QVariant(85.0) << "Twin" << QVariant(QColor("#6eaad1"));
        QTest::newRow("configured for others") << 2 << QVariant(85.0) << "Цех" << none;
    }
    void background()
    {
        QFETCH(int, kind);
        QFETCH(QVariant, stored);
        QFETCH(QString, rowName);
        QFETCH(QVariant, colour);
        AppState c;
        defaults(c);
        auto* off = new Sensor;
        off->name = QStringLiteral("Twin");
        off->hMaxNoncritical = 50;
        auto* on = new Sensor;
        on->name = QStringLiteral("Twin");
        on->isEnabled = true;
        on->hMinCritical = 10;
        on->hMinNoncritical = 20;
        on->hMaxNoncritical = 80;
        on->hMaxCritical = 90;
        c.sensors << off << on;
        QCOMPARE(MyModel::background(kind, stored, MyModel::limitsFor(kind, rowName, c), c), colour);
    }

    // A row naming its sensor by address, after the cells shown, is coloured by that sensor's
    // thresholds, not by the first of its name's; thresholds switched on show once restyled.
    void rowColours_data()
    {
        QTest::addColumn<QString>("address"); // empty: a row known by its name only
        QTest::addColumn<QVariant>("colour");
        QTest::newRow("its own sensor, not the first of its name") << "000D6F0000C0A004" << QVariant();
        QTest::newRow("own thresholds switched on") << "" << QVariant(QColor("#f0be0a"));
    }
    void rowColours()
    {
        QFETCH(QString, address);
        QFETCH(QVariant, colour);
        AppState c;
        defaults(c);
        c.sensors << new Sensor << new Sensor;
        c.sensors[0]->name = c.sensors[1]->name = QStringLiteral("Датчик3");
        c.sensors[1]->EUI64 = QStringLiteral("000D6F0000C0A004");
        MyModel model(2);
        model.columnKinds[1] = MyModel::Temperature;
        QVector<QVariant> row { c.sensors[0]->name, 23.0 };
        model.setRows({ address.isEmpty() ? row : row << address });
        model.data(model.index(0, 1), Qt::BackgroundRole); // drawn before the switch
        c.sensors[0]->isEnabled = true; // its own maximum warning, 5
        model.restyle();
        QCOMPARE(model.data(model.index(0, 1), Qt::BackgroundRole), colour);
    }

    void silence_data()
    {
        QTest::addColumn<qint64>("elapsed");
        QTest::addColumn<QString>("text");
        const QString head = QStringLiteral("Датчик не выходил на связь\n");
        QTest::newRow("3600") << qint64(3600) << head + "1 часов ";
        QTest::newRow("3660") << qint64(3660) << head + "1 часов 1 минут ";
        QTest::newRow("3659") << qint64(3659) << head + "1 часов 59 секунд";
        QTest::newRow("121") << qint64(121) << head + "2 минут 1 секунд";
    }
    void silence()
    {
        QFETCH(qint64, elapsed);
        QFETCH(QString, text);
        QCOMPARE(SensorTreeLook::silenceText(elapsed), text);
    }

    void sensorLook_data()
    {
        QTest::addColumn<qint64>("silentMs");
        QTest::addColumn<bool>("online");
        QTest::addColumn<double>("temperature");
        QTest::addColumn<QColor>("background");
        QTest::addColumn<QColor>("foreground");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<QString>("toolTip");
        QTest::newRow("fine") << qint64(1000) << true << 20.0 << QColor(Qt::white) << QColor(Qt::black) << false
                              << "Темп: 20.00  Влажн: 80.00";
        QTest::newRow("critical bound included") << qint64(1000) << true << 30.0 << QColor(Qt::white)
                                                 << QColor(230, 0, 0) << true << "Темп: 30.00  Влажн: 80.00";
        QTest::newRow("warning bound included") << qint64(1000) << true << 25.0 << QColor(Qt::white)
                                                << QColor(150, 0, 0) << false << "Темп: 25.00  Влажн: 80.00";
        QTest::newRow("just before the break") << qint64(119999) << true << 20.0 << QColor(Qt::white)
                                               << QColor(Qt::black) << false << "Темп: 20.00  Влажн: 80.00";
        QTest::newRow("at the break") << qint64(120000) << true << 20.0 << QColor(Qt::red) << QColor(Qt::black) << true
                                      << "Датчик не выходил на связь\n2 минут ";
        QTest::newRow("never heard") << qint64(120000) << false << 20.0 << QColor(Qt::red) << QColor(Qt::black) << true
                                     << "Датчик ещё не выходил на связь";
        QTest::newRow("clock set back") << qint64(-3600000) << true << 20.0 << QColor(Qt::white) << QColor(Qt::black)
                                        << false << "Темп: 20.00  Влажн: 80.00";
    }
    void sensorLook()
    {
        QFETCH(qint64, silentMs);
        QFETCH(bool, online);
        QFETCH(double, temperature);
        QFETCH(QColor, background);
        QFETCH(QColor, foreground);
        QFETCH(bool, bold);
        QFETCH(QString, toolTip);
        AppState c;
        defaults(c);
        Sensor s;
        s.online = online;
        s.lastSeen = 1000000000000;
        s.lastData.hasTemperature = s.lastData.hasWetness = true;
        s.lastData.temperature = temperature;
        s.lastData.wetness = 80;
        const ItemLook look = SensorTreeLook::sensor(s, c, s.lastSeen + silentMs);
        QCOMPARE(look.background, background);
        QCOMPARE(look.foreground, foreground);
        QCOMPARE(look.bold, bold);
        QCOMPARE(SensorTreeLook::sensorToolTip(s, c, s.lastSeen + silentMs), toolTip);
    }

    void gatewayLook()
    {
        Location room;
        room.name = QStringLiteral("Склад");
        room.ip = QStringLiteral("10.0.0.7");
        room.EUI64 = QStringLiteral("000D6F0000000001");
        ItemLook look = SensorTreeLook::gatewayLocation(room);
        QCOMPARE(look.text, QStringLiteral("Склад  (10.0.0.7)  -  000D6F0000000001"));
        QCOMPARE(look.background, QColor(Qt::red));
        QCOMPARE(look.toolTip, QStringLiteral("Клиент в данный момент не подключен к серверу"));
        ZigBeeClient client;
        client.statusText = QStringLiteral("Нет ответа");
        room.client = &client;
        look = SensorTreeLook::gatewayLocation(room);
        QCOMPARE(look.foreground, QColor(Qt::red));
        QCOMPARE(look.toolTip, QStringLiteral("ZigBee модем не инициализирован : Нет ответа"));
        client.modemConnected = true;
        client.PanID = QStringLiteral("1A2B");
        client.ExtendedPanID = QStringLiteral("00112233AABBCCDD");
        look = SensorTreeLook::gatewayLocation(room);
        QCOMPARE(look.toolTip, QStringLiteral("EPID сети: 00112233AABBCCDD\nPID сети: 1A2B"));
    }

    void calibration_data()
    {
        QTest::addColumn<int>("daysToAnniversary");
        QTest::addColumn<bool>("due");
        QTest::newRow("59 days") << 59 << true;
        QTest::newRow("60 days") << 60 << false;
        QTest::newRow("already past") << -3 << true;
    }
    void calibration()
    {
        QFETCH(int, daysToAnniversary);
        QFETCH(bool, due);
        const QDate today(2026, 12, 7);
        QCOMPARE(SensorTreeLook::calibrationDue(today, today.addDays(daysToAnniversary).addYears(-1)), due);
        QVERIFY(SensorTreeLook::calibrationDue(today, QDate()));
    }

    void repeaters()
    {
        QVector<ModemNode> nodes(4);
        nodes[0].DeviceType = QStringLiteral("FFD");
        nodes[1].DeviceType = QStringLiteral("ffd");
        nodes[2].DeviceType = QStringLiteral("SED");
        nodes[3].DeviceType = QStringLiteral("FFD");
        QCOMPARE(SensorTreeLook::repeaterCount(nodes), 2);
    }

    // New rows of a table reach the view as the rows that came, left or changed, never as a
    // reset: the view keeps its place and redraws what changed.
    void rowsArriveAsChanges_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("reported"); // i<first>-<last>, r<first>-<last>, c<row>[.<column>]
        QTest::newRow("same rows") << "a b c"
                                   << "a b c"
                                   << "";
        QTest::newRow("newest on top, oldest out") << "c d e f"
                                                   << "a b c d"
                                                   << "i0-1 r4-5";
        QTest::newRow("appended") << "a b"
                                  << "a b c d"
                                  << "i2-3";
        QTest::newRow("left from the middle") << "a b c d"
                                              << "a d"
                                              << "r1-2";
        QTest::newRow("a name changed: its row") << "a b c"
                                                 << "a B c"
                                                 << "c1";
        QTest::newRow("a value changed: its cell") << "a b c"
                                                   << "a b=7 c"
                                                   << "c1.1";
        QTest::newRow("emptied") << "a b"
                                 << ""
                                 << "r0-1";
        QTest::newRow("twice the same row") << "a a b"
                                            << "a b b"
                                            << "r1-1 i2-2";
        QTest::newRow("reordered") << "a b"
                                   << "b a"
                                   << "c0 c1";
    }
    void rowsArriveAsChanges()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(QString, reported);
        auto rows = [](const QString& names) {
            QVector<QVector<QVariant>> list;
            // A name, and a value after "=" or one of its case.
            for (const QString& cell : names.split(' ', Qt::SkipEmptyParts)) {
                const QString n = cell.section('=', 0, 0);
                list.append({ n, cell.contains('=') ? cell.section('=', 1).toDouble() : n.toUpper() == n ? 1.0 : 0.5 });
            }
            return list;
        };
        MyModel model(2);
        model.setRows(rows(before));
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        bool changed = false;
        QCOMPARE(changesOf(model, rows(after), &changed), reported);
        QCOMPARE(changed, before != after);
        QCOMPARE(model.rowCount(), rows(after).size());
        for (int r = 0; r < model.rowCount(); ++r) {
            QCOMPARE(model.stored(r, 0), rows(after)[r][0]);
            QCOMPARE(model.stored(r, 1), rows(after)[r][1]);
        }
    }

    // Whatever came before, the model ends with exactly the rows handed over, and tells the
    // same changes as a model that saw only the list before. Half the lists are made as a reload
    // makes them: the rows of the last one handed on, a few replaced, added or dropped.
    void rowsEndAsHandedOver()
    {
        QRandomGenerator random(29);
        const auto randomRow = [&random] {
            return QVector<QVariant> { int(random.bounded(6)),
                random.bounded(3) == 0 ? QVariant() : QVariant(random.bounded(2)) };
        };
        MyModel model(2);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVector<QVector<QVariant>> before;
        for (int round = 0; round < 600; ++round) {
            QVector<QVector<QVariant>> rows = before;
            if (round % 2 == 0) {
                rows.resize(int(random.bounded(12)));
                for (QVector<QVariant>& row : rows)
                    row = randomRow();
            } else {
                for (int k = int(random.bounded(4)); k > 0; --k) {
                    const int at = int(random.bounded(rows.size() + 1));
                    const int what = int(random.bounded(3)); // insert, remove, replace
                    if (what == 0)
                        rows.insert(at, randomRow());
                    else if (at < rows.size() && what == 1)
                        rows.remove(at);
                    else if (at < rows.size())
                        rows[at] = randomRow();
                }
            }
            MyModel fresh(2);
            fresh.setRows(before);
            QCOMPARE(changesOf(model, rows), changesOf(fresh, rows));
            QCOMPARE(model.rowCount(), rows.size());
            for (int r = 0; r < rows.size(); ++r) {
                QCOMPARE(model.stored(r, 0), rows[r][0]);
                QCOMPARE(model.stored(r, 1), rows[r][1]);
            }
            before = rows;
        }
    }

    // Widths taken from texts measured at earlier loads give the columns a fresh measure gives,
    // load after load (texts seen again, longer ones, fewer rows, a grid or none), and every
    // text on screen fits its column.
    // Row numbers keep the width Qt's own header gives them as the count of rows and the font
    // change: a number is never cut.
    void rowNumbersFollowTheRows()
    {
        QStandardItemModel model(9, 1);
        QTableView numbered, plain;
        TableColumns::numberRows(&numbered);
        numbered.setModel(&model);
        plain.setModel(&model);
        const auto width = [](const QTableView& view) { return view.verticalHeader()->sizeHint().width(); };
        QCOMPARE(width(numbered), width(plain));
        const int oneDigit = width(plain);
        model.setRowCount(12000);
        QVERIFY(width(plain) > oneDigit);
        QCOMPARE(width(numbered), width(plain));
        QFont larger = plain.font();
        larger.setPointSize(larger.pointSize() * 2);
        numbered.setFont(larger);
        plain.setFont(larger);
        QCOMPARE(width(numbered), width(plain));
        model.setRowCount(3);
        QCOMPARE(width(numbered), width(plain));
    }

    void remeasuredColumnsMatchAFreshMeasure_data()
    {
        QTest::addColumn<bool>("grid");
        QTest::newRow("grid") << true;
        QTest::newRow("no grid") << false;
    }
    void remeasuredColumnsMatchAFreshMeasure()
    {
        QFETCH(bool, grid);
        QStandardItemModel model;
        QTableView fresh, remembered;
        TableColumns::TextWidths widths;
        for (QTableView* view : { &fresh, &remembered }) {
            view->setModel(&model);
            view->setShowGrid(grid);
            view->horizontalHeader()->setMinimumSectionSize(10);
            view->horizontalHeader()->setDefaultSectionSize(10);
            view->verticalHeader()->setDefaultSectionSize(22);
            view->resize(900, 600); // 20 rows fit
            view->show();
            QVERIFY(QTest::qWaitForWindowExposed(view));
        }
        const QStringList texts { "1", "19.12", "-40.00", "Заряжена", "Датчик 26", "Помещение с длинным именем" };
        QRandomGenerator random(7);
        for (int round = 0; round < 30; ++round) {
            model.clear();
            const int rows = 1 + random.bounded(20);
            for (int r = 0; r < rows; ++r) {
                QList<QStandardItem*> row;
                for (int c = 0; c < 3; ++c)
                    row << new QStandardItem(texts[random.bounded(round < 10 ? 3 : texts.size())]);
                model.appendRow(row);
            }
            QCoreApplication::processEvents();
            TableColumns::TextWidths once;
            TableColumns::growToContents(&fresh, &once);
            TableColumns::growToContents(&remembered, &widths);
            for (int c = 0; c < 3; ++c) {
                QCOMPARE(remembered.columnWidth(c), fresh.columnWidth(c));
                for (int r = 0; r < rows; ++r)
                    QVERIFY(fresh.sizeHintForIndex(model.index(r, c)).width() <= fresh.columnWidth(c));
            }
        }
    }

private:
    // What the model tells its views while it takes `rows`: i<first>-<last>, r<first>-<last>,
    // c<row> (a whole row), c<row>.<column> (a cell) and reset, in order; whether setRows saw a
    // change goes to `changed`.
    QString changesOf(MyModel& model, const QVector<QVector<QVariant>>& rows, bool* changed = nullptr)
    {
        QStringList seen;
        QObject listener;
        connect(&model, &QAbstractItemModel::rowsInserted, &listener,
            [&](const QModelIndex&, int a, int b) { seen << QStringLiteral("i%1-%2").arg(a).arg(b); });
        connect(&model, &QAbstractItemModel::rowsRemoved, &listener,
            [&](const QModelIndex&, int a, int b) { seen << QStringLiteral("r%1-%2").arg(a).arg(b); });
        connect(&model, &QAbstractItemModel::dataChanged, &listener,
            [&](const QModelIndex& a, const QModelIndex& b) {
                QVERIFY(a.row() == b.row());
                if (a == b && model.columnCount() > 1)
                    seen << QStringLiteral("c%1.%2").arg(a.row()).arg(a.column());
                else
                    seen << (a.column() == 0 && b.column() == model.columnCount() - 1 ? QStringLiteral("c%1").arg(a.row())
                                                                                     : QStringLiteral("?"));
            });
        connect(&model, &QAbstractItemModel::modelReset, &listener, [&] { seen << QStringLiteral("reset"); });
        const bool didChange = model.setRows(rows);
        if (changed)
            *changed = didChange;
        return seen.join(' ');
    }
};

QTEST_MAIN(TestCells)
#include "tst_cells.moc"

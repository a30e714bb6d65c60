// The main window's sensor tree: the check boxes and the current sensor, updates kept up to
// date against a window built afresh, and the rows' decoration, on a SQLite database of its own.
#include <QRandomGenerator>
#include <QtTest>

#include <functional>

#include "mainwindowtest.h"
#include "ui/mymodel.h"
#include "ui_mainwindow.h"

// A change to the registry or the thresholds, made between two refreshes.
using RegistryChange = std::function<void(AppState&)>;
Q_DECLARE_METATYPE(RegistryChange)

class TestMainWindowTree : public MainWindowTest
{
    Q_OBJECT
private slots:
    void treePropagation()
    {
        MainWindow* w = window();
        QTreeWidgetItem* room = state->locations[1]->treeItem;
        QCOMPARE(room->childCount(), 3);
        const int before = w->refreshes;
        state->sensors[0]->treeItem->setCheckState(0, Qt::Unchecked);
        QCOMPARE(room->checkState(0), Qt::PartiallyChecked);
        settle(w);
        QCOMPARE(w->refreshes, before + 1);
        QCOMPARE(w->modelSensors->rowCount(), 2);

        state->sensors[1]->treeItem->setCheckState(0, Qt::Unchecked);
        state->sensors[2]->treeItem->setCheckState(0, Qt::Unchecked);
        QCOMPARE(room->checkState(0), Qt::Unchecked);
        settle(w);
        QCOMPARE(w->modelSensors->rowCount(), 0);

        room->setCheckState(0, Qt::Checked);
        for (const Sensor* s : state->sensors)
            QCOMPARE(s->treeItem->checkState(0), Qt::Checked);
        settle(w);
        QCOMPARE(w->modelSensors->rowCount(), 3);

        w->slotUncheckAll();
        settle(w);
        QCOMPARE(w->modelLocations->rowCount(), 0);
        delete w;
    }

    void currentSensorFollowsTheTree()
    {
        MainWindow* w = window();
        QCOMPARE(w->currentEUI64, QStringLiteral("000D6F0000000001"));
        w->ui->listSensors->setCurrentItem(state->sensors[2]->treeItem);
        QCOMPARE(w->currentEUI64, QStringLiteral("000D6F0000000003"));
        QCOMPARE(w->currentSensorIndex, 2);
        w->ui->listSensors->setCurrentItem(state->locations[1]->treeItem);
        QCOMPARE(w->currentEUI64, QStringLiteral("000D6F0000000003"));
        delete w;
    }

    // A flood of new sensors updates the tree once, with a refresh after it that decorates the
    // new items; every room stays unfolded or folded as the user left it.
    void treeRebuildsAreCoalesced()
    {
        MainWindow* w = window();
        const int builds = w->treeBuilds;
        const int updates = w->treeUpdates;
        state->locations[0]->treeItem->setExpanded(false);
        state->locations[1]->treeItem->setExpanded(true);
        for (int i = 0; i < 50; ++i) {
            auto* s = new Sensor;
            s->EUI64 = QStringLiteral("000D6F00000100%1").arg(i, 2, 10, QLatin1Char('0'));
            s->location = 1;
            state->sensors << s;
            w->slotRegistryAppended();
            w->slotRefresh();
        }
        QCOMPARE(w->treeUpdates, updates);
        settle(w);
        QCOMPARE(w->treeUpdates, updates + 1);
        QCOMPARE(w->treeBuilds, builds); // the new items only, never the whole tree
        QCOMPARE(state->locations[1]->treeItem->childCount(), 53);
        QVERIFY(state->sensors.last()->treeItem);
        QVERIFY(!state->locations[0]->treeItem->isExpanded());
        QVERIFY(state->locations[1]->treeItem->isExpanded());
        delete w;
    }

    // Every room with its sensors' texts, registry indexes and check boxes, in tree order.
    QStringList treeShown(MainWindow* w)
    {
        QStringList lines;
        QTreeWidget* tree = w->ui->listSensors;
        for (int r = 0; r < tree->topLevelItemCount(); ++r) {
            const QTreeWidgetItem* room = tree->topLevelItem(r);
            lines << room->text(0) + QStringLiteral(" %1").arg(room->checkState(0));
            for (int i = 0; i < room->childCount(); ++i) {
                const QTreeWidgetItem* item = room->child(i);
                const int index = item->data(0, Qt::UserRole).toInt();
                lines << QStringLiteral("  %1 %2 %3").arg(item->text(0)).arg(index).arg(item->checkState(0));
                if (state->sensors.value(index) == nullptr || state->sensors[index]->treeItem != item)
                    lines << QStringLiteral("  ^ not the registry's item");
            }
        }
        return lines;
    }

    // Registrations, moves, renames and removals in random order: the tree kept up to date
    // shows what a window built afresh shows.
    // Each change is announced as the program announces it: registrations and new rooms as
    // growth at the registry's end, anything else as a change of the list.
    void treeUpdatesMatchAFreshBuild_data()
    {
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<int>("kinds"); // of the changes below, the first `kinds` per cent
        for (quint32 seed : { 1u, 2u, 3u, 4u, 5u })
            QTest::newRow(qPrintable(QStringLiteral("seed %1, every change").arg(seed))) << seed << 100;
        for (quint32 seed : { 6u, 7u })
            QTest::newRow(qPrintable(QStringLiteral("seed %1, registrations and rooms").arg(seed))) << seed << 55;
    }
    void treeUpdatesMatchAFreshBuild()
    {
        QFETCH(quint32, seed);
        QFETCH(int, kinds);
        QRandomGenerator random(seed);
        MainWindow* w = window();
        int serial = 100;
        for (int round = 0; round < 12; ++round) {
            const int builds = w->treeBuilds;
            bool removed = false;
            bool changedInPlace = false;
            for (int step = 0; step < 6; ++step) {
                const int what = random.bounded(kinds);
                changedInPlace = changedInPlace || what >= 55;
                if (what < 40) {
                    auto* s = new Sensor;
                    s->EUI64 = QStringLiteral("000D6F00000%1").arg(serial++, 5, 10, QLatin1Char('0'));
                    s->name = QStringLiteral("Датчик %1").arg(serial);
                    s->location = random.bounded(state->locations.size() + 1); // one may not exist
                    state->sensors << s;
                } else if (what < 55) {
                    auto* l = new Location;
                    l->name = QStringLiteral("Шлюз %1").arg(serial++);
                    state->locations << l;
                } else if (what < 70 && !state->sensors.isEmpty()) {
                    state->sensors[random.bounded(state->sensors.size())]->location
                        = random.bounded(state->locations.size());
                } else if (what < 80 && !state->sensors.isEmpty()) {
                    state->sensors[random.bounded(state->sensors.size())]->name
                        = QStringLiteral("Новое имя %1").arg(serial++);
                } else if (what < 80 + 5) {
                    state->locations[random.bounded(state->locations.size())]->name
                        = QStringLiteral("Цех %1").arg(serial++);
                } else if (!state->sensors.isEmpty()) {
                    delete state->sensors.takeAt(random.bounded(state->sensors.size()));
                    removed = true;
                }
                if (random.bounded(2)) {
                    if (what < 55)
                        w->slotRegistryAppended();
                    else
                        w->slotRefrSensorList();
                }
            }
            if (changedInPlace)
                w->slotRefrSensorList();
            else
                w->slotRegistryAppended();
            settle(w);
            if (!removed)
                QCOMPARE(w->treeBuilds, builds);
            const QStringList kept = treeShown(w);
            delete w;
            w = window();
            QCOMPARE(kept, treeShown(w));
        }
        delete w;
    }

    // A refresh decorates the rows on screen; rows that unfold into view are decorated then.
    void decorationFollowsRowsIntoView()
    {
        state->sensors[1]->lastSeen = 0; // silent for decades
        MainWindow* w = window();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        w->slotRefresh();
        settle(w);
        QCOMPARE(state->sensors[1]->treeItem->background(0).color(), QColor(Qt::red));
        QCOMPARE(state->sensors[0]->treeItem->background(0).color(), QColor(Qt::white));

        w->ui->listSensors->collapseItem(state->locations[1]->treeItem);
        auto* newcomer = new Sensor; // registered into the folded room: out of view
        newcomer->EUI64 = QStringLiteral("000D6F0000000004");
        newcomer->location = 1;
        state->sensors << newcomer;
        w->slotRefrSensorList();
        settle(w);
        QTreeWidgetItem* silent = newcomer->treeItem;
        QCOMPARE(silent->background(0).style(), Qt::NoBrush);
        w->ui->listSensors->expandItem(state->locations[1]->treeItem);
        QCOMPARE(silent->background(0).color(), QColor(Qt::red));
        QCOMPARE(silent->toolTip(0), QStringLiteral("Датчик ещё не выходил на связь"));
        delete w;
    }

    // A sensor row's look as the decoration leaves it.
    static QString lookOf(const QTreeWidgetItem* item)
    {
        return QStringLiteral("%1 %2 %3 %4 %5")
            .arg(item->background(0).color().name(), item->foreground(0).color().name())
            .arg(item->font(0).bold())
            .arg(item->toolTip(0), item->icon(0).isNull() ? QStringLiteral("-") : QStringLiteral("icon"));
    }

    // A refresh changes the rows whose look changed and no other, and leaves every row as a
    // window built afresh shows it.
    void decorationChangesChangedRowsOnly_data()
    {
        QTest::addColumn<RegistryChange>("change");
        QTest::addColumn<QList<int>>("changed"); // registry indexes of the rows that change
        QTest::newRow("battery only") << RegistryChange([](AppState& c) { c.sensors[0]->lastData.battery = 2.1; })
                                      << QList<int>();
        // Only its tool tip tells: the row is not drawn again.
        QTest::newRow("temperature within its bounds")
            << RegistryChange([](AppState& c) { c.sensors[0]->lastData.temperature = 22.25; }) << QList<int>();
        QTest::newRow("temperature beyond its critical bound")
            << RegistryChange([](AppState& c) { c.sensors[0]->lastData.temperature = 45; }) << QList<int> { 0 };
        QTest::newRow("calibration due") << RegistryChange([](AppState& c) { c.sensors[2]->calibrationDue = true; })
                                         << QList<int> { 2 };
        // Never heard since the start: a text that does not count the seconds.
        QTest::newRow("silent") << RegistryChange([](AppState& c) {
            c.sensors[2]->online = false;
            c.sensors[2]->lastSeen = 0;
        }) << QList<int> { 2 };
        QTest::newRow("a lower critical temperature")
            << RegistryChange([](AppState& c) { c.TemperatureMaxCritical = 20; }) << QList<int> { 0, 2 };
        QTest::newRow("thresholds of its own") << RegistryChange([](AppState& c) {
            c.sensors[0]->isEnabled = true;
            c.sensors[0]->tMinCritical = 25;
            c.sensors[0]->tMaxCritical = 50;
        }) << QList<int> { 0 };
    }
    void decorationChangesChangedRowsOnly()
    {
        QFETCH(RegistryChange, change);
        QFETCH(QList<int>, changed);
        AppState& c = *state;
        for (auto [bound, value] : { std::pair { &c.TemperatureMinCritical, 0 }, { &c.TemperatureMinWarning, 10 },
                 { &c.TemperatureMaxWarning, 30 }, { &c.TemperatureMaxCritical, 40 }, { &c.WetnessMinCritical, 10 },
                 { &c.WetnessMinWarning, 20 }, { &c.WetnessMaxWarning, 70 }, { &c.WetnessMaxCritical, 90 } })
            *bound = value;
        for (Sensor* s : qAsConst(state->sensors)) {
            s->online = true;
            s->lastData = { true, true, true, 21.5, 40.0, 3.0 };
        }
        state->sensors[1]->lastData.wetness = 95;
        state->sensors[1]->calibrationDue = true;
        auto shown = [this] {
            auto* w = window();
            w->show();
            if (QTest::qWaitForWindowExposed(w)) {
                w->slotRefresh();
                settle(w);
            }
            return w;
        };
        MainWindow* w = shown();
        QSet<int> rows;
        connect(w->ui->listSensors->model(), &QAbstractItemModel::dataChanged, w,
            [&rows](const QModelIndex& first) { rows << first.data(Qt::UserRole).toInt(); });
        change(*state);
        w->slotRefresh();
        settle(w);
        QList<int> touched = rows.values();
        std::sort(touched.begin(), touched.end());
        QCOMPARE(touched, changed);
        QStringList looks;
        for (const Sensor* sensor : qAsConst(state->sensors))
            looks << lookOf(sensor->treeItem);
        delete w;
        w = shown();
        for (int i = 0; i < state->sensors.size(); ++i)
            QCOMPARE(looks[i], lookOf(state->sensors[i]->treeItem));
        delete w;
    }
};

QTEST_MAIN(TestMainWindowTree)
#include "tst_mainwindowtree.moc"

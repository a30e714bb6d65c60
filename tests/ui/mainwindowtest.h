#pragma once

// Base of the main window's tests: each case gets a SQLite database of its own with one room
// of three sensors that reported ten seconds ago, and the interface module the window talks to.
#include <QSettings>
#include <QSqlQuery>
#include <QtTest>

#include <memory>

#include "app/appstate.h"
#include "app/sqliteworkspace.h"
#include "storage/measureaggregates.h"
#include "storage/sqlbasemodule.h"
#include "ui/interfacemodule.h"
#include "ui/mainwindow.h"

class MainWindowTest : public QObject
{
    Q_OBJECT
protected:
    // Registers a sensor in the room `location` with one reading, in the registry and the database.
    void addSensor(const QString& eui, const QString& name, int location)
    {
        auto* s = new Sensor;
        s->EUI64 = eui;
        s->name = name;
        s->location = location;
        s->lastSeen = QDateTime::currentMSecsSinceEpoch();
        state->sensors << s;
        QSqlQuery q;
        q.prepare(QStringLiteral(
            "INSERT INTO sensors (EUI64, name, location, sleepInterval, datecheck) VALUES (?,?,?,60,'2026.01.01')"));
        q.addBindValue(eui);
        q.addBindValue(name);
        q.addBindValue(location);
        QVERIFY(q.exec());
        QVERIFY(q.exec(QStringLiteral("INSERT INTO measure (sensor_id, timemeasure, temperature, wetness, battery) "
                                      "SELECT id, strftime('%s','now') - 10, 21.5, 40, 3 FROM sensors WHERE EUI64='")
            + eui + "'"));
        QVERIFY(q.exec(QStringLiteral("INSERT INTO last (sensor_id, timemeasure, temperature, wetness, battery) "
                                      "SELECT id, strftime('%s','now') - 10, 21.5, 40, 3 FROM sensors WHERE EUI64='")
            + eui + "'"));
    }
    // Lets the refresh run and its table queries come back from the loading thread.
    static void settle(MainWindow* w)
    {
        QTest::qWait(20);
        QTRY_VERIFY(!w->loading());
    }
    // A new window, once the refresh at the end of its construction has come back.
    static MainWindow* window()
    {
        auto* w = new MainWindow;
        settle(w); // the refresh at the end of construction
        return w;
    }

    std::unique_ptr<SqliteWorkspace> work;
    AppState* state = nullptr;
    SQLBaseModule* sql = nullptr;
    InterfaceModule* interface = nullptr;

private slots:
    void init()
    {
        work = std::make_unique<SqliteWorkspace>([](AppState& state) {
            state.BreakInterval = 120;
            state.MaxTableRows = 500;
            state.viewSettings = new QSettings(QStringLiteral("data/view.conf"), QSettings::IniFormat);
        });
        state = work->state.get();
        sql = work->sql.get();
        auto* room = new Location;
        room->name = QStringLiteral("Цех");
        state->locations << room;
        QSqlQuery(QStringLiteral("INSERT INTO locations VALUES (1, 'Цех', '', '')"));
        addSensor(QStringLiteral("000D6F0000000001"), QStringLiteral("Первый"), 1);
        addSensor(QStringLiteral("000D6F0000000002"), QStringLiteral("Второй"), 1);
        addSensor(QStringLiteral("000D6F0000000003"), QStringLiteral("Третий"), 1);
        // The rows went in behind the program's back: the summaries' aggregates are counted again.
        QVERIFY(MeasureAggregates::build(sql->db, 0, nullptr));
        interface = new InterfaceModule;
    }
    void cleanup()
    {
        delete interface;
        QSettings* view = state->viewSettings;
        work.reset();
        delete view;
    }
};

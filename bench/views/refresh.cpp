// GUI-thread CPU time of one refresh of the summary (or measurement) tab, in this process.
#include <QDateTime>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

#include "app/appstate.h"
#include "bench/percentile.h"
#include "bench/views/viewsbench.h"
#include "storage/sqlbasemodule.h"
#include "ui/interfacemodule.h"
#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

using namespace ViewsBench;

int refreshScenario(int sensors, int refreshes, int tab)
{
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QDir().mkdir(QStringLiteral("data"));
    AppState state;
    state.loadConfig();
    SQLBaseModule sql;
    state.followDatabase(sql);
    sql.init(0, QString(), QString(), QString(), QString(), 0);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QSqlDatabase db = QSqlDatabase::database();
    db.transaction();
    QSqlQuery q;
    const int rooms = std::max(1, sensors / 50);
    for (int r = 0; r < rooms; ++r) {
        auto* l = new Location;
        l->name = QStringLiteral("Помещение %1").arg(r);
        state.locations << l;
        q.exec(QStringLiteral("INSERT INTO locations (id, name, EUI64, ip) VALUES (%1, '%2', '', '')")
                   .arg(r)
                   .arg(l->name));
    }
    for (int i = 0; i < sensors; ++i) {
        auto* s = new Sensor;
        s->EUI64 = QStringLiteral("00137A%1").arg(i, 10, 16, QLatin1Char('0')).toUpper();
        s->name = QStringLiteral("Датчик %1").arg(i);
        s->location = i % rooms;
        s->online = true;
        s->lastSeen = now * 1000;
        s->lastData = { true, true, true, 20.0 + i % 15, 50.0 + i % 40, 3.0 };
        state.sensors << s;
        q.prepare(QStringLiteral("INSERT INTO sensors (id, EUI64, name, location, sleepInterval, datecheck) VALUES "
                                 "(?,?,?,?,60,'2026.01.01')"));
        q.addBindValue(i + 1);
        q.addBindValue(s->EUI64);
        q.addBindValue(s->name);
        q.addBindValue(s->location);
        q.exec();
        for (const char* table : { "measure", "last" }) {
            q.prepare(QStringLiteral(
                "INSERT INTO %1 (sensor_id, timemeasure, temperature, wetness, battery) VALUES (?,?,?,?,3.0)")
                          .arg(QLatin1String(table)));
            q.addBindValue(i + 1);
            q.addBindValue(now - 60);
            q.addBindValue(s->lastData.temperature);
            q.addBindValue(s->lastData.wetness);
            q.exec();
        }
    }
    db.commit();

    InterfaceModule interface;
    interface.slotStopInitializing();
    MainWindow* w = interface.mainWindow;
    w->resize(1579, 900);
    w->ui->tabWidget->setCurrentIndex(tab);
    w->show();
    auto settle = [w](int before) {
        waitFor([&] { return w->refreshes > before && !w->loading(); }, 60000);
        QCoreApplication::processEvents();
    };
    settle(0);
    QVector<double> cost;
    for (int i = 0; i < refreshes; ++i) {
        const int before = w->refreshes;
        const double start = threadCpuMs();
        w->slotRefresh();
        settle(before);
        cost << threadCpuMs() - start;
    }
    std::printf("refresh of tab %d, %d sensors in %d rooms, window shown: GUI thread median %.2f ms, "
                "p90 %.2f ms (of %d)\n",
        tab, sensors, rooms, percentile(cost, 0.5), percentile(cost, 0.9), refreshes);
    interface.slotStopModule();
    sql.slotStopModule();
    return 0;
}

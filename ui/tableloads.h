#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVariantList>

#include "ui/loadgate.h"
#include "ui/tablecolumns.h"
#include "ui/tableloader.h"
#include "storage/tablequeries.h"

class MyModel;
class SensorTree;

namespace Ui
{
class MainWindow;
}

// The main window's three tables (rooms, sensors, measurements): their models, with the
// column states saved in the view settings, and their loads. A load reads the checked sensors
// and the time filter when it starts and runs in a loading thread, so the window stays
// responsive however long it takes; one query per table runs at a time and one asked for
// meanwhile runs after it (LoadGate), unless its tab is no longer current by then.
class TableLoads : public QObject
{
    Q_OBJECT
public:
    // `timeFilter` is the window's condition on m.timemeasure; it outlives this object.
    TableLoads(Ui::MainWindow* ui, const SensorTree* tree, const QString* timeFilter, QObject* parent = nullptr);
    // Ends the load under way at once, so closing never waits for a long period's query.
    ~TableLoads() override;

    // The model of a TableQueries::Table.
    MyModel* model(int table) const;
    void request(int table);
    // A load is under way or waiting for its turn.
    bool busy() const;

private:
    void setupModels();
    void start(int table);
    void loaded(int table, quint64 serial, const TableRows& rows);
    TableRequest inputsOf(int table) const;
    QVariantList timeFilterValues(qint64 nowSeconds) const;

    struct Request {
        quint64 inFlight = 0;
        LoadGate gate;
    };

    Ui::MainWindow* ui;
    const SensorTree* tree;
    const QString* timeFilter;
    MyModel* models[3] = {};
    TableColumns::TextWidths widths[3];
    Request requests[3];
    quint64 serial = 0;
    QThread loaderThread;
    TableLoader* loader = nullptr;
};

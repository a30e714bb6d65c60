#include "ui/tableloads.h"

#include <QDateTime>
#include <QDebug>
#include <QHeaderView>
#include <QSettings>
#include <QTimer>

#include "app/appstate.h"
#include "core/threadscheduling.h"
#include "ui/mymodel.h"
#include "ui/sensortree.h"
#include "ui/tablecolumns.h"
#include "ui_mainwindow.h"

namespace
{

// The tables are asked for at every stored batch, several times a second: each load is
// followed by a rest eight times as long, and at least half a second, so a table spends at
// most about a ninth of a core on loads and shows new rows twice a second at most.
const int kRestPerLoad = 8;
const int kLeastRestMs = 500;

AppState& config()
{
    Q_ASSERT(gAppState);
    return *gAppState;
}

// The type the database was opened with, not one saved since.
int activeDbType()
{
    return config().openDBType >= 0 ? config().openDBType : config().DBType;
}

QTableView* viewOf(Ui::MainWindow* ui, int table)
{
    return table == TableQueries::Locations ? ui->tableViewLocations
        : table == TableQueries::Sensors    ? ui->tableViewSensors
                                            : ui->tableViewTable;
}

} // namespace

TableLoads::TableLoads(Ui::MainWindow* ui, const SensorTree* tree, const QString* timeFilter, QObject* parent)
    : QObject(parent)
    , ui(ui)
    , tree(tree)
    , timeFilter(timeFilter)
{
    loader = new TableLoader;
    loader->moveToThread(&loaderThread);
    connect(loader, &TableLoader::loaded, this, &TableLoads::loaded);
    ThreadScheduling::startBehind(&loaderThread);
    for (Request& r : requests)
        r.gate.restAfterEveryLoad(kRestPerLoad, kLeastRestMs);
    setupModels();
}

TableLoads::~TableLoads()
{
    loader->stop();
    QMetaObject::invokeMethod(loader, &TableLoader::close, Qt::BlockingQueuedConnection);
    loaderThread.quit();
    loaderThread.wait();
    delete loader;
    for (MyModel* model : models)
        delete model;
}

void TableLoads::setupModels()
{
    struct Column {
        const char* header;
        const char* toolTip;
        int kind;
    };
    const Column locations[] = {
        { "Помещение", "Помещение", MyModel::Plain },
        { "Тмин, °C", "Минимальная температура в помещении среди датчиков\nза выбранный промежуток времени",
            MyModel::Temperature },
        { "Тмакс, °C", "Максимальная температура в помещении среди датчиков\nза выбранный промежуток времени",
            MyModel::Temperature },
        { "Tср, °C", "Средняя температура в помещении\nза выбранный промежуток времени", MyModel::Temperature },
        { "Вмин, %", "Минимальная влажность в помещении среди датчиков\nза выбранный промежуток времени",
            MyModel::Humidity },
        { "Вмакс, %", "Максимальная влажность в помещении среди датчиков\nза выбранный промежуток времени",
            MyModel::Humidity },
        { "Вср, %", "Средняя влажность в помещении\nза выбранный промежуток времени", MyModel::Humidity },
    };
    const Column sensors[] = {
        { "Датчик", "Сенсор", MyModel::Plain },
        { "Тмин, °C", "Минимальная температура на датчике\nза выбранный промежуток времени", MyModel::Temperature },
        { "Тмакс, °C", "Максимальная температура на датчике\nза выбранный промежуток времени", MyModel::Temperature },
        { "Tср, °C", "Средняя температура на датчике\nза выбранный промежуток времени", MyModel::Temperature },
        { "Вмин, %", "Минимальная влажность на датчике\nза выбранный промежуток времени", MyModel::Humidity },
        { "Вмакс, %", "Максимальная влажность на датчике\nза выбранный промежуток времени", MyModel::Humidity },
        { "Вср, %", "Средняя влажность на датчике\nза выбранный промежуток времени", MyModel::Humidity },
        { "Батарея", "Последний измеренный заряд батареи", MyModel::Battery },
    };
    const Column table[] = {
        { "Сенсор", nullptr, MyModel::Plain },
        { "Время", nullptr, MyModel::Plain },
        { "Темп.", nullptr, MyModel::Temperature },
        { "Влажн.", nullptr, MyModel::Humidity },
        { "Батарея", nullptr, MyModel::Battery },
    };
    auto make = [](const Column* columns, int count) {
        auto* model = new MyModel(count, nullptr);
        for (int i = 0; i < count; ++i) {
            model->setHeaderData(i, Qt::Horizontal, tr(columns[i].header), Qt::EditRole);
            if (columns[i].toolTip)
                model->setHeaderData(i, Qt::Horizontal, tr(columns[i].toolTip), Qt::ToolTipRole);
            model->columnKinds[i] = columns[i].kind;
        }
        return model;
    };
    models[TableQueries::Locations] = make(locations, 7);
    models[TableQueries::Sensors] = make(sensors, 8);
    models[TableQueries::Measurements] = make(table, 5);
    for (int i = 0; i < 3; ++i) {
        TableColumns::numberRows(viewOf(ui, i));
        // A load that removes rows has the view lay out its header and scroll bars again, and
        // the whole view is repainted: it paints its own background, so that the tab and the
        // window beneath it are not painted again with it.
        viewOf(ui, i)->setAutoFillBackground(true);
        viewOf(ui, i)->setModel(models[i]);
    }
    if (QSettings* view = gAppState ? gAppState->viewSettings : nullptr) {
        ui->tableViewLocations->horizontalHeader()->restoreState(
            view->value(QStringLiteral("MainWindow/TableViewLocations")).toByteArray());
        ui->tableViewSensors->horizontalHeader()->restoreState(
            view->value(QStringLiteral("MainWindow/TableViewSensors")).toByteArray());
        ui->tableViewTable->horizontalHeader()->restoreState(
            view->value(QStringLiteral("MainWindow/TableViewTable")).toByteArray());
    }
    // Titles and sort arrows fit before the first rows arrive: the form's defaults are narrower.
    for (int i = 0; i < 3; ++i)
        TableColumns::growToContents(viewOf(ui, i), &widths[i]);
}

MyModel* TableLoads::model(int table) const
{
    return models[table];
}

bool TableLoads::busy() const
{
    for (const Request& r : requests) {
        if (r.gate.busy())
            return true;
    }
    return false;
}

QVariantList TableLoads::timeFilterValues(qint64 nowSeconds) const
{
    if (ui->radioLast->isChecked())
        return TableQueries::relativeFilter(nowSeconds, ui->comboLast->currentIndex()).values;
    return TableQueries::rangeFilter(ui->dateTimeStart->dateTime().toMSecsSinceEpoch() / 1000,
        ui->dateTimeEnd->dateTime().toMSecsSinceEpoch() / 1000)
        .values;
}

TableRequest TableLoads::inputsOf(int table) const
{
    const QHeaderView* h = viewOf(ui, table)->horizontalHeader();
    TableRequest in;
    in.table = table;
    in.dbType = activeDbType();
    in.sensors = tree->checkedSensors();
    in.everySensor = tree->allSensorsChecked();
    in.registry = tree->changes();
    in.filter = timeFilterValues(QDateTime::currentSecsSinceEpoch());
    in.timeCondition = *timeFilter;
    in.section = h->sortIndicatorSection();
    in.ascending = h->sortIndicatorOrder() == Qt::AscendingOrder;
    in.aggregates = config().aggregatesReady;
    in.batteryBounds = config().batteryBoundsReady;
    in.style = config().DateTimeStyle;
    in.maxRows = config().MaxTableRows;
    return in;
}

void TableLoads::request(int table)
{
    if (requests[table].gate.request())
        start(table);
}

void TableLoads::start(int table)
{
    Request& request = requests[table];
    request.inFlight = ++serial;
    const quint64 id = request.inFlight;
    const TableRequest inputs = inputsOf(table);
    QMetaObject::invokeMethod(
        loader, [target = loader, table, id, inputs] { target->load(table, id, inputs); }, Qt::QueuedConnection);
}

void TableLoads::loaded(int table, quint64 id, const TableRows& rows)
{
    if (table < 0 || table > 2 || requests[table].inFlight != id)
        return;
    Request& request = requests[table];
    request.inFlight = 0;
    if (!rows.error.isEmpty())
        qDebug() << "table query failed:" << rows.error;
    // A rejected query leaves its table empty.
    if (models[table]->setRows(rows.rows))
        TableColumns::growToContents(viewOf(ui, table), &widths[table]);
    const int rest = request.gate.finished(rows.ms);
    if (rest < 0)
        return;
    QTimer::singleShot(rest, this, [this, table] {
        Request& r = requests[table];
        // A table whose tab is no longer current keeps what it shows.
        const int tab = ui->tabWidget->currentIndex();
        if (tab != (table == TableQueries::Measurements ? 1 : 0)) {
            r.gate.abandon();
            return;
        }
        if (r.gate.resume())
            start(table);
    });
}

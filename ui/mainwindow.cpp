#include "ui/mainwindow.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QDebug>
#include <QHeaderView>
#include <QLabel>
#include <QLoggingCategory>
#include <QMenu>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>

#include <algorithm>

#include "app/appstate.h"
#include "app/mainclass.h"
#include "dialogs/dialogabout.h"
#include "dialogs/dialogreport.h"
#include "dialogs/dialogsendreport.h"
#include "dialogs/dialogsensors.h"
#include "dialogs/dialogsettings.h"
#include "links/modemmodule.h"
#include "storage/sqlbasemodule.h"
#include "ui/dialoginfo.h"
#include "ui/graphwidget.h"
#include "ui/interfacemodule.h"
#include "ui/mymodel.h"
#include "ui/sensortreelook.h"
#include "ui/tablecolumns.h"
#include "ui/tablequeries.h"
#include "ui_mainwindow.h"

// The icons live in the program's library; a static library registers them on demand.
static void initResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    Q_UNUSED(done);
}

// The summary statements, about 2 KB each, at every refresh: off unless asked for with
// QT_LOGGING_RULES="ostrivel.views.sql.debug=true".
Q_LOGGING_CATEGORY(lcViewSql, "ostrivel.views.sql", QtInfoMsg)

MainWindow* gMainWindow = nullptr;
int MainWindow::checkDateInterval = 20000;
int MainWindow::updateDevsInterval = 300000;
int MainWindow::retransCountDelay = 60000;
int MainWindow::treeUpdateInterval = 250;

namespace
{

const char* const kRefreshActions[]
    = { "actRefrDirect", "actRefr2sec", "actRefr5sec", "actRefr10sec", "actRefr30sec", "actRefr1min" };

// Where a tree item keeps the registry index of its sensor or location.
constexpr int kSensorRole = Qt::UserRole;
constexpr int kLocationRole = Qt::UserRole + 1;

QSettings* viewSettings()
{
    return gAppState ? gAppState->viewSettings : nullptr;
}

AppState& config()
{
    Q_ASSERT(gAppState);
    return *gAppState;
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , labelRetransCount(new QLabel(this))
{
    initResources();
    gMainWindow = this;
    ui->setupUi(this);
    // The network log keeps its last lines only: every gateway connection adds some, and the
    // gateway port accepts any peer.
    ui->networkPlain->document()->setMaximumBlockCount(kNetworkLogLines);
    fontBold = fontNormal;
    fontBold.setWeight(75);
    setWindowTitle(tr("Tarnel - Ostrivel v") + tr("1.4.2.0"));
    setupTray();

    refreshOnArrival = false;
    refreshBlockCount = 1;
    if (QSettings* view = viewSettings()) {
        restoreGeometry(view->value(QStringLiteral("MainWindow/geometry")).toByteArray());
        restoreState(view->value(QStringLiteral("MainWindow/windowState")).toByteArray(), 0);
    }
    ui->menu_3->addAction(ui->dockSensors->toggleViewAction());
    ui->menu_3->addAction(ui->dockTerminal->toggleViewAction());
    ui->menu_3->addAction(ui->dockNetwork->toggleViewAction());

    slotSensorListInitialisation();

    refreshGroup = new QActionGroup(this);
    refreshGroup->setExclusive(true);
    for (QAction* a :
        { ui->actRefrDirect, ui->actRefr2sec, ui->actRefr5sec, ui->actRefr10sec, ui->actRefr30sec, ui->actRefr1min })
        refreshGroup->addAction(a);

    loader = new TableLoader;
    loader->moveToThread(&loaderThread);
    connect(loader, &TableLoader::loaded, this, &MainWindow::tableLoaded);
    loaderThread.start();

    setupModels();
    graphWidget = new GraphWidget(ui->tabGraphics);
    ui->horizontalLayout_8->addWidget(graphWidget);
    ui->horizontalLayout_8->setContentsMargins(0, 0, 0, 0);
    connectSignals();
    restoreView();

    if (!config().sensors.isEmpty() && config().sensors.first()->treeItem)
        ui->listSensors->setCurrentItem(config().sensors.first()->treeItem);

    timerCheckDate.start(checkDateInterval);
    timerUpdateDevs.setInterval(updateDevsInterval);
    timerUpdateDevs.start();

    --refreshBlockCount;
    slotRefresh();

    retransCount = 0;
    hideStart = config().HideStart;
    if (hideStart && !trayIcon) {
        // Without a system tray a hidden window could never be brought back.
        hideStart = false;
        // After the window's first status text, which the interface module sets once it is built.
        QTimer::singleShot(0, this,
            [this] { statusBar()->showMessage(tr("Системный трей недоступен: окно не будет скрываться"), 10000); });
    }
    labelRetransCount->setText(tr("Количество ретрансляторов в сети: 0"));
    statusBar()->addPermanentWidget(labelRetransCount, 0);
}

MainWindow::~MainWindow()
{
    saveView();
    // A table query of a long period would hold the close back for its whole length.
    loader->stop();
    QMetaObject::invokeMethod(loader, &TableLoader::close, Qt::BlockingQueuedConnection);
    loaderThread.quit();
    loaderThread.wait();
    delete loader;
    if (gMainWindow == this)
        gMainWindow = nullptr;
    for (Sensor* s : config().sensors)
        s->treeItem = nullptr;
    for (Location* l : config().locations)
        l->treeItem = nullptr;
    delete modelTable;
    delete modelLocations;
    delete modelSensors;
    delete ui;
}

void MainWindow::setupTray()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    trayMenu = new QMenu(this);
    actTrayExit = new QAction(tr("Выйти"), this);
    connect(actTrayExit, &QAction::triggered, this, &QWidget::close);
    actTrayRestore = new QAction(tr("Развернуть"), this);
    connect(actTrayRestore, &QAction::triggered, this, &QWidget::showMaximized);
    trayMenu->addAction(actTrayRestore);
    trayMenu->addSeparator();
    trayMenu->addAction(actTrayExit);
    trayIcon = new QSystemTrayIcon(this);
    trayIcon->setIcon(QIcon(QStringLiteral(":/Brisvane.png")));
    trayIcon->setContextMenu(trayMenu);
    trayIcon->setVisible(true);
    trayIcon->setToolTip(windowTitle());
    connect(trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::trayIconActivated);
}

void MainWindow::setupModels()
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
    modelLocations = make(locations, 7);
    modelSensors = make(sensors, 8);
    modelTable = make(table, 5);
    ui->tableViewLocations->setModel(modelLocations);
    ui->tableViewSensors->setModel(modelSensors);
    ui->tableViewTable->setModel(modelTable);
    if (QSettings* view = viewSettings()) {
        ui->tableViewLocations->horizontalHeader()->restoreState(
            view->value(QStringLiteral("MainWindow/TableViewLocations")).toByteArray());
        ui->tableViewSensors->horizontalHeader()->restoreState(
            view->value(QStringLiteral("MainWindow/TableViewSensors")).toByteArray());
        ui->tableViewTable->horizontalHeader()->restoreState(
            view->value(QStringLiteral("MainWindow/TableViewTable")).toByteArray());
    }
}

void MainWindow::connectSignals()
{
    connect(ui->tabWidget, &QTabWidget::currentChanged, this, &MainWindow::slotRefresh);
    connect(refreshGroup, &QActionGroup::triggered, this, &MainWindow::slotActRefrTriggered);
    connect(&timerRefresh, &QTimer::timeout, this, &MainWindow::slotRefresh);
    connect(&timerCheckDate, &QTimer::timeout, this, &MainWindow::slotCheckDate);
    connect(&timerUpdateDevs, &QTimer::timeout, this, &MainWindow::slotUpdateNetworkDevs);
    connect(ui->toolCheckAll, &QToolButton::clicked, this, &MainWindow::slotCheckAll);
    connect(ui->toolUncheckAll, &QToolButton::clicked, this, &MainWindow::slotUncheckAll);
    connect(ui->listSensors, &QTreeWidget::itemChanged, this, &MainWindow::slotSensorsItemChanged);
    connect(ui->listSensors, &QTreeWidget::currentItemChanged, this, &MainWindow::slotCurrentItemChanged);
    // Only the rows on screen are decorated; rows that come into view are decorated then.
    connect(ui->listSensors->verticalScrollBar(), &QScrollBar::valueChanged, this, &MainWindow::scheduleDecoration);
    connect(ui->listSensors, &QTreeWidget::itemExpanded, this, &MainWindow::scheduleDecoration);
    ui->listSensors->viewport()->installEventFilter(this);
    connect(
        ui->terminalCheckEnabled, &QCheckBox::stateChanged, this, &MainWindow::slotTerminalCheckEnabledStateChanged);
    connect(ui->terminalPushSend, &QPushButton::clicked, this, &MainWindow::slotTerminalPushSendClicked);
    for (QTableView* view : { ui->tableViewTable, ui->tableViewLocations, ui->tableViewSensors })
        connect(view->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this, &MainWindow::slotRefresh);
    connect(ui->radioLast, &QRadioButton::toggled, this, &MainWindow::slotRadioTimeToggled);
    connect(ui->radioStart, &QRadioButton::toggled, this, &MainWindow::slotRadioTimeToggled);
    connect(ui->comboLast, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &MainWindow::slotDateTimeCompute);
    connect(ui->dateTimeStart, &QDateTimeEdit::dateTimeChanged, this, &MainWindow::slotDateTimeCompute);
    connect(ui->dateTimeEnd, &QDateTimeEdit::dateTimeChanged, this, &MainWindow::slotDateTimeCompute);
    if (InterfaceModule* im = gInterfaceModule) {
        auto run = [this](QAction* action, QDialog* dialog) {
            if (dialog)
                connect(action, &QAction::triggered, dialog, &QDialog::exec);
        };
        run(ui->actInfo, im->dialogInfo);
        run(ui->actSettings, im->dialogSettings);
        run(ui->actAbout, im->dialogAbout);
        run(ui->actSensors, im->dialogSensors);
        run(ui->actReport, im->dialogReport);
        run(ui->actSendReport, im->dialogSendReport);
        if (im->dialogSettings)
            connect(im->dialogSettings, &DialogSettings::signalMainWindowRefresh, this, &MainWindow::slotRefresh);
        if (im->dialogSensors) {
            connect(im->dialogSensors, &DialogSensors::signalMainWindowRefresh, this, &MainWindow::slotRefresh);
            connect(im->dialogSensors, &DialogSensors::signalMainWindowRefrSensorList, this,
                &MainWindow::slotRefrSensorList);
            connect(im->dialogSensors, &DialogSensors::signalMainWindowRefrSensorList, this,
                &MainWindow::slotRefrSensorData);
        }
    }
    connect(ui->actUpdateDevs, &QAction::triggered, this, &MainWindow::slotUpdateNetworkDevs);
}

void MainWindow::restoreView()
{
    QSettings* view = viewSettings();
    auto value = [view](const char* key, const QVariant& def) {
        return view ? view->value(QLatin1String("MainWindow/") + QLatin1String(key), def) : def;
    };
    if (value("TimeFilterType", QStringLiteral("0")).toInt() == 0)
        ui->radioLast->setChecked(true);
    else
        ui->radioStart->setChecked(true);
    ui->comboLast->setCurrentIndex(value("TimeFilterLast", QStringLiteral("10")).toInt());
    const QVariant start = value("TimeFilterStart", QVariant());
    if (start.isValid())
        ui->dateTimeStart->setDateTime(start.toDateTime());
    const QVariant stop = value("TimeFilterStop", QVariant());
    if (stop.isValid())
        ui->dateTimeEnd->setDateTime(stop.toDateTime());
    const QString refresh = value("RefreshIndex", QStringLiteral("actRefrDirect")).toString();
    for (QAction* a : refreshGroup->actions()) {
        if (a->objectName() == refresh) {
            a->activate(QAction::Trigger);
            break;
        }
    }
    ui->tabWidget->setCurrentIndex(value("TabIndex", QStringLiteral("0")).toInt());
}

void MainWindow::saveView()
{
    QSettings* view = viewSettings();
    if (!view)
        return;
    view->setValue(QStringLiteral("MainWindow/geometry"), saveGeometry());
    view->setValue(QStringLiteral("MainWindow/windowState"), saveState(0));
    view->setValue(QStringLiteral("MainWindow/TableViewTable"), ui->tableViewTable->horizontalHeader()->saveState());
    view->setValue(
        QStringLiteral("MainWindow/TableViewLocations"), ui->tableViewLocations->horizontalHeader()->saveState());
    view->setValue(
        QStringLiteral("MainWindow/TableViewSensors"), ui->tableViewSensors->horizontalHeader()->saveState());
    view->setValue(QStringLiteral("MainWindow/TimeFilterType"), ui->radioLast->isChecked() ? 0 : 1);
    view->setValue(QStringLiteral("MainWindow/TimeFilterLast"), ui->comboLast->currentIndex());
    view->setValue(QStringLiteral("MainWindow/TimeFilterStart"), ui->dateTimeStart->dateTime());
    view->setValue(QStringLiteral("MainWindow/TimeFilterStop"), ui->dateTimeEnd->dateTime());
    QAction* checked = refreshGroup->checkedAction();
    view->setValue(QStringLiteral("MainWindow/RefreshIndex"), checked ? checked->objectName() : QString());
    view->setValue(QStringLiteral("MainWindow/TabIndex"), ui->tabWidget->currentIndex());
    view->sync();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->listSensors->viewport() && (event->type() == QEvent::Show || event->type() == QEvent::Resize))
        scheduleDecoration();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    emit signalWindowClose();
    event->accept();
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // Minimising hides the window into the tray, when there is one to bring it back from.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && trayIcon)
        hide();
}

void MainWindow::trayIconActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger) {
        setFocus();
        showMaximized();
        activateWindow();
    }
}

void MainWindow::slotActRefrTriggered(QAction* action)
{
    if (action == ui->actRefrDirect) {
        refreshOnArrival = true;
        slotRefresh();
        timerRefresh.stop();
        return;
    }
    refreshOnArrival = false;
    int interval = 60000;
    if (action == ui->actRefr30sec)
        interval = 30000;
    else if (action == ui->actRefr10sec)
        interval = 10000;
    else if (action == ui->actRefr5sec)
        interval = 5000;
    else if (action == ui->actRefr2sec)
        interval = 2000;
    timerRefresh.start(interval);
}

void MainWindow::slotRadioTimeToggled(bool checked)
{
    if (!checked)
        return;
    const bool last = sender() == ui->radioLast || (sender() != ui->radioStart && ui->radioLast->isChecked());
    ui->frameStart->setVisible(!last);
    ui->frameLast->setVisible(last);
    slotDateTimeCompute();
}

void MainWindow::slotUpdateNetworkDevs()
{
    emit signalModemSendData(QByteArray("AT+SN\r"));
    QTimer::singleShot(retransCountDelay, this, &MainWindow::slotUpdateRetransCount);
}

void MainWindow::slotTerminalCheckEnabledStateChanged(int state)
{
    const bool enabled = state == Qt::Checked;
    ui->terminalPlain->setEnabled(enabled);
    ui->terminalLineEdit->setEnabled(enabled);
    ui->terminalPushSend->setEnabled(enabled);
    InterfaceModule* im = gInterfaceModule;
    if (!im)
        return;
    // Connected once however often the box changes between its checked states.
    if (state != Qt::Unchecked && !terminalConnected) {
        connect(im, &InterfaceModule::signalModemDataReaded, this, &MainWindow::slotModemDataReaded);
        connect(this, &MainWindow::signalModemSendData, im, &InterfaceModule::signalModemSendData);
        terminalConnected = true;
    } else if (state == Qt::Unchecked && terminalConnected) {
        disconnect(im, &InterfaceModule::signalModemDataReaded, this, &MainWindow::slotModemDataReaded);
        disconnect(this, &MainWindow::signalModemSendData, im, &InterfaceModule::signalModemSendData);
        terminalConnected = false;
    }
}

void MainWindow::slotModemDataReaded(QByteArray data)
{
    const int zero = data.indexOf('\0');
    if (zero >= 0)
        data.truncate(zero);
    // Appended at the end rather than rewriting the whole text on every chunk.
    QTextCursor cursor(ui->terminalPlain->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QString::fromUtf8(data));
}

void MainWindow::slotTerminalPushSendClicked()
{
    emit signalModemSendData((ui->terminalLineEdit->text() + QLatin1Char('\r')).toLatin1());
}

void MainWindow::slotNetworkMessage(QString html)
{
    ui->networkPlain->append(html);
}

// --- Sensor tree -------------------------------------------------------------------------

void MainWindow::buildTree(bool expand)
{
    ++refreshBlockCount;
    ++treeBuilds;
    treeUpdating = true;
    checkedStale = true;
    const AppState& c = config();
    // A rebuild (a sensor or room removed) keeps every room unfolded or folded as the user left
    // it; a room that is new to the tree comes folded.
    QVector<bool> unfolded(c.locations.size(), expand);
    for (int i = 0; !expand && i < c.locations.size(); ++i)
        unfolded[i] = c.locations[i]->treeItem && c.locations[i]->treeItem->isExpanded();
    ui->listSensors->clear();
    shownRooms.clear();
    shownSensors.clear();
    for (int i = 0; i < c.locations.size(); ++i) {
        Location* location = c.locations[i];
        auto* item = new QTreeWidgetItem(ui->listSensors);
        item->setText(0, location->name);
        item->setCheckState(0, Qt::Checked);
        item->setData(0, kLocationRole, i);
        location->treeItem = item;
        shownRooms << SensorTreeDiff::roomOf(*location);
    }
    for (int i = 0; i < c.sensors.size(); ++i) {
        Sensor* sensor = c.sensors[i];
        sensor->treeItem = nullptr;
        if (shownRooms.isEmpty())
            continue; // no room to hang it under
        sensor->treeItem = newSensorItem(i);
        shownSensors << SensorTreeDiff::leafOf(*sensor, shownRooms.size());
        placeSensorItem(sensor->treeItem, shownSensors.last().room, i);
    }
    for (int i = 0; i < c.locations.size(); ++i)
        c.locations[i]->treeItem->setExpanded(unfolded[i]);
    treeUpdating = false;
    --refreshBlockCount;
}

QTreeWidgetItem* MainWindow::newSensorItem(int index)
{
    const Sensor* sensor = config().sensors[index];
    auto* item = new QTreeWidgetItem;
    item->setText(0, sensor->name + QStringLiteral("  -  ") + sensor->EUI64);
    item->setCheckState(0, Qt::Checked);
    item->setData(0, kSensorRole, index);
    return item;
}

// A room lists its sensors in registry order, as a whole build does.
void MainWindow::placeSensorItem(QTreeWidgetItem* item, int room, int index)
{
    QTreeWidgetItem* parent = config().locations[room]->treeItem;
    int low = 0;
    int high = parent->childCount();
    if (high > 0 && parent->child(high - 1)->data(0, kSensorRole).toInt() > index) {
        while (low < high) {
            const int middle = (low + high) / 2;
            if (parent->child(middle)->data(0, kSensorRole).toInt() < index)
                low = middle + 1;
            else
                high = middle;
        }
    } else {
        low = high;
    }
    parent->insertChild(low, item);
}

// Registration appends to the registry: a new sensor or gateway room costs its own item and a
// look at its room, whatever the size of the tree.
void MainWindow::updateTree()
{
    const AppState& c = config();
    const SensorTreeDiff diff = SensorTreeDiff::between(shownRooms, shownSensors, c.locations, c.sensors);
    if (diff.rebuild) {
        buildTree(false);
        return;
    }
    if (diff.isEmpty())
        return;
    ++refreshBlockCount;
    ++treeUpdates;
    treeUpdating = true;
    applyTreeDiff(diff);
    treeUpdating = false;
    --refreshBlockCount;
}

void MainWindow::applyTreeDiff(const SensorTreeDiff& diff)
{
    const AppState& c = config();
    for (int i : diff.renamedRooms) {
        c.locations[i]->treeItem->setText(0, c.locations[i]->name);
        shownRooms[i] = SensorTreeDiff::roomOf(*c.locations[i]);
    }
    for (int i : diff.newRooms) {
        auto* item = new QTreeWidgetItem(ui->listSensors);
        item->setText(0, c.locations[i]->name);
        item->setCheckState(0, Qt::Checked);
        item->setData(0, kLocationRole, i);
        c.locations[i]->treeItem = item;
        shownRooms << SensorTreeDiff::roomOf(*c.locations[i]);
    }
    // A room's check box follows its sensors': the rooms that lose one are counted again.
    QVector<int> recount;
    for (int i : diff.movedSensors) {
        QTreeWidgetItem* item = c.sensors[i]->treeItem;
        QTreeWidgetItem* from = item->parent();
        from->takeChild(from->indexOfChild(item));
        recount << shownSensors[i].room;
        const SensorTreeDiff::Leaf leaf = SensorTreeDiff::leafOf(*c.sensors[i], shownRooms.size());
        placeSensorItem(item, leaf.room, i);
        recount << leaf.room;
        shownSensors[i] = leaf;
    }
    for (int i : diff.renamedSensors) {
        const Sensor* sensor = c.sensors[i];
        sensor->treeItem->setText(0, sensor->name + QStringLiteral("  -  ") + sensor->EUI64);
        shownSensors[i] = SensorTreeDiff::leafOf(*sensor, shownRooms.size());
    }
    if (!diff.movedSensors.isEmpty())
        checkedStale = true;
    for (int i : diff.newSensors) {
        Sensor* sensor = c.sensors[i];
        sensor->treeItem = newSensorItem(i);
        const SensorTreeDiff::Leaf leaf = SensorTreeDiff::leafOf(*sensor, shownRooms.size());
        placeSensorItem(sensor->treeItem, leaf.room, i);
        shownSensors << leaf;
        // A new sensor comes checked, so its room is checked or partly so.
        QTreeWidgetItem* room = c.locations[leaf.room]->treeItem;
        if (room->checkState(0) == Qt::Unchecked)
            room->setCheckState(0, room->childCount() == 1 ? Qt::Checked : Qt::PartiallyChecked);
        if (!checkedStale)
            checkedCache << sensor->EUI64;
    }
    std::sort(recount.begin(), recount.end());
    recount.erase(std::unique(recount.begin(), recount.end()), recount.end());
    for (int room : recount)
        updateRoomCheck(c.locations[room]->treeItem);
}

void MainWindow::slotSensorListInitialisation()
{
    buildTree(true);
    slotRefresh();
}

// New sensors come in floods (thousands through one gateway, hundreds a second through the
// modem): whatever the number of requests, the tree catches up with the registry at most once
// per treeUpdateInterval, and the view lays out its rows once for all that arrived meanwhile.
void MainWindow::slotRefrSensorList()
{
    if (rebuildPending)
        return;
    rebuildPending = true;
    const qint64 wait = treeClock.isValid() ? treeUpdateInterval - treeClock.elapsed() : 0;
    QTimer::singleShot(int(qBound<qint64>(0, wait, treeUpdateInterval)), this, &MainWindow::rebuildTree);
}

void MainWindow::rebuildTree()
{
    if (!rebuildPending)
        return;
    rebuildPending = false;
    treeClock.start();
    updateTree();
    slotRefresh();
}

void MainWindow::slotRefrSensorData()
{
    slotRefresh();
}

void MainWindow::setAllChecks(Qt::CheckState state)
{
    checkedStale = true;
    const QSignalBlocker blocker(ui->listSensors);
    for (Location* l : config().locations) {
        if (l->treeItem)
            l->treeItem->setCheckState(0, state);
    }
    for (Sensor* s : config().sensors) {
        if (s->treeItem)
            s->treeItem->setCheckState(0, state);
    }
}

void MainWindow::slotCheckAll()
{
    setAllChecks(Qt::Checked);
    slotRefresh();
}

void MainWindow::slotUncheckAll()
{
    setAllChecks(Qt::Unchecked);
    slotRefresh();
}

void MainWindow::slotSensorsItemChanged(QTreeWidgetItem* item, int)
{
    if (treeUpdating || !item)
        return;
    checkedStale = true;
    treeUpdating = true;
    if (QTreeWidgetItem* parent = item->parent()) {
        updateRoomCheck(parent);
    } else {
        for (int i = 0; i < item->childCount(); ++i)
            item->child(i)->setCheckState(0, item->checkState(0));
    }
    slotRefresh();
    treeUpdating = false;
}

void MainWindow::updateRoomCheck(QTreeWidgetItem* room)
{
    int checked = 0;
    for (int i = 0; i < room->childCount(); ++i)
        checked += room->child(i)->checkState(0) == Qt::Checked ? 1 : 0;
    // A room left without sensors is checked, as a whole build leaves it.
    room->setCheckState(0,
        checked == room->childCount() ? Qt::Checked
            : checked == 0            ? Qt::Unchecked
                                      : Qt::PartiallyChecked);
}

void MainWindow::slotCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem*)
{
    const QVector<Sensor*>& sensors = config().sensors;
    const int i = current ? current->data(0, kSensorRole).toInt() : -1;
    if (!current || !current->data(0, kSensorRole).isValid() || i < 0 || i >= sensors.size()
        || sensors[i]->treeItem != current)
        return;
    const bool changed = sensors[i]->EUI64 != currentEUI64;
    currentSensorIndex = i;
    currentEUI64 = sensors[i]->EUI64;
    // While the window is being built its one refresh at the end loads the graph.
    if (changed && ui->tabWidget->currentIndex() == 2 && !refreshBlockCount)
        loadGraph();
}

// Only the rows on screen are decorated: a refresh costs the same with a hundred sensors as
// with thousands. Rows that scroll or unfold into view are decorated at that moment.
void MainWindow::decorateTree(qint64 nowMs)
{
    treeUpdating = true;
    QTreeWidget* tree = ui->listSensors;
    const int bottom = tree->viewport()->height();
    for (QTreeWidgetItem* item = tree->itemAt(0, 0); item; item = tree->itemBelow(item)) {
        if (tree->visualItemRect(item).top() >= bottom)
            break;
        decorateItem(item, nowMs);
    }
    treeUpdating = false;
}

void MainWindow::scheduleDecoration()
{
    if (!refreshBlockCount && !treeUpdating)
        decorateTree(QDateTime::currentMSecsSinceEpoch());
}

void MainWindow::decorateItem(QTreeWidgetItem* item, qint64 nowMs)
{
    const AppState& c = config();
    auto apply = [this, item](const ItemLook& look) {
        item->setData(0, Qt::BackgroundRole, QBrush(look.background));
        item->setData(0, Qt::FontRole, look.bold ? fontBold : fontNormal);
        item->setData(0, Qt::ToolTipRole, look.toolTip);
        item->setData(0, Qt::ForegroundRole, QBrush(look.foreground));
    };
    // Until the tree is rebuilt an item may stand for a sensor or room that has moved or gone.
    const QVariant sensorIndex = item->data(0, kSensorRole);
    if (sensorIndex.isValid()) {
        const int i = sensorIndex.toInt();
        if (i < 0 || i >= c.sensors.size() || c.sensors[i]->treeItem != item)
            return;
        static const QIcon alert(QStringLiteral(":/alert.png"));
        const ItemLook look = SensorTreeLook::sensor(*c.sensors[i], c, nowMs);
        item->setIcon(0, look.alertIcon ? alert : QIcon());
        apply(look);
        return;
    }
    const int i = item->data(0, kLocationRole).toInt();
    if (!item->data(0, kLocationRole).isValid() || i < 0 || i >= c.locations.size() || c.locations[i]->treeItem != item
        || c.locations[i]->ip.isEmpty())
        return;
    const ItemLook look = SensorTreeLook::gatewayLocation(*c.locations[i]);
    item->setText(0, look.text);
    apply(look);
}

void MainWindow::slotCheckDate()
{
    const QDate today = QDate::currentDate();
    for (Sensor* s : config().sensors)
        s->calibrationDue = SensorTreeLook::calibrationDue(today, s->datecheck);
}

void MainWindow::slotUpdateRetransCount()
{
    const int n = gModemModule ? SensorTreeLook::repeaterCount(gModemModule->state().nodes) : 0;
    labelRetransCount->setText(tr("Количество ретрансляторов в сети: ") + QString::number(n));
    if (n != retransCount && config().TrayMessages && trayIcon)
        trayIcon->showMessage(tr("Внимание"),
            tr("Кол-во ретрансляторов в сети изменилось с ") + QString::number(retransCount) + tr(" на ")
                + QString::number(n),
            QSystemTrayIcon::Information, 4000);
    retransCount = n;
}

// --- Tables and time filter --------------------------------------------------------------

int MainWindow::activeDbType() const
{
    // The type the database was opened with, not one saved since.
    if (gMainClass && gMainClass->sqlBaseModule)
        return gMainClass->sqlBaseModule->dbType;
    return config().DBType;
}

void MainWindow::slotDateTimeCompute()
{
    timeFilter = ui->radioLast->isChecked() ? TableQueries::relativeFilter(0, 0).condition
                                            : TableQueries::rangeFilter(0, 0).condition;
    slotRefresh();
}

QVariantList MainWindow::timeFilterValues(qint64 nowSeconds) const
{
    if (ui->radioLast->isChecked())
        return TableQueries::relativeFilter(nowSeconds, ui->comboLast->currentIndex()).values;
    return TableQueries::rangeFilter(ui->dateTimeStart->dateTime().toMSecsSinceEpoch() / 1000,
        ui->dateTimeEnd->dateTime().toMSecsSinceEpoch() / 1000)
        .values;
}

QStringList MainWindow::checkedSensors() const
{
    if (!checkedStale)
        return checkedCache;
    checkedCache.clear();
    for (const Sensor* s : config().sensors) {
        if (s->treeItem && s->treeItem->checkState(0) == Qt::Checked)
            checkedCache << s->EUI64;
    }
    checkedStale = false;
    return checkedCache;
}

// Requests that arrive in one turn of the event loop (a tab change, a timer, every stored
// measurement) are served by one refresh.
void MainWindow::slotRefresh()
{
    if (refreshBlockCount || refreshPending)
        return;
    refreshPending = true;
    QMetaObject::invokeMethod(this, &MainWindow::refreshNow, Qt::QueuedConnection);
}

MyModel* MainWindow::modelOf(int table) const
{
    return table == TableQueries::Locations ? modelLocations
        : table == TableQueries::Sensors    ? modelSensors
                                            : modelTable;
}

bool MainWindow::loading() const
{
    if (rebuildPending)
        return true;
    for (const TableRequest& r : tableRequests) {
        if (r.gate.busy())
            return true;
    }
    return graphWidget && graphWidget->loading();
}

TableQueries::Query MainWindow::tableQuery(int table, const QStringList& sensors) const
{
    auto order = [](QTableView* view, TableQueries::Table which) {
        const QHeaderView* h = view->horizontalHeader();
        return TableQueries::orderClause(
            which, h->sortIndicatorSection(), h->sortIndicatorOrder() == Qt::AscendingOrder);
    };
    const int type = activeDbType();
    const QVariantList filter = timeFilterValues(QDateTime::currentSecsSinceEpoch());
    if (table != TableQueries::Measurements && config().aggregatesReady) {
        // Whole days and hours come from the aggregates, so a year costs about what a day does.
        qint64 first = 0;
        qint64 last = 0;
        TableQueries::windowOf(filter, &first, &last);
        if (table == TableQueries::Locations)
            return TableQueries::locationsSummary(
                type, sensors, first, last, order(ui->tableViewLocations, TableQueries::Locations));
        return TableQueries::sensorsSummary(
            type, sensors, first, last, order(ui->tableViewSensors, TableQueries::Sensors));
    }
    TableQueries::Query query;
    switch (table) {
    case TableQueries::Locations:
        query.text = TableQueries::locationsQuery(
            type, sensors.size(), timeFilter, order(ui->tableViewLocations, TableQueries::Locations));
        break;
    case TableQueries::Sensors:
        query.text = TableQueries::sensorsQuery(
            type, sensors.size(), timeFilter, order(ui->tableViewSensors, TableQueries::Sensors));
        break;
    default:
        query.text = TableQueries::measurementsQuery(type, sensors.size(), timeFilter,
            order(ui->tableViewTable, TableQueries::Measurements), config().DateTimeStyle, config().MaxTableRows);
        break;
    }
    for (const QString& eui : sensors)
        query.values << eui;
    query.values << filter;
    return query;
}

void MainWindow::requestTable(int table)
{
    if (tableRequests[table].gate.request())
        startTable(table);
}

// The query runs in the loading thread; the window stays responsive however long it takes.
void MainWindow::startTable(int table)
{
    TableRequest& request = tableRequests[table];
    const TableQueries::Query query = tableQuery(table, checkedSensors());
    const QString text = query.text;
    const QVariantList values = query.values;
    if (table != TableQueries::Measurements)
        qCDebug(lcViewSql).noquote() << text;
    if (text.isEmpty()) {
        modelOf(table)->setRows({});
        request.gate.abandon();
        return;
    }
    request.inFlight = ++requestSerial;
    request.clock.start();
    const quint64 serial = request.inFlight;
    TableLoader* target = loader;
    QMetaObject::invokeMethod(
        loader, [target, table, serial, text, values] { target->load(table, serial, text, values); },
        Qt::QueuedConnection);
}

void MainWindow::tableLoaded(int table, quint64 serial, const TableRows& rows)
{
    if (table < 0 || table > 2 || tableRequests[table].inFlight != serial)
        return;
    TableRequest& request = tableRequests[table];
    request.inFlight = 0;
    if (!rows.error.isEmpty())
        qDebug() << "table query failed:" << rows.error;
    // A rejected query leaves its table empty.
    modelOf(table)->setRows(rows.rows);
    TableColumns::growToContents(table == TableQueries::Locations ? ui->tableViewLocations
            : table == TableQueries::Sensors                      ? ui->tableViewSensors
                                                                  : ui->tableViewTable);
    const int rest = request.gate.finished(request.clock.elapsed());
    if (rest < 0)
        return;
    QTimer::singleShot(rest, this, [this, table] {
        TableRequest& r = tableRequests[table];
        // A table whose tab is no longer current keeps what it shows.
        const int tab = ui->tabWidget->currentIndex();
        if (tab != (table == TableQueries::Measurements ? 1 : 0)) {
            r.gate.abandon();
            return;
        }
        r.gate.resume();
        startTable(table);
    });
}

void MainWindow::refreshNow()
{
    refreshPending = false;
    if (refreshBlockCount)
        return;
    // Items of sensors that moved or left are passed over by the decoration until the tree
    // catches up (rebuildTree).
    ++refreshes;
    decorateTree(QDateTime::currentMSecsSinceEpoch());
    const int tab = ui->tabWidget->currentIndex();
    if (tab == 0) {
        requestTable(TableQueries::Locations);
        requestTable(TableQueries::Sensors);
    } else if (tab == 1) {
        requestTable(TableQueries::Measurements);
    } else if (tab == 2) {
        loadGraph();
    }
}

void MainWindow::loadGraph()
{
    const QDateTime now = QDateTime::currentDateTime();
    if (ui->radioLast->isChecked()) {
        graphTo = now;
        graphFrom = now.addSecs(-TableQueries::relativeSeconds(ui->comboLast->currentIndex()));
    } else {
        graphFrom = ui->dateTimeStart->dateTime();
        graphTo = ui->dateTimeEnd->dateTime();
    }
    graphWidget->loadMeasures();
}

#include "ui/mainwindow.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QHeaderView>
#include <QMenu>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>

#include "app/appstate.h"
#include "dialogs/dialogabout.h"
#include "dialogs/dialogreport.h"
#include "dialogs/dialogsendreport.h"
#include "dialogs/dialogsensors.h"
#include "dialogs/dialogsettings.h"
#include "ui/dialoginfo.h"
#include "ui/graphwidget.h"
#include "ui/interfacemodule.h"
#include "ui/mymodel.h"
#include "ui/repeaterstatus.h"
#include "ui/sensortree.h"
#include "ui/sensortreelook.h"
#include "ui/tableloads.h"
#include "storage/tablequeries.h"
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

MainWindow* gMainWindow = nullptr;
int MainWindow::checkDateInterval = 20000;
int MainWindow::updateDevsInterval = 300000;
int MainWindow::retransCountDelay = 60000;
int MainWindow::treeUpdateInterval = 250;
int MainWindow::networkLogInterval = 200;

namespace
{

const char* const kRefreshActions[]
    = { "actRefrDirect", "actRefr2sec", "actRefr5sec", "actRefr10sec", "actRefr30sec", "actRefr1min" };

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
{
    initResources();
    gMainWindow = this;
    ui->setupUi(this);
    tree = new SensorTree(ui->listSensors);
    // The network log keeps its last lines only: every gateway connection adds some, and the
    // gateway port accepts any peer.
    ui->networkPlain->document()->setMaximumBlockCount(kNetworkLogLines);
    networkFlush.setSingleShot(true);
    connect(&networkFlush, &QTimer::timeout, this, &MainWindow::flushNetworkLog);
    setWindowTitle(tr("Tarnel - Ostrivel v") + tr("1.4.2.0"));
    setupTray();
    // The status bar changes a few times a second: it paints its own background, so that the
    // window beneath it is not painted again with it.
    statusBar()->setAutoFillBackground(true);
    repeaters = new RepeaterStatus(statusBar(), trayIcon, this);

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

    tables = new TableLoads(ui, tree, &timeFilter);
    modelLocations = tables->model(TableQueries::Locations);
    modelSensors = tables->model(TableQueries::Sensors);
    modelTable = tables->model(TableQueries::Measurements);
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

    hideStart = config().HideStart;
    if (hideStart && !trayIcon) {
        // Without a system tray a hidden window could never be brought back.
        hideStart = false;
        // After the window's first status text, which the interface module sets once it is built.
        QTimer::singleShot(0, this,
            [this] { statusBar()->showMessage(tr("Системный трей недоступен: окно не будет скрываться"), 10000); });
    }
}

MainWindow::~MainWindow()
{
    saveView();
    delete tables;
    if (gMainWindow == this)
        gMainWindow = nullptr;
    delete tree;
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
            connect(im->dialogSettings, &DialogSettings::signalMainWindowRefresh, this, &MainWindow::slotRestyle);
        if (im->dialogSensors) {
            connect(im->dialogSensors, &DialogSensors::signalMainWindowRefresh, this, &MainWindow::slotRestyle);
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
    QTimer::singleShot(retransCountDelay, repeaters, &RepeaterStatus::update);
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
        emit im->signalTerminalShown(true);
    } else if (state == Qt::Unchecked && terminalConnected) {
        disconnect(im, &InterfaceModule::signalModemDataReaded, this, &MainWindow::slotModemDataReaded);
        disconnect(this, &MainWindow::signalModemSendData, im, &InterfaceModule::signalModemSendData);
        terminalConnected = false;
        emit im->signalTerminalShown(false);
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

// Gateways come in crowds (hundreds a second after an outage), each with a few lines: the log
// takes the lines of a flush interval in one edit, so that the document trims its oldest lines
// and lays itself out once for all of them rather than once per line.
void MainWindow::slotNetworkMessage(QString html)
{
    networkPending << html;
    if (networkPending.size() > kNetworkLogLines)
        networkPending.removeFirst();
    if (!networkFlush.isActive())
        networkFlush.start(networkLogInterval);
}

void MainWindow::flushNetworkLog()
{
    QTextEdit* log = ui->networkPlain;
    QScrollBar* bar = log->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    // New lines take the formats a line appended alone would take: the edit's own cursor's.
    const QTextCursor own = log->textCursor();
    QTextCursor end(log->document());
    end.beginEditBlock();
    end.movePosition(QTextCursor::End);
    for (const QString& html : qAsConst(networkPending)) {
        if (!log->document()->isEmpty())
            end.insertBlock(own.blockFormat(), own.charFormat());
        end.insertHtml(html);
    }
    end.endEditBlock();
    networkPending.clear();
    if (atBottom)
        bar->setValue(bar->maximum());
}

// --- Sensor tree -------------------------------------------------------------------------

void MainWindow::buildTree(bool expand)
{
    ++refreshBlockCount;
    ++treeBuilds;
    tree->build(expand);
    --refreshBlockCount;
}

void MainWindow::updateTree(bool appendedOnly)
{
    ++refreshBlockCount;
    const SensorTree::Change change = tree->update(appendedOnly);
    treeBuilds += change == SensorTree::Change::Built ? 1 : 0;
    treeUpdates += change == SensorTree::Change::Updated ? 1 : 0;
    --refreshBlockCount;
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
    wholeDiffPending = true;
    scheduleTreeUpdate();
}

void MainWindow::slotRegistryAppended()
{
    scheduleTreeUpdate();
}

void MainWindow::scheduleTreeUpdate()
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
    const bool appendedOnly = !wholeDiffPending;
    wholeDiffPending = false;
    treeClock.start();
    updateTree(appendedOnly);
    slotRefresh();
}

void MainWindow::slotRefrSensorData()
{
    slotRefresh();
}

void MainWindow::slotRestyle()
{
    for (MyModel* model : { modelLocations, modelSensors, modelTable })
        model->restyle();
    slotRefresh();
}

void MainWindow::slotCheckAll()
{
    tree->setAllChecks(Qt::Checked);
    slotRefresh();
}

void MainWindow::slotUncheckAll()
{
    tree->setAllChecks(Qt::Unchecked);
    slotRefresh();
}

void MainWindow::slotSensorsItemChanged(QTreeWidgetItem* item, int)
{
    if (tree->checkChanged(item))
        slotRefresh();
}

void MainWindow::slotCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem*)
{
    const QVector<Sensor*>& sensors = config().sensors;
    const int i = tree->sensorOf(current);
    if (i < 0)
        return;
    const bool changed = sensors[i]->EUI64 != currentEUI64;
    currentSensorIndex = i;
    currentEUI64 = sensors[i]->EUI64;
    // While the window is being built its one refresh at the end loads the graph.
    if (changed && ui->tabWidget->currentIndex() == 2 && !refreshBlockCount)
        loadGraph();
}

void MainWindow::scheduleDecoration()
{
    if (!refreshBlockCount && !tree->updating())
        tree->decorate(QDateTime::currentMSecsSinceEpoch());
}

void MainWindow::slotCheckDate()
{
    const QDate today = QDate::currentDate();
    for (Sensor* s : config().sensors)
        s->calibrationDue = SensorTreeLook::calibrationDue(today, s->datecheck);
}

// --- Refresh, time filter and graph ------------------------------------------------------

void MainWindow::slotDateTimeCompute()
{
    timeFilter = ui->radioLast->isChecked() ? TableQueries::relativeFilter(0, 0).condition
                                            : TableQueries::rangeFilter(0, 0).condition;
    slotRefresh();
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

bool MainWindow::loading() const
{
    return rebuildPending || tables->busy() || (graphWidget && graphWidget->loading());
}

void MainWindow::refreshNow()
{
    refreshPending = false;
    if (refreshBlockCount)
        return;
    // Items of sensors that moved or left are passed over by the decoration until the tree
    // catches up (rebuildTree).
    ++refreshes;
    tree->decorate(QDateTime::currentMSecsSinceEpoch());
    const int tab = ui->tabWidget->currentIndex();
    if (tab == 0) {
        tables->request(TableQueries::Locations);
        tables->request(TableQueries::Sensors);
    } else if (tab == 1) {
        tables->request(TableQueries::Measurements);
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

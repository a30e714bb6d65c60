#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QTreeWidgetItem;
class GraphWidget;
class MyModel;
class RepeaterStatus;
class SensorTree;
class TableLoads;

namespace Ui
{
class MainWindow;
}

// The program's main window: summary and measurement tables, graph, sensor tree, modem
// terminal, network log and tray icon. Its view state lives in "data/view.conf". The window
// wires them and paces refreshes; the sensor tree (SensorTree), the table loads (TableLoads),
// the graph (GraphWidget) and the status bar's repeater count (RepeaterStatus) do the work.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Lines the network log keeps, the newest.
    static constexpr int kNetworkLogLines = 1000;

    // Intervals of the periodic work, in ms; tests shorten them before building a window.
    static int checkDateInterval;
    static int updateDevsInterval;
    static int retransCountDelay;
    static int treeUpdateInterval;
    static int networkLogInterval;

    // Every stored measurement refreshes the window while set.
    bool refreshOnArrival = false;
    // Condition of the time filter on m.timemeasure ("?" for its bounds), and the period the
    // graph loads; the graph reads exactly [graphFrom, graphTo].
    QString timeFilter;
    GraphWidget* graphWidget = nullptr;
    QDateTime graphFrom;
    QDateTime graphTo;
    // The sensor chosen in the sensor tree; empty until the user chooses one.
    QString currentEUI64;
    int currentSensorIndex = -1;
    // Copy of Other/HideStart: the window starts hidden (only with a system tray).
    bool hideStart = false;
    // While non-zero, slotRefresh returns at once.
    int refreshBlockCount = 0;
    // Interval of the periodic refresh, 0 while it does not run.
    int refreshInterval() const { return timerRefresh.isActive() ? timerRefresh.interval() : 0; }
    // A table or graph load, or a sensor-tree update, is under way or waiting for its turn.
    bool loading() const;
    // Refreshes, whole sensor-tree builds and tree updates run so far; several requests in one
    // turn of the event loop make one.
    int refreshes = 0;
    int treeBuilds = 0;
    int treeUpdates = 0;

    Ui::MainWindow* ui = nullptr;
    MyModel* modelTable = nullptr;
    MyModel* modelLocations = nullptr;
    MyModel* modelSensors = nullptr;
    QSystemTrayIcon* trayIcon = nullptr;

signals:
    void signalWindowClose();
    void signalModemSendData(QByteArray data);

public slots:
    void slotRefresh();
    void slotRefrSensorList();
    // The registry has grown at its end only (a sensor registered, a gateway's room created):
    // the coalesced tree update looks at the newcomers alone, unless another request asks for more.
    void slotRegistryAppended();
    void slotSensorListInitialisation();
    void slotRefrSensorData();
    // Thresholds or colours changed in the settings: every table is drawn anew and the window
    // refreshed.
    void slotRestyle();
    void slotNetworkMessage(QString html);
    void changeEvent(QEvent* event) override;
    void slotActRefrTriggered(QAction* action);
    void slotCheckDate();
    void slotCheckAll();
    void slotUncheckAll();
    void slotSensorsItemChanged(QTreeWidgetItem* item, int column);
    void slotTerminalCheckEnabledStateChanged(int state);
    void slotModemDataReaded(QByteArray data);
    void slotTerminalPushSendClicked();
    void slotRadioTimeToggled(bool checked);
    void slotDateTimeCompute();
    void slotCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    void slotUpdateNetworkDevs();
    void trayIconActivated(QSystemTrayIcon::ActivationReason reason);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupTray();
    void connectSignals();
    void restoreView();
    void saveView();
    void buildTree(bool expand);
    void rebuildTree();
    void updateTree(bool appendedOnly);
    void scheduleTreeUpdate();
    void scheduleDecoration();
    void refreshNow();
    void loadGraph();
    void flushNetworkLog();

    QTimer timerRefresh;
    QTimer timerCheckDate;
    QTimer timerUpdateDevs;
    QActionGroup* refreshGroup = nullptr;
    QMenu* trayMenu = nullptr;
    QAction* actTrayRestore = nullptr;
    QAction* actTrayExit = nullptr;
    bool refreshPending = false;
    bool rebuildPending = false;
    bool wholeDiffPending = false; // some request since the last update changed more than the end
    QElapsedTimer treeClock; // since the last tree update
    // Network log lines that wait for the next flush, the newest kNetworkLogLines at most.
    QStringList networkPending;
    QTimer networkFlush;
    bool terminalConnected = false;
    SensorTree* tree = nullptr;
    TableLoads* tables = nullptr;
    RepeaterStatus* repeaters = nullptr;
};

// The one main window of the process, while it exists.
extern MainWindow* gMainWindow;

#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMainWindow>
#include <QString>

class GraphWidget;

// The program's main window: tables, sensor tree, graph, modem terminal and network log.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Every stored measurement refreshes the window while set.
    bool refreshOnArrival = false;
    // Condition of the time filter on m.timemeasure, and the period it selects; the graph
    // loads exactly [graphFrom, graphTo].
    QString timeFilter;
    GraphWidget* graphWidget = nullptr;
    QDateTime graphFrom;
    QDateTime graphTo;
    // The sensor chosen in the sensor tree; empty until the user chooses one.
    QString currentEUI64;
    int currentSensorIndex = -1;
    // Copy of Other/HideStart: the window starts hidden.
    bool hideStart = false;
    // While non-zero, slotRefresh returns at once.
    int refreshBlockCount = 0;

signals:
    void signalWindowClose();
    void signalModemSendData(QByteArray data);

public slots:
    void slotRefresh();
    void slotRefrSensorList();
    void slotRefrSensorData();
    void slotNetworkMessage(QString html);
    void slotModemDataReaded(QByteArray data);

protected:
    void closeEvent(QCloseEvent* event) override;
};

// The one main window of the process, while it exists.
extern MainWindow* gMainWindow;

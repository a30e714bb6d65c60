#pragma once

#include <QByteArray>
#include <QMainWindow>
#include <QString>

// The program's main window: tables, sensor tree, graph, modem terminal and network log.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Every stored measurement refreshes the window while set.
    bool refreshOnArrival = false;
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

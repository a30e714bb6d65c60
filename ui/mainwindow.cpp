#include "ui/mainwindow.h"

#include <QCloseEvent>
#include <QStatusBar>
#include <QTextEdit>

#include "app/appstate.h"

MainWindow* gMainWindow = nullptr;

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    gMainWindow = this;
    refreshBlockCount = 1;
    setWindowTitle(tr("Tarnel - Ostrivel"));
    resize(1579, 522);
    setStatusBar(new QStatusBar(this));
    refreshBlockCount = 0;
    hideStart = gAppState && gAppState->HideStart;
}

MainWindow::~MainWindow()
{
    if (gMainWindow == this)
        gMainWindow = nullptr;
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    emit signalWindowClose();
    event->accept();
}

void MainWindow::slotRefresh()
{
    if (refreshBlockCount)
        return;
}

void MainWindow::slotRefrSensorList()
{
}

void MainWindow::slotRefrSensorData()
{
    slotRefresh();
}

void MainWindow::slotNetworkMessage(QString)
{
}

void MainWindow::slotModemDataReaded(QByteArray)
{
}

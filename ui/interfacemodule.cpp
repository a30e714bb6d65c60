#include "ui/interfacemodule.h"

#include <QLoggingCategory>

#include "ui/initinfowindow.h"

Q_LOGGING_CATEGORY(lcStartup, "ostrivel.startup")

InterfaceModule* gInterfaceModule = nullptr;

InterfaceModule::InterfaceModule(QObject* parent)
    : QObject(parent)
{
    gInterfaceModule = this;
    createInitInfoWindow();
}

InterfaceModule::~InterfaceModule()
{
    if (gInterfaceModule == this)
        gInterfaceModule = nullptr;
}

void InterfaceModule::createInitInfoWindow()
{
    initInfoWindow = new InitInfoWindow(nullptr);
    connect(initInfoWindow, &InitInfoWindow::signalWindowClose, this, &InterfaceModule::slotInitInfoWindowClose);
    initInfoWindow->show();
}

void InterfaceModule::showInitInfoWindow()
{
    delete initInfoWindow;
    createInitInfoWindow();
}

void InterfaceModule::slotStopModule()
{
    initializingDone = true;
    delete initInfoWindow;
    initInfoWindow = nullptr;
}

void InterfaceModule::slotSetInitInfoString(QString text)
{
    if (!initInfoWindow)
        return;
    qCInfo(lcStartup).noquote() << text;
    initInfoWindow->setText(text);
}

void InterfaceModule::slotStopInitializing()
{
    // The modem can report the end of its initialisation twice (its watchdog, then a late
    // success); the windows are built once.
    if (initializingDone)
        return;
    initializingDone = true;
    slotSetInitInfoString(tr("Создание главного окна"));
    delete initInfoWindow;
    initInfoWindow = nullptr;
}

void InterfaceModule::slotSetStatusText(QString)
{
}

void InterfaceModule::slotNewSensor()
{
}

void InterfaceModule::slotNetworkMessage(QString)
{
}

void InterfaceModule::slotRefrSensorList()
{
}

void InterfaceModule::slotRefrSensorData()
{
}

void InterfaceModule::refreshIfLive()
{
}

// A close asked for from inside a window's own close handler is carried out once that
// handler has returned, so the window is never deleted under its own feet.
void InterfaceModule::requestClose()
{
    QMetaObject::invokeMethod(this, [this] { emit signalCloseApplication(0); }, Qt::QueuedConnection);
}

void InterfaceModule::slotInitInfoWindowClose()
{
    requestClose();
}

void InterfaceModule::slotMainWindowClose()
{
    requestClose();
}

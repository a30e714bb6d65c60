#include "links/modemmodule.h"

#include <QSerialPort>

ModemModule* gModemModule = nullptr;

ModemModule::ModemModule(QObject* parent)
    : QThread(parent)
{
    gModemModule = this;
}

ModemModule::~ModemModule()
{
    if (gModemModule == this)
        gModemModule = nullptr;
}

void ModemModule::run()
{
    initialized = false;
    initState = 0;
    exec();
}

void ModemModule::slotStopModule()
{
    if (port) {
        if (port->isOpen())
            port->close();
        delete port;
        port = nullptr;
    }
    exit(0);
}

void ModemModule::slotSendData(QByteArray data)
{
    if (!port || !port->isOpen())
        return;
    port->write(data);
    port->flush();
}

void ModemModule::slotReadyRead()
{
}

void ModemModule::slotDsrChanged(bool)
{
}

void ModemModule::slotInitializeControl()
{
}

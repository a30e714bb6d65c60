#include "storage/dbfexport.h"

#include <QTimer>

DbfExport::DbfExport(QObject* parent)
    : QThread(parent)
{
}

DbfExport::~DbfExport() = default;

void DbfExport::run()
{
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &DbfExport::slotExportDBF);
    timer->start(300000);
    exec();
}

void DbfExport::slotExportDBF()
{
}

void DbfExport::slotStopModule()
{
    if (timer) {
        timer->stop();
        delete timer;
        timer = nullptr;
    }
    exit(0);
}

void DbfExport::slotSetInterval(int minutes)
{
    if (timer)
        timer->setInterval(minutes * 60000);
}

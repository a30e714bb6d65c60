#include "ui/repeaterstatus.h"

#include <QLabel>
#include <QStatusBar>
#include <QSystemTrayIcon>

#include "app/appstate.h"
#include "links/modemmodule.h"
#include "ui/sensortreelook.h"

RepeaterStatus::RepeaterStatus(QStatusBar* bar, QSystemTrayIcon* tray, QObject* parent)
    : QObject(parent)
    , label(new QLabel(tr("Количество ретрансляторов в сети: 0"), bar))
    , tray(tray)
{
    bar->addPermanentWidget(label, 0);
}

void RepeaterStatus::update()
{
    const int n = gModemModule ? SensorTreeLook::repeaterCount(gModemModule->state().nodes) : 0;
    label->setText(tr("Количество ретрансляторов в сети: ") + QString::number(n));
    if (n != count && gAppState && gAppState->TrayMessages && tray)
        tray->showMessage(tr("Внимание"),
            tr("Кол-во ретрансляторов в сети изменилось с ") + QString::number(count) + tr(" на ") + QString::number(n),
            QSystemTrayIcon::Information, 4000);
    count = n;
}

#include "dialogs/dialogsensors.h"

DialogSensors::DialogSensors(QWidget* parent)
    : QDialog(parent)
{
}

DialogSensors::~DialogSensors() = default;

void DialogSensors::slotTableSensorsCellChanged(int, int)
{
}

void DialogSensors::slotPushRemoveClicked()
{
}

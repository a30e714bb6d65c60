#include "dialogs/dialogsettings.h"

DialogSettings::DialogSettings(QWidget* parent)
    : QDialog(parent)
{
}

DialogSettings::~DialogSettings() = default;

void DialogSettings::slotPushAcceptClicked()
{
}

void DialogSettings::slotPushNotificationEmailSettings()
{
}

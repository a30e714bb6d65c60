#pragma once

#include "app/sensorintake.h"

// An intake sink for the modem road alone: the registry's news, the gateways and the alarms go
// nowhere; a test or benchmark says where the replies and the measurements go.
class QuietIntakeSink : public IntakeSink
{
public:
    void sensorRegistered() override { }
    void sensorMoved() override { }
    void announceSleepInterval(ZigBeeClient*, const QString&, int) override { }
    void registryChanged() override { }
    void raiseNotification(const NotificationsMessage&) override { }
    void showStatus(const QString&) override { }
    void resendSensorList(ZigBeeClient*) override { }
};

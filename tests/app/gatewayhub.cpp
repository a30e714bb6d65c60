#include "gatewayhub.h"

#include <QDateTime>

#include "links/networkmodule.h"
#include "links/zigbeeclient.h"
#include "storage/sqlbasemodule.h"

GatewayHub::GatewayHub(AppState& state, NetworkModule& net, SQLBaseModule& sql)
    : net(net)
    , sql(sql)
    , binding(state)
    , intake(state, *this, [] { return QDateTime::currentMSecsSinceEpoch(); })
{
    connect(&net, &NetworkModule::signalNewConnection, this,
        [this](ZigBeeClient* c) { this->net.slotSlepSend(c, binding.sleepList()); });
    auto bind = [this](ZigBeeClient* c) { binding.bind(c, NetworkModule::peerText(c)); };
    connect(&net, &NetworkModule::signalStatReceived, this, bind);
    connect(&net, &NetworkModule::signalInitReceived, this, bind);
    connect(&net, &NetworkModule::signalDisconnected, this, [this](ZigBeeClient* c) { binding.release(c); });
    connect(&net, &NetworkModule::signalNetworkCastReceived, this,
        [this](ZigBeeClient* c, const QString& eui, const QByteArray& p) { intake.networkCast(c, eui, p); });
}

void GatewayHub::announceSleepInterval(ZigBeeClient* client, const QString& eui64, int interval)
{
    net.slotSlepSend2(client, eui64, interval);
}

void GatewayHub::storeMeasurement(const PendingMeasurement& measurement)
{
    sql.slotSensorDataReceived(measurement);
}

void GatewayHub::resendSensorList(ZigBeeClient* client)
{
    if (net.sensorListDue(client))
        net.slotSlepSend(client, binding.sleepList());
}

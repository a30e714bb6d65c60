#pragma once

#include <QByteArray>
#include <QString>

class AppState;
class ZigBeeClient;
struct Sensor;

// Ties gateway connections to the locations of the registry and keeps the gateways told of
// the sensors' sleep intervals. The caller turns each outcome into its refresh or send.
class GatewayBinding
{
public:
    enum class Outcome {
        Ignored, // no client
        Created, // a new location was appended (the sensor list changed)
        Bound, // an existing location was bound or updated
    };

    explicit GatewayBinding(AppState& state);

    // On a status message: finds the client's location (already bound to it, then by its
    // modem's EUI64, its address, its name) or creates and stores one, binds it, and leaves
    // the modem's EUI64 to that location alone. As every registry change (see AppState), a
    // created location joins memory at once and its row is queued behind what waits already;
    // a location the sensors dialog removes has left memory before its removal is queued, so
    // it is never bound again.
    Outcome bind(ZigBeeClient* client, const QString& peer);
    // On the end of a connection: the location keeps name, EUI64 and address, so that the
    // gateway finds it again.
    void release(ZigBeeClient* client);
    // The "Slep" message with every sensor of the registry, in registry order.
    QByteArray sleepList() const;
    // Sets the interval and saves the configuration; false for no sensor.
    bool setSleepInterval(Sensor* sensor, int seconds);

    // EUI64 of a gateway location whose modem has not been reported.
    static const QString& noModem();

private:
    int find(const ZigBeeClient* client, const QString& peer) const;

    AppState& state;
};

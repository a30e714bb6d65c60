#include "app/gatewaybinding.h"

#include <QPair>
#include <QVector>

#include "app/appstate.h"
#include "links/gatewayprotocol.h"
#include "links/zigbeeclient.h"
#include "storage/registrywriter.h"

GatewayBinding::GatewayBinding(AppState& state)
    : state(state)
{
}

const QString& GatewayBinding::noModem()
{
    static const QString eui = QStringLiteral("0000000000000000");
    return eui;
}

// Four passes, each taking the first match: bound to this client; free with the modem's
// EUI64 (only when the modem is reported); free with the address; free with the name.
int GatewayBinding::find(const ZigBeeClient* client, const QString& peer) const
{
    const QVector<Location*>& all = state.locations;
    for (int i = 0; i < all.size(); ++i) {
        if (all[i]->client == client)
            return i;
    }
    if (client->modemConnected) {
        for (int i = 0; i < all.size(); ++i) {
            if (!all[i]->client && AppState::sameAddress(all[i]->EUI64, client->modem.EUI64))
                return i;
        }
    }
    // Rows stored before addresses were kept in dotted form hold the IPv4-mapped text.
    const QString mapped = QStringLiteral("::ffff:") + peer;
    for (int i = 0; i < all.size(); ++i) {
        if (!all[i]->client && (all[i]->ip == peer || all[i]->ip == mapped))
            return i;
    }
    for (int i = 0; i < all.size(); ++i) {
        if (!all[i]->client && all[i]->name == client->name)
            return i;
    }
    return -1;
}

GatewayBinding::Outcome GatewayBinding::bind(ZigBeeClient* client, const QString& peer)
{
    if (!client)
        return Outcome::Ignored;
    const int found = find(client, peer);
    Location* bound = nullptr;
    Outcome outcome = Outcome::Bound;
    if (found >= 0) {
        // Only memory changes: the stored row keeps what it had at its creation.
        bound = state.locations[found];
        bound->client = client;
        bound->name = client->name;
        bound->ip = peer;
        if (client->modemConnected)
            bound->EUI64 = client->modem.EUI64;
    } else {
        bound = new Location;
        bound->name = client->name;
        bound->EUI64 = client->modemConnected ? client->modem.EUI64 : noModem();
        bound->ip = peer;
        bound->client = client;
        const int id = state.locations.size();
        RegistryWriter::insertLocation(state.databaseWriter, id, bound->name, bound->EUI64, bound->ip);
        state.locations.append(bound);
        outcome = Outcome::Created;
    }
    for (Location* other : qAsConst(state.locations)) {
        if (other != bound && AppState::sameAddress(other->EUI64, bound->EUI64))
            other->EUI64 = noModem();
    }
    return outcome;
}

void GatewayBinding::release(ZigBeeClient* client)
{
    if (!client)
        return;
    for (Location* location : qAsConst(state.locations)) {
        if (location->client == client) {
            location->client = nullptr;
            return;
        }
    }
}

QByteArray GatewayBinding::sleepList() const
{
    return GatewayProtocol::slepFrame(state.sleepIntervals());
}

bool GatewayBinding::setSleepInterval(Sensor* sensor, int seconds)
{
    if (!sensor)
        return false;
    sensor->sleepInterval = seconds;
    state.saveConfig();
    return true;
}

#include "app/sensorintake.h"

#include <QDateTime>
#include <QSet>

#include <algorithm>

#include "app/appstate.h"
#include "app/thresholds.h"
#include "links/sensorpayload.h"
#include "links/zigbeeclient.h"
#include "storage/registrywriter.h"

SensorIntake::SensorIntake(AppState& state, IntakeSink& sink, Clock now)
    : state(state)
    , sink(sink)
    , now(std::move(now))
{
}

const QString& SensorIntake::newSensorsLocation()
{
    static const QString name = QStringLiteral("Новые датчики");
    return name;
}

void SensorIntake::modemCast(const QString& kind, const QString& eui64, const QByteArray& payload)
{
    if (closed)
        return;
    // The modem has answered the sensor already; it answers the next message as the registry
    // says now, a newcomer included.
    int index = state.indexOfSensor(eui64);
    if (index < 0)
        index = registerModemSensor(eui64);
    sink.modemSensorInterval(eui64, state.sensors[index]->sleepInterval);
    update(index, decodeSensorPayload(payload, PresenceRule::AnyRecord));
    sink.showStatus(QStringLiteral("Получен ") + kind + QStringLiteral(" от ") + eui64);
}

void SensorIntake::modemCasts(const QVector<ModemCast>& casts)
{
    for (const ModemCast& c : casts)
        modemCast(c.kind, c.eui64, c.payload);
}

void SensorIntake::networkCast(ZigBeeClient* client, const QString& eui64, const QByteArray& payload)
{
    if (closed)
        return;
    int g = -1;
    for (int i = 0; i < state.locations.size(); ++i) {
        if (state.locations[i]->client == client) {
            g = i;
            break;
        }
    }
    if (g < 0 || !client || !client->modemConnected) {
        // Not bound yet, or its modem is down: the gateway gets the sensor list again and
        // the measurement is dropped.
        sink.resendSensorList(client);
        return;
    }
    int index = state.indexOfSensor(eui64);
    if (index < 0) {
        Sensor* s = newSensor(eui64, freeName(QStringLiteral("Датчик ")), g);
        RegistryWriter::insertSensor(
            state.databaseWriter, s->EUI64, s->name, s->location, s->sleepInterval, s->datecheck);
        state.sensors.append(s);
        index = state.sensors.size() - 1;
        sink.sensorRegistered();
        sink.announceSleepInterval(client, eui64, s->sleepInterval);
        sink.modemSensorInterval(eui64, s->sleepInterval);
    } else if (state.sensors[index]->location != g) {
        // The row is keyed by the address as stored, whatever case the gateway sent.
        RegistryWriter::updateSensorLocation(state.databaseWriter, state.sensors[index]->EUI64, g);
        state.sensors[index]->location = g;
        sink.sensorMoved();
        // This gateway may have connected before the sensor was known.
        sink.announceSleepInterval(client, eui64, state.sensors[index]->sleepInterval);
    }
    update(index, decodeSensorPayload(payload, PresenceRule::FlagByte));
}

int SensorIntake::locationForNewSensors()
{
    for (int i = 0; i < state.locations.size(); ++i) {
        if (state.locations[i]->name.compare(newSensorsLocation(), Qt::CaseInsensitive) == 0)
            return i;
    }
    const int id = state.locations.size();
    RegistryWriter::insertLocation(state.databaseWriter, id, newSensorsLocation(), QString(), QString());
    auto* location = new Location;
    location->name = newSensorsLocation();
    state.locations.append(location);
    return id;
}

Sensor* SensorIntake::newSensor(const QString& eui64, const QString& name, int location)
{
    auto* s = new Sensor;
    // As modems print it; a sensor stored before in lower case keeps its row and spelling.
    s->EUI64 = eui64.toUpper();
    s->name = name;
    s->location = location;
    s->sleepInterval = 60;
    s->lastSeen = now();
    s->datecheck = QDateTime::fromMSecsSinceEpoch(s->lastSeen).date();
    return s;
}

int SensorIntake::registerModemSensor(const QString& eui64)
{
    const int location = locationForNewSensors();
    Sensor* s = newSensor(eui64, freeName(QStringLiteral("Датчик")), location);
    RegistryWriter::insertSensor(state.databaseWriter, s->EUI64, s->name, s->location, s->sleepInterval, s->datecheck);
    state.sensors.append(s);
    sink.registryChanged();
    sink.sensorRegistered();
    return state.sensors.size() - 1;
}

QString SensorIntake::freeName(const QString& stem) const
{
    // People tell sensors apart by their names in the tables, the reports and the letters.
    // The numbers taken from the list's length + 1 on are gathered in one walk over the
    // registry. A name shorter than the first candidate, or as long and sorting before it after
    // the stem, holds a smaller number if any, and is passed over without being read: the
    // registry is mostly such names.
    const int first = state.sensors.size() + 1;
    const QString lowest = stem + QString::number(first);
    const auto below = [&](const QString& name) {
        return std::lexicographical_compare(
            name.cbegin() + stem.size(), name.cend(), lowest.cbegin() + stem.size(), lowest.cend());
    };
    QSet<int> taken;
    for (const Sensor* s : qAsConst(state.sensors)) {
        const QString& name = s->name;
        if (name.size() < lowest.size() || (name.size() == lowest.size() && below(name)) || !name.startsWith(stem))
            continue;
        bool ok = false;
        const int number = name.midRef(stem.size()).toInt(&ok);
        if (ok && name == stem + QString::number(number))
            taken.insert(number);
    }
    int number = first;
    while (taken.contains(number))
        ++number;
    return stem + QString::number(number);
}

void SensorIntake::update(int index, const SensorData& data)
{
    Sensor* s = state.sensors[index];
    s->lastData = data;
    s->online = true;
    const qint64 previous = s->lastSeen;
    s->lastSeen = now();
    // Registry writes above and this measurement share the writer's queue, in this order.
    sink.storeMeasurement({ s->EUI64, data, s->lastSeen / 1000 });

    const QString location = state.locationName(s->location);
    if (data.hasTemperature)
        checkNotifications(index, data.temperature, KindTemperature, s->EUI64, s->name, location);
    if (data.hasWetness)
        checkNotifications(index, data.wetness, KindHumidity, s->EUI64, s->name, location);
    if (data.hasBattery)
        checkNotifications(index, data.battery, KindBattery, s->EUI64, s->name, location);

    if (lostContactEvent(state, *s, (s->lastSeen - previous) / 1000)) {
        NotificationsMessage m;
        m.EUI64 = s->EUI64;
        m.sensorName = s->name;
        m.locationName = location;
        m.type = NotifySensorLost;
        m.value = QVariant(0);
        sink.raiseNotification(m);
    }
}

void SensorIntake::checkNotifications(
    int index, double value, int kind, const QString& eui64, const QString& name, const QString& locationName)
{
    if (index < 0 || index >= state.sensors.size())
        return;
    NotificationsMessage m;
    m.EUI64 = eui64;
    m.sensorName = name;
    m.locationName = locationName;
    m.value = QVariant(value);
    for (int type : thresholdEvents(state, *state.sensors[index], value, kind)) {
        m.type = type;
        sink.raiseNotification(m);
    }
}

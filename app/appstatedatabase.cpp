// AppState's side of the database module: the registry lists it loads, the days it keeps and
// what it reports back. Kept apart from the rest of AppState, which needs no SQL at all.
#include "app/appstate.h"

#include <QPointer>

#include "storage/sqlbasemodule.h"

void AppState::followDatabase(SQLBaseModule& database)
{
    databaseLink = std::make_unique<QObject>();
    QObject* link = databaseLink.get();
    database.daysSave = [this, alive = QPointer<QObject>(link)] { return alive && !purgeWaits ? DaysSave : -1; };
    database.setRegistry(&sensors, &locations);
    QObject::connect(&database, &SQLBaseModule::signalAggregatesReady, link, [this](bool ready, bool batteryBounds) {
        aggregatesReady = ready;
        batteryBoundsReady = batteryBounds;
    });
    QObject::connect(&database, &SQLBaseModule::signalWriterChanged, link, [this, &database](DatabaseWriter* writer) {
        // Another module's writer is left as it is.
        if (writer || databaseWriter == database.writer)
            databaseWriter = writer;
        if (writer)
            openDBType = database.dbType;
    });
}

#include "bench/common/generateddatabase.h"

#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

#include "app/appstate.h"

namespace
{

std::unique_ptr<SQLBaseModule> opened()
{
    auto module = std::make_unique<SQLBaseModule>();
    module->init(0, QString(), QString(), QString(), QString(), 0);
    return module;
}

} // namespace

std::unique_ptr<SQLBaseModule> generatedDatabase(AppState& state, const DataGenerator::Options& options)
{
    QFile::remove(QStringLiteral("data/measurement.db3"));
    auto module = opened();
    QElapsedTimer clock;
    clock.start();
    {
        DataGenerator generator(module->db, options);
        QString error;
        if (!generator.run(&error)) {
            std::fprintf(stderr, "data generation failed: %s\n", qPrintable(error));
            return nullptr;
        }
        std::printf("database: %lld measurements of %d sensors in %d rooms (%lld ms)\n",
            generator.measurementsWritten(), options.sensors, options.locations, clock.elapsed());
    }
    module.reset();
    qDeleteAll(state.locations);
    state.locations.clear();
    qDeleteAll(state.sensors);
    state.sensors.clear();
    return opened();
}

#pragma once

#include <memory>

#include "storage/sqlbasemodule.h"
#include "tools/datagen/datagenerator.h"

class AppState;

// The SQLite database "data/measurement.db3" of the current folder made afresh and filled by the
// data generator, then opened again as the program opens it at start: the registry loaded into
// `state` anew and the aggregates built. Prints what it wrote and how long it took; null, with
// the reason printed, when the generator failed.
std::unique_ptr<SQLBaseModule> generatedDatabase(AppState& state, const DataGenerator::Options& options);

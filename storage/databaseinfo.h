#pragma once

#include <QString>

// What the information dialog tells of the measurement database.
namespace DatabaseInfo
{

// The number of stored measurements on the default connection; empty when the query failed.
QString measureCount();

} // namespace DatabaseInfo

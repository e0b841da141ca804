#pragma once
#include "data/DriverStatement.h"

// The program's statements are written for Oracle, with :name markers. For a
// PostgreSQL server they pass through the Oracle-dialect layer and take
// numbered markers, one per name; for Oracle's own driver they stay as
// written, with a ? per marker.
namespace statements {

DriverStatement forPostgres(const QString& oracleText);
DriverStatement forOracleDriver(const QString& oracleText);

} // namespace statements

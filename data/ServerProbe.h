#pragma once
#include "data/DbError.h"

#include <QString>

// Why a connection to a PostgreSQL server failed, found without the driver's
// message (which libpq translates into the workstation's language): does
// anything answer at the address, does it speak TLS, does its certificate
// chain to the given CA and name the host. Anything else is the server's
// refusal. No password is sent.
ConnectionFailure::Cause probeServer(const QString& host, int port, const QString& caFile,
                                     int timeoutMs);

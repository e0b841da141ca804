#pragma once
#include "data/DbError.h"

#include <QString>

// Why a connection to a PostgreSQL server would fail, found without the
// driver (whose connect blocks, and whose message libpq translates into the
// workstation's language): does anything answer at the address, does it speak
// TLS, does its certificate chain to the given CA and name the host. A server
// that passes all three is Refused only if it then refuses the account. No
// password is sent; the window goes on painting meanwhile.
struct ServerProbe {
    ConnectionFailure::Cause cause;
    QString message; // what went wrong, when something did
};
ServerProbe probeServer(const QString& host, int port, const QString& caFile, int timeoutMs);

#pragma once
#include "data/Libpq.h"

#include <QString>
#include <optional>

// Opening a PostgreSQL connection without blocking the window.
namespace pq {

struct Endpoint {
    QString host;
    int port = 5432;
    QString database;
};
// host[:port]/database, the alias form of a PostgreSQL server.
std::optional<Endpoint> endpointOf(const QString& alias);

struct Login {
    Endpoint at;
    QString user;
    QString password;
    QString trustedCa; // the CA the server's certificate must chain to
};

// The host name is looked up and libpq's connection steps are waited for in
// the event loop, all within the time given. The password goes only to a
// server whose certificate chains to the trusted CA and names the host. A
// failure says why (ConnectionFailure): nothing answered, the server did not
// prove itself, or it refused the account.
Connection connect(const Login& login, int timeoutMs);

} // namespace pq

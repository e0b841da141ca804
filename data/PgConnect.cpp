#include "data/PgConnect.h"

#include "data/DbError.h"
#include "platform/EventWait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QRegularExpression>
#include <libpq-fe.h>
#include <vector>

namespace pq {
namespace {

using Cause = ConnectionFailure::Cause;

QString timedOut(const QString& where) {
    return QStringLiteral("%1: нет ответа").arg(where);
}

int remainingMs(const QDeadlineTimer& deadline) {
    return int(std::max<qint64>(0, deadline.remainingTime()));
}

// The host's address, looked up in the event loop (libpq's own lookup blocks).
QString addressOf(const QString& host, const QString& where, const QDeadlineTimer& deadline) {
    if (QHostAddress literal; literal.setAddress(host))
        return host;
    std::optional<QHostInfo> found;
    if (QCoreApplication::instance()) {
        EventWait wait;
        QObject context;
        const int lookup = QHostInfo::lookupHost(host, &context, [&](const QHostInfo& info) {
            found = info;
            wait.wake();
        });
        while (!found && !deadline.hasExpired())
            wait.untilWoken(remainingMs(deadline));
        if (!found) {
            QHostInfo::abortHostLookup(lookup);
            throw ConnectionFailure(Cause::Unreachable, timedOut(where));
        }
    } else {
        found = QHostInfo::fromName(host);
    }
    if (found->error() != QHostInfo::NoError || found->addresses().isEmpty())
        throw ConnectionFailure(Cause::Unreachable,
                                where + QStringLiteral(": ") + found->errorString());
    return found->addresses().constFirst().toString();
}

// Why libpq gave up, from the step it was at: before the server answered,
// while the server proved itself, or after.
ConnectionFailure failureAt(ConnStatusType step, pg_conn* connection, const QString& password) {
    QString message = QString::fromUtf8(PQerrorMessage(connection)).simplified();
    if (!password.isEmpty())
        message.replace(password, QLatin1String("***"));
    switch (step) {
    case CONNECTION_NEEDED:
    case CONNECTION_STARTED:
    case CONNECTION_MADE:
        return ConnectionFailure(Cause::Unreachable, message);
    case CONNECTION_SSL_STARTUP:
        return ConnectionFailure(Cause::Untrusted, message);
    default:
        return ConnectionFailure(Cause::Refused, message);
    }
}

// libpq's connection keywords and their values.
using Keywords = std::vector<std::pair<const char*, QByteArray>>;

Keywords keywordsFor(const Login& login, const QString& address) {
    Keywords k;
    if (!login.at.host.isEmpty()) // the host is the name the certificate must carry
        k = {{"host", login.at.host.toUtf8()},
             {"hostaddr", address.toUtf8()},
             {"port", QByteArray::number(login.at.port)}};
    k.insert(k.end(), {{"dbname", login.at.database.toUtf8()},
                       {"user", login.user.toUtf8()},
                       {"password", login.password.toUtf8()},
                       {"sslmode", "verify-full"},
                       {"sslrootcert", login.trustedCa.toUtf8()},
                       {"gssencmode", "disable"},
                       {"client_encoding", "UTF8"}});
    // Options given here win over role defaults, which the shared account
    // may set for itself: every setting the program depends on is fixed, so
    // that no default breaks a workstation. Statements kept prepared run again
    // with other user ids: they are planned once, not for each run's values.
    // The values of a failing statement stay out of the server's log. Dates
    // come as ISO text, which the program reads.
    k.push_back({"options", "-c plan_cache_mode=force_generic_plan "
                            "-c log_parameter_max_length_on_error=0 -c datestyle=ISO "
                            "-c search_path=tulmina_compat,pg_catalog,public "
                            "-c default_transaction_read_only=off "
                            "-c default_transaction_isolation=read\\ committed "
                            "-c statement_timeout=0 -c lock_timeout=0 "
                            "-c idle_in_transaction_session_timeout=0 "
                            "-c local_preload_libraries= -c client_min_messages=warning"});
    return k;
}

} // namespace

std::optional<Endpoint> endpointOf(const QString& alias) {
    static const QRegularExpression form(QStringLiteral("^([^:/]+)(?::(\\d+))?/(.+)$"));
    const auto m = form.match(alias);
    if (!m.hasMatch())
        return std::nullopt;
    return Endpoint{m.captured(1), m.captured(2).isEmpty() ? 5432 : m.captured(2).toInt(),
                    m.captured(3)};
}

Connection connect(const Login& login, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    const QString where = QStringLiteral("%1:%2").arg(login.at.host).arg(login.at.port);
    const QString address =
        login.at.host.isEmpty() ? QString() : addressOf(login.at.host, where, deadline);
    const Keywords keywords = keywordsFor(login, address);
    std::vector<const char*> keys, values;
    for (const auto& [key, value] : keywords) {
        keys.push_back(key);
        values.push_back(value.constData());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    Connection c(PQconnectStartParams(keys.data(), values.data(), 0));
    if (!c)
        throw ConnectionFailure(Cause::Unreachable, where + QStringLiteral(": нет памяти"));
    EventWait wait;
    ConnStatusType step = CONNECTION_NEEDED;
    PostgresPollingStatusType polling =
        PQstatus(c.get()) == CONNECTION_BAD ? PGRES_POLLING_FAILED : PGRES_POLLING_WRITING;
    while (polling != PGRES_POLLING_OK) {
        if (polling == PGRES_POLLING_FAILED)
            throw failureAt(step, c.get(), login.password);
        const int socket = PQsocket(c.get());
        const EventWait::End end = polling == PGRES_POLLING_READING
                                       ? wait.untilReadable(socket, remainingMs(deadline))
                                       : wait.untilWritable(socket, remainingMs(deadline));
        if (end == EventWait::End::TimedOut)
            throw ConnectionFailure(Cause::Unreachable, timedOut(where));
        step = PQstatus(c.get());
        polling = PQconnectPoll(c.get());
    }
    return c;
}

} // namespace pq

#include "data/SqlConnection.h"

#include "data/DbError.h"
#include "data/OracleConnection.h"
#include "data/PgConnection.h"
#include "data/RowCursor.h"

QString noReasonGiven() {
    return QStringLiteral("сервер базы данных не сообщил причину");
}

std::unique_ptr<SqlConnection> SqlConnection::make(const QString& connectionName,
                                                   const QString& driver, QStringList params) {
    if (driver == QLatin1String("QPSQL"))
        return std::make_unique<PgConnection>(std::move(params));
    if (driver == QLatin1String("QOCI"))
        return std::make_unique<OracleConnection>(connectionName, std::move(params));
    throw ProgramError(QStringLiteral("Драйвер базы данных %1 программе не известен: "
                                      "подходят QOCI (Oracle) и QPSQL (PostgreSQL)")
                           .arg(driver));
}

SqlConnection::SqlConnection(Server server, QStringList params)
    : server_(server), params_(std::move(params)) {}

SqlConnection::~SqlConnection() = default;

QString SqlConnection::param(const QString& key) const {
    const QString prefix = key + u'=';
    for (const QString& line : params_)
        if (line.startsWith(prefix))
            return line.mid(prefix.size());
    return {};
}

void SqlConnection::open() {
    if (connected())
        return;
    connectToServer();
    if (std::exchange(everOpened_, true))
        callReopenedHook();
}

// A hook that runs statements of its own may lose the connection again: it is
// not called again from inside itself.
void SqlConnection::callReopenedHook() {
    if (!reopened_ || reopening_)
        return;
    reopening_ = true;
    try {
        reopened_();
    } catch (...) {
        reopening_ = false;
        disconnect();
        throw;
    }
    reopening_ = false;
}

DriverStatement SqlConnection::prepareStatement(const QString& text) {
    if (!connected()) {
        if (!everOpened_)
            throw ProgramError(QStringLiteral("Соединение с базой данных ещё не открыто"));
        open(); // lost earlier: opened again on its next use
    }
    if (const DriverStatement* known = translated_.find(text))
        return *known;
    DriverStatement statement = forServer(text);
    if (statement.secret.isEmpty()) // a statement with a password is never remembered
        translated_.keep(text, statement);
    return statement;
}

int SqlConnection::executeDirect(const QString& sql) {
    const DriverStatement statement = prepareStatement(sql);
    const auto [affected, first] =
        runDirect(statement, statement.values([](const QString&) { return QVariant(); }));
    if (statement.link == oracle::LinkAction::None)
        return affected;
    if (linkAnswer_)
        linkAnswer_(statement, first);
    return 0;
}

void SqlConnection::fail(QString message, const QString& sqlState, const QString& secret) {
    if (!secret.isEmpty())
        message.replace(secret, QLatin1String("***"));
    if (message.trimmed().isEmpty())
        message = noReasonGiven();
    reopenIfLost();
    throw DbError(message, sqlState);
}

void SqlConnection::drop() noexcept {
    ++generation_;
    disconnect();
}

// After a failed statement: an ordinary error leaves the connection as it is;
// a lost connection is opened again at once, and when the server is still away,
// at its next use. Nothing is run again: the statement's own error stands.
void SqlConnection::reopenIfLost() noexcept {
    if (!connected() || !lost())
        return;
    drop();
    try {
        open();
    } catch (const std::exception&) {
    }
}

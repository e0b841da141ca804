#include "data/SqlConnection.h"

#include "data/DbError.h"
#include "data/OracleDialect.h"
#include "data/ServerProbe.h"
#include "data/SqlLexer.h"

#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <algorithm>

namespace {

struct Endpoint {
    QString host;
    int port = 5432;
    QString database;
};

// host[:port]/database, the alias form of the PostgreSQL server.
std::optional<Endpoint> endpointOf(const QString& alias) {
    static const QRegularExpression form(QStringLiteral("^([^:/]+)(?::(\\d+))?/(.+)$"));
    const auto m = form.match(alias);
    if (!m.hasMatch())
        return std::nullopt;
    return Endpoint{m.captured(1), m.captured(2).isEmpty() ? 5432 : m.captured(2).toInt(),
                    m.captured(3)};
}

// A connection option value in libpq's quoted form.
QString optionValue(QString value) {
    return u'\'' +
           value.replace(u'\\', QLatin1String("\\\\")).replace(u'\'', QLatin1String("\\'")) + u'\'';
}

// The text with every :name marker replaced by the driver's own: $1, $2, ...
// one per name (letter case aside), or ? per marker. The names behind the
// markers are listed in order.
QString withDriverMarkers(const QString& text, bool numbered, QStringList* order) {
    QString out;
    for (const sqllex::Token& t : sqllex::tokenize(text)) {
        if (t.kind != sqllex::Kind::Parameter) {
            out += t.text;
            continue;
        }
        const QString name = t.text.mid(1);
        if (!numbered) {
            *order << name;
            out += u'?';
            continue;
        }
        qsizetype at = std::find_if(order->cbegin(), order->cend(),
                                    [&](const QString& known) {
                                        return known.compare(name, Qt::CaseInsensitive) == 0;
                                    }) -
                       order->cbegin();
        if (at == order->size()) {
            at = order->size();
            *order << name;
        }
        out += u'$' + QString::number(at + 1);
    }
    return out;
}

// The package that brings a QtSql driver, for the message when it is missing.
QString driverPackage(const QString& driver) {
    if (driver == QLatin1String("QPSQL"))
        return QStringLiteral("libqt6sql6-psql");
    if (driver == QLatin1String("QOCI"))
        return QStringLiteral("libqt6sql6-oci");
    return QStringLiteral("libqt6sql6-") + driver.mid(1).toLower();
}

Rows rowsOf(const pq::Result& r) {
    Rows rows;
    for (int c = 0; c < r.columns(); ++c)
        rows.columns << r.columnName(c);
    rows.rows.reserve(size_t(r.rows()));
    for (int row = 0; row < r.rows(); ++row) {
        QVariantList values;
        values.reserve(r.columns());
        for (int c = 0; c < r.columns(); ++c)
            values << r.value(row, c);
        rows.rows.push_back(std::move(values));
    }
    return rows;
}

constexpr size_t KeptStatements = 8;

// A server error without words of its own.
const QString NoReason = QStringLiteral("сервер базы данных не сообщил причину");

// Moves the entry of `key` to the front and returns it, or end() when absent.
template <class List> auto findRecent(List& list, const QString& key) {
    const auto it = std::find_if(list.begin(), list.end(),
                                 [&](const auto& entry) { return entry.first == key; });
    if (it != list.end())
        list.splice(list.begin(), list, it);
    return it == list.end() ? list.end() : list.begin();
}

// Why a connection to the PostgreSQL server failed is told by a probe of the
// server, not by the driver's message: libpq writes that in the workstation's
// language. Elsewhere the server refused it.
[[noreturn]] void failToOpen(const QString& message, const std::optional<Endpoint>& postgres,
                             const QString& trustedCa) {
    throw ConnectionFailure(postgres ? probeServer(postgres->host, postgres->port, trustedCa, 5000)
                                     : ConnectionFailure::Cause::Refused,
                            message);
}

} // namespace

QString serverMessage(const QSqlError& error, const QString& secret) {
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    // The server may add the statement's line after the message; keep the message.
    text = text.section(u'\n', 0, 0).trimmed();
    if (!secret.isEmpty())
        text.replace(secret, QLatin1String("***"));
    return text.isEmpty() ? NoReason : text;
}

SqlConnection::SqlConnection(QString connectionName, QString sqlDriver, QStringList params)
    : sqlDriver_(std::move(sqlDriver)), params_(std::move(params)) {
    // Each object gets a QtSql connection of its own, even under the same stored name.
    static int instances = 0;
    name_ = connectionName + u'#' + QString::number(++instances);
}

SqlConnection::~SqlConnection() {
    forgetServerState();
    if (QSqlDatabase::contains(name_)) {
        database().close();
        QSqlDatabase::removeDatabase(name_);
    }
}

QString SqlConnection::param(const QString& key) const {
    const QString prefix = key + u'=';
    for (const QString& line : params_)
        if (line.startsWith(prefix))
            return line.mid(prefix.size());
    return {};
}

bool SqlConnection::connected() const {
    return QSqlDatabase::contains(name_) && database().isOpen();
}

QSqlDatabase SqlConnection::database() const {
    return QSqlDatabase::database(name_, false);
}

pg_conn* SqlConnection::pg() const {
    const QVariant handle = database().driver()->handle();
    return handle.isValid() ? *static_cast<pg_conn* const*>(handle.constData()) : nullptr;
}

void SqlConnection::open() {
    if (connected())
        return;
    if (!QSqlDatabase::contains(name_)) {
        if (!QSqlDatabase::isDriverAvailable(sqlDriver_))
            throw ProgramError(
                QStringLiteral("Не найден драйвер базы данных %1 (пакет %2): без него программа "
                               "не может подключиться к базе данных")
                    .arg(sqlDriver_, driverPackage(sqlDriver_)));
        QSqlDatabase::addDatabase(sqlDriver_, name_);
    }
    QSqlDatabase db = database();
    const QString alias = param(QStringLiteral("DataBase"));
    const auto endpoint = endpointOf(alias);
    if (usesDialect() && endpoint) {
        db.setHostName(endpoint->host);
        db.setPort(endpoint->port);
        db.setDatabaseName(endpoint->database);
    } else {
        db.setDatabaseName(alias);
    }
    // The password is sent only to a server whose certificate chains to the
    // trusted CA and names the host. Statements kept prepared run again with
    // other user ids: they are planned once, not for each run's values. The
    // values of a failing statement stay out of the server's log whatever
    // default the service account gave itself: options go before role defaults.
    if (usesDialect())
        db.setConnectOptions(QStringLiteral("connect_timeout=5;options=") +
                             optionValue(QStringLiteral("-cplan_cache_mode=force_generic_plan "
                                                        "-clog_parameter_max_length_on_error=0")) +
                             QStringLiteral(";sslmode=verify-full;sslrootcert=") +
                             optionValue(trustedCa_));
    db.setUserName(param(QStringLiteral("User_Name")));
    db.setPassword(param(QStringLiteral("Password")));
    if (!db.open())
        failToOpen(serverMessage(db.lastError(), param(QStringLiteral("Password"))),
                   usesDialect() ? endpoint : std::nullopt, trustedCa_);
    everOpened_ = true;
    forgetServerState();
    resumeSignIns();
}

void SqlConnection::close() {
    forgetServerState();
    if (QSqlDatabase::contains(name_))
        database().close();
}

DriverStatement SqlConnection::prepareStatement(const QString& text) {
    if (!connected()) {
        if (!everOpened_)
            throw ProgramError(QStringLiteral("Соединение с базой данных ещё не открыто"));
        open(); // lost earlier: opened again on its next use
    }
    if (auto known = findRecent(translated_, text); known != translated_.end())
        return known->second;
    DriverStatement statement;
    QString sql = text;
    if (usesDialect()) {
        oracle::Translation t = oracle::translate(text);
        sql = t.sql;
        statement.ownValues = std::move(t.values);
        statement.link = t.link;
        statement.linkName = t.linkName;
        statement.secret = t.secret;
    }
    statement.sql = withDriverMarkers(sql, usesDialect(), &statement.markerOrder);
    if (statement.secret.isEmpty()) {
        translated_.emplace_front(text, statement);
        if (translated_.size() > KeptStatements)
            translated_.pop_back();
    }
    return statement;
}

pq::Result SqlConnection::pgExec(const QString& sql, const QList<QVariant>& values,
                                 const QString& secret) {
    awaitSent();
    pq::Result result = pq::exec(pg(), sql, values);
    if (!result.ok())
        fail(result.errorMessage(), result.sqlState(), secret);
    return result;
}

void SqlConnection::run(QSqlQuery& q, const DriverStatement& statement,
                        const QList<QVariant>& values, bool prepared) {
    bool ok = false;
    if (statement.markerOrder.isEmpty() && !prepared) {
        ok = q.exec(statement.sql);
    } else {
        ok = q.prepare(statement.sql);
        for (const QVariant& v : values)
            q.addBindValue(v);
        ok = ok && q.exec();
    }
    if (!ok)
        fail(q.lastError(), statement.secret);
}

void SqlConnection::fail(const QSqlError& error, const QString& secret) {
    fail(serverMessage(error, secret), error.nativeErrorCode(), secret);
}

void SqlConnection::fail(const QString& message, const QString& sqlState, const QString& secret) {
    QString text = message.isEmpty() && usesDialect() ? pq::connectionMessage(pg()) : message;
    if (!secret.isEmpty())
        text.replace(secret, QLatin1String("***"));
    if (text.isEmpty())
        text = NoReason;
    reopenIfLost();
    throw DbError(text, sqlState);
}

// Whether the server is gone from under the connection: on PostgreSQL the
// connection's own state tells; elsewhere a trivial statement is tried.
bool SqlConnection::lost() noexcept {
    if (!connected())
        return false;
    if (usesDialect())
        return pq::broken(pg());
    QSqlQuery probe(database());
    return !probe.exec(QStringLiteral("select 1 from dual"));
}

// After a failed statement: an ordinary error leaves the connection as it is;
// a lost connection is opened again at once, and when the server is still away,
// at its next use. Nothing is run again: the statement's own error stands.
void SqlConnection::reopenIfLost() noexcept {
    if (!lost())
        return;
    ++generation_;
    forgetServerState();
    database().close();
    try {
        open();
    } catch (const std::exception&) {
    }
}

void SqlConnection::closeGivenUpCursors() {
    if (cursorsToClose_.size() < 16)
        return;
    awaitSent();
    QString sql;
    for (const QString& name : std::exchange(cursorsToClose_, {}))
        sql += QStringLiteral("close %1;").arg(name);
    if (usesDialect())
        pq::exec(pg(), sql); // a cursor already gone is no error worth raising
    else
        QSqlQuery(database()).exec(sql);
}

int SqlConnection::executeDirect(const QString& sql) {
    const DriverStatement statement = prepareStatement(sql);
    const QList<QVariant> values = statement.values([](const QString&) { return QVariant(); });
    if (usesDialect()) {
        const pq::Result result = pgExec(statement.sql, values, statement.secret);
        keepSignIn(statement, result);
        return statement.link == oracle::LinkAction::None ? result.affected() : 0;
    }
    QSqlQuery q(database());
    run(q, statement, values, false);
    return std::max(0, q.numRowsAffected());
}

void SqlConnection::executePrepared(const DriverStatement& statement,
                                    const QList<QVariant>& values) {
    if (statement.secret.isEmpty()) {
        executeKept(statement, values);
    } else if (usesDialect()) {
        pgExec(statement.sql, values, statement.secret);
    } else {
        QSqlQuery q(database());
        run(q, statement, values, true);
    }
}

Rows SqlConnection::executeKept(const DriverStatement& statement, const QList<QVariant>& values) {
    return usesDialect() ? keptOnServer(statement, values) : keptByDriver(statement, values);
}

// The server's name of a kept statement, prepared the first time it is used.
const QByteArray& SqlConnection::preparedOnServer(const DriverStatement& statement) {
    awaitSent();
    auto kept = findRecent(keptOnServer_, statement.sql);
    if (kept == keptOnServer_.end()) {
        const QByteArray name = "tulmina_statement_" + QByteArray::number(++statements_);
        const pq::Result prepared = pq::prepare(pg(), name, statement.sql);
        if (!prepared.ok())
            fail(prepared.errorMessage(), prepared.sqlState(), statement.secret);
        keptOnServer_.emplace_front(statement.sql, name);
        if (keptOnServer_.size() > KeptStatements) {
            pq::exec(pg(), QStringLiteral("deallocate ") + keptOnServer_.back().second);
            keptOnServer_.pop_back();
        }
        kept = keptOnServer_.begin();
    }
    return kept->second;
}

Rows SqlConnection::keptOnServer(const DriverStatement& statement, const QList<QVariant>& values) {
    const pq::Result result = pq::execPrepared(pg(), preparedOnServer(statement), values);
    if (!result.ok())
        fail(result.errorMessage(), result.sqlState(), statement.secret);
    return rowsOf(result);
}

void SqlConnection::sendKept(const DriverStatement& statement, const QList<QVariant>& values) {
    if (!usesDialect()) {
        awaitSent();
        ready_ = keptByDriver(statement, values);
        return;
    }
    const QByteArray& name = preparedOnServer(statement);
    if (!pq::sendPrepared(pg(), name, values))
        fail(QString(), QString(), statement.secret);
    sent_ = true;
    sentSecret_ = statement.secret;
}

Rows SqlConnection::receiveKept() {
    if (ready_)
        return *std::exchange(ready_, std::nullopt);
    if (!sent_)
        throw ProgramError(QStringLiteral("Нет отправленного запроса, чей ответ ждут"));
    sent_ = false;
    const pq::Result result = pq::receive(pg());
    if (!result.ok())
        fail(result.errorMessage(), result.sqlState(), sentSecret_);
    return rowsOf(result);
}

// A statement sent and never received holds the connection: its result is
// waited for and dropped before anything else goes out.
void SqlConnection::awaitSent() noexcept {
    ready_.reset();
    if (std::exchange(sent_, false) && usesDialect())
        pq::receive(pg());
}

Rows SqlConnection::keptByDriver(const DriverStatement& statement, const QList<QVariant>& values) {
    auto kept = findRecent(keptByDriver_, statement.sql);
    if (kept == keptByDriver_.end()) {
        auto q = std::make_unique<QSqlQuery>(database());
        q->setNumericalPrecisionPolicy(QSql::HighPrecision);
        if (!q->prepare(statement.sql))
            fail(q->lastError(), statement.secret);
        keptByDriver_.emplace_front(statement.sql, std::move(q));
        if (keptByDriver_.size() > KeptStatements)
            keptByDriver_.pop_back();
        kept = keptByDriver_.begin();
    }
    QSqlQuery& q = *kept->second;
    for (qsizetype i = 0; i < values.size(); ++i)
        q.bindValue(int(i), values[i]);
    if (!q.exec())
        fail(q.lastError(), statement.secret);
    Rows rows;
    const QSqlRecord record = q.record();
    for (int c = 0; c < record.count(); ++c)
        rows.columns << record.fieldName(c);
    while (q.next()) {
        QVariantList row;
        for (int c = 0; c < record.count(); ++c)
            row << q.value(c);
        rows.rows.push_back(std::move(row));
    }
    const QSqlError error = q.lastError();
    q.finish();
    if (error.isValid())
        fail(error, statement.secret);
    return rows;
}

// A link's creation that signed this connection in gives a token; its drop
// ends the sign-in.
void SqlConnection::keepSignIn(const DriverStatement& statement, const pq::Result& result) {
    if (statement.link == oracle::LinkAction::Drop)
        signIns_.erase(statement.linkName);
    if (statement.link != oracle::LinkAction::Create || result.rows() == 0)
        return;
    const QVariant token = result.value(0, 0);
    if (!token.isNull())
        signIns_[statement.linkName] = token.toString();
}

// Signs a connection opened again in through the links its predecessor signed
// in through, without asking the user. A sign-in the server no longer knows
// (its link dropped meanwhile) is let go: the server then refuses subscriber
// data in words of its own.
void SqlConnection::resumeSignIns() noexcept {
    for (auto it = signIns_.begin(); it != signIns_.end();) {
        const pq::Result resumed =
            pq::exec(pg(), QStringLiteral("select tulmina_link.resume_link($1, $2)"),
                     {it->first, it->second});
        it = resumed.ok() ? std::next(it) : signIns_.erase(it);
    }
}

// What the server held for the connection's process is gone with it.
void SqlConnection::forgetServerState() {
    sent_ = false;
    ready_.reset();
    keptOnServer_.clear();
    keptByDriver_.clear();
    translated_.clear();
    cursorsToClose_.clear();
}

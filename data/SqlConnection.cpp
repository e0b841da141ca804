#include "data/SqlConnection.h"

#include "data/DbError.h"
#include "data/OracleDialect.h"
#include "data/ServerProbe.h"
#include "data/ServerWait.h"
#include "data/SqlLexer.h"
#include "platform/Failure.h"

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
// How long a statement the user stopped is given to end on the server before
// the connection is dropped.
constexpr int StopGraceMs = 3000;
// How long the server has to answer a new connection.
constexpr int ConnectTimeoutMs = 5000;

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

// Puts an entry in front of the few kept; returns the one it pushed out, if any.
template <class List, class Value>
std::optional<typename List::value_type> keepRecent(List& list, const QString& key, Value value) {
    list.emplace_front(key, std::move(value));
    if (list.size() <= KeptStatements)
        return std::nullopt;
    std::optional<typename List::value_type> out(std::move(list.back()));
    list.pop_back();
    return out;
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
        db.setConnectOptions(
            QStringLiteral("connect_timeout=%1;options=").arg(ConnectTimeoutMs / 1000) +
            optionValue(QStringLiteral("-cplan_cache_mode=force_generic_plan "
                                       "-clog_parameter_max_length_on_error=0")) +
            QStringLiteral(";sslmode=verify-full;sslrootcert=") + optionValue(trustedCa_));
    db.setUserName(param(QStringLiteral("User_Name")));
    db.setPassword(param(QStringLiteral("Password")));
    // Whether anything answers at the address and proves itself is found out
    // in the event loop first: the driver's own connect blocks the window.
    if (usesDialect() && endpoint) {
        const ServerProbe probe =
            probeServer(endpoint->host, endpoint->port, trustedCa_, ConnectTimeoutMs);
        if (probe.cause != ConnectionFailure::Cause::Refused)
            throw ConnectionFailure(probe.cause, probe.message);
    }
    if (!db.open())
        throw ConnectionFailure(ConnectionFailure::Cause::Refused,
                                serverMessage(db.lastError(), param(QStringLiteral("Password"))));
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
    if (statement.secret.isEmpty())
        keepRecent(translated_, text, statement);
    return statement;
}

pq::Result SqlConnection::ask(const QString& sql, const QList<QVariant>& values,
                              const QString& secret) {
    return ask([&](pg_conn* c) { return pq::send(c, sql, values); }, secret);
}

pq::Result SqlConnection::ask(const Send& send, const QString& secret) {
    pq::Result answer = roundTrip(send);
    if (!answer.ok())
        fail(answer.errorMessage(), answer.sqlState(), secret);
    return answer;
}

pq::Result SqlConnection::roundTrip(const Send& send) {
    readyToSend();
    pg_conn* c = pg();
    if (!c || !send(c))
        return pq::Result();
    return awaitAnswer(c);
}

// Every result of the statement, read as it arrives, the window going on
// meanwhile; the first error, else the first result, is its answer.
pq::Result SqlConnection::awaitAnswer(pg_conn* c) {
    ServerWait wait(answerLimitMs_);
    pq::Result answer;
    for (;;) {
        if (!pq::consume(c))
            return pq::Result(); // the connection broke
        if (pq::busy(c)) {
            if (!wait.untilReadable(pq::socket(c)))
                return stopStatement(c, wait, std::move(answer));
            continue;
        }
        pq::Result next = pq::next(c);
        if (next.isNull())
            return answer;
        if (answer.isNull() || (answer.ok() && !next.ok()))
            answer = std::move(next);
    }
}

// The user chose to stop: the server is asked to cancel the statement. One
// that ended before the cancel reached it stands. A server that does not
// answer even that loses the connection: a new one is opened at the next use.
pq::Result SqlConnection::stopStatement(pg_conn* c, ServerWait& wait, pq::Result answer) {
    pq::cancelAside(c);
    const QDeadlineTimer grace(StopGraceMs);
    while (!grace.hasExpired() && pq::consume(c)) {
        if (pq::busy(c)) {
            wait.untilReadable(pq::socket(c), grace);
            continue;
        }
        pq::Result next = pq::next(c);
        if (next.isNull()) {
            if (answer.ok())
                return answer;
            throw Stopped(QStringLiteral("Ожидание ответа сервера базы данных прервано, "
                                         "запрос на сервере отменён"));
        }
        if (answer.isNull() || !next.ok())
            answer = std::move(next);
    }
    drop();
    throw Stopped(
        QStringLiteral("Ожидание ответа сервера базы данных прервано; сервер не ответил "
                       "и на отмену, соединение откроется заново при следующем действии"));
}

// A connection no longer trusted to answer: closed here, opened anew at its
// next use. The server ends its side when it notices.
void SqlConnection::drop() noexcept {
    ++generation_;
    forgetServerState();
    database().close();
}

// Before a statement goes out: the rows of a sent one are read (and lost),
// and the cursors given up are closed, all of them in one round trip.
void SqlConnection::readyToSend() {
    awaitSent();
    closeGivenUpCursors();
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

// A transaction that has failed takes no statement until its rollback: the
// cursors are closed after it. A cursor already gone is no error worth raising.
void SqlConnection::closeGivenUpCursors() {
    if (cursorsToClose_.isEmpty())
        return;
    const QStringList names = std::exchange(cursorsToClose_, {});
    QString script;
    for (const QString& name : names)
        script += QStringLiteral("close %1;").arg(name);
    if (!usesDialect()) {
        QSqlQuery(database()).exec(script);
        return;
    }
    pg_conn* c = pg();
    if (!c || !pq::sendScript(c, script))
        return;
    const pq::Result answer = awaitAnswer(c);
    if (answer.sqlState() == QLatin1String("25P02"))
        cursorsToClose_ = names;
}

int SqlConnection::executeDirect(const QString& sql) {
    const DriverStatement statement = prepareStatement(sql);
    const QList<QVariant> values = statement.values([](const QString&) { return QVariant(); });
    if (usesDialect()) {
        const pq::Result result = ask(statement.sql, values, statement.secret);
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
        ask(statement.sql, values, statement.secret);
    } else {
        QSqlQuery q(database());
        run(q, statement, values, true);
    }
}

Rows SqlConnection::executeKept(const DriverStatement& statement, const QList<QVariant>& values) {
    return usesDialect() ? keptOnServer(statement, values) : keptByDriver(statement, values);
}

// The server's name of a kept statement, prepared the first time it is used.
// A copy: a connection dropped in a later wait forgets its statements.
QByteArray SqlConnection::preparedOnServer(const DriverStatement& statement) {
    auto kept = findRecent(keptOnServer_, statement.sql);
    if (kept != keptOnServer_.end())
        return kept->second;
    const QByteArray name = "tulmina_statement_" + QByteArray::number(++statements_);
    ask([&](pg_conn* c) { return pq::sendPrepare(c, name, statement.sql); }, statement.secret);
    if (const auto out = keepRecent(keptOnServer_, statement.sql, name))
        roundTrip([&](pg_conn* c) {
            return pq::send(c, QStringLiteral("deallocate ") + QString::fromLatin1(out->second));
        });
    return keptOnServer_.front().second;
}

Rows SqlConnection::keptOnServer(const DriverStatement& statement, const QList<QVariant>& values) {
    const QByteArray name = preparedOnServer(statement);
    return rowsOf(
        ask([&](pg_conn* c) { return pq::sendPrepared(c, name, values); }, statement.secret));
}

void SqlConnection::sendKept(const DriverStatement& statement, const QList<QVariant>& values) {
    if (!usesDialect()) {
        awaitSent();
        ready_ = keptByDriver(statement, values);
        return;
    }
    const QByteArray name = preparedOnServer(statement);
    readyToSend();
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
    const pq::Result result = awaitAnswer(pg());
    if (!result.ok())
        fail(result.errorMessage(), result.sqlState(), sentSecret_);
    return rowsOf(result);
}

// A statement sent and never received holds the connection: its result is
// waited for and dropped before anything else goes out.
void SqlConnection::awaitSent() {
    ready_.reset();
    if (std::exchange(sent_, false) && usesDialect())
        awaitAnswer(pg());
}

void SqlConnection::discardSent() noexcept {
    try {
        awaitSent();
    } catch (const std::exception&) {
        // The connection was dropped: nothing of the statement is left to read.
    }
}

void SqlConnection::beginTransaction() {
    transactionStep(QStringLiteral("begin"), &QSqlDatabase::transaction);
}

void SqlConnection::commit() {
    transactionStep(QStringLiteral("commit"), &QSqlDatabase::commit);
}

// The statement on PostgreSQL, the driver's own call elsewhere.
void SqlConnection::transactionStep(const QString& statement, bool (QSqlDatabase::*onDriver)()) {
    if (usesDialect()) {
        ask(statement);
        return;
    }
    QSqlDatabase db = database();
    if (!(db.*onDriver)())
        fail(db.lastError());
}

void SqlConnection::rollback() noexcept {
    try {
        if (!usesDialect())
            database().rollback();
        else if (connected())
            roundTrip([](pg_conn* c) { return pq::send(c, QStringLiteral("rollback")); });
    } catch (const std::exception&) {
        // Stopped, or lost: the server ends the transaction with the connection.
    }
}

Rows SqlConnection::keptByDriver(const DriverStatement& statement, const QList<QVariant>& values) {
    auto kept = findRecent(keptByDriver_, statement.sql);
    if (kept == keptByDriver_.end()) {
        auto q = std::make_unique<QSqlQuery>(database());
        q->setNumericalPrecisionPolicy(QSql::HighPrecision);
        if (!q->prepare(statement.sql))
            fail(q->lastError(), statement.secret);
        keepRecent(keptByDriver_, statement.sql, std::move(q));
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
        pq::Result resumed;
        try {
            resumed = roundTrip([&](pg_conn* c) {
                return pq::send(c, QStringLiteral("select tulmina_link.resume_link($1, $2)"),
                                {it->first, it->second});
            });
        } catch (const std::exception&) {
        }
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

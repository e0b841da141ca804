#include "data/PgConnection.h"

#include "data/DbError.h"
#include "data/PgConnect.h"
#include "data/RowCursor.h"
#include "data/StatementTranslation.h"
#include "platform/LongWait.h"

#include <algorithm>
#include <libpq-fe.h>

namespace {

// How long a statement the user stopped is given to end on the server before
// the connection is dropped.
constexpr int StopGraceMs = 3000;
// How long the server has to answer a new connection.
constexpr int ConnectTimeoutMs = 5000;

// The rows of one answer, read from libpq's own copy of it.
class ResultCursor : public RowCursor {
public:
    explicit ResultCursor(pq::Result result) : result_(std::move(result)) {}
    bool hasRow() const override { return row_ < result_.rows(); }
    void next() override {
        if (hasRow())
            ++row_;
    }
    int column(const QString& name) const override { return result_.column(name); }
    QVariant value(int column) const override { return result_.value(row_, column); }

private:
    pq::Result result_;
    int row_ = 0;
};

} // namespace

PgConnection::PgConnection(QStringList params)
    : SqlConnection(Server::PostgreSQL, std::move(params)) {}

PgConnection::~PgConnection() = default;

void PgConnection::connectToServer() {
    pq::Login login;
    const QString alias = param(QStringLiteral("DataBase"));
    if (const auto endpoint = pq::endpointOf(alias))
        login.at = *endpoint;
    else
        login.at.database = alias;
    login.user = param(QStringLiteral("User_Name"));
    login.password = param(QStringLiteral("Password"));
    login.trustedCa = trustedCa();
    pg_ = pq::connect(login, ConnectTimeoutMs);
}

DriverStatement PgConnection::forServer(const QString& text) const {
    return statements::forPostgres(text);
}

void PgConnection::disconnect() noexcept {
    sent_ = false;
    kept_.clear();
    pg_.reset();
}

bool PgConnection::lost() noexcept {
    return pq::broken(pg_.get());
}

pq::Result PgConnection::ask(const QString& sql, const QList<QVariant>& values,
                             const QString& secret) {
    return ask([&](pg_conn* c) { return pq::send(c, sql, values); }, secret);
}

pq::Result PgConnection::ask(const Send& send, const QString& secret) {
    pq::Result answer = roundTrip(send);
    if (!answer.ok())
        failWith(answer, secret);
    return answer;
}

void PgConnection::failWith(const pq::Result& answer, const QString& secret) {
    const QString message =
        answer.isNull() ? pq::connectionMessage(pg_.get()) : answer.errorMessage();
    fail(message, answer.sqlState(), secret);
}

pq::Result PgConnection::roundTrip(const Send& send, bool stoppable) {
    awaitSent();
    if (!pg_ || !send(pg_.get()))
        return pq::Result();
    return awaitAnswer(stoppable);
}

// Every result of the statement, read as it arrives, the window going on
// meanwhile; the first error, else the first result, is its answer.
pq::Result PgConnection::awaitAnswer(bool stoppable) {
    pg_conn* c = pg_.get();
    LongWait wait(Awaited::Server, answerLimit(),
                  stoppable ? LongWait::Early::Stoppable : LongWait::Early::NotStoppable);
    pq::Result answer;
    for (;;) {
        if (!pq::consume(c))
            return pq::Result(); // the connection broke
        if (pq::busy(c)) {
            if (!wait.untilReadable(pq::socket(c)))
                return stopStatement(wait, std::move(answer));
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
pq::Result PgConnection::stopStatement(LongWait& wait, pq::Result answer) {
    pg_conn* c = pg_.get();
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

std::pair<int, QVariant> PgConnection::runDirect(const DriverStatement& statement,
                                                 const QList<QVariant>& values) {
    const pq::Result result = ask(statement.sql, values, statement.secret);
    return {result.affected(), result.rows() > 0 ? result.value(0, 0) : QVariant()};
}

void PgConnection::executePrepared(const DriverStatement& statement,
                                   const QList<QVariant>& values) {
    if (statement.secret.isEmpty())
        runKept(statement, values);
    else
        ask(statement.sql, values, statement.secret);
}

std::unique_ptr<RowCursor> PgConnection::openCursor(const DriverStatement& statement,
                                                    const QList<QVariant>& values) {
    return std::make_unique<ResultCursor>(ask(statement.sql, values, statement.secret));
}

// The server's name of a kept statement, prepared the first time it is used.
// A copy: a connection dropped in a later wait forgets its statements.
QByteArray PgConnection::preparedOnServer(const DriverStatement& statement) {
    if (const QByteArray* known = kept_.find(statement.sql))
        return *known;
    const QByteArray name = "tulmina_statement_" + QByteArray::number(++statements_);
    ask([&](pg_conn* c) { return pq::sendPrepare(c, name, statement.sql); }, statement.secret);
    if (const auto out = kept_.keep(statement.sql, name))
        roundTrip([&](pg_conn* c) {
            return pq::send(c, QStringLiteral("deallocate ") + QString::fromLatin1(*out));
        });
    return name;
}

pq::Result PgConnection::runKept(const DriverStatement& statement, const QList<QVariant>& values) {
    const QByteArray name = preparedOnServer(statement);
    return ask([&](pg_conn* c) { return pq::sendPrepared(c, name, values); }, statement.secret);
}

void PgConnection::sendKept(const DriverStatement& statement, const QList<QVariant>& values) {
    const QByteArray name = preparedOnServer(statement);
    awaitSent();
    if (!pg_ || !pq::sendPrepared(pg_.get(), name, values))
        failWith(pq::Result(), statement.secret);
    sent_ = true;
    sentSecret_ = statement.secret;
}

std::unique_ptr<RowCursor> PgConnection::receiveKept() {
    if (!sent_)
        throw ProgramError(QStringLiteral("Нет отправленного запроса, чей ответ ждут"));
    sent_ = false;
    pq::Result result = awaitAnswer();
    if (!result.ok())
        failWith(result, sentSecret_);
    return std::make_unique<ResultCursor>(std::move(result));
}

// A statement sent and never received holds the connection: its result is
// waited for and dropped before anything else goes out.
void PgConnection::awaitSent() {
    if (std::exchange(sent_, false) && pg_)
        awaitAnswer();
}

void PgConnection::discardSent() noexcept {
    try {
        awaitSent();
    } catch (const std::exception&) {
        // The connection was dropped: nothing of the statement is left to read.
    }
}

// A transaction left open by a failure that no rollback ended is never
// joined: its connection is dropped and a new one opened first.
void PgConnection::beginTransaction() {
    awaitSent();
    if (pg_ && PQtransactionStatus(pg_.get()) != PQTRANS_IDLE) {
        drop();
        open();
    }
    ask(QStringLiteral("begin"));
}

// A commit is short and never stopped. One whose answer was lost with the
// connection may or may not have taken effect: the caller checks on the new
// connection.
void PgConnection::commit() {
    const pq::Result answer =
        roundTrip([](pg_conn* c) { return pq::send(c, QStringLiteral("commit")); }, false);
    if (answer.ok())
        return;
    if (!answer.isNull() && !lost())
        failWith(answer, {});
    const QString why = answer.isNull() ? pq::connectionMessage(pg_.get()) : answer.errorMessage();
    drop();
    throw CommitInDoubt(
        QStringLiteral("Соединение с сервером базы данных прервалось при записи: %1").arg(why));
}

// A rollback not answered as done leaves the transaction perhaps open: the
// connection is dropped, so that nothing later runs inside it.
void PgConnection::rollback() noexcept {
    try {
        if (!connected())
            return;
        const pq::Result answer =
            roundTrip([](pg_conn* c) { return pq::send(c, QStringLiteral("rollback")); });
        if (answer.ok() && pg_ && PQtransactionStatus(pg_.get()) == PQTRANS_IDLE)
            return;
    } catch (const std::exception&) {
        // Stopped: the rollback's end is not known.
    }
    drop();
}

#include "data/OracleConnection.h"

#include "data/DbError.h"
#include "data/RowCursor.h"
#include "data/StatementTranslation.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <algorithm>

namespace {

Rows rowsOf(QSqlQuery& q) {
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
    return rows;
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
    return text.isEmpty() ? noReasonGiven() : text;
}

OracleConnection::OracleConnection(const QString& connectionName, QStringList params)
    : SqlConnection(Server::Oracle, std::move(params)) {
    // Each object gets a QtSql connection of its own, even under the same stored name.
    static int instances = 0;
    name_ = connectionName + u'#' + QString::number(++instances);
}

OracleConnection::~OracleConnection() {
    disconnect();
    if (QSqlDatabase::contains(name_))
        QSqlDatabase::removeDatabase(name_);
}

QSqlDatabase OracleConnection::database() const {
    return QSqlDatabase::database(name_, false);
}

bool OracleConnection::connected() const {
    return QSqlDatabase::contains(name_) && database().isOpen();
}

void OracleConnection::connectToServer() {
    if (!QSqlDatabase::contains(name_)) {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QOCI")))
            throw ProgramError(
                QStringLiteral("Не найден драйвер базы данных QOCI (пакет libqt6sql6-oci): без "
                               "него программа не может подключиться к базе данных"));
        QSqlDatabase::addDatabase(QStringLiteral("QOCI"), name_);
    }
    QSqlDatabase db = database();
    db.setDatabaseName(param(QStringLiteral("DataBase")));
    db.setUserName(param(QStringLiteral("User_Name")));
    db.setPassword(param(QStringLiteral("Password")));
    if (!db.open())
        throw ConnectionFailure(ConnectionFailure::Cause::Refused,
                                serverMessage(db.lastError(), param(QStringLiteral("Password"))));
}

DriverStatement OracleConnection::forServer(const QString& text) const {
    return statements::forOracleDriver(text);
}

void OracleConnection::disconnect() noexcept {
    ready_.reset();
    kept_.clear();
    if (QSqlDatabase::contains(name_))
        database().close();
}

bool OracleConnection::lost() noexcept {
    QSqlQuery probe(database());
    return !probe.exec(QStringLiteral("select 1 from dual"));
}

void OracleConnection::fail(const QSqlError& error, const QString& secret) {
    SqlConnection::fail(serverMessage(error, secret), error.nativeErrorCode(), secret);
}

void OracleConnection::run(QSqlQuery& q, const DriverStatement& statement,
                           const QList<QVariant>& values) {
    q.setForwardOnly(true);
    q.setNumericalPrecisionPolicy(QSql::HighPrecision);
    bool ok = false;
    if (statement.markerOrder.isEmpty()) {
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

std::pair<int, QVariant> OracleConnection::runDirect(const DriverStatement& statement,
                                                     const QList<QVariant>& values) {
    QSqlQuery q(database());
    run(q, statement, values);
    return {std::max(0, q.numRowsAffected()), QVariant()};
}

void OracleConnection::executePrepared(const DriverStatement& statement,
                                       const QList<QVariant>& values) {
    if (statement.secret.isEmpty()) {
        runKept(statement, values);
        return;
    }
    QSqlQuery q(database());
    run(q, statement, values);
}

// Results are read whole, as on PostgreSQL: the program's queries stand open
// side by side without holding the server.
std::unique_ptr<RowCursor> OracleConnection::openCursor(const DriverStatement& statement,
                                                        const QList<QVariant>& values) {
    QSqlQuery q(database());
    run(q, statement, values);
    return std::make_unique<WholeResult>(wholeResultOf(q, statement.secret));
}

Rows OracleConnection::runKept(const DriverStatement& statement, const QList<QVariant>& values) {
    if (!kept_.find(statement.sql)) {
        auto q = std::make_unique<QSqlQuery>(database());
        q->setNumericalPrecisionPolicy(QSql::HighPrecision);
        if (!q->prepare(statement.sql))
            fail(q->lastError(), statement.secret);
        kept_.keep(statement.sql, std::move(q));
    }
    QSqlQuery& q = *kept_.front();
    for (qsizetype i = 0; i < values.size(); ++i)
        q.bindValue(int(i), values[i]);
    if (!q.exec())
        fail(q.lastError(), statement.secret);
    return wholeResultOf(q, statement.secret);
}

Rows OracleConnection::wholeResultOf(QSqlQuery& q, const QString& secret) {
    Rows rows = rowsOf(q);
    const QSqlError error = q.lastError();
    q.finish();
    if (error.isValid())
        fail(error, secret);
    return rows;
}

void OracleConnection::sendKept(const DriverStatement& statement, const QList<QVariant>& values) {
    ready_.reset();
    ready_ = runKept(statement, values);
}

std::unique_ptr<RowCursor> OracleConnection::receiveKept() {
    if (!ready_)
        throw ProgramError(QStringLiteral("Нет отправленного запроса, чей ответ ждут"));
    return std::make_unique<WholeResult>(*std::exchange(ready_, std::nullopt));
}

void OracleConnection::beginTransaction() {
    if (!database().transaction())
        fail(database().lastError());
}

void OracleConnection::commit() {
    if (!database().commit())
        fail(database().lastError());
}

void OracleConnection::rollback() noexcept {
    database().rollback();
}

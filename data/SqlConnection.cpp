#include "data/SqlConnection.h"

#include "data/DbError.h"
#include "data/SqlLexer.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>

namespace {

void applyAlias(QSqlDatabase& db, const QString& driver, const QString& alias) {
    if (driver != QLatin1String("QPSQL")) {
        db.setDatabaseName(alias);
        return;
    }
    static const QRegularExpression form(QStringLiteral("^([^:/]+)(?::(\\d+))?/(.+)$"));
    const auto m = form.match(alias);
    if (!m.hasMatch()) {
        db.setDatabaseName(alias);
        return;
    }
    db.setHostName(m.captured(1));
    if (!m.captured(2).isEmpty())
        db.setPort(m.captured(2).toInt());
    db.setDatabaseName(m.captured(3));
}

// The text with every token of one kind replaced by a positional marker; the
// replaced tokens are listed in order.
QString asMarkers(const QString& text, sqllex::Kind kind, QStringList* replaced) {
    QString out;
    for (const sqllex::Token& t : sqllex::tokenize(text)) {
        if (t.kind == kind) {
            *replaced << t.text;
            out += u'?';
        } else {
            out += t.text;
        }
    }
    return out;
}

} // namespace

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
    const QString message = serverMessage(error, secret);
    reopenIfLost();
    throw DbError(message);
}

// The server process behind the connection. The driver may open a lost
// connection again by itself, quietly: a new process then tells that whatever
// the server held for the old one (cursors, prepared statements) is gone.
QVariant SqlConnection::serverProcess() const {
    QSqlQuery q(database());
    const QString probe = usesDialect() ? QStringLiteral("select pg_backend_pid()")
                                        : QStringLiteral("select 1 from dual");
    return q.exec(probe) && q.next() ? q.value(0) : QVariant();
}

// After a failed statement: an ordinary error leaves the connection as it is;
// a lost connection is opened again at once, and when the server is still away,
// at its next use. Nothing is run again: the statement's own error stands.
void SqlConnection::reopenIfLost() noexcept {
    if (!connected())
        return;
    const QVariant process = serverProcess();
    if (process.isValid() && process == serverProcess_)
        return;
    ++generation_;
    forgetServerState();
    database().close();
    try {
        open();
    } catch (const DbError&) {
    }
}

QString serverMessage(const QSqlError& error, const QString& secret) {
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    // PostgreSQL adds the statement's line after the message; keep the message.
    text = text.section(u'\n', 0, 0).trimmed();
    if (!secret.isEmpty())
        text.replace(secret, QLatin1String("***"));
    return text.isEmpty() ? QStringLiteral("database error") : text;
}

SqlConnection::SqlConnection(QString connectionName, QString sqlDriver, QStringList params)
    : sqlDriver_(std::move(sqlDriver)), params_(std::move(params)) {
    // Each object gets a QtSql connection of its own, even under the same stored name.
    static int instances = 0;
    name_ = connectionName + u'#' + QString::number(++instances);
}

SqlConnection::~SqlConnection() {
    forgetKeptStatements();
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

void SqlConnection::open() {
    if (connected())
        return;
    if (!QSqlDatabase::contains(name_)) {
        if (!QSqlDatabase::isDriverAvailable(sqlDriver_))
            throw DbError(QStringLiteral("Database driver %1 is not available").arg(sqlDriver_));
        QSqlDatabase::addDatabase(sqlDriver_, name_);
    }
    QSqlDatabase db = database();
    applyAlias(db, sqlDriver_, param(QStringLiteral("DataBase")));
    db.setUserName(param(QStringLiteral("User_Name")));
    db.setPassword(param(QStringLiteral("Password")));
    if (usesDialect())
        db.setConnectOptions(QStringLiteral("connect_timeout=5"));
    if (!db.open())
        throw DbError(serverMessage(db.lastError(), param(QStringLiteral("Password"))));
    everOpened_ = true;
    serverProcess_ = serverProcess();
    forgetServerState();
}

void SqlConnection::close() {
    forgetKeptStatements();
    if (QSqlDatabase::contains(name_))
        database().close();
}

namespace {
constexpr size_t KeptStatements = 8;

// Moves the entry of `key` to the front and returns it, or end() when absent.
template <class List> auto findRecent(List& list, const QString& key) {
    const auto it = std::find_if(list.begin(), list.end(),
                                 [&](const auto& entry) { return entry.first == key; });
    if (it != list.end())
        list.splice(list.begin(), list, it);
    return it == list.end() ? list.end() : list.begin();
}
} // namespace

DriverStatement SqlConnection::prepareStatement(const QString& text) {
    if (!connected()) {
        if (!everOpened_)
            throw DbError(QStringLiteral("Connection %1 is not open").arg(name_));
        open(); // lost earlier: opened again on its next use
    }
    if (auto known = findRecent(translated_, text); known != translated_.end()) {
        importLinkTables(known->second.linkTables);
        return known->second;
    }
    DriverStatement statement;
    QString sql = text;
    if (usesDialect()) {
        oracle::Translation t = oracle::translate(text);
        importLinkTables(t.linkTables);
        sql = t.sql;
        statement.secret = t.secret;
        statement.droppedLink = t.droppedLink;
        statement.allOrNone = t.allOrNone;
        statement.linkTables = t.linkTables;
    }
    statement.sql = asMarkers(sql, sqllex::Kind::Parameter, &statement.markerOrder);
    for (QString& marker : statement.markerOrder)
        marker.remove(0, 1); // ":name" -> "name"
    // Only statements without a secret are remembered.
    if (statement.secret.isEmpty()) {
        translated_.emplace_front(text, statement);
        if (translated_.size() > KeptStatements)
            translated_.pop_back();
    }
    return statement;
}

void SqlConnection::afterSuccess(const DriverStatement& statement) {
    if (statement.droppedLink.isEmpty())
        return;
    const QString prefix = statement.droppedLink + u'.';
    for (auto it = importedLinkTables_.begin(); it != importedLinkTables_.end();)
        it = it->startsWith(prefix) ? importedLinkTables_.erase(it) : std::next(it);
}

// A table read through a link is imported into the link's schema the first
// time it is used; the import is also where a link's password is first tried.
void SqlConnection::importLinkTables(const std::vector<oracle::LinkTable>& tables) {
    for (const oracle::LinkTable& lt : tables) {
        const QString key = lt.link + u'.' + lt.table;
        if (importedLinkTables_.contains(key))
            continue;
        QSqlQuery q(database());
        q.prepare(
            QStringLiteral("select 1 from pg_class c join pg_namespace n "
                           "on n.oid = c.relnamespace where n.nspname = ? and c.relname = ?"));
        q.addBindValue(lt.link);
        q.addBindValue(lt.table);
        if (!q.exec())
            fail(q.lastError());
        if (!q.next()) {
            QSqlQuery import(database());
            const QString sql =
                QStringLiteral("import foreign schema public limit to (%1) from server %2 into %2")
                    .arg(lt.table, lt.link);
            if (!import.exec(sql))
                fail(import.lastError());
        }
        importedLinkTables_.insert(key);
    }
}

void SqlConnection::closeGivenUpCursors() {
    if (cursorsToClose_.size() < 16)
        return;
    QString sql;
    for (const QString& name : std::exchange(cursorsToClose_, {}))
        sql += QStringLiteral("close %1;").arg(name);
    QSqlQuery(database()).exec(sql);
}

// The statements of a database link translation, all or none.
void SqlConnection::runStatements(const DriverStatement& statement) {
    QSqlQuery q(database());
    auto failed = [&](const QSqlError& error) {
        QSqlQuery(database()).exec(QStringLiteral("rollback"));
        fail(error, statement.secret);
    };
    if (!q.exec(QStringLiteral("begin")))
        failed(q.lastError());
    for (const QString& part : statement.allOrNone)
        if (!q.exec(part))
            failed(q.lastError());
    if (!q.exec(QStringLiteral("commit")))
        failed(q.lastError());
}

int SqlConnection::executeDirect(const QString& sql) {
    const DriverStatement statement = prepareStatement(sql);
    if (!statement.allOrNone.isEmpty()) {
        runStatements(statement);
        afterSuccess(statement);
        return 0;
    }
    QSqlQuery q(database());
    run(q, statement, {}, false);
    afterSuccess(statement);
    return std::max(0, q.numRowsAffected());
}

void SqlConnection::executePrepared(const DriverStatement& statement,
                                    const QList<QVariant>& values) {
    if (!statement.allOrNone.isEmpty() || !statement.secret.isEmpty()) {
        QSqlQuery q(database());
        run(q, statement, values, true);
    } else {
        executeKept(statement, values).finish();
    }
    afterSuccess(statement);
}

QSqlQuery& SqlConnection::executeKept(const DriverStatement& statement,
                                      const QList<QVariant>& values) {
    auto kept = findRecent(kept_, statement.sql);
    if (kept == kept_.end()) {
        auto q = std::make_unique<QSqlQuery>(database());
        q->setNumericalPrecisionPolicy(QSql::HighPrecision);
        if (!q->prepare(statement.sql))
            fail(q->lastError(), statement.secret);
        kept_.emplace_front(statement.sql, std::move(q));
        if (kept_.size() > KeptStatements)
            kept_.pop_back();
        kept = kept_.begin();
    }
    QSqlQuery& q = *kept->second;
    for (qsizetype i = 0; i < values.size(); ++i)
        q.bindValue(int(i), values[i]);
    if (!q.exec())
        fail(q.lastError(), statement.secret);
    return q;
}

void SqlConnection::forgetKeptStatements() {
    kept_.clear();
    translated_.clear();
}

// What the server held for the connection's process is gone with it.
void SqlConnection::forgetServerState() {
    forgetKeptStatements();
    importedLinkTables_.clear();
    cursorsToClose_.clear();
}

#pragma once
#include "data/OracleDialect.h"

#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <list>
#include <memory>
#include <utility>

// A statement made ready for the driver: dialect applied, :name markers turned
// into positional ones in order of appearance.
struct DriverStatement {
    QString sql;
    QStringList markerOrder; // parameter name of each positional marker
    QString secret;
    QString droppedLink;
    QStringList allOrNone; // statements of a database link, run in one transaction
    std::vector<oracle::LinkTable> linkTables; // tables read through links
};

// The one connection to the reporting database. The stored driver setting picks
// the QtSql driver: Oracle's own driver takes statements unchanged, the
// PostgreSQL stand-in gets them through the Oracle-dialect layer. A connection
// lost under a statement is opened again (that statement still fails); results
// of the lost connection are then stale.
class SqlConnection {
public:
    SqlConnection(QString connectionName, QString sqlDriver, QStringList params);
    ~SqlConnection();
    SqlConnection(const SqlConnection&) = delete;
    SqlConnection& operator=(const SqlConnection&) = delete;

    const QStringList& params() const { return params_; }
    QString param(const QString& key) const;
    const QString& sqlDriver() const { return sqlDriver_; }
    void setParams(QStringList params) { params_ = std::move(params); }

    bool connected() const;
    void open(); // logs on with the stored parameters; never asks the user
    void close();

    // Runs one statement without a query object; returns the affected-row count.
    int executeDirect(const QString& sql);

    // Runs a statement that returns no rows as a prepared statement, the values
    // bound to its markers.
    void executePrepared(const DriverStatement& statement, const QList<QVariant>& values);

    // A statement prepared on the server, kept by its exact text: a statement
    // that runs again with other values (a block of a report) is prepared once.
    // The values are bound and the statement executed; its rows are read from
    // the returned query.
    QSqlQuery& executeKept(const DriverStatement& statement, const QList<QVariant>& values);

    // Runs a statement on a query object: directly, or prepared with the values
    // bound to its markers in order. Errors carry the server's message.
    void run(QSqlQuery& q, const DriverStatement& statement, const QList<QVariant>& values,
             bool prepared);
    // Raises the error of a failed driver call; a lost connection is opened again first.
    [[noreturn]] void fail(const QSqlError& error, const QString& secret = {});
    // Counts the times the connection was opened again after it was lost.
    int generation() const { return generation_; }

    // For query objects of this connection.
    QSqlDatabase database() const;
    DriverStatement prepareStatement(const QString& text);
    void afterSuccess(const DriverStatement& statement);
    bool usesDialect() const { return sqlDriver_ == QLatin1String("QPSQL"); }

    // Server cursors of this connection: names, and those whose closing waits
    // for the next statement to travel with.
    QString newCursorName() { return QStringLiteral("tulmina_cursor_%1").arg(++cursors_); }
    void closeCursorsLater(const QStringList& names) { cursorsToClose_ += names; }
    void closeGivenUpCursors(); // once a few have gathered, in one round trip

private:
    void importLinkTables(const std::vector<oracle::LinkTable>& tables);
    void runStatements(const DriverStatement& statement);
    void forgetKeptStatements();
    void forgetServerState();
    void reopenIfLost() noexcept;
    QVariant serverProcess() const;

    QString name_;
    QString sqlDriver_;
    QStringList params_;
    QSet<QString> importedLinkTables_;
    int cursors_ = 0;
    int generation_ = 0;
    bool everOpened_ = false;
    QVariant serverProcess_;
    QStringList cursorsToClose_;
    // Most recently used first; a few of each.
    std::list<std::pair<QString, std::unique_ptr<QSqlQuery>>> kept_;
    std::list<std::pair<QString, DriverStatement>> translated_;
};

// The server's message of a failed driver call, without statement text or secret.
QString serverMessage(const class QSqlError& error, const QString& secret = {});

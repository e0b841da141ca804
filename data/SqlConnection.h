#pragma once
#include "data/Libpq.h"
#include "data/OracleDialect.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// A statement made ready for the driver: dialect applied, :name markers turned
// into the driver's own ($1, $2, ... one per name on PostgreSQL; ? per marker
// elsewhere).
struct DriverStatement {
    QString sql;
    QStringList markerOrder; // the parameter name behind each marker
    // Values the dialect binds itself (a link statement's name and password).
    std::vector<std::pair<QString, QVariant>> ownValues;
    oracle::LinkAction link = oracle::LinkAction::None; // a link statement: 0 rows affected
    QString linkName;
    QString secret; // kept out of every message; such a statement is never remembered

    // The values in marker order: the statement's own, else what `param` gives.
    template <class Param> QList<QVariant> values(Param&& param) const {
        QList<QVariant> result;
        for (const QString& name : markerOrder) {
            const auto own = std::find_if(ownValues.begin(), ownValues.end(),
                                          [&](const auto& v) { return v.first == name; });
            result << (own != ownValues.end() ? own->second : param(name));
        }
        return result;
    }
};

// Every row of one statement, in memory: for small results.
struct Rows {
    QStringList columns;
    std::vector<QVariantList> rows;
};

// The one connection to the reporting database. The stored driver setting picks
// the QtSql driver: Oracle's own driver takes statements unchanged and binds
// values itself; on PostgreSQL the statements pass through the Oracle-dialect
// layer and run through libpq on the driver's own connection, values bound on
// the wire, over TLS with the server's certificate checked against a given CA.
// On PostgreSQL the program waits for every answer in the event loop
// (ServerWait): past the answer limit the user may stop the statement, which
// is cancelled on the server, or, when the server does not even take the
// cancel, the connection is dropped and opened anew at its next use.
// A connection lost under a statement is opened again (that statement still
// fails); results of the lost connection are then stale. On PostgreSQL the
// server lets subscriber data only to a connection an operator signed in on:
// one opened again signs in again through the links its predecessor did.
class SqlConnection {
public:
    SqlConnection(QString connectionName, QString sqlDriver, QStringList params);
    ~SqlConnection();
    SqlConnection(const SqlConnection&) = delete;
    SqlConnection& operator=(const SqlConnection&) = delete;

    const QStringList& params() const { return params_; }
    QString param(const QString& key) const;
    const QString& sqlDriver() const { return sqlDriver_; }
    void setSqlDriver(QString driver) { sqlDriver_ = std::move(driver); } // before the first open
    void setParams(QStringList params) { params_ = std::move(params); }
    // The CA certificate the PostgreSQL server's certificate must chain to.
    void setTrustedCa(QString file) { trustedCa_ = std::move(file); }
    const QString& trustedCa() const { return trustedCa_; }
    // How long a statement may go without an answer before the user is asked.
    void setAnswerLimit(int ms) { answerLimitMs_ = ms; }

    bool connected() const;
    // Logs on with the stored parameters; never asks the user. A missing
    // driver is the program's fault; a connection that cannot be made, the
    // server's, with its cause.
    void open();
    void close();

    // Runs one statement without a query object; returns the affected-row count.
    int executeDirect(const QString& sql);
    // Runs a statement that returns no rows as a prepared statement, the values
    // bound to its markers.
    void executePrepared(const DriverStatement& statement, const QList<QVariant>& values);
    // A statement prepared on the server once and kept by its exact text (a
    // block of a report runs it again with other values); returns all its rows.
    Rows executeKept(const DriverStatement& statement, const QList<QVariant>& values);
    // The same in two halves: the statement is sent and the server works on it
    // while the program does something else; receiveKept() waits for its rows,
    // discardSent() for their end, unread.
    void sendKept(const DriverStatement& statement, const QList<QVariant>& values);
    Rows receiveKept();
    void discardSent() noexcept;

    // A transaction: what is written in it counts only once it is committed.
    // A rollback never fails: a connection lost meanwhile took the
    // transaction with it.
    void beginTransaction();
    void commit();
    void rollback() noexcept;

    // Counts the times the connection was opened again after it was lost or dropped.
    int generation() const { return generation_; }

    // For query objects of this connection.
    QSqlDatabase database() const;
    DriverStatement prepareStatement(const QString& text);
    bool usesDialect() const { return sqlDriver_ == QLatin1String("QPSQL"); }

private:
    friend class DriverCursor;
    friend class ServerCursor;
    using Send = std::function<bool(pg_conn*)>;

    // PostgreSQL: one statement sent and its answer awaited; an error answer is raised.
    pq::Result ask(const Send& send, const QString& secret = {});
    pq::Result ask(const QString& sql, const QList<QVariant>& values = {},
                   const QString& secret = {});
    // The same with the answer returned as it is; a null one when the
    // connection broke.
    pq::Result roundTrip(const Send& send);
    pq::Result awaitAnswer(pg_conn* connection);
    pq::Result stopStatement(pg_conn* connection, class ServerWait& wait, pq::Result answer);
    void readyToSend();
    void transactionStep(const QString& statement, bool (QSqlDatabase::*onDriver)());
    void awaitSent();
    void closeGivenUpCursors();
    // Server cursors of this connection: names, and those given up, closed
    // before the next statement goes out.
    QString newCursorName() { return QStringLiteral("tulmina_cursor_%1").arg(++cursors_); }
    void closeCursorLater(const QString& name) { cursorsToClose_ << name; }

    // Other drivers: runs a statement on a query object, directly or prepared
    // with the values bound to its markers in order.
    void run(QSqlQuery& q, const DriverStatement& statement, const QList<QVariant>& values,
             bool prepared);
    // Raises the error of a failed driver call; a lost connection is opened again first.
    [[noreturn]] void fail(const class QSqlError& error, const QString& secret = {});
    [[noreturn]] void fail(const QString& message, const QString& sqlState, const QString& secret);

    pg_conn* pg() const;
    Rows keptOnServer(const DriverStatement& statement, const QList<QVariant>& values);
    QByteArray preparedOnServer(const DriverStatement& statement);
    Rows keptByDriver(const DriverStatement& statement, const QList<QVariant>& values);
    void forgetServerState();
    void keepSignIn(const DriverStatement& statement, const pq::Result& result);
    void resumeSignIns() noexcept;
    bool lost() noexcept;
    void reopenIfLost() noexcept;
    void drop() noexcept;

    QString name_;
    QString sqlDriver_;
    QStringList params_;
    QString trustedCa_;
    int answerLimitMs_ = 30000;
    int cursors_ = 0;
    int statements_ = 0;
    int generation_ = 0;
    bool everOpened_ = false;
    QStringList cursorsToClose_;
    bool sent_ = false;         // a kept statement is on its way, its rows not yet taken
    std::optional<Rows> ready_; // the rows of one sent where nothing is sent ahead
    QString sentSecret_;
    // Most recently used first; a few of each.
    std::list<std::pair<QString, QByteArray>> keptOnServer_; // text -> prepared statement name
    std::list<std::pair<QString, std::unique_ptr<QSqlQuery>>> keptByDriver_;
    std::list<std::pair<QString, DriverStatement>> translated_;
    // Link name -> the token the server gave for this connection's sign-in
    // through it; a secret as the password is.
    std::map<QString, QString> signIns_;
};

// The server's message of a failed driver call, without statement text or secret.
QString serverMessage(const class QSqlError& error, const QString& secret = {});

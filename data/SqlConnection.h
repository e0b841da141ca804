#pragma once
#include "data/DriverStatement.h"
#include "data/RecentlyUsed.h"

#include <QString>
#include <functional>
#include <memory>
#include <utility>

class RowCursor;

// The one connection to the reporting database, whatever the server: the
// program's statements are written for Oracle with :name markers, and each
// kind of connection makes them ready for its own server (prepareStatement).
// Every wait for the server happens in the event loop: past the answer limit
// the user may stop it. A connection lost under a statement is opened again
// (that statement still fails); results of the lost connection are then
// stale, which generation() tells. What a new connection needs beyond the
// stored parameters (signing in again, say) is the owner's: it is called
// back after every reopening (setReopenedHook).
class SqlConnection {
public:
    enum class Server { PostgreSQL, Oracle };
    // A connection for the stored driver setting: "QPSQL" stands for a
    // PostgreSQL server reached through libpq, "QOCI" for Oracle's own driver.
    // Any other setting is the program's fault.
    static std::unique_ptr<SqlConnection> make(const QString& connectionName, const QString& driver,
                                               QStringList params);

    virtual ~SqlConnection();
    SqlConnection(const SqlConnection&) = delete;
    SqlConnection& operator=(const SqlConnection&) = delete;

    Server server() const { return server_; }
    const QStringList& params() const { return params_; }
    QString param(const QString& key) const;
    void setParams(QStringList params) { params_ = std::move(params); }
    // The CA certificate the PostgreSQL server's certificate must chain to.
    void setTrustedCa(QString file) { trustedCa_ = std::move(file); }
    const QString& trustedCa() const { return trustedCa_; }
    // How long a statement may go without an answer before the user is asked.
    void setAnswerLimit(int ms) { answerLimitMs_ = ms; }
    int answerLimit() const { return answerLimitMs_; }

    // Called after the connection was opened again; what it throws fails the
    // reopening, and the connection stays closed.
    void setReopenedHook(std::function<void()> hook) { reopened_ = std::move(hook); }
    // Called with the first value a link statement's answer gave, if any.
    using LinkAnswer = std::function<void(const DriverStatement&, const QVariant& firstValue)>;
    void setLinkHook(LinkAnswer hook) { linkAnswer_ = std::move(hook); }

    virtual bool connected() const = 0;
    // Logs on with the stored parameters; never asks the user. A missing
    // driver is the program's fault; a connection that cannot be made, the
    // server's, with its cause (ConnectionFailure).
    void open();
    virtual void close() noexcept = 0;

    // Runs one statement of the program's text; returns the affected-row count.
    int executeDirect(const QString& sql);
    // Runs a statement that returns no rows, the values bound to its markers.
    virtual void executePrepared(const DriverStatement& statement,
                                 const QList<QVariant>& values) = 0;
    // Runs a statement and returns its rows, read forward only.
    virtual std::unique_ptr<RowCursor> openCursor(const DriverStatement& statement,
                                                  const QList<QVariant>& values) = 0;
    // A statement kept prepared by its text (a block of a report runs it
    // again with other values), in two halves: it is sent and the server
    // works on it while the program does something else; receiveKept() waits
    // for its rows, discardSent() for their end, unread.
    virtual void sendKept(const DriverStatement& statement, const QList<QVariant>& values) = 0;
    virtual std::unique_ptr<RowCursor> receiveKept() = 0;
    virtual void discardSent() noexcept = 0;

    // A transaction: what is written in it counts only once it is committed.
    // A rollback never fails: a connection lost meanwhile took the
    // transaction with it.
    virtual void beginTransaction() = 0;
    virtual void commit() = 0;
    virtual void rollback() noexcept = 0;

    // Counts the times the connection was opened again after it was lost or dropped.
    int generation() const { return generation_; }

    // The statement made ready for this connection's server; the connection
    // is opened again first when it was lost.
    DriverStatement prepareStatement(const QString& text);

protected:
    SqlConnection(Server server, QStringList params);

    virtual void connectToServer() = 0;
    virtual DriverStatement forServer(const QString& text) const = 0;
    // Runs a statement without keeping it; the affected-row count and the
    // first value of the answer, if it has rows.
    virtual std::pair<int, QVariant> runDirect(const DriverStatement& statement,
                                               const QList<QVariant>& values) = 0;
    // Whether the server is gone from under an open connection.
    virtual bool lost() noexcept = 0;
    // Forgets what the server held for the connection and closes it.
    virtual void disconnect() noexcept = 0;

    // Raises a server error, its secret kept out; a lost connection is opened
    // again first.
    [[noreturn]] void fail(QString message, const QString& sqlState, const QString& secret);
    // A connection no longer trusted to answer: closed now, opened anew at
    // its next use.
    void drop() noexcept;

private:
    void reopenIfLost() noexcept;
    void callReopenedHook();

    Server server_;
    QStringList params_;
    QString trustedCa_;
    int answerLimitMs_ = 30000;
    int generation_ = 0;
    bool everOpened_ = false;
    bool reopening_ = false;
    std::function<void()> reopened_;
    LinkAnswer linkAnswer_;
    RecentlyUsed<DriverStatement> translated_;
};

// A server error without words of its own.
QString noReasonGiven();

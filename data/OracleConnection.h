#pragma once
#include "data/RecentlyUsed.h"
#include "data/SqlConnection.h"

#include <QSqlDatabase>
#include <QSqlQuery>

class QSqlError;

// A connection to an Oracle server through Oracle's own QtSql driver (QOCI).
// Statements go as written, a ? per marker, and the driver binds the values.
// The driver's calls block until the server answers.
class OracleConnection : public SqlConnection {
public:
    OracleConnection(const QString& connectionName, QStringList params);
    ~OracleConnection() override;

    bool connected() const override;
    void close() noexcept override { disconnect(); }

    void executePrepared(const DriverStatement& statement, const QList<QVariant>& values) override;
    std::unique_ptr<RowCursor> openCursor(const DriverStatement& statement,
                                          const QList<QVariant>& values) override;
    void sendKept(const DriverStatement& statement, const QList<QVariant>& values) override;
    std::unique_ptr<RowCursor> receiveKept() override;
    void discardSent() noexcept override { ready_.reset(); }

    void beginTransaction() override;
    void commit() override;
    void rollback() noexcept override;

protected:
    void connectToServer() override;
    DriverStatement forServer(const QString& text) const override;
    std::pair<int, QVariant> runDirect(const DriverStatement& statement,
                                       const QList<QVariant>& values) override;
    bool lost() noexcept override;
    void disconnect() noexcept override;

private:
    // Raises the error of a failed driver call.
    [[noreturn]] void fail(const QSqlError& error, const QString& secret = {});
    QSqlDatabase database() const;
    void run(QSqlQuery& q, const DriverStatement& statement, const QList<QVariant>& values);
    Rows runKept(const DriverStatement& statement, const QList<QVariant>& values);
    Rows wholeResultOf(QSqlQuery& q, const QString& secret);

    QString name_;
    std::optional<Rows> ready_; // the rows of the statement sent
    // Most recently used first; a few.
    RecentlyUsed<std::unique_ptr<QSqlQuery>> kept_;
};

// The server's message of a failed driver call, without statement text or secret.
QString serverMessage(const QSqlError& error, const QString& secret = {});

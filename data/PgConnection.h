#pragma once
#include "data/Libpq.h"
#include "data/RecentlyUsed.h"
#include "data/SqlConnection.h"

#include <QByteArray>
#include <functional>

class LongWait;

// A connection to a PostgreSQL server through libpq alone. The statements pass
// through the Oracle-dialect layer; values travel bound on the wire, and every
// answer is waited for in the event loop. A statement the user stops is
// cancelled on the server; when the server does not even take the cancel, the
// connection is dropped and opened anew at its next use. Results are read
// whole: nothing stays open on the server between statements.
class PgConnection : public SqlConnection {
public:
    explicit PgConnection(QStringList params);
    ~PgConnection() override;

    bool connected() const override { return pg_ != nullptr; }
    void close() noexcept override { disconnect(); }

    void executePrepared(const DriverStatement& statement, const QList<QVariant>& values) override;
    std::unique_ptr<RowCursor> openCursor(const DriverStatement& statement,
                                          const QList<QVariant>& values) override;
    void sendKept(const DriverStatement& statement, const QList<QVariant>& values) override;
    std::unique_ptr<RowCursor> receiveKept() override;
    void discardSent() noexcept override;

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
    using Send = std::function<bool(pg_conn*)>;

    // One statement sent and its answer awaited; an error answer is raised.
    pq::Result ask(const Send& send, const QString& secret = {});
    pq::Result ask(const QString& sql, const QList<QVariant>& values = {},
                   const QString& secret = {});
    // The same with the answer returned as it is; a null one when the
    // connection broke.
    pq::Result roundTrip(const Send& send, bool stoppable = true);
    pq::Result awaitAnswer(bool stoppable = true);
    pq::Result stopStatement(LongWait& wait, pq::Result answer);
    pq::Result runKept(const DriverStatement& statement, const QList<QVariant>& values);
    QByteArray preparedOnServer(const DriverStatement& statement);
    void awaitSent();
    [[noreturn]] void failWith(const pq::Result& answer, const QString& secret);

    pq::Connection pg_;
    int statements_ = 0;
    bool sent_ = false; // a kept statement is on its way, its rows not yet taken
    QString sentSecret_;
    RecentlyUsed<QByteArray> kept_; // text -> prepared statement name
};

#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>

struct pg_conn;
struct pg_result;

// Statements on a PostgreSQL connection through libpq's extended protocol: the
// values travel as parameters beside the statement text, never inside it, so
// no server setting (standard_conforming_strings, say) can change what they
// mean, and the server's activity view and log show only $1, $2, ...
namespace pq {

// The whole result of one statement, or its error.
class Result {
public:
    explicit Result(pg_result* result = nullptr);
    bool ok() const;
    bool isNull() const { return !result_; }
    QString errorMessage() const; // the server's primary message
    QString sqlState() const;

    int rows() const;
    int columns() const;
    QString columnName(int column) const;
    int column(const QString& name) const;     // matched without regard to case; -1 when absent
    QVariant value(int row, int column) const; // null, or the text the server sent
    int affected() const;                      // rows a statement changed, or rows returned

private:
    struct Free {
        void operator()(pg_result* r) const;
    };
    std::unique_ptr<pg_result, Free> result_;
};

// An open connection, finished when let go.
struct Finish {
    void operator()(pg_conn* connection) const;
};
using Connection = std::unique_ptr<pg_conn, Finish>;

// Sending a statement returns at once; the answer is read as it arrives
// (consume, busy, next), so that the caller may wait for it in the event loop.
// Nothing else may be sent until every result of the statement has been read.
// $1, $2, ... take the values in order. False: the connection could not send.
bool send(pg_conn* connection, const QString& sql, const QList<QVariant>& values = {});
// A statement prepared once under a name of the caller's, then run with values.
bool sendPrepare(pg_conn* connection, const QByteArray& name, const QString& sql);
bool sendPrepared(pg_conn* connection, const QByteArray& name, const QList<QVariant>& values);

// Reads what the server has sent; false when the connection broke.
bool consume(pg_conn* connection);
// Whether the next result is still on its way.
bool busy(pg_conn* connection);
// The next result of the statement; a null result when there are no more.
Result next(pg_conn* connection);
int socket(pg_conn* connection);

// Asks the server to stop the connection's statement, on a thread of its own:
// reaching a server that does not answer may take long.
void cancelAside(pg_conn* connection);

// Whether the connection to the server is gone (the server closed it, or it broke).
bool broken(pg_conn* connection);
// The connection's own last message, for a failure without a result.
QString connectionMessage(pg_conn* connection);

// A value as the server reads its text: dates in ISO form, numbers with a
// point. A text with a NUL character cannot be sent and is refused.
QByteArray encode(const QVariant& value);

} // namespace pq

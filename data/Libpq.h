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
    explicit Result(pg_result* result);
    bool ok() const;
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

// Runs one statement; $1, $2, ... take the values in order.
Result exec(pg_conn* connection, const QString& sql, const QList<QVariant>& values = {});
// A statement prepared once under a name of the caller's, then run with values.
Result prepare(pg_conn* connection, const QByteArray& name, const QString& sql);
Result execPrepared(pg_conn* connection, const QByteArray& name, const QList<QVariant>& values);
// The same, sent without waiting: the server works while the caller does;
// receive() waits for the result. Nothing else may be sent in between.
bool sendPrepared(pg_conn* connection, const QByteArray& name, const QList<QVariant>& values);
Result receive(pg_conn* connection);

// Whether the connection to the server is gone (the server closed it, or it broke).
bool broken(pg_conn* connection);
// The connection's own last message, for a failure without a result.
QString connectionMessage(pg_conn* connection);

// A value as the server reads its text: dates in ISO form, numbers with a
// point. A text with a NUL character cannot be sent and is refused.
QByteArray encode(const QVariant& value);

} // namespace pq

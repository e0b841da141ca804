#include "data/RowCursor.h"

#include "data/DbError.h"
#include "data/SqlConnection.h"
#include "data/SqlLexer.h"

#include <QSqlError>

bool returnsRows(const QString& sql) {
    for (const sqllex::Token& t : sqllex::tokenize(sql)) {
        if (!t.isCode())
            continue;
        return t.isWord("select") || t.isWord("with") || t.text == "(";
    }
    return false;
}

DriverCursor::DriverCursor(SqlConnection& connection, const DriverStatement& statement,
                           const QList<QVariant>& values)
    : connection_(connection), query_(connection.database()) {
    query_.setForwardOnly(true);
    query_.setNumericalPrecisionPolicy(QSql::HighPrecision);
    connection.run(query_, statement, values, false);
    hasRow_ = query_.isSelect() && query_.next();
    if (query_.lastError().isValid())
        connection.fail(query_.lastError());
}

void DriverCursor::next() {
    hasRow_ = query_.next();
    if (!hasRow_ && query_.lastError().isValid())
        connection_.fail(query_.lastError());
}

namespace {
QString inlineValues(const DriverStatement& statement, const QList<QVariant>& values) {
    QString sql;
    qsizetype marker = 0;
    for (const sqllex::Token& t : sqllex::tokenize(statement.sql)) {
        if (t.kind == sqllex::Kind::Symbol && t.text == "?" && marker < values.size()) {
            const QVariant& v = values[marker++];
            sql += v.isNull() ? QStringLiteral("null") : sqllex::quoteLiteral(v.toString());
        } else {
            sql += t.text;
        }
    }
    return sql;
}
} // namespace

ServerCursor::ServerCursor(SqlConnection& connection, const DriverStatement& statement,
                           const QList<QVariant>& values)
    : connection_(connection), name_(connection.newCursorName()),
      rowsetSize_(std::max(1, connection.param(QStringLiteral("RowsetSize")).toInt())),
      generation_(connection.generation()), batch_(connection.database()) {
    batch_.setNumericalPrecisionPolicy(QSql::HighPrecision);
    connection_.closeGivenUpCursors();
    const QString declare = QStringLiteral("declare %1 no scroll cursor with hold for\n%2")
                                .arg(name_, inlineValues(statement, values));
    if (!batch_.exec(declare)) {
        name_.clear();
        connection_.fail(batch_.lastError(), statement.secret);
    }
    try {
        fetchRowset();
    } catch (...) {
        giveUp(); // the server holds the declared cursor: it is closed all the same
        throw;
    }
}

ServerCursor::~ServerCursor() {
    giveUp();
}

// A cursor of a connection lost since it was declared is gone with it.
void ServerCursor::giveUp() noexcept {
    if (!name_.isEmpty() && generation_ == connection_.generation())
        connection_.closeCursorsLater({name_});
    name_.clear();
}

void ServerCursor::fetchRowset() {
    if (!batch_.exec(QStringLiteral("fetch forward %1 from %2").arg(rowsetSize_).arg(name_)))
        connection_.fail(batch_.lastError());
    batchRows_ = batch_.size();
    hasRow_ = batch_.next();
}

void ServerCursor::next() {
    if (!hasRow_)
        return;
    hasRow_ = batch_.next();
    if (!hasRow_ && batchRows_ == rowsetSize_)
        fetchRowset();
}

WholeResult::WholeResult(SqlConnection& connection, const DriverStatement& statement,
                         const QList<QVariant>& values) {
    QSqlQuery& q = connection.executeKept(statement, values);
    record_ = q.record();
    const int columns = record_.count();
    while (q.next()) {
        QVariantList row;
        row.reserve(columns);
        for (int c = 0; c < columns; ++c)
            row << q.value(c);
        rows_.push_back(std::move(row));
    }
    const QSqlError error = q.lastError();
    q.finish();
    if (error.isValid())
        connection.fail(error);
}

void WholeResult::next() {
    if (hasRow())
        ++row_;
}

#include "data/RowCursor.h"

#include "data/SqlLexer.h"

#include <QSqlError>
#include <QSqlRecord>

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

int DriverCursor::column(const QString& name) const {
    return query_.record().indexOf(name);
}

ServerCursor::ServerCursor(SqlConnection& connection, const DriverStatement& statement,
                           const QList<QVariant>& values, int rowsetSize)
    : connection_(connection), name_(connection.newCursorName()),
      rowsetSize_(std::max(1, rowsetSize)), generation_(connection.generation()) {
    try {
        connection_.ask(QStringLiteral("declare %1 no scroll cursor with hold for\n%2")
                            .arg(name_, statement.sql),
                        values, statement.secret);
    } catch (...) {
        name_.clear();
        throw;
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
        connection_.closeCursorLater(name_);
    name_.clear();
}

void ServerCursor::fetchRowset() {
    batch_.emplace(
        connection_.ask(QStringLiteral("fetch forward %1 from %2").arg(rowsetSize_).arg(name_)));
    row_ = 0;
}

void ServerCursor::next() {
    if (!hasRow())
        return;
    ++row_;
    if (!hasRow() && batch_->rows() == rowsetSize_)
        fetchRowset();
}

void WholeResult::next() {
    if (hasRow())
        ++row_;
}

int WholeResult::column(const QString& name) const {
    for (qsizetype c = 0; c < rows_.columns.size(); ++c)
        if (rows_.columns[c].compare(name, Qt::CaseInsensitive) == 0)
            return int(c);
    return -1;
}

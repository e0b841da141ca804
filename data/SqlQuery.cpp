#include "data/SqlQuery.h"

#include "data/DbError.h"
#include "data/SqlConnection.h"
#include "data/SqlLexer.h"

#include <QSqlError>
#include <QSqlRecord>

SqlQuery::SqlQuery(SqlConnection& connection, QString name, QStringList lines)
    : connection_(connection), name_(std::move(name)), lines_(std::move(lines)) {
    textChanged();
}

QString SqlQuery::text() const {
    QString t;
    for (const QString& line : lines_)
        t += line + QLatin1String("\r\n");
    return t;
}

void SqlQuery::clear() {
    lines_.clear();
    textChanged();
}

void SqlQuery::addLine(const QString& line) {
    lines_ << line;
    textChanged();
}

void SqlQuery::replaceLine(int n, const QString& line) {
    if (n < 0 || n >= lines_.size())
        throw DbError(QStringLiteral("List index out of bounds (%1)").arg(n));
    lines_[n] = line;
    textChanged();
}

void SqlQuery::textChanged() {
    close();
    std::vector<std::pair<QString, QVariant>> kept;
    for (const QString& name : sqllex::parameterNames(text())) {
        QVariant value;
        for (const auto& [old, v] : params_)
            if (old.compare(name, Qt::CaseInsensitive) == 0)
                value = v;
        kept.emplace_back(name, value);
    }
    params_ = std::move(kept);
}

QStringList SqlQuery::parameterNames() const {
    QStringList names;
    for (const auto& p : params_)
        names << p.first;
    return names;
}

void SqlQuery::setParamText(const QString& name, const QString& value) {
    for (auto& [n, v] : params_) {
        if (n.compare(name, Qt::CaseInsensitive) == 0) {
            v = value;
            return;
        }
    }
    throw DbError(QStringLiteral("%1: Parameter '%2' not found").arg(name_, name));
}

QVariant SqlQuery::paramValue(const QString& name) const {
    for (const auto& [n, v] : params_)
        if (n.compare(name, Qt::CaseInsensitive) == 0)
            return v;
    return {};
}

void SqlQuery::run(QSqlQuery& q, bool prepared) {
    const DriverStatement statement = connection_.prepareStatement(text());
    q.setForwardOnly(true);
    q.setNumericalPrecisionPolicy(QSql::HighPrecision);
    bool ok = false;
    if (statement.markerOrder.isEmpty() && !prepared) {
        ok = q.exec(statement.sql);
    } else {
        ok = q.prepare(statement.sql);
        for (const QString& marker : statement.markerOrder)
            q.addBindValue(paramValue(marker));
        ok = ok && q.exec();
    }
    if (!ok)
        throw DbError(serverMessage(q.lastError(), statement.secret));
    connection_.afterSuccess(statement);
}

void SqlQuery::open() {
    if (open_)
        return;
    QSqlQuery q(connection_.database());
    run(q, false);
    cursor_.emplace(std::move(q));
    open_ = true;
    rowIndex_ = 0;
    hasRow_ = cursor_->isSelect() && cursor_->next();
    if (cursor_->lastError().isValid())
        throw DbError(serverMessage(cursor_->lastError()));
}

void SqlQuery::close() {
    cursor_.reset();
    open_ = false;
    hasRow_ = false;
    rowIndex_ = 0;
}

bool SqlQuery::eof() const { return !hasRow_; }

void SqlQuery::next() {
    if (!open_)
        throw DbError(QStringLiteral("%1: Cannot perform this operation on a closed dataset").arg(name_));
    if (!hasRow_)
        return;
    hasRow_ = cursor_->next();
    ++rowIndex_;
    if (!hasRow_ && cursor_->lastError().isValid())
        throw DbError(serverMessage(cursor_->lastError()));
}

void SqlQuery::first() {
    if (open_ && rowIndex_ == 0)
        return;
    close();
    open();
}

int SqlQuery::columnIndex(const QString& column) const {
    if (!open_)
        throw DbError(QStringLiteral("%1: Cannot perform this operation on a closed dataset").arg(name_));
    const int i = cursor_->record().indexOf(column);
    if (i < 0)
        throw DbError(QStringLiteral("%1: Field '%2' not found").arg(name_, column));
    return i;
}

QVariant SqlQuery::value(const QString& column) const {
    const int i = columnIndex(column);
    if (!hasRow_)
        return {};
    const QVariant v = cursor_->value(i);
    return v.isNull() ? QVariant() : v;
}

QString SqlQuery::asString(const QString& column) const {
    const QVariant v = value(column);
    return v.isNull() ? QString() : v.toString();
}

double SqlQuery::asFloat(const QString& column) const {
    const QVariant v = value(column);
    if (v.isNull())
        return 0.0;
    bool ok = false;
    const double d = v.toString().toDouble(&ok);
    if (!ok)
        throw DbError(QStringLiteral("'%1' is not a valid floating point value").arg(v.toString()));
    return d;
}

void SqlQuery::execSQL() {
    close();
    QSqlQuery q(connection_.database());
    run(q, true);
}

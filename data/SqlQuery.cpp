#include "data/SqlQuery.h"

#include "data/DbError.h"
#include "data/RowCursor.h"
#include "data/SqlConnection.h"
#include "data/SqlLexer.h"
#include "platform/Failure.h"

#include <QScopeGuard>

SqlQuery::SqlQuery(SqlConnection& connection, QString name, QStringList lines)
    : connection_(connection), name_(std::move(name)), lines_(std::move(lines)) {
    textChanged();
}

SqlQuery::~SqlQuery() = default;

namespace {
// Adds the time until the end of the scope to a query's server time.
auto timed(std::chrono::nanoseconds& total) {
    return qScopeGuard([&total, start = std::chrono::steady_clock::now()] {
        total += std::chrono::steady_clock::now() - start;
    });
}
} // namespace

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
        throw ProgramError(QStringLiteral("В тексте запроса %1 нет строки %2 (строк %3)")
                               .arg(name_)
                               .arg(n)
                               .arg(lines_.size()));
    lines_[n] = line;
    textChanged();
}

namespace {
QString parameterKey(const QString& name) {
    return name.toCaseFolded();
}
} // namespace

void SqlQuery::textChanged() {
    close();
    std::vector<std::pair<QString, QVariant>> kept;
    QHash<QString, size_t> index;
    for (const QString& name : sqllex::parameterNames(text())) {
        const QString key = parameterKey(name);
        const auto old = paramIndex_.constFind(key);
        index.insert(key, kept.size());
        kept.emplace_back(name, old == paramIndex_.cend() ? QVariant() : params_[*old].second);
    }
    params_ = std::move(kept);
    paramIndex_ = std::move(index);
}

QStringList SqlQuery::parameterNames() const {
    QStringList names;
    for (const auto& p : params_)
        names << p.first;
    return names;
}

void SqlQuery::setParamText(const QString& name, const QString& value) {
    setParam(name, value);
}

void SqlQuery::setParam(const QString& name, const QVariant& value) {
    const auto at = paramIndex_.constFind(parameterKey(name));
    if (at == paramIndex_.cend())
        throw ProgramError(QStringLiteral("В запросе %1 нет параметра «%2»").arg(name_, name));
    params_[*at].second = value;
}

QVariant SqlQuery::paramValue(const QString& name) const {
    const auto at = paramIndex_.constFind(parameterKey(name));
    return at == paramIndex_.cend() ? QVariant() : params_[*at].second;
}

QList<QVariant> SqlQuery::markerValues(const DriverStatement& statement) const {
    return statement.values([this](const QString& name) { return paramValue(name); });
}

// Runs the current text into a cursor of the given kind; an open query stays as it is.
template <class MakeCursor> void SqlQuery::openWith(MakeCursor&& make) {
    if (live())
        return;
    close();
    const auto timer = timed(serverTime_);
    const DriverStatement statement = connection_.prepareStatement(text());
    cursor_ = make(statement, markerValues(statement));
    generation_ = connection_.generation();
    rowIndex_ = 0;
}

void SqlQuery::open() {
    openWith([this](const DriverStatement& statement, const QList<QVariant>& values) {
        return connection_.openCursor(statement, values);
    });
}

void SqlQuery::openWhole() {
    if (live())
        return;
    sendWhole();
    openSent();
}

void SqlQuery::sendWhole() {
    close();
    const auto timer = timed(serverTime_);
    const DriverStatement statement = connection_.prepareStatement(text());
    connection_.sendKept(statement, markerValues(statement));
}

void SqlQuery::openSent() {
    close();
    const auto timer = timed(serverTime_);
    cursor_ = connection_.receiveKept();
    generation_ = connection_.generation();
}

void SqlQuery::close() {
    cursor_.reset();
    rowIndex_ = 0;
}

// The cursor, unless the query is closed or its connection was lost since it
// was opened: such a query counts as closed and runs again when next opened.
RowCursor* SqlQuery::live() const {
    return cursor_ && generation_ == connection_.generation() ? cursor_.get() : nullptr;
}

bool SqlQuery::eof() const {
    return !live() || !live()->hasRow();
}

void SqlQuery::next() {
    if (!live())
        throw ProgramError(QStringLiteral("Запрос %1 закрыт: строки не прочесть").arg(name_));
    if (!cursor_->hasRow())
        return;
    const auto timer = timed(serverTime_);
    ++rowIndex_;
    cursor_->next();
}

void SqlQuery::first() {
    if (live() && rowIndex_ == 0)
        return;
    close();
    open();
}

int SqlQuery::columnIndex(const QString& column) const {
    if (!live())
        throw ProgramError(QStringLiteral("Запрос %1 закрыт: строки не прочесть").arg(name_));
    const int i = cursor_->column(column);
    if (i < 0)
        throw ProgramError(QStringLiteral("В запросе %1 нет поля «%2»").arg(name_, column));
    return i;
}

QVariant SqlQuery::value(const QString& column) const {
    const int i = columnIndex(column);
    if (!cursor_->hasRow())
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
        throw DbError(QStringLiteral("Значение «%1» не является числом").arg(v.toString()));
    return d;
}

void SqlQuery::execSQL() {
    close();
    const auto timer = timed(serverTime_);
    const DriverStatement statement = connection_.prepareStatement(text());
    connection_.executePrepared(statement, markerValues(statement));
}

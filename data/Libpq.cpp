#include "data/Libpq.h"

#include "data/DbError.h"

#include <QDate>
#include <QDateTime>
#include <libpq-fe.h>
#include <thread>
#include <vector>

namespace pq {

void Result::Free::operator()(pg_result* r) const {
    PQclear(r);
}

void Finish::operator()(pg_conn* connection) const {
    PQfinish(connection);
}

Result::Result(pg_result* result) : result_(result) {}

bool Result::ok() const {
    if (!result_)
        return false;
    const ExecStatusType status = PQresultStatus(result_.get());
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

QString Result::errorMessage() const {
    if (!result_)
        return {};
    if (const char* primary = PQresultErrorField(result_.get(), PG_DIAG_MESSAGE_PRIMARY))
        return QString::fromUtf8(primary).trimmed();
    return QString::fromUtf8(PQresultErrorMessage(result_.get())).section(u'\n', 0, 0).trimmed();
}

QString Result::sqlState() const {
    const char* state = result_ ? PQresultErrorField(result_.get(), PG_DIAG_SQLSTATE) : nullptr;
    return state ? QString::fromLatin1(state) : QString();
}

int Result::rows() const {
    return result_ ? PQntuples(result_.get()) : 0;
}

int Result::columns() const {
    return result_ ? PQnfields(result_.get()) : 0;
}

QString Result::columnName(int column) const {
    return QString::fromUtf8(PQfname(result_.get(), column));
}

int Result::column(const QString& name) const {
    for (int c = 0; c < columns(); ++c)
        if (columnName(c).compare(name, Qt::CaseInsensitive) == 0)
            return c;
    return -1;
}

QVariant Result::value(int row, int column) const {
    if (PQgetisnull(result_.get(), row, column))
        return {};
    return QString::fromUtf8(PQgetvalue(result_.get(), row, column),
                             PQgetlength(result_.get(), row, column));
}

int Result::affected() const {
    if (!result_)
        return 0;
    if (PQresultStatus(result_.get()) == PGRES_TUPLES_OK)
        return rows();
    return QByteArray(PQcmdTuples(result_.get())).toInt();
}

QByteArray encode(const QVariant& value) {
    QByteArray text;
    switch (value.typeId()) {
    case QMetaType::QDate:
        text = value.toDate().toString(Qt::ISODate).toLatin1();
        break;
    case QMetaType::QDateTime:
        text = value.toDateTime().toString(Qt::ISODateWithMs).toLatin1();
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        text = QByteArray::number(value.toDouble(), 'g', 15);
        break;
    case QMetaType::Bool:
        text = value.toBool() ? "t" : "f";
        break;
    default:
        text = value.toString().toUtf8();
    }
    if (text.contains('\0'))
        throw DbError(QStringLiteral("Значение с нулевым символом не может быть передано серверу"));
    return text;
}

namespace {
// The values as libpq takes them: texts, nullptr for null.
struct Parameters {
    explicit Parameters(const QList<QVariant>& values) {
        texts.reserve(size_t(values.size()));
        for (const QVariant& v : values)
            texts.push_back(v.isNull() ? QByteArray() : encode(v));
        for (qsizetype i = 0; i < values.size(); ++i)
            pointers.push_back(values[i].isNull() ? nullptr : texts[size_t(i)].constData());
    }
    int count() const { return int(pointers.size()); }
    const char* const* data() const { return pointers.data(); }
    std::vector<QByteArray> texts;
    std::vector<const char*> pointers;
};
} // namespace

bool send(pg_conn* connection, const QString& sql, const QList<QVariant>& values) {
    const Parameters p(values);
    return PQsendQueryParams(connection, sql.toUtf8().constData(), p.count(), nullptr, p.data(),
                             nullptr, nullptr, 0) == 1;
}

bool sendPrepare(pg_conn* connection, const QByteArray& name, const QString& sql) {
    return PQsendPrepare(connection, name.constData(), sql.toUtf8().constData(), 0, nullptr) == 1;
}

bool sendPrepared(pg_conn* connection, const QByteArray& name, const QList<QVariant>& values) {
    const Parameters p(values);
    return PQsendQueryPrepared(connection, name.constData(), p.count(), p.data(), nullptr, nullptr,
                               0) == 1;
}

bool consume(pg_conn* connection) {
    return PQconsumeInput(connection) == 1;
}

bool busy(pg_conn* connection) {
    return PQisBusy(connection) == 1;
}

Result next(pg_conn* connection) {
    return Result(PQgetResult(connection));
}

int socket(pg_conn* connection) {
    return PQsocket(connection);
}

void cancelAside(pg_conn* connection) {
    PGcancel* cancel = PQgetCancel(connection);
    if (!cancel)
        return;
    std::thread([cancel] {
        char error[256];
        PQcancel(cancel, error, sizeof error);
        PQfreeCancel(cancel);
    }).detach();
}

bool broken(pg_conn* connection) {
    return !connection || PQstatus(connection) != CONNECTION_OK;
}

QString connectionMessage(pg_conn* connection) {
    return connection ? QString::fromUtf8(PQerrorMessage(connection)).section(u'\n', 0, 0).trimmed()
                      : QString();
}

} // namespace pq

#include "data/fmCommonDM.h"

#include "ConnectionConfig.h"
#include "data/DbError.h"

OwnedQuery::OwnedQuery(SqlConnection& connection, const QString& name, QStringList lines)
    : name_(name), query_(std::make_unique<SqlQuery>(connection, name, std::move(lines))) {}

SqlQuery* OwnedQuery::operator->() const {
    if (!query_)
        throw ProgramError(QStringLiteral("Запрос %1 уже освобождён").arg(name_));
    return query_.get();
}

SignInResumption::SignInResumption(SqlConnection& connection) : connection_(connection) {
    connection.setLinkHook([this](const DriverStatement& statement, const QVariant& firstValue) {
        linkAnswered(statement, firstValue);
    });
    connection.setReopenedHook([this] { resume(); });
}

void SignInResumption::linkAnswered(const DriverStatement& statement, const QVariant& firstValue) {
    if (statement.link == oracle::LinkAction::Drop)
        tokens_.erase(statement.linkName);
    else if (statement.link == oracle::LinkAction::Create && !firstValue.isNull())
        tokens_[statement.linkName] = firstValue.toString();
}

void SignInResumption::resume() {
    for (auto it = tokens_.begin(); it != tokens_.end();) {
        SqlQuery resumed(connection_, QStringLiteral("resumeLink"),
                         {QStringLiteral("select tulmina_link.resume_link(:link, :token)")});
        resumed.setParam(QStringLiteral("link"), it->first);
        resumed.setParam(QStringLiteral("token"), it->second);
        try {
            resumed.open();
            ++it;
        } catch (const DbError& e) {
            if (e.sqlState() != QLatin1String("28000"))
                throw;
            it = tokens_.erase(it);
        }
    }
}

TdmCommon::TdmCommon() : TdmCommon(QString::fromUtf8(config::SqlDriver)) {}

TdmCommon::TdmCommon(const QString& sqlDriver)
    : connection_(SqlConnection::make(ConnectionName, sqlDriver, connectionParams())),
      SQLConnectionKvarn(*connection_),
      sqCreateDropChannel(SQLConnectionKvarn, "sqCreateDropChannel", linkCheckLines()),
      sqSettlement(SQLConnectionKvarn, "sqSettlement", settlementLines()),
      sqTownId(SQLConnectionKvarn, "sqTownId", townIdLines()),
      sqPhoneInd(SQLConnectionKvarn, "sqPhoneInd", phoneIndLines()),
      sqListPhone(SQLConnectionKvarn, "sqListPhone", listPhoneLines()),
      sqLstPhonDelTab(SQLConnectionKvarn, "sqLstPhonDelTab", debtorTemplateLines()),
      sqPayDeb(SQLConnectionKvarn, "sqPayDeb", {}), resumption_(SQLConnectionKvarn) {
    SQLConnectionKvarn.setTrustedCa(QString::fromUtf8(config::DatabaseCaFile));
    SQLConnectionKvarn.setAnswerLimit(config::AnswerLimitSeconds * 1000);
    sqTownId->setParamText("town_name", "1");
}

namespace {
constexpr int AddressColumnsLine = 0;
constexpr int AddressConditionLine = 33;

// ":user_1, :user_2, ..." for a block of user ids, bound in the same order.
QString userMarkers(qsizetype count, const QString& around,
                    const QString& separator = QStringLiteral(", ")) {
    QStringList markers;
    for (qsizetype i = 1; i <= count; ++i)
        markers << QString(around).replace(QLatin1String("#"), QString::number(i));
    return markers.join(separator);
}

void bindUsers(SqlQuery& q, const std::vector<qint64>& userIds) {
    for (size_t i = 0; i < userIds.size(); ++i)
        q.setParam(QStringLiteral("user_%1").arg(i + 1), userIds[i]);
}
} // namespace

void TdmCommon::showExchangesOf(const SettlementItem& settlement, bool byCode) {
    // A null name is a name of its own: it never stands for an empty one.
    const QString ofTheTown =
        QStringLiteral("town_id = :town_id and (name = :town or (name is null and :town is null))");
    SqlQuery& q = *sqPhoneInd;
    if (byCode) {
        q.clear();
        q.addLine(QStringLiteral("select * from atstown t where ") + ofTheTown +
                  QStringLiteral(" order by atskod"));
    } else {
        q.replaceLine(1, QStringLiteral("where ") + ofTheTown);
    }
    q.setParam(QStringLiteral("town"), settlement.name);
    q.setParam(QStringLiteral("town_id"), settlement.townId);
    q.open();
}

QHash<qint64, SubscriberAddress> TdmCommon::addressesOf(const std::vector<qint64>& userIds) {
    if (userIds.empty())
        return {};
    sendAddressesOf(userIds);
    return receiveAddresses();
}

void TdmCommon::sendAddressesOf(const std::vector<qint64>& userIds) {
    SqlQuery& q = *sqListPhone;
    q.replaceLine(AddressColumnsLine, QStringLiteral("select  t1.user_id, t1.account,"));
    q.replaceLine(AddressConditionLine,
                  QStringLiteral(" and t1.user_id in (%1)")
                      .arg(userMarkers(qsizetype(userIds.size()), QStringLiteral(":user_#"))));
    bindUsers(q, userIds);
    q.sendWhole();
}

QHash<qint64, SubscriberAddress> TdmCommon::receiveAddresses() {
    SqlQuery& q = *sqListPhone;
    q.openSent();
    QHash<qint64, SubscriberAddress> found;
    for (; !q.eof(); q.next()) {
        const qint64 user = q.asString(QStringLiteral("user_id")).toLongLong();
        if (!found.contains(user)) // the first row of a subscriber, as a single lookup reads
            found.insert(user,
                         {q.asString(QStringLiteral("account")), q.asString(QStringLiteral("name")),
                          q.asString(QStringLiteral("ClientInfoWithoutName"))});
    }
    q.close();
    return found;
}

void TdmCommon::discardAddresses() noexcept {
    SQLConnectionKvarn.discardSent();
}

void TdmCommon::insertSnapshotRows(const QString& table, const std::vector<qint64>& userIds) {
    if (table != SnapshotTableMain && table != SnapshotTableRegional)
        throw ProgramError(QStringLiteral("%1 — не таблица снимка платежей").arg(table));
    const QString today = QStringLiteral("to_date(to_char(sysdate,'dd.mm.yyyy'))");
    SqlQuery& q = *sqPayDeb;
    if (SQLConnectionKvarn.server() == SqlConnection::Server::PostgreSQL) {
        // Every row in one statement: the user ids travel as one array value.
        if (userIds.empty())
            return;
        QStringList ids;
        for (const qint64 id : userIds)
            ids << QString::number(id);
        q.clear();
        q.addLine(QStringLiteral("insert into ") + table + QStringLiteral(" select u, ") + today +
                  QStringLiteral(" from unnest(cast(:user_ids as bigint[])) u"));
        q.setParam(QStringLiteral("user_ids"), u'{' + ids.join(u',') + u'}');
        q.execSQL();
        return;
    }
    // Oracle before 23c takes one row per values list; several travel as a
    // query, a thousand at a time (the most values an expression list holds).
    for (size_t at = 0; at < userIds.size(); at += 1000) {
        const std::vector<qint64> block(userIds.begin() + qsizetype(at),
                                        userIds.begin() +
                                            qsizetype(std::min(userIds.size(), at + 1000)));
        q.clear();
        q.addLine(
            QStringLiteral("insert into ") + table + u' ' +
            userMarkers(qsizetype(block.size()),
                        QStringLiteral("select :user_#, ") + today + QStringLiteral(" from dual"),
                        QStringLiteral(" union all ")));
        bindUsers(q, block);
        q.execSQL();
    }
}

void TdmCommon::recordRun(const RunRecord& run) {
    if (SQLConnectionKvarn.server() != SqlConnection::Server::PostgreSQL)
        return;
    SqlQuery audit(SQLConnectionKvarn, QStringLiteral("runAudit"),
                   {QStringLiteral("select tulmina_audit.record_run(:list_kind, :settlement, "
                                   ":town_id, :row_count, :report_id, :failed)")});
    audit.setParam(QStringLiteral("list_kind"), run.listKind);
    audit.setParam(QStringLiteral("settlement"), run.settlement);
    audit.setParam(QStringLiteral("town_id"), run.townId);
    audit.setParam(QStringLiteral("row_count"), run.rows);
    audit.setParam(QStringLiteral("report_id"),
                   run.reportId.isEmpty() ? QVariant() : QVariant(run.reportId));
    audit.setParam(QStringLiteral("failed"), run.failed);
    audit.openWhole();
}

bool TdmCommon::reportRecorded(const QString& reportId) {
    if (SQLConnectionKvarn.server() != SqlConnection::Server::PostgreSQL)
        throw CommitInDoubt(QStringLiteral("сервер Oracle не хранит журнал отчётов"));
    SqlQuery q(SQLConnectionKvarn, QStringLiteral("reportCheck"),
               {QStringLiteral("select tulmina_audit.report_recorded(:report_id) as recorded")});
    q.setParam(QStringLiteral("report_id"), reportId);
    q.openWhole();
    return q.asString(QStringLiteral("recorded")) == QLatin1String("t");
}

void TdmCommon::closeLinkCheck(const QString& link) noexcept {
    if (SQLConnectionKvarn.server() != SqlConnection::Server::PostgreSQL)
        return;
    try {
        SqlQuery q(SQLConnectionKvarn, QStringLiteral("closeCheck"),
                   {QStringLiteral("select tulmina_link.close_check(:link) as closed")});
        q.setParam(QStringLiteral("link"), link);
        q.openWhole();
    } catch (const std::exception&) {
        // An open connection costs the billing server a slot, nothing more.
    }
}

bool TdmCommon::hasDatabaseLink(const QString& name) {
    SqlQuery check(SQLConnectionKvarn, QStringLiteral("linkCheck"), linkCheckLines());
    check.setParamText(QStringLiteral("name_link"), name.trimmed().toUpper());
    check.open();
    return !check.eof();
}

bool TdmCommon::isFixedLink(const QString& name) {
    return name.trimmed().toUpper() == QLatin1String("KNA");
}

TdmCommon::~TdmCommon() {
    // Queries go before the connection they run on.
    for (OwnedQuery* q : {&sqCreateDropChannel, &sqSettlement, &sqTownId, &sqPhoneInd, &sqListPhone,
                          &sqLstPhonDelTab, &sqPayDeb})
        q->release();
}

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

const char* const TdmCommon::ConnectionName = "OracleConnection";
const char* const TdmCommon::DriverName = "Oracle";
const char* const TdmCommon::GetDriverFunc = "getSQLDriverORACLE";
const char* const TdmCommon::LibraryName = "dbexpora.dll";
const char* const TdmCommon::VendorLib = "oci.dll";

QStringList TdmCommon::connectionParams() {
    return {
        QStringLiteral("DriverName=Oracle"),
        QStringLiteral("DataBase=") + QString::fromUtf8(config::DatabaseAlias),
        QStringLiteral("User_Name=") + QString::fromUtf8(config::ServiceUser),
        QStringLiteral("Password=") + QString::fromUtf8(config::ServicePassword),
        QStringLiteral("RowsetSize=20"),
        QStringLiteral("BlobSize=-1"),
        QStringLiteral("ErrorResourceFile="),
        QStringLiteral("LocaleCode=0000"),
        QStringLiteral("Oracle TransIsolation=ReadCommited"),
        QStringLiteral("OS Authentication=False"),
        QStringLiteral("Multiple Transaction=False"),
        QStringLiteral("Trim Char=False"),
    };
}

QStringList TdmCommon::linkCheckLines() {
    return {"select *", "from all_db_links t", "where t.db_link = :name_link"};
}

QStringList TdmCommon::settlementLines() {
    return {"--select distinct town from list_phoneindex_town",
            "select distinct town_id, name--, id_territory, name_terr, atskod", "from atstown", ""};
}

QStringList TdmCommon::townIdLines() {
    return {"select distinct t.town_id", "from kvarn_db.deb_kred_curr t",
            "where t.town_name = :town_name"};
}

QStringList TdmCommon::phoneIndLines() {
    return {"select * from atstown t", "where name = :town", "order by name"};
}

QStringList TdmCommon::listPhoneLines() {
    return {
        "select  t1.account,",
        "t7.shortname || ' ' || t6.name || ' ' ||",
        "case",
        "when (t5.name = 'ШОССЕ' )",
        "then t3.name || ' ШОССЕ'",
        "else t5.shortname || ' ' || t3.name",
        "end || ' д.' ||",
        "t2.house ||",
        "case",
        "when (t2.corpus is null) or",
        "(t2.corpus = '0') or (t2.corpus = '')",
        "then ''",
        "else '/' || t2.corpus",
        "end || ' ' ||",
        "case",
        "when (t1.flat is null) or",
        "(t1.flat = '0') or (t1.flat='')",
        "then ''",
        "else 'кв.' || t1.flat",
        "end ClientInfoWithoutName,",
        "t1.name",
        "from",
        "t_users@kna t1,",
        "o_houses@kna t2,",
        "t_streets_ref@kna t3,",
        "t_street_type@kna t5,",
        "t_town@kna t6,",
        "t_town_type@kna t7",
        "where t3.town_id = t6.town_id",
        "and t6.type_town_id = t7.type_town_id",
        "and t1.house_id = t2.house_id",
        "and t2.street_id = t3.street_id",
        "and t3.type_street_id = t5.type_street_id",
        "-- and t1.user_id = 4000083845",
    };
}

QStringList TdmCommon::debtorTemplateLines() {
    return {
        "select distinct",
        "case",
        "when (town_id = '2700000500000') or (id_territory = '2701000000000')",
        "then substr(phone, 5, 6)",
        "else substr(phone, 6, 5)",
        "end as phone",
        ", cur_deb",
        ", user_id",
        "from",
        "(",
        "select case",
        "when length(phone) = 10",
        "then phone",
        "end as phone",
        ", cur_deb",
        ", user_id",
        ", id_territory, town_id",
        "from lst_deb_always",
        "where",
        "-- iscorp = 'N'",
        "-- and (  substr(phone, 5, 2) = '00' or",
        "-- and d1.date_on < '01.06.2008'",
        "-- and town_id = 2700000500000",
        "-- and cur_deb < 0",
        ")",
        "order by phone",
    };
}

TdmCommon::TdmCommon()
    : SQLConnectionKvarn(ConnectionName, QString::fromUtf8(config::SqlDriver), connectionParams()),
      sqCreateDropChannel(SQLConnectionKvarn, "sqCreateDropChannel", linkCheckLines()),
      sqSettlement(SQLConnectionKvarn, "sqSettlement", settlementLines()),
      sqTownId(SQLConnectionKvarn, "sqTownId", townIdLines()),
      sqPhoneInd(SQLConnectionKvarn, "sqPhoneInd", phoneIndLines()),
      sqListPhone(SQLConnectionKvarn, "sqListPhone", listPhoneLines()),
      sqLstPhonDelTab(SQLConnectionKvarn, "sqLstPhonDelTab", debtorTemplateLines()),
      sqPayDeb(SQLConnectionKvarn, "sqPayDeb", {}) {
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
    if (userIds.empty())
        return;
    const QString today = QStringLiteral("to_date(to_char(sysdate,'dd.mm.yyyy'))");
    SqlQuery& q = *sqPayDeb;
    q.clear();
    // Oracle before 23c takes one row per values list; several travel as a query.
    if (SQLConnectionKvarn.usesDialect())
        q.addLine(
            QStringLiteral("insert into ") + table + QStringLiteral(" values ") +
            userMarkers(qsizetype(userIds.size()), QStringLiteral("(:user_#, ") + today + u')'));
    else
        q.addLine(
            QStringLiteral("insert into ") + table + u' ' +
            userMarkers(qsizetype(userIds.size()),
                        QStringLiteral("select :user_#, ") + today + QStringLiteral(" from dual"),
                        QStringLiteral(" union all ")));
    bindUsers(q, userIds);
    q.execSQL();
}

void TdmCommon::recordRun(const QString& listKind, const QString& settlement, const QString& townId,
                          int rows) {
    if (!SQLConnectionKvarn.usesDialect())
        return;
    SqlQuery audit(SQLConnectionKvarn, QStringLiteral("runAudit"),
                   {QStringLiteral("select tulmina_audit.record_run(:list_kind, :settlement, "
                                   ":town_id, :row_count)")});
    audit.setParam(QStringLiteral("list_kind"), listKind);
    audit.setParam(QStringLiteral("settlement"), settlement);
    audit.setParam(QStringLiteral("town_id"), townId);
    audit.setParam(QStringLiteral("row_count"), rows);
    audit.openWhole();
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

#include "ConnectionConfig.h"
#include "data/fmCommonDM.h"

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

#include "tests/support/TestDb.h"

#include "data/fmCommonDM.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <stdexcept>

namespace testdb {
namespace {

QSqlDatabase connection(const QString& database) {
    const QString name = QStringLiteral("testdb-") + database;
    if (!QSqlDatabase::contains(name)) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(QStringLiteral("127.0.0.1"));
        db.setPort(55432);
        db.setDatabaseName(database);
        db.setUserName(QStringLiteral("postgres"));
        db.setPassword(QStringLiteral(TULMINA_TEST_SUPER_PASSWORD));
        db.setConnectOptions(QStringLiteral("sslmode=verify-full;sslrootcert=" TULMINA_TEST_CA));
    }
    QSqlDatabase db = QSqlDatabase::database(name, false);
    if (!db.isOpen()) {
        if (!db.open())
            throw std::runtime_error("test database: " + db.lastError().text().toStdString());
        // Dates are written as the program's server reads them.
        QSqlQuery(db).exec("set datestyle = 'German, DMY'; set client_min_messages = warning");
    }
    return db;
}

QSqlQuery run(const QString& database, const QString& sql) {
    QSqlQuery q(connection(database));
    if (!q.exec(sql)) {
        // The server may have gone away under the test (a restart): the
        // statement runs once more on a new connection.
        QSqlDatabase::database(QStringLiteral("testdb-") + database, false).close();
        q = QSqlQuery(connection(database));
        if (!q.exec(sql))
            throw std::runtime_error("test database: " + q.lastError().text().toStdString() +
                                     " in: " + sql.toStdString());
    }
    return q;
}

} // namespace

QSqlDatabase serviceAccount(const QString& connectionName, const QString& database,
                            const QString& sslmode) {
    const TdmCommon dm;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName);
    db.setHostName(QStringLiteral("127.0.0.1"));
    db.setPort(55432);
    db.setDatabaseName(database);
    db.setUserName(dm.SQLConnectionKvarn.param(QStringLiteral("User_Name")));
    db.setPassword(dm.SQLConnectionKvarn.param(QStringLiteral("Password")));
    db.setConnectOptions(QStringLiteral("sslmode=") + sslmode + QStringLiteral(";sslrootcert=") +
                         dm.SQLConnectionKvarn.trustedCa());
    return db;
}

void exec(const QString& database, const QString& sql) {
    run(database, sql);
}

QStringList column(const QString& database, const QString& sql) {
    QSqlQuery q = run(database, sql);
    QStringList values;
    while (q.next())
        values << (q.value(0).isNull() ? QStringLiteral("<null>") : q.value(0).toString());
    return values;
}

QVariant scalar(const QString& database, const QString& sql) {
    QSqlQuery q = run(database, sql);
    return q.next() ? q.value(0) : QVariant();
}

void createOperator(const QString& login, const QString& password, const QVariant& operatorName,
                    int operId) {
    dropOperator(login);
    exec("kvarn", QStringLiteral("create role %1 login password '%2' in role billing_operators")
                      .arg(login.toLower(), QString(password).replace("'", "''")));
    QSqlQuery q(connection("kvarn"));
    q.prepare("insert into t_operators values (?, ?, ?, 'test')");
    q.addBindValue(operId);
    q.addBindValue(operatorName.isNull() ? QVariant(QMetaType::fromType<QString>()) : operatorName);
    q.addBindValue(login.toUpper());
    if (!q.exec())
        throw std::runtime_error(q.lastError().text().toStdString());
}

void dropOperator(const QString& login) {
    exec("kvarn",
         QStringLiteral("delete from t_operators where login_name = '%1'").arg(login.toUpper()));
    exec("kvarn", QStringLiteral("drop role if exists %1").arg(login.toLower()));
}

void ensureOperator(const QString& login, const QString& password) {
    const QString role = login.toLower();
    if (scalar("kvarn", QStringLiteral("select count(*) from pg_roles r join t_operators o on "
                                       "o.login_name = upper(r.rolname) where r.rolname = '%1'")
                            .arg(role))
            .toInt() == 0) {
        // An id above those the tests give their own operators.
        createOperator(
            login, password, QStringLiteral("Тест ") + login,
            scalar("kvarn", "select greatest(max(oper_id), 1000) + 1 from t_operators").toInt());
        return;
    }
    exec("kvarn", QStringLiteral("alter role %1 password '%2'")
                      .arg(role, QString(password).replace("'", "''")));
}

void forgetFailedSignIns() {
    exec("report", "delete from tulmina_auth.failures");
}

QStringList snapshotUsers(const QString& table, qint64 first, qint64 last) {
    return column("report", QStringLiteral("select user_id from %1 where user_id between %2 and %3 "
                                           "and pay_date = current_date order by 1")
                                .arg(table)
                                .arg(first)
                                .arg(last));
}

void removeSnapshots(qint64 first, qint64 last) {
    for (const char* table : {"pays_debs_tmp", "pays_debs_tmp_r"})
        exec("report", QStringLiteral("delete from %1 where user_id between %2 and %3")
                           .arg(QLatin1String(table))
                           .arg(first)
                           .arg(last));
}

bool linkExists(const QString& linkName) {
    return scalar("report",
                  QStringLiteral("select count(*) from pg_foreign_server where srvname = '%1'")
                      .arg(linkName.toLower()))
               .toInt() > 0;
}

void dropLinkIfAny(const QString& linkName) {
    const QString n = linkName.toLower();
    exec("report", QStringLiteral("drop server if exists %1 cascade").arg(n));
    exec("report", QStringLiteral("drop schema if exists %1 cascade").arg(n));
    exec("report", QStringLiteral("delete from tulmina_auth.holders where link = '%1'").arg(n));
}

int serverCursors(SqlConnection& connection) {
    // The statement's own portal has no name.
    SqlQuery count(connection, QStringLiteral("serverCursors"),
                   {QStringLiteral("select count(*) as n from pg_cursors where name <> ''")});
    count.openWhole();
    return count.asString(QStringLiteral("n")).toInt();
}

HeldLock::HeldLock(const QString& table) : name_(QStringLiteral("testdb-lock-") + table) {
    QSqlDatabase db = QSqlDatabase::cloneDatabase(connection(QStringLiteral("report")), name_);
    if (!db.open() || !QSqlQuery(db).exec(QStringLiteral("begin")) ||
        !QSqlQuery(db).exec(QStringLiteral("lock table ") + table +
                            QStringLiteral(" in access exclusive mode")))
        throw std::runtime_error("test database: no lock on " + table.toStdString());
}

HeldLock::~HeldLock() {
    {
        QSqlDatabase db = QSqlDatabase::database(name_, false);
        QSqlQuery(db).exec(QStringLiteral("rollback"));
        db.close();
    }
    QSqlDatabase::removeDatabase(name_);
}

RefusedSnapshot::RefusedSnapshot(qint64 userId) {
    exec("report", QStringLiteral("create or replace function refuse_snapshot() returns trigger "
                                  "language plpgsql as $$ begin if new.user_id = %1 then "
                                  "raise exception 'insert refused'; end if; return new; end $$")
                       .arg(userId));
    exec("report", "create trigger refuse_snapshot before insert on pays_debs_tmp_r "
                   "for each row execute function refuse_snapshot()");
}

RefusedSnapshot::~RefusedSnapshot() {
    exec("report", "drop trigger refuse_snapshot on pays_debs_tmp_r");
    exec("report", "drop function refuse_snapshot");
}

} // namespace testdb

// What someone who reads the service account out of the program can do with
// it, tried on the stand-in while an operator is signed in through the
// program: every secret stays unreadable, every misuse is refused, the
// operator's password is in no view and no log, and values reach the server
// bound whatever the session's settings.
#include "app/SignIn.h"
#include "app/fmPassword.h"
#include "data/fmCommonDM.h"
#include "lists/GenerationRun.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/RecordingObserver.h"
#include "tests/support/RecordingSpreadsheet.h"
#include "tests/support/TestDb.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WindowFixture.h"
#include "ui/TulminaApplication.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString Login = QStringLiteral("secop");
// A password with what could break out of a literal (a double quote is refused
// before anything is sent).
const QString TypedPassword = QStringLiteral("Сек'рет\\pw;--1");
// Part of it that a row's text form keeps as it is (a backslash is doubled there).
const QString PasswordMark = QStringLiteral("pw;--1");

// A connection with the service account the program holds, as anyone who
// reads it out of the program can open one; TLS as the server demands.
QSqlDatabase asService(const QString& database = "report", const QString& sslmode = "verify-full") {
    const QString name = "svc-" + database + "-" + sslmode;
    if (!QSqlDatabase::contains(name)) {
        TdmCommon dm;
        QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", name);
        db.setHostName("127.0.0.1");
        db.setPort(55432);
        db.setDatabaseName(database);
        db.setUserName(dm.SQLConnectionKvarn.param("User_Name"));
        db.setPassword(dm.SQLConnectionKvarn.param("Password"));
        db.setConnectOptions("sslmode=" + sslmode +
                             ";sslrootcert=" + dm.SQLConnectionKvarn.trustedCa());
    }
    QSqlDatabase db = QSqlDatabase::database(name, false);
    db.open();
    return db;
}

// Everything the service account can read in one relation, as text.
QString everythingIn(QSqlDatabase& db, const QString& relation) {
    QSqlQuery q(db);
    if (!q.exec("select string_agg(t::text, ' ') from " + relation + " t"))
        return {};
    return q.next() ? q.value(0).toString() : QString();
}
} // namespace

class TestSecurity : public QObject {
    Q_OBJECT
    std::unique_ptr<TdmCommon> signedIn;

    // The operator signs in through the program's own sign-in.
    void signIn(const QString& password) {
        signedIn = std::make_unique<TdmCommon>();
        QVERIFY(fixture::signInThroughDialog(*signedIn, Login, password));
    }

private slots:
    void initTestCase() {
        testdb::createOperator(Login, TypedPassword, "Защищённая Вера", 61);
        testdb::dropLinkIfAny(Login);
        signIn(TypedPassword);
    }
    void cleanupTestCase() {
        signedIn.reset();
        testdb::dropLinkIfAny(Login);
        testdb::dropOperator(Login);
    }

    // No relation the service account can read holds the signed-in operator's
    // password: not the user mappings, not the activity of the program's
    // sessions, not the functions' source, not the links' options.
    void noReadableRelationHoldsThePassword() {
        QSqlDatabase db = asService();
        QVERIFY2(db.isOpen(), qPrintable(db.lastError().text()));
        QSqlQuery relations(db);
        QVERIFY(relations.exec(
            "select format('%I.%I', n.nspname, c.relname) from pg_class c "
            "join pg_namespace n on n.oid = c.relnamespace where c.relkind in ('r', 'v', 'm') "
            "and has_table_privilege(c.oid, 'select') and n.nspname not in ('kna', 'secop')"));
        QStringList read;
        while (relations.next()) {
            const QString relation = relations.value(0).toString();
            QVERIFY2(!everythingIn(db, relation).contains(PasswordMark), qPrintable(relation));
            read << relation;
        }
        for (const char* r :
             {"pg_catalog.pg_user_mappings", "pg_catalog.pg_stat_activity", "pg_catalog.pg_proc",
              "tulmina_compat.all_db_links", "information_schema.user_mapping_options"})
            QVERIFY2(read.contains(r), r); // the check read them
        QSqlQuery mappings(db);
        QVERIFY(mappings.exec("select count(*) from pg_user_mappings where umoptions is not null"));
        QVERIFY(mappings.next());
        QCOMPARE(mappings.value(0).toInt(), 0);
    }

    void misusesAreRefused_data() {
        QTest::addColumn<QString>("statement");
        const QStringList misuses{
            // the catalog of the links' secrets, and reading around the link's view
            "select * from pg_user_mapping", "select * from secop.remote_t_operators",
            // the program's tables: no change but snapshot inserts, no reading of those
            "drop table atstown", "truncate lst_deb_always", "delete from pays_debs_tmp",
            "update atstown set name = 'x'", "alter table pays_debs_tmp_r add column x int",
            "select * from pays_debs_tmp_r", "insert into atstown (name) values ('x')",
            "insert into secop.t_operators values (1, 'x', 'X', 'x')",
            "drop view secop.t_operators",
            // objects anywhere, code planted for other sessions
            "create table public.x (a int)", "create schema evil", "create temp table x (a int)",
            "create function public.upper(text) returns text language sql as 'select $1'",
            "create function tulmina_compat.upper(text) returns text language sql as 'select $1'",
            "create table kna.x (a int)", "create view secop.v as select 1",
            // the server connecting where a workstation asks
            "create server evil foreign data wrapper postgres_fdw "
            "options (host '10.0.0.1', port '5432')",
            "create user mapping for current_user server kna options (user 'x', password 'y')",
            "alter server kna options (set host '10.0.0.1')", "drop server kna cascade",
            "drop user mapping for public server kna",
            // the link functions and the links they guard
            "alter function tulmina_link.create_link(text, text, text) owner to tulmina_svc",
            "drop function tulmina_link.drop_link(text)",
            "create or replace function tulmina_link.drop_link(t text) returns void "
            "language sql as 'select 1'",
            "alter function tulmina_link.create_link(text, text, text) security invoker",
            "select tulmina_link.drop_link('kna')",
            "select tulmina_link.create_link('kna', 'x', 'y')",
            "select tulmina_link.create_link('public', 'x', 'y')",
            "select tulmina_link.create_link('a;drop', 'x', 'y')",
            "select tulmina_link.create_link('ok', 'x''y', 'z')",
            // the roles and the settings that keep secrets out of the log
            "set role tulmina_links", "set role tulmina_owner",
            "grant tulmina_owner to tulmina_svc",
            "alter role tulmina_svc reset log_parameter_max_length",
            "alter role tulmina_svc set log_min_error_statement = 'error'",
            "set log_statement = 'none'"};
        for (const QString& m : misuses)
            QTest::newRow(qPrintable(m.left(60))) << m;
    }
    void misusesAreRefused() {
        QFETCH(QString, statement);
        QSqlDatabase db = asService();
        QSqlQuery q(db);
        QVERIFY2(!q.exec(statement), "the server took it");
        // Refused for what it tried, not for being mistyped or naming nothing.
        const QString state = q.lastError().nativeErrorCode();
        QVERIFY2(!QStringList({"42601", "42P01", "42883", "42704", "3F000"}).contains(state),
                 qPrintable(state + " " + q.lastError().databaseText()));
    }

    // Other databases and a connection without TLS are closed to the account.
    void onlyTheReportingDatabaseOverTls() {
        QVERIFY(!asService("kvarn").isOpen());
        QVERIFY(!asService("postgres").isOpen());
        QVERIFY(!asService("report", "disable").isOpen());
        QVERIFY(asService("report").isOpen());
    }

    // Even with every statement logged, the sign-in leaves no password in the
    // server's log.
    void thePasswordIsNotLogged() {
        const QString log = testdb::scalar("report", "select setting || '/../server.log' from "
                                                     "pg_settings where name = 'data_directory'")
                                .toString();
        const qint64 before =
            testdb::scalar("report", "select (pg_stat_file('" + log + "')).size").toLongLong();
        testdb::exec("report", "alter system set log_statement = 'all'");
        testdb::exec("report", "select pg_reload_conf()");
        const auto quiet = qScopeGuard([] {
            testdb::exec("report", "alter system reset log_statement");
            testdb::exec("report", "select pg_reload_conf()");
        });
        QTest::qWait(200); // the server rereads its settings
        signedIn->SQLConnectionKvarn.executeDirect("drop database link " + Login);
        signIn(TypedPassword);
        const QString written =
            testdb::scalar("report", QString("select pg_read_file('%1', %2, (pg_stat_file('%1'))"
                                             ".size - %2)")
                                         .arg(log)
                                         .arg(before))
                .toString();
        QVERIFY2(written.contains("tulmina_link.create_link($1, $2, $3)"), qPrintable(written));
        QVERIFY(!written.contains(PasswordMark));
    }

    // Hostile values go through the sign-in and a run as parameters, also when
    // the account's sessions read backslashes in literals as escapes.
    void valuesAreBoundWhateverTheSettings() {
        testdb::exec("report", "alter role tulmina_svc set standard_conforming_strings = off");
        const auto restore = qScopeGuard([] {
            testdb::exec("report", "alter role tulmina_svc reset standard_conforming_strings");
        });
        signedIn->SQLConnectionKvarn.executeDirect("drop database link " + Login);
        signIn(TypedPassword); // a password with a quote and a backslash
        const fixture::Settlement hostile{"Тест-\\'; delete from atstown; --",
                                          "2799999900710",
                                          "2799999900000",
                                          {"421711", "4217\\'"}};
        fixture::addSettlement(hostile);
        fixture::addDebtors(hostile, {{"4217110001", -5, 995001}, {"4217\\'0002", -6, 995002}});
        const auto remove = qScopeGuard([&] {
            fixture::removeDebtors(hostile);
            testdb::exec("report", "delete from atstown where town_id = " + hostile.townId);
            testdb::removeSnapshots(995001, 995009);
        });
        QTemporaryDir work;
        fixture::prepareWorkFolder(work.path());
        QDir::setCurrent(work.path());
        RecordingObserver observer;
        RecordingSpreadsheet sheet;
        RunParameters p;
        p.settlement = {hostile.name, hostile.townId, hostile.territory, false};
        p.exchangeCount = 2;
        p.excluded = {{"4217\\'", "\\'"}};
        p.listKind = Analysis;
        const RunOutcome run = GenerationRun(*signedIn, observer).run(p, &sheet);
        QDir::setCurrent("/");
        QCOMPARE(run.debtorCount, 1);
        QCOMPARE(sheet.userIdColumn(), QStringList{"995001"});
        QCOMPARE(testdb::snapshotUsers("pays_debs_tmp_r", 995001, 995009), QStringList{"995001"});
        QVERIFY(testdb::scalar("report", "select count(*) from atstown").toInt() > 2);
    }
};

int main(int argc, char** argv) {
    TulminaApplication app(argc, argv);
    TestSecurity test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_security.moc"

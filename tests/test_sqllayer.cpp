// The query layer, the Oracle-dialect layer and the data module, against the
// running stand-in server.
#include "app/FieldValue.h"
#include "data/DbError.h"
#include "data/OracleDialect.h"
#include "data/SqlLexer.h"
#include "data/fmCommonDM.h"
#include "tests/support/TestDb.h"
#include "tests/support/WindowFixture.h"

#include <QDate>
#include <QTcpServer>
#include <QtTest>

namespace {
const QString TestTown = QStringLiteral("2799999900001");

// Five condition lines of the debtor template that select the test's rows.
void fillDebtorConditions(SqlQuery& q) {
    q.replaceLine(19, " iscorp = 'N'");
    q.replaceLine(23, " and cur_deb < 0");
    q.replaceLine(22, " and town_id = '" + TestTown + "'");
    q.replaceLine(20, "");
    q.replaceLine(21, "");
}
} // namespace

class TestSqlLayer : public QObject {
    Q_OBJECT
    std::unique_ptr<TdmCommon> dm;

private slots:
    void initTestCase() {
        dm = fixture::signedInDataModule("sqllayer");
        testdb::exec("report", "delete from lst_deb_always where town_id = " + TestTown);
        testdb::exec("report", "insert into lst_deb_always values "
                               "('4217220001', -10, 1, " +
                                   TestTown +
                                   ", 2700000000000, 'N', '01.01.2001'),"
                                   "('421722000', -20, 2, " +
                                   TestTown +
                                   ", 2700000000000, 'N', '01.01.2001'),"
                                   "('4217220003', -30, 3, " +
                                   TestTown +
                                   ", 2700000000000, 'N', '01.01.2001'),"
                                   "('4217220003', -31, 4, " +
                                   TestTown +
                                   ", 2700000000000, 'N', '01.01.2001'),"
                                   "('4217220005', 50, 5, " +
                                   TestTown + ", 2700000000000, 'N', '01.01.2001')");
    }
    void cleanupTestCase() {
        testdb::exec("report", "delete from lst_deb_always where town_id = " + TestTown);
        dm.reset();
        testdb::dropLinkIfAny("sqllayer");
    }

    void lexerFindsParametersOnlyInCode() {
        const QString text =
            "select ':skip', \"a:b\" from t -- :comment\n"
            "where x = :First and y = :second /* :c */ and z = :FIRST and w::int = 1";
        QCOMPARE(sqllex::parameterNames(text), QStringList({"First", "second"}));
    }

    void dialectRewritesOnlyCode() {
        const auto t = oracle::translate(
            "select 'x@y sysdate', a.sysdate, sysdate -- t@l sysdate\nfrom t_users@kna t1");
        QCOMPARE(t.sql,
                 QString("select 'x@y sysdate', a.sysdate, localtimestamp(0) -- t@l sysdate\n"
                         "from kna.t_users t1"));
        // A link whose name PostgreSQL would not read as written is quoted.
        QCOMPARE(oracle::translate("select * from t_operators@A#b t").sql,
                 QString("select * from \"a#b\".t_operators t"));
    }

    void dialectAliasesSubqueryInFrom() {
        QCOMPARE(oracle::translate("select * from (select 1 as a) order by a").sql,
                 QString("select * from (select 1 as a) subquery_1 order by a"));
        QCOMPARE(oracle::translate("select * from (select 1 as a) q").sql,
                 QString("select * from (select 1 as a) q"));
        QCOMPARE(oracle::translate("select f(x) from (select (1) as x)").sql,
                 QString("select f(x) from (select (1) as x) subquery_1"));
    }

    // Link statements become calls of the server's link functions; the name,
    // the user and the password are bound values, never statement text.
    void dialectLinkStatements() {
        const auto c = oracle::translate(
            "create database link Ivanova connect to Ivanova identified by \"p'w\" using "
            "'127.0.0.1:55432/kvarn'");
        QCOMPARE(c.sql, QString("select tulmina_link.create_link(:tulmina_link_name, "
                                ":tulmina_link_user, :tulmina_link_password)"));
        QCOMPARE(c.values.size(), size_t(3));
        QCOMPARE(c.values[0].second.toString() + c.values[1].second.toString() +
                     c.values[2].second.toString(),
                 QString("IvanovaIvanovap'w"));
        QCOMPARE(c.secret, QString("p'w"));
        QCOMPARE(c.link, oracle::LinkAction::Create);
        QCOMPARE(c.linkName, QString("ivanova"));
        const auto d = oracle::translate("drop database link IVANOVA");
        QCOMPARE(d.sql, QString("select tulmina_link.drop_link(:tulmina_link_name)"));
        QCOMPARE(d.values[0].second.toString(), QString("IVANOVA"));
        QCOMPARE(d.link, oracle::LinkAction::Drop);
        QVERIFY_THROWS_EXCEPTION(DbError, oracle::translate("create database link x connect to y"));
    }

    void storedTextsAreExact() {
        QCOMPARE(dm->sqLstPhonDelTab->lines().size(), 26);
        QCOMPARE(dm->sqListPhone->lines().size(), 34);
        QCOMPARE(dm->sqSettlement->lines().size(), 4);
        QCOMPARE(dm->sqListPhone->lines().at(33), QString("-- and t1.user_id = 4000083845"));
        QCOMPARE(dm->sqLstPhonDelTab->lines().at(18), QString("where"));
        QCOMPARE(dm->sqPhoneInd->parameterNames(), QStringList{"town"});
        QCOMPARE(dm->sqPayDeb->lines().size(), 0);
        QCOMPARE(dm->SQLConnectionKvarn.params().size(), 12);
        QCOMPARE(dm->SQLConnectionKvarn.params().at(8),
                 QString("Oracle TransIsolation=ReadCommited"));
        QCOMPARE(dm->sqCreateDropChannel->text(),
                 QString("select *\r\nfrom all_db_links t\r\nwhere t.db_link = :name_link\r\n"));
    }

    void replacingLinesKeepsTheCountAndRejectsLinesPastTheEnd() {
        SqlQuery& q = *dm->sqLstPhonDelTab;
        fillDebtorConditions(q);
        QCOMPARE(q.lines().size(), 26);
        QVERIFY_THROWS_EXCEPTION(ProgramError, q.replaceLine(26, "x"));
        QVERIFY_THROWS_EXCEPTION(ProgramError, q.replaceLine(-1, "x"));
        QCOMPARE(q.lines().size(), 26);
    }

    void debtorTemplateAsStoredIsRejectedAndFilledRuns() {
        SqlQuery stored(dm->SQLConnectionKvarn, "stored", TdmCommon::debtorTemplateLines());
        QVERIFY_THROWS_EXCEPTION(DbError, stored.open());
        QVERIFY(!stored.isOpen());

        SqlQuery& q = *dm->sqLstPhonDelTab;
        fillDebtorConditions(q);
        q.open();
        QStringList phones;
        for (; !q.eof(); q.next())
            phones << (q.value("PHONE").isNull() ? "<null>" : q.asString("phone"));
        // Six-character tails are not used for this town: five characters from the sixth.
        // The number of nine characters gives a null phone, which sorts last; the shared
        // number appears once per account.
        QCOMPARE(phones, QStringList({"20001", "20003", "20003", "<null>"}));
    }

    void replacingALineClosesAndTheNewTextRuns() {
        SqlQuery& q = *dm->sqLstPhonDelTab;
        fillDebtorConditions(q);
        q.open();
        QVERIFY(q.isOpen());
        q.replaceLine(23, " and cur_deb < -25");
        QVERIFY(!q.isOpen());
        q.open();
        int rows = 0;
        for (; !q.eof(); q.next())
            ++rows;
        QCOMPARE(rows, 2);
    }

    void firstRunsTheStatementAgainOnlyAfterMoving() {
        SqlQuery& q = *dm->sqLstPhonDelTab;
        fillDebtorConditions(q);
        q.open();
        q.first(); // on the first row: nothing runs, the row stays
        QCOMPARE(q.rowIndex(), 0);
        while (!q.eof())
            q.next();
        testdb::exec("report", "insert into lst_deb_always values ('4217220009', -90, 9, " +
                                   TestTown + ", 2700000000000, 'N', '01.01.2001')");
        q.first();
        int rows = 0;
        for (; !q.eof(); q.next())
            ++rows;
        testdb::exec("report",
                     "delete from lst_deb_always where user_id = 9 and town_id = " + TestTown);
        QCOMPARE(rows, 5);
    }

    void parametersAreDerivedFromTheTextAndKeepTheirValues() {
        SqlQuery q(dm->SQLConnectionKvarn, "p", TdmCommon::linkCheckLines());
        q.setParamText("name_link", "KNA");
        q.replaceLine(0, "select db_link");
        QCOMPARE(q.paramValue("name_link").toString(), QString("KNA"));
        q.open();
        QCOMPARE(q.asString("db_link"), QString("KNA"));
        q.clear();
        QVERIFY(q.parameterNames().isEmpty());
        q.addLine("select :other as x");
        QCOMPARE(q.parameterNames(), QStringList{"other"});
        QVERIFY_THROWS_EXCEPTION(ProgramError, q.setParamText("name_link", "X"));
    }

    void nullReadsOfAnEmptyResult() {
        SqlQuery& q = *dm->sqCreateDropChannel;
        q.clear();
        for (const QString& line : TdmCommon::linkCheckLines())
            q.addLine(line);
        q.setParamText("name_link", "NO_SUCH_LINK");
        q.open();
        QVERIFY(q.eof());
        QVERIFY(q.value("DB_LINK").isNull());
        QCOMPARE(q.asString("db_link"), QString());
        QCOMPARE(q.asFloat("db_link"), 0.0);
        QVERIFY_THROWS_EXCEPTION(DbError, requireText(q.value("db_link"), "db_link"));
        QVERIFY_THROWS_EXCEPTION(ProgramError, q.value("no_such_column"));
        q.close();
        q.close(); // closing a closed query does nothing
    }

    void fixedPointConversion() {
        QCOMPARE(requireFixed4(QVariant("12.34567"), "x"), qint64(123456));
        QCOMPARE(requireFixed4(QVariant("-7"), "x"), qint64(-70000));
        QVERIFY_THROWS_EXCEPTION(DbError, requireFixed4(QVariant("abc"), "x"));
        QVERIFY_THROWS_EXCEPTION(DbError, requireFixed4(QVariant(), "x"));
    }

    void serverErrorsCarryTheServerTextAndLeaveTheConnectionUsable() {
        SqlQuery q(dm->SQLConnectionKvarn, "bad", {"select * from no_such_table"});
        try {
            q.open();
            QFAIL("no error");
        } catch (const DbError& e) {
            QVERIFY2(e.message().contains("relation \"no_such_table\" does not exist"),
                     qPrintable(e.message()));
        }
        QVERIFY_THROWS_EXCEPTION(DbError, dm->SQLConnectionKvarn.executeDirect("selec 1"));
        QCOMPARE(dm->SQLConnectionKvarn.executeDirect("select 1"), 1);
    }

    void directExecutionReportsAffectedRows() {
        auto& c = dm->SQLConnectionKvarn;
        QCOMPARE(c.executeDirect("insert into pays_debs_tmp_r "
                                 "select generate_series(91001, 91003), current_date"),
                 3);
        testdb::exec("report", "delete from pays_debs_tmp_r where user_id between 91001 and 91003");
        QCOMPARE(c.executeDirect("select generate_series(1, 2)"), 2);
    }

    void oracleTextsRunUnchanged() {
        SqlQuery q(dm->SQLConnectionKvarn, "lit",
                   {"select 'mail@host sysdate' as t, to_char(sysdate, 'dd.mm.yyyy') as d,",
                    "'a' || null as c, to_date('01.06.2008') as d2"});
        q.open();
        QCOMPARE(q.asString("t"), QString("mail@host sysdate"));
        QCOMPARE(q.asString("d"), QDate::currentDate().toString("dd.MM.yyyy"));
        QCOMPARE(q.asString("c"), QString("a"));
        QCOMPARE(q.value("d2").toDate(), QDate(2008, 6, 1));
    }

    void snapshotInsertTextStoresToday() {
        testdb::exec("report", "delete from pays_debs_tmp where user_id = 4000083845");
        SqlQuery& q = *dm->sqPayDeb;
        q.clear();
        q.addLine("insert into PAYS_DEBS_TMP values (4000083845, "
                  "to_date(to_char(sysdate,'dd.mm.yyyy')))");
        q.execSQL();
        const QString stored =
            testdb::scalar("report", "select to_char(pay_date, 'yyyy-mm-dd') from pays_debs_tmp "
                                     "where user_id = 4000083845")
                .toString();
        testdb::exec("report", "delete from pays_debs_tmp where user_id = 4000083845");
        QCOMPARE(stored, QDate::currentDate().toString(Qt::ISODate));
    }

    // A prepared statement is sent as written: its number literals stay literals,
    // so "order by 1" still orders by the first column.
    void executedStatementsKeepTheirNumberLiterals() {
        testdb::exec("report", "delete from pays_debs_tmp_r where user_id in (11, 12, 13)");
        SqlQuery& q = *dm->sqPayDeb;
        q.clear();
        q.addLine("insert into PAYS_DEBS_TMP_R select u, to_date('01.02.2003') from "
                  "(select 13 as u union all select 11 union all select 12) v order by 1 limit 1");
        q.execSQL();
        QCOMPARE(testdb::column("report", "select user_id || ' ' || to_char(pay_date, "
                                          "'yyyy-mm-dd') from pays_debs_tmp_r where user_id in "
                                          "(11, 12, 13)"),
                 QStringList{"11 2003-02-01"});
        q.clear();
        q.addLine("insert into no_such_table values (1)");
        QVERIFY_THROWS_EXCEPTION(DbError, q.execSQL());
        testdb::exec("report", "delete from pays_debs_tmp_r where user_id in (11, 12, 13)");
    }

    void blockStatementsBindTheirUserIds() {
        testdb::exec("report", "delete from pays_debs_tmp where user_id between 31 and 33");
        dm->insertSnapshotRows(SnapshotTableMain, {31, 33, 32});
        QCOMPARE(testdb::column("report",
                                "select user_id from pays_debs_tmp where user_id "
                                "between 31 and 33 and pay_date = current_date order by 1"),
                 QStringList({"31", "32", "33"}));
        testdb::exec("report", "delete from pays_debs_tmp where user_id between 31 and 33");
        const QString known =
            testdb::scalar("kvarn", "select min(user_id) from t_users").toString();
        const auto found = dm->addressesOf({known.toLongLong(), 1, known.toLongLong()});
        QCOMPARE(found.keys(), QList<qint64>{known.toLongLong()});
        QVERIFY(!found.value(known.toLongLong()).address.isEmpty());
        QCOMPARE(dm->sqListPhone->lines().at(33),
                 QString(" and t1.user_id in (:user_1, :user_2, :user_3)"));
    }

    void aPasswordWithASemicolonAndLineBreakReachesTheLinkWhole() {
        auto& c = dm->SQLConnectionKvarn;
        testdb::createOperator("sqlnl", "a;\nb", "Перенос", 78);
        testdb::dropLinkIfAny("sqlnl");
        c.executeDirect("create database link sqlnl connect to sqlnl identified by \"a;\nb\" "
                        "using '127.0.0.1:55432/kvarn'");
        SqlQuery lookup(c, "lookup",
                        {"select t.name from t_operators@sqlnl t where t.login_name = 'SQLNL'"});
        lookup.open();
        QCOMPARE(lookup.asString("name"), QString("Перенос"));
        lookup.close();
        c.executeDirect("drop database link sqlnl");
        testdb::dropOperator("sqlnl");
    }

    void addressQueryReadsThroughTheFixedLink() {
        SqlQuery& q = *dm->sqListPhone;
        q.open(); // as stored: every subscriber
        QVERIFY(!q.eof());
        const QString uid =
            testdb::scalar("kvarn", "select min(user_id) from t_users "
                                    "where flat is null and house_id in "
                                    "(select house_id from o_houses where corpus = '2')")
                .toString();
        q.replaceLine(33, " and t1.user_id = " + uid);
        q.open();
        QVERIFY(q.asString("ClientInfoWithoutName").contains("/2 "));
        QVERIFY(!q.asString("ClientInfoWithoutName").contains("кв."));
        q.next();
        QVERIFY(q.eof());
    }

    void linksFailAtFirstUseWithAWrongPasswordAndWorkWithTheRightOne() {
        auto& c = dm->SQLConnectionKvarn;
        testdb::createOperator("sqltest", "right-pw", "Тестов Тест", 77);
        testdb::dropLinkIfAny("sqltest");
        const QString create = "create database link sqltest connect to sqltest identified by "
                               "\"%1\" using '127.0.0.1:55432/kvarn'";
        QCOMPARE(c.executeDirect(create.arg("wrong-pw")), 0);
        SqlQuery lookup(c, "lookup",
                        {"select t.oper_id", ", t.name as operator_name",
                         "from t_operators@sqltest t", "where t.login_name = upper('sqltest')"});
        try {
            lookup.open();
            QFAIL("a wrong password worked");
        } catch (const DbError& e) {
            QVERIFY(!e.message().contains("wrong-pw"));
        }
        QCOMPARE(c.executeDirect("drop database link sqltest"), 0);
        QVERIFY(!testdb::linkExists("sqltest"));

        c.executeDirect(create.arg("right-pw"));
        SqlQuery check(c, "check", TdmCommon::linkCheckLines());
        check.setParamText("name_link", "SQLTEST");
        check.open();
        QCOMPARE(check.asString("DB_LINK"), QString("SQLTEST"));
        lookup.open();
        QCOMPARE(lookup.asString("operator_name"), QString("Тестов Тест"));
        QCOMPARE(requireFixed4(lookup.value("OPER_ID"), "OPER_ID"), qint64(770000));
        c.executeDirect("drop database link sqltest");
        testdb::dropOperator("sqltest");
        QVERIFY_THROWS_EXCEPTION(DbError, c.executeDirect("drop database link sqltest"));
        QVERIFY_THROWS_EXCEPTION(DbError, c.executeDirect("drop database link kna"));
    }

    void severalQueriesStandOpenAtOnce() {
        SqlQuery a(dm->SQLConnectionKvarn, "a", {"select generate_series(1, 45) as n"});
        SqlQuery b(dm->SQLConnectionKvarn, "b", {"select generate_series(101, 120) as n"});
        a.open();
        b.open();
        QList<int> seenA, seenB;
        while (!a.eof()) {
            seenA << int(a.asFloat("n"));
            if (!b.eof()) {
                seenB << int(b.asFloat("n"));
                b.next();
            }
            dm->SQLConnectionKvarn.executeDirect("select 1");
            a.next();
        }
        QCOMPARE(seenA.size(), 45);
        QCOMPARE(seenA.last(), 45);
        QCOMPARE(seenB.size(), 20);
        QVERIFY(b.eof());
        for (int i = 0; i < 40; ++i) { // many cursors given up one after another
            SqlQuery c(dm->SQLConnectionKvarn, "c", {"select 1 as one"});
            c.open();
            QCOMPARE(c.asString("one"), QString("1"));
        }
        // Results are read whole: nothing of a, b or those given up is held on the server.
        QCOMPARE(testdb::serverCursors(dm->SQLConnectionKvarn), 0);
    }

    void aLinkIsCreatedWholeOrNotAtAll() {
        testdb::dropLinkIfAny("halflink");
        testdb::exec("report", "create schema halflink");
        QVERIFY_THROWS_EXCEPTION(
            DbError,
            dm->SQLConnectionKvarn.executeDirect(
                "create database link halflink connect to halflink identified by \"pw\" using "
                "'127.0.0.1:55432/kvarn'"));
        QVERIFY(!testdb::linkExists("halflink"));
        testdb::exec("report", "drop schema halflink");
        QCOMPARE(dm->SQLConnectionKvarn.executeDirect("select 1"), 1);
    }

    // A server that takes the connection and never answers: the program gives
    // up on it, and its event loop goes on meanwhile.
    void aServerThatNeverAnswersIsWaitedForInTheEventLoop() {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        const auto made =
            SqlConnection::make("silent", "QPSQL",
                                {QString("DataBase=127.0.0.1:%1/report").arg(silent.serverPort()),
                                 "User_Name=tulmina_svc", "Password=x"});
        SqlConnection& c = *made;
        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, [&] { ++ticks; });
        tick.start(100);
        try {
            c.open();
            QFAIL("connected to a server that never answered");
        } catch (const ConnectionFailure& failure) {
            QCOMPARE(failure.cause(), ConnectionFailure::Cause::Unreachable);
        }
        QVERIFY2(ticks >= 20, qPrintable(QString::number(ticks)));
        QVERIFY(!c.connected());
    }

    void releasedQueriesCannotBeUsed() {
        TdmCommon other;
        other.sqTownId.release();
        QVERIFY(other.sqTownId.released());
        QVERIFY_THROWS_EXCEPTION(ProgramError, other.sqTownId->open());
        other.sqTownId.release(); // a second release does nothing
    }
};

QTEST_GUILESS_MAIN(TestSqlLayer)
#include "test_sqllayer.moc"

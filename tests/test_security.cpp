// What someone who reads the service account out of the program can do with
// it, tried on the stand-in while an operator is signed in through the
// program: alone, the account reads no subscriber data and changes nothing;
// every secret stays unreadable, every misuse is refused, password guessing
// is slowed, the operator's password is in no view and no log, and values
// reach the server bound whatever the session's settings.
#include "app/SignIn.h"
#include "app/fmPassword.h"
#include "data/Libpq.h"
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
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {
const QString Login = QStringLiteral("secop");
// A password with what could break out of a literal (a double quote is refused
// before anything is sent).
const QString TypedPassword = QStringLiteral("Сек'рет\\pw;--1");
// Part of it that a row's text form keeps as it is (a backslash is doubled there).
const QString PasswordMark = QStringLiteral("pw;--1");

// A subscriber of the tests' own in every relation that holds subscriber
// data, and the texts by which a row of it is known.
const fixture::Settlement MarkerTown{"Тест-Маркер", "2799999900960", "2799999900000", {"421996"}};
constexpr qint64 MarkerUser = 996001;
const QStringList Markers{"Маркерова", "MRK996001", "4219960001", "Тест-Маркер"};

// One shared connection per database and TLS mode, never signed in.
QSqlDatabase asService(const QString& database = "report", const QString& sslmode = "verify-full") {
    const QString name = "svc-" + database + "-" + sslmode;
    if (!QSqlDatabase::contains(name))
        testdb::serviceAccount(name, database, sslmode);
    QSqlDatabase db = QSqlDatabase::database(name, false);
    db.open();
    return db;
}

// A connection of its own with the service account, closed at its end.
class ServiceConnection {
public:
    ServiceConnection() : name_(QStringLiteral("svc-own-%1").arg(++count_)) {
        db_ = testdb::serviceAccount(name_, "report", "verify-full");
        if (!db_.open())
            qFatal("service connection: %s", qPrintable(db_.lastError().text()));
    }
    ~ServiceConnection() {
        db_.close();
        db_ = {};
        QSqlDatabase::removeDatabase(name_);
    }
    QSqlDatabase& db() { return db_; }
    // A statement with values bound on the wire, as the program sends them.
    // The test waits for the answer blocking its thread, as nothing is to be drawn.
    pq::Result bound(const QString& sql, const QList<QVariant>& values) {
        pg_conn* c = *static_cast<pg_conn* const*>(db_.driver()->handle().constData());
        if (!pq::send(c, sql, values))
            return pq::Result();
        pq::Result answer = pq::next(c);
        while (!pq::next(c).isNull()) {
        }
        return answer;
    }
    QVariant scalar(const QString& sql) {
        QSqlQuery q(db_);
        return q.exec(sql) && q.next() ? q.value(0) : QVariant();
    }
    QString pid() { return scalar("select pg_backend_pid()").toString(); }
    // The billing check of create_link: null unless it signed the connection in.
    QVariant createLink(const QString& user, const QString& password) {
        const pq::Result r = bound("select tulmina_link.create_link($1, $1, $2)", {user, password});
        return r.ok() ? r.value(0, 0) : QVariant(QStringLiteral("error: ") + r.errorMessage());
    }
    bool signedIn() { return scalar("select tulmina_auth.signed_in()").toBool(); }

private:
    static inline std::atomic<int> count_ = 0;
    QString name_;
    QSqlDatabase db_;
};

// Everything the service account can read in one relation, as text; or the
// error that refused it.
QString everythingIn(QSqlDatabase& db, const QString& relation, QSqlError* refusal = nullptr) {
    QSqlQuery q(db);
    if (!q.exec("select string_agg(t::text, ' ') from " + relation + " t")) {
        if (refusal)
            *refusal = q.lastError();
        return {};
    }
    return q.next() ? q.value(0).toString() : QString();
}

// Every relation the account may select from, by qualified name.
QStringList readableRelations(QSqlDatabase& db) {
    QSqlQuery relations(db);
    relations.exec("select format('%I.%I', n.nspname, c.relname) from pg_class c "
                   "join pg_namespace n on n.oid = c.relnamespace "
                   "where c.relkind in ('r', 'v', 'm', 'f', 'p') "
                   "and has_table_privilege(c.oid, 'select') order by 1");
    QStringList names;
    while (relations.next())
        names << relations.value(0).toString();
    return names;
}

// The server's log from the moment this was made.
class ServerLog {
public:
    ServerLog()
        : path_(testdb::scalar("report", "select setting || '/../server.log' from pg_settings "
                                         "where name = 'data_directory'")
                    .toString()),
          from_(size()) {}
    QString written() const {
        return testdb::scalar("report", QString("select pg_read_file('%1', %2, %3)")
                                            .arg(path_)
                                            .arg(from_)
                                            .arg(size() - from_))
            .toString();
    }

private:
    qint64 size() const {
        return testdb::scalar("report", "select (pg_stat_file('" + path_ + "')).size").toLongLong();
    }
    QString path_;
    qint64 from_;
};

// Audit rows of the tests' operator, as "event|list kind|settlement|row count".
QStringList auditOf(const QString& operatorName, const QString& since) {
    return testdb::column("report",
                          QString("select concat_ws('|', event, list_kind, settlement, row_count) "
                                  "from tulmina_audit.events where operator = '%1' and at >= '%2' "
                                  "order by at")
                              .arg(operatorName, since));
}
QString serverNow() {
    return testdb::scalar("report", "select clock_timestamp()::text").toString();
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
    // The program's own read of one marker value of a relation, the value
    // bound as the program binds every value.
    int signedInCount(const QString& relation, const QString& column, const QString& value) {
        SqlQuery q(signedIn->SQLConnectionKvarn, "count",
                   {"select count(*) as n from " + relation + " where " + column + " = :v"});
        q.setParam("v", value);
        q.openWhole();
        return int(q.asFloat("n"));
    }
    // Signs in, or is refused, through the program's dialog; the message line.
    QString typedSignIn(TdmCommon& dm, const QString& password) {
        TPasswordDlg dialog;
        ModalDriver driver;
        driver.then(fixture::typeSignIn(Login, password));
        driver.then([](QWidget* w) { qobject_cast<TPasswordDlg*>(w)->reject(); });
        runSignInLoop(dialog, dm);
        return signInState().SignInPending ? dialog.Label3->text() : QString("signed in");
    }

private slots:
    void initTestCase() {
        testdb::createOperator(Login, TypedPassword, "Защищённая Вера", 61);
        testdb::dropLinkIfAny(Login);
        fixture::removeTestSettlements();
        fixture::addSettlement(MarkerTown);
        fixture::removeDebtors(MarkerTown);
        fixture::addDebtors(MarkerTown, {{"4219960001", -77, MarkerUser}});
        testdb::exec("kvarn", QString("delete from t_users where user_id = %1").arg(MarkerUser));
        testdb::exec("kvarn",
                     QString("insert into t_users (user_id, account, name, flat, house_id, "
                             "phone) select %1, 'MRK996001', 'Маркерова Зоя', '9', "
                             "min(house_id), '4219960001' from o_houses")
                         .arg(MarkerUser));
        signIn(TypedPassword);
    }
    void cleanupTestCase() {
        signedIn.reset();
        testdb::dropLinkIfAny(Login);
        testdb::dropOperator(Login);
        fixture::removeDebtors(MarkerTown);
        fixture::removeTestSettlements();
        testdb::exec("kvarn", QString("delete from t_users where user_id = %1").arg(MarkerUser));
        testdb::forgetFailedSignIns();
    }

    // Beside the program's signed-in connection, a connection of the service
    // account alone reads every relation it may select from whole, and finds
    // no subscriber's row: each relation that holds them refuses it. So after
    // a refused password, and with the record an ended connection left under
    // the process id the system handed out again.
    void aConnectionWithoutSignInReadsNoSubscriberRow_data() {
        QTest::addColumn<QString>("before");
        QTest::newRow("fresh") << "";
        QTest::newRow("after a refused password") << "refused";
        QTest::newRow("under the process id of an ended sign-in") << "reused pid";
    }
    void aConnectionWithoutSignInReadsNoSubscriberRow() {
        QFETCH(QString, before);
        // What the program reads once signed in holds the markers.
        QCOMPARE(signedInCount("lst_deb_always", "phone", "4219960001"), 1);
        QCOMPARE(signedInCount("t_users@kna", "name", "Маркерова Зоя"), 1);
        QCOMPARE(signedInCount("atstown", "name", "Тест-Маркер"), 1);
        QString endedPid, endedStart;
        if (before == "reused pid") {
            ServiceConnection ended;
            QVERIFY(!ended.createLink(Login, TypedPassword).isNull());
            QVERIFY(ended.signedIn());
            endedPid = ended.pid();
            endedStart = ended
                             .scalar("select backend_start::text from pg_stat_activity "
                                     "where pid = pg_backend_pid()")
                             .toString();
        }
        ServiceConnection bare;
        if (before == "refused")
            QVERIFY(bare.createLink(Login, "wrong-guess").isNull());
        if (before == "reused pid") // the system hands the ended one's process id out again
            testdb::exec("report", QString("update tulmina_auth.holders set pid = %1 where pid = "
                                           "%2 and backend_start = '%3'")
                                       .arg(bare.pid(), endedPid, endedStart));
        QCOMPARE(testdb::scalar("report", "select count(*) from tulmina_auth.holders where pid = " +
                                              bare.pid())
                     .toInt(),
                 before == "reused pid" ? 1 : 0);
        QVERIFY(!bare.signedIn());
        QStringList refused;
        for (const QString& relation : readableRelations(bare.db())) {
            QSqlError refusal;
            const QString text = everythingIn(bare.db(), relation, &refusal);
            for (const QString& marker : Markers)
                QVERIFY2(!text.contains(marker), qPrintable(relation + ": " + marker));
            if (refusal.isValid()) {
                QVERIFY2(refusal.nativeErrorCode() == "42501",
                         qPrintable(relation + ": " + refusal.databaseText()));
                refused << relation;
            }
        }
        for (const char* r : {"public.lst_deb_always", "public.atstown", "kna.t_users",
                              "kna.o_houses", "kna.t_streets_ref", "kna.t_street_type",
                              "kna.t_town", "kna.t_town_type", "secop.t_operators"})
            QVERIFY2(refused.contains(r), r);
        QCOMPARE(bare.scalar("select count(*) from pg_stats where tablename in "
                             "('lst_deb_always', 'atstown', 't_users')")
                     .toInt(),
                 0);
    }

    // A link belongs to the connections signed in through it: a second
    // workstation signs in under the same name and both read through it, a
    // wrong password under that name changes nothing for them, another
    // connection cannot drop it, and each closes for itself.
    void linksBelongToTheirConnections() {
        TdmCommon second;
        QCOMPARE(typedSignIn(second, TypedPassword), QString("signed in"));
        TdmCommon mistyped;
        QCOMPARE(typedSignIn(mistyped, "Сек'рет"), QString("Попробуйте еще раз"));
        QVERIFY(!fixture::signedInOnServer(mistyped));
        ServiceConnection other;
        QVERIFY(!other.bound("select tulmina_link.drop_link($1)", {Login}).ok());
        for (TdmCommon* dm : {signedIn.get(), &second}) {
            QVERIFY(fixture::signedInOnServer(*dm));
            SqlQuery q(dm->SQLConnectionKvarn, "lookup",
                       {"select t.name from t_operators@secop t where t.login_name = 'SECOP'"});
            q.openWhole();
            QCOMPARE(q.asString("name"), QString("Защищённая Вера"));
        }
        second.SQLConnectionKvarn.executeDirect("drop database link " + Login);
        QVERIFY(!fixture::signedInOnServer(second));
        QVERIFY(fixture::signedInOnServer(*signedIn));
        QVERIFY(testdb::linkExists(Login));
    }

    // Wrong passwords are counted by the server: five in a minute for one
    // operator name, or from one client address, and the next check is not
    // made, the right password's neither; a right password after a mistyped
    // one signs in at once.
    void quickWrongPasswordsAreLimited_data() {
        QTest::addColumn<QStringList>("wrongNames");
        QTest::addColumn<bool>("rightSignsIn");
        QTest::newRow("one mistyped") << QStringList{Login} << true;
        QTest::newRow("five for one name") << QStringList(5, Login) << false;
        QTest::newRow("five from one address")
            << QStringList{"guess1", "guess2", "guess3", "guess4", "guess5"} << false;
    }
    void quickWrongPasswordsAreLimited() {
        QFETCH(QStringList, wrongNames);
        QFETCH(bool, rightSignsIn);
        testdb::forgetFailedSignIns();
        const auto forget = qScopeGuard([] { testdb::forgetFailedSignIns(); });
        const QString since = serverNow();
        ServiceConnection guesser;
        for (const QString& name : wrongNames)
            QVERIFY(guesser.createLink(name, "wrong-guess").isNull());
        ServiceConnection user;
        const QVariant token = user.createLink(Login, TypedPassword);
        QCOMPARE(!token.isNull(), rightSignsIn);
        QCOMPARE(user.signedIn(), rightSignsIn);
        QStringList events;
        for (qsizetype i = 0; i < wrongNames.size(); ++i)
            events << "check"
                   << "refused";
        events << (rightSignsIn ? QStringList{"check", "sign-in"} : QStringList{"limited"});
        QCOMPARE(testdb::column("report", "select event from tulmina_audit.events where at >= '" +
                                              since + "' order by at"),
                 events);
        if (rightSignsIn)
            return;
        // A minute on, the right password signs in again.
        testdb::exec("report", "update tulmina_auth.failures set at = at - interval '61 seconds'");
        QVERIFY(!user.createLink(Login, TypedPassword).isNull());
        QVERIFY(user.signedIn());
    }

    // Every check counts, and leaves its row in the audit trail, before its
    // answer is known, whatever the caller does around it: its transaction
    // rolled back, or a statement timeout shorter than the refusal's pause.
    // Five are checked a minute; then not even the right password is.
    void aCheckCountsWhateverTheCallerDoesAroundIt_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::newRow("rolled back") << "begin"
                                     << "rollback";
        QTest::newRow("statement timeout") << "set statement_timeout = '150ms'"
                                           << "reset statement_timeout";
    }
    void aCheckCountsWhateverTheCallerDoesAroundIt() {
        QFETCH(QString, before);
        QFETCH(QString, after);
        testdb::forgetFailedSignIns();
        const auto forget = qScopeGuard([] { testdb::forgetFailedSignIns(); });
        const QString since = serverNow();
        ServiceConnection guesser;
        for (int i = 0; i < 8; ++i) {
            QVERIFY(QSqlQuery(guesser.db()).exec(before));
            guesser.createLink(Login, "wrong-guess-" + QString::number(i));
            QVERIFY(QSqlQuery(guesser.db()).exec(after));
        }
        const auto count = [&](const QString& of) { return testdb::scalar("report", of).toInt(); };
        QCOMPARE(
            count("select count(*) from tulmina_audit.events where event = 'check' and at >= '" +
                  since + "'"),
            5);
        QCOMPARE(
            count("select count(*) from tulmina_auth.failures where operator = '" + Login + "'"),
            5);
        ServiceConnection user;
        QVERIFY(user.createLink(Login, TypedPassword).isNull());
        QVERIFY(!user.signedIn());
    }

    // A check is the billing server's word on that name and that password:
    // in the transaction of a right one, a second creation of the link under
    // another billing name with a wrong password is refused, and nobody is
    // signed in under that name.
    void aCheckNeverReusesAnEarlierConnection() {
        testdb::forgetFailedSignIns();
        testdb::createOperator("secreuse", "reuse-pw1", "Повторов", 64);
        testdb::createOperator("secvictim", "victim-pw1", "Жертвова", 63);
        const auto cleanup = qScopeGuard([] {
            testdb::forgetFailedSignIns();
            testdb::dropLinkIfAny("secreuse");
            testdb::dropOperator("secreuse");
            testdb::dropOperator("secvictim");
        });
        ServiceConnection misuser;
        QVERIFY(QSqlQuery(misuser.db()).exec("begin"));
        QVERIFY(!misuser.createLink("secreuse", "reuse-pw1").isNull());
        const pq::Result second = misuser.bound("select tulmina_link.create_link($1, $2, $3)",
                                                {"secreuse", "secvictim", "wrong-pw"});
        QVERIFY2(!second.ok() || second.value(0, 0).isNull(), "signed in with a wrong password");
        QSqlQuery(misuser.db()).exec("commit");
        QCOMPARE(
            testdb::scalar("report",
                           "select count(*) from tulmina_auth.holders where operator = 'secvictim'")
                .toInt(),
            0);
    }

    // A connection that another ended loses nothing: no other connection can
    // drop its link, and its successor resumes with the token. A link whose
    // connections all ended more than a day ago goes with the next sign-in.
    void aTerminatedConnectionsLinkWaitsForIt() {
        testdb::forgetFailedSignIns();
        testdb::createOperator("secended", "ended-pw1", "Прерванов", 65);
        const auto cleanup = qScopeGuard([] {
            testdb::dropLinkIfAny("secended");
            testdb::dropOperator("secended");
        });
        const auto endedSignIn = [] {
            ServiceConnection victim;
            const QString token = victim.createLink("secended", "ended-pw1").toString();
            testdb::exec("report", "select pg_terminate_backend(" + victim.pid() + ", 5000)");
            return token;
        };
        const QString token = endedSignIn();
        QVERIFY2(!token.isEmpty() && !token.startsWith("error"), qPrintable(token));
        ServiceConnection misuser;
        const pq::Result dropped = misuser.bound("select tulmina_link.drop_link($1)", {"secended"});
        QVERIFY(!dropped.ok());
        QCOMPARE(dropped.sqlState(), QString("42501"));
        QVERIFY(testdb::linkExists("secended"));
        {
            ServiceConnection successor;
            QVERIFY(successor.bound("select tulmina_link.resume_link($1, $2)", {"secended", token})
                        .ok());
            QVERIFY(successor.signedIn());
            testdb::exec("report", "select pg_terminate_backend(" + successor.pid() + ", 5000)");
        }
        testdb::exec("report", "update tulmina_auth.holders set signed_at = now() - interval "
                               "'2 days' where link = 'secended'");
        ServiceConnection next;
        QVERIFY(!next.createLink(Login, TypedPassword).isNull());
        QVERIFY(!testdb::linkExists("secended"));
        QVERIFY(next.bound("select tulmina_link.drop_link($1)", {Login}).ok());
        QVERIFY(testdb::linkExists(Login)); // the suite's own sign-in holds it still
    }

    // Defaults the account sets for itself (a PostgreSQL rule) break no
    // workstation: they take for a connection of its own, and the program's
    // connection, which fixes every setting it depends on, signs in, reads
    // through the compatibility objects and records snapshot rows in a
    // transaction as ever.
    void defaultsTheAccountSetsBreakNoWorkstation_data() {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("taken");
        QTest::newRow("search path") << "search_path = public"
                                     << "public";
        QTest::newRow("read only") << "default_transaction_read_only = on"
                                   << "on";
        QTest::newRow("statement timeout") << "statement_timeout = 1"
                                           << "1ms";
        QTest::newRow("idle in a transaction") << "idle_in_transaction_session_timeout = 1"
                                               << "1ms";
        QTest::newRow("a library to load") << "local_preload_libraries = 'tulmina_missing'"
                                           << "refused";
    }
    void defaultsTheAccountSetsBreakNoWorkstation() {
        QFETCH(QString, setting);
        QFETCH(QString, taken);
        const QString name = setting.section(' ', 0, 0);
        // The install's own default of that setting, if any, is put back.
        const QString installed =
            testdb::scalar("report", "select option_value from pg_db_role_setting, "
                                     "pg_options_to_table(setconfig) where setdatabase = 0 and "
                                     "setrole = 'tulmina_svc'::regrole and option_name = '" +
                                         name + "'")
                .toString();
        const auto restore = qScopeGuard([&] {
            testdb::exec("report", "alter role tulmina_svc " +
                                       (installed.isEmpty() ? "reset " + name
                                                            : "set " + name + " = " + installed));
            testdb::exec("report", "delete from pays_debs_tmp_r where user_id = 996099");
        });
        QSqlQuery misuse(asService());
        QVERIFY2(misuse.exec("alter role tulmina_svc set " + setting),
                 qPrintable(misuse.lastError().text()));
        {
            QSqlDatabase raw = testdb::serviceAccount("svc-defaults", "report", "verify-full");
            QString seen = "refused";
            if (raw.open()) {
                QSqlQuery show(raw);
                seen = show.exec("show " + name) && show.next() ? show.value(0).toString() : "";
            }
            raw.close();
            raw = {};
            QSqlDatabase::removeDatabase("svc-defaults");
            QCOMPARE(seen, taken);
        }
        TdmCommon dm;
        QCOMPARE(typedSignIn(dm, TypedPassword), QString("signed in"));
        SqlConnection& c = dm.SQLConnectionKvarn;
        c.beginTransaction();
        dm.insertSnapshotRows(SnapshotTableRegional, {996099});
        QTest::qWait(50);
        c.commit();
        QCOMPARE(testdb::snapshotUsers("pays_debs_tmp_r", 996099, 996099), QStringList{"996099"});
        c.executeDirect("drop database link " + Login);
    }

    // Only the billing server's refusal of a password counts: a billing server
    // that cannot be reached is told as such, with an audit row of its own,
    // and six such tries from one address hold back nobody's right password.
    void anUnreachableBillingServerCountsNothing() {
        testdb::forgetFailedSignIns();
        const QString since = serverNow();
        testdb::exec("report", "alter server kna options (set port '1')");
        const auto restore = qScopeGuard([] {
            testdb::exec("report", "alter server kna options (set port '55432')");
            testdb::dropLinkIfAny("secunreach");
            testdb::forgetFailedSignIns();
        });
        ServiceConnection user;
        for (int i = 0; i < 6; ++i) {
            const pq::Result r =
                user.bound("select tulmina_link.create_link($1, $1, $2)", {"secunreach", "any-pw"});
            QVERIFY(!r.ok());
            QCOMPARE(r.sqlState(), QString("08001"));
            QVERIFY2(r.errorMessage().startsWith("сервер биллинга недоступен"),
                     qPrintable(r.errorMessage()));
        }
        QCOMPARE(testdb::scalar("report", "select count(*) from tulmina_auth.failures").toInt(), 0);
        QStringList events;
        for (int i = 0; i < 6; ++i)
            events << "check"
                   << "billing unavailable";
        QCOMPARE(auditOf("secunreach", since), events);
        ServiceConnection other; // from the same address, through a link made before
        QVERIFY(!other.createLink(Login, TypedPassword).isNull());
        QVERIFY(other.bound("select tulmina_link.drop_link($1)", {Login}).ok());
    }

    // One operator at several workstations at once, signing in, looking up
    // through the link and closing in any interleaving: no error, every close
    // ends its own sign-in, sign-ins and sign-outs pair exactly, and nothing
    // is left behind.
    void oneOperatorAtSeveralWorkstationsAtOnce() {
        testdb::forgetFailedSignIns();
        testdb::createOperator("secmany", "many-pw1", "Многоместова", 66);
        const auto cleanup = qScopeGuard([] {
            testdb::dropLinkIfAny("secmany");
            testdb::dropOperator("secmany");
            testdb::forgetFailedSignIns();
        });
        const QString since = serverNow();
        constexpr int Workstations = 6;
        constexpr int Rounds = 12;
        std::mutex guard;
        QStringList errors;
        std::vector<std::thread> workstations;
        for (int w = 0; w < Workstations; ++w)
            workstations.emplace_back([&] {
                ServiceConnection c;
                for (int r = 0; r < Rounds; ++r) {
                    const pq::Result made = c.bound("select tulmina_link.create_link($1, $1, $2)",
                                                    {"secmany", "many-pw1"});
                    const pq::Result read = c.bound(
                        "select name from secmany.t_operators where login_name = 'SECMANY'", {});
                    const pq::Result closed =
                        c.bound("select tulmina_link.drop_link($1)", {"secmany"});
                    const std::lock_guard lock(guard);
                    for (const pq::Result* step : {&made, &read, &closed})
                        if (!step->ok())
                            errors << step->errorMessage();
                    if (made.ok() && made.value(0, 0).isNull())
                        errors << "not signed in";
                }
            });
        for (std::thread& w : workstations)
            w.join();
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(" | ")));
        const auto events = [&](const QString& event) {
            return testdb::scalar("report", "select count(*) from tulmina_audit.events where "
                                            "operator = 'secmany' and event = '" +
                                                event + "' and at >= '" + since + "'")
                .toInt();
        };
        QCOMPARE(events("sign-in"), Workstations * Rounds);
        QCOMPARE(events("sign-out"), Workstations * Rounds);
        QVERIFY(!testdb::linkExists("secmany"));
        QCOMPARE(testdb::scalar("report",
                                "select count(*) from tulmina_auth.holders where link = 'secmany'")
                     .toInt(),
                 0);
    }

    // Nothing the account can take holds up a sign-in: an advisory lock on
    // any key, or a lock on a table, leaves the right password's check free.
    void noLockTheAccountTakesHoldsUpASignIn_data() {
        QTest::addColumn<QString>("lock");
        QTest::addColumn<bool>("taken");
        QTest::newRow("advisory lock on the name's key")
            << "select pg_advisory_lock(hashtext('tulmina_link.create_link'), hashtext('" + Login +
                   "'))"
            << true;
        QTest::newRow("the turns of the names") << "lock table tulmina_auth.name_turns" << false;
        QTest::newRow("a name's turn") << "select * from tulmina_auth.name_turns "
                                          "where operator = '" +
                                              Login + "' for update"
                                       << false;
    }
    void noLockTheAccountTakesHoldsUpASignIn() {
        QFETCH(QString, lock);
        QFETCH(bool, taken);
        testdb::forgetFailedSignIns();
        ServiceConnection misuser;
        QVERIFY(QSqlQuery(misuser.db()).exec("begin")); // held to its end
        QCOMPARE(QSqlQuery(misuser.db()).exec(lock), taken);
        ServiceConnection user;
        QVERIFY(user.bound("set statement_timeout = '3s'", {}).ok());
        const QVariant token = user.createLink(Login, TypedPassword);
        QVERIFY2(!token.toString().startsWith("error"), qPrintable(token.toString()));
        QVERIFY(user.signedIn());
        QSqlQuery(misuser.db()).exec("rollback");
        QVERIFY(user.bound("select tulmina_link.drop_link($1)", {Login}).ok());
    }

    // Sign-ins and runs are in the audit trail, which the account cannot read.
    void theAuditTrailHoldsSignInsAndRuns() {
        const QString since = serverNow();
        TdmCommon dm;
        QCOMPARE(typedSignIn(dm, TypedPassword), QString("signed in"));
        QTemporaryDir work;
        fixture::prepareWorkFolder(work.path());
        QDir::setCurrent(work.path());
        RecordingObserver observer;
        RunParameters p;
        p.settlement = {MarkerTown.name, MarkerTown.townId, MarkerTown.territory, false};
        p.exchangeCount = 1;
        p.listKind = CallRound;
        p.listKindText = "Тулмин";
        const RunOutcome run = GenerationRun(dm, observer).run(p, QDir::currentPath(), nullptr);
        QDir::setCurrent("/");
        QCOMPARE(run.debtorCount, 1);
        dm.SQLConnectionKvarn.executeDirect("drop database link " + Login);
        QCOMPARE(auditOf(Login, since),
                 QStringList({"check", "sign-in", "run|Тулмин|Тест-Маркер|1", "sign-out"}));
        QCOMPARE(testdb::scalar("report", "select host(client_addr) from tulmina_audit.events "
                                          "where at >= '" +
                                              since + "' and event = 'sign-in'")
                     .toString(),
                 QString("127.0.0.1"));
        QSqlQuery read(asService());
        QVERIFY(!read.exec("select * from tulmina_audit.events"));
        QCOMPARE(read.lastError().nativeErrorCode(), QString("42501"));
    }

    // The account may set its own defaults of user settings (a PostgreSQL
    // rule), the logging of failing statements' values among them. Through
    // the program's connection a typed password stays out of the log all the
    // same, also in a statement that fails; without the program's own
    // setting, such a value is written there.
    void aDefaultTheAccountSetsLogsNoPassword() {
        testdb::exec("report", "create schema halflink");
        testdb::createOperator("halflink", "half-pw1", "Половинкин", 62);
        const auto restore = qScopeGuard([] {
            testdb::exec("report",
                         "alter role tulmina_svc set log_parameter_max_length_on_error = 0");
            testdb::exec("report", "drop schema halflink");
            testdb::dropOperator("halflink");
        });
        QSqlQuery misuse(asService());
        QVERIFY2(misuse.exec("alter role tulmina_svc set log_parameter_max_length_on_error = -1"),
                 qPrintable(misuse.lastError().text()));
        const ServerLog log;
        {
            ServiceConnection raw; // takes the account's new default
            QVERIFY(!raw.bound("select tulmina_link.create_link($1, $1, $2)",
                               {"halflink", "control-mark-1"})
                         .ok());
        }
        TdmCommon dm;
        TPasswordDlg dialog;
        ModalDriver driver;
        driver.then(fixture::typeSignIn("halflink", "typed-mark-2"));
        driver.then(fixture::typeSignIn(Login, "typed-mark-3"));
        driver.then([](QWidget* w) { qobject_cast<TPasswordDlg*>(w)->reject(); });
        testdb::forgetFailedSignIns();
        runSignInLoop(dialog, dm);
        QCOMPARE(signInState().SignInAttempts, 3);
        QTest::qWait(200); // the server writes its log
        const QString written = log.written();
        QVERIFY2(written.contains("control-mark-1"), qPrintable(written));
        QVERIFY2(written.contains("уже есть"), qPrintable(written)); // the program's create failed
        QVERIFY(!written.contains("typed-mark"));
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
            "set log_statement = 'none'",
            // the record of signed-in connections, the limits and the audit trail
            "select * from tulmina_auth.holders", "delete from tulmina_auth.failures",
            "insert into tulmina_auth.holders values "
            "('secop', pg_backend_pid(), now(), 'x', null, 'x', now())",
            "select * from tulmina_audit.events", "delete from tulmina_audit.events",
            "select tulmina_audit.record_run('Анализ', 'x', '1', 1)",
            "select tulmina_link.resume_link('secop', 'a guessed token')",
            "select tulmina_link.operators_of('secop')", "select * from secop.t_operators",
            "select tulmina_link.drop_link('secop')",
            "select tulmina_link.create_link('tulmina_auth', 'x', 'y')",
            "select tulmina_link.prepare_link('secop', 'secop', 'x')",
            // subscriber data, by statements that would let a row through before
            // the check or print it in an error, and snapshot rows
            "select count(*) from kna.t_users", "select * from kna.t_users where name::int = 1",
            "select * from (values (1)) v left join kna.t_users t on t.name::int = v.column1",
            "select (select max(name::int) from kna.t_users)",
            "with u as materialized (select * from kna.t_users) select * from u "
            "where name::int = 1",
            "select 1 from kna.t_users u join kna.o_houses h using (house_id) "
            "where u.name::int = 1",
            "select * from kna.t_users u, lateral (select u.name::int) x",
            "select phone::int from lst_deb_always",
            "select * from lst_deb_always where phone::int = 1 or cur_deb > 0",
            "select name::int from atstown union select 1",
            "insert into pays_debs_tmp values (1, current_date)",
            "insert into pays_debs_tmp_r select 2, current_date",
            // a report's record, and whether one was recorded, on no sign-in
            "select tulmina_audit.record_run('Анализ', 'x', '1', 1, 'x', true)",
            "select tulmina_audit.report_recorded('x')",
            // storage outside every table, and temporary files without bound
            "select lo_create(0)", "select lo_creat(-1)", "select lo_from_bytea(0, 'x')",
            "select lo_import('/etc/hostname')", "set temp_file_limit = -1",
            "alter role tulmina_svc set temp_file_limit = -1"};
        for (const QString& m : misuses)
            QTest::newRow(qPrintable(m.left(60))) << m;
    }
    void misusesAreRefused() {
        QFETCH(QString, statement);
        QSqlDatabase db = asService();
        QSqlQuery q(db);
        QVERIFY2(!q.exec(statement), "the server took it");
        // Refused for what it tried (a privilege, the functions' own checks of a
        // name, a taken name, a sign-in, a view nothing writes through), not for
        // being mistyped, naming nothing or failing on a row it read.
        const QString state = q.lastError().nativeErrorCode();
        QVERIFY2(QStringList({"42501", "42602", "42710", "28000", "55000"}).contains(state),
                 qPrintable(state + " " + q.lastError().databaseText()));
    }

    // Other databases and a connection without TLS are closed to the account.
    void onlyTheReportingDatabaseOverTls() {
        QVERIFY(!asService("kvarn").isOpen());
        QVERIFY(!asService("postgres").isOpen());
        QVERIFY(!asService("template1").isOpen());
        QVERIFY(!asService("report", "disable").isOpen());
        QVERIFY(asService("report").isOpen());
    }

    // Even with every statement logged, the sign-in leaves no password in the
    // server's log.
    void thePasswordIsNotLogged() {
        testdb::exec("report", "alter system set log_statement = 'all'");
        testdb::exec("report", "select pg_reload_conf()");
        const auto quiet = qScopeGuard([] {
            testdb::exec("report", "alter system reset log_statement");
            testdb::exec("report", "select pg_reload_conf()");
        });
        QTest::qWait(200); // the server rereads its settings
        const ServerLog log;
        signedIn->SQLConnectionKvarn.executeDirect("drop database link " + Login);
        signIn(TypedPassword);
        const QString written = log.written();
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
        const RunOutcome run =
            GenerationRun(*signedIn, observer).run(p, QDir::currentPath(), &sheet);
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

// Benchmarks of the program against the stand-in and a headless LibreOffice.
//   tulmina_bench [all|launch|signin|settlement|guessing|callround N|analysis N [block]|sample]
// "all" (the default) measures everything and ends with the lines
// "total <seconds> s" (the 10,000-debtor "Анализ" run) and "ratio <program/floor>".
// "sample" times an "Анализ" of the largest settlement of the loaded sample data.
// "guessing" tries wrong passwords as someone holding the service account would.
#include "app/SignIn.h"
#include "app/fmPassword.h"
#include "data/SqlQuery.h"
#include "data/fmCommonDM.h"
#include "lists/GenerationRun.h"
#include "lists/RunObserver.h"
#include "platform/LibreOfficeSpreadsheet.h"
#include "tests/support/ForwardingSpreadsheet.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/OfficeReader.h"
#include "tests/support/TestDb.h"
#include "tests/support/WindowFixture.h"
#include "ui/TulminaApplication.h"
#include "ui/frmMain.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <map>
#include <sys/resource.h>

namespace {

const QString Login = QStringLiteral("benchop");
const fixture::Settlement Bench = [] {
    fixture::Settlement s{"Тест-Бенч", "2799999900900", "2799999900000", {}};
    for (int k = 1; k <= 30; ++k)
        s.codes << QString("4214%1").arg(k, 2, 10, QChar('0'));
    return s;
}();
// Far from the sample data's user ids (4000000001 onwards).
constexpr qint64 FirstUser = 9000000000;

double median(QList<double> v) {
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}
double peakMb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024.0;
}
double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
double secondsSince(const QElapsedTimer& t) {
    return t.nsecsElapsed() / 1e9;
}

void removeBenchData() {
    const QString range =
        QString(" where user_id between %1 and %2").arg(FirstUser).arg(FirstUser + 10000000);
    testdb::exec("report", "delete from lst_deb_always" + range);
    testdb::exec("report", "delete from pays_debs_tmp_r" + range);
    testdb::exec("kvarn", "delete from t_users" + range);
    fixture::removeTestSettlements();
}

void makeBenchData(int debtors) {
    removeBenchData();
    fixture::addSettlement(Bench);
    testdb::exec(
        "report",
        QString("insert into lst_deb_always select "
                "'4214' || lpad((1 + i % 30)::text, 2, '0') || lpad((i % 10000)::text, 4, '0'), "
                "-(i % 5000) - 1.5, %1 + i, %2, %3, 'N', date '2001-01-01' "
                "from generate_series(1, %4) i")
            .arg(FirstUser)
            .arg(Bench.townId, Bench.territory)
            .arg(debtors));
    testdb::exec("kvarn", QString("with h as (select array_agg(house_id) ids from o_houses) "
                                  "insert into t_users (user_id, account, name, flat, house_id) "
                                  "select %1 + i, lpad(i::text, 6, '0'), 'Бенчев Абонент ' || i, "
                                  "(i % 120)::text, h.ids[1 + i % cardinality(h.ids)] "
                                  "from generate_series(1, %2) i, h")
                              .arg(FirstUser)
                              .arg(debtors));
    testdb::exec("report", "analyze lst_deb_always");
    testdb::exec("report", "analyze tulmina_kna.t_users");
}

office::Options officeOptions(const QTemporaryDir& profile) {
    return privateOffice("bench", profile.path());
}

// Forwards every operation to the office and adds up the time each kind takes.
class TimedSpreadsheet : public ForwardingSpreadsheet {
public:
    using ForwardingSpreadsheet::ForwardingSpreadsheet;
    std::map<QString, double> seconds;

protected:
    void around(const char* operation, const std::function<void()>& call) override {
        QElapsedTimer t;
        t.start();
        call();
        seconds[QString::fromLatin1(operation)] += t.nsecsElapsed() / 1e9;
    }
};

// What the window would show; the benchmark looks at nothing of it.
class QuietObserver : public RunObserver {
    void busy() override {}
    void progressStarted(int) override {}
    void progress(int) override {}
    void progressFinished() override {}
};

// The generation engine on a settlement, signed in, every exchange taken in:
// the run as the window hands it over, without the window.
struct Session {
    QTemporaryDir work;
    std::unique_ptr<TdmCommon> dm;
    QuietObserver observer;
    std::unique_ptr<GenerationRun> engine;
    SettlementTown town;
    int exchanges = 0;
    RunOutcome outcome;

    explicit Session(const QString& settlement, RunLimits limits = {}) {
        fixture::prepareWorkFolder(work.path());
        QDir::setCurrent(work.path());
        dm = fixture::signedInDataModule(Login);
        engine = std::make_unique<GenerationRun>(*dm, observer, limits);
        const QString quoted = "'" + QString(settlement).replace("'", "''") + "'";
        town = {settlement,
                testdb::scalar("report", "select min(town_id) from atstown where name = " + quoted)
                    .toString(),
                testdb::scalar("report",
                               "select min(id_territory) from atstown where name = " + quoted),
                false};
        exchanges =
            testdb::scalar("report", "select count(*) from atstown where name = " + quoted).toInt();
    }
    ~Session() {
        engine.reset();
        dm.reset();
        QDir::setCurrent("/");
    }
    // A run of the list kind; timed until it has saved and shown its report.
    double press(int listKind, Spreadsheet* spreadsheet) {
        RunParameters p;
        p.clientKindText = "Квартирники";
        p.settlement = town;
        p.exchangeCount = exchanges;
        p.listKind = ListKind(listKind);
        p.listKindText = listKind == CallRound ? "Тулмин" : "Анализ";
        QElapsedTimer t;
        t.start();
        outcome = engine->run(p, work.path(), spreadsheet);
        return secondsSince(t);
    }
};

double benchLaunch() {
    QList<double> times;
    for (int i = 0; i < 10; ++i) {
        QTemporaryDir runtime;
        QProcess probe;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        probe.setProcessEnvironment(env);
        QElapsedTimer t;
        t.start();
        probe.start(TULMINA_LAUNCH_PROBE, {});
        probe.waitForReadyRead(10000);
        times << secondsSince(t);
        probe.waitForFinished(5000);
    }
    const double m = median(times);
    std::printf("launch to visible sign-in dialog: median of 10 %.3f s (target 0.5 s)\n", m);
    return m;
}

// The window's choice of a settlement: a signed-in main window, the user's pick.
void benchSettlement() {
    makeBenchData(10);
    auto dm = fixture::signedInDataModule(Login);
    ModalDriver driver;
    auto window = fixture::shownWindow(*dm, Bench.name, driver);
    QList<double> times;
    for (int i = 0; i < 10; ++i) {
        QElapsedTimer t;
        t.start();
        fixture::pickSettlement(*window, Bench.name);
        times << secondsSince(t);
    }
    std::printf("choosing a settlement with 30 exchanges: median of 10 %.1f ms (target 100 ms)\n",
                median(times) * 1000);
}

// A sign-in as the user makes it, over the TLS connection: the connection
// opened, the stale link checked, the link made, the operator looked up.
void benchSignIn() {
    QList<double> times;
    for (int i = 0; i < 10; ++i) {
        TdmCommon dm;
        QElapsedTimer t;
        t.start();
        const bool signedIn = fixture::signInThroughDialog(dm, "ivanova", "demo2008");
        times << secondsSince(t);
        if (!signedIn)
            std::printf("sign-in failed\n");
        dm.SQLConnectionKvarn.executeDirect("drop database link ivanova");
    }
    std::printf("sign-in, OK to signed in: median of 10 %.3f s\n", median(times));
}

// Password guessing with the service account alone: one connection of its own
// (TLS, its certificate not held against the host name), the sign-in's
// statements with a wrong password each time: the link made, the operator
// looked up through it, the link dropped. Statements may fail; each round is
// one guess.
void benchGuessing() {
    constexpr int Guesses = 12;
    const auto forget = [] {
        try {
            testdb::forgetFailedSignIns();
        } catch (const std::exception&) { // a server without limits keeps no failures
        }
    };
    forget();
    QSqlDatabase db = testdb::serviceAccount("guesser", "report", "require");
    if (!db.open()) {
        std::printf("guessing: %s\n", qPrintable(db.lastError().text()));
        return;
    }
    QList<double> times;
    QElapsedTimer all;
    all.start();
    for (int i = 0; i < Guesses; ++i) {
        QElapsedTimer t;
        t.start();
        QSqlQuery q(db);
        q.exec(QString("select tulmina_link.create_link('ivanova', 'ivanova', 'guess-%1')").arg(i));
        q.exec("select * from ivanova.t_operators t where t.login_name = 'IVANOVA'");
        q.exec("select tulmina_link.drop_link('ivanova')");
        times << secondsSince(t);
    }
    const double total = secondsSince(all);
    std::printf("password guessing, %d wrong passwords on one connection: %.2f s in all, "
                "%.1f guesses a second (first %.3f s, last %.3f s)\n",
                Guesses, total, Guesses / total, times.first(), times.last());
    forget();
}

void benchCallRound(int debtors) {
    makeBenchData(debtors);
    Session s(Bench.name);
    const double secs = s.press(CallRound, nullptr);
    std::printf("\"Тулмин\" run over %d debtors: %.2f s, %d rows counted, peak memory %.1f MB\n",
                debtors, secs, s.outcome.debtorCount, peakMb());
}

double benchAnalysis(int debtors, int blockSize, const office::Options& options) {
    makeBenchData(debtors);
    Session s(Bench.name, {RunLimits{}.maxDebtorRows, blockSize});
    std::printf("  blocks of %d debtors\n", blockSize);
    TimedSpreadsheet office(std::make_unique<LibreOfficeSpreadsheet>(options));
    const double cpuBefore = cpuSeconds();
    const double total = s.press(Analysis, &office);
    std::printf("  the program's own processor time: %.2f s\n", cpuSeconds() - cpuBefore);
    std::printf("\"Анализ\" run of %d debtors: %.2f s, peak memory %.1f MB\n", debtors, total,
                peakMb());
    const auto seconds = [](std::chrono::nanoseconds ns) { return ns.count() / 1e9; };
    std::printf("  debtor query (one pass: count, phone list, report rows): %.2f s\n",
                seconds(s.dm->sqLstPhonDelTab->serverTime()));
    std::printf("  address queries: %.2f s\n", seconds(s.dm->sqListPhone->serverTime()));
    std::printf("  snapshot inserts: %.2f s\n", seconds(s.dm->sqPayDeb->serverTime()));
    for (const auto& [what, secs] : office.seconds)
        std::printf("  office %s: %.2f s\n", qPrintable(what), secs);
    return total;
}

// The same outputs made as sets, each step once for all debtors: the debtor
// query, the address query through the link restricted to all their user ids,
// one insert of every snapshot row, one write of every cell, the save, and the
// total row and the workbook shown.
double benchFloor(int debtors, const office::Options& options) {
    makeBenchData(debtors);
    const auto signedIn = fixture::signedInDataModule(Login);
    TdmCommon& dm = *signedIn;
    SqlConnection& db = dm.SQLConnectionKvarn;
    QTemporaryDir work;
    QFile::copy(TULMINA_TEMPLATE, work.path() + "/t.xls");
    LibreOfficeSpreadsheet office(options);
    office.connect();

    QElapsedTimer t;
    t.start();
    QStringList debtorLines = TdmCommon::debtorTemplateLines();
    debtorLines[19] = " iscorp = 'N'";
    debtorLines[20] = "";
    debtorLines[21] = "";
    debtorLines[22] = " and town_id = '" + Bench.townId + "'";
    debtorLines[23] = " and cur_deb < 0";
    SqlQuery debtorsQ(db, "floorDebtors", debtorLines);
    QStringList ids;
    std::vector<Spreadsheet::Row> rows;
    for (debtorsQ.open(); !debtorsQ.eof(); debtorsQ.next()) {
        ids << debtorsQ.asString("user_id");
        rows.push_back({debtorsQ.asString("user_id"), QString(), debtorsQ.asString("phone"),
                        QString(), debtorsQ.asFloat("cur_deb"), QString()});
    }
    const QString idArray = "cast('{" + ids.join(',') + "}' as bigint[])";
    QStringList addressLines = TdmCommon::listPhoneLines();
    addressLines[0] = "select  t1.user_id, t1.account,";
    addressLines[33] = " and t1.user_id = any(" + idArray + ")";
    SqlQuery addressQ(db, "floorAddresses", addressLines);
    QHash<QString, QStringList> addresses;
    for (addressQ.open(); !addressQ.eof(); addressQ.next())
        addresses.insert(addressQ.asString("user_id"),
                         {addressQ.asString("account"), addressQ.asString("name"),
                          addressQ.asString("ClientInfoWithoutName")});
    for (auto& row : rows) {
        const QStringList a = addresses.value(std::get<QString>(row[0]));
        if (a.size() == 3) {
            row[1] = a[0];
            row[3] = a[1];
            row[5] = a[2];
        }
    }
    db.executeDirect("insert into pays_debs_tmp_r select unnest(" + idArray + "), current_date");
    const double sql = secondsSince(t);
    office.openWorkbook(work.path() + "/t.xls", work.path() + "/floor.xls");
    const double opened = secondsSince(t);
    office.writeRows(2, 1, rows);
    const double written = secondsSince(t);
    office.saveWorkbookAside(work.path() + "/floor.part");
    QFile::rename(work.path() + "/floor.part", work.path() + "/floor.xls");
    office.markSaved();
    const double saved = secondsSince(t);
    // What the report's outputs need beyond the cells: the total row, the hidden
    // column, and the workbook shown on the screen.
    const int totalRow = 2 + int(rows.size());
    office.alignRight(totalRow, 4, 5);
    office.setBold(totalRow, 3, 5);
    office.writeRows(totalRow, 4, {{QString("Сумма оплат на отчётную дату"), 0.0}});
    office.hideColumn(1);
    office.makeVisible();
    const double total = secondsSince(t);
    std::printf("floor for %d debtors: %.2f s (statements %.2f s, office open %.2f s, write "
                "%.2f s, save %.2f s, total row and showing the workbook %.2f s)\n",
                debtors, total, sql, opened - sql, written - opened, saved - written,
                total - saved);
    std::printf("floor without the total row and showing: %.2f s\n", saved);
    return total;
}

// "Анализ" of the settlement with the most debtors of the sample data, as the
// user runs it; the sample data stays as it is.
void benchSample(const office::Options& options) {
    const QString largest =
        testdb::scalar("report", "select a.name from atstown a join lst_deb_always d "
                                 "using (town_id) where d.iscorp = 'N' and d.cur_deb < 0 "
                                 "group by a.name order by count(distinct d.user_id) desc limit 1")
            .toString();
    Session s(largest);
    LibreOfficeSpreadsheet office(options);
    const double secs = s.press(Analysis, &office);
    std::printf("\"Анализ\" of %s, %d debtors, run to final save: %.2f s\n", qPrintable(largest),
                s.outcome.debtorCount, secs);
}

void warmUp(const office::Options& options) {
    QTemporaryDir work;
    const QString path = work.path() + "/warm-up.xls";
    QFile::copy(TULMINA_TEMPLATE, path);
    LibreOfficeSpreadsheet office(options);
    office.connect();
    office.openWorkbook(path);
    office.makeVisible();
    office.disconnect();
    OfficeReader(options).closeOpenDocument(path);
}

// Runs this benchmark again in a process of its own, for its own peak memory.
QString child(const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QCoreApplication::applicationFilePath(), args);
    p.waitForFinished(-1);
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    std::fputs(out.toUtf8().constData(), stdout);
    return out;
}

} // namespace

int main(int argc, char** argv) {
    TulminaApplication app(argc, argv);
    const QString mode = argc > 1 ? QString(argv[1]) : QStringLiteral("all");
    const int debtors = argc > 2 ? QString(argv[2]).toInt() : 10000;
    if (mode == "all") {
        // Each size in a process of its own, for its own peak memory.
        benchLaunch();
        benchSignIn();
        benchSettlement();
        benchGuessing();
        removeBenchData();
        testdb::dropLinkIfAny(Login);
        child({"callround", "10000"});
        child({"callround", "100000"});
        child({"analysis", "50000"});
        const QString tenThousand = child({"analysis", "10000"});
        return tenThousand.contains("ratio") ? 0 : 1;
    }
    QTemporaryDir profile;
    const office::Options options = officeOptions(profile);
    if (mode == "analysis" || mode == "sample") {
        // The office runs before any measurement, as a workstation's usually
        // does, and has shown a workbook before.
        QElapsedTimer start;
        start.start();
        warmUp(options);
        std::printf("office start and a first workbook shown: %.2f s\n", secondsSince(start));
    }
    double program = 0, floor = 0;
    if (mode == "launch")
        benchLaunch();
    if (mode == "signin")
        benchSignIn();
    if (mode == "settlement")
        benchSettlement();
    if (mode == "guessing")
        benchGuessing();
    if (mode == "callround")
        benchCallRound(debtors);
    if (mode == "analysis") {
        program = benchAnalysis(
            debtors, argc > 3 ? QString(argv[3]).toInt() : RunLimits{}.blockSize, options);
        floor = benchFloor(debtors, options);
    }
    if (mode == "sample")
        benchSample(options);
    if (mode != "sample")
        removeBenchData();
    testdb::dropLinkIfAny(Login);
    if (mode == "analysis" || mode == "sample") {
        OfficeReader(options).terminate();
        killOffice(options);
    }
    if (floor > 0) {
        std::printf("total %.2f s\n", program);
        std::printf("ratio %.2f\n", program / floor);
    }
    return 0;
}

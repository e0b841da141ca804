// Benchmarks of the program against the stand-in and a headless LibreOffice.
//   tulmina_bench [launch|settlement|callround|analysis|all] [debtors]
// "all" (the default) ends with the lines "total <seconds> s" and "ratio <program/floor>".
#include "data/OracleDialect.h"
#include "data/fmCommonDM.h"
#include "platform/LibreOfficeSpreadsheet.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/TestDb.h"
#include "tests/support/WindowFixture.h"
#include "ui/TulminaApplication.h"
#include "ui/frmMain.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <sys/resource.h>

using namespace std::chrono;

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

double seconds(nanoseconds ns) {
    return duration<double>(ns).count();
}
double median(QList<double> v) {
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}
long peakRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
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
    testdb::exec("report", "analyze kna.t_users");
}

// Counts the office's time and calls.
class TimedSpreadsheet : public Spreadsheet {
public:
    explicit TimedSpreadsheet(LibreOfficeSpreadsheet& office) : office_(office) {}
    nanoseconds time{0};
    int calls = 0;
    std::map<QString, nanoseconds> byOperation;
    template <class F> void t(F&& f, const char* op = "cells") {
        const auto start = steady_clock::now();
        f();
        const auto spent = steady_clock::now() - start;
        time += spent;
        byOperation[op] += spent;
        ++calls;
    }
    void connect() override {
        t([&] { office_.connect(); }, "connect");
    }
    void openWorkbook(const QString& p) override {
        t([&] { office_.openWorkbook(p); }, "open");
    }
    void saveWorkbookAs(const QString& p) override {
        t([&] { office_.saveWorkbookAs(p); }, "save as");
    }
    void setCellText(int r, int c, const QString& s) override {
        t([&] { office_.setCellText(r, c, s); });
    }
    void setCellNumber(int r, int c, double v) override {
        t([&] { office_.setCellNumber(r, c, v); });
    }
    void alignRight(int r, int a, int b) override {
        t([&] { office_.alignRight(r, a, b); }, "align");
    }
    void setBold(int r, int a, int b) override {
        t([&] { office_.setBold(r, a, b); }, "bold");
    }
    void hideColumn(int c) override {
        t([&] { office_.hideColumn(c); }, "hide");
    }
    void saveWorkbook() override {
        t([&] { office_.saveWorkbook(); }, "save");
    }
    void makeVisible() override {
        t([&] { office_.makeVisible(); }, "visible");
    }
    void disconnect() override {
        t([&] { office_.disconnect(); }, "disconnect");
    }
    void checkConnection() override {
        t([&] { office_.checkConnection(); }, "check");
    }
    void flush() override {
        t([&] { office_.flush(); }, "flush");
    }

private:
    LibreOfficeSpreadsheet& office_;
};

struct Session {
    QTemporaryDir work;
    std::unique_ptr<TdmCommon> dm;
    ModalDriver driver;
    std::unique_ptr<TfmMain> window;

    Session() {
        fixture::prepareWorkFolder(work.path());
        QDir::setCurrent(work.path());
        dm = fixture::signedInDataModule(Login);
        window = fixture::shownWindow(*dm, Bench.name, driver);
        fixture::pickSettlement(*window, Bench.name);
        for (int k = 1; k <= window->ExchangeCount; ++k)
            window->ExchangeBoxes[k]->setChecked(false);
    }
    ~Session() {
        window.reset();
        dm.reset();
        QDir::setCurrent("/");
    }
};

LibreOfficeSpreadsheet::Options officeOptions(const QTemporaryDir& profile) {
    LibreOfficeSpreadsheet::Options o;
    o.pipeName = QStringLiteral("tulmina_bench_%1").arg(QCoreApplication::applicationPid());
    o.profileDir = profile.path();
    o.headless = true;
    return o;
}

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
        times << t.nsecsElapsed() / 1e9;
        probe.waitForFinished(5000);
    }
    const double m = median(times);
    std::printf("launch to visible sign-in dialog: median of 10 %.3f s (target 0.5 s)\n", m);
    return m;
}

double benchSettlement() {
    makeBenchData(10);
    Session s;
    QList<double> times;
    for (int i = 0; i < 10; ++i) {
        QElapsedTimer t;
        t.start();
        fixture::pickSettlement(*s.window, Bench.name);
        times << t.nsecsElapsed() / 1e9;
    }
    const double m = median(times);
    std::printf("choosing a settlement with 30 exchanges: median of 10 %.1f ms (target 100 ms)\n",
                m * 1000);
    return m;
}

double benchCallRound(int debtors) {
    makeBenchData(debtors);
    Session s;
    fixture::pickListKind(*s.window, CallRound);
    const long before = peakRssKb();
    QElapsedTimer t;
    t.start();
    s.window->bbExecuteClick();
    const double secs = t.nsecsElapsed() / 1e9;
    std::printf("\"Тулмин\" run over %d debtors: %.2f s, %d rows counted, peak memory %.1f MB "
                "(grew by %.1f MB in the run)\n",
                debtors, secs, s.window->Run.DebtorCount, peakRssKb() / 1024.0,
                (peakRssKb() - before) / 1024.0);
    return secs;
}

double benchAnalysis(int debtors, LibreOfficeSpreadsheet& office) {
    makeBenchData(debtors);
    Session s;
    auto timed = std::make_unique<TimedSpreadsheet>(office);
    TimedSpreadsheet& sheet = *timed;
    s.window->cbListExcel = std::move(timed);
    s.driver.press("OK");
    fixture::pickListKind(*s.window, Analysis);
    QElapsedTimer t;
    t.start();
    s.window->bbExecuteClick();
    const double total = t.nsecsElapsed() / 1e9;
    const double debtorQuery = seconds(s.dm->sqLstPhonDelTab->serverTime());
    const double address = seconds(s.dm->sqListPhone->serverTime());
    const double inserts = seconds(s.dm->sqPayDeb->serverTime());
    const double officeTime = seconds(sheet.time);
    std::printf("\"Анализ\" run of %d debtors: %.2f s\n", debtors, total);
    std::printf("  debtor query (count, phone list, report reads): %.2f s\n", debtorQuery);
    std::printf("  address queries: %.2f s (%.2f ms each)\n", address, address * 1000 / debtors);
    std::printf("  snapshot inserts: %.2f s (%.2f ms each)\n", inserts, inserts * 1000 / debtors);
    std::printf("  workbook (%d office calls): %.2f s\n", sheet.calls, officeTime);
    for (const auto& [op, spent] : sheet.byOperation)
        std::printf("    %s %.2f s\n", qPrintable(op), seconds(spent));
    std::printf("  the rest (files, progress bar, exchange query): %.2f s\n",
                total - debtorQuery - address - inserts - officeTime);
    return total;
}

// The same statements back to back on one connection with prepared, bound
// statements, and the same cells in one bulk write: what the work costs at least.
double benchFloor(int debtors, LibreOfficeSpreadsheet& office) {
    makeBenchData(debtors);
    TdmCommon dm;
    dm.SQLConnectionKvarn.open();
    QSqlDatabase db = dm.SQLConnectionKvarn.database();
    QElapsedTimer t;
    t.start();
    QStringList debtorLines = TdmCommon::debtorTemplateLines();
    debtorLines[19] = " iscorp = 'N'";
    debtorLines[20] = "";
    debtorLines[21] = "";
    debtorLines[22] = " and town_id = '" + Bench.townId + "'";
    debtorLines[23] = " and cur_deb < 0";
    QSqlQuery debtorsQ(db);
    debtorsQ.exec(oracle::translate(debtorLines.join("\n")).sql);
    QList<QVariantList> rows;
    QStringList addressLines = TdmCommon::listPhoneLines();
    addressLines[33] = " and t1.user_id = ?";
    const auto address = oracle::translate(addressLines.join("\n"));
    dm.SQLConnectionKvarn.executeDirect(
        addressLines.join("\n").replace("?", "0")); // imports the tables
    QSqlQuery addressQ(db);
    addressQ.prepare(address.sql);
    QSqlQuery insertQ(db);
    insertQ.prepare("insert into pays_debs_tmp_r values (?, current_date)");
    nanoseconds sqlTime{0};
    while (debtorsQ.next()) {
        const QString user = debtorsQ.value(2).toString();
        addressQ.addBindValue(user);
        addressQ.exec();
        addressQ.next();
        insertQ.addBindValue(user);
        if (!insertQ.exec())
            std::printf("floor insert: %s\n", qPrintable(insertQ.lastError().text()));
        rows << QVariantList{user,
                             addressQ.value(0).toString(),
                             debtorsQ.value(0).toString(),
                             addressQ.value(2).toString(),
                             debtorsQ.value(1).toDouble(),
                             addressQ.value(1).toString()};
    }
    const double sql = t.nsecsElapsed() / 1e9;
    QTemporaryDir work;
    QFile::copy(TULMINA_TEMPLATE, work.path() + "/t.xls");
    QElapsedTimer o;
    o.start();
    office.connect();
    office.openWorkbook(work.path() + "/t.xls");
    office.saveWorkbookAs(work.path() + "/floor.xls");
    office.writeBlock(2, rows);
    office.saveWorkbook();
    const double officeSecs = o.nsecsElapsed() / 1e9;
    std::printf("floor for %d debtors: %.2f s (statements %.2f s, office bulk write %.2f s)\n",
                debtors, sql + officeSecs, sql, officeSecs);
    return sql + officeSecs;
}

} // namespace

int main(int argc, char** argv) {
    TulminaApplication app(argc, argv);
    const QString mode = argc > 1 ? QString(argv[1]) : QStringLiteral("all");
    const int debtors = argc > 2 ? QString(argv[2]).toInt() : 10000;
    QElapsedTimer total;
    total.start();
    QTemporaryDir profile;
    LibreOfficeSpreadsheet office(officeOptions(profile));
    if (mode == "launch" || mode == "all")
        benchLaunch();
    if (mode == "settlement" || mode == "all")
        benchSettlement();
    if (mode == "callround") {
        benchCallRound(debtors);
    } else if (mode == "all") {
        benchCallRound(10000);
        benchCallRound(100000);
    }
    double program = 0, floor = 0;
    if (mode == "analysis" || mode == "all") {
        // Both measurements find the office running, as a workstation's usually is.
        QElapsedTimer start;
        start.start();
        office.connect();
        std::printf("office start: %.2f s\n", start.nsecsElapsed() / 1e9);
        program = benchAnalysis(debtors, office);
        floor = benchFloor(debtors, office);
    }
    removeBenchData();
    testdb::dropLinkIfAny(Login);
    office.terminateOffice();
    QProcess::execute("pkill", {"-9", "-f", "pipe,name=" + officeOptions(profile).pipeName});
    std::printf("total %.1f s\n", total.nsecsElapsed() / 1e9);
    if (floor > 0)
        std::printf("ratio %.2f\n", program / floor);
    return 0;
}

// The generation run as an engine, against the stand-in: parameter log, debtor
// query assembly, phone list, and the report's logic with a recording
// spreadsheet (the real office is in test_workbook); then the window's wiring.
#include "data/fmCommonDM.h"
#include "lists/GenerationRun.h"
#include "lists/PaymentSnapshot.h"
#include "lists/RunStamp.h"
#include "lists/WorkbookName.h"
#include "platform/LongWait.h"
#include "platform/TextFile.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/Pixels.h"
#include "tests/support/RecordingObserver.h"
#include "tests/support/RecordingSpreadsheet.h"
#include "tests/support/TestDb.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WindowFixture.h"
#include "ui/AmountEdit.h"
#include "ui/TulminaApplication.h"
#include "ui/frmMain.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>
#include <optional>

namespace {
const QString Login = QStringLiteral("gentest");
// The operator of the engine's own runs, beside the windows' one.
const QString RunLogin = QStringLiteral("genrun");
const fixture::Settlement Town{
    "Тест-Прогон", "2799999900100", "2799999900000", {"421761", "421762", "421763"}};
const QStringList ListKinds{"Тулмин", "Общий", "Анализ"};
constexpr qint64 FirstUser = 991001;
constexpr qint64 LastUser = 991099;

QByteArray crlf(const QStringList& lines) {
    QByteArray bytes;
    for (const QString& l : lines)
        bytes += toWindows1251(l) + "\r\n";
    return bytes;
}

QString today() {
    return QDate::currentDate().toString("dd.MM.yyyy");
}

QStringList snapshotUsers() {
    return testdb::snapshotUsers("pays_debs_tmp_r", FirstUser, LastUser);
}

SettlementTown townOf(const fixture::Settlement& s) {
    return {s.name, s.townId, s.territory, false};
}
} // namespace

class TestGeneration : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> work;
    std::unique_ptr<TdmCommon> dm;
    RecordingObserver observer;
    RecordingSpreadsheet sheet;
    std::unique_ptr<GenerationRun> engine;

    RunOutcome last;

    // The user's choice: every exchange taken into the list, unless told otherwise.
    RunParameters choice(int listKind, const QStringList& excluded = {}) const {
        RunParameters p;
        p.clientKind = Residential;
        p.clientKindText = "Квартирники";
        p.settlement = townOf(Town);
        p.exchangeCount = 3;
        for (const QString& tail : excluded)
            p.excluded << ExcludedExchange{"4217" + tail, tail};
        p.listKind = ListKind(listKind);
        p.listKindText = listKind >= 0 ? ListKinds[listKind] : QString();
        return p;
    }
    // The runs of the audit trail since then: event, list kind, settlement,
    // row count, and whether a report's id goes with it.
    static QStringList runsSince(const QString& since) {
        return testdb::column("report",
                              "select concat_ws('|', event, list_kind, settlement, row_count, "
                              "case when detail is not null then 'report' else '' end) "
                              "from tulmina_audit.events where event like 'run%' and at >= '" +
                                  since + "' order by at");
    }
    void useLimits(RunLimits limits) {
        engine = std::make_unique<GenerationRun>(*dm, observer, limits);
    }
    void run(const RunParameters& p) { last = engine->run(p, work->path(), &sheet); }
    QString logPath() const { return last.logPath; }
    QString listPath() const { return work->path() + "/Tulmin/Station/" + last.runStamp + ".txt"; }
    QString line(int n) const { return dm->sqLstPhonDelTab->lines().at(n); }

private slots:
    void initTestCase() {
        fixture::removeTestSettlements();
        fixture::addSettlement(Town);
        fixture::removeDebtors(Town);
        fixture::addDebtors(Town, {{"4217610001", -100, 991001, "N", "15.05.2000"},
                                   {"4217610001", -150, 991002, "N", "15.05.2000"},
                                   {"4217620002", -200, 991003, "N", "01.01.2010"},
                                   {"42176200", -300, 991004, "N", "01.01.2010"},
                                   {"4217630003", -50, 991005, "N", "01.01.2015"},
                                   {"4217630004", -400, 991006, "Y", "01.01.2015"},
                                   {"4217610005", 20, 991007, "N", "01.01.2015"}});
        // One debtor the billing database knows.
        testdb::exec("kvarn", "delete from t_users where user_id between 991001 and 991007");
        testdb::exec("kvarn", "insert into t_users (user_id, account, name, flat, house_id) "
                              "select 991003, '000777', 'Прогонов Пётр', null, min(house_id) "
                              "from o_houses where corpus is null");
    }
    void cleanupTestCase() {
        fixture::removeDebtors(Town);
        testdb::removeSnapshots(FirstUser, LastUser);
        testdb::exec("kvarn", "delete from t_users where user_id between 991001 and 991007");
        fixture::removeTestSettlements();
        testdb::dropLinkIfAny(Login);
        testdb::dropLinkIfAny(RunLogin);
    }
    void init() {
        work = std::make_unique<QTemporaryDir>();
        fixture::prepareWorkFolder(work->path());
        QDir::setCurrent(work->path());
        dm = fixture::signedInDataModule(RunLogin);
        observer = {};
        sheet = {};
        last = {};
        useLimits({});
        testdb::removeSnapshots(FirstUser, LastUser);
    }
    void cleanup() {
        engine.reset();
        dm.reset();
        QDir::setCurrent("/");
        work.reset();
    }

    void stampRemoveAllAndFileNames() {
        QCOMPARE(makeRunStamp(QDateTime(QDate(2026, 12, 9), QTime(6, 16, 29))),
                 QString("091226061629"));
        QCOMPARE(makeRunStamp(QDateTime(QDate(2026, 1, 2), QTime(0, 0, 0, 500))),
                 QString("020126"));
        QCOMPARE(makeRunStamp(QDateTime(QDate(2026, 1, 2), QTime(0, 0, 1))),
                 QString("020126000001"));
        QCOMPARE(RemoveAll("a..b.", "."), QString("ab"));
        QCOMPARE(RemoveAll("aaa", ""), QString("aaa"));
        QCOMPARE(RemoveAll("abab", "ab"), QString());
        QCOMPARE(workbookFileName("СНТ 'Заря/Восход': 1*2?"),
                 QString("СНТ 'Заря_Восход'_ 1_2_.xls"));
        // A name fits a file name with the office's lock file (8 bytes more) in
        // 255 bytes, cut on a whole character.
        QCOMPARE(workbookFileName(QString(300, QChar(0x416)) + "😀"),
                 QString(121, QChar(0x416)) + ".xls");
        QCOMPARE(workbookFileName(QString(119, QChar(0x416)) + "😀😀"),
                 QString(119, QChar(0x416)) + "😀.xls");
        QCOMPARE(workbookFileName(QString(243, 'a')).toUtf8().size(), 247);
        QCOMPARE(workbookFileName(QString(), "2799999900300"),
                 QString("Без названия 2799999900300.xls"));
        QCOMPARE(workbookFileName("  ", "27"), QString("Без названия 27.xls"));
        QCOMPARE(workbookFileName("..", "27"), QString("_..xls"));
        // A name several towns share takes the town's id, also when cut.
        QCOMPARE(workbookFileName("Октябрьский", "27", true), QString("Октябрьский 27.xls"));
        QCOMPARE(workbookFileName("Октябрьский", "27", false), QString("Октябрьский.xls"));
        QCOMPARE(workbookFileName(QString(300, 'a'), "2799", true).right(10),
                 QString("a 2799.xls"));
        QCOMPARE(workbookFileName(QString(300, 'a'), "2799", true).toUtf8().size(), 247);
        QCOMPARE(toWindows1251("Кто: ё"), QByteArray("\xCA\xF2\xEE: \xB8"));
        QCOMPARE(toWindows1251("a€密b"), QByteArray("a\x88?b"));
    }

    void everyExchangeLeftOutStopsWithNoExchangesChosen() {
        run(choice(Analysis, {"61", "62", "63"}));
        QCOMPARE(last.notice, QString("Не выбраны АТС"));
        QCOMPARE(last.end, RunOutcome::End::NoExchanges);
        QCOMPARE(readFile(logPath()),
                 crlf({"Кто: Квартирники", "Размер долга: >0", "Город: Тест-Прогон"}));
        QVERIFY(!QFile::exists(listPath()));
        QCOMPARE(line(20), QString("-- and (  substr(phone, 5, 2) = '00' or"));
        QCOMPARE(line(21), QString("-- and d1.date_on < '01.06.2008'"));
        QVERIFY(!dm->sqLstPhonDelTab->isOpen());
        QCOMPARE(observer.busyCalls, 0);
        QVERIFY(sheet.calls.isEmpty());
    }

    void noExchangeLeftOutTakesEveryExchange() {
        run(choice(CallRound));
        QCOMPARE(line(19), QString(" iscorp = 'N'"));
        QCOMPARE(line(20), QString());
        QCOMPARE(line(21), QString());
        QCOMPARE(line(22), QString(" and town_id = :town_id"));
        QCOMPARE(line(23), QString(" and cur_deb < :min_debt"));
        QCOMPARE(dm->sqLstPhonDelTab->paramValue("town_id").toString(), Town.townId);
        QCOMPARE(dm->sqLstPhonDelTab->lines().size(), 26);
        QCOMPARE(readFile(logPath()),
                 crlf({"Кто: Квартирники", "Размер долга: >0", "Город: Тест-Прогон",
                       "Невошедшие АТС: ", "", "Какой: Тулмин"}));
        // Two accounts on one number give two lines; a number of the wrong length an
        // empty line, after all others.
        QCOMPARE(readFile(listPath()), QByteArray("10001\r\n10001\r\n20002\r\n30003\r\n\r\n"));
        QCOMPARE(last.debtorCount, 5);
        QCOMPARE(last.phoneListPath, listPath());
        QCOMPARE(observer.busyCalls, 1);
        QVERIFY(!dm->sqLstPhonDelTab->isOpen());
        QVERIFY(sheet.calls.isEmpty());
        QVERIFY(snapshotUsers().isEmpty());
        QCOMPARE(last.runStamp.size(), 12);
    }

    void leftOutExchanges() {
        run(choice(CallRound, {"61"}));
        QCOMPARE(line(20), QString(" and substr(phone, 1, 6) not in (:ats_1)"));
        QCOMPARE(readFile(listPath()), QByteArray("20002\r\n30003\r\n\r\n"));
        run(choice(CallRound, {"61", "63"}));
        QCOMPARE(line(20), QString(" and substr(phone, 1, 6) not in (:ats_1 , :ats_2)"));
        QCOMPARE(dm->sqLstPhonDelTab->paramValue("ats_2").toString(), QString("421763"));
        QCOMPARE(readFile(logPath()).split('\n').at(3),
                 toWindows1251("Невошедшие АТС: , 61, 63\r"));
        QCOMPARE(readFile(listPath()), QByteArray("20002\r\n\r\n"));
    }

    void minimumDebtReachesTheQueryWithAPoint() {
        RunParameters p = choice(CallRound);
        p.minDebt = -120.5;
        run(p);
        QCOMPARE(line(23), QString(" and cur_deb < :min_debt"));
        QCOMPARE(readFile(logPath()).split('\n').at(1), toWindows1251("Размер долга: >-120,5\r"));
        QCOMPARE(readFile(listPath()), QByteArray("10001\r\n20002\r\n\r\n"));
    }

    void dateChoices_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("logLine");
        QTest::addColumn<QString>("clause");
        QTest::addColumn<QByteArray>("list");
        QTest::newRow("До") << int(DateFilter::Before) << "До: 01.01.2005"
                            << " and date_on < :date_1 " << QByteArray("10001\r\n10001\r\n");
        QTest::newRow("После") << int(DateFilter::After) << "После: 01.01.2005"
                               << " and date_on > :date_1 " << QByteArray("20002\r\n30003\r\n\r\n");
        QTest::newRow("Между") << int(DateFilter::Between) << "C: 01.01.2005 По: " + today()
                               << " and date_on between :date_1 and :date_2 "
                               << QByteArray("20002\r\n30003\r\n\r\n");
    }
    void dateChoices() {
        QFETCH(int, kind);
        QFETCH(QString, logLine);
        QFETCH(QString, clause);
        QFETCH(QByteArray, list);
        RunParameters p = choice(CallRound);
        p.dateFilter = {DateFilter::Kind(kind), QDate(2005, 1, 1), QDate::currentDate()};
        run(p);
        QCOMPARE(readFile(logPath()).split('\n').at(4), toWindows1251(logLine + "\r"));
        QCOMPARE(line(21), clause);
        QCOMPARE(readFile(listPath()), list);
        run(choice(CallRound)); // no date choice: no condition is left from the last run
        QCOMPARE(line(21), QString());
        QCOMPARE(readFile(listPath()).count('\n'), 5);
    }

    void noClientKindSelectedMeansOrganisations() {
        RunParameters p = choice(CallRound);
        p.clientKind = NoClientKind;
        run(p);
        QCOMPARE(line(19), QString(" iscorp = 'Y'"));
        QCOMPARE(readFile(listPath()), QByteArray("30004\r\n"));
    }

    void emptyResultGivesAnEmptyFile() {
        RunParameters p = choice(CallRound);
        p.minDebt = -100000;
        run(p);
        QCOMPARE(last.debtorCount, 0);
        QCOMPARE(readFile(listPath()), QByteArray());
    }

    void noListKindRunsTheQueryAndWritesNothingElse() {
        run(choice(NoListKind));
        QCOMPARE(last.debtorCount, 5);
        QVERIFY(last.phoneListPath.isEmpty() && last.workbookPath.isEmpty());
        QVERIFY(!QFile::exists(listPath()));
        QVERIFY(sheet.calls.isEmpty());
        QCOMPARE(readFile(logPath()).split('\n').size(), 7); // six lines and the last CR LF
    }

    void aLineBreakInANameStaysOnItsLogLine() {
        const fixture::Settlement twoLines{
            "Тест-Строка\r\nвторая", "2799999900110", "2799999900000", {"421764"}};
        RunParameters p = choice(CallRound);
        p.settlement = townOf(twoLines);
        p.exchangeCount = 1;
        p.clientKindText = "Квартир\tники";
        run(p);
        QCOMPARE(readFile(logPath()).split('\n').at(2),
                 toWindows1251("Город: Тест-Строка  вторая\r"));
        QCOMPARE(readFile(logPath()).split('\n').at(0), toWindows1251("Кто: Квартир ники\r"));
        QCOMPARE(readFile(logPath()).count('\n'), 6);
    }

    void missingStationFolderFailsWithItsPath() {
        QDir(work->path()).rmdir("Tulmin/Station");
        try {
            run(choice(CallRound));
            QFAIL("no error");
        } catch (const std::exception& e) {
            QVERIFY2(QString(e.what()).contains("Tulmin/Station/"), e.what());
        }
        const QStringList logs = QDir("Tulmin/LogParam").entryList(QDir::Files);
        QCOMPARE(logs.size(), 1);
        QCOMPARE(readFile("Tulmin/LogParam/" + logs[0]).split('\n').size(), 7);
    }

    void analysisWritesTheListThenTheReport() {
        bool listFirst = false;
        sheet.onCall = [&](const QString& call) {
            if (call == "connect")
                listFirst = QDir("Tulmin/Station").entryList(QDir::Files).size() == 1 &&
                            observer.progressShown;
        };
        run(choice(Analysis));
        QVERIFY(listFirst);
        QCOMPARE(sheet.calls.at(1), "open " + work->path() + "/Tulmin/DudoVezir/DudoVezir.xls as " +
                                        work->path() + "/Тест-Прогон.xls");
        // The debtor query's order: the two accounts of 10001 first, in either order.
        const QStringList users = sheet.userIdColumn();
        QCOMPARE(users.size(), 5);
        QStringList firstTwo = users.mid(0, 2);
        firstTwo.sort();
        QCOMPARE(firstTwo, QStringList({"991001", "991002"}));
        QCOMPARE(users.mid(2), QStringList({"991003", "991005", "991004"}));
        // A debtor without a billing row: empty address cells; one with a row: its cells.
        QCOMPARE(sheet.cells.value({2, 2}), QVariant(QString()));
        QCOMPARE(sheet.cells.value({2, 3}), QVariant(QString("10001")));
        QCOMPARE(sheet.cells.value({4, 2}), QVariant(QString("000777")));
        QCOMPARE(sheet.cells.value({4, 4}), QVariant(QString("Прогонов Пётр")));
        QVERIFY(sheet.cells.value({4, 6}).toString().contains(" д."));
        QCOMPARE(sheet.cells.value({4, 5}), QVariant(-200.0));
        QCOMPARE(sheet.cells.value({6, 3}), QVariant(QString()));
        QCOMPARE(sheet.cells.value({7, 4}), QVariant(QString("Сумма оплат на отчётную дату")));
        QCOMPARE(sheet.cells.value({7, 5}), QVariant(-100.0 - 150 - 200 - 300 - 50));
        // Saved aside, then put in place whole.
        QCOMPARE(sheet.calls.mid(sheet.calls.size() - 4, 1).value(0).section(' ', 0, 0),
                 QString("save"));
        QCOMPARE(sheet.calls.mid(sheet.calls.size() - 3),
                 QStringList({"saved", "visible", "disconnect"}));
        QCOMPARE(readFile(last.workbookPath), RecordingSpreadsheet::SavedBytes);
        QCOMPARE(QDir(work->path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({"Тест-Прогон.xls"}));
        QCOMPARE(snapshotUsers(), QStringList({"991001", "991002", "991003", "991004", "991005"}));
        QCOMPARE(last.workbookPath, work->path() + "/Тест-Прогон.xls");
        QCOMPARE(observer.progressValues, QList<int>({-5, 5}));
        QVERIFY(!observer.progressShown);
    }

    // Small blocks give the same workbook and the same snapshot rows as one block.
    void blocksChangeNothingOfTheOutputs() {
        run(choice(General));
        const auto oneBlock = sheet.cells;
        const QStringList oneBlockSnapshot = snapshotUsers();
        testdb::removeSnapshots(FirstUser, LastUser);
        sheet = {};
        useLimits({65534, 2});
        run(choice(General));
        QCOMPARE(sheet.cells, oneBlock);
        QCOMPARE(snapshotUsers(), oneBlockSnapshot);
        QCOMPARE(observer.progressValues, QList<int>({-5, 5, -5, 2, 4, 5}));
        QCOMPARE(sheet.calls.filter("rows ").mid(0, 3),
                 QStringList({"rows 2,1 x2", "rows 4,1 x2", "rows 6,1 x1"}));
    }

    // A report that fails anywhere after its first save leaves no snapshot row,
    // though earlier blocks were inserted, and its workbook is closed unsaved.
    void failedReportLeavesNoSnapshot_data() {
        QTest::addColumn<QString>("failing");
        QTest::newRow("insert refused") << "insert";
        QTest::newRow("office gone at the last block") << "rows 6,1 x1";
        QTest::newRow("final save") << "save ";
    }
    void failedReportLeavesNoSnapshot() {
        QFETCH(QString, failing);
        useLimits({65534, 2});
        std::optional<testdb::RefusedSnapshot> refused;
        if (failing == "insert")
            refused.emplace(991005); // the third block's
        sheet.onCall = [failing](const QString& call) {
            if (call.startsWith(failing))
                throw std::runtime_error("office gone");
        };
        QVERIFY_THROWS_EXCEPTION(std::exception, run(choice(General)));
        QCOMPARE(snapshotUsers(), QStringList());
        QCOMPARE(sheet.calls.last(), QString("close"));
        QVERIFY(!sheet.calls.contains("disconnect"));
        refused.reset();
        sheet = {};
        run(choice(General)); // the next run is whole
        QCOMPARE(snapshotUsers().size(), 5);
    }

    // A re-run that fails or is stopped anywhere leaves the earlier report's
    // file byte for byte and its snapshot rows as they were; the one that
    // succeeds replaces both sides whole.
    void aFailedReRunKeepsTheEarlierReport_data() {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<bool>("stop");
        QTest::newRow("office gone at a block") << "rows 4,1" << false;
        QTest::newRow("stopped at a block") << "rows 4,1" << true;
        QTest::newRow("aside save") << "save " << false;
        QTest::newRow("insert refused") << "insert" << false;
        QTest::newRow("stopped at the insert") << "stop insert" << true;
    }
    void aFailedReRunKeepsTheEarlierReport() {
        QFETCH(QString, failing);
        QFETCH(bool, stop);
        useLimits({65534, 2});
        run(choice(General));
        const QString path = last.workbookPath;
        QFile::remove(path);
        QVERIFY(QFile::copy(TULMINA_TEMPLATE, path)); // the earlier report's own bytes
        const QByteArray earlier = readFile(path);
        const QStringList earlierRows = snapshotUsers();
        std::optional<testdb::RefusedSnapshot> refused;
        std::optional<testdb::HeldLock> held;
        if (failing == "insert")
            refused.emplace(991005);
        if (failing == "stop insert") {
            held.emplace("pays_debs_tmp_r");
            LongWait::setQuestion([](Awaited, int) { return false; });
            dm->SQLConnectionKvarn.setAnswerLimit(200);
        }
        sheet = {};
        sheet.onCall = [&](const QString& call) {
            if (!failing.contains("insert") && call.startsWith(failing)) {
                if (stop)
                    throw Stopped("stopped");
                throw std::runtime_error("office gone");
            }
        };
        QVERIFY_THROWS_EXCEPTION(std::exception, run(choice(General)));
        LongWait::setQuestion(nullptr);
        dm->SQLConnectionKvarn.setAnswerLimit(30000);
        held.reset();
        refused.reset();
        QCOMPARE(readFile(path), earlier);
        QCOMPARE(snapshotUsers(), earlierRows);
        QCOMPARE(sheet.calls.last(), QString("close"));
        QCOMPARE(QDir(work->path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({QFileInfo(path).fileName()}));
        sheet = {};
        run(choice(General));
        QCOMPARE(readFile(path), RecordingSpreadsheet::SavedBytes);
        QCOMPARE(snapshotUsers().size(), 2 * earlierRows.size());
    }

    // A report's run is in the audit trail once, with the rows it recorded:
    // in the transaction of its snapshot rows when it is made, as failed
    // when it is not; a call round's run with the debtors it read.
    void runsAreAuditedWithTheirOutcome() {
        const QString since = testdb::scalar("report", "select clock_timestamp()::text").toString();
        run(choice(CallRound));
        run(choice(General));
        sheet = {};
        sheet.onCall = [](const QString& call) {
            if (call.startsWith("save "))
                throw std::runtime_error("office gone");
        };
        QVERIFY_THROWS_EXCEPTION(std::exception, run(choice(General)));
        const QString settlement = townOf(Town).name;
        QCOMPARE(runsSince(since),
                 QStringList({"run|" + ListKinds[CallRound] + "|" + settlement + "|5|",
                              "run|" + ListKinds[General] + "|" + settlement + "|5|report",
                              "run failed|" + ListKinds[General] + "|" + settlement + "|5|"}));
    }

    // Runs leave no server cursor behind them, however many there are.
    void serverCursorsStayFlatOverRuns() {
        QList<int> counts;
        for (int i = 0; i < 20; ++i) {
            run(choice(i % 2 ? General : Analysis));
            counts << testdb::serverCursors(dm->SQLConnectionKvarn);
        }
        QCOMPARE(counts, QList<int>(20, 0));
    }

    void reportLargerThanASheetIsRefusedBeforeAnythingIsWritten() {
        useLimits({4, 2});
        run(choice(Analysis));
        QCOMPARE(last.end, RunOutcome::End::TooLarge);
        QVERIFY2(last.notice.contains("5") && last.notice.contains("4"), qPrintable(last.notice));
        QVERIFY(sheet.calls.isEmpty());
        QVERIFY(snapshotUsers().isEmpty());
        QCOMPARE(readFile(listPath()), QByteArray("10001\r\n10001\r\n20002\r\n30003\r\n\r\n"));
        useLimits({5, 2});
        run(choice(General)); // exactly as many as fit
        QCOMPARE(sheet.userIdColumn().size(), 5);
    }

    void snapshotTableFollowsTheTerritory_data() {
        QTest::addColumn<QVariant>("territory");
        QTest::addColumn<QVariant>("town");
        QTest::addColumn<QString>("table");
        QTest::newRow("territory 2701")
            << QVariant("2701000000000") << QVariant("1") << "PAYS_DEBS_TMP";
        QTest::newRow("town 2700000500000")
            << QVariant("5") << QVariant("2700000500000") << "PAYS_DEBS_TMP";
        QTest::newRow("other") << QVariant("2799999900000") << QVariant("2799999900100")
                               << "PAYS_DEBS_TMP_R";
        QTest::newRow("nulls") << QVariant() << QVariant() << "PAYS_DEBS_TMP_R";
    }
    void snapshotTableFollowsTheTerritory() {
        QFETCH(QVariant, territory);
        QFETCH(QVariant, town);
        QFETCH(QString, table);
        QCOMPARE(snapshotTableFor({"", town.toString(), territory, false}), table);
    }

    void snapshotRowsOfAReportInOneStatement() {
        PaymentSnapshot snapshot(*dm, townOf(Town), RunRecord("Общий", Town.name, Town.townId));
        QCOMPARE(snapshot.table(), QString("PAYS_DEBS_TMP_R"));
        const QString since = testdb::scalar("report", "select clock_timestamp()::text").toString();
        snapshot.InsertPaymentSnapshot({991007, 991006, 991007});
        QVERIFY(snapshot.recorded());
        QCOMPARE(snapshotUsers(), QStringList({"991006", "991007", "991007"}));
        QCOMPARE(runsSince(since), QStringList({"run|Общий|" + Town.name + "|3|report"}));
        QCOMPARE(dm->sqPayDeb->lines().size(), 1);
        QVERIFY(dm->sqPayDeb->lines().at(0).startsWith("insert into PAYS_DEBS_TMP_R select "));
        QVERIFY_THROWS_EXCEPTION(std::exception, dm->insertSnapshotRows("atstown", {991007}));
    }

    // The window hands its controls to the run and shows the run's state.
    void windowGathersItsControls() {
        auto signedIn = fixture::signedInDataModule(Login);
        ModalDriver driver;
        auto w = fixture::shownWindow(*signedIn, Town.name, driver);
        fixture::pickSettlement(*w, Town.name);
        w->ExchangeBoxes[2]->setChecked(false);
        w->cbTypeUser->setCurrentIndex(1);
        w->ceSumma->setText("-12,50");
        w->DateTimePickerBetween1->setDate(QDate(2005, 1, 1));
        const RunParameters p = w->gatherRunParameters();
        QCOMPARE(p.excluded.size(), 2);
        QCOMPARE(p.excluded[0].code + p.excluded[0].caption + p.excluded[1].code +
                     p.excluded[1].caption,
                 QString("4217616142176363"));
        QCOMPARE(p.exchangeCount, 3);
        QCOMPARE(p.settlement.name, Town.name);
        QCOMPARE(p.settlement.townId, Town.townId);
        QCOMPARE(p.settlement.territory.toString(), Town.territory);
        QVERIFY(!p.settlement.nameShared);
        QCOMPARE(p.clientKind, Organisation);
        QCOMPARE(p.clientKindText, QString("Организации"));
        QCOMPARE(w->ceSumma->text(), QString("-12,5"));
        QCOMPARE(p.minDebt, -12.5);
        QCOMPARE(p.dateFilter.kind, DateFilter::Between);
        QCOMPARE(p.dateFilter.first, QDate(2005, 1, 1));
        QCOMPARE(p.dateFilter.last, QDate::currentDate());
        QCOMPARE(p.listKind, int(Analysis));
        QCOMPARE(p.listKindText, QString("Анализ"));
    }

    void windowTakesANameTypedExactlyAsAnItem() {
        const fixture::Settlement other{
            "Тест-Другой", "2799999900120", "2799999900000", {"421591", "421592"}};
        fixture::addSettlement(other);
        auto signedIn = fixture::signedInDataModule(Login);
        ModalDriver driver;
        auto w = fixture::shownWindow(*signedIn, Town.name, driver);
        fixture::pickSettlement(*w, Town.name);
        w->addSettlement({other.name, other.townId});
        QTest::mouseClick(w->Button1, Qt::LeftButton); // every exchange taken in
        w->cbSettlement->setEditText("нет такого");
        driver.press("OK");
        w->bbExecuteClick();
        QCOMPARE(driver.boxTexts.last(), QString("Выберите населенный пункт из списка"));
        QCOMPARE(w->ExchangeCount, 3);
        w->cbSettlement->setEditText(other.name);
        driver.press("OK");
        w->bbExecuteClick();
        QCOMPARE(w->CodAts->text(), QString("42159")); // the typed settlement is shown
        QCOMPARE(w->ExchangeCount, 2);
        QCOMPARE(driver.boxTexts.last(), QString("Не выбраны АТС"));
        QCOMPARE(readFile(w->lastRun().logPath).split('\n').at(2),
                 toWindows1251("Город: Тест-Другой\r"));
    }

    void windowIsBusyDuringARunAndUsableAfterAFailure() {
        auto signedIn = fixture::signedInDataModule(Login);
        ModalDriver driver;
        auto w = fixture::shownWindow(*signedIn, Town.name, driver);
        fixture::pickSettlement(*w, Town.name);
        Button1Untick(*w);
        auto recording = std::make_unique<RecordingSpreadsheet>();
        bool busyDrawn = false;
        recording->onCall = [&](const QString& call) {
            if (call == "connect")
                busyDrawn = !w->bbExecute->isEnabled() && w->PrBar->isVisible() &&
                            pixels::countColour(pixels::drawn(w.get()), w->Label1->geometry(),
                                                Qt::red) > 100;
            if (call.startsWith("rows 2,"))
                throw OfficeError("office gone");
        };
        w->cbListExcel = std::move(recording);
        driver.press("OK");
        QTimer::singleShot(0, w->bbExecute, &QPushButton::click);
        QTRY_COMPARE(driver.boxTexts.size(), 2); // the first question, the error
        QVERIFY(busyDrawn);
        QVERIFY2(driver.boxTexts[1].startsWith("Ошибка LibreOffice.") &&
                     driver.boxTexts[1].endsWith("\noffice gone."),
                 qPrintable(driver.boxTexts[1]));
        QVERIFY(w->bbExecute->isEnabled());
        QVERIFY(w->Label1->isHidden());
        QVERIFY(w->PrBar->isHidden());
        QVERIFY(snapshotUsers().isEmpty());
        w.reset();
    }

private:
    static void Button1Untick(TfmMain& w) { QTest::mouseClick(w.Button1, Qt::LeftButton); }
};

int main(int argc, char** argv) {
    TulminaApplication app(argc, argv);
    TestGeneration test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_generation.moc"

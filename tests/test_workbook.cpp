// The workbook report through a real, headless LibreOffice, driven by the
// generation run: the saved .xls (or the document the office holds open) is
// read back through the office and checked cell by cell, beside the snapshot
// rows in the database.
#include "data/fmCommonDM.h"
#include "lists/GenerationRun.h"
#include "platform/LibreOfficeSpreadsheet.h"
#include "platform/WorkAside.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/OfficeReader.h"
#include "tests/support/RecordingObserver.h"
#include "tests/support/TestDb.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WindowFixture.h"
#include "ui/TulminaApplication.h"
#include "ui/frmMain.h"

#include <QCheckBox>
#include <QComboBox>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const fixture::Settlement Town{
    "Тест-Отчёт 'Кавычка'", "2799999900200", "2799999900000", {"421771", "421772"}};
const fixture::Settlement Empty{"Тест-Пустой", "2799999900300", "2701000000000", {"421773"}};

QStringList snapshotUsers(const QString& table) {
    return testdb::snapshotUsers(table, 992001, 992009);
}

} // namespace

class TestWorkbook : public QObject {
    Q_OBJECT
    QTemporaryDir profile;
    QTemporaryDir work;
    office::Options options;
    std::unique_ptr<LibreOfficeSpreadsheet> office;
    std::unique_ptr<OfficeReader> reader;
    std::unique_ptr<TdmCommon> dm;
    RecordingObserver observer;

    RunParameters choice(const fixture::Settlement& s) const {
        RunParameters p;
        p.clientKindText = "Квартирники";
        p.settlement = {s.name, s.townId, s.territory, false};
        p.exchangeCount = int(s.codes.size());
        p.listKind = General;
        p.listKindText = "Общий";
        return p;
    }
    void runOn(const fixture::Settlement& s, Spreadsheet& sheet, RunLimits limits = {}) {
        GenerationRun(*dm, observer, limits).run(choice(s), QDir::currentPath(), &sheet);
    }
    QString workbookPath(const fixture::Settlement& s) const {
        return work.path() + "/" + s.name + ".xls";
    }

private slots:
    void initTestCase() {
        options = privateOffice("workbook", profile.path());
        office = std::make_unique<LibreOfficeSpreadsheet>(options);
        reader = std::make_unique<OfficeReader>(options);
        fixture::prepareWorkFolder(work.path());
        QDir::setCurrent(work.path());
        fixture::removeTestSettlements();
        fixture::addSettlement(Town);
        fixture::addSettlement(Empty);
        fixture::removeDebtors(Town);
        fixture::addDebtors(Town, {{"4217701234", -1234.5, 992001},
                                   {"4217720002", -10.25, 992002},
                                   {"4217720003", -5, 992003}});
        testdb::exec("kvarn", "delete from t_users where user_id between 992001 and 992009");
        testdb::exec("kvarn",
                     "insert into t_users (user_id, account, name, flat, house_id) "
                     "select 992001, '01234', 'Тестов Иван Петрович', '5', min(h.house_id) "
                     "from o_houses h join t_streets_ref s using (street_id) "
                     "where s.type_street_id = 3 and h.corpus = '2'");
        testdb::exec("kvarn", "insert into t_users (user_id, account, name, flat, house_id) "
                              "select 992003, '300', null, '0', min(house_id) from o_houses");
    }
    void cleanupTestCase() {
        dm.reset();
        testdb::dropLinkIfAny("wbrun");
        office.reset();
        if (reader)
            reader->terminate();
        killOffice(options);
        QTest::qWait(300);
        fixture::removeDebtors(Town);
        for (const char* t : {"pays_debs_tmp", "pays_debs_tmp_r"})
            testdb::exec("report",
                         QString("delete from %1 where user_id between 992001 and 992009").arg(t));
        testdb::exec("kvarn", "delete from t_users where user_id between 992001 and 992009");
        fixture::removeTestSettlements();
        QDir::setCurrent("/");
    }
    void init() {
        for (const char* t : {"pays_debs_tmp", "pays_debs_tmp_r"})
            testdb::exec("report",
                         QString("delete from %1 where user_id between 992001 and 992009").arg(t));
        dm = fixture::signedInDataModule("wbrun");
        observer = {};
    }
    void cleanup() { dm.reset(); }

    // Blocks of one debtor: every block a call of its own into the office.
    void reportReadsBackCellByCell() {
        runOn(Town, *office, {65534, 1});
        const auto sheet = reader->readFile(workbookPath(Town), 5, 6);
        const auto& title = sheet.rows[0];
        QCOMPARE(title[0].text, QString("ID"));
        QCOMPARE(title[1].text, QString("Лицевой счёт"));
        QCOMPARE(title[5].text, QString("Адрес"));
        const auto& r2 = sheet.rows[1];
        QCOMPARE(r2[0].text, QString("992001"));
        QVERIFY(!r2[0].isNumber);
        QCOMPARE(r2[1].text, QString("01234")); // texts keep their leading zeros
        QVERIFY(!r2[1].isNumber);
        QCOMPARE(r2[2].text, QString("01234"));
        QVERIFY(!r2[2].isNumber);
        QCOMPARE(r2[3].text, QString("Тестов Иван Петрович"));
        QVERIFY(r2[4].isNumber);
        QCOMPARE(r2[4].value, -1234.5);
        // Debts show as a Russian reader writes them: grouped, two decimals, a comma.
        QCOMPARE(QString(r2[4].text).replace(QChar(0xA0), ' '), QString("-1 234,50"));
        QVERIFY2(r2[5].text.contains(" ШОССЕ д.") && r2[5].text.endsWith("/2 кв.5"),
                 qPrintable(r2[5].text));
        const auto& r3 = sheet.rows[2]; // a debtor without a billing row
        QCOMPARE(r3[0].text, QString("992002"));
        QCOMPARE(r3[1].text + r3[3].text + r3[5].text, QString());
        QCOMPARE(r3[2].text, QString("20002"));
        QCOMPARE(r3[4].value, -10.25);
        const auto& r4 = sheet.rows[3]; // a subscriber without a name, flat "0"
        QCOMPARE(r4[1].text, QString("300"));
        QCOMPARE(r4[3].text, QString());
        QVERIFY2(!r4[5].text.contains("кв."), qPrintable(r4[5].text));
        const auto& total = sheet.rows[4];
        QCOMPARE(total[3].text, QString("Сумма оплат на отчётную дату"));
        QCOMPARE(total[4].value, -1249.75);
        QCOMPARE(QString(total[4].text).replace(QChar(0xA0), ' '), QString("-1 249,75"));
        QVERIFY(total[2].bold && total[3].bold && total[4].bold);
        QVERIFY(!total[1].bold && !total[5].bold && !r2[3].bold);
        QVERIFY(total[3].alignedRight && total[4].alignedRight);
        QVERIFY(!total[2].alignedRight);
        QCOMPARE(sheet.columnVisible, std::vector<bool>({false, true, true, true, true, true}));
        QCOMPARE(snapshotUsers("pays_debs_tmp_r"), QStringList({"992001", "992002", "992003"}));
        QCOMPARE(snapshotUsers("pays_debs_tmp"), QStringList());
        QCOMPARE(observer.progressValues, QList<int>({-3, 1, 2, 3}));
    }

    void secondReportReplacesTheFirstInTheOfficeAndOnDisk() {
        runOn(Town, *office);
        testdb::exec("report", "update lst_deb_always set cur_deb = -99 where user_id = 992002");
        const auto restore = qScopeGuard([] {
            testdb::exec("report",
                         "update lst_deb_always set cur_deb = -10.25 where user_id = 992002");
        });
        const int documents = reader->openDocuments();
        runOn(Town, *office);
        QCOMPARE(reader->openDocuments(), documents);
        QCOMPARE(reader->readFile(workbookPath(Town), 4, 6).rows[2][4].value, -99.0);
        QCOMPARE(snapshotUsers("pays_debs_tmp_r").size(), 6); // each report its own rows
        QCOMPARE(QDir(work.path()).entryList({"*.xls"}).size(), 1);
    }

    void anEarlierReportTheUserChangedIsNeverClosed() {
        runOn(Town, *office);
        reader->editOpenDocument(workbookPath(Town), 2, 4, "правка оператора");
        const auto closeIt = qScopeGuard([&] { reader->closeOpenDocument(workbookPath(Town)); });
        try {
            runOn(Town, *office);
            QFAIL("the changed report was replaced");
        } catch (const std::exception& e) {
            QVERIFY2(QString(e.what()).contains(Town.name + ".xls"), e.what());
        }
        QVERIFY(reader->isModified(workbookPath(Town)));
        QCOMPARE(reader->readOpenDocument(workbookPath(Town), 2, 4).rows[1][3].text,
                 QString("правка оператора"));
    }

    void zeroDebtorsGiveOnlyTheTotalRow() {
        runOn(Empty, *office);
        const auto sheet = reader->readFile(workbookPath(Empty), 3, 6);
        QCOMPARE(sheet.rows[1][3].text, QString("Сумма оплат на отчётную дату"));
        QVERIFY(sheet.rows[1][4].isNumber);
        QCOMPARE(sheet.rows[1][4].value, 0.0);
        QVERIFY(sheet.rows[1][2].bold && sheet.rows[1][4].bold);
        QVERIFY(sheet.rows[1][3].alignedRight);
        QCOMPARE(sheet.rows[2][3].text, QString());
        QVERIFY(!sheet.columnVisible[0]);
        QCOMPARE(snapshotUsers("pays_debs_tmp").size() + snapshotUsers("pays_debs_tmp_r").size(),
                 0);
    }

    // After a failure the snapshot holds exactly the debtors whose rows the
    // workbook left open in the office holds.
    // A report that fails after its first save leaves neither its file, nor a
    // document in the office, nor a snapshot row of the blocks before.
    void failedReportLeavesNothingBehind() {
        const int documents = reader->openDocuments();
        QFile::remove(workbookPath(Town));
        const auto files = [] { return QDir().entryList(QDir::Files | QDir::Hidden); };
        const QStringList before = files();
        {
            const testdb::RefusedSnapshot refused(992003);
            QVERIFY_THROWS_EXCEPTION(std::exception, runOn(Town, *office, {65534, 2}));
        }
        QVERIFY(!QFile::exists(workbookPath(Town)));
        QCOMPARE(files(), before);
        QCOMPARE(reader->openDocuments(), documents);
        QCOMPARE(snapshotUsers("pays_debs_tmp_r"), QStringList());
        runOn(Town, *office, {65534, 2});
        // The report shown in the office holds its file, and nothing else is left.
        QStringList after =
            before + QStringList({".~lock." + Town.name + ".xls#", Town.name + ".xls"});
        after.sort();
        QCOMPARE(files(), after);
        QCOMPARE(userIdColumn(reader->readFile(workbookPath(Town), 5, 1)).size(), 3);
        QCOMPARE(snapshotUsers("pays_debs_tmp_r").size(), 3);
    }

    // Names that cannot be a file name as they stand.
    void longAndEmptyNamesGiveFileNamesThatWork() {
        testdb::exec("report", "alter table atstown alter column name type varchar(400)");
        const fixture::Settlement longName{
            "Тест" + QString(296, QChar(0x416)), "2799999900210", "2799999900000", {"421774"}};
        const fixture::Settlement noName{"", "2799999900220", "2799999900000", {"421775"}};
        fixture::addSettlement(longName);
        fixture::addSettlement(noName);
        const auto remove = qScopeGuard([] {
            testdb::exec("report", "delete from atstown where town_id in "
                                   "(2799999900210, 2799999900220)");
        });
        runOn(longName, *office);
        const QString cut = work.path() + "/Тест" + QString(117, QChar(0x416)) + ".xls";
        QVERIFY2(QFile::exists(cut), qPrintable(QDir(work.path()).entryList().join(", ")));
        QCOMPARE(reader->readFile(cut, 2, 4).rows[1][3].text,
                 QString("Сумма оплат на отчётную дату"));
        runOn(noName, *office);
        QVERIFY(QFile::exists(work.path() + "/Без названия 2799999900220.xls"));
    }

    // Two towns of one name, a town without a name and one with an empty name:
    // each item of the window's list is its own town, down to the workbook.
    void eachSettlementItemIsItsOwnTown() {
        const QList<fixture::Settlement> towns{
            {"Тест-Двойник", "2799999900610", "2799999900000", {"421611", "421612"}},
            {"Тест-Двойник", "2799999900620", "2799999900000", {"421621"}},
            {QString(), "2799999900630", "2799999900000", {"421631"}},
            {"", "2799999900640", "2799999900000", {"421641"}}};
        const QStringList files{"Тест-Двойник 2799999900610.xls", "Тест-Двойник 2799999900620.xls",
                                "Без названия 2799999900630.xls", "Без названия 2799999900640.xls"};
        const auto remove = qScopeGuard([] {
            testdb::exec("report", "delete from atstown where town_id between 2799999900610 and "
                                   "2799999900640");
            testdb::exec("report", "delete from lst_deb_always where town_id between "
                                   "2799999900610 and 2799999900640");
        });
        testdb::removeSnapshots(992011, 992049);
        for (qsizetype k = 0; k < towns.size(); ++k) {
            fixture::addSettlement(towns[k]);
            fixture::addDebtors(
                towns[k], {{"42161" + QString::number(k + 1) + "0011", -1.0 - k, 992011 + 10 * k}});
        }
        auto signedIn = fixture::signedInDataModule("wbtest");
        signedIn->sqSettlement->replaceLine(
            2, "from atstown where town_id between 2799999900610 and 2799999900640");
        ModalDriver driver;
        TfmMain w;
        w.setDataModule(signedIn.get());
        w.cbListExcel = std::make_unique<LibreOfficeSpreadsheet>(options);
        driver.press("OK");
        w.showMainWindow();
        QCOMPARE(w.cbSettlement->count(), 4);
        QSet<QString> workbooks;
        for (int item = 0; item < 4; ++item) {
            const QString townId = w.settlementItem(item).townId.toString();
            const qsizetype k = std::find_if(towns.begin(), towns.end(),
                                             [&](const auto& t) { return t.townId == townId; }) -
                                towns.begin();
            QVERIFY2(k < towns.size(), qPrintable(townId));
            fixture::pickItem(w, item);
            QCOMPARE(w.ExchangeCount, int(towns[k].codes.size()));
            for (int box = 1; box <= w.ExchangeCount; ++box)
                w.ExchangeBoxes[box]->setChecked(false);
            QTest::mouseClick(w.bbExecute, Qt::LeftButton); // "Анализ", preset
            QVERIFY2(driver.unexpected == 0, qPrintable(driver.boxTexts.join(" | ")));
            const RunOutcome& run = w.lastRun();
            QCOMPARE(run.workbookPath, work.path() + "/" + files[k]);
            QCOMPARE(readFile(run.phoneListPath), QByteArray::number(k + 1) + "0011\r\n");
            QCOMPARE(userIdColumn(reader->readFile(run.workbookPath, 3, 1)),
                     QStringList{QString::number(992011 + 10 * k)});
            workbooks << run.workbookPath;
        }
        QCOMPARE(workbooks.size(), 4);
        QCOMPARE(testdb::snapshotUsers("pays_debs_tmp_r", 992011, 992049),
                 QStringList({"992011", "992021", "992031", "992041"}));
        QCOMPARE(driver.unexpected, 0);
        testdb::dropLinkIfAny("wbtest");
    }

    void anOfficeThatNeverAnswersIsGivenUpOn() {
        office::Options silent = options;
        silent.pipeName += "_silent";
        silent.program = "/bin/true";
        silent.startTimeoutMs = 500;
        LibreOfficeSpreadsheet never(silent);
        try {
            never.connect();
            QFAIL("connected to nothing");
        } catch (const std::exception& e) {
            QVERIFY2(QString(e.what()).contains("LibreOffice не ответил"), e.what());
        }
    }

    // While the office works, the window's thread goes on with its events;
    // what the work throws reaches the caller.
    void officeWorkLeavesTheEventLoopGoing() {
        bool timerFired = false;
        QTimer::singleShot(50, [&] { timerFired = true; });
        bool firedDuringWork = false;
        aside([&] {
            QThread::msleep(400);
            firedDuringWork = timerFired;
        });
        QVERIFY(firedDuringWork);
        QVERIFY_THROWS_EXCEPTION(OfficeError, aside([] { throw OfficeError("нет офиса"); }));
        QCOMPARE(aside([] { return 7; }), 7);
    }
};

int main(int argc, char** argv) {
    TulminaApplication app(argc, argv);
    TestWorkbook test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_workbook.moc"

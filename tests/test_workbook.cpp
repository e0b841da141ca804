// The workbook report through a real, headless LibreOffice: the saved .xls is
// read back through the office and checked cell by cell.
#include "data/fmCommonDM.h"
#include "platform/LibreOfficeSpreadsheet.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/TestDb.h"
#include "tests/support/WindowFixture.h"
#include "ui/TulminaApplication.h"
#include "ui/frmMain.h"

#include <QCheckBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <signal.h>

namespace {
const QString Login = QStringLiteral("wbtest");
const fixture::Settlement Town{
    "Тест-Отчёт", "2799999900200", "2799999900000", {"421771", "421772"}};
const fixture::Settlement Empty{"Тест-Пустой", "2799999900300", "2701000000000", {"421773"}};

// Forwards to the office and can kill it before a given operation.
class KillingSpreadsheet : public Spreadsheet {
public:
    explicit KillingSpreadsheet(LibreOfficeSpreadsheet& office) : office_(office) {}
    QString pipeName;
    QString killBefore; // e.g. "number" (the k-th numeric cell write)
    int killAtCount = 0;
    int numbers = 0;

    void connect() override { office_.connect(); }
    void openWorkbook(const QString& p) override { office_.openWorkbook(p); }
    void saveWorkbookAs(const QString& p) override { office_.saveWorkbookAs(p); }
    void setCellText(int r, int c, const QString& t) override { office_.setCellText(r, c, t); }
    void setCellNumber(int r, int c, double v) override {
        if (killBefore == "number" && ++numbers == killAtCount) {
            QProcess::execute("pkill", {"-9", "-f", "pipe,name=" + pipeName});
            QTest::qWait(500);
        }
        office_.setCellNumber(r, c, v);
    }
    void alignRight(int r, int a, int b) override { office_.alignRight(r, a, b); }
    void setBold(int r, int a, int b) override { office_.setBold(r, a, b); }
    void hideColumn(int c) override { office_.hideColumn(c); }
    void saveWorkbook() override { office_.saveWorkbook(); }
    void makeVisible() override { office_.makeVisible(); }
    void disconnect() override { office_.disconnect(); }

private:
    LibreOfficeSpreadsheet& office_;
};

int snapshotRows(const QString& table) {
    return testdb::scalar("report", "select count(*) from " + table +
                                        " where user_id between 992001 and 992009")
        .toInt();
}
} // namespace

class TestWorkbook : public QObject {
    Q_OBJECT
    QTemporaryDir profile;
    QTemporaryDir work;
    std::unique_ptr<LibreOfficeSpreadsheet> office;
    std::unique_ptr<TdmCommon> dm;
    std::unique_ptr<ModalDriver> driver;
    std::unique_ptr<TfmMain> w;
    KillingSpreadsheet* killer = nullptr;
    QString pipeName = QStringLiteral("tulmina_test_%1").arg(QCoreApplication::applicationPid());

    void openWindowOn(const fixture::Settlement& s) {
        dm = fixture::signedInDataModule(Login);
        driver = std::make_unique<ModalDriver>();
        w = fixture::shownWindow(*dm, s.name, *driver);
        fixture::pickSettlement(*w, s.name);
        for (int k = 1; k <= w->ExchangeCount; ++k)
            w->ExchangeBoxes[k]->setChecked(false);
        auto k = std::make_unique<KillingSpreadsheet>(*office);
        k->pipeName = pipeName;
        killer = k.get();
        w->cbListExcel = std::move(k);
        driver->press("OK");
        fixture::pickListKind(*w, General);
        QDir::setCurrent(work.path());
    }
    QString workbookPath(const QString& settlement) const {
        return work.path() + "/" + settlement + ".xls";
    }

private slots:
    void initTestCase() {
        LibreOfficeSpreadsheet::Options options;
        options.pipeName = pipeName;
        options.profileDir = profile.path();
        options.headless = true;
        office = std::make_unique<LibreOfficeSpreadsheet>(options);
        fixture::prepareWorkFolder(work.path());
        fixture::removeTestSettlements();
        fixture::addSettlement(Town);
        fixture::addSettlement(Empty);
        fixture::removeDebtors(Town);
        fixture::addDebtors(Town,
                            {{"4217710001", -1234.5, 992001}, {"4217720002", -10.25, 992002}});
        testdb::exec("kvarn", "delete from t_users where user_id between 992001 and 992009");
        testdb::exec("kvarn",
                     "insert into t_users (user_id, account, name, flat, house_id) "
                     "select 992001, '01234', 'Тестов Иван Петрович', '5', min(h.house_id) "
                     "from o_houses h join t_streets_ref s using (street_id) "
                     "where s.type_street_id = 3 and h.corpus = '2'");
    }
    void cleanupTestCase() {
        w.reset();
        dm.reset();
        if (office)
            office->terminateOffice();
        QProcess::execute("pkill", {"-9", "-f", "pipe,name=" + pipeName}); // whatever did not end
        QTest::qWait(300);
        fixture::removeDebtors(Town);
        testdb::exec("report", "delete from pays_debs_tmp where user_id between 992001 and 992009");
        testdb::exec("report",
                     "delete from pays_debs_tmp_r where user_id between 992001 and 992009");
        testdb::exec("kvarn", "delete from t_users where user_id between 992001 and 992009");
        fixture::removeTestSettlements();
        testdb::dropLinkIfAny(Login);
        QDir::setCurrent("/");
    }
    void init() {
        testdb::exec("report",
                     "delete from pays_debs_tmp_r where user_id between 992001 and 992009");
        testdb::exec("report", "delete from pays_debs_tmp where user_id between 992001 and 992009");
    }
    void cleanup() {
        w.reset();
        driver.reset();
        dm.reset();
    }

    void reportReadsBackCellByCell() {
        openWindowOn(Town);
        w->bbExecuteClick();
        const auto sheet = office->readBack(workbookPath(Town.name), 4, 6);
        const auto& r1 = sheet.rows[0];
        QCOMPARE(r1[0].text, QString("ID"));
        QCOMPARE(r1[1].text, QString("Лицевой счёт"));
        QCOMPARE(r1[5].text, QString("Адрес"));
        const auto& r2 = sheet.rows[1];
        QCOMPARE(r2[0].text, QString("992001"));
        QVERIFY(!r2[0].isNumber);
        QCOMPARE(r2[1].text, QString("01234")); // a text keeps its leading zero
        QVERIFY(!r2[1].isNumber);
        QCOMPARE(r2[2].text, QString("10001"));
        QCOMPARE(r2[3].text, QString("Тестов Иван Петрович"));
        QVERIFY(r2[4].isNumber);
        QCOMPARE(r2[4].value, -1234.5);
        QVERIFY2(r2[5].text.contains(" ш. ") || r2[5].text.contains("ШОССЕ"),
                 qPrintable(r2[5].text));
        QVERIFY(r2[5].text.contains("/2 кв.5"));
        const auto& r3 = sheet.rows[2]; // a debtor without a billing row
        QCOMPARE(r3[0].text, QString("992002"));
        QCOMPARE(r3[1].text, QString());
        QCOMPARE(r3[3].text, QString());
        QCOMPARE(r3[4].value, -10.25);
        const auto& total = sheet.rows[3];
        QCOMPARE(total[3].text, QString("Сумма оплат на отчётную дату"));
        QCOMPARE(total[4].value, -1244.75);
        QVERIFY(total[2].bold && total[3].bold && total[4].bold);
        QVERIFY(!total[1].bold && !total[5].bold);
        QVERIFY(total[3].alignedRight && total[4].alignedRight);
        QVERIFY(!total[2].alignedRight);
        QVERIFY(!r2[3].bold);
        QCOMPARE(sheet.columnVisible, std::vector<bool>({false, true, true, true, true, true}));
        QCOMPARE(snapshotRows("pays_debs_tmp_r"), 2);
        QCOMPARE(snapshotRows("pays_debs_tmp"), 0);
    }

    void secondReportOverwritesTheSameFile() {
        openWindowOn(Town);
        w->bbExecuteClick();
        testdb::exec("report", "update lst_deb_always set cur_deb = -99 where user_id = 992002");
        w->bbExecuteClick();
        testdb::exec("report", "update lst_deb_always set cur_deb = -10.25 where user_id = 992002");
        const auto sheet = office->readBack(workbookPath(Town.name), 4, 6);
        QCOMPARE(sheet.rows[2][4].value, -99.0);
        QCOMPARE(snapshotRows("pays_debs_tmp_r"), 4); // each report inserts its own rows
        QCOMPARE(QDir(work.path()).entryList({"*.xls"}).size(), 1);
    }

    void zeroDebtorsGiveOnlyTheTotalRow() {
        openWindowOn(Empty);
        w->bbExecuteClick();
        const auto sheet = office->readBack(workbookPath(Empty.name), 3, 6);
        QCOMPARE(sheet.rows[1][3].text, QString("Сумма оплат на отчётную дату"));
        QVERIFY(sheet.rows[1][4].isNumber);
        QCOMPARE(sheet.rows[1][4].value, 0.0);
        QVERIFY(sheet.rows[1][2].bold && sheet.rows[1][4].bold);
        QVERIFY(sheet.rows[1][3].alignedRight);
        QCOMPARE(sheet.rows[2][3].text, QString());
        QVERIFY(!sheet.columnVisible[0]);
        QCOMPARE(snapshotRows("pays_debs_tmp") + snapshotRows("pays_debs_tmp_r"), 0);
    }

    void missingTemplateIsReportedAndInsertsNothing() {
        openWindowOn(Town);
        const QString tpl = work.path() + "/Tulmin/DudoVezir/DudoVezir.xls";
        QVERIFY(QFile::rename(tpl, tpl + ".away"));
        QTimer::singleShot(0, w->bbExecute, &QPushButton::click);
        QTRY_COMPARE_WITH_TIMEOUT(driver->boxTexts.size(), 3, 30000);
        QVERIFY(QFile::rename(tpl + ".away", tpl));
        QVERIFY(!driver->boxTexts[2].isEmpty());
        QCOMPARE(snapshotRows("pays_debs_tmp_r"), 0);
        QVERIFY(w->bbExecute->isEnabled());
    }

    void officeKilledMidReportIsReportedAndTheNextReportWorks() {
        openWindowOn(Town);
        killer->killBefore = "number";
        killer->killAtCount = 2; // after the first debtor's row and both snapshots but one
        QTimer::singleShot(0, w->bbExecute, &QPushButton::click);
        QTRY_COMPARE_WITH_TIMEOUT(driver->boxTexts.size(), 3, 60000);
        QVERIFY(!driver->boxTexts[2].isEmpty());
        QCOMPARE(snapshotRows("pays_debs_tmp_r"), 2); // the second debtor's insert came before
        killer->killBefore.clear();
        w->bbExecuteClick();
        const auto sheet = office->readBack(workbookPath(Town.name), 4, 6);
        QCOMPARE(sheet.rows[3][3].text, QString("Сумма оплат на отчётную дату"));
        QCOMPARE(snapshotRows("pays_debs_tmp_r"), 4);
    }
};

int main(int argc, char** argv) {
    TulminaApplication app(argc, argv);
    TestWorkbook test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_workbook.moc"

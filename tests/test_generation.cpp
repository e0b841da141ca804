// The generation run: parameter log, debtor query assembly, phone list, and the
// report's logic with a recording spreadsheet, against the stand-in.
#include "data/fmCommonDM.h"
#include "lists/GenerationRun.h"
#include "platform/TextFile.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/Pixels.h"
#include "tests/support/RecordingSpreadsheet.h"
#include "tests/support/TestDb.h"
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

namespace {
const QString Login = QStringLiteral("gentest");
const fixture::Settlement Town{
    "Тест-Прогон", "2799999900100", "2799999900000", {"421761", "421762", "421763"}};

QByteArray crlf(const QStringList& lines) {
    QByteArray bytes;
    for (const QString& l : lines)
        bytes += toWindows1251(l) + "\r\n";
    return bytes;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QString today() {
    return QDate::currentDate().toString("dd.MM.yyyy");
}
} // namespace

class TestGeneration : public QObject {
    Q_OBJECT
    std::unique_ptr<TdmCommon> dm;
    std::unique_ptr<ModalDriver> driver;
    std::unique_ptr<TfmMain> w;
    std::unique_ptr<QTemporaryDir> work;
    RecordingSpreadsheet* sheet = nullptr;

    QString logPath() const { return "Tulmin/LogParam/" + w->Run.RunStamp + ".txt"; }
    QString listPath() const { return w->Run.StationFilePath; }
    QString line(int n) const { return dm->sqLstPhonDelTab->lines().at(n); }
    void tick(std::initializer_list<bool> ticks) {
        int k = 1;
        for (bool t : ticks)
            w->ExchangeBoxes[k++]->setChecked(t);
    }
    void run() {
        QDir::setCurrent(work->path());
        w->bbExecuteClick();
    }

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
    }
    void cleanupTestCase() {
        fixture::removeDebtors(Town);
        testdb::exec("report",
                     "delete from pays_debs_tmp_r where user_id between 991001 and 991007");
        fixture::removeTestSettlements();
        testdb::dropLinkIfAny(Login);
    }
    void init() {
        work = std::make_unique<QTemporaryDir>();
        fixture::prepareWorkFolder(work->path());
        dm = fixture::signedInDataModule(Login);
        driver = std::make_unique<ModalDriver>();
        w = fixture::shownWindow(*dm, Town.name, *driver);
        fixture::pickSettlement(*w, Town.name);
        auto recording = std::make_unique<RecordingSpreadsheet>();
        sheet = recording.get();
        w->cbListExcel = std::move(recording);
        QDir::setCurrent(work->path());
        testdb::exec("report",
                     "delete from pays_debs_tmp_r where user_id between 991001 and 991007");
    }
    void cleanup() {
        w.reset();
        driver.reset();
        dm.reset();
        QDir::setCurrent("/");
        work.reset();
    }

    void stampAndRemoveAll() {
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
    }

    void textFilesAreWindows1251WithCrLf() {
        QCOMPARE(toWindows1251("Кто: ё"), QByteArray("\xCA\xF2\xEE: \xB8"));
        QCOMPARE(toWindows1251("a€密b"), QByteArray("a\x88?b"));
    }

    void freshLoadStopsWithNoExchangesChosen() {
        driver->press("OK");
        run();
        QCOMPARE(driver->boxTexts.last(), QString("Не выбраны АТС"));
        QCOMPARE(readFile(logPath()),
                 crlf({"Кто: Квартирники", "Размер долга: >0", "Город: Тест-Прогон"}));
        QVERIFY(!QFile::exists(listPath()));
        QCOMPARE(line(20), QString("-- and (  substr(phone, 5, 2) = '00' or"));
        QCOMPARE(line(21), QString("-- and d1.date_on < '01.06.2008'"));
        QVERIFY(!dm->sqLstPhonDelTab->isOpen());
        QVERIFY(w->bbExecute->isEnabled());
    }

    void noBoxTickedTakesEveryExchange() {
        QTest::mouseClick(w->Button1, Qt::LeftButton);
        fixture::pickListKind(*w, CallRound);
        run();
        QCOMPARE(line(19), QString(" iscorp = 'N'"));
        QCOMPARE(line(20), QString());
        QCOMPARE(line(21), QString());
        QCOMPARE(line(22), QString(" and town_id = '2799999900100'"));
        QCOMPARE(line(23), QString(" and cur_deb < 0"));
        QCOMPARE(dm->sqLstPhonDelTab->lines().size(), 26);
        QCOMPARE(readFile(logPath()),
                 crlf({"Кто: Квартирники", "Размер долга: >0", "Город: Тест-Прогон",
                       "Невошедшие АТС: ", "", "Какой: Тулмин"}));
        // Two accounts on one number give two lines; a number of the wrong length an
        // empty line, after all others.
        QCOMPARE(readFile(listPath()), QByteArray("10001\r\n10001\r\n20002\r\n30003\r\n\r\n"));
        QCOMPARE(w->Run.DebtorCount, 5);
        QVERIFY(!dm->sqLstPhonDelTab->isOpen());
        QVERIFY(sheet->calls.isEmpty());
        QVERIFY(w->bbExecute->isEnabled());
        QVERIFY(w->Label1->isHidden());
        QCOMPARE(w->Run.RunStamp.size(), 12);
    }

    void tickedBoxesAreLeftOut() {
        fixture::pickListKind(*w, CallRound);
        tick({true, false, false});
        run();
        QCOMPARE(line(20), QString(" and substr(phone, 1, 6) not in ('421761')"));
        QCOMPARE(readFile(listPath()), QByteArray("20002\r\n30003\r\n\r\n"));
        tick({true, false, true});
        run();
        QCOMPARE(line(20), QString(" and substr(phone, 1, 6) not in ('421761' , '421763')"));
        QCOMPARE(readFile(logPath()).split('\n').at(3),
                 toWindows1251("Невошедшие АТС: , 61, 63\r"));
        QCOMPARE(readFile(listPath()), QByteArray("20002\r\n\r\n"));
    }

    void minimumDebtReachesTheQueryWithAPoint() {
        fixture::pickListKind(*w, CallRound);
        tick({false, false, false});
        w->ceSumma->setText("-120,50");
        run();
        QCOMPARE(w->ceSumma->text(), QString("-120,5"));
        QCOMPARE(line(23), QString(" and cur_deb < -120.5"));
        QCOMPARE(readFile(logPath()).split('\n').at(1), toWindows1251("Размер долга: >-120,5\r"));
        QCOMPARE(readFile(listPath()), QByteArray("10001\r\n20002\r\n\r\n"));
        w->ceSumma->setText("500");
        run();
        QCOMPARE(line(23), QString(" and cur_deb < 500"));
    }

    void dateChoices_data() {
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("logLine");
        QTest::addColumn<QString>("clause");
        QTest::addColumn<QByteArray>("list");
        QTest::newRow("До") << 0 << "До: 01.01.2005"
                            << " and date_on < '01.01.2005' " << QByteArray("10001\r\n10001\r\n");
        QTest::newRow("После") << 1 << "После: 01.01.2005"
                               << " and date_on > '01.01.2005' "
                               << QByteArray("20002\r\n30003\r\n\r\n");
        QTest::newRow("Между") << 2 << "C: 01.01.2005 По: " + today()
                               << " and date_on between '01.01.2005' and '" + today() + "' "
                               << QByteArray("20002\r\n30003\r\n\r\n");
    }
    void dateChoices() {
        QFETCH(int, choice);
        QFETCH(QString, logLine);
        QFETCH(QString, clause);
        QFETCH(QByteArray, list);
        fixture::pickListKind(*w, CallRound);
        tick({false, false, false});
        const QDate d(2005, 1, 1);
        if (choice == 0)
            w->DateTimePickerTo->setDate(d);
        else if (choice == 1)
            w->DateTimePickerAfter->setDate(d);
        else {
            w->DateTimePickerBetween1->setDate(d);
            w->DateTimePickerBetween2->setDate(QDate::currentDate());
        }
        run();
        QCOMPARE(readFile(logPath()).split('\n').at(4), toWindows1251(logLine + "\r"));
        QVERIFY(readFile(logPath()).split('\n').at(4).startsWith(choice == 2 ? "C: " : ""));
        QCOMPARE(line(21), clause);
        QCOMPARE(w->Run.DateClause, clause);
        QCOMPARE(readFile(listPath()), list);
    }

    void noClientKindSelectedMeansOrganisations() {
        fixture::pickListKind(*w, CallRound);
        tick({false, false, false});
        w->cbTypeUser->setCurrentIndex(-1);
        run();
        QCOMPARE(line(19), QString(" iscorp = 'Y'"));
        QCOMPARE(readFile(listPath()), QByteArray("30004\r\n"));
    }

    void emptyResultGivesAnEmptyFile() {
        fixture::pickListKind(*w, CallRound);
        tick({false, false, false});
        w->ceSumma->setText("-100000");
        run();
        QCOMPARE(w->Run.DebtorCount, 0);
        QCOMPARE(readFile(listPath()), QByteArray());
    }

    void noListKindRunsTheQueryAndWritesNothingElse() {
        tick({false, false, false});
        w->cbTypeCall->setCurrentIndex(-1);
        run();
        QCOMPARE(w->Run.DebtorCount, 5);
        QVERIFY(dm->sqLstPhonDelTab->isOpen());
        QVERIFY(!QFile::exists(listPath()));
        QVERIFY(sheet->calls.isEmpty());
        QCOMPARE(readFile(logPath()).split('\n').size(), 7); // six lines and the last CR LF
    }

    void missingStationFolderIsReportedAndTheWindowStaysUsable() {
        fixture::pickListKind(*w, CallRound);
        tick({false, false, false});
        QDir(work->path()).rmdir("Tulmin/Station");
        driver->press("OK");
        QTimer::singleShot(0, w->bbExecute, &QPushButton::click);
        QTRY_COMPARE(driver->boxTexts.size(), 2);
        QVERIFY2(driver->boxTexts[1].contains("Tulmin/Station/"), qPrintable(driver->boxTexts[1]));
        QVERIFY(w->bbExecute->isEnabled());
        QVERIFY(w->Label1->isHidden());
        QCOMPARE(readFile(logPath()).split('\n').size(), 7);
    }

    void analysisWritesTheListThenTheReport() {
        tick({false, false, false});
        bool busyDuringReport = false;
        sheet->onCall = [&](const QString& call) {
            if (call == "connect")
                busyDuringReport = !w->bbExecute->isEnabled() && w->Label1->isVisible() &&
                                   w->PrBar->isVisible() && QFile::exists(listPath()) &&
                                   pixels::countColour(pixels::drawn(w.get()),
                                                       w->Label1->geometry(), Qt::red) > 100;
        };
        run();
        QVERIFY(busyDuringReport);
        QCOMPARE(sheet->calls.at(1), "open " + work->path() + "/Tulmin/DudoVezir/DudoVezir.xls");
        QCOMPARE(sheet->calls.at(2), "saveAs " + work->path() + "/Тест-Прогон.xls");
        // Row 2: the first debtor. Its subscriber has no billing row: empty address cells.
        // The two accounts of 10001 come first, in either order.
        const QString firstUser = sheet->cells.value({2, 1}).toString();
        QVERIFY(firstUser == "991001" || firstUser == "991002");
        QCOMPARE(sheet->cells.value({2, 2}).toString(), QString());
        QCOMPARE(sheet->cells.value({2, 3}).toString(), QString("10001"));
        QCOMPARE(sheet->cells.value({2, 5}).toDouble(), firstUser == "991001" ? -100.0 : -150.0);
        QCOMPARE(sheet->cells.value({4, 3}).toString(), QString("20002"));
        QCOMPARE(sheet->cells.value({6, 3}).toString(), QString());
        QCOMPARE(sheet->cells.value({7, 4}).toString(), QString("Сумма оплат на отчётную дату"));
        QCOMPARE(sheet->cells.value({7, 5}).toDouble(), -100.0 - 150 - 200 - 300 - 50);
        QCOMPARE(sheet->calls.mid(sheet->calls.size() - 8),
                 QStringList({"alignRight 7:4-5", "bold 7:3-5", "number 7,5", "text 7,4", "hide 1",
                              "save", "visible", "disconnect"}));
        QCOMPARE(testdb::scalar("report", "select count(*) from pays_debs_tmp_r where user_id "
                                          "between 991001 and 991007 and pay_date = current_date")
                     .toInt(),
                 5);
        QVERIFY(w->PrBar->isHidden());
        QCOMPARE(w->PrBar->maximum(), 5);
        QCOMPARE(w->PrBar->value(), 5);
        QVERIFY(dm->sqLstPhonDelTab->isOpen());
        QCOMPARE(dm->sqListPhone->lines().at(33),
                 " and t1.user_id = " + sheet->cells.value({6, 1}).toString()); // the last debtor's
    }

    void callRoundInsertsNothing() {
        fixture::pickListKind(*w, CallRound);
        tick({false, false, false});
        run();
        QVERIFY(sheet->calls.isEmpty());
        QCOMPARE(testdb::scalar("report", "select count(*) from pays_debs_tmp_r where user_id "
                                          "between 991001 and 991007")
                     .toInt(),
                 0);
    }

    void failingReportKeepsInsertedRowsAndCleansUp() {
        driver->press("OK");
        fixture::pickListKind(*w, General);
        tick({false, false, false});
        sheet->onCall = [](const QString& call) {
            if (call == "number 4,5")
                throw std::runtime_error("office gone");
        };
        driver->press("OK");
        QTimer::singleShot(0, w->bbExecute, &QPushButton::click);
        QTRY_COMPARE(driver->boxTexts.size(), 3); // question, list-kind warning, error
        QCOMPARE(driver->boxTexts[2], QString("office gone."));
        QVERIFY(w->bbExecute->isEnabled());
        QVERIFY(w->Label1->isHidden());
        QVERIFY(w->PrBar->isHidden());
        QCOMPARE(testdb::scalar("report", "select count(*) from pays_debs_tmp_r where user_id "
                                          "between 991001 and 991007")
                     .toInt(),
                 3);
        QVERIFY(!sheet->calls.contains("disconnect"));
    }

    void officeGoneBeforeAnInsertStopsTheReportThere() {
        driver->press("OK");
        fixture::pickListKind(*w, General);
        tick({false, false, false});
        int checks = 0;
        sheet->onCall = [&](const QString& call) {
            if (call == "check" && ++checks == 2)
                throw std::runtime_error("office gone");
        };
        driver->press("OK");
        QTimer::singleShot(0, w->bbExecute, &QPushButton::click);
        QTRY_COMPARE(driver->boxTexts.size(), 3);
        QCOMPARE(testdb::scalar("report", "select count(*) from pays_debs_tmp_r where user_id "
                                          "between 991001 and 991007")
                     .toInt(),
                 1);
    }

    void snapshotTableFollowsTheTerritory_data() {
        QTest::addColumn<QString>("territory");
        QTest::addColumn<QString>("town");
        QTest::addColumn<QString>("table");
        QTest::newRow("territory 2701") << "2701000000000"
                                        << "1"
                                        << "pays_debs_tmp";
        QTest::newRow("town 2700000500000") << "5"
                                            << "2700000500000"
                                            << "pays_debs_tmp";
        QTest::newRow("both") << "2701000000000"
                              << "2700000500000"
                              << "pays_debs_tmp";
        QTest::newRow("other") << "2799999900000"
                               << "2799999900100"
                               << "pays_debs_tmp_r";
        QTest::newRow("nulls") << "null"
                               << "null"
                               << "pays_debs_tmp_r";
    }
    void snapshotTableFollowsTheTerritory() {
        QFETCH(QString, territory);
        QFETCH(QString, town);
        QFETCH(QString, table);
        SqlQuery& phoneInd = *dm->sqPhoneInd;
        phoneInd.clear();
        phoneInd.addLine(QString("select %1::numeric as id_territory, %2::numeric as town_id")
                             .arg(territory, town));
        phoneInd.open();
        w->InsertPaymentSnapshot("991007");
        QCOMPARE(dm->sqPayDeb->lines().at(0).startsWith("insert into " + table.toUpper() +
                                                        " values (991007, "),
                 true);
        QCOMPARE(testdb::scalar("report", "select count(*) from " + table +
                                              " where user_id = 991007 and pay_date = current_date")
                     .toInt(),
                 1);
        testdb::exec("report", "delete from " + table + " where user_id = 991007");
    }
};

int main(int argc, char** argv) {
    TulminaApplication app(argc, argv);
    TestGeneration test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_generation.moc"

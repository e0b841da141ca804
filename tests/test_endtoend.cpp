// The whole program as a user meets it: the entry code of main, in-process and
// offscreen, against the stand-in and a headless LibreOffice. Signs in, answers
// the first question, unticks exchanges, runs each list kind and checks every
// output; the link is gone after the close.
#include "app/Entry.h"
#include "app/SignIn.h"
#include "app/fmPassword.h"
#include "platform/LibreOfficeSpreadsheet.h"
#include "platform/TextFile.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/OfficeReader.h"
#include "tests/support/TestDb.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WindowFixture.h"
#include "ui/TulminaApplication.h"
#include "ui/frmMain.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString Login = QStringLiteral("etest");
const QString Password = QStringLiteral("e2e-pass");
const fixture::Settlement Town{
    "Тест-Сквозной", "2799999900400", "2701000000000", {"421781", "421782", "421783"}};

// Records the close requests a window receives, and whether a run held the
// window (its button disabled) when each came.
class CloseWatch : public QObject {
public:
    explicit CloseWatch(TfmMain* window) : window_(window) { window->installEventFilter(this); }
    int duringRun = 0;
    int afterRun = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Close)
            ++(window_->bbExecute->isEnabled() ? afterRun : duringRun);
        return false;
    }

private:
    TfmMain* window_;
};

// An office that takes its time: it starts the real one after a pause and
// leaves a mark when it does.
office::Options slowOffice(const office::Options& real, const QString& folder) {
    office::Options slow = real;
    slow.pipeName += QStringLiteral("_slow");
    slow.program = folder + QStringLiteral("/slow-office");
    QFile script(slow.program);
    script.open(QIODevice::WriteOnly);
    script.write("#!/bin/sh\nsleep 3\ntouch \"" + QFile::encodeName(folder) +
                 "/office-started\"\nexec " OFFICE_PROGRAM_DIR "/soffice \"$@\"\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return slow;
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT
    QTemporaryDir work;
    QTemporaryDir profile;
    office::Options options = privateOffice("e2e", profile.path());

private slots:
    void initTestCase() {
        fixture::prepareWorkFolder(work.path());
        QDir::setCurrent(work.path());
        testdb::createOperator(Login, Password, "Сквозная Ольга", 31);
        testdb::dropLinkIfAny(Login);
        fixture::removeTestSettlements();
        fixture::addSettlement(Town);
        fixture::removeDebtors(Town);
        fixture::addDebtors(Town, {{"4217810001", -500, 993001},
                                   {"4217820002", -70.5, 993002},
                                   {"4217830003", -90, 993003}});
        testdb::exec("report", "delete from pays_debs_tmp where user_id between 993001 and 993009");
    }
    void cleanupTestCase() {
        killOffice(options);
        fixture::removeDebtors(Town);
        testdb::exec("report", "delete from pays_debs_tmp where user_id between 993001 and 993009");
        fixture::removeTestSettlements();
        testdb::dropLinkIfAny(Login);
        testdb::dropOperator(Login);
        QDir::setCurrent("/");
    }

    void signInRunEveryListKindAndClose() {
        ModalDriver driver;
        driver.then(fixture::typeSignIn(" " + Login.toUpper() + " ", Password));
        driver.press("OK"); // the first question

        struct Run {
            int kind;
            QString stamp;
            QByteArray log, list;
        };
        QList<Run> runs;
        bool linkDuringSession = false;
        QString failure;
        // The user's part begins once the main window is up and its question answered.
        QTimer poll;
        bool started = false;
        poll.start(50);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            TfmMain* w = fixture::visibleMainWindow();
            if (started || !w || driver.pending() > 0)
                return;
            started = true;
            poll.stop();
            linkDuringSession = testdb::linkExists(Login);
            fixture::pickSettlement(*w, Town.name);
            w->ExchangeBoxes[2]->setChecked(false); // take 421782 into the list
            w->ExchangeBoxes[3]->setChecked(false); // and 421783
            int boxesExpected = 1;                  // the first question
            for (int kind : {CallRound, General, Analysis}) {
                if (kind != CallRound) {
                    driver.press("OK"); // the list-kind warning
                    ++boxesExpected;
                }
                fixture::pickListKind(*w, kind);
                QTest::mouseClick(w->bbExecute, Qt::LeftButton);
                if (driver.boxTexts.size() > boxesExpected) { // an error report
                    failure = driver.boxTexts.last();
                    break;
                }
                const RunOutcome& run = w->lastRun();
                runs << Run{kind, run.runStamp, readFile(run.logPath),
                            readFile("Tulmin/Station/" + run.runStamp + ".txt")};
                QTest::qWait(1100); // a stamp of its own for the next run
            }
            w->close();
        });

        runSignedInProgram(*static_cast<TulminaApplication*>(qApp),
                           std::make_unique<LibreOfficeSpreadsheet>(options));

        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QVERIFY(!signInState().SignInPending);
        QVERIFY(linkDuringSession);
        QVERIFY(!testdb::linkExists(Login)); // dropped at close
        QCOMPARE(runs.size(), 3);
        QCOMPARE(driver.unexpected, 0);

        // Six-digit tails for territory 2701000000000; 421781 is left out.
        const QByteArray list("820002\r\n830003\r\n");
        QCOMPARE(runs[0].list, list);
        QCOMPARE(runs[0].log,
                 toWindows1251("Кто: Квартирники\r\nРазмер долга: >0\r\nГород: Тест-Сквозной\r\n"
                               "Невошедшие АТС: , 81\r\n\r\nКакой: Тулмин\r\n"));
        QCOMPARE(runs[1].list, QByteArray("<missing>")); // "Общий" writes no phone list
        QCOMPARE(runs[2].list, list);
        QVERIFY(runs[2].log.endsWith(toWindows1251("Какой: Анализ\r\n")));

        // Two reports with two debtors each, into the table of territory 2701000000000.
        QCOMPARE(testdb::scalar("report", "select count(*) from pays_debs_tmp where user_id "
                                          "between 993001 and 993009 and pay_date = current_date")
                     .toInt(),
                 4);
        OfficeReader reader(options);
        const auto sheet = reader.readFile(work.path() + "/Тест-Сквозной.xls", 4, 6);
        QCOMPARE(sheet.rows[1][2].text, QString("820002"));
        QCOMPARE(sheet.rows[2][4].value, -90.0);
        QCOMPARE(sheet.rows[3][4].value, -160.5);
        QCOMPARE(sheet.rows[3][3].text, QString("Сумма оплат на отчётную дату"));
        QVERIFY(!sheet.columnVisible[0]);
    }

    // The session ends (the logout path closes the window directly) while a
    // run waits for the office to start: the close waits for the run, which
    // makes all its outputs; then the link is dropped and the program ends.
    void closeWhileTheOfficeStartsWaitsForTheRun() {
        testdb::exec("report", "delete from pays_debs_tmp where user_id between 993001 and 993009");
        QTemporaryDir folder;
        const office::Options slow = slowOffice(options, folder.path());
        ModalDriver driver;
        driver.then(fixture::typeSignIn(Login, Password));
        driver.press("OK"); // the first question
        std::unique_ptr<CloseWatch> watch;
        bool officeStartedBeforeClose = true;
        QTimer poll;
        poll.start(50);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            TfmMain* w = fixture::visibleMainWindow();
            if (watch || !w || driver.pending() > 0)
                return;
            poll.stop();
            watch = std::make_unique<CloseWatch>(w);
            fixture::pickSettlement(*w, Town.name);
            for (int k = 1; k <= w->ExchangeCount; ++k)
                w->ExchangeBoxes[k]->setChecked(false);
            // Inside the office's start the logout path closes the window.
            QTimer::singleShot(1000, w, [&, w] {
                officeStartedBeforeClose = QFile::exists(folder.path() + "/office-started");
                w->close();
            });
            QTest::mouseClick(w->bbExecute, Qt::LeftButton); // "Анализ", preset
        });

        const int exitCode = runSignedInProgram(*static_cast<TulminaApplication*>(qApp),
                                                std::make_unique<LibreOfficeSpreadsheet>(slow));
        killOffice(slow);

        QCOMPARE(exitCode, 0);
        QVERIFY(watch);
        QCOMPARE(watch->duringRun, 1);      // the close request came inside the run...
        QVERIFY(!officeStartedBeforeClose); // ...while the office was starting
        QCOMPARE(driver.boxTexts,
                 QStringList{
                     "Выбор типа файла \"Анализ\" ведёт к обновлению данных таблиц. Продолжить?"});
        QVERIFY(!testdb::linkExists(Login));
        QCOMPARE(testdb::scalar("report", "select count(*) from pays_debs_tmp where user_id "
                                          "between 993001 and 993009 and pay_date = current_date")
                     .toInt(),
                 3);
        const QStringList lists = QDir("Tulmin/Station").entryList(QDir::Files, QDir::Time);
        QVERIFY(!lists.isEmpty());
        QCOMPARE(readFile("Tulmin/Station/" + lists.first()).count("\r\n"), 3);
        OfficeReader reader(slow);
        QCOMPARE(userIdColumn(reader.readFile(work.path() + "/Тест-Сквозной.xls", 5, 1)).size(), 3);
        reader.terminate();
        killOffice(slow);
    }
};

int main(int argc, char** argv) {
    TulminaApplication app(argc, argv);
    TestEndToEnd test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_endtoend.moc"

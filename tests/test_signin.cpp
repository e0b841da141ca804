// The sign-in dialog and loop, the close of the main window with its link drop,
// the default error report and the single-instance guard.
#include "app/SignIn.h"
#include "app/fmPassword.h"
#include "data/DbError.h"
#include "data/Session.h"
#include "data/fmCommonDM.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/TestDb.h"
#include "tests/support/WindowFixture.h"
#include "ui/MessageBoxes.h"
#include "ui/TulminaApplication.h"
#include "ui/frmMain.h"

#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QtTest>
#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {
const QString Login = QStringLiteral("sitest");
const QString Right = QStringLiteral("right-pw1");

ModalDriver::Action typeAndOk(const QString& user, const QString& password,
                              QStringList* messagesSeen = nullptr) {
    return [=](QWidget* w) {
        auto* dlg = qobject_cast<TPasswordDlg*>(w);
        QVERIFY(dlg);
        if (messagesSeen)
            *messagesSeen << dlg->Label3->text() + "|" + dlg->UserName->text() + "|" +
                                 dlg->Password->text();
        fixture::typeSignIn(user, password)(w);
    };
}

// A CA of its own, which never signed the stand-in's certificate.
QString otherCa() {
    static QTemporaryDir dir;
    const QString crt = dir.path() + "/other-ca.crt";
    if (!QFile::exists(crt)) {
        QProcess openssl;
        openssl.setStandardErrorFile(QProcess::nullDevice());
        openssl.start("openssl",
                      {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                       "/CN=other", "-keyout", dir.path() + "/other-ca.key", "-out", crt});
        openssl.waitForFinished(30000);
    }
    return crt;
}

// A server that answers PostgreSQL's TLS request with "no", as a server
// without TLS does; on a thread of its own, since the driver blocks.
class ServerWithoutTls {
public:
    ServerWithoutTls() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length);
        ::listen(fd_, 4);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            for (int client; (client = ::accept(fd_, nullptr, nullptr)) >= 0; ::close(client)) {
                char request[8];
                if (::recv(client, request, sizeof request, MSG_WAITALL) == sizeof request)
                    ::send(client, "N", 1, MSG_NOSIGNAL);
                char more[256]; // a startup packet, a password: what must never come
                for (ssize_t n; (n = ::recv(client, more, sizeof more, 0)) > 0;)
                    bytesAfterRequest += int(n);
            }
        });
    }
    ~ServerWithoutTls() {
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        thread_.join();
    }
    int port() const { return port_; }
    std::atomic<int> bytesAfterRequest = 0;

private:
    int fd_;
    int port_ = 0;
    std::thread thread_;
};

} // namespace

class TestSignIn : public QObject {
    Q_OBJECT
    std::unique_ptr<TdmCommon> dm;
    std::unique_ptr<TPasswordDlg> dlg;
    ServerWithoutTls withoutTls;

    // The user's attempts; when they end in a third counted failure, the box
    // that says so is answered and its text returned.
    QString signIn(std::initializer_list<ModalDriver::Action> actions, bool givesUp = false) {
        ModalDriver driver;
        for (const auto& a : actions)
            driver.then(a);
        if (givesUp)
            driver.press("OK");
        runSignInLoop(*dlg, *dm);
        [&] {
            QCOMPARE(driver.pending(), 0);
            QCOMPARE(driver.unexpected, 0);
        }();
        return driver.boxTexts.value(0);
    }

private slots:
    void initTestCase() { testdb::createOperator(Login, Right, "Проверкина Анна", 5); }
    void cleanupTestCase() {
        testdb::dropLinkIfAny(Login);
        testdb::dropOperator(Login);
        testdb::dropOperator("sinull");
    }
    void init() {
        dm = std::make_unique<TdmCommon>();
        dlg = std::make_unique<TPasswordDlg>();
        session() = {};
        testdb::dropLinkIfAny(Login);
        testdb::forgetFailedSignIns();
    }
    void cleanup() {
        dlg.reset();
        dm.reset();
    }

    void dialogLayout() {
        QCOMPARE(dlg->windowTitle(), QString("Авторизация"));
        QCOMPARE(dlg->size(), QSize(179, 144));
        QCOMPARE(dlg->Label2->text(), QString("Имя (в АСР \"Кварн\")"));
        QVERIFY(dlg->Label2->font().bold());
        QCOMPARE(dlg->UserName->geometry(), QRect(8, 19, 121, 21));
        QCOMPARE(dlg->Password->geometry(), QRect(8, 59, 161, 21));
        QCOMPARE(dlg->Password->echoMode(), QLineEdit::Password);
        QCOMPARE(dlg->OKBtn->geometry(), QRect(15, 88, 75, 25));
        QVERIFY(dlg->OKBtn->isDefault());
        QCOMPARE(dlg->CancelBtn->geometry(), QRect(95, 88, 75, 25));
        QCOMPARE(dlg->Label3->pos(), QPoint(8, 120));
        QVERIFY(!(dlg->windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(!(dlg->windowFlags() & Qt::WindowSystemMenuHint));
    }

    void inputRules() {
        QCOMPARE(trimControl(QString("\t  ivanova \r\n")), QString("ivanova"));
        QVERIFY(isPlainIdentifier("ivanova"));
        QVERIFY(isPlainIdentifier("a_1$#"));
        QVERIFY(!isPlainIdentifier("1abc"));
        QVERIFY(!isPlainIdentifier("iva nova"));
        QVERIFY(!isPlainIdentifier("x'; drop table atstown; --"));
        QVERIFY(!isPlainIdentifier(QString(31, 'a')));
        QVERIFY(!isPlainIdentifier("иванова"));
        QCOMPARE(msgbox::errorReportText("relation missing"), QString("relation missing."));
        QCOMPARE(msgbox::errorReportText("done."), QString("done."));
        QCOMPARE(msgbox::errorReportText("(code 42)"), QString("(code 42)"));
        QCOMPARE(msgbox::errorReportText("строка"), QString("строка."));
    }

    void cancelAtFirstShowingSendsNothing() {
        ModalDriver driver;
        driver.then([](QWidget* w) { qobject_cast<TPasswordDlg*>(w)->CancelBtn->click(); });
        runSignInLoop(*dlg, *dm);
        QCOMPARE(signInState().SignInAttempts, 3);
        QVERIFY(signInState().SignInPending);
        QVERIFY(!dm->SQLConnectionKvarn.connected());
    }

    void threeWrongPasswordsEndWithNoLinkLeft() {
        QStringList seen;
        const QString box = signIn({typeAndOk(Login, "bad", &seen), typeAndOk(Login, "bad", &seen),
                                    typeAndOk(Login, "bad", &seen)},
                                   true);
        QCOMPARE(box, QString("Вход не выполнен: три попытки не удались (имя или пароль не "
                              "подошли). Программа закрывается."));
        QVERIFY(signInState().SignInPending);
        QCOMPARE(signInState().SignInAttempts, 3);
        QCOMPARE(seen, QStringList({"||", "Попробуйте еще раз|sitest|bad",
                                    "Попробуйте еще раз|sitest|bad"}));
        QVERIFY(!testdb::linkExists(Login));
    }

    // The reporting database away, unproven or refusing: the message line says
    // which, in the program's own words; the third failure is told in a box.
    void connectionProblemsAreToldInOneLine_data() {
        QTest::addColumn<QString>("alias");
        QTest::addColumn<QString>("ca");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("line");
        const QString ca = TdmCommon().SQLConnectionKvarn.trustedCa();
        QTest::newRow("nothing listens") << "127.0.0.1:1/report" << ca << ""
                                         << "Нет связи с сервером";
        QTest::newRow("no such host") << "no-such-host.invalid:5432/report" << ca << ""
                                      << "Нет связи с сервером";
        QTest::newRow("a foreign CA") << "" << otherCa() << ""
                                      << "Сервер не опознан";
        QTest::newRow("no CA file") << ""
                                    << "/nonexistent/ca.crt"
                                    << ""
                                    << "Сервер не опознан";
        QTest::newRow("no TLS") << QString("127.0.0.1:%1/report").arg(withoutTls.port()) << ca << ""
                                << "Сервер не опознан";
        QTest::newRow("account refused") << "" << ca << "wrong-pass"
                                         << "Сервер отказал во входе";
    }
    void connectionProblemsAreToldInOneLine() {
        QFETCH(QString, alias);
        QFETCH(QString, ca);
        QFETCH(QString, password);
        QFETCH(QString, line);
        QStringList params = dm->SQLConnectionKvarn.params();
        if (!alias.isEmpty())
            params[1] = "DataBase=" + alias;
        if (!password.isEmpty())
            params[3] = "Password=" + password;
        dm->SQLConnectionKvarn.setParams(params);
        dm->SQLConnectionKvarn.setTrustedCa(ca);
        QStringList seen;
        const QString box = signIn({typeAndOk(Login, Right, &seen), typeAndOk(Login, Right, &seen),
                                    typeAndOk(Login, Right, &seen)},
                                   true);
        QVERIFY(signInState().SignInPending);
        QCOMPARE(seen, QStringList({"||", line + "|sitest|right-pw1", line + "|sitest|right-pw1"}));
        QVERIFY2(box.contains("(" + line.toLower() + ")"), qPrintable(box));
        QVERIFY(!box.contains(Right) && !box.contains(password.isEmpty() ? "\n" : password));
        QCOMPARE(withoutTls.bytesAfterRequest.load(), 0); // nothing but the TLS request went there
    }

    // A billing server that cannot be reached is told in the dialog as such,
    // not as a wrong password.
    void anUnreachableBillingServerIsTold() {
        testdb::dropLinkIfAny(Login);
        testdb::exec("report", "alter server kna options (set port '1')");
        const auto restore = qScopeGuard([] {
            testdb::exec("report", "alter server kna options (set port '55432')");
            testdb::forgetFailedSignIns();
        });
        QStringList seen;
        const QString box = signIn({typeAndOk(Login, Right, &seen), typeAndOk(Login, Right, &seen),
                                    typeAndOk(Login, Right, &seen)},
                                   true);
        QCOMPARE(seen, QStringList({"||", "Сервер биллинга недоступен|sitest|right-pw1",
                                    "Сервер биллинга недоступен|sitest|right-pw1"}));
        QVERIFY2(box.contains("(сервер биллинга недоступен)"), qPrintable(box));
        QVERIFY(!testdb::linkExists(Login));
    }

    // A missing database driver (Oracle's, which this machine lacks) is the
    // program's own fault: not a failed sign-in, but an error that ends the
    // sign-in at the first attempt. A driver the program does not know fails
    // at once.
    void aMissingDriverIsTheProgramsFault() {
        QVERIFY_THROWS_EXCEPTION(ProgramError, TdmCommon("QNOSUCH"));
        QVERIFY(!QSqlDatabase::isDriverAvailable("QOCI"));
        TdmCommon oracle("QOCI");
        ModalDriver driver;
        driver.then(typeAndOk(Login, Right));
        try {
            runSignInLoop(*dlg, oracle);
            QFAIL("signed in without a driver");
        } catch (const ProgramError& e) {
            const QString report = msgbox::errorReportText(e);
            QVERIFY2(report.startsWith("Ошибка в самой программе.") && report.contains("QOCI"),
                     qPrintable(report));
        }
        QCOMPARE(signInState().SignInAttempts, 0);
        QCOMPARE(driver.pending(), 0);
    }

    // Signed in, a workstation holds no connection under the operator's own
    // name to the billing server: the check's is let go after the lookup.
    void theSignInsBillingConnectionIsLetGo() {
        signIn({typeAndOk(Login, Right)});
        QVERIFY(!signInState().SignInPending);
        QVERIFY(fixture::signedInOnServer(*dm));
        QTRY_COMPARE(testdb::scalar("report", "select count(*) from pg_stat_activity where "
                                              "datname = 'kvarn' and usename = '" +
                                                  Login + "'")
                         .toInt(),
                     0);
    }

    void trimmedLowerCaseNameSignsInAndStaleLinkIsReplaced() {
        // A link left behind under the same name by a connection that ended,
        // with a password that no longer works.
        {
            TdmCommon other;
            QVERIFY(fixture::signInThroughDialog(other, Login, Right));
        }
        testdb::exec("report", "alter user mapping for tulmina_links server sitest "
                               "options (set password 'old')");
        signIn({typeAndOk("  " + Login + " ", " " + Right + "\t")});
        QVERIFY(!signInState().SignInPending);
        QCOMPARE(session().OperatorLogin, QString("SITEST"));
        QCOMPARE(session().OperatorName, QString("Проверкина Анна"));
        QCOMPARE(session().OperatorId, qint64(50000));
        QVERIFY(testdb::linkExists(Login));
    }

    void operatorWithoutNameFailsLikeAWrongPassword() {
        testdb::createOperator("sinull", "nullpw", QVariant(), 6);
        QStringList seen;
        signIn({typeAndOk("sinull", "nullpw", &seen), typeAndOk("sinull", "nullpw", &seen),
                [](QWidget* w) { qobject_cast<TPasswordDlg*>(w)->reject(); }});
        QCOMPARE(seen.last(), QString("Попробуйте еще раз|sinull|nullpw"));
        QVERIFY(!testdb::linkExists("sinull"));
    }

    void hostileInputNeverReachesTheServer() {
        const QStringList names{"x'; drop table atstown; --",
                                "a b",
                                QString(10000, 'z'),
                                "\"quoted\"",
                                "имя",
                                "kna@kna"};
        for (const QString& name : names) {
            dlg = std::make_unique<TPasswordDlg>();
            signIn({typeAndOk(name, "pw"), typeAndOk(Login, "p\"w"), typeAndOk(Login, "\"")}, true);
            QVERIFY(signInState().SignInPending);
            QVERIFY2(!dm->SQLConnectionKvarn.connected(), qPrintable(name.left(40)));
        }
        QCOMPARE(testdb::scalar("report", "select count(*) from atstown").toInt() > 0, true);
    }

    void oddPasswordsReachOnlyTheLink() {
        QStringList seen;
        signIn({typeAndOk(Login, QString(10000, 'p'), &seen),
                typeAndOk(Login, "пароль密码';--", &seen), typeAndOk(Login, "back\\slash", &seen)},
               true);
        QVERIFY(signInState().SignInPending);
        QCOMPARE(seen.last().section('|', 0, 0), QString("Попробуйте еще раз"));
        QVERIFY(!testdb::linkExists(Login));
    }

    void closeDropsTheLinkEvenWhenItIsGoneAndReportsARefusedDrop() {
        signIn({typeAndOk(Login, Right)});
        QVERIFY(testdb::linkExists(Login));
        {
            TfmMain window;
            window.setDataModule(dm.get());
            window.show();
            QVERIFY(window.close());
            QVERIFY(!testdb::linkExists(Login));
            QVERIFY(dm->sqListPhone.released());
            QVERIFY(dm->sqTownId.released());
            QVERIFY(dm->sqCreateDropChannel.released());
        }
        // Dropped already, or held by another connection signed in under that
        // name: closes, no word, and the other connection's link stays.
        TdmCommon other;
        for (bool heldElsewhere : {false, true}) {
            if (heldElsewhere)
                QVERIFY(fixture::signInThroughDialog(other, Login, Right));
            TfmMain window;
            window.setDataModule(dm.get());
            window.show();
            QVERIFY(window.close());
            QCOMPARE(testdb::linkExists(Login), heldElsewhere);
        }
        ModalDriver driver;
        // A drop the server refuses is reported and the window stays.
        testdb::exec("report", "revoke execute on function tulmina_link.drop_link(text) "
                               "from tulmina_client");
        const auto grantAgain = qScopeGuard([] {
            testdb::exec("report", "grant execute on function tulmina_link.drop_link(text) "
                                   "to tulmina_client");
        });
        TfmMain window;
        window.setDataModule(&other);
        window.show();
        driver.press("OK");
        QTimer::singleShot(0, &window, &QWidget::close);
        QTRY_COMPARE(driver.boxTexts.size(), 1);
        QVERIFY(window.isVisible());
        QVERIFY2(driver.boxTexts[0].startsWith("Ошибка базы данных.") &&
                     driver.boxTexts[0].contains("permission denied for function drop_link"),
                 qPrintable(driver.boxTexts[0]));
        QVERIFY(driver.boxTexts[0].endsWith('.'));
        QCOMPARE(driver.boxCaptions[0], QString("Тулмина"));
        testdb::dropLinkIfAny(Login);
    }

    // Names the program refuses before sending anything: counted, and the user
    // is told to try again.
    void refusedNamesAreCountedAndShowTheMessage() {
        const QStringList names{"kna", " KNA\t", "шмфтщмф", "", "a;b", "a\nb", QString(31, 'a')};
        for (const QString& name : names) {
            dlg = std::make_unique<TPasswordDlg>();
            QStringList seen;
            signIn({typeAndOk(name, Right, &seen), typeAndOk(name, Right, &seen),
                    typeAndOk(name, Right, &seen)},
                   true);
            QCOMPARE(signInState().SignInAttempts, 3);
            QCOMPARE(seen.at(1).section('|', 0, 0), QString("Попробуйте еще раз"));
            QVERIFY2(!dm->SQLConnectionKvarn.connected(), qPrintable(name));
        }
        QVERIFY(testdb::linkExists("kna"));
    }
};

int main(int argc, char** argv) {
    TulminaApplication app(argc, argv);
    TestSignIn test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_signin.moc"

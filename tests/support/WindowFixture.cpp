#include "tests/support/WindowFixture.h"

#include "app/SignIn.h"
#include "app/fmPassword.h"
#include "data/Session.h"
#include "data/fmCommonDM.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/TestDb.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace fixture {

namespace {
QString quoted(QString text) {
    return u'\'' + text.replace(u'\'', QLatin1String("''")) + u'\'';
}
} // namespace

void addSettlement(const Settlement& s) {
    for (const QString& code : s.codes)
        testdb::exec("report", QStringLiteral("insert into atstown values (%1, %2, %3, 'тест', %4)")
                                   .arg(s.name.isNull() ? QStringLiteral("null") : quoted(s.name),
                                        s.townId, s.territory, quoted(code)));
}

void addDebtors(const Settlement& s, const QList<Debtor>& debtors) {
    QStringList rows;
    for (const Debtor& d : debtors)
        rows << QStringLiteral("(%1, %2, %3, %4, %5, '%6', '%7')")
                    .arg(quoted(d.phone))
                    .arg(d.debt)
                    .arg(d.userId)
                    .arg(s.townId, s.territory, d.iscorp, d.dateOn);
    testdb::exec("report", "insert into lst_deb_always values " + rows.join(", "));
}

void removeDebtors(const Settlement& s) {
    testdb::exec("report", "delete from lst_deb_always where town_id = " + s.townId);
}

void removeTestSettlements() {
    testdb::exec("report", "delete from atstown where name like 'Тест%'");
}

std::unique_ptr<TdmCommon> signedInDataModule(const QString& login, const QString& password) {
    testdb::forgetFailedSignIns();
    testdb::dropLinkIfAny(login);
    testdb::ensureOperator(login, password);
    auto dm = std::make_unique<TdmCommon>();
    dm->SQLConnectionKvarn.open();
    dm->SQLConnectionKvarn.executeDirect(
        QStringLiteral("create database link %1 connect to %1 identified by \"%2\" using "
                       "'127.0.0.1:55432/kvarn'")
            .arg(login, password));
    if (!signedInOnServer(*dm))
        throw std::runtime_error("the test operator " + login.toStdString() + " is not signed in");
    session() = {login.toUpper(), 10000, QStringLiteral("Тест")};
    return dm;
}

bool signedInOnServer(TdmCommon& dm) {
    SqlQuery q(
        dm.SQLConnectionKvarn, QStringLiteral("signedIn"),
        {QStringLiteral("select case when tulmina_auth.signed_in() then 1 else 0 end as yes")});
    q.openWhole();
    return q.asString(QStringLiteral("yes")) == QLatin1String("1");
}

std::unique_ptr<TfmMain> shownWindow(TdmCommon& dm, const QString& firstSettlement,
                                     ModalDriver& driver) {
    dm.sqSettlement->replaceLine(
        2, QStringLiteral("from atstown where name = %1").arg(quoted(firstSettlement)));
    auto window = std::make_unique<TfmMain>();
    window->setDataModule(&dm);
    driver.press(QStringLiteral("OK"));
    window->showMainWindow();
    return window;
}

void pickSettlement(TfmMain& window, const QString& name) {
    int i = window.cbSettlement->findText(name);
    if (i < 0) {
        // Not in the list the test loaded: the item of its first town.
        const QVariant town = testdb::scalar(
            "report",
            QStringLiteral("select min(town_id) from atstown where name = %1").arg(quoted(name)));
        window.addSettlement({name, town});
        i = window.cbSettlement->count() - 1;
    }
    pickItem(window, i);
}

void pickItem(TfmMain& window, int item) {
    window.cbSettlement->setCurrentIndex(item);
    emit window.cbSettlement->activated(item);
}

void pickListKind(TfmMain& window, int index) {
    window.cbTypeCall->setCurrentIndex(index);
    emit window.cbTypeCall->activated(index);
}

ModalDriver::Action typeSignIn(const QString& user, const QString& password) {
    return [=](QWidget* w) {
        auto* dialog = qobject_cast<TPasswordDlg*>(w);
        QVERIFY(dialog);
        dialog->UserName->setText(user);
        dialog->Password->setText(password);
        dialog->OKBtn->click();
    };
}

bool signInThroughDialog(TdmCommon& dm, const QString& user, const QString& password) {
    testdb::forgetFailedSignIns();
    TPasswordDlg dialog;
    ModalDriver driver;
    driver.then(typeSignIn(user, password));
    runSignInLoop(dialog, dm);
    return !signInState().SignInPending;
}

TfmMain* visibleMainWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* m = qobject_cast<TfmMain*>(w); m && m->isVisible())
            return m;
    return nullptr;
}

void prepareWorkFolder(const QString& dir) {
    for (const char* d : {"Tulmin/Station", "Tulmin/LogParam", "Tulmin/DudoVezir"})
        QDir(dir).mkpath(d);
    const QString target = dir + QStringLiteral("/Tulmin/DudoVezir/DudoVezir.xls");
    QFile::remove(target);
    if (!QFile::copy(QStringLiteral(TULMINA_TEMPLATE), target))
        throw std::runtime_error("the report template could not be copied");
}

} // namespace fixture

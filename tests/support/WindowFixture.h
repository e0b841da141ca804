#pragma once
#include "tests/support/ModalDriver.h"

#include <QString>
#include <QStringList>
#include <memory>

class TdmCommon;
class TfmMain;
class ModalDriver;

// Main windows on the stand-in with settlements that a test makes itself.
namespace fixture {

struct Settlement {
    QString name; // a null text for a town without a name
    QString townId;
    QString territory;
    QStringList codes; // in the order of insertion
};

void addSettlement(const Settlement& s);

// A row of the debt list in a settlement's town and territory.
struct Debtor {
    QString phone;
    double debt;
    qint64 userId;
    QString iscorp = QStringLiteral("N");
    QString dateOn = QStringLiteral("01.01.2001");
};
void addDebtors(const Settlement& s, const QList<Debtor>& debtors);
// Removes the debt-list rows of a settlement's town.
void removeDebtors(const Settlement& s);
void removeTestSettlements(); // every settlement whose name begins "Тест"

// A data module signed in as a test operator, made with that password when
// the billing database lacks it: the server checked the password, the link
// exists and the session names it, so the window's close can drop it.
inline const QString OperatorPassword = QStringLiteral("test-pw1");
std::unique_ptr<TdmCommon> signedInDataModule(const QString& login,
                                              const QString& password = OperatorPassword);
// Whether the reporting database counts the data module's connection as
// signed in.
bool signedInOnServer(TdmCommon& dm);

// The window after its first showing, answered "OK", with the initial load
// restricted to one settlement.
std::unique_ptr<TfmMain> shownWindow(TdmCommon& dm, const QString& firstSettlement,
                                     ModalDriver& driver);

// The user picks a settlement from the list (the first of that name).
void pickSettlement(TfmMain& window, const QString& name);
// The user picks the item at that place of the settlement list.
void pickItem(TfmMain& window, int item);
// The user picks a list kind.
void pickListKind(TfmMain& window, int index);

// The user types a name and a password into the sign-in dialog and presses OK.
ModalDriver::Action typeSignIn(const QString& user, const QString& password);
// A sign-in through the program's own dialog and loop; true when it succeeded.
bool signInThroughDialog(TdmCommon& dm, const QString& user, const QString& password);

// The main window of the program when it is shown, else null.
TfmMain* visibleMainWindow();

// A working folder as a run expects it: the three folders under Tulmin and
// the report template in its place.
void prepareWorkFolder(const QString& dir);

} // namespace fixture

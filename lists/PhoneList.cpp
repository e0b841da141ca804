// The phone list of a run: one number per line, in the debtor query's order.
#include "data/fmCommonDM.h"
#include "platform/TextFile.h"
#include "ui/frmMain.h"

void TfmMain::WritePhoneList() {
    SqlQuery& debtors = *dm_->sqLstPhonDelTab;
    textFile->create(Run.StationFilePath);
    for (; !debtors.eof(); debtors.next())
        textFile->writeLine(debtors.asString(QStringLiteral("phone")));
    textFile->close();
}

// One snapshot row per debtor of a report, in the table of the settlement's territory.
#include "data/fmCommonDM.h"
#include "ui/frmMain.h"

namespace {

bool equalsNumber(const QVariant& value, double number) {
    if (value.isNull())
        return false;
    bool ok = false;
    const double v = value.toString().toDouble(&ok);
    return ok && v == number;
}

} // namespace

void TfmMain::InsertPaymentSnapshot(const QString& userId) {
    SqlQuery& payDeb = *dm_->sqPayDeb;
    payDeb.clear();
    const SqlQuery& phoneInd = *dm_->sqPhoneInd;
    QString table = QStringLiteral("PAYS_DEBS_TMP_R");
    if (equalsNumber(phoneInd.value(QStringLiteral("id_territory")), 2701000000000.0) ||
        equalsNumber(phoneInd.value(QStringLiteral("town_id")), 2700000500000.0))
        table = QStringLiteral("PAYS_DEBS_TMP");
    payDeb.addLine(QStringLiteral("insert into ") + table + QStringLiteral(" values (") + userId +
                   QStringLiteral(", to_date(to_char(sysdate,'") + QStringLiteral("dd.mm.yyyy") +
                   QStringLiteral("')))"));
    payDeb.execSQL();
}

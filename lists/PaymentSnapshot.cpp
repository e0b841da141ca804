#include "lists/PaymentSnapshot.h"

#include "data/fmCommonDM.h"
#include "lists/RunParameters.h"

namespace {

bool equalsNumber(const QVariant& value, double number) {
    if (value.isNull())
        return false;
    bool ok = false;
    const double v = value.toString().toDouble(&ok);
    return ok && v == number;
}

} // namespace

QString snapshotTableFor(const SettlementTown& town) {
    if (equalsNumber(town.territory, 2701000000000.0) || equalsNumber(town.townId, 2700000500000.0))
        return SnapshotTableMain;
    return SnapshotTableRegional;
}

PaymentSnapshot::PaymentSnapshot(TdmCommon& dm, const SettlementTown& town)
    : dm_(dm), table_(snapshotTableFor(town)) {}

void PaymentSnapshot::InsertPaymentSnapshot(const std::vector<qint64>& userIds) {
    SqlConnection& connection = dm_.SQLConnectionKvarn;
    connection.beginTransaction();
    try {
        dm_.insertSnapshotRows(table_, userIds);
        connection.commit();
    } catch (...) {
        connection.rollback();
        throw;
    }
}

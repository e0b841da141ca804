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

void PaymentSnapshot::begin() {
    dm_.SQLConnectionKvarn.beginTransaction();
}

void PaymentSnapshot::InsertPaymentSnapshot(const std::vector<qint64>& userIds) {
    dm_.insertSnapshotRows(table_, userIds);
}

void PaymentSnapshot::commit() {
    dm_.SQLConnectionKvarn.commit();
}

void PaymentSnapshot::rollback() noexcept {
    dm_.SQLConnectionKvarn.rollback();
}

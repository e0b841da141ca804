#include "lists/PaymentSnapshot.h"

#include "data/DbError.h"
#include "data/fmCommonDM.h"
#include "lists/RunParameters.h"

#include <QUuid>

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

PaymentSnapshot::PaymentSnapshot(TdmCommon& dm, const SettlementTown& town, RunRecord run)
    : dm_(dm), table_(snapshotTableFor(town)), run_(std::move(run)) {}

void PaymentSnapshot::InsertPaymentSnapshot(const std::vector<qint64>& userIds) {
    SqlConnection& connection = dm_.SQLConnectionKvarn;
    const QString reportId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    RunRecord run = run_;
    run.rows = int(userIds.size());
    run.reportId = reportId;
    connection.beginTransaction();
    try {
        dm_.insertSnapshotRows(table_, userIds);
        dm_.recordRun(run);
        connection.commit();
        recorded_ = true;
    } catch (const CommitInDoubt& lost) {
        recorded_ = recordedAfterAll(reportId, lost);
        if (!recorded_)
            throw DbError(QStringLiteral("снимок платежей не записан: ") + lost.message());
    } catch (...) {
        connection.rollback();
        throw;
    }
}

// The connection went with the commit's answer; a new one tells whether the
// commit took effect.
bool PaymentSnapshot::recordedAfterAll(const QString& reportId, const CommitInDoubt& lost) {
    try {
        dm_.SQLConnectionKvarn.open();
        return dm_.reportRecorded(reportId);
    } catch (const std::exception& e) {
        throw CommitInDoubt(lost.message() +
                            QStringLiteral("; записан ли снимок платежей, неизвестно: ") +
                            QString::fromUtf8(e.what()));
    }
}

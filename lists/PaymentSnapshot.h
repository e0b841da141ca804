#pragma once
#include "data/fmCommonDM.h"

#include <QString>
#include <QVariant>
#include <vector>

struct SettlementTown;

// The snapshot table of a settlement, by its town and the territory of its
// first exchange row: territory 2701000000000 or town 2700000500000 take the
// main table, all others (nulls included) the regional one.
QString snapshotTableFor(const SettlementTown& town);

// One snapshot row per debtor of a report, dated with the server's date, in
// the table of the settlement's territory. The rows of one report are recorded
// together with the report's run, in one short transaction once the workbook
// is saved: they count once committed, and a report that fails leaves none.
class PaymentSnapshot {
public:
    PaymentSnapshot(TdmCommon& dm, const SettlementTown& town, RunRecord run);
    // Records the rows of the given debtors, in as few statements as the
    // server takes, and the run; a failure leaves none of them.
    void InsertPaymentSnapshot(const std::vector<qint64>& userIds);
    const QString& table() const { return table_; }
    // Whether the rows and the run are recorded.
    bool recorded() const { return recorded_; }

private:
    bool recordedAfterAll(const QString& reportId, const class CommitInDoubt& lost);

    TdmCommon& dm_;
    QString table_;
    RunRecord run_;
    bool recorded_ = false;
};

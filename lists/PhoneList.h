#pragma once
#include <QString>
#include <vector>

class SqlQuery;
class TextFile;

// One row of the debtor query.
struct DebtorRow {
    QString userIdText;
    QString phone;
    double debt = 0;
};

// What the one pass over the debtor query gives: how many debtors it found and,
// for a report, their rows (none when there are more than the report may take).
struct DebtorPass {
    int count = 0;
    std::vector<DebtorRow> rows;
};

// The pass over the debtor query from its current row to its end, and the phone
// list it writes on the way (when a file is given): one number per line, in
// the query's order, under its name only once whole. Up to `keep` rows are
// kept for the report.
DebtorPass WritePhoneList(SqlQuery& debtors, TextFile* file, const QString& path, int keep);

#pragma once
#include <QString>
#include <stdexcept>
#include <vector>

class PaymentSnapshot;
class RunObserver;
class Spreadsheet;
class TdmCommon;

// How much a report takes, and in what steps.
struct RunLimits {
    // An .xls sheet holds 65,536 rows: the title row, the debtors, the total row.
    int maxDebtorRows = 65534;
    // Debtors whose addresses, cells and snapshot rows travel together.
    int blockSize = 1000;
};

// The debtor workbook report: the template opened in the spreadsheet
// application and saved under the settlement's name, one row per debtor, a
// total row, left open on the screen. Each block of debtors is read, its
// addresses fetched in one statement, its rows written in one call and its
// snapshot rows inserted in one statement, in that order: after any failure the
// snapshot rows are exactly those of the debtors whose rows are in the workbook.
class DebtorWorkbook {
public:
    DebtorWorkbook(TdmCommon& dm, Spreadsheet& excel, PaymentSnapshot& snapshot,
                   RunObserver& observer, RunLimits limits);

    // The report of the debtor query, which it returns to its first row itself.
    // A report larger than a sheet is refused with a notice before anything is
    // opened or inserted.
    void BuildDebtorWorkbook(const QString& templateFilePath, const QString& settlement,
                             const QString& townId, int debtorCount);

    // The workbook could not be saved under the settlement's name.
    struct SaveFailed : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

private:
    struct DebtorRow;
    template <class F> void saving(const QString& fileName, F&& save);
    void writeDebtorsAndTotal();
    std::vector<DebtorRow> readBlock();
    void writeBlock(int firstRow, const std::vector<DebtorRow>& block);
    void writeTotalRow(int row);
    QString tooLarge(qint64 debtors) const;

    TdmCommon& dm_;
    Spreadsheet& excel_;
    PaymentSnapshot& snapshot_;
    RunObserver& observer_;
    RunLimits limits_;
    double debtTotal_ = 0;
    int rowsDone_ = 0;
};

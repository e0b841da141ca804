#pragma once
#include "lists/PhoneList.h"
#include "platform/Failure.h"

#include <QHash>
#include <QString>
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
// application as the workbook of the settlement's name, one row per debtor, a
// total row, left open on the screen. Each block of debtors has its addresses
// fetched in one statement and its rows written in one call; the billing side
// looks up a block's addresses while the office writes the block before. The
// report is whole or absent: it is saved aside, its snapshot rows are then
// recorded in one short transaction, and only then does it take the
// settlement's name. A report that fails leaves no snapshot row and the
// earlier report under the name as it was.
class DebtorWorkbook {
public:
    DebtorWorkbook(TdmCommon& dm, Spreadsheet& excel, PaymentSnapshot& snapshot,
                   RunObserver& observer, int blockSize);

    // The report of the given debtors, in their order; the template lies under
    // the working folder, the workbook is saved in it under the file name.
    // Returns the workbook's path.
    QString BuildDebtorWorkbook(const QString& workDir, const QString& templateFilePath,
                                const QString& fileName, const std::vector<DebtorRow>& debtors);

    // The workbook could not be saved under the settlement's name.
    struct SaveFailed : OfficeError {
        using OfficeError::OfficeError;
    };

private:
    using Addresses = QHash<qint64, struct SubscriberAddress>;
    template <class F> void saving(const QString& path, qint64 bytesNeeded, F&& save);
    std::vector<qint64> writeDebtorsAndTotal(const std::vector<DebtorRow>& debtors);
    void recordSnapshot(const std::vector<qint64>& userIds, const QString& path);
    void closeWorkbookUnsaved() noexcept;
    Addresses writeBlock(int firstRow, const std::vector<DebtorRow>& debtors, size_t at, size_t end,
                         const Addresses& addresses, const std::vector<qint64>& nextUserIds);
    void writeTotalRow(int row, double debtTotal);

    TdmCommon& dm_;
    Spreadsheet& excel_;
    PaymentSnapshot& snapshot_;
    RunObserver& observer_;
    int blockSize_;
};

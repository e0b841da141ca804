#include "lists/DebtorWorkbook.h"

#include "data/DbError.h"
#include "data/fmCommonDM.h"
#include "lists/PaymentSnapshot.h"
#include "lists/RunObserver.h"
#include "lists/WorkbookName.h"
#include "platform/Spreadsheet.h"

#include <QDir>
#include <algorithm>

namespace {
constexpr int FirstColumn = 1;
constexpr int FirstDebtorRow = 2;
// Offsets of the report's columns from FirstColumn.
enum Column { UserIdColumn = 0, AccountColumn, PhoneColumn, NameColumn, DebtColumn, AddressColumn };

int column(Column c) {
    return FirstColumn + c;
}

qint64 userIdOf(const QString& text) {
    bool ok = false;
    const qint64 id = text.toLongLong(&ok);
    if (!ok)
        throw DbError(QStringLiteral("Должник без номера абонента: user_id «%1»").arg(text));
    return id;
}

std::vector<qint64> userIdsOf(const std::vector<DebtorRow>& debtors, size_t at, size_t end) {
    std::vector<qint64> ids;
    for (size_t i = at; i < end; ++i)
        ids.push_back(userIdOf(debtors[i].userIdText));
    return ids;
}

QString firstLine(const char* text) {
    return QString::fromUtf8(text).section(u'\n', 0, 0).trimmed();
}
} // namespace

DebtorWorkbook::DebtorWorkbook(TdmCommon& dm, Spreadsheet& excel, PaymentSnapshot& snapshot,
                               RunObserver& observer, int blockSize)
    : dm_(dm), excel_(excel), snapshot_(snapshot), observer_(observer),
      blockSize_(std::max(1, blockSize)) {}

QString DebtorWorkbook::BuildDebtorWorkbook(const QString& templateFilePath,
                                            const QString& fileName,
                                            const std::vector<DebtorRow>& debtors) {
    observer_.progressStarted(int(debtors.size()));
    excel_.connect();
    const QString workDir = QDir::currentPath();
    const QString path = workDir + u'/' + fileName;
    excel_.openWorkbook(workDir + u'/' + templateFilePath);
    try {
        saving(fileName, [&] { excel_.saveWorkbookAs(path); });
        writeDebtorsAndTotal(debtors);
        saving(fileName, [&] { excel_.saveWorkbook(); });
    } catch (const SaveFailed&) {
        throw;
    } catch (...) {
        // The workbook stays open as far as the report got; nothing in it is the
        // user's, so the next report under this name may replace it.
        try {
            excel_.markUnchanged();
        } catch (...) {
        }
        throw;
    }
    excel_.makeVisible();
    excel_.disconnect();
    observer_.progressFinished();
    return path;
}

// A save that fails closes the run's workbook unsaved, so that nothing hidden
// stays behind in the office, and says which file it was.
template <class F> void DebtorWorkbook::saving(const QString& fileName, F&& save) {
    try {
        save();
    } catch (const std::exception& e) {
        try {
            excel_.closeWorkbook();
        } catch (...) {
        }
        throw SaveFailed(QStringLiteral("Не удалось сохранить книгу «%1»: %2")
                             .arg(fileName, firstLine(e.what())));
    }
}

// The addresses of the next block are looked up on the billing side while the
// office writes the current one.
void DebtorWorkbook::writeDebtorsAndTotal(const std::vector<DebtorRow>& debtors) {
    const auto blockEnd = [&](size_t at) {
        return std::min(debtors.size(), at + size_t(blockSize_));
    };
    double debtTotal = 0;
    Addresses addresses = dm_.addressesOf(userIdsOf(debtors, 0, blockEnd(0)));
    for (size_t at = 0; at < debtors.size(); at = blockEnd(at)) {
        const size_t end = blockEnd(at);
        addresses = writeBlock(FirstDebtorRow + int(at), debtors, at, end, addresses,
                               userIdsOf(debtors, end, blockEnd(end)));
        for (size_t i = at; i < end; ++i)
            debtTotal += debtors[i].debt;
        observer_.progress(int(end));
    }
    writeTotalRow(FirstDebtorRow + int(debtors.size()), debtTotal);
}

// Writes the rows of debtors [at, end), whose addresses are known, then inserts
// their snapshot rows; the addresses of the next block's debtors are sent for
// before the rows are written and received after. Returns those.
DebtorWorkbook::Addresses DebtorWorkbook::writeBlock(int firstRow,
                                                     const std::vector<DebtorRow>& debtors,
                                                     size_t at, size_t end,
                                                     const Addresses& addresses,
                                                     const std::vector<qint64>& nextUserIds) {
    std::vector<Spreadsheet::Row> rows;
    for (size_t i = at; i < end; ++i) {
        const DebtorRow& d = debtors[i];
        // A debtor the billing database does not know gets empty address cells.
        const SubscriberAddress a = addresses.value(userIdOf(d.userIdText));
        rows.push_back({d.userIdText, a.account, d.phone, a.name, d.debt, a.address});
    }
    if (!nextUserIds.empty())
        dm_.sendAddressesOf(nextUserIds);
    excel_.writeRows(firstRow, FirstColumn, rows);
    Addresses next;
    try {
        if (!nextUserIds.empty())
            next = dm_.receiveAddresses();
        snapshot_.InsertPaymentSnapshot(userIdsOf(debtors, at, end));
    } catch (...) {
        // The block's rows leave the workbook again, so that what it shows and
        // what the snapshot holds stay the same debtors.
        try {
            excel_.clearRows(firstRow, int(end - at));
        } catch (...) {
        }
        throw;
    }
    return next;
}

void DebtorWorkbook::writeTotalRow(int row, double debtTotal) {
    excel_.alignRight(row, column(NameColumn), column(DebtColumn));
    excel_.setBold(row, column(PhoneColumn), column(DebtColumn));
    excel_.setCellNumber(row, column(DebtColumn), debtTotal);
    excel_.setCellText(row, column(NameColumn), QStringLiteral("Сумма оплат на отчётную дату"));
    excel_.hideColumn(column(UserIdColumn));
}

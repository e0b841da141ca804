#include "lists/DebtorWorkbook.h"

#include "data/fmCommonDM.h"
#include "lists/PaymentSnapshot.h"
#include "lists/RunObserver.h"
#include "lists/WorkbookName.h"
#include "platform/Spreadsheet.h"

#include <QDir>
#include <stdexcept>

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
        throw std::runtime_error(
            QStringLiteral("Должник без номера абонента: user_id «%1»").arg(text).toStdString());
    return id;
}
} // namespace

struct DebtorWorkbook::DebtorRow {
    QString userIdText;
    qint64 userId;
    QString phone;
    double debt;
};

DebtorWorkbook::DebtorWorkbook(TdmCommon& dm, Spreadsheet& excel, PaymentSnapshot& snapshot,
                               RunObserver& observer, RunLimits limits)
    : dm_(dm), excel_(excel), snapshot_(snapshot), observer_(observer), limits_(limits) {}

QString DebtorWorkbook::tooLarge(qint64 debtors) const {
    return QStringLiteral("Отчёт не построен: должников %1, а на лист книги .xls помещается %2. "
                          "Сузьте выбор: сумма долга, АТС, дата подключения.")
        .arg(debtors)
        .arg(limits_.maxDebtorRows);
}

namespace {
QString firstLine(const char* text) {
    return QString::fromUtf8(text).section(u'\n', 0, 0).trimmed();
}
} // namespace

void DebtorWorkbook::BuildDebtorWorkbook(const QString& templateFilePath, const QString& settlement,
                                         const QString& townId, int debtorCount) {
    dm_.sqLstPhonDelTab->first();
    if (debtorCount > limits_.maxDebtorRows) {
        observer_.notice(tooLarge(debtorCount));
        return;
    }
    observer_.progressStarted(debtorCount);
    excel_.connect();
    const QString workDir = QDir::currentPath();
    const QString fileName = workbookFileName(settlement, townId);
    excel_.openWorkbook(workDir + u'/' + templateFilePath);
    try {
        saving(fileName, [&] { excel_.saveWorkbookAs(workDir + u'/' + fileName); });
        writeDebtorsAndTotal();
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
                             .arg(fileName, firstLine(e.what()))
                             .toStdString());
    }
}

void DebtorWorkbook::writeDebtorsAndTotal() {
    debtTotal_ = 0;
    rowsDone_ = 0;
    for (std::vector<DebtorRow> block = readBlock(); !block.empty(); block = readBlock()) {
        // The rows may have grown since they were counted.
        if (rowsDone_ + qint64(block.size()) > limits_.maxDebtorRows)
            throw std::runtime_error(tooLarge(rowsDone_ + qint64(block.size())).toStdString());
        writeBlock(FirstDebtorRow + rowsDone_, block);
        for (const DebtorRow& d : block)
            debtTotal_ += d.debt;
        rowsDone_ += int(block.size());
        observer_.progress(rowsDone_);
    }
    writeTotalRow(FirstDebtorRow + rowsDone_);
}

std::vector<DebtorWorkbook::DebtorRow> DebtorWorkbook::readBlock() {
    SqlQuery& debtors = *dm_.sqLstPhonDelTab;
    std::vector<DebtorRow> block;
    for (; !debtors.eof() && int(block.size()) < limits_.blockSize; debtors.next()) {
        const QString userId = debtors.asString(QStringLiteral("user_id"));
        block.push_back({userId, userIdOf(userId), debtors.asString(QStringLiteral("phone")),
                         debtors.asFloat(QStringLiteral("cur_deb"))});
    }
    return block;
}

void DebtorWorkbook::writeBlock(int firstRow, const std::vector<DebtorRow>& block) {
    std::vector<qint64> userIds;
    for (const DebtorRow& d : block)
        userIds.push_back(d.userId);
    const QHash<qint64, SubscriberAddress> addresses = dm_.addressesOf(userIds);

    std::vector<Spreadsheet::Row> rows;
    for (const DebtorRow& d : block) {
        // A debtor the billing database does not know gets empty address cells.
        const SubscriberAddress a = addresses.value(d.userId);
        rows.push_back({d.userIdText, a.account, d.phone, a.name, d.debt, a.address});
    }
    excel_.writeRows(firstRow, FirstColumn, rows);
    try {
        snapshot_.InsertPaymentSnapshot(userIds);
    } catch (...) {
        // The block's rows leave the workbook again, so that what it shows and
        // what the snapshot holds stay the same debtors.
        try {
            excel_.clearRows(firstRow, int(block.size()));
        } catch (...) {
        }
        throw;
    }
}

void DebtorWorkbook::writeTotalRow(int row) {
    excel_.alignRight(row, column(NameColumn), column(DebtColumn));
    excel_.setBold(row, column(PhoneColumn), column(DebtColumn));
    excel_.setCellNumber(row, column(DebtColumn), debtTotal_);
    excel_.setCellText(row, column(NameColumn), QStringLiteral("Сумма оплат на отчётную дату"));
    excel_.hideColumn(column(UserIdColumn));
}

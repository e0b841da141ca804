#include "lists/DebtorWorkbook.h"

#include "data/DbError.h"
#include "data/fmCommonDM.h"
#include "lists/PaymentSnapshot.h"
#include "lists/RunObserver.h"
#include "lists/WorkbookName.h"
#include "platform/Spreadsheet.h"
#include "platform/TextFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

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

// What a saved workbook takes on the disk, at most: the template and a row's
// cells per debtor.
qint64 bytesToSave(const QString& templatePath, size_t debtors) {
    return QFileInfo(templatePath).size() + 256 * qint64(debtors);
}

// An office that could not save says so in its own internal terms; a folder
// without the room for the file is the likely cause, and is named.
bool lacksRoom(const QString& path, qint64 bytesNeeded) {
    const QStorageInfo disk(QFileInfo(path).absolutePath());
    return disk.isValid() && disk.bytesAvailable() < std::max<qint64>(bytesNeeded, 1 << 20);
}

QString notSaved(const QString& path) {
    const QFileInfo file(path);
    return QStringLiteral("Не удалось сохранить книгу «%1» в папке «%2»")
        .arg(file.fileName(), file.absolutePath());
}

// The report is written in the working folder under a name of the program's
// own (one program runs at a time), so that taking the settlement's name is
// one rename on the same disk.
QString asidePathIn(const QString& workDir) {
    return workDir +
           QStringLiteral("/.tulmina-report-%1.xls").arg(QCoreApplication::applicationPid());
}

// The file aside and the office's lock on it: a save that failed leaves the
// lock, which would refuse the next save.
void removeAside(const QString& aside) {
    const QFileInfo file(aside);
    QFile::remove(aside);
    QFile::remove(file.absolutePath() + QStringLiteral("/.~lock.") + file.fileName() + u'#');
}

// The whole report replaces the earlier one at once: a reader sees either.
void putInPlace(const QString& aside, const QString& path) {
    if (::rename(QFile::encodeName(aside).constData(), QFile::encodeName(path).constData()) != 0)
        throw FileError(notSaved(path) + QStringLiteral(" (снимок платежей записан): ") +
                        QString::fromLocal8Bit(std::strerror(errno)));
}
} // namespace

DebtorWorkbook::DebtorWorkbook(TdmCommon& dm, Spreadsheet& excel, PaymentSnapshot& snapshot,
                               RunObserver& observer, int blockSize)
    : dm_(dm), excel_(excel), snapshot_(snapshot), observer_(observer),
      blockSize_(std::max(1, blockSize)) {}

QString DebtorWorkbook::BuildDebtorWorkbook(const QString& workDir, const QString& templateFilePath,
                                            const QString& fileName,
                                            const std::vector<DebtorRow>& debtors) {
    observer_.progressStarted(int(debtors.size()));
    excel_.connect();
    const QString path = workDir + u'/' + fileName;
    const QString templatePath = workDir + u'/' + templateFilePath;
    const QString aside = asidePathIn(workDir);
    const qint64 bytesNeeded = bytesToSave(templatePath, debtors.size());
    if (QFileInfo(path).isDir())
        throw SaveFailed(notSaved(path));
    // Until the report is whole, an earlier one under the name stays as it was.
    excel_.openWorkbook(templatePath, path);
    try {
        const std::vector<qint64> userIds = writeDebtorsAndTotal(debtors);
        removeAside(aside); // left by a run that ended with the program
        saving(path, bytesNeeded, [&] { excel_.saveWorkbookAside(aside); });
        recordSnapshot(userIds, path);
        putInPlace(aside, path);
    } catch (...) {
        closeWorkbookUnsaved(); // nothing hidden stays behind in the office
        removeAside(aside);
        throw;
    }
    excel_.markSaved();
    excel_.makeVisible();
    excel_.disconnect();
    observer_.progressFinished();
    return path;
}

// The snapshot rows count only with the report: one that is not recorded
// does not take the settlement's name.
void DebtorWorkbook::recordSnapshot(const std::vector<qint64>& userIds, const QString& path) {
    try {
        snapshot_.InsertPaymentSnapshot(userIds);
    } catch (const CommitInDoubt& e) {
        throw CommitInDoubt(QStringLiteral("Книга «%1» не сохранена: %2")
                                .arg(QFileInfo(path).fileName(), e.message()));
    } catch (const DbError& e) {
        throw DbError(QStringLiteral("Отчёт не записан в базу данных, книга «%1» не сохранена: %2")
                          .arg(QFileInfo(path).fileName(), e.message()),
                      e.sqlState());
    }
}

// A save that fails says which file it was, and a full disk as such: the
// office's own words go to the program's log.
template <class F> void DebtorWorkbook::saving(const QString& path, qint64 bytesNeeded, F&& save) {
    try {
        save();
    } catch (const std::exception& e) {
        qWarning("LibreOffice could not save %s: %s", qPrintable(path), e.what());
        if (lacksRoom(path, bytesNeeded))
            throw noSpaceOnDisk(QStringLiteral("книга «%1» в папке «%2» не сохранена"), path);
        throw SaveFailed(notSaved(path));
    }
}

void DebtorWorkbook::closeWorkbookUnsaved() noexcept {
    try {
        excel_.closeWorkbook();
    } catch (...) {
    }
}

// The addresses of the next block are looked up on the billing side while the
// office writes the current one. Returns the debtors' user ids.
std::vector<qint64> DebtorWorkbook::writeDebtorsAndTotal(const std::vector<DebtorRow>& debtors) {
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
    return userIdsOf(debtors, 0, debtors.size());
}

// Writes the rows of debtors [at, end), whose addresses are known; the
// addresses of the next block's debtors are sent for before the rows are
// written and received after. Returns those.
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
    try {
        excel_.writeRows(firstRow, FirstColumn, rows);
    } catch (...) {
        dm_.discardAddresses(); // the lookup under way ends before anything else is sent
        throw;
    }
    return nextUserIds.empty() ? Addresses() : dm_.receiveAddresses();
}

void DebtorWorkbook::writeTotalRow(int row, double debtTotal) {
    excel_.alignRight(row, column(NameColumn), column(DebtColumn));
    excel_.setBold(row, column(PhoneColumn), column(DebtColumn));
    excel_.setCellNumber(row, column(DebtColumn), debtTotal);
    excel_.setCellText(row, column(NameColumn), QStringLiteral("Сумма оплат на отчётную дату"));
    excel_.hideColumn(column(UserIdColumn));
}

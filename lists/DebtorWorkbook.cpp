// The debtor workbook report: the template opened in the spreadsheet
// application, one row per debtor, a total row, left open on the screen.
#include "data/fmCommonDM.h"
#include "lists/GenerationRun.h"
#include "ui/frmMain.h"

#include <QComboBox>
#include <QDir>
#include <QProgressBar>
#include <QScopeGuard>
#include <stdexcept>

namespace {
constexpr int AddressConditionLine = 33;
// Offsets of the report's columns from FirstColumn.
enum Column { UserIdColumn = 0, AccountColumn, PhoneColumn, NameColumn, DebtColumn, AddressColumn };
} // namespace

// The report holds the user-interface thread, so the bar is painted at once,
// but only when its filled part grows by a pixel.
void TfmMain::showProgress(int rowsDone) {
    const auto pixels = [this](int value) {
        return PrBar->maximum() > 0 ? qint64(value) * PrBar->width() / PrBar->maximum() : 0;
    };
    const bool grows = pixels(rowsDone) != pixels(PrBar->value());
    PrBar->setValue(rowsDone);
    if (grows)
        PrBar->repaint();
}

void TfmMain::BuildDebtorWorkbook() {
    SqlQuery& debtors = *dm_->sqLstPhonDelTab;
    debtors.first();
    PrBar->show();
    PrBar->setMaximum(Run.DebtorCount);
    if (!cbListExcel)
        throw std::runtime_error("The spreadsheet application is not available");
    Spreadsheet& excel = *cbListExcel;
    excel.connect(); // keeps a live connection from an earlier report
    // A report that fails leaves the workbook filled as far as it got.
    const auto sendWrittenCells = qScopeGuard([&excel] {
        try {
            excel.flush();
        } catch (const std::exception&) {
        }
    });
    Report.WorkDir = QDir::currentPath();

    excel.openWorkbook(Report.WorkDir + u'/' + Run.TemplateFilePath);
    excel.saveWorkbookAs(Report.WorkDir + u'/' + workbookFileName(cbSettlement->currentText()));
    Report.FirstColumn = 1;
    Report.CurrentRow = 2;
    Report.DebtTotal = 0;
    int rowsDone = 0;

    SqlQuery& address = *dm_->sqListPhone;
    const auto cell = [&](int offset) { return Report.FirstColumn + offset; };
    while (!debtors.eof()) {
        const int row = Report.CurrentRow;
        excel.setCellText(row, cell(UserIdColumn), debtors.asString(QStringLiteral("user_id")));
        Report.CurrentUserId = debtors.asString(QStringLiteral("user_id"));
        address.replaceLine(AddressConditionLine,
                            QStringLiteral(" and t1.user_id = ") + Report.CurrentUserId);
        address.open();
        excel.setCellText(row, cell(AccountColumn), address.asString(QStringLiteral("account")));
        excel.setCellText(row, cell(PhoneColumn), debtors.asString(QStringLiteral("phone")));
        excel.setCellText(row, cell(NameColumn), address.asString(QStringLiteral("name")));
        Report.CurrentDebt = debtors.asFloat(QStringLiteral("cur_deb"));
        // Cells travel in blocks, but an office that can no longer take them
        // stops the report before the same insert as if each cell went alone.
        excel.checkConnection();
        InsertPaymentSnapshot(Report.CurrentUserId);
        excel.setCellNumber(row, cell(DebtColumn), Report.CurrentDebt);
        Report.DebtTotal += Report.CurrentDebt;
        excel.setCellText(row, cell(AddressColumn),
                          address.asString(QStringLiteral("ClientInfoWithoutName")));
        ++Report.CurrentRow;
        ++rowsDone;
        address.close();
        debtors.next();
        showProgress(rowsDone);
    }

    const int totalRow = Report.CurrentRow;
    excel.alignRight(totalRow, cell(NameColumn), cell(DebtColumn));
    excel.setBold(totalRow, cell(PhoneColumn), cell(DebtColumn));
    excel.setCellNumber(totalRow, cell(DebtColumn), Report.DebtTotal);
    excel.setCellText(totalRow, cell(NameColumn), QStringLiteral("Сумма оплат на отчётную дату"));
    excel.hideColumn(1);

    excel.saveWorkbook();
    excel.makeVisible();
    excel.disconnect();
    PrBar->hide();
}

#pragma once
#include "lists/DebtorWorkbook.h"
#include "lists/RunParameters.h"
#include "platform/TextFile.h"

#include <QString>

class RunObserver;
class Spreadsheet;
class TdmCommon;

// The generation run behind "Формировать": the parameter log, the debtor query
// assembled from the user's choices with every value bound, one pass over it
// that counts the debtors and writes the phone list, and by list kind the
// workbook report with its payment snapshot. It takes everything it uses as
// parameters and reads nothing of the window.
class GenerationRun {
public:
    GenerationRun(TdmCommon& dm, RunObserver& observer, RunLimits limits = {});

    // One run. A failing step ends it with an error carrying the failing
    // component's message; the text file it had open is closed.
    RunOutcome run(const RunParameters& choice, Spreadsheet* spreadsheet);

    // The connection-date condition of the debtor query; kept from run to run
    // while no date choice is on.
    const QString& dateClause() const { return dateClause_; }

private:
    bool assembleDebtorQuery(const RunParameters& choice);
    void setDateCondition(const DateFilter& date);

    TdmCommon& dm_;
    RunObserver& observer_;
    RunLimits limits_;
    QString dateClause_;
    DateFilter dateValues_; // the dates dateClause_ is bound to
    TextFile textFile_;     // the parameter log, then the phone list
};

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

    // One run, its files under the working folder. A failing step ends it
    // with an error carrying the failing component's message; the text file
    // it had open is closed, and what it made of the phone list, the workbook
    // and the snapshot is gone again. A run the user stopped while the server
    // was silent ends in Stopped, which says what was and was not made.
    RunOutcome run(const RunParameters& choice, const QString& workDir, Spreadsheet* spreadsheet);

private:
    void runSteps(const RunParameters& choice, const QString& workDir, Spreadsheet* spreadsheet,
                  RunOutcome& outcome);
    bool assembleDebtorQuery(const RunParameters& choice);
    void setDateCondition(const DateFilter& date);
    void recordFailedReport(struct RunRecord record) noexcept;

    TdmCommon& dm_;
    RunObserver& observer_;
    RunLimits limits_;
    TextFile textFile_; // the parameter log, then the phone list
};

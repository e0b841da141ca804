#pragma once
#include "lists/DebtorWorkbook.h"
#include "lists/RunParameters.h"
#include "platform/TextFile.h"

#include <QString>

class RunObserver;
class Spreadsheet;
class TdmCommon;
struct ExchangeTown;

// Values of the last run, readable until the next one overwrites them.
struct RunContext {
    QString RunStamp;
    QString StationFilePath;
    QString TemplateFilePath;
    qint32 DebtorCount = 0;
    QString DateClause; // kept from run to run while no date choice is on
};

// The generation run behind "Формировать": the parameter log, the debtor query
// assembled from the user's choices, its count, and by list kind the phone list
// and the workbook report with its payment snapshot.
class GenerationRun {
public:
    GenerationRun(TdmCommon& dm, RunObserver& observer, RunLimits limits = {});

    // One run. A failing step ends it with an error carrying the failing
    // component's message; the text file it had open is closed.
    void run(const RunParameters& choice, Spreadsheet* spreadsheet);

    const RunContext& context() const { return context_; }

private:
    bool assembleDebtorQuery(const RunParameters& choice, ExchangeTown* town);
    void countDebtors();
    void report(const RunParameters& choice, const ExchangeTown& town, Spreadsheet* spreadsheet);

    TdmCommon& dm_;
    RunObserver& observer_;
    RunLimits limits_;
    RunContext context_;
    TextFile textFile_; // the parameter log, then the phone list
};

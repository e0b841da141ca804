#include "lists/GenerationRun.h"

#include "data/fmCommonDM.h"
#include "lists/PaymentSnapshot.h"
#include "lists/PhoneList.h"
#include "lists/RunObserver.h"
#include "lists/RunStamp.h"
#include "lists/WorkbookName.h"
#include "platform/Failure.h"
#include "platform/RegionalForms.h"

#include <QScopeGuard>

namespace {
// Lines of the debtor query template that a run replaces.
constexpr int ClientKindLine = 19;
constexpr int ExclusionLine = 20;
constexpr int DateLine = 21;
constexpr int TownLine = 22;
constexpr int DebtLine = 23;

QString d(const QDate& date) {
    return regional::shortDate(date);
}

// What a run the user stopped had made, in one line.
QString stoppedLine(const RunParameters& choice, const RunOutcome& made, Awaited awaited) {
    QStringList done{QStringLiteral("журнал параметров")};
    QStringList notDone;
    if (choice.listKind == CallRound || choice.listKind == Analysis)
        (made.phoneListPath.isEmpty() ? notDone : done) << QStringLiteral("список телефонов");
    if (choice.listKind == General || choice.listKind == Analysis)
        notDone << QStringLiteral("книга отчёта") << QStringLiteral("снимок платежей");
    QString line = QStringLiteral("Формирование прервано: %1 не отвечал. Сделано: ")
                       .arg(awaited == Awaited::Office ? QStringLiteral("LibreOffice")
                                                       : QStringLiteral("сервер базы данных")) +
                   done.join(QStringLiteral(", ")) + u'.';
    if (!notDone.isEmpty())
        line += QStringLiteral(" Не сделано: ") + notDone.join(QStringLiteral(", ")) + u'.';
    return line;
}

QString tooLarge(int debtors, int fit) {
    return QStringLiteral("Отчёт не построен: должников %1, а на лист книги .xls помещается %2. "
                          "Сузьте выбор: сумма долга, АТС, дата подключения.")
        .arg(debtors)
        .arg(fit);
}
} // namespace

GenerationRun::GenerationRun(TdmCommon& dm, RunObserver& observer, RunLimits limits)
    : dm_(dm), observer_(observer), limits_(limits) {}

RunOutcome GenerationRun::run(const RunParameters& choice, const QString& workDir,
                              Spreadsheet* spreadsheet) {
    const auto closeFile = qScopeGuard([this] { textFile_.abandon(); });
    RunOutcome outcome;
    try {
        runSteps(choice, workDir, spreadsheet, outcome);
    } catch (const Stopped& stop) {
        throw Stopped(stoppedLine(choice, outcome, stop.awaited()), stop.awaited());
    }
    return outcome;
}

void GenerationRun::runSteps(const RunParameters& choice, const QString& workDir,
                             Spreadsheet* spreadsheet, RunOutcome& outcome) {
    const QString folder = workDir + u'/';
    outcome.runStamp = makeRunStamp(QDateTime::currentDateTime());
    outcome.logPath = folder + runpaths::LogParam + outcome.runStamp + QStringLiteral(".txt");
    textFile_.create(outcome.logPath);
    if (!assembleDebtorQuery(choice)) {
        outcome.end = RunOutcome::End::NoExchanges;
        outcome.notice = QStringLiteral("Не выбраны АТС");
        return;
    }
    observer_.busy();

    const bool writesList = choice.listKind == CallRound || choice.listKind == Analysis;
    const bool reports = choice.listKind == General || choice.listKind == Analysis;
    const QString listPath = folder + runpaths::Station + outcome.runStamp + QStringLiteral(".txt");
    SqlQuery& debtors = *dm_.sqLstPhonDelTab;
    const DebtorPass pass = [&] {
        debtors.open();
        const auto closeDebtors = qScopeGuard([&] { debtors.close(); }); // whatever ends the pass
        return WritePhoneList(debtors, writesList ? &textFile_ : nullptr, listPath,
                              reports ? limits_.maxDebtorRows : 0);
    }();
    if (writesList)
        outcome.phoneListPath = listPath;
    outcome.debtorCount = pass.count;
    // A report's run is recorded with its snapshot rows, or as failed.
    RunRecord record(choice.listKindText, choice.settlement.name, choice.settlement.townId,
                     pass.count);
    if (!reports || pass.count > limits_.maxDebtorRows)
        dm_.recordRun(record);
    if (!reports)
        return;
    if (pass.count > limits_.maxDebtorRows) {
        outcome.end = RunOutcome::End::TooLarge;
        outcome.notice = tooLarge(pass.count, limits_.maxDebtorRows);
        return;
    }
    if (!spreadsheet)
        throw ProgramError(QStringLiteral("Связь с LibreOffice не настроена"));
    PaymentSnapshot snapshot(dm_, choice.settlement, record);
    const SettlementTown& town = choice.settlement;
    try {
        outcome.workbookPath =
            DebtorWorkbook(dm_, *spreadsheet, snapshot, observer_, limits_.blockSize)
                .BuildDebtorWorkbook(workDir, runpaths::Template,
                                     workbookFileName(town.name, town.townId, town.nameShared),
                                     pass.rows);
    } catch (...) {
        if (!snapshot.recorded())
            recordFailedReport(record);
        throw;
    }
}

// As far as the connection still serves: a report that failed for the server
// may not be recorded at all.
void GenerationRun::recordFailedReport(RunRecord record) noexcept {
    record.failed = true;
    try {
        dm_.recordRun(record);
    } catch (const std::exception&) {
    }
}

// Writes the parameter log and replaces the five condition lines of the debtor
// query template; every value in them is a bound parameter. False when every
// exchange is left out: the run stops there.
bool GenerationRun::assembleDebtorQuery(const RunParameters& choice) {
    SqlQuery& debtors = *dm_.sqLstPhonDelTab;
    debtors.replaceLine(ClientKindLine, choice.clientKind == Residential
                                            ? QStringLiteral(" iscorp = 'N'")
                                            : QStringLiteral(" iscorp = 'Y'"));
    textFile_.writeLine(QStringLiteral("Кто: ") + choice.clientKindText);

    const QString minDebtText = regional::amount(choice.minDebt);
    debtors.replaceLine(DebtLine, QStringLiteral(" and cur_deb < :min_debt"));
    debtors.setParam(QStringLiteral("min_debt"), choice.minDebt);
    textFile_.writeLine(QStringLiteral("Размер долга: >") +
                        (minDebtText.isEmpty() ? QStringLiteral("0") : minDebtText));

    textFile_.writeLine(QStringLiteral("Город: ") + choice.settlement.name);
    debtors.replaceLine(TownLine, QStringLiteral(" and town_id = :town_id"));
    const QString& townId = choice.settlement.townId;
    debtors.setParam(QStringLiteral("town_id"), townId.isEmpty() ? QVariant() : QVariant(townId));

    if (choice.excluded.size() == choice.exchangeCount) {
        textFile_.close();
        return false;
    }
    QStringList markers;
    QString excludedNames;
    for (const ExcludedExchange& e : choice.excluded) {
        excludedNames += QStringLiteral(", ") + e.caption;
        markers << QStringLiteral(":ats_%1").arg(markers.size() + 1);
    }
    debtors.replaceLine(ExclusionLine, markers.isEmpty()
                                           ? QString()
                                           : QStringLiteral(" and substr(phone, 1, 6) not in (") +
                                                 markers.join(QStringLiteral(" , ")) + u')');
    for (qsizetype i = 0; i < choice.excluded.size(); ++i)
        debtors.setParam(QStringLiteral("ats_%1").arg(i + 1), choice.excluded[i].code);
    textFile_.writeLine(QStringLiteral("Невошедшие АТС: ") + excludedNames);

    const DateFilter& date = choice.dateFilter;
    QString dateLine;
    switch (date.kind) {
    case DateFilter::Before:
        dateLine = QStringLiteral("До: ") + d(date.first);
        break;
    case DateFilter::After:
        dateLine = QStringLiteral("После: ") + d(date.first);
        break;
    case DateFilter::Between:
        dateLine = QStringLiteral("C: ") + d(date.first) + QStringLiteral(" По: ") + d(date.last);
        break;
    case DateFilter::None:
        break;
    }
    textFile_.writeLine(dateLine);
    setDateCondition(date);

    textFile_.writeLine(QStringLiteral("Какой: ") + choice.listKindText);
    textFile_.close();
    return true;
}

// The connection-date condition of the date choice, its dates bound.
void GenerationRun::setDateCondition(const DateFilter& date) {
    QString clause;
    switch (date.kind) {
    case DateFilter::Before:
        clause = QStringLiteral(" and date_on < :date_1 ");
        break;
    case DateFilter::After:
        clause = QStringLiteral(" and date_on > :date_1 ");
        break;
    case DateFilter::Between:
        clause = QStringLiteral(" and date_on between :date_1 and :date_2 ");
        break;
    case DateFilter::None:
        break;
    }
    SqlQuery& debtors = *dm_.sqLstPhonDelTab;
    debtors.replaceLine(DateLine, clause);
    for (const auto& [name, value] : {std::pair{QStringLiteral("date_1"), date.first},
                                      std::pair{QStringLiteral("date_2"), date.last}})
        if (debtors.parameterNames().contains(name))
            debtors.setParam(name, value);
}

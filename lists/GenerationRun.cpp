#include "lists/GenerationRun.h"

#include "data/SqlLexer.h"
#include "data/fmCommonDM.h"
#include "lists/PaymentSnapshot.h"
#include "lists/PhoneList.h"
#include "lists/RunObserver.h"
#include "lists/RunStamp.h"
#include "platform/RegionalForms.h"

#include <QScopeGuard>
#include <stdexcept>

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
} // namespace

GenerationRun::GenerationRun(TdmCommon& dm, RunObserver& observer, RunLimits limits)
    : dm_(dm), observer_(observer), limits_(limits) {}

void GenerationRun::run(const RunParameters& choice, Spreadsheet* spreadsheet) {
    // The outputs are named after the settlement and hold its debtors: a text
    // typed into the box that is not the settlement shown would mix the two.
    if (choice.settlement != dm_.shownSettlement()) {
        observer_.notice(QStringLiteral("Выберите населенный пункт из списка"));
        return;
    }
    const auto closeFile = qScopeGuard([this] { textFile_.abandon(); });
    context_.RunStamp = makeRunStamp(QDateTime::currentDateTime());
    context_.StationFilePath = runpaths::Station + context_.RunStamp + QStringLiteral(".txt");
    context_.TemplateFilePath = runpaths::Template;
    textFile_.create(runpaths::LogParam + context_.RunStamp + QStringLiteral(".txt"));

    ExchangeTown town;
    if (!assembleDebtorQuery(choice, &town))
        return;
    observer_.busy();
    countDebtors();

    SqlQuery& debtors = *dm_.sqLstPhonDelTab;
    switch (choice.listKind) {
    case CallRound:
        WritePhoneList(debtors, textFile_, context_.StationFilePath);
        debtors.close();
        break;
    case General:
        report(choice, town, spreadsheet);
        break;
    case Analysis:
        WritePhoneList(debtors, textFile_, context_.StationFilePath);
        debtors.first();
        report(choice, town, spreadsheet);
        break;
    default:
        break;
    }
}

// Writes the parameter log and replaces the five condition lines of the debtor
// query template. False when every exchange is left out: the run stops there.
bool GenerationRun::assembleDebtorQuery(const RunParameters& choice, ExchangeTown* town) {
    SqlQuery& debtors = *dm_.sqLstPhonDelTab;
    debtors.replaceLine(ClientKindLine, choice.clientKind == Residential
                                            ? QStringLiteral(" iscorp = 'N'")
                                            : QStringLiteral(" iscorp = 'Y'"));
    textFile_.writeLine(QStringLiteral("Кто: ") + choice.clientKindText);

    const QString minDebtText =
        choice.minDebtText.isEmpty() ? QStringLiteral("0") : choice.minDebtText;
    // The server reads a point as the decimal separator, whatever the field shows.
    debtors.replaceLine(DebtLine, QStringLiteral(" and cur_deb < ") + choice.minDebtSql);
    textFile_.writeLine(QStringLiteral("Размер долга: >") + minDebtText);

    *town = dm_.firstExchange();
    textFile_.writeLine(QStringLiteral("Город: ") + choice.settlement);
    debtors.replaceLine(TownLine,
                        QStringLiteral(" and town_id = ") + sqllex::quoteLiteral(town->townId));

    QString exclusion;
    QString excludedNames;
    for (const QString& tail : choice.excludedTails) {
        excludedNames += QStringLiteral(", ") + tail;
        exclusion += (exclusion.isEmpty() ? QString() : QStringLiteral(" , ")) +
                     sqllex::quoteLiteral(choice.codePrefix + tail);
    }
    if (choice.excludedTails.size() == choice.exchangeCount) {
        observer_.notice(QStringLiteral("Не выбраны АТС"));
        textFile_.close();
        return false;
    }
    if (!exclusion.isEmpty())
        exclusion = QStringLiteral(" and substr(phone, 1, 6) not in (") + exclusion + u')';
    debtors.replaceLine(ExclusionLine, exclusion);
    textFile_.writeLine(QStringLiteral("Невошедшие АТС: ") + excludedNames);

    const DateFilter& date = choice.dateFilter;
    QString dateLine;
    switch (date.kind) {
    case DateFilter::Before:
        dateLine = QStringLiteral("До: ") + d(date.first);
        context_.DateClause =
            QStringLiteral(" and date_on < '") + d(date.first) + QStringLiteral("' ");
        break;
    case DateFilter::After:
        dateLine = QStringLiteral("После: ") + d(date.first);
        context_.DateClause =
            QStringLiteral(" and date_on > '") + d(date.first) + QStringLiteral("' ");
        break;
    case DateFilter::Between:
        dateLine = QStringLiteral("C: ") + d(date.first) + QStringLiteral(" По: ") + d(date.last);
        context_.DateClause = QStringLiteral(" and date_on between '") + d(date.first) +
                              QStringLiteral("' and '") + d(date.last) + QStringLiteral("' ");
        break;
    case DateFilter::None:
        break;
    }
    textFile_.writeLine(dateLine);
    debtors.replaceLine(DateLine, context_.DateClause);

    textFile_.writeLine(QStringLiteral("Какой: ") + choice.listKindText);
    textFile_.close();
    return true;
}

// Counts the debtors in a pass of its own and goes back to the first row.
void GenerationRun::countDebtors() {
    SqlQuery& debtors = *dm_.sqLstPhonDelTab;
    debtors.open();
    context_.DebtorCount = 0;
    for (; !debtors.eof(); debtors.next())
        ++context_.DebtorCount;
    debtors.first();
}

void GenerationRun::report(const RunParameters& choice, const ExchangeTown& town,
                           Spreadsheet* spreadsheet) {
    if (!spreadsheet)
        throw std::runtime_error("Связь с LibreOffice не настроена");
    PaymentSnapshot snapshot(dm_, town);
    DebtorWorkbook(dm_, *spreadsheet, snapshot, observer_, limits_)
        .BuildDebtorWorkbook(context_.TemplateFilePath, choice.settlement, town.townId,
                             context_.DebtorCount);
}

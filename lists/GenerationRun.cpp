// The generation run behind "Формировать": parameter log, debtor query
// assembly, count and dispatch to the outputs.
#include "lists/GenerationRun.h"

#include "data/SqlLexer.h"
#include "data/fmCommonDM.h"
#include "platform/RegionalForms.h"
#include "platform/TextFile.h"
#include "ui/AmountEdit.h"
#include "ui/MessageBoxes.h"
#include "ui/frmMain.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>

namespace {
// Lines of the debtor query template that a run replaces.
constexpr int ClientKindLine = 19;
constexpr int ExclusionLine = 20;
constexpr int DateLine = 21;
constexpr int TownLine = 22;
constexpr int DebtLine = 23;
} // namespace

QString RemoveAll(QString text, const QString& pattern) {
    if (pattern.isEmpty())
        return text;
    for (qsizetype at = text.indexOf(pattern); at >= 0; at = text.indexOf(pattern))
        text.remove(at, pattern.size());
    return text;
}

QString makeRunStamp(const QDateTime& moment) {
    QString s = regional::dateTime(moment);
    s = RemoveAll(s, QStringLiteral(" "));
    s = RemoveAll(s, QStringLiteral(":"));
    s = RemoveAll(s, QStringLiteral("."));
    return s.left(4) + s.mid(6);
}

QString workbookFileName(const QString& settlement) {
    QString name = settlement;
    for (QChar& c : name)
        if (c.unicode() < 32 || QStringLiteral("/\\:*?\"<>|").contains(c))
            c = u'_';
    return name + QStringLiteral(".xls");
}

void TfmMain::bbExecuteClick() {
    if (!textFile)
        textFile = std::make_unique<TextFile>();
    // Whatever way the run ends, the window is left usable and no file stays open.
    const auto restore = qScopeGuard([this] {
        textFile->abandon();
        bbExecute->setEnabled(true);
        Label1->hide();
        PrBar->hide();
    });
    SqlQuery& debtors = *dm_->sqLstPhonDelTab;

    Run.RunStamp = makeRunStamp(QDateTime::currentDateTime());
    Run.StationFilePath = runpaths::Station + Run.RunStamp + QStringLiteral(".txt");
    Run.TemplateFilePath = runpaths::Template;
    const QString paramLogPath = runpaths::LogParam + Run.RunStamp + QStringLiteral(".txt");
    textFile->create(paramLogPath);

    debtors.replaceLine(ClientKindLine, cbTypeUser->currentIndex() == Residential
                                            ? QStringLiteral(" iscorp = 'N'")
                                            : QStringLiteral(" iscorp = 'Y'"));
    textFile->writeLine(QStringLiteral("Кто: ") + cbTypeUser->currentText());

    ceSumma->normalize();
    const QString minDebtText = ceSumma->text().isEmpty() ? QStringLiteral("0") : ceSumma->text();
    // The server reads a point as the decimal separator, whatever the field shows.
    debtors.replaceLine(DebtLine, QStringLiteral(" and cur_deb < ") + ceSumma->amountForSql());
    textFile->writeLine(QStringLiteral("Размер долга: >") + minDebtText);

    const QString codePrefix = CodAts->text();
    QString exclusionClause = QStringLiteral(" and substr(phone, 1, 6) not in (");
    QString excludedNames;
    int ticked = 0;

    SqlQuery& phoneInd = *dm_->sqPhoneInd;
    phoneInd.first();
    const QString townClause =
        QStringLiteral(" and town_id = '") + phoneInd.asString(QStringLiteral("town_id")) + u'\'';
    textFile->writeLine(QStringLiteral("Город: ") + cbSettlement->currentText());
    debtors.replaceLine(TownLine, townClause);

    for (ExchangeCursor = 1; ExchangeCursor <= ExchangeCount; ++ExchangeCursor) {
        QCheckBox* box = ExchangeBoxes[ExchangeCursor];
        if (!box || !box->isChecked())
            continue;
        const QString tail = ExchangeLabels[ExchangeCursor]->text();
        excludedNames += QStringLiteral(", ") + tail;
        if (ticked > 0)
            exclusionClause += QStringLiteral(" , ");
        exclusionClause += sqllex::quoteLiteral(codePrefix + tail);
        ++ticked;
    }

    if (ticked == ExchangeCount) {
        msgbox::inform(QStringLiteral("Не выбраны АТС"));
        textFile->close();
        return;
    }
    exclusionClause = ticked == 0 ? QString() : exclusionClause + u')';
    debtors.replaceLine(ExclusionLine, exclusionClause);
    textFile->writeLine(QStringLiteral("Невошедшие АТС: ") + excludedNames);

    auto d = [](const QDateEdit* picker) { return regional::shortDate(picker->date()); };
    QString dateLine;
    if (ToTime->isChecked()) {
        dateLine = QStringLiteral("До: ") + d(DateTimePickerTo);
        Run.DateClause =
            QStringLiteral(" and date_on < '") + d(DateTimePickerTo) + QStringLiteral("' ");
    }
    if (After->isChecked()) {
        dateLine = QStringLiteral("После: ") + d(DateTimePickerAfter);
        Run.DateClause =
            QStringLiteral(" and date_on > '") + d(DateTimePickerAfter) + QStringLiteral("' ");
    }
    if (Between->isChecked()) {
        dateLine = QStringLiteral("C: ") + d(DateTimePickerBetween1) + QStringLiteral(" По: ") +
                   d(DateTimePickerBetween2);
        Run.DateClause = QStringLiteral(" and date_on between '") + d(DateTimePickerBetween1) +
                         QStringLiteral("' and '") + d(DateTimePickerBetween2) +
                         QStringLiteral("' ");
    }
    textFile->writeLine(dateLine);
    debtors.replaceLine(DateLine, Run.DateClause);

    textFile->writeLine(QStringLiteral("Какой: ") + cbTypeCall->currentText());
    textFile->close();

    Label1->show();
    repaint();
    bbExecute->setEnabled(false);

    debtors.open();
    Run.DebtorCount = 0;
    for (; !debtors.eof(); debtors.next())
        ++Run.DebtorCount;
    debtors.first();

    switch (cbTypeCall->currentIndex()) {
    case CallRound:
        WritePhoneList();
        debtors.close();
        break;
    case General:
        BuildDebtorWorkbook();
        break;
    case Analysis:
        WritePhoneList();
        debtors.first();
        BuildDebtorWorkbook();
        break;
    default:
        break;
    }
}

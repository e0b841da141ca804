#pragma once
#include <QDate>
#include <QString>
#include <QStringList>

// Selected index of the list-kind box and of the client-kind box.
enum ListKind { CallRound = 0, General = 1, Analysis = 2 };
enum ClientKind { Residential = 0, Organisation = 1 };

// The connection-date choice of the three radio buttons.
struct DateFilter {
    enum Kind { None, Before, After, Between } kind = None;
    QDate first; // the date of "До" or "После", or the first date of "Между"
    QDate last;  // the last date of "Между"
};

// What the user chose in the main window for one generation run.
struct RunParameters {
    int clientKind = Residential; // selected index; -1 when none
    QString clientKindText;
    QString minDebtText; // the amount as the field shows it; empty for zero
    QString minDebtSql;  // the same amount with a point as decimal separator; "0" for zero
    QString settlement;  // the text of the settlement box
    QString codePrefix;  // the exchange code prefix shown before the row (CodAts)
    int exchangeCount = 0;
    QStringList excludedTails; // code tails of the ticked exchange boxes, in row order
    DateFilter dateFilter;
    int listKind = -1; // selected index; -1 when none
    QString listKindText;
};

#pragma once
#include <QDate>
#include <QList>
#include <QString>
#include <QVariant>

// The list kind and the client kind, as the two boxes list them.
enum ListKind { NoListKind = -1, CallRound = 0, General = 1, Analysis = 2 };
enum ClientKind { NoClientKind = -1, Residential = 0, Organisation = 1 };

// The connection-date choice of the three radio buttons.
struct DateFilter {
    enum Kind { None, Before, After, Between } kind = None;
    QDate first; // the date of "До" or "После", or the first date of "Между"
    QDate last;  // the last date of "Между"
};

// A settlement as the list offers it: its name and its own town. Two towns may
// share a name; each is an item of its own.
struct SettlementTown {
    QString name;            // as the list shows it ("" for a town without a name)
    QString townId;          // town_id as text
    QVariant territory;      // id_territory of its first exchange row; null when unknown
    bool nameShared = false; // another item of the list shows the same name
};

// An exchange left out of the list: its code, and the caption under its box.
struct ExcludedExchange {
    QString code;
    QString caption;
};

// What the user chose for one generation run, as values.
struct RunParameters {
    ClientKind clientKind = Residential;
    QString clientKindText;
    double minDebt = 0; // "cur_deb < minDebt"
    SettlementTown settlement;
    int exchangeCount = 0;            // exchanges of the settlement's row
    QList<ExcludedExchange> excluded; // in row order
    DateFilter dateFilter;
    ListKind listKind = NoListKind;
    QString listKindText;
};

// How a run ended and what it left.
struct RunOutcome {
    enum class End {
        Completed,   // every output of the list kind made
        NoExchanges, // every exchange left out: only the first log lines written
        TooLarge,    // more debtors than a sheet holds: no report, no snapshot
    } end = End::Completed;
    QString notice; // what the window tells the user, if anything
    QString runStamp;
    QString logPath;
    QString phoneListPath; // empty when the list kind writes none
    QString workbookPath;  // empty when the list kind makes no report
    int debtorCount = 0;
};

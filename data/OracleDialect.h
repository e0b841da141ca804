#pragma once
#include <QString>
#include <QStringList>
#include <vector>

// Rewrites the few Oracle constructs that the PostgreSQL stand-in cannot take
// as written: database link statements, table@link, sysdate, and a subquery in
// FROM without an alias. Everything else, and everything inside literals and
// comments, passes through unchanged.
namespace oracle {

struct LinkTable {
    QString link;  // schema that holds the link's imported tables
    QString table; // remote table name
};

struct Translation {
    QString sql;           // the statement; for a database link, its parts one per line
    QStringList allOrNone; // a database link statement's parts, to run in one transaction
    std::vector<LinkTable> linkTables; // tables read through links, to import on first use
    QString droppedLink;               // set when the statement drops a database link
    QString secret;                    // a password the statement carries; kept out of messages
};

Translation translate(const QString& oracleSql);

// host[:port][/dbname] -> postgres_fdw server options.
QString serverOptions(const QString& alias);

} // namespace oracle

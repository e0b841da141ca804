#pragma once
#include <QString>
#include <QVariant>
#include <utility>
#include <vector>

// Rewrites the few Oracle constructs that the PostgreSQL stand-in cannot take
// as written: database link statements, table@link, sysdate, and a subquery in
// FROM without an alias. Everything else, and everything inside literals and
// comments, passes through unchanged.
namespace oracle {

// What a statement does to a database link.
enum class LinkAction { None, Create, Drop };

struct Translation {
    QString sql;
    // Values the translation binds itself, by marker name: a link statement's
    // name, billing user and password go to the server's link functions as
    // parameters, never as statement text.
    std::vector<std::pair<QString, QVariant>> values;
    LinkAction link = LinkAction::None;
    QString linkName; // the link it creates or drops, in lower case
    QString secret;   // the password a statement carries; kept out of every message
};

Translation translate(const QString& oracleSql);

} // namespace oracle

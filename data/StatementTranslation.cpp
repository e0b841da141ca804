#include "data/StatementTranslation.h"

#include "data/SqlLexer.h"

namespace statements {
namespace {

// The text with every :name marker replaced by the driver's own: $1, $2, ...
// one per name (letter case aside), or ? per marker. The names behind the
// markers are listed in order.
QString withDriverMarkers(const QString& text, bool numbered, QStringList* order) {
    QString out;
    for (const sqllex::Token& t : sqllex::tokenize(text)) {
        if (t.kind != sqllex::Kind::Parameter) {
            out += t.text;
            continue;
        }
        const QString name = t.text.mid(1);
        if (!numbered) {
            *order << name;
            out += u'?';
            continue;
        }
        qsizetype at = std::find_if(order->cbegin(), order->cend(),
                                    [&](const QString& known) {
                                        return known.compare(name, Qt::CaseInsensitive) == 0;
                                    }) -
                       order->cbegin();
        if (at == order->size())
            *order << name;
        out += u'$' + QString::number(at + 1);
    }
    return out;
}

} // namespace

DriverStatement forPostgres(const QString& oracleText) {
    oracle::Translation t = oracle::translate(oracleText);
    DriverStatement statement;
    statement.ownValues = std::move(t.values);
    statement.link = t.link;
    statement.linkName = t.linkName;
    statement.secret = t.secret;
    statement.sql = withDriverMarkers(t.sql, true, &statement.markerOrder);
    return statement;
}

DriverStatement forOracleDriver(const QString& oracleText) {
    DriverStatement statement;
    statement.sql = withDriverMarkers(oracleText, false, &statement.markerOrder);
    return statement;
}

} // namespace statements

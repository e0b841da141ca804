#pragma once
#include "data/OracleDialect.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <utility>
#include <vector>

// A statement made ready for the server: the dialect applied, :name markers
// turned into the server's own ($1, $2, ... one per name on PostgreSQL; ? per
// marker on Oracle's driver).
struct DriverStatement {
    QString sql;
    QStringList markerOrder; // the parameter name behind each marker
    // Values the dialect binds itself (a link statement's name and password).
    std::vector<std::pair<QString, QVariant>> ownValues;
    oracle::LinkAction link = oracle::LinkAction::None; // a link statement: 0 rows affected
    QString linkName;
    QString secret; // kept out of every message; such a statement is never remembered

    // The values in marker order: the statement's own, else what `param` gives.
    template <class Param> QList<QVariant> values(Param&& param) const {
        QList<QVariant> result;
        for (const QString& name : markerOrder) {
            const auto own = std::find_if(ownValues.begin(), ownValues.end(),
                                          [&](const auto& v) { return v.first == name; });
            result << (own != ownValues.end() ? own->second : param(name));
        }
        return result;
    }
};

// Every row of one statement, in memory.
struct Rows {
    QStringList columns;
    std::vector<QVariantList> rows;
};

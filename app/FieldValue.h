#pragma once
#include <QString>
#include <QVariant>
#include <QtGlobal>

// Conversions of a column value read with SqlQuery::value(): a null value
// cannot be converted and raises an error.
QString requireText(const QVariant& value, const QString& column);

// A fixed-point decimal with four fractional digits, as a count of ten-thousandths.
qint64 requireFixed4(const QVariant& value, const QString& column);

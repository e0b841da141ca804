#pragma once
#include <QDateTime>
#include <QString>

// The text with every occurrence of pattern removed, first to last, until none
// is left; an empty pattern leaves the text as it is.
QString RemoveAll(QString text, const QString& pattern);

// The file-name stamp of a run started at the given moment: the general date
// and time form without blanks, colons and points, and without the century
// digits (ddmmyyhhnnss; ddmmyy at midnight to the second).
QString makeRunStamp(const QDateTime& moment);

// Where a run's files lie, under the current directory.
namespace runpaths {
inline const QString Station = QStringLiteral("Tulmin/Station/");
inline const QString LogParam = QStringLiteral("Tulmin/LogParam/");
inline const QString Template = QStringLiteral("Tulmin/DudoVezir/DudoVezir.xls");
} // namespace runpaths

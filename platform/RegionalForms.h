#pragma once
#include <QDate>
#include <QDateTime>
#include <QString>

// The workstation's regional forms. The workstations are Russian and the server
// reads dd.mm.yyyy, so these hold whatever the process locale says.
namespace regional {

inline constexpr const char* ShortDateFormat = "dd.MM.yyyy";
inline constexpr const char* LongTimeFormat = "HH:mm:ss";
inline constexpr QChar DecimalSeparator = u',';

QString shortDate(const QDate& date);
// The short date, a blank and the long time; only the date at midnight to the second.
QString dateTime(const QDateTime& moment);

// An amount as the amount field shows it: at most two decimals, no trailing
// zeros, the regional decimal separator, empty for zero.
QString amount(double value);

} // namespace regional

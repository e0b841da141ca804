#include "platform/RegionalForms.h"

namespace regional {

QString shortDate(const QDate& date) {
    return date.toString(QLatin1String(ShortDateFormat));
}

QString dateTime(const QDateTime& moment) {
    const QTime t = moment.time();
    if (t.hour() == 0 && t.minute() == 0 && t.second() == 0)
        return shortDate(moment.date());
    return shortDate(moment.date()) + u' ' + t.toString(QLatin1String(LongTimeFormat));
}

} // namespace regional

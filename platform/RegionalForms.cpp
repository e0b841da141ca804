#include "platform/RegionalForms.h"

#include <cmath>

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

QString amount(double value) {
    const double rounded = std::round(value * 100.0) / 100.0;
    if (rounded == 0.0)
        return {};
    QString text = QString::number(rounded, 'f', 2);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    return text.replace(u'.', DecimalSeparator);
}

} // namespace regional

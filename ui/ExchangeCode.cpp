#include "ui/ExchangeCode.h"

namespace exchange {

Family familyOf(const QString& atskod) {
    return atskod.left(4) == QLatin1String("4217") ? Family::Code4217 : Family::Other;
}

QString prefix(const QString& atskod, Family family) {
    return atskod.left(family == Family::Code4217 ? 4 : 5);
}

QString tail(const QString& atskod, Family family) {
    return atskod.mid(family == Family::Code4217 ? 4 : 5, 2);
}

} // namespace exchange

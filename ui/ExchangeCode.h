#pragma once
#include <QString>

// Exchange codes come in two families: codes beginning "4217" split after the
// fourth character, all others after the fifth. The tail is at most two
// characters; prefix + tail of a six-character code is the whole code.
namespace exchange {

enum class Family { Code4217, Other };

Family familyOf(const QString& atskod);
QString prefix(const QString& atskod, Family family);
QString tail(const QString& atskod, Family family);

} // namespace exchange

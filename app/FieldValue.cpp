#include "app/FieldValue.h"

#include "data/DbError.h"

#include <QRegularExpression>

namespace {
[[noreturn]] void nullValue(const QString& column) {
    throw DbError(QStringLiteral("Поле %1 пусто, а значение в нём обязательно").arg(column));
}
} // namespace

QString requireText(const QVariant& value, const QString& column) {
    if (value.isNull())
        nullValue(column);
    return value.toString();
}

qint64 requireFixed4(const QVariant& value, const QString& column) {
    if (value.isNull())
        nullValue(column);
    static const QRegularExpression decimal(QStringLiteral("^\\s*(-?)(\\d+)(?:\\.(\\d*))?\\s*$"));
    const QString text = value.toString();
    const auto m = decimal.match(text);
    if (!m.hasMatch() || m.captured(2).size() > 14)
        throw DbError(QStringLiteral("Значение «%1» не является десятичным числом").arg(text));
    QString fraction = m.captured(3).left(4);
    fraction = fraction.leftJustified(4, u'0');
    const qint64 whole = m.captured(2).toLongLong();
    const qint64 result = whole * 10000 + fraction.toLongLong();
    return m.captured(1).isEmpty() ? result : -result;
}

#include "ui/AmountEdit.h"

#include "platform/RegionalForms.h"

#include <QRegularExpressionValidator>
#include <cmath>

QString amountText(double amount) {
    const double rounded = std::round(amount * 100.0) / 100.0;
    if (rounded == 0.0)
        return {};
    QString text = QString::number(rounded, 'f', 2);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    return text.replace(u'.', regional::DecimalSeparator);
}

AmountEdit::AmountEdit(QWidget* parent) : QLineEdit(parent) {
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("-?\\d{0,12}([.,]\\d{0,2})?")), this));
}

double AmountEdit::amount() const {
    QString t = text();
    t.replace(u',', u'.');
    bool ok = false;
    const double v = t.toDouble(&ok);
    return ok ? v : 0.0;
}

void AmountEdit::normalize() {
    setText(amountText(amount()));
}

QString AmountEdit::amountForSql() const {
    QString t = amountText(amount());
    return t.isEmpty() ? QStringLiteral("0") : t.replace(regional::DecimalSeparator, u'.');
}

void AmountEdit::focusOutEvent(QFocusEvent* event) {
    normalize();
    QLineEdit::focusOutEvent(event);
}

#include "ui/AmountEdit.h"

#include "platform/RegionalForms.h"

#include <QRegularExpressionValidator>

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
    setText(regional::amount(amount()));
}

void AmountEdit::focusOutEvent(QFocusEvent* event) {
    normalize();
    QLineEdit::focusOutEvent(event);
}

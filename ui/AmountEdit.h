#pragma once
#include <QLineEdit>

// The amount field: a decimal amount with at most two places, right-aligned,
// empty while the amount is zero. It rewrites its text when it loses the focus.
class AmountEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit AmountEdit(QWidget* parent);
    void normalize(); // the rewrite of the focus loss
    double amount() const;
    // The amount with a point as decimal separator, "0" when empty.
    QString amountForSql() const;

protected:
    void focusOutEvent(QFocusEvent* event) override;
};

// The text the field shows for an amount: at most two decimals, no trailing
// zeros, regional decimal separator, empty for zero.
QString amountText(double amount);

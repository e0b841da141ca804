#pragma once
#include <QLineEdit>

// The amount field: a decimal amount with at most two places, right-aligned,
// empty while the amount is zero. It rewrites its text when it loses the focus.
class AmountEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit AmountEdit(QWidget* parent);
    void normalize();      // the rewrite of the focus loss
    double amount() const; // the amount the field holds; 0 when it is empty

protected:
    void focusOutEvent(QFocusEvent* event) override;
};

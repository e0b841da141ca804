#pragma once
#include <QProxyStyle>

// The style of the main window's date pickers: the application's style with a
// narrower drop-down button, so that a whole dd.mm.yyyy date shows in the
// pickers' fixed width.
class DatePickerStyle : public QProxyStyle {
public:
    static DatePickerStyle* instance(); // one for the application, deleted with it

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                         SubControl subControl, const QWidget* widget) const override;

private:
    DatePickerStyle() = default;
};

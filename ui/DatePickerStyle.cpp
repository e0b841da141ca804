#include "ui/DatePickerStyle.h"

#include <QApplication>
#include <QPointer>
#include <QStyleOptionComplex>

namespace {
constexpr int ButtonWidth = 14;
constexpr int FrameWidth = 2;
} // namespace

DatePickerStyle* DatePickerStyle::instance() {
    static QPointer<DatePickerStyle> style;
    if (!style) {
        style = new DatePickerStyle;
        style->setParent(qApp);
    }
    return style;
}

QRect DatePickerStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                      SubControl subControl, const QWidget* widget) const {
    if (control != CC_ComboBox)
        return QProxyStyle::subControlRect(control, option, subControl, widget);
    const QRect r = option->rect;
    switch (subControl) {
    case SC_ComboBoxArrow:
        return visualRect(option->direction, r,
                          QRect(r.right() - ButtonWidth + 1, r.top(), ButtonWidth, r.height()));
    case SC_ComboBoxEditField:
        return visualRect(option->direction, r,
                          QRect(r.left() + FrameWidth, r.top() + FrameWidth,
                                r.width() - ButtonWidth - 2 * FrameWidth + 1,
                                r.height() - 2 * FrameWidth));
    default:
        return QProxyStyle::subControlRect(control, option, subControl, widget);
    }
}

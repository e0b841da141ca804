#include "ui/MessageBoxes.h"

#include <QMessageBox>
#include <QPushButton>

namespace msgbox {
namespace {

int showBox(QMessageBox::Icon icon, const QString& text, bool withCancel) {
    QMessageBox box(icon, Caption, text, QMessageBox::NoButton);
    box.setObjectName(QStringLiteral("TulminaMessageBox"));
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    QPushButton* cancel = nullptr;
    if (withCancel)
        cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(cancel ? static_cast<QAbstractButton*>(cancel) : ok);
    box.exec();
    return box.clickedButton() == ok ? QMessageBox::Ok : QMessageBox::Cancel;
}

} // namespace

bool askOkCancel(const QString& text) {
    return showBox(QMessageBox::NoIcon, text, true) == QMessageBox::Ok;
}

void inform(const QString& text) {
    showBox(QMessageBox::NoIcon, text, false);
}

void reportError(const QString& text) {
    showBox(QMessageBox::Critical, errorReportText(text), false);
}

QString errorReportText(const QString& text) {
    if (!text.isEmpty() && text.back() > u'.')
        return text + u'.';
    return text;
}

} // namespace msgbox

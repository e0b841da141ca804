#include "ui/MessageBoxes.h"

#include "platform/Failure.h"

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

void reportError(const std::exception& error) {
    showBox(QMessageBox::Critical, errorReportText(error), false);
}

QString errorReportText(const std::exception& error) {
    const auto* failure = dynamic_cast<const Failure*>(&error);
    QString headline;
    switch (failure ? failure->part() : Failure::Part::Program) {
    case Failure::Part::Database:
        headline = QStringLiteral("Ошибка базы данных. Повторите действие; если ошибка "
                                  "не уйдёт, сообщите администратору базы данных.");
        break;
    case Failure::Part::Office:
        headline = QStringLiteral("Ошибка LibreOffice. Закройте лишние окна LibreOffice "
                                  "и повторите действие.");
        break;
    case Failure::Part::File:
        headline = QStringLiteral("Ошибка файла. Проверьте папки Tulmin в рабочей папке "
                                  "и место на диске, затем повторите действие.");
        break;
    case Failure::Part::Program:
        headline = QStringLiteral("Ошибка в самой программе. Сообщите о ней разработчикам; "
                                  "работу можно продолжить.");
        break;
    }
    return headline + u'\n' + errorReportText(QString::fromUtf8(error.what()));
}

QString errorReportText(const QString& text) {
    if (!text.isEmpty() && text.back() > u'.')
        return text + u'.';
    return text;
}

} // namespace msgbox

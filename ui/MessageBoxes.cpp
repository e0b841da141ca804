#include "ui/MessageBoxes.h"

#include "platform/EventWait.h"
#include "platform/Failure.h"

#include <QMessageBox>
#include <QPushButton>

namespace msgbox {
namespace {

enum class Escape { First, Second };

// True when the first button (the default) was pressed. Escape answers as the
// second button, if there is one, unless told otherwise.
bool showBox(QMessageBox::Icon icon, const QString& text, const QString& first,
             const QString& second = {}, Escape escape = Escape::Second) {
    // A box shown in the middle of a wait takes the user's input all the same.
    const EventWait::InputFreed freed;
    QMessageBox box(icon, Caption, text, QMessageBox::NoButton);
    box.setObjectName(QStringLiteral("TulminaMessageBox"));
    QPushButton* ok = box.addButton(first, QMessageBox::AcceptRole);
    QPushButton* cancel = nullptr;
    if (!second.isEmpty())
        cancel = box.addButton(second, QMessageBox::RejectRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(cancel && escape == Escape::Second ? static_cast<QAbstractButton*>(cancel)
                                                           : ok);
    box.exec();
    return box.clickedButton() == ok;
}

const QString Ok = QStringLiteral("OK");

} // namespace

bool askOkCancel(const QString& text) {
    return showBox(QMessageBox::NoIcon, text, Ok, QStringLiteral("Cancel"));
}

void inform(const QString& text) {
    showBox(QMessageBox::NoIcon, text, Ok);
}

// Escape keeps waiting, as the default does: stopping is asked for by name.
bool askKeepWaiting(Awaited awaited, int secondsWaited) {
    const QString text =
        awaited == Awaited::Office
            ? QStringLiteral("LibreOffice не отвечает %1 с: он может быть занят другим "
                             "документом или завис. Ждать дальше или прервать?")
            : QStringLiteral("Сервер базы данных не отвечает %1 с: данные могут быть заняты "
                             "другим сеансом, сервер перегружен или недоступен. Ждать "
                             "дальше или прервать?");
    return showBox(QMessageBox::NoIcon, text.arg(secondsWaited), QStringLiteral("Ждать"),
                   QStringLiteral("Прервать"), Escape::First);
}

void reportError(const std::exception& error) {
    showBox(QMessageBox::Critical, errorReportText(error), Ok);
}

QString errorReportText(const std::exception& error) {
    const auto* failure = dynamic_cast<const Failure*>(&error);
    QString headline;
    switch (failure ? failure->component() : Failure::Component::Program) {
    case Failure::Component::Database:
        headline = QStringLiteral("Ошибка базы данных. Повторите действие; если ошибка "
                                  "не уйдёт, сообщите администратору базы данных.");
        break;
    case Failure::Component::Office:
        headline = QStringLiteral("Ошибка LibreOffice. Закройте лишние окна LibreOffice "
                                  "и повторите действие.");
        break;
    case Failure::Component::File:
        headline = QStringLiteral("Ошибка файла. Проверьте папки Tulmin в рабочей папке "
                                  "и место на диске, затем повторите действие.");
        break;
    case Failure::Component::Program:
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

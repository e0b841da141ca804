#pragma once
#include "platform/Failure.h"

#include <QString>
#include <stdexcept>

// The program's own modal message boxes: captioned "Тулмина", centred on the screen.
namespace msgbox {

inline const QString Caption = QStringLiteral("Тулмина");

// A question without an icon; true when the answer is "OK" (the default button).
// Escape and closing the box answer "Cancel".
bool askOkCancel(const QString& text);

// A notice without an icon, with one "OK".
void inform(const QString& text);

// The database server or the office has not answered for so many seconds:
// "Ждать" (the default, also Escape) keeps waiting and answers true,
// "Прервать" stops.
bool askKeepWaiting(Awaited awaited, int secondsWaited);

// The default error report: error icon, one "OK", and the error's text under a
// first line of the program's own that says which part failed (the database,
// the office, a file, the program itself) and what the user can do.
void reportError(const std::exception& error);

// The text of the default error report for an error.
QString errorReportText(const std::exception& error);

// The error's own text as the report shows it: a full stop is appended when
// the last character's code is higher than the full stop's.
QString errorReportText(const QString& text);

// Runs a handler of the user interface. An error that escapes it is shown by
// the default error report and the action is abandoned; a wait the user
// stopped is told in a notice of its own: Qt's event and signal code never
// sees an exception. True when the handler ran to its end.
template <class F> bool reportErrors(F&& handler) noexcept {
    try {
        handler();
        return true;
    } catch (const Stopped& stopped) {
        inform(stopped.message());
    } catch (const std::exception& e) {
        reportError(e);
    } catch (...) {
        reportError(std::runtime_error("неизвестная ошибка"));
    }
    return false;
}

} // namespace msgbox

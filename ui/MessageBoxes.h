#pragma once
#include <QString>
#include <exception>

// The program's own modal message boxes: captioned "Тулмина", centred on the screen.
namespace msgbox {

inline const QString Caption = QStringLiteral("Тулмина");

// A question without an icon; true when the answer is "OK" (the default button).
// Escape and closing the box answer "Cancel".
bool askOkCancel(const QString& text);

// A notice without an icon, with one "OK".
void inform(const QString& text);

// The default error report: error icon, the error's text, one "OK".
void reportError(const QString& text);

// The error text as the report shows it: a full stop is appended when the last
// character's code is higher than the full stop's.
QString errorReportText(const QString& text);

// Runs a handler of the user interface. An error that escapes it is shown by
// the default error report and the action is abandoned: Qt's event and signal
// code never sees an exception. True when the handler ran to its end.
template <class F> bool reportErrors(F&& handler) noexcept {
    try {
        handler();
        return true;
    } catch (const std::exception& e) {
        reportError(QString::fromUtf8(e.what()));
    } catch (...) {
        reportError(QStringLiteral("Unknown error"));
    }
    return false;
}

} // namespace msgbox

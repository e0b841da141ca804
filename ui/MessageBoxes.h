#pragma once
#include <QString>

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

} // namespace msgbox

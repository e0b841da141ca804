#pragma once
#include <QString>

class TPasswordDlg;
class TdmCommon;

// State of the sign-in loop, process-wide.
struct SignInState {
    int SignInAttempts = 0;
    bool SignInPending = true;
};
SignInState& signInState();

// Shows the dialog until a sign-in succeeds, the user cancels, or three
// failures are counted. On success the session values are set and the user's
// database link stays until the main window closes.
void runSignInLoop(TPasswordDlg& dialog, TdmCommon& dm);

// A billing user name that can name a database link: a Latin letter, then
// letters, digits, _, $ or #; 30 characters at most.
bool isPlainIdentifier(const QString& name);

// Text without leading and trailing characters of codes 0 to 32.
QString trimControl(const QString& text);

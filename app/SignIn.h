#pragma once
#include <QString>

class TPasswordDlg;
class TdmCommon;

// State of the sign-in loop, process-wide.
struct SignInState {
    int SignInAttempts = 0;
    bool SignInPending = true;
    QString lastFailure; // why the last counted attempt failed, in the user's words
};
SignInState& signInState();

// Shows the dialog until a sign-in succeeds, the user cancels, or three
// failures are counted; the third is told in a message box before the program
// ends. On success the session values are set and the user's database link
// stays until the main window closes. Only failures of the server or of the
// input are counted: a fault of the program itself (a missing database driver)
// passes on.
void runSignInLoop(TPasswordDlg& dialog, TdmCommon& dm);

// A billing user name that can name a database link: a Latin letter, then
// letters, digits, _, $ or #; 30 characters at most.
bool isPlainIdentifier(const QString& name);

// What the message line says when the reporting database cannot be reached,
// cannot prove its identity, or refuses the program.
QString connectionProblemLine(const class ConnectionFailure& failure);

// Text without leading and trailing characters of codes 0 to 32.
QString trimControl(const QString& text);

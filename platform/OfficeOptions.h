#pragma once
#include <QString>

namespace office {

// Where the program finds its office: the pipe it listens on, and how to start
// one when none listens.
struct Options {
    QString pipeName = QStringLiteral("tulmina_office");
    QString profileDir;    // the office's user profile; empty: the program's own
    bool headless = false; // also when there is no display
    QString program;       // the office to start; empty: the installed soffice
    int startTimeoutMs = 20000;
    // How long a call may go without an answer before the user is asked
    // whether to keep waiting; none by default.
    int answerLimitMs = -1;
};

} // namespace office

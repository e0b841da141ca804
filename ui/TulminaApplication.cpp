#include "ui/TulminaApplication.h"

#include "ui/MessageBoxes.h"

#include <exception>

TulminaApplication::TulminaApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(msgbox::Caption);
    setApplicationDisplayName(msgbox::Caption);
    // The main window ends the program when it closes, not the last window:
    // a message box may be the only window shown.
    setQuitOnLastWindowClosed(false);
}

bool TulminaApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        msgbox::reportError(QString::fromUtf8(e.what()));
    } catch (...) {
        msgbox::reportError(QStringLiteral("Unknown error"));
    }
    return false;
}

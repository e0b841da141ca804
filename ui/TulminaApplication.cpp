#include "ui/TulminaApplication.h"

#include "ui/MessageBoxes.h"

#include <csignal>
#include <exception>

TulminaApplication::TulminaApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // No display name: on X11 the toolkit would append it to every window's
    // title ("Авторизация — Тулмина"). Each window names itself.
    setApplicationName(msgbox::Caption);
    // The main window ends the program when it closes, not the last window:
    // a message box may be the only window shown.
    setQuitOnLastWindowClosed(false);
    // An office that dies leaves its bridge writing into a closed pipe: that
    // must become an error of the office call, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
}

bool TulminaApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const Stopped& stopped) {
        msgbox::inform(stopped.message());
    } catch (const std::exception& e) {
        msgbox::reportError(e);
    } catch (...) {
        msgbox::reportError(std::runtime_error("неизвестная ошибка"));
    }
    return false;
}

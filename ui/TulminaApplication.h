#pragma once
#include <QApplication>

// The application object. Its event dispatch is the one place where an error
// that escapes an event handler is caught: the default error report shows it,
// the failed action is abandoned and the program goes on.
class TulminaApplication : public QApplication {
public:
    TulminaApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// The program's own entry path, up to the sign-in dialog becoming visible:
// prints "shown" then and ends. Timed from outside by the benchmark.
#include "app/Entry.h"
#include "app/fmPassword.h"
#include "ui/TulminaApplication.h"

#include <QEvent>
#include <QWindow>
#include <cstdio>
#include <cstdlib>

namespace {
class ShowProbe : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose && qobject_cast<QWindow*>(watched)) {
            std::puts("shown");
            std::fflush(stdout);
            std::_Exit(0);
        }
        return false;
    }
};
} // namespace

int main(int argc, char** argv) {
    TulminaApplication app(argc, argv);
    ShowProbe probe;
    app.installEventFilter(&probe);
    runSignedInProgram(app);
    return 0;
}

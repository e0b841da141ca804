#include "platform/EventWait.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <optional>
#include <poll.h>

namespace {

bool onEventLoopThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// Holds back the user's input while any wait of the event loop's thread is
// under way and no question asked during it has freed the input. Waits on
// other threads have no input to hold.
class InputHold : public QObject {
public:
    static InputHold& instance() {
        static InputHold hold;
        return hold;
    }
    void change(int& counter, int by) {
        if (!onEventLoopThread())
            return;
        counter += by;
        const bool hold = waits_ > 0 && freed_ == 0;
        if (hold == installed_)
            return;
        installed_ = hold;
        if (hold)
            QCoreApplication::instance()->installEventFilter(this);
        else
            QCoreApplication::instance()->removeEventFilter(this);
    }
    int waits_ = 0;
    int freed_ = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::InputMethod:
            return true;
        default:
            return false;
        }
    }

private:
    bool installed_ = false;
};

// The thread blocks: nothing else can be done on it meanwhile.
EventWait::End blockOn(int socket, bool write, int timeoutMs) {
    pollfd fd{socket, short(write ? POLLOUT : POLLIN), 0};
    if (socket >= 0 && ::poll(&fd, 1, timeoutMs) > 0)
        return EventWait::End::Readable;
    if (socket < 0 && timeoutMs > 0)
        QThread::msleep(ulong(timeoutMs));
    return EventWait::End::TimedOut;
}

} // namespace

EventWait::EventWait() {
    InputHold& hold = InputHold::instance();
    hold.change(hold.waits_, +1);
}

EventWait::~EventWait() {
    InputHold& hold = InputHold::instance();
    hold.change(hold.waits_, -1);
}

EventWait::InputFreed::InputFreed() {
    InputHold& hold = InputHold::instance();
    hold.change(hold.freed_, +1);
}

EventWait::InputFreed::~InputFreed() {
    InputHold& hold = InputHold::instance();
    hold.change(hold.freed_, -1);
}

EventWait::End EventWait::untilReadable(int socket, int timeoutMs) {
    return run(socket, false, timeoutMs);
}

EventWait::End EventWait::untilWritable(int socket, int timeoutMs) {
    return run(socket, true, timeoutMs);
}

EventWait::End EventWait::untilWoken(int timeoutMs) {
    return run(-1, false, timeoutMs);
}

void EventWait::wake() {
    woken_ = true;
    if (loop_)
        loop_->quit();
}

EventWait::End EventWait::run(int socket, bool write, int timeoutMs) {
    if (std::exchange(woken_, false))
        return End::Woken;
    if (!onEventLoopThread())
        return blockOn(socket, write, timeoutMs);
    QEventLoop loop;
    End end = End::Woken;
    std::optional<QSocketNotifier> ready;
    if (socket >= 0) {
        ready.emplace(qintptr(socket), write ? QSocketNotifier::Write : QSocketNotifier::Read);
        QObject::connect(&*ready, &QSocketNotifier::activated, &loop, [&] {
            end = End::Readable;
            loop.quit();
        });
    }
    QTimer limit;
    if (timeoutMs >= 0) {
        limit.setSingleShot(true);
        limit.setTimerType(Qt::PreciseTimer); // a coarse timer may end a wait early
        QObject::connect(&limit, &QTimer::timeout, &loop, [&] {
            end = End::TimedOut;
            loop.quit();
        });
        limit.start(timeoutMs);
    }
    QEventLoop* outer = std::exchange(loop_, &loop);
    loop.exec();
    loop_ = outer;
    if (std::exchange(woken_, false))
        return End::Woken;
    return end;
}

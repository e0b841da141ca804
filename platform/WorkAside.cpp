#include "platform/WorkAside.h"

#include "platform/EventWait.h"
#include "platform/LongWait.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace {

// The one thread the work goes to. It lives as long as the process: the
// office's bridge knows a calling thread by its identity, and one that stays
// the same spares the office a thread of its own for every call.
class AsideThread {
public:
    static AsideThread& instance() {
        static AsideThread* thread = new AsideThread; // never ended: it may be in a call at exit
        return *thread;
    }

    bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

    // Hands the work to the thread; the caller waits for its end.
    void post(std::function<void()> work) {
        {
            const std::lock_guard lock(mutex_);
            work_ = std::move(work);
        }
        ready_.notify_one();
    }

private:
    AsideThread() : thread_([this] { serve(); }) { thread_.detach(); }

    void serve() {
        for (;;) {
            std::function<void()> work;
            {
                std::unique_lock lock(mutex_);
                ready_.wait(lock, [this] { return bool(work_); });
                work = std::exchange(work_, nullptr);
            }
            work();
        }
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::function<void()> work_;
    std::thread thread_;
};

} // namespace

void runAside(const std::function<void()>& work, const GiveUp& giveUp) {
    const QCoreApplication* app = QCoreApplication::instance();
    AsideThread& aside = AsideThread::instance();
    if (aside.isCurrent() || !app || QThread::currentThread() != app->thread()) {
        work();
        return;
    }
    EventWait wait;
    QObject receiver; // the end of the work reaches this thread through it
    bool finished = false;
    LongWait* patient = nullptr;
    std::exception_ptr error;
    aside.post([&] {
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        QMetaObject::invokeMethod(
            &receiver,
            [&] {
                finished = true;
                if (patient)
                    patient->wake();
                wait.wake();
            },
            Qt::QueuedConnection);
    });
    bool stopped = false;
    {
        LongWait patience(Awaited::Office, giveUp.limitMs);
        patient = &patience;
        while (!finished && patience.untilWoken()) {
        }
        patient = nullptr;
        stopped = !finished;
    }
    if (stopped && giveUp.end)
        giveUp.end();
    while (!finished) // the work ends with the process it waited for
        wait.untilWoken(-1);
    if (stopped)
        throw Stopped(QStringLiteral("Ожидание LibreOffice прервано, LibreOffice закрыт"),
                      Awaited::Office);
    if (error)
        std::rethrow_exception(error);
}

#pragma once
#include "platform/EventWait.h"
#include "platform/Failure.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <functional>

// A wait for another process (the database server, the office) that the user
// may give up on. The window goes on painting and takes close requests
// meanwhile (EventWait). When the other side has been silent for the limit,
// the user is asked whether to keep waiting (the window registers the
// question); a close request during the wait asks the same at once. The
// answer "stop" ends the wait. A wait that is never stopped (a commit, which
// is short: its outcome would be in doubt) asks nothing.
class LongWait {
public:
    // The question: true to keep waiting, given what is awaited and the
    // seconds waited so far. Without one (no window), the wait goes on.
    using Question = std::function<bool(Awaited awaited, int secondsWaited)>;
    static void setQuestion(Question question);
    // Asks the question now (once at a time: a second asker is told to wait).
    static bool keepWaiting(Awaited awaited, int secondsWaited);

    enum class Early { Stoppable, NotStoppable };
    LongWait(Awaited awaited, int limitMs, Early early = Early::Stoppable);
    ~LongWait();
    LongWait(const LongWait&) = delete;
    LongWait& operator=(const LongWait&) = delete;

    // Until the socket is ready to read; past the limit, the user is asked,
    // unless the wait is never stopped. False when the user chose to stop.
    bool untilReadable(int socket);
    // Until wake() is called (work on another thread has ended); past the
    // limit, the user is asked. False when the user chose to stop.
    bool untilWoken();
    void wake() { events_.wake(); }
    // Up to a time, with no question: after a stop, for the other side's word
    // on it. False when the time is up.
    bool untilReadable(int socket, const QDeadlineTimer& deadline);

    // The wait under way, if any, and its stop by a close request.
    static LongWait* underWay();
    Awaited awaited() const { return awaited_; }
    bool stoppableEarly() const { return early_ == Early::Stoppable; }
    int secondsWaited() const { return int(since_.elapsed() / 1000); }
    void stop();

private:
    bool until(int socket);

    EventWait events_;
    Awaited awaited_;
    int limitMs_;
    Early early_;
    QDeadlineTimer silence_;
    QElapsedTimer since_;
    bool stopAsked_ = false;
    LongWait* outer_;
};

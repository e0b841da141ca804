#pragma once
#include <QtGlobal>

class QEventLoop;

// Waiting on another process (the database server, the office) without
// blocking the window: the event loop goes on, so the window paints and takes
// close requests, while the user's other input (mouse, keys) is held back
// until the wait is over. Without an application object, or off its thread,
// the wait blocks the thread instead.
class EventWait {
public:
    EventWait();
    ~EventWait();
    EventWait(const EventWait&) = delete;
    EventWait& operator=(const EventWait&) = delete;

    enum class End { Readable, Woken, TimedOut };
    // Until the socket has something to read, wake() is called, or the time
    // is up; a negative time has no limit.
    End untilReadable(int socket, int timeoutMs);
    // The same until the socket takes more to write (Readable then means ready).
    End untilWritable(int socket, int timeoutMs);
    // Until wake() is called or the time is up.
    End untilWoken(int timeoutMs);
    // Ends the wait under way, or the next one; on the waiting thread (work
    // done on another thread posts its end there).
    void wake();

    // Lets the user's input through while it lives: for a question asked in
    // the middle of a wait, in a modal box of its own.
    class InputFreed {
    public:
        InputFreed();
        ~InputFreed();
        InputFreed(const InputFreed&) = delete;
        InputFreed& operator=(const InputFreed&) = delete;
    };

private:
    End run(int socket, bool write, int timeoutMs);

    QEventLoop* loop_ = nullptr;
    bool woken_ = false;
};

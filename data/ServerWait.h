#pragma once
#include "platform/EventWait.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <functional>

// A wait for the database server's answer to one statement. The window goes
// on painting and takes close requests meanwhile (EventWait). When the server
// has been silent for the limit, the user is asked whether to keep waiting
// (the window registers the question); a close request during the wait asks
// the same. The answer "stop" ends the wait.
class ServerWait {
public:
    // The question: true to keep waiting, given the seconds waited so far.
    // Without one (no window), the wait goes on.
    using Question = std::function<bool(int secondsWaited)>;
    static void setQuestion(Question question);
    // Asks the question now (once at a time: a second asker is told to wait).
    static bool keepWaiting(int secondsWaited);

    explicit ServerWait(int limitMs);
    ~ServerWait();
    ServerWait(const ServerWait&) = delete;
    ServerWait& operator=(const ServerWait&) = delete;

    // Until the socket has something to read; past the limit, the user is
    // asked. False when the user chose to stop.
    bool untilReadable(int socket);
    // Up to a time, with no question: after a stop, for the server's word on it.
    bool untilReadable(int socket, const QDeadlineTimer& deadline);

    // The wait under way, if any, and its stop by a close request.
    static ServerWait* underWay();
    int secondsWaited() const { return int(since_.elapsed() / 1000); }
    void stop();

private:
    EventWait events_;
    int limitMs_;
    QDeadlineTimer silence_;
    QElapsedTimer since_;
    bool stopAsked_ = false;
    ServerWait* outer_;
};

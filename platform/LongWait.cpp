#include "platform/LongWait.h"

#include <utility>

namespace {
LongWait::Question question;
LongWait* current = nullptr;
bool asking = false;
} // namespace

void LongWait::setQuestion(Question q) {
    question = std::move(q);
}

bool LongWait::keepWaiting(Awaited awaited, int secondsWaited) {
    if (!question || asking)
        return true;
    asking = true;
    const EventWait::InputFreed freed;
    const bool keep = question(awaited, secondsWaited);
    asking = false;
    return keep;
}

LongWait::LongWait(Awaited awaited, int limitMs, Early early)
    : awaited_(awaited), limitMs_(limitMs), early_(early), silence_(limitMs),
      outer_(std::exchange(current, this)) {
    since_.start();
}

LongWait::~LongWait() {
    current = outer_;
}

LongWait* LongWait::underWay() {
    return current;
}

void LongWait::stop() {
    stopAsked_ = true;
    events_.wake();
}

bool LongWait::untilReadable(int socket) {
    return until(socket);
}

bool LongWait::untilWoken() {
    return until(-1);
}

bool LongWait::until(int socket) {
    if (stopAsked_)
        return false;
    const int remaining = int(silence_.remainingTime());
    const EventWait::End end =
        socket < 0 ? events_.untilWoken(remaining) : events_.untilReadable(socket, remaining);
    if (end != EventWait::End::TimedOut)
        return !stopAsked_;
    if (stoppableEarly() && !keepWaiting(awaited_, secondsWaited()))
        return false;
    silence_.setRemainingTime(limitMs_);
    return !stopAsked_;
}

bool LongWait::untilReadable(int socket, const QDeadlineTimer& deadline) {
    return events_.untilReadable(socket, int(deadline.remainingTime())) == EventWait::End::Readable;
}

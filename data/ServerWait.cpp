#include "data/ServerWait.h"

#include <utility>

namespace {
ServerWait::Question question;
ServerWait* current = nullptr;
bool asking = false;
} // namespace

void ServerWait::setQuestion(Question q) {
    question = std::move(q);
}

bool ServerWait::keepWaiting(int secondsWaited) {
    if (!question || asking)
        return true;
    asking = true;
    const EventWait::InputFreed freed;
    const bool keep = question(secondsWaited);
    asking = false;
    return keep;
}

ServerWait::ServerWait(int limitMs)
    : limitMs_(limitMs), silence_(limitMs), outer_(std::exchange(current, this)) {
    since_.start();
}

ServerWait::~ServerWait() {
    current = outer_;
}

ServerWait* ServerWait::underWay() {
    return current;
}

void ServerWait::stop() {
    stopAsked_ = true;
    events_.wake();
}

bool ServerWait::untilReadable(int socket) {
    if (stopAsked_)
        return false;
    if (events_.untilReadable(socket, int(silence_.remainingTime())) != EventWait::End::TimedOut)
        return !stopAsked_;
    if (!keepWaiting(secondsWaited()))
        return false;
    silence_.setRemainingTime(limitMs_);
    return !stopAsked_;
}

bool ServerWait::untilReadable(int socket, const QDeadlineTimer& deadline) {
    return events_.untilReadable(socket, int(deadline.remainingTime())) == EventWait::End::Readable;
}
